#include "host/db/MTextContents.h"

#include "platform/Text.h"

#include <iconv.h>

#include <optional>

namespace hostdb {

namespace {

constexpr std::string_view kNoBreakSpace = "\u00A0";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `count` hex digits at s[at]; none when they are not all there.
std::optional<unsigned> hexAt(std::string_view s, std::size_t at, std::size_t count) {
    if (at + count > s.size()) return std::nullopt;
    unsigned v = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int h = hexDigit(s[at + k]);
        if (h < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(h);
    }
    return v;
}

// The UTF-16 unit of a \U+XXXX escape at s[i]; none when there is none there.
std::optional<unsigned> unicodeEscapeAt(std::string_view s, std::size_t i) {
    if (i + 7 > s.size() || s[i] != '\\' || (s[i + 1] != 'U' && s[i + 1] != 'u') || s[i + 2] != '+')
        return std::nullopt;
    return hexAt(s, i + 3, 4);
}

bool isHighSurrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The length of the \U+XXXX escape at s[i] with the character it names (a pair of
// surrogates' escapes taken together); 0 when there is no valid one.
std::size_t unicodeEscape(std::string_view s, std::size_t i, char32_t& cp) {
    const std::optional<unsigned> unit = unicodeEscapeAt(s, i);
    if (!unit || *unit == 0) return 0;
    if (isHighSurrogate(*unit)) {
        const std::optional<unsigned> low = unicodeEscapeAt(s, i + 7);
        if (!low || !isLowSurrogate(*low)) return 0;
        cp = 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
        return 14;
    }
    if (isLowSurrogate(*unit)) return 0;
    cp = *unit;
    return 7;
}

// A \M+NXXXX escape at s[i]: a double-byte character XXXX of the code page N
// (the five Asian code pages of the old drawings, as the DWG format numbers them);
// whether there is one, and its code page and bytes.
struct MultibyteEscape {
    const char* charset;
    unsigned code;
};
std::optional<MultibyteEscape> multibyteEscapeAt(std::string_view s, std::size_t i) {
    if (i + 8 > s.size() || s[i] != '\\' || (s[i + 1] != 'M' && s[i + 1] != 'm') || s[i + 2] != '+')
        return std::nullopt;
    static const char* const kCharsets[] = {"CP932", "CP950", "CP949", "JOHAB", "CP936"};
    const char page = s[i + 3];
    if (page < '1' || page > '5') return std::nullopt;
    const std::optional<unsigned> code = hexAt(s, i + 4, 4);
    if (!code) return std::nullopt;
    return MultibyteEscape{kCharsets[page - '1'], *code};
}

// The character of a \M+ escape in UTF-8; none when its code page lacks it.
std::optional<std::string> decodeMultibyte(const MultibyteEscape& e) {
    iconv_t cd = iconv_open("UTF-8", e.charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    char in[2] = {static_cast<char>(e.code >> 8), static_cast<char>(e.code & 0xFF)};
    // A code below 0x100 is one byte of the code page.
    char* inPtr = e.code >> 8 ? in : in + 1;
    std::size_t inLeft = e.code >> 8 ? 2 : 1;
    char out[16];
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || inLeft != 0 || outPtr == out) return std::nullopt;
    return std::string(out, outPtr);
}

// The special characters of text (%%d, %%p, %%c, %%%) and the caret notation of a
// control character at s[i]: what they stand for is appended and their length
// given; 0 when none begins there.
std::size_t special(std::string_view s, std::size_t i, std::string& out) {
    if (s[i] == '%' && i + 2 < s.size() && s[i + 1] == '%') {
        switch (s[i + 2]) {
        case 'd':
        case 'D':
            out += "\u00B0";  // degree sign
            return 3;
        case 'p':
        case 'P':
            out += "\u00B1";  // plus-minus sign
            return 3;
        case 'c':
        case 'C':
            // The sign the drawing's fonts draw for it, as other readers of DXF give it.
            out += "\u00D8";
            return 3;
        case '%':
            out += '%';
            return 3;
        default:
            return 0;
        }
    }
    if (s[i] == '^' && i + 1 < s.size()) {
        // The control characters a text shows: a line feed, a tab, and the carriage
        // return of a line end, which shows nothing. Any other caret is text as
        // written, for a '^' the writer did not escape.
        switch (s[i + 1]) {
        case ' ':
            out += '^';
            return 2;
        case 'J':
            out += '\n';
            return 2;
        case 'I':
            out += '\t';
            return 2;
        case 'M':
            return 2;
        default:
            return 0;
        }
    }
    return 0;
}

// The text of part of a stacked fraction, its special characters decoded.
void appendStackPart(std::string_view part, std::string& out) {
    for (std::size_t i = 0; i < part.size();) {
        if (const std::size_t n = special(part, i, out)) {
            i += n;
            continue;
        }
        out += part[i++];
    }
}

// Format codes whose argument runs to the next ';'.
bool takesArgument(char c) {
    switch (c) {
    case 'A':  // alignment
    case 'C':  // colour index
    case 'c':  // true colour
    case 'f':  // font
    case 'F':  // shape font
    case 'H':  // height
    case 'p':  // paragraph (indents, tabs, alignment, spacing)
    case 'Q':  // obliquing angle
    case 'T':  // tracking
    case 'W':  // width factor
        return true;
    default:
        return false;
    }
}

// Format codes without an argument: underline, overline and strike-through on and
// off, and the break of a dimension's text below its line.
bool isToggle(char c) {
    switch (c) {
    case 'L':
    case 'l':
    case 'O':
    case 'o':
    case 'K':
    case 'k':
    case 'X':
        return true;
    default:
        return false;
    }
}

// The length of the UTF-8 sequence that begins with `lead` (1 for a byte that
// begins none, which is taken alone).
std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// The length of the character at s[i], to the end of its continuation bytes.
std::size_t characterAt(std::string_view s, std::size_t i) {
    std::size_t n = utf8Length(static_cast<unsigned char>(s[i]));
    std::size_t len = 1;
    while (len < n && i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
    return len;
}

}  // namespace

std::string mtextPlainText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    // Where the next ';' is at or after a position: found once and kept while the
    // reading stays before it, so that a text of many codes whose ';' never comes
    // is not searched to its end for each.
    std::size_t semicolon = 0;
    bool semicolonKnown = false;
    auto nextSemicolon = [&](std::size_t from) {
        if (!semicolonKnown || (semicolon != std::string_view::npos && semicolon < from)) {
            semicolon = s.find(';', from);
            semicolonKnown = true;
        }
        return semicolon;
    };
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '{' || c == '}') {  // grouping of formats
            ++i;
            continue;
        }
        if (const std::size_t n = special(s, i, out)) {
            i += n;
            continue;
        }
        if (c != '\\' || i + 1 == s.size()) {
            out += c;
            ++i;
            continue;
        }
        const char code = s[i + 1];
        if (code == 'P' || code == 'N') {  // paragraph and column breaks
            out += '\n';
            i += 2;
        } else if (code == '~') {
            out += kNoBreakSpace;
            i += 2;
        } else if (code == '\\' || code == '{' || code == '}') {
            out += code;
            i += 2;
        } else if (isToggle(code)) {
            i += 2;
        } else if (takesArgument(code)) {
            const std::size_t end = nextSemicolon(i + 2);
            if (end == std::string_view::npos) {
                out += '\\';  // no code after all: its characters are text
                ++i;
            } else {
                i = end + 1;
            }
        } else if (code == 'S') {
            // A stack: upper part, a divider (^ for a tolerance, / for a fraction,
            // # for a diagonal one), lower part, ';'. Files spell the '^' in caret
            // notation ("^ "); a backslash takes the character after it as itself.
            const std::size_t end = nextSemicolon(i + 2);
            if (end == std::string_view::npos) {
                out += '\\';
                ++i;
                continue;
            }
            std::string upper, lower;
            bool divided = false;
            for (std::size_t j = i + 2; j < end; ++j) {
                char ch = s[j];
                if (ch == '\\' && j + 1 < end) {
                    ch = s[++j];
                } else if (!divided && (ch == '^' || ch == '/' || ch == '#')) {
                    divided = true;
                    if (ch == '^' && j + 1 < end && s[j + 1] == ' ') ++j;
                    continue;
                }
                (divided ? lower : upper) += ch;
            }
            appendStackPart(upper, out);
            if (divided) {
                out += '/';
                appendStackPart(lower, out);
            }
            i = end + 1;
        } else if (char32_t cp = 0; std::size_t n = unicodeEscape(s, i, cp)) {
            platform::appendUtf8(out, cp);
            i += n;
        } else if (const std::optional<MultibyteEscape> m = multibyteEscapeAt(s, i)) {
            if (std::optional<std::string> ch = decodeMultibyte(*m)) {
                out += *ch;
                i += 8;
            } else {
                out += '\\';
                ++i;
            }
        } else {
            // No code: the backslash is text, and so is what follows it.
            out += '\\';
            ++i;
        }
    }
    return out;
}

std::vector<std::string> mtextPieces(const dxf::TextCodec& codec, std::string_view s) {
    std::vector<std::string> pieces(1);
    auto add = [&](std::string_view bytes) {
        if (pieces.back().size() + bytes.size() > kMTextPieceBytes) pieces.emplace_back();
        pieces.back() += bytes;
    };
    std::size_t i = 0;
    while (i < s.size()) {
        // One unit that no piece may end inside.
        std::size_t len = characterAt(s, i);
        char32_t cp = 0;
        if (s[i] == '\\' || s[i] == '^') {
            if (std::size_t n = s[i] == '\\' ? unicodeEscape(s, i, cp) : 0)
                len = n;
            else if (s[i] == '\\' && multibyteEscapeAt(s, i))
                len = 8;
            else if (i + 1 < s.size())
                len = 1 + characterAt(s, i + 1);
        }
        const std::string_view unit = s.substr(i, len);
        bool ascii = true;
        for (char ch : unit) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
        // ASCII is the same bytes in every code page a drawing may have.
        if (ascii)
            add(unit);
        else
            add(codec.encode(unit));
        i += len;
    }
    return pieces;
}

}  // namespace hostdb
