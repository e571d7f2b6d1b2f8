// What every automation object shares: the argument readers, the
// application error (DISP_E_EXCEPTION with a description) and the translation of
// failures into the result codes a dispatch caller expects.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace automation {

// The code the application puts into EXCEPINFO for its own errors.
constexpr SCODE kApplicationError = static_cast<SCODE>(0x800A03ECu);

// Thrown inside a member; Invoke turns it into its result code. With a description
// it becomes DISP_E_EXCEPTION carrying kApplicationError.
struct DispatchFailure {
    HRESULT code;
    std::string description;
};
[[noreturn]] void failWith(HRESULT code);
[[noreturn]] void applicationError(std::string description);
// A workbook or sheet name, or other input, as error texts quote it: 'Sheet 1'. Past
// kQuotedCharacters UTF-16 units it is cut, "..." marking the cut: a refused name
// or reference of a hundred thousand characters is not repeated whole.
constexpr std::size_t kQuotedCharacters = 60;
std::string quoted(const std::u16string& name);
std::string quoted(std::string_view utf8);

// Runs body and converts what it throws into the HRESULT and EXCEPINFO of Invoke;
// source names the application in EXCEPINFO.
template <class Body>
HRESULT guardedInvoke(EXCEPINFO* excepInfo, const std::u16string& source, Body&& body);
HRESULT translateCurrentException(EXCEPINFO* excepInfo, const std::u16string& source);

template <class Body>
HRESULT guardedInvoke(EXCEPINFO* excepInfo, const std::u16string& source, Body&& body) {
    try {
        body();
        return S_OK;
    } catch (...) {
        return translateCurrentException(excepInfo, source);
    }
}

enum class Kind { Get, Put, Method };
// Does the caller's flag set ask for kind? A property get may also be asked for as
// a method (callers of late-bound servers often pass both bits).
bool isKind(WORD flags, Kind kind);

// Reading arguments; each failure throws the dispatch code a server gives.
class Args {
public:
    explicit Args(std::span<const platform::Variant> args) : args_(args) {}
    std::size_t size() const noexcept { return args_.size(); }
    // DISP_E_BADPARAMCOUNT unless min <= count <= max.
    void expect(std::size_t min, std::size_t max) const;
    bool isPresent(std::size_t i) const { return i < args_.size() && !args_[i].isMissing(); }
    const platform::Variant& at(std::size_t i) const { return args_[i]; }
    // An integer from I2, I4, R4 or R8 (whole numbers only); DISP_E_TYPEMISMATCH else.
    std::int32_t integer(std::size_t i) const;
    std::u16string text(std::size_t i) const;  // BSTR only
    bool boolean(std::size_t i) const;         // BOOL or a number
    // The value assigned by a property put (the last argument).
    const platform::Variant& assigned() const { return args_.back(); }

private:
    std::span<const platform::Variant> args_;
};

}  // namespace automation
