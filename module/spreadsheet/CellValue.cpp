// Cell value conversion through the platform's variant and code page conversions.
#include "module/spreadsheet/CellValue.h"

#include "platform/ComError.h"
#include "platform/Text.h"

#include <locale.h>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>

namespace tabro {
namespace {

locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool toTextInPlace(platform::Variant& value) {
    if (value.vt() == VT_BSTR) return true;
    return SUCCEEDED(platform::VariantChangeType(value, value, 0, VT_BSTR));
}

std::u16string toText(const platform::Variant& value) {
    if (value.vt() == VT_BSTR) return value.bstrVal();
    platform::Variant text;
    HRESULT hr = platform::VariantChangeType(text, value, 0, VT_BSTR);
    if (FAILED(hr)) throw _com_error(hr);
    return text.bstrVal();
}

std::optional<double> readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    // An exponent counts only when digits follow it: "1e" and "1e+" read as 1.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }
    // The scan above has fixed the number's extent; strtod only converts it, under
    // the "C" locale so that the user's decimal separator plays no part.
    std::string number(text.substr(start, i - start));
    double value = strtod_l(number.c_str(), nullptr, cLocale());
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

void toNumber(const platform::Variant& value, double& target) {
    switch (value.vt()) {
    case VT_R8:
        target = value.dblVal();
        break;
    case VT_R4:
        target = static_cast<double>(value.fltVal());
        break;
    case VT_I2:
        target = static_cast<double>(value.iVal());
        break;
    case VT_I4:
        target = static_cast<double>(value.lVal());
        break;
    case VT_BSTR:
        if (std::optional<double> number = readNumber(toMultibyte(value.bstrVal()))) target = *number;
        break;
    default:
        break;
    }
}

bool sameText(std::u16string_view a, std::u16string_view b) { return a == b; }

bool sameText(const std::u16string* a, const std::u16string* b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

}  // namespace tabro
