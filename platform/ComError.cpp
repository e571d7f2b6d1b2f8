// The automation error: its code, error information and lazily computed message.
#include "platform/ComError.h"

#include "platform/SystemMessages.h"

#include <cstdio>
#include <utility>

_com_error::_com_error(HRESULT hr, IErrorInfo* info, bool addRef) : hr_(hr), info_(info) {
    if (info_ && addRef) info_->AddRef();
}

_com_error::_com_error(const _com_error& other)
    : std::exception(other),
      hr_(other.hr_),
      info_(other.info_),
      message_(other.message_),
      hasMessage_(other.hasMessage_) {
    if (info_) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) {
    if (this != &other) {
        _com_error copy(other);
        std::swap(hr_, copy.hr_);
        std::swap(info_, copy.info_);
        std::swap(message_, copy.message_);
        std::swap(hasMessage_, copy.hasMessage_);
    }
    return *this;
}

_com_error::~_com_error() {
    if (info_) info_->Release();
}

IErrorInfo* _com_error::ErrorInfo() const noexcept { return info_; }

std::u16string _com_error::Source() const {
    std::u16string text;
    if (info_) info_->GetSource(&text);
    return text;
}

std::u16string _com_error::Description() const {
    std::u16string text;
    if (info_) info_->GetDescription(&text);
    return text;
}

const char* _com_error::ErrorMessage() const {
    if (hasMessage_) return message_.c_str();
    std::string text;
    if (platform::systemMessage(hr_, text)) {
        // One LF and the CR before it go; a text of one character is kept whole.
        std::size_t n = text.size();
        if (n > 1 && text[n - 1] == '\n') {
            text.pop_back();
            if (text[n - 2] == '\r') text.pop_back();
        }
    } else {
        char buffer[32];
        std::uint32_t code = static_cast<std::uint32_t>(hr_);
        if (code >= 0x80040201u && code <= 0x8004FFFFu)
            std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
        else
            std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
        text = buffer;
    }
    message_ = std::move(text);
    hasMessage_ = true;
    return message_.c_str();
}

const char* _com_error::what() const noexcept {
    try {
        return ErrorMessage();
    } catch (...) {
        return "automation error";
    }
}

void _com_issue_error(HRESULT hr) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
    throw _com_error(hr, info, false);
}

void _com_issue_errorex(HRESULT hr, IUnknown*, REFIID) { _com_issue_error(hr); }
