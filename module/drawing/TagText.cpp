// Tag comparison with an ASCII fast path: a row of a long import compares every
// column's tag with every attribute's, so decoding each time would dominate.
#include "module/drawing/TagText.h"

#include <climits>
#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace tabro {

namespace {

constexpr char32_t foldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Reads one character of a tag and folds it. The comparison and the key fold every
// character the same way, so that equal keys and equal tags are the same thing: an
// ASCII character (a byte below 0x80 outside a multibyte character) by the fixed
// rule, whatever the locale; any other by towlower; a byte that does not decode as
// 0xDC00 plus the byte, which no decoded character folds to.
class FoldedReader {
public:
    explicit FoldedReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}
    bool done() const { return p_ == end_; }
    char32_t next() {
        const auto c = static_cast<unsigned char>(*p_);
        if (c < 0x80) {
            ++p_;
            return foldAscii(c);
        }
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, p_, static_cast<std::size_t>(end_ - p_), &state_);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
            state_ = std::mbstate_t{};
            ++p_;
            return 0xDC00u + c;
        }
        p_ += n;
        if (static_cast<std::uint32_t>(wc) < 0x80) return foldAscii(static_cast<unsigned char>(wc));
        return static_cast<char32_t>(std::towlower(static_cast<std::wint_t>(wc)));
    }

private:
    const char* p_;
    const char* end_;
    std::mbstate_t state_{};
};

}  // namespace

bool sameTagText(const char* a, const char* b) {
    const auto* p = reinterpret_cast<const unsigned char*>(a);
    const auto* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        const unsigned char c = *p, d = *q;
        if ((c | d) & 0x80) break;  // a multibyte character: let the locale decide
        if (foldAscii(c) != foldAscii(d)) return false;
        if (c == 0) return true;
    }
    FoldedReader x(reinterpret_cast<const char*>(p)), y(reinterpret_cast<const char*>(q));
    while (!x.done() && !y.done())
        if (x.next() != y.next()) return false;
    return x.done() && y.done();
}

std::string tagKey(std::string_view tag) {
    std::string key;
    key.reserve(tag.size());
    FoldedReader reader(tag);
    while (!reader.done()) {
        // Each folded character as UTF-8 (surrogate values included): one
        // character, one sequence, so different sequences of characters never
        // make the same bytes.
        const char32_t cp = reader.next();
        if (cp < 0x80) {
            key.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            key.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            key.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            key.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            key.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            key.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            key.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            key.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return key;
}

}  // namespace tabro
