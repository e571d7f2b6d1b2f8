// Reference-counted interfaces: IUnknown, the smart pointer that owns one reference,
// and the base that implements counting and interface lookup for concrete objects.
#pragma once

#include "platform/Guid.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <cstddef>
#include <tuple>
#include <utility>

// Every interface names its identifier as a static member `iid`.
struct IUnknown {
    static constexpr IID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
constexpr IID IID_IUnknown = IUnknown::iid;

namespace platform {

// Owns one reference. Copying adds one, destruction releases it, so no raw
// interface pointer needs to outlive the statement that produced it.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p (p keeps its own).
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.get())) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Adopts a reference the caller already owns (as returned through an out pointer).
    static ComPtr adopt(T* p) noexcept {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    // Releases what is held and hands out the slot for an out parameter.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface for U; an empty pointer when this is empty or U is not supported.
    template <class U>
    ComPtr<U> as() const noexcept {
        ComPtr<U> result;
        if (p_) p_->QueryInterface(U::iid, result.putVoid());
        return result;
    }
    template <class U>
    HRESULT queryInterface(ComPtr<U>& out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(U::iid, out.putVoid());
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }

private:
    T* p_ = nullptr;
};

// Number of live objects built on ComObject in this process. Tests and shutdown
// checks use it to find references that were never released.
std::size_t liveComObjects() noexcept;
void countComObject(int delta) noexcept;

// Implements IUnknown for a class that derives from the interfaces listed. The
// first interface answers IUnknown. Objects are created with `makeCom` and destroyed
// when the last reference goes.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown) {
            *object = static_cast<First*>(this);
        } else {
            (void)(... || findInterface<Interfaces>(riid, object));
            if (!*object) *object = queryExtra(riid);
        }
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() { countComObject(1); }
    virtual ~ComObject() { countComObject(-1); }
    // Lets a derived class answer further identifiers (an event interface it
    // implements through IDispatch, for example).
    virtual void* queryExtra(REFIID) { return nullptr; }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    template <class I>
    bool findInterface(REFIID riid, void** object) {
        return findIn<I, I>(riid, object);
    }
    // Walks I's chain of bases that declare their own iid.
    template <class Top, class I>
    bool findIn(REFIID riid, void** object) {
        if (riid == I::iid) {
            *object = static_cast<Top*>(this);
            return true;
        }
        if constexpr (requires { typename I::Base; }) return findIn<Top, typename I::Base>(riid, object);
        return false;
    }

    std::atomic<ULONG> refs_{1};
};

// Creates a ComObject-derived object holding its one initial reference.
template <class Derived, class... Args>
ComPtr<Derived> makeCom(Args&&... args) {
    return ComPtr<Derived>::adopt(new Derived(std::forward<Args>(args)...));
}

}  // namespace platform
