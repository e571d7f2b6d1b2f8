// An automation object for tests whose Invoke runs a function given by the test.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"

#include <functional>

namespace platform::test {

using InvokeHandler = std::function<HRESULT(DISPID dispid, WORD flags, std::span<const Variant> args, Variant* result,
                                            EXCEPINFO* excepInfo)>;

class FunctionDispatch : public ComObject<IDispatch> {
public:
    explicit FunctionDispatch(InvokeHandler handler, IID extraIid = GUID_NULL)
        : handler_(std::move(handler)), extraIid_(extraIid) {}

    HRESULT Invoke(DISPID dispid, WORD flags, std::span<const Variant> args, Variant* result,
                   EXCEPINFO* excepInfo) override {
        return handler_(dispid, flags, args, result, excepInfo);
    }

protected:
    void* queryExtra(REFIID riid) override {
        return !(extraIid_ == GUID_NULL) && riid == extraIid_ ? static_cast<IDispatch*>(this) : nullptr;
    }

private:
    InvokeHandler handler_;
    IID extraIid_;
};

inline ComPtr<IDispatch> makeDispatch(InvokeHandler handler, IID extraIid = GUID_NULL) {
    return makeCom<FunctionDispatch>(std::move(handler), extraIid);
}

}  // namespace platform::test
