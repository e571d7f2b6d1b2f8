// Conversion of cell values between the spreadsheet's variants and the drawing's
// multibyte text and doubles.
#pragma once

#include "module/base/WideText.h"
#include "platform/Variant.h"

#include <optional>
#include <string>
#include <string_view>

namespace tabro {

// Lenient: turns `value` into text in place (VT_BSTR), a number formatted in the
// user's own locale, an empty cell as empty text. False, with `value` unchanged,
// for a value that has no text (an error value such as a division by zero); the
// caller then skips it.
bool toTextInPlace(platform::Variant& value);

// Strict: the value's text as above; a value without text throws _com_error with
// the conversion's code.
std::u16string toText(const platform::Variant& value);

// Writes the value as a number into `target`: R8, R4, I2 and I4 as they are; text
// read by readNumber; every other type (empty, error, Boolean, date...) leaves
// `target` at the caller's initial value, as does a text whose number is too large
// for a double (which would otherwise put an infinite coordinate into the drawing).
void toNumber(const platform::Variant& value, double& target);

// The module's own number reading, the same in every locale: leading white space,
// a sign, digits with at most one "." and an exponent; whatever follows is ignored
// ("12,5" reads 12, "7 m" reads 7) and text without a leading number reads 0. No
// value when the number is beyond the range of a double.
std::optional<double> readNumber(std::string_view text);

// Same length and the same UTF-16 code units: case-sensitive, no normalisation.
bool sameText(std::u16string_view a, std::u16string_view b);
// Texts that may be absent: two absent texts are equal, absent never equals present.
bool sameText(const std::u16string* a, const std::u16string* b);

}  // namespace tabro
