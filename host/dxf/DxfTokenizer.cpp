#include "host/dxf/DxfTokenizer.h"
#include "platform/Text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dxf {

DxfError::DxfError(std::size_t line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}

DxfError::DxfError(BytePlace at, const std::string& message)
    : std::runtime_error("byte " + std::to_string(at.offset) + ": " + message), line_(0) {}

std::string quoteInput(std::string_view s, std::size_t limit) {
    auto invisible = [](char32_t c) {
        return c == 0xA0 || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x180E || (c >= 0x2000 && c <= 0x200F) ||
               (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF ||
               (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0x80 && c < 0xA0);
    };
    std::string out = "'";
    char buf[16];
    const std::string_view shown = s.substr(0, limit);
    for (std::size_t i = 0; i < shown.size();) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += shown[i++];
            continue;
        }
        // One UTF-8 sequence, whole within the shown part.
        const int n = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
        char32_t cp = 0;
        bool ok = n > 0 && i + static_cast<std::size_t>(n) < shown.size();
        if (ok) {
            cp = c & (0x3F >> n);
            for (int k = 1; k <= n && ok; ++k) {
                const auto d = static_cast<unsigned char>(shown[i + k]);
                ok = (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
            ok = ok && !(n == 2 && cp < 0x800) && !(n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) &&
                 !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (!ok) {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
            ++i;
        } else if (invisible(cp)) {
            std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned>(cp));
            out += buf;
            i += static_cast<std::size_t>(n) + 1;
        } else {
            out.append(shown.substr(i, static_cast<std::size_t>(n) + 1));
            i += static_cast<std::size_t>(n) + 1;
        }
    }
    if (s.size() > limit) out += "...";
    return out + "'";
}

DxfError lineTooLongError(std::size_t line) {
    return DxfError(line, "the line is longer than " + std::to_string(kMaxLineBytes) +
                              " bytes, more than any drawing has; the file is damaged or not a DXF file");
}

namespace {

constexpr ValueType typeOfCode(int code) {
    auto in = [code](int lo, int hi) { return code >= lo && code <= hi; };
    if (in(10, 59) || in(110, 149) || in(210, 239) || in(460, 469) || in(1010, 1059)) return ValueType::Double;
    if (in(60, 99) || in(170, 179) || in(270, 289) || in(370, 389) || in(400, 409) || in(420, 429) || in(440, 459) ||
        in(1060, 1071))
        return ValueType::Integer;
    if (code == 5 || code == 105) return ValueType::Handle;
    return ValueType::String;
}

// Every tag asks for its type: a table answers in one load what the ranges answer in
// a dozen comparisons.
struct CodeTypes {
    ValueType type[kMaxGroupCode - kMinGroupCode + 1];
    constexpr CodeTypes() : type{} {
        for (int c = kMinGroupCode; c <= kMaxGroupCode; ++c) type[c - kMinGroupCode] = typeOfCode(c);
    }
};
constexpr CodeTypes kCodeTypes;

}  // namespace

ValueType valueType(int code) {
    return code >= kMinGroupCode && code <= kMaxGroupCode ? kCodeTypes.type[code - kMinGroupCode] : typeOfCode(code);
}

namespace {

std::string quoted(std::string_view s) { return quoteInput(s); }

// The syntax of a DXF real without converting it: [sign] digits [. digits] [e [sign] digits].
// Checking is all the reader needs up front; values are converted when decoded. Sets
// mayOverflow when the number's decimal exponent could be past a double's range,
// which only a conversion tells for sure.
bool looksLikeDouble(std::string_view s, bool& mayOverflow) {
    mayOverflow = false;
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
    if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t digits = 0;
    while (i < n && s[i] == '0') ++i, ++digits;
    std::size_t significant = 0;  // integer digits after leading zeros
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits, ++significant;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    long exponent = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = i < n && s[i] == '-';
        if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
        std::size_t exp = 0;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i, ++exp)
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
        if (exp == 0) return false;
        if (negative) exponent = -exponent;
    }
    // Doubles end near 1.8e308; smaller values, however small, only round to zero.
    mayOverflow = static_cast<long>(significant) + exponent > 300;
    return i == n;
}

// Group codes are short decimal numbers, possibly right-aligned with blanks.
bool readCode(std::string_view s, int& code) {
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
    bool negative = i < n && s[i] == '-';
    if (negative) ++i;
    if (i == n || n - i > 6) return false;
    int v = 0;
    for (; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    code = negative ? -v : v;
    return true;
}

bool readDouble(std::string_view s, double& v) {
    s = platform::trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool readInteger(std::string_view s, std::int64_t& v) {
    s = platform::trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool Tokenizer::readLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const char* start = text_.data() + pos_;
    const std::size_t left = text_.size() - pos_;
    // One byte past the longest line allowed (and its "\r") is as far as a line is looked at.
    const void* nl = std::memchr(start, '\n', std::min(left, kMaxLineBytes + 2));
    std::size_t len = nl ? static_cast<const char*>(nl) - start : left;
    if (len > kMaxLineBytes && !(len == kMaxLineBytes + 1 && start[kMaxLineBytes] == '\r'))
        throw lineTooLongError(line_ + 1);
    line = std::string_view(start, len);
    pos_ += len + (nl ? 1 : 0);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_;
    return true;
}

bool Tokenizer::nextIndexed(Tag& tag) {
    const std::size_t count = index_->begins.size();
    if (tag_ >= count) {
        pos_ = text_.size();
        return false;
    }
    // The code line is the code's digits (and sign) alone, as the converter wrote it.
    tag.begin = index_->begins[tag_];
    const char* c = text_.data() + tag.begin;
    const bool negative = *c == '-';
    if (negative) ++c;
    int code = 0;
    for (; *c != '\n'; ++c) code = code * 10 + (*c - '0');
    tag.code = negative ? -code : code;
    tag.valueBegin = static_cast<std::size_t>(c + 1 - text_.data());
    tag.end = tag_ + 1 < count ? index_->begins[tag_ + 1] : text_.size();
    tag.value = text_.substr(tag.valueBegin, tag.end - 1 - tag.valueBegin);
    tag.line = 2 * tag_ + 1;
    line_ = tag.line + 1;
    pos_ = tag.end;
    ++tag_;
    return true;
}

namespace {

// The first '\n' in [p, limit), or limit. Most lines of a drawing are a handful of
// bytes, too short for a library search to pay for its call: the first bytes are
// tested eight at a time, a longer line is left to memchr.
const char* findNewline(const char* p, const char* limit) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
        for (int k = 0; k < 4 && limit - p >= 8; ++k, p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t x = word ^ (ones * '\n');
            // The lowest flagged byte is the first '\n' (only bytes above a true
            // match can be flagged falsely).
            if (const std::uint64_t hit = (x - ones) & ~x & highs) return p + (std::countr_zero(hit) >> 3);
        }
    }
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(limit - p));
    return nl ? static_cast<const char*>(nl) : limit;
}

bool isDigit(char c) { return static_cast<unsigned>(c - '0') < 10u; }

}  // namespace

// The usual tag in one pass over its two lines: a code line of blanks, a sign and one
// to six digits, blanks, its line end, and a value line. Anything else (the end of the
// text, blank lines, a malformed or overlong line) is left to the line-by-line reading
// below, which knows every rule and says what is wrong; nothing is consumed then.
namespace {

// (A function of this file, not a member, so that it is inlined into next() rather
// than called through the library's symbol table.)
inline bool readTagFast(std::string_view text, std::size_t& pos, std::size_t& line, Tag& tag) {
    const char* const base = text.data();
    const char* const end = base + text.size();
    const char* const begin = base + pos;
    // Blanks are bounded so that a line of nothing but blanks is measured the long way.
    constexpr std::ptrdiff_t kBlanks = 16;
    const char* q = begin;
    if (std::endian::native == std::endian::little && end - begin >= 8) {
        // Codes are right-aligned with a varying number of blanks, which a loop
        // would mispredict: the first byte that is no blank is found in one word.
        constexpr std::uint64_t lows = 0x7F7F7F7F7F7F7F7Fu, highs = 0x8080808080808080u;
        std::uint64_t word;
        std::memcpy(&word, begin, 8);
        const std::uint64_t x = word ^ 0x2020202020202020u;
        const std::uint64_t notBlank = (((x & lows) + lows) | x) & highs;
        if (!notBlank) return false;
        q += std::countr_zero(notBlank) >> 3;
    } else {
        while (q < end && *q == ' ' && q - begin < kBlanks) ++q;
    }
    const bool negative = q < end && *q == '-';
    if (negative) ++q;
    const char* const digits = q;
    int code = 0;
    while (q < end && isDigit(*q) && q - digits < 6) code = code * 10 + (*q++ - '0');
    if (q == digits) return false;
    const char* const blanks = q;
    while (q < end && (*q == ' ' || *q == '\t') && q - blanks < kBlanks) ++q;
    if (q < end && *q == '\r') ++q;
    if (q == end || *q != '\n') return false;
    if (negative) code = -code;
    if (code < kMinGroupCode || code > kMaxGroupCode) return false;
    const char* const value = q + 1;
    const char* const limit = value + std::min<std::size_t>(static_cast<std::size_t>(end - value), kMaxLineBytes + 2);
    const char* const nl = findNewline(value, limit);
    if (nl == limit) return false;  // the last line of the text, or one too long
    std::size_t length = static_cast<std::size_t>(nl - value);
    if (length > 0 && nl[-1] == '\r') --length;
    if (length > kMaxLineBytes) return false;
    tag.begin = pos;
    tag.code = code;
    tag.valueBegin = static_cast<std::size_t>(value - base);
    tag.value = std::string_view(value, length);
    pos = static_cast<std::size_t>(nl + 1 - base);
    tag.end = pos;
    line += 2;
    tag.line = line - 1;
    return true;
}

// valueType() without the call through the symbol table.
inline ValueType typeOf(int code) {
    return code >= kMinGroupCode && code <= kMaxGroupCode ? kCodeTypes.type[code - kMinGroupCode] : typeOfCode(code);
}

}  // namespace

bool Tokenizer::next(Tag& tag) {
    if (index_) return nextIndexed(tag);
    if (!readTagFast(text_, pos_, line_, tag) && !nextByLines(tag)) return false;
    if (!checkValues_) return true;
    const int c = tag.code;
    switch (typeOf(c)) {
    case ValueType::Double: {
        double d = 0;
        bool mayOverflow = false;
        if (looksLikeDouble(tag.value, mayOverflow)) {
            if (mayOverflow && !readDouble(tag.value, d))
                throw DxfError(line_, "group code " + std::to_string(c) + " expects a number, got " +
                                          quoted(tag.value) + ", which is out of the range of numbers");
        } else if (!readDouble(tag.value, d) || !std::isfinite(d)) {
            // Reading the text as a number also takes "nan" and "inf", which no
            // coordinate can be.
            throw DxfError(line_, "group code " + std::to_string(c) + " expects a number, got " + quoted(tag.value));
        }
        break;
    }
    case ValueType::Integer: {
        std::int64_t i;
        if (!readInteger(tag.value, i))
            throw DxfError(line_, "group code " + std::to_string(c) + " expects an integer, got " + quoted(tag.value));
        break;
    }
    case ValueType::Handle:
    case ValueType::String:
        break;
    }
    return true;
}

bool Tokenizer::nextByLines(Tag& tag) {
    std::string_view codeLine;
    tag.begin = pos_;
    if (!readLine(codeLine)) return false;
    std::string_view code = platform::trim(codeLine);
    if (code.empty() || code == "\x1a") {
        // Only blank lines (or the old end-of-file byte) may follow the last pair.
        for (std::string_view rest; readLine(rest);) {
            std::string_view t = platform::trim(rest);
            if (!t.empty() && t != "\x1a")
                throw DxfError(line_, "unexpected text " + quoted(rest) + " after a blank line");
        }
        return false;
    }
    int c = 0;
    if (!readCode(codeLine, c) || c < kMinGroupCode || c > kMaxGroupCode)
        throw DxfError(line_, "expected a group code, got " + quoted(codeLine));
    tag.code = static_cast<int>(c);
    tag.line = line_;
    tag.valueBegin = pos_;
    if (!readLine(tag.value))
        throw DxfError(line_, "the file ends after group code " + std::to_string(c) + " without its value");
    tag.end = pos_;
    return true;
}

double toDouble(std::string_view value) {
    double d = 0;
    readDouble(value, d);
    return d;
}

std::int64_t toInteger(std::string_view value) {
    std::int64_t i = 0;
    readInteger(value, i);
    return i;
}

bool isIntegerText(std::string_view value) {
    std::int64_t i = 0;
    return readInteger(value, i);
}

bool parseHandle(std::string_view text, std::uint64_t& handle) {
    text = platform::trim(text);
    if (text.empty() || text.size() > 16) return false;
    auto r = std::from_chars(text.data(), text.data() + text.size(), handle, 16);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::string formatDouble(double value) {
    if (value == 0) value = 0;  // no "-0.0"
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    if (std::isfinite(value) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

bool isBinaryDxf(std::string_view text) { return text.substr(0, 18) == "AutoCAD Binary DXF"; }

}  // namespace dxf
