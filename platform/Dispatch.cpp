// The caller's side of late-bound calls: failures become _com_error.
#include "platform/Dispatch.h"

#include "platform/ComError.h"
#include "platform/Variant.h"

namespace platform {

Variant invoke(IDispatch* object, DISPID dispid, WORD flags, std::initializer_list<Variant> args) {
    return invoke(object, dispid, flags, std::span<const Variant>(args.begin(), args.size()));
}

Variant invoke(IDispatch* object, DISPID dispid, WORD flags, std::span<const Variant> args) {
    if (!object) throw _com_error(E_POINTER);
    // Error information left over from an earlier call must not be pinned on this one.
    SetErrorInfo(0, nullptr);
    Variant result;
    EXCEPINFO excepInfo;
    HRESULT hr = object->Invoke(dispid, flags, args, &result, &excepInfo);
    if (SUCCEEDED(hr)) return result;
    if (hr == DISP_E_EXCEPTION) {
        SetErrorInfo(0, nullptr);
        HRESULT code = excepInfo.scode != 0 ? excepInfo.scode : DISP_E_EXCEPTION;
        ComPtr<IErrorInfo> info = createErrorInfo(excepInfo.bstrSource, excepInfo.bstrDescription);
        throw _com_error(code, info.get());
    }
    _com_issue_error(hr);
}

}  // namespace platform
