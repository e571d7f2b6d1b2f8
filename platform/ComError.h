// The three failure kinds that automation code throws: the automation error with
// its code and error information, and the framework's OLE and dispatch exceptions.
#pragma once

#include "platform/ErrorInfo.h"

#include <exception>
#include <string>

// An automation call failed. Carries the result code and, optionally, the failed
// call's error information. Its message is computed on first use and then kept.
class _com_error : public std::exception {
public:
    explicit _com_error(HRESULT hr, IErrorInfo* info = nullptr, bool addRef = true);
    _com_error(const _com_error& other);
    _com_error& operator=(const _com_error& other);
    ~_com_error() override;

    HRESULT Error() const noexcept { return hr_; }
    // Null when the error carries no error information.
    IErrorInfo* ErrorInfo() const noexcept;
    // Empty when there is no error information or it holds no text.
    std::u16string Source() const;
    std::u16string Description() const;
    // The system's message for the code, without its trailing CR LF; otherwise
    // "IDispatch error #n" for 0x80040201..0x8004FFFF, else "Unknown error 0x...".
    const char* ErrorMessage() const;
    const char* what() const noexcept override;

private:
    HRESULT hr_;
    IErrorInfo* info_;  // one reference owned, may be null
    mutable std::string message_;
    mutable bool hasMessage_ = false;
};

// Throws _com_error for hr with the thread's current error information, as the
// platform's support library does.
[[noreturn]] void _com_issue_error(HRESULT hr);
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID riid);

// The framework's OLE exception: a status code.
class COleException : public std::exception {
public:
    explicit COleException(SCODE sc) : m_sc(sc) {}
    const char* what() const noexcept override { return "OLE exception"; }
    SCODE m_sc;
};

// The framework's dispatch exception: a description text (multibyte).
class COleDispatchException : public std::exception {
public:
    COleDispatchException(std::string description, WORD code = 0)
        : m_strDescription(std::move(description)), m_wCode(code) {}
    const char* what() const noexcept override { return m_strDescription.c_str(); }
    std::string m_strDescription;
    WORD m_wCode;
};

[[noreturn]] inline void AfxThrowOleException(SCODE sc) { throw COleException(sc); }
[[noreturn]] inline void AfxThrowOleDispatchException(WORD code, std::string description) {
    throw COleDispatchException(std::move(description), code);
}
