// libFuzzer target for text that turns into numbers on both sides of the link: the
// module's own reading of cell text (readNumber, which takes a leading number and
// ignores the rest) and the sheet's (a General cell's typed text, numbers stored in
// files). Any text reads without fault. Where the sheet takes a text for a number,
// the module reads the same double from it, and so does the C library's strtod (an
// implementation of its own). A double the sheet writes into files reads back as
// the same double through every reader, and its General display reads back close to
// it.
#include "automation/NumberText.h"
#include "module/spreadsheet/CellValue.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool same(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The text as strtod reads it in the "C" locale (the fuzzer's), when the whole text
// but blanks around it is taken.
std::optional<double> reference(const std::string& text) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    while (*end == ' ' || *end == '\t') ++end;
    if (static_cast<std::size_t>(end - text.c_str()) != text.size()) return std::nullopt;
    return v;
}

void checkText(const std::string& text) {
    std::optional<double> module = tabro::readNumber(text);
    std::optional<double> general = automation::parseGeneralNumber(widen(text));
    std::optional<double> stored = automation::parseStoredNumber(text);
    if (general) {
        if (!module || !same(*module, *general)) __builtin_trap();
        std::optional<double> ref = reference(text);
        if (!ref || !same(*ref, *general)) __builtin_trap();
    }
    if (stored) {
        // A number as files store it: no blanks, a plain decimal number.
        if (!module || !same(*module, *stored)) __builtin_trap();
        std::optional<double> ref = reference(text);
        if (!ref || !same(*ref, *stored)) __builtin_trap();
        if (!general || !same(*general, *stored)) __builtin_trap();
    }
}

void checkNumber(double value) {
    if (!std::isfinite(value)) return;
    std::string stored;
    automation::appendStoredNumber(stored, value);
    std::optional<double> back = automation::parseStoredNumber(stored);
    if (!back || !same(*back, value)) __builtin_trap();
    std::optional<double> module = tabro::readNumber(stored);
    if (!module || !same(*module, value)) __builtin_trap();
    std::optional<double> general = automation::parseGeneralNumber(widen(stored));
    if (!general || !same(*general, value)) __builtin_trap();

    // The General display keeps six significant digits in the scientific form and ten
    // digits in all in the fixed one; it reads back within that.
    std::string shown = automation::displayNumber(value);
    std::optional<double> seen = automation::parseGeneralNumber(widen(shown));
    if (!seen) __builtin_trap();
    const double magnitude = std::fabs(value);
    const bool scientific = magnitude >= 1e11 || magnitude < 1e-9;
    const double tolerance = (scientific ? magnitude * 5e-6 : std::max(magnitude, 1.0) * 5e-10) * (1 + 1e-9);
    if (!(std::fabs(*seen - value) <= tolerance)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkText(text);
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        checkNumber(value);
    }
    FuzzedDataProvider input(data, size);
    checkNumber(input.ConsumeFloatingPoint<double>());
    return 0;
}
