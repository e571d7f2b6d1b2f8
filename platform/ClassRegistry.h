// Finding and creating automation servers: class lookup by program identifier or
// "{...}" text, instance creation through registered class factories, and the
// running-object table. Process-wide; safe to call from any thread.
#pragma once

#include "platform/Unknown.h"

#include <functional>
#include <string>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
constexpr DWORD ACTIVEOBJECT_STRONG = 0x0;
constexpr DWORD ACTIVEOBJECT_WEAK = 0x1;

struct IRunnableObject : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x00000126, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT Run() = 0;
};

namespace platform {

// Creates a new instance answering riid; stands in for a server's class factory.
using ClassFactory = std::function<HRESULT(REFIID riid, void** object)>;

// Makes a class known by its identifier and program identifier (compared without
// regard to case). Registering the same identifier again replaces the factory.
HRESULT registerServerClass(REFCLSID clsid, const std::u16string& progId, ClassFactory factory);
HRESULT revokeServerClass(REFCLSID clsid);

}  // namespace platform

HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid);  // CO_E_CLASSSTRING when unknown
HRESULT CLSIDFromString(const OLECHAR* text, CLSID* clsid);    // CO_E_CLASSSTRING when malformed
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** object);
HRESULT OleRun(IUnknown* object);
HRESULT GetActiveObject(REFCLSID clsid, void* reserved, IUnknown** object);  // MK_E_UNAVAILABLE
HRESULT RegisterActiveObject(IUnknown* object, REFCLSID clsid, DWORD flags, DWORD* registration);
HRESULT RevokeActiveObject(DWORD registration, void* reserved);
