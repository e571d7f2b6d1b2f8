// Error information: the source and description a failing automation call leaves
// for its caller, per thread as the platform keeps it.
#pragma once

#include "platform/Unknown.h"

#include <string>

struct IErrorInfo : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
    virtual HRESULT GetSource(std::u16string* source) = 0;
    virtual HRESULT GetDescription(std::u16string* description) = 0;
};

namespace platform {

ComPtr<IErrorInfo> createErrorInfo(std::u16string source, std::u16string description);

}  // namespace platform

// The calling thread's current error information (replacing what was there);
// GetErrorInfo hands it out once and clears it, answering S_FALSE when there is none.
HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info);
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info);
