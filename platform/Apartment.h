// Single-threaded apartments: a thread that enters one owns a message queue through
// which calls on its objects, marshalled to other threads, are delivered.
#pragma once

#include "platform/MessageQueue.h"
#include "platform/Unknown.h"

#include <cstddef>
#include <functional>
#include <memory>

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Enters the calling thread's apartment: S_OK the first time, S_FALSE for each
// nested call (each must be balanced by CoUninitialize). Only single-threaded
// apartments exist here: COINIT_MULTITHREADED gives the thread its own apartment
// too (documented simplification; nothing here needs free-threaded objects).
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
HRESULT CoInitialize(void* reserved);
// Leaves it; the last balancing call closes the apartment: marshalled calls waiting
// for it fail with RPC_E_DISCONNECTED and the objects it lent out are released (on
// this thread). A thread that ends inside an apartment leaves it the same way.
void CoUninitialize();

namespace platform {

// Owned by its thread. The other members may be called from any thread.
class Apartment : public std::enable_shared_from_this<Apartment> {
public:
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    MessageQueue& queue() const noexcept { return *queue_; }
    const std::shared_ptr<MessageQueue>& queueShared() const noexcept { return queue_; }
    std::thread::id thread() const noexcept { return thread_; }
    bool isCurrentThread() const noexcept;
    // False once the apartment has been left for good.
    bool isAlive() const noexcept;

    // Runs fn on the apartment's thread when it closes (before its queue is closed);
    // fn runs at once on the calling thread when it is closed already. Returns a key
    // for removeCloseHandler.
    std::size_t onClose(std::function<void()> fn);
    void removeCloseHandler(std::size_t key);

private:
    friend class ApartmentState;
    Apartment(std::shared_ptr<MessageQueue> queue, std::thread::id thread);
    void close();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::shared_ptr<MessageQueue> queue_;
    std::thread::id thread_;
};

// The apartment the calling thread is in, or null.
Apartment* currentApartment();
std::shared_ptr<Apartment> currentApartmentShared();

// Enters an apartment for a scope and leaves it on every way out.
class ApartmentScope {
public:
    explicit ApartmentScope(DWORD coinit = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, coinit)) {}
    ~ApartmentScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;
    HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Apartments entered and not yet closed, for leak checks.
std::size_t liveApartments() noexcept;

}  // namespace platform
