#include "host/dxf/DxfCodePage.h"

#include "platform/Text.h"

#include <iconv.h>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

namespace dxf {

namespace {

// Owns one iconv descriptor; conversion failures are answered at this edge.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts as much as it can; returns false on an invalid or unconvertible sequence
    // (in points at it), true when all of the input was converted.
    bool convert(const char*& in, std::size_t& inLeft, std::string& out) const {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buf[512];
        while (inLeft > 0) {
            char* o = buf;
            std::size_t oLeft = sizeof buf;
            char* i = const_cast<char*>(in);
            std::size_t r = iconv(cd_, &i, &inLeft, &o, &oLeft);
            in = i;
            out.append(buf, o);
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG) continue;
                return false;
            }
        }
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        iconv(cd_, nullptr, nullptr, &o, &oLeft);
        out.append(buf, o);
        return true;
    }

private:
    iconv_t cd_;
};

bool isAsciiOnly(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// ASCII without a backslash, which could begin a \U+XXXX escape: text that decodes
// to itself, as ASCII is read whatever the code page. Most values of a drawing are
// such (numbers, handles, layer names, labels), so they are copied in one look at
// eight bytes at a time instead of a conversion and a search for escapes.
bool isPlainAscii(std::string_view s) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const char* p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        const std::uint64_t backslash = word ^ (ones * '\\');
        if ((word | ((backslash - ones) & ~backslash)) & highs) return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80 || *p == '\\') return false;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Replaces \U+XXXX escapes in UTF-8 text by their characters.
// The code unit of a \U+XXXX escape at s[i]; none when there is no escape there.
std::optional<char32_t> escapeAt(const std::string& s, std::size_t i) {
    if (s[i] != '\\' || i + 7 > s.size() || (s[i + 1] != 'U' && s[i + 1] != 'u') || s[i + 2] != '+') return {};
    char32_t unit = 0;
    for (int k = 3; k < 7; ++k) {
        int h = hexValue(s[i + k]);
        if (h < 0) return {};
        unit = unit * 16 + h;
    }
    return unit;
}

std::string resolveEscapes(std::string s) {
    if (s.find("\\U+") == std::string::npos && s.find("\\u+") == std::string::npos) return s;
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::optional<char32_t> unit = escapeAt(s, i);
        // A character beyond the Basic Multilingual Plane is written as the two
        // escapes of its UTF-16 surrogates; a surrogate alone stays as written.
        if (unit && *unit >= 0xD800 && *unit <= 0xDBFF) {
            std::optional<char32_t> low = escapeAt(s, i + 7);
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                platform::appendUtf8(out, 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00));
                i += 14;
                continue;
            }
        }
        if (unit && *unit != 0 && !(*unit >= 0xD800 && *unit <= 0xDFFF)) {
            platform::appendUtf8(out, *unit);
            i += 7;
            continue;
        }
        out += s[i++];
    }
    return out;
}

// Decodes one UTF-8 sequence; false for an invalid one (then `len` is 1).
bool nextCodePoint(std::string_view s, std::size_t i, char32_t& cp, std::size_t& len) {
    unsigned char c = s[i];
    len = 1;
    if (c < 0x80) {
        cp = c;
        return true;
    }
    int n = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? (c < 0xF0 ? 2 : -1) : c >= 0xC2 ? 1 : -1;
    if (n < 0 || i + n >= s.size()) return false;
    cp = c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
        unsigned char d = s[i + k];
        if ((d & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    len = n + 1;
    return true;
}

}  // namespace

std::string iconvNameOf(std::string_view cp) {
    std::string up;
    for (char c : cp) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!up.empty() && up.back() == ' ') up.pop_back();
    auto digitsAfter = [&](std::string_view prefix) -> std::string {
        if (up.rfind(prefix, 0) != 0) return {};
        std::string d = up.substr(prefix.size());
        if (d.empty() || d.size() > 5) return {};
        for (char c : d)
            if (!std::isdigit(static_cast<unsigned char>(c))) return {};
        return d;
    };
    if (auto d = digitsAfter("ANSI_"); !d.empty()) return "CP" + d;
    if (auto d = digitsAfter("DOS"); !d.empty()) return "CP" + d;
    if (up == "ISO8859-1" || up == "ISO8859_1") return "ISO-8859-1";
    if (up == "BIG5") return "BIG5";
    if (up == "GB2312") return "GBK";
    return {};
}

struct TextCodec::Converters {
    Converters(const std::string& cs) : toUtf8("UTF-8", cs.c_str()), fromUtf8(cs.c_str(), "UTF-8") {}
    Iconv toUtf8;
    Iconv fromUtf8;
};

TextCodec::TextCodec(std::string_view acadVer, std::string_view dwgCodePage) {
    // AC1021 (2007) and later files are UTF-8 whatever their $DWGCODEPAGE says.
    utf8_ = acadVer.size() == 6 && acadVer.substr(0, 2) == "AC" && acadVer >= "AC1021";
    if (utf8_) return;
    std::string charset = iconvNameOf(dwgCodePage);
    if (!charset.empty()) conv_ = std::make_unique<Converters>(charset);
    if (!conv_ || !conv_->toUtf8.ok() || !conv_->fromUtf8.ok()) {
        std::string_view named = dwgCodePage;
        while (!named.empty() && named.back() == ' ') named.remove_suffix(1);
        knowsCodePage_ = named.empty();
        conv_ = std::make_unique<Converters>("CP1252");
    }
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
    std::string decoded, encoded;
    const char* in = ascii.data();
    std::size_t left = ascii.size();
    keepsAscii_ = conv_->toUtf8.convert(in, left, decoded) && decoded == ascii;
    in = ascii.data();
    left = ascii.size();
    keepsAscii_ = keepsAscii_ && conv_->fromUtf8.convert(in, left, encoded) && encoded == ascii;
}

TextCodec::~TextCodec() = default;

bool TextCodec::decodesToItself(std::string_view raw) noexcept { return isPlainAscii(raw); }

std::string TextCodec::decode(std::string_view raw) const {
    if (isPlainAscii(raw)) return std::string(raw);
    if (utf8_ || isAsciiOnly(raw)) return resolveEscapes(std::string(raw));
    std::string out;
    out.reserve(raw.size() * 2);
    const char* in = raw.data();
    std::size_t left = raw.size();
    while (!conv_->toUtf8.convert(in, left, out)) {
        // A byte the code page leaves undefined: keep it as the character of its value.
        platform::appendUtf8(out, static_cast<unsigned char>(*in));
        ++in;
        --left;
    }
    return resolveEscapes(std::move(out));
}

std::string TextCodec::encode(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t len;
        if (!nextCodePoint(text, i, cp, len)) {
            out += "\\U+FFFD";
            i += 1;
            continue;
        }
        if (cp < 0x80 || utf8_) {
            out.append(text.substr(i, len));
            i += len;
            continue;
        }
        const char* in = text.data() + i;
        std::size_t left = len;
        std::string piece;
        if (knowsCodePage_ && conv_->fromUtf8.convert(in, left, piece) && cp <= 0xFFFF) {
            out += piece;
        } else {
            // An escape holds one UTF-16 code unit: a character beyond the Basic
            // Multilingual Plane takes the pair of its surrogates, as drawings made
            // by the CAD program itself carry it.
            char buf[32];
            if (cp <= 0xFFFF)
                std::snprintf(buf, sizeof buf, "\\U+%04X", static_cast<unsigned>(cp));
            else
                std::snprintf(buf, sizeof buf, "\\U+%04X\\U+%04X",
                              static_cast<unsigned>(0xD800 + ((cp - 0x10000) >> 10)),
                              static_cast<unsigned>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            out += buf;
        }
        i += len;
    }
    return out;
}

}  // namespace dxf
