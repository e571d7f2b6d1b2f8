// Apartments: entering, leaving, and what happens when one closes.
#include "platform/Apartment.h"

#include "platform/ThreadState.h"

#include <atomic>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::atomic<std::size_t> apartmentsAlive{0};

}  // namespace

struct Apartment::Impl {
    mutable std::mutex mutex;
    bool isAlive = true;
    std::map<std::size_t, std::function<void()>> closeHandlers;
    std::size_t nextKey = 1;
};

// The thread's apartment and how deeply it was entered; a thread that ends inside
// its apartment leaves it through the holder's destructor.
class ApartmentState {
public:
    struct Holder {
        std::shared_ptr<Apartment> apartment;
        int depth = 0;
        ~Holder() { leave(*this); }
    };
    static Holder& holder() {
        thread_local Holder h;
        return h;
    }
    static std::shared_ptr<Apartment> make() {
        return std::shared_ptr<Apartment>(new Apartment(MessageQueue::currentShared(), std::this_thread::get_id()));
    }
    static void leave(Holder& h) {
        h.depth = 0;
        if (auto apartment = std::move(h.apartment)) {
            apartment->close();
            --apartmentsAlive;
        }
    }
};

Apartment::Apartment(std::shared_ptr<MessageQueue> queue, std::thread::id thread)
    : impl_(std::make_unique<Impl>()), queue_(std::move(queue)), thread_(thread) {}

Apartment::~Apartment() = default;

bool Apartment::isCurrentThread() const noexcept { return std::this_thread::get_id() == thread_; }

bool Apartment::isAlive() const noexcept {
    std::lock_guard lock(impl_->mutex);
    return impl_->isAlive;
}

std::size_t Apartment::onClose(std::function<void()> fn) {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isAlive) {
            std::size_t key = impl_->nextKey++;
            impl_->closeHandlers.emplace(key, std::move(fn));
            return key;
        }
    }
    fn();
    return 0;
}

void Apartment::removeCloseHandler(std::size_t key) {
    std::function<void()> removed;  // destroyed outside the lock
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->closeHandlers.find(key);
    if (it == impl_->closeHandlers.end()) return;
    removed = std::move(it->second);
    impl_->closeHandlers.erase(it);
}

void Apartment::close() {
    std::map<std::size_t, std::function<void()>> handlers;
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->isAlive) return;
        impl_->isAlive = false;
        handlers.swap(impl_->closeHandlers);
    }
    // In the order they were registered; one that throws must not keep the others
    // from releasing what they hold.
    for (auto& [key, fn] : handlers) {
        try {
            fn();
        } catch (...) {
        }
    }
}

Apartment* currentApartment() { return ApartmentState::holder().apartment.get(); }
std::shared_ptr<Apartment> currentApartmentShared() { return ApartmentState::holder().apartment; }
std::size_t liveApartments() noexcept { return apartmentsAlive.load(); }

namespace detail {
void leaveApartment() noexcept { ApartmentState::leave(ApartmentState::holder()); }
}  // namespace detail

}  // namespace platform

HRESULT CoInitializeEx(void*, DWORD) {
    auto& h = platform::ApartmentState::holder();
    if (h.depth++ > 0) return S_FALSE;
    h.apartment = platform::ApartmentState::make();
    ++platform::apartmentsAlive;
    return S_OK;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    auto& h = platform::ApartmentState::holder();
    if (h.depth == 0) return;
    if (--h.depth == 0) platform::ApartmentState::leave(h);
}
