#include "automation/NumberText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace automation {
namespace {

constexpr std::array<ErrorValue, 7> kErrors{{{"#NULL!", 2000},
                                             {"#DIV/0!", 2007},
                                             {"#VALUE!", 2015},
                                             {"#REF!", 2023},
                                             {"#NAME?", 2029},
                                             {"#NUM!", 2036},
                                             {"#N/A", 2042}}};

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void stripTrailingZeros(std::string& s) {
    auto point = s.find('.');
    if (point == std::string::npos) return;
    auto last = s.find_last_not_of('0');
    if (last == point) --last;
    s.erase(last + 1);
}

}  // namespace

std::optional<double> parseGeneralNumber(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    if (b == e || e - b > 400) return std::nullopt;
    // Check the shape ourselves: from_chars alone would also take "inf" and "nan".
    std::string ascii;
    ascii.reserve(e - b);
    std::size_t i = b;
    bool negative = false;
    if (text[i] == u'+' || text[i] == u'-') negative = text[i++] == u'-';
    std::size_t digits = 0;
    bool point = false;
    for (; i < e; ++i) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            ++digits;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
        ascii.push_back(static_cast<char>(c));
    }
    if (digits == 0) return std::nullopt;
    if (i < e && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < e && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
        std::size_t expDigits = 0;
        for (; i < e && text[i] >= u'0' && text[i] <= u'9'; ++i, ++expDigits)
            ascii.push_back(static_cast<char>(text[i]));
        if (expDigits == 0) return std::nullopt;
    }
    if (i != e) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::optional<double> parseStoredNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char* first = text.data();
    const bool plus = *first == '+';
    if (plus) ++first;
    if (first == text.data() + text.size()) return std::nullopt;
    char c = *first;
    // One sign at most: from_chars would take the "-" of "+-5" as the sign.
    if (!((c == '-' && !plus) || c == '.' || (c >= '0' && c <= '9'))) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string displayNumber(double value) {
    if (!std::isfinite(value)) return "#NUM!";
    if (value == 0) return "0";
    double magnitude = std::fabs(value);
    char buffer[64];
    if (magnitude >= 1e11 || magnitude < 1e-9) {
        std::snprintf(buffer, sizeof buffer, "%.5E", value);
        std::string s(buffer);
        auto e = s.find('E');
        std::string mantissa = s.substr(0, e);
        stripTrailingZeros(mantissa);
        return mantissa + s.substr(e);
    }
    int intDigits = magnitude < 1 ? 1 : static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    int decimals = std::max(0, 10 - intDigits);
    // A double carries about 15 significant digits; showing more would show noise.
    if (magnitude < 1) decimals = std::min(decimals, 15 - static_cast<int>(std::floor(std::log10(magnitude))) - 1);
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string s(buffer);
    stripTrailingZeros(s);
    if (s == "-0") s = "0";
    return s;
}

void appendStoredNumber(std::string& out, double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, end);
}

std::optional<ErrorValue> errorByText(std::string_view text) {
    for (const auto& e : kErrors)
        if (e.text == text) return e;
    return std::nullopt;
}

std::optional<ErrorValue> errorByNumber(std::int32_t number) {
    for (const auto& e : kErrors)
        if (e.number == number) return e;
    return std::nullopt;
}

}  // namespace automation
