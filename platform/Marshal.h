// Handing an automation object to another thread: the other thread receives a proxy
// whose calls are posted to the owner apartment's queue and block the caller until
// the owner has run them. Only IDispatch and interfaces derived from it without
// members of their own are carried (their members are reached through Invoke by
// dispatch id); the proxy cannot stand in for further vtable methods.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"

#include <vector>

// A one-shot carrier for a marshalled interface between threads.
struct IStream : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
};

// Called on the owner's thread, which must be in an apartment (CO_E_NOTINITIALIZED
// otherwise). riid must be IDispatch or derived from it (E_NOINTERFACE when the
// object does not answer it).
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* object, IStream** stream);
// Called on the receiving thread: takes the proxy out for riid and releases the
// stream (in every case, failure included).
HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** object);

namespace platform {

// Called on the owner's thread (in an apartment). The proxy:
//  - Invoke from the owner's thread goes straight to the object;
//  - Invoke from another thread is posted to the owner's queue and blocks until the
//    owner has run it, returning its HRESULT, result, EXCEPINFO and error
//    information; while it waits, a caller that is itself in an apartment serves
//    calls posted to its own queue (so calls back into it do not deadlock);
//  - an object returned in the result is handed back as a proxy of the owner too;
//  - once the owner's apartment has closed every call answers RPC_E_DISCONNECTED;
//  - QueryInterface for an interface derived from IDispatch answers the proxy when
//    the object answers it;
//  - the last release of the proxy releases the object on the owner's thread.
// Null object: E_POINTER. Not in an apartment: CO_E_NOTINITIALIZED.
HRESULT marshalDispatch(IDispatch* object, REFIID riid, ComPtr<IDispatch>& proxy);
ComPtr<IDispatch> marshalDispatch(IDispatch* object);  // null on failure

// Posts a call to the object behind a proxy made by marshalDispatch without waiting
// for it; the args (and the references they hold) live until the call has run or
// been dropped. On the owner's thread the call still goes through the queue. For an
// object that is not such a proxy the call is made at once. False when the owner's
// apartment is gone (nothing is called).
bool postInvoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<Variant> args);

// True when object is a proxy made here (whatever its owner's state).
bool isProxy(IUnknown* object);

}  // namespace platform
