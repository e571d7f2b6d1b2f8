// Marshalled dispatch proxies: calls from other threads travel through the owner
// apartment's queue; the object itself is only ever touched on the owner's thread.
#include "platform/Marshal.h"

#include "platform/Apartment.h"
#include "platform/ErrorInfo.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

namespace platform {
namespace {

// The platform's code for a server that failed in an unexpected way during a call.
constexpr HRESULT RPC_E_SERVERFAULT = static_cast<HRESULT>(0x80010105u);

// One call from another thread: pending until the owner starts it, then done.
// Cancelling (the owner's apartment closed first) completes it with
// RPC_E_DISCONNECTED, and a later start finds it done and does nothing.
struct CallRecord {
    std::mutex mutex;
    std::condition_variable done;
    enum class State { pending, running, finished } state = State::pending;
    HRESULT hr = S_OK;

    bool start() {
        std::lock_guard lock(mutex);
        if (state != State::pending) return false;
        state = State::running;
        return true;
    }
    void finish(HRESULT result) {
        {
            std::lock_guard lock(mutex);
            if (state == State::finished) return;
            state = State::finished;
            hr = result;
        }
        done.notify_all();
    }
    void cancel() {
        {
            std::lock_guard lock(mutex);
            if (state != State::pending) return;
            state = State::finished;
            hr = RPC_E_DISCONNECTED;
        }
        done.notify_all();
    }
    bool isFinished() {
        std::lock_guard lock(mutex);
        return state == State::finished;
    }
};

// Cancels the call when the queued task is destroyed without having run it (the
// owner's queue closed with the task still in it).
struct CancelOnDrop {
    std::shared_ptr<CallRecord> record;
    ~CancelOnDrop() { record->cancel(); }
};

// The owner's side of one marshalled object.
class Stub : public std::enable_shared_from_this<Stub> {
public:
    Stub(ComPtr<IDispatch> object, std::shared_ptr<Apartment> owner)
        : object_(std::move(object)), owner_(owner), queue_(owner->queueShared()), ownerThread_(owner->thread()) {}

    void attach() {
        std::weak_ptr<Stub> weak = weak_from_this();
        auto owner = owner_.lock();
        if (!owner) return disconnect();
        closeKey_ = owner->onClose([weak] {
            if (auto stub = weak.lock()) stub->disconnect();
        });
    }

    bool isOwnerThread() const { return std::this_thread::get_id() == ownerThread_; }

    ComPtr<IDispatch> object() {
        std::lock_guard lock(mutex_);
        return object_;
    }

    // Runs work on the owner's thread and waits for it. work runs only if the object
    // is still there; it gets the object.
    HRESULT callOnOwner(std::function<HRESULT(IDispatch*)> work) {
        if (isOwnerThread()) {
            ComPtr<IDispatch> target = object();
            return target ? work(target.get()) : RPC_E_DISCONNECTED;
        }
        auto record = std::make_shared<CallRecord>();
        {
            std::lock_guard lock(mutex_);
            if (!object_) return RPC_E_DISCONNECTED;
            pending_.insert(record);
        }
        std::shared_ptr<CancelOnDrop> guard(new CancelOnDrop{record});
        std::weak_ptr<Stub> weak = weak_from_this();
        bool isPosted = queue_->post([weak, record, guard, work = std::move(work)] {
            if (!record->start()) return;
            auto stub = weak.lock();
            ComPtr<IDispatch> target = stub ? stub->object() : nullptr;
            if (stub) stub->forget(record);
            if (!target) return record->finish(RPC_E_DISCONNECTED);
            HRESULT hr;
            try {
                hr = work(target.get());
            } catch (...) {
                hr = RPC_E_SERVERFAULT;
            }
            record->finish(hr);
        });
        if (!isPosted) {
            forget(record);
            return RPC_E_DISCONNECTED;
        }
        guard.reset();
        wait(*record);
        return record->hr;
    }

    // Posts work for the owner's thread without waiting.
    bool postToOwner(std::function<void(IDispatch*)> work) {
        {
            std::lock_guard lock(mutex_);
            if (!object_) return false;
        }
        std::weak_ptr<Stub> weak = weak_from_this();
        return queue_->post([weak, work = std::move(work)] {
            auto stub = weak.lock();
            ComPtr<IDispatch> target = stub ? stub->object() : nullptr;
            if (target) work(target.get());
        });
    }

    // The proxy is gone: the object is released on the owner's thread.
    void release() {
        if (isOwnerThread()) return disconnect();
        auto self = shared_from_this();
        if (!queue_->post([self] { self->disconnect(); })) disconnect();
    }

    // On the owner's thread (or once the owner can no longer run anything): let go of
    // the object and fail the calls still waiting.
    void disconnect() {
        ComPtr<IDispatch> object;
        std::set<std::shared_ptr<CallRecord>> pending;
        {
            std::lock_guard lock(mutex_);
            object = std::move(object_);
            pending.swap(pending_);
        }
        for (auto& record : pending) record->cancel();
        if (auto owner = owner_.lock(); owner && closeKey_) owner->removeCloseHandler(std::exchange(closeKey_, 0));
    }

private:
    void forget(const std::shared_ptr<CallRecord>& record) {
        std::lock_guard lock(mutex_);
        pending_.erase(record);
    }

    // A caller in an apartment serves calls posted to it while it waits, as a
    // single-threaded apartment does, so that the owner may call back into it.
    static void wait(CallRecord& record) {
        Apartment* caller = currentApartment();
        std::unique_lock lock(record.mutex);
        while (record.state != CallRecord::State::finished) {
            if (caller) {
                lock.unlock();
                caller->queue().pumpTasks();
                lock.lock();
                if (record.state == CallRecord::State::finished) break;
                record.done.wait_for(lock, std::chrono::milliseconds(1));
            } else {
                record.done.wait(lock);
            }
        }
    }

    std::mutex mutex_;
    ComPtr<IDispatch> object_;  // released only on the owner's thread
    std::set<std::shared_ptr<CallRecord>> pending_;
    std::weak_ptr<Apartment> owner_;
    std::shared_ptr<MessageQueue> queue_;
    std::thread::id ownerThread_;
    std::size_t closeKey_ = 0;
};

class DispatchProxy : public ComObject<IDispatch> {
public:
    DispatchProxy(std::shared_ptr<Stub> stub, const IID& iid) : stub_(std::move(stub)) { known_.push_back(iid); }

    HRESULT Invoke(DISPID dispid, WORD flags, std::span<const Variant> args, Variant* result,
                   EXCEPINFO* excepInfo) override {
        if (stub_->isOwnerThread()) {
            ComPtr<IDispatch> target = stub_->object();
            if (!target) return RPC_E_DISCONNECTED;
            return target->Invoke(dispid, flags, args, result, excepInfo);
        }
        struct Call {
            std::vector<Variant> args;
            Variant result;
            EXCEPINFO excepInfo;
            ComPtr<IErrorInfo> errorInfo;
        };
        auto call = std::make_shared<Call>();
        call->args.assign(args.begin(), args.end());
        const bool wantsResult = result != nullptr;
        HRESULT hr = stub_->callOnOwner([call, dispid, flags, wantsResult](IDispatch* target) {
            SetErrorInfo(0, nullptr);
            HRESULT r =
                target->Invoke(dispid, flags, call->args, wantsResult ? &call->result : nullptr, &call->excepInfo);
            GetErrorInfo(0, call->errorInfo.put());
            // An object handed out belongs to this apartment: the caller gets a proxy.
            if (IDispatch* returned = call->result.pdispVal(); returned && !isProxy(returned)) {
                ComPtr<IDispatch> proxy;
                if (SUCCEEDED(marshalDispatch(returned, IID_IDispatch, proxy)))
                    call->result = Variant::dispatch(proxy.get());
            }
            return r;
        });
        if (result) *result = std::move(call->result);
        if (excepInfo) *excepInfo = std::move(call->excepInfo);
        if (call->errorInfo) SetErrorInfo(0, call->errorInfo.get());
        return hr;
    }

    // Type information is asked for on the owner's thread too. The ITypeInfo handed
    // back is the description itself, which never changes once loaded.
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        auto answer = std::make_shared<UINT>(0);
        HRESULT hr = stub_->callOnOwner([answer](IDispatch* target) { return target->GetTypeInfoCount(answer.get()); });
        *count = *answer;
        return hr;
    }
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        auto answer = std::make_shared<ITypeInfo*>(nullptr);
        HRESULT hr = stub_->callOnOwner(
            [answer, index, lcid](IDispatch* target) { return target->GetTypeInfo(index, lcid, answer.get()); });
        *info = *answer;
        return hr;
    }
    HRESULT GetIDsOfNames(REFIID riid, const std::u16string* names, UINT count, LCID lcid, DISPID* ids) override {
        if ((count && (!names || !ids))) return E_POINTER;
        auto call = std::make_shared<std::pair<std::vector<std::u16string>, std::vector<DISPID>>>();
        call->first.assign(names, names + count);
        call->second.assign(count, DISPID_UNKNOWN);
        IID wanted = riid;
        HRESULT hr = stub_->callOnOwner([call, wanted, lcid](IDispatch* target) {
            return target->GetIDsOfNames(wanted, call->first.data(), static_cast<UINT>(call->first.size()), lcid,
                                         call->second.data());
        });
        std::copy(call->second.begin(), call->second.end(), ids);
        return hr;
    }

    Stub& stub() { return *stub_; }

protected:
    ~DispatchProxy() override { stub_->release(); }

    void* queryExtra(REFIID riid) override {
        {
            std::lock_guard lock(mutex_);
            for (auto& iid : known_)
                if (iid == riid) return static_cast<IDispatch*>(this);
        }
        IID wanted = riid;
        HRESULT hr = stub_->callOnOwner([wanted](IDispatch* target) {
            ComPtr<IUnknown> answer;
            return target->QueryInterface(wanted, answer.putVoid());
        });
        if (FAILED(hr)) return nullptr;
        std::lock_guard lock(mutex_);
        known_.push_back(riid);
        return static_cast<IDispatch*>(this);
    }

private:
    std::shared_ptr<Stub> stub_;
    std::mutex mutex_;
    std::vector<IID> known_;
};

DispatchProxy* asProxy(IUnknown* object) { return object ? dynamic_cast<DispatchProxy*>(object) : nullptr; }

// The stream only carries the proxy from one thread to another.
class InterfaceStream : public ComObject<IStream> {
public:
    explicit InterfaceStream(ComPtr<IDispatch> proxy) : proxy_(std::move(proxy)) {}
    ComPtr<IDispatch> proxy_;
};

}  // namespace

bool isProxy(IUnknown* object) { return asProxy(object) != nullptr; }

HRESULT marshalDispatch(IDispatch* object, REFIID riid, ComPtr<IDispatch>& proxy) {
    proxy.reset();
    if (!object) return E_POINTER;
    std::shared_ptr<Apartment> owner = currentApartmentShared();
    if (!owner) return CO_E_NOTINITIALIZED;
    ComPtr<IUnknown> check;
    HRESULT hr = object->QueryInterface(riid, check.putVoid());
    if (FAILED(hr)) return hr;
    // A proxy already works from every thread: hand it on as it is.
    if (asProxy(object)) {
        proxy = ComPtr<IDispatch>(object);
        return S_OK;
    }
    auto stub = std::make_shared<Stub>(ComPtr<IDispatch>(object), owner);
    stub->attach();
    proxy = makeCom<DispatchProxy>(stub, riid);
    return S_OK;
}

ComPtr<IDispatch> marshalDispatch(IDispatch* object) {
    ComPtr<IDispatch> proxy;
    marshalDispatch(object, IID_IDispatch, proxy);
    return proxy;
}

bool postInvoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<Variant> args) {
    if (!object) return false;
    DispatchProxy* proxy = asProxy(object);
    if (!proxy) {
        Variant ignored;
        object->Invoke(dispid, flags, args, &ignored, nullptr);
        return true;
    }
    auto shared = std::make_shared<std::vector<Variant>>(std::move(args));
    return proxy->stub().postToOwner([shared, dispid, flags](IDispatch* target) {
        Variant ignored;
        EXCEPINFO excepInfo;
        target->Invoke(dispid, flags, *shared, &ignored, &excepInfo);
    });
}

}  // namespace platform

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* object, IStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (!object) return E_INVALIDARG;
    platform::ComPtr<IDispatch> dispatch;
    HRESULT hr = object->QueryInterface(IID_IDispatch, dispatch.putVoid());
    if (FAILED(hr)) return hr;
    platform::ComPtr<IDispatch> proxy;
    hr = platform::marshalDispatch(dispatch.get(), riid, proxy);
    if (FAILED(hr)) return hr;
    *stream = platform::makeCom<platform::InterfaceStream>(std::move(proxy)).detach();
    return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** object) {
    if (!object) {
        if (stream) stream->Release();
        return E_POINTER;
    }
    *object = nullptr;
    if (!stream) return E_INVALIDARG;
    auto owned = platform::ComPtr<IStream>::adopt(stream);
    auto* carrier = dynamic_cast<platform::InterfaceStream*>(stream);
    if (!carrier || !carrier->proxy_) return E_INVALIDARG;
    return carrier->proxy_->QueryInterface(riid, object);
}
