// How numbers read from and show as text in the sheet: what counts as a number when
// text is typed into a General cell, the displayed text of the General format, the
// exact text stored in files, and the error values (#DIV/0! and friends).
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace automation {

// Text that reads as a plain decimal number (blanks around it, a sign, digits with
// one decimal point, an exponent): "007" -> 7, " -1.5e3 " -> -1500. Thousands
// separators, percentages, dates and currency are left as text; so are values that
// do not fit a double.
std::optional<double> parseGeneralNumber(std::u16string_view text);
// Strict reader for numbers stored in files (no blanks, finite).
std::optional<double> parseStoredNumber(std::string_view text);

// The General format's displayed text: up to 11 characters, switching to the
// scientific form ("1.23457E+11") for very large or very small magnitudes.
std::string displayNumber(double value);
// Shortest text that reads back as the same double.
void appendStoredNumber(std::string& out, double value);

// Error values as the file format spells them. The automation value of an error
// cell is VT_ERROR with scode 0x800A0000 + the application's error number.
struct ErrorValue {
    std::string_view text;
    std::int32_t number;  // 2007 for #DIV/0!
};
std::optional<ErrorValue> errorByText(std::string_view text);
std::optional<ErrorValue> errorByNumber(std::int32_t number);
// #N/A: the value is not available.
inline constexpr std::int32_t kErrorNotAvailable = 2042;
constexpr SCODE errorScode(std::int32_t number) {
    return static_cast<SCODE>(0x800A0000u | static_cast<std::uint32_t>(number));
}

}  // namespace automation
