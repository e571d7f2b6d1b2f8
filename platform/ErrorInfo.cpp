// Error information objects and the per-thread slot that carries one from a failed
// call to its caller.
#include "platform/ErrorInfo.h"

#include "platform/ThreadState.h"

namespace platform {
namespace {

class ErrorInfoObject : public ComObject<IErrorInfo> {
public:
    ErrorInfoObject(std::u16string source, std::u16string description)
        : source_(std::move(source)), description_(std::move(description)) {}

    HRESULT GetSource(std::u16string* source) override {
        if (!source) return E_POINTER;
        *source = source_;
        return S_OK;
    }
    HRESULT GetDescription(std::u16string* description) override {
        if (!description) return E_POINTER;
        *description = description_;
        return S_OK;
    }

private:
    std::u16string source_;
    std::u16string description_;
};

// Released when the thread ends, so a thread that fails and ends leaks nothing.
thread_local ComPtr<IErrorInfo> threadErrorInfo;

}  // namespace

ComPtr<IErrorInfo> createErrorInfo(std::u16string source, std::u16string description) {
    return makeCom<ErrorInfoObject>(std::move(source), std::move(description));
}

namespace detail {
void clearThreadErrorInfo() noexcept { threadErrorInfo.reset(); }
}  // namespace detail

}  // namespace platform

HRESULT SetErrorInfo(DWORD, IErrorInfo* info) {
    platform::threadErrorInfo = platform::ComPtr<IErrorInfo>(info);
    return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** info) {
    if (!info) return E_POINTER;
    *info = platform::threadErrorInfo.detach();
    return *info ? S_OK : S_FALSE;
}
