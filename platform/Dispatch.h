// Late-bound automation: IDispatch, invoked by dispatch id with variant arguments.
#pragma once

#include "platform/Unknown.h"

#include <initializer_list>
#include <span>
#include <string>

namespace platform {
class Variant;
}
struct ITypeInfo;

constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;
constexpr WORD DISPATCH_PROPERTYPUT = 4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

// What a server reports about a failed call (returned with DISP_E_EXCEPTION).
struct EXCEPINFO {
    WORD wCode = 0;
    std::u16string bstrSource;
    std::u16string bstrDescription;
    SCODE scode = 0;
};

struct IDispatch : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    // Arguments come in the order the member declares them (first argument first,
    // unlike the platform's reversed argument array); for a property put the last
    // argument is the value assigned. An omitted optional argument is the missing
    // variant. A server that fails with its own description returns
    // DISP_E_EXCEPTION and fills excepInfo (when given).
    virtual HRESULT Invoke(DISPID dispid, WORD flags, std::span<const platform::Variant> args,
                           platform::Variant* result, EXCEPINFO* excepInfo) = 0;

    // Type information about the object's members. Most servers here bind by
    // dispatch id alone and answer none (count 0, E_NOTIMPL); an object described by
    // a type library serves these from it.
    virtual HRESULT GetTypeInfoCount(UINT* count) {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    virtual HRESULT GetTypeInfo(UINT /*index*/, LCID /*lcid*/, ITypeInfo** info) {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    // names[0] is the member, the others its argument names.
    virtual HRESULT GetIDsOfNames(REFIID /*riid*/, const std::u16string* /*names*/, UINT /*count*/, LCID /*lcid*/,
                                  DISPID* /*ids*/) {
        return E_NOTIMPL;
    }
};
constexpr IID IID_IDispatch = IDispatch::iid;

namespace platform {

// The caller's side of a late-bound call: invokes and throws _com_error on failure
// (with the server's error information when it gave some; for DISP_E_EXCEPTION
// the code is the one the server put into EXCEPINFO). A null object throws E_POINTER.
Variant invoke(IDispatch* object, DISPID dispid, WORD flags, std::initializer_list<Variant> args = {});
Variant invoke(IDispatch* object, DISPID dispid, WORD flags, std::span<const Variant> args);

}  // namespace platform
