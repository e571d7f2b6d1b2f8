// Text conversion through iconv, and the locale-aware multibyte comparison.
#include "platform/Text.h"

#include <iconv.h>
#include <langinfo.h>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

constexpr const char* wideCodeSet = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// iconv descriptors are costly to open and not shareable between threads: each
// thread keeps the few it has used, keyed by (to, from), and resets one before use.
class IconvCache {
public:
    ~IconvCache() {
        for (auto& e : entries_) iconv_close(e.cd);
    }
    // Null when iconv does not know one of the code sets.
    iconv_t get(const std::string& to, const std::string& from) {
        for (auto& e : entries_) {
            if (e.to == to && e.from == from) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
                return e.cd;
            }
        }
        iconv_t cd = iconv_open(to.c_str(), from.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
        if (entries_.size() >= maxEntries) {
            iconv_close(entries_.front().cd);
            entries_.erase(entries_.begin());
        }
        entries_.push_back({to, from, cd});
        return cd;
    }

private:
    static constexpr std::size_t maxEntries = 8;
    struct Entry {
        std::string to, from;
        iconv_t cd;
    };
    std::vector<Entry> entries_;
};

thread_local IconvCache iconvCache;

bool isUtf8Name(const std::string& name) {
    std::string n;
    for (char c : name)
        if (c != '-' && c != '_') n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return n == "UTF8";
}

// The iconv name of a code page, or empty when the number cannot be one.
std::string codeSetOf(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
        return platform::localeCodeSet();
    case CP_UTF8:
        return "UTF-8";
    case 2:      // CP_MACCP
    case 42:     // CP_SYMBOL
    case 65000:  // CP_UTF7
        return {};
    default:
        return "CP" + std::to_string(codePage);
    }
}

enum class Outcome { ok, unknownCodeSet, invalidInput };

// Decodes src from codeSet. With strict, a byte that starts no valid sequence fails
// the whole conversion; otherwise it becomes U+FFFD and decoding resumes after it.
Outcome decode(const std::string& codeSet, std::string_view src, bool strict, std::u16string& out) {
    out.clear();
    iconv_t cd = iconvCache.get(wideCodeSet, codeSet);
    if (!cd) return Outcome::unknownCodeSet;
    char* in = const_cast<char*>(src.data());
    std::size_t inLeft = src.size();
    std::vector<char> buffer(src.size() * 4 + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        std::size_t produced = buffer.size() - outLeft;
        out.append(reinterpret_cast<const char16_t*>(buffer.data()), produced / 2);
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ, or EINVAL for a sequence cut off by the end of the input.
        if (strict) return Outcome::invalidInput;
        out.push_back(u'\uFFFD');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return Outcome::ok;
}

struct EncodeOptions {
    bool strict = false;        // a lone surrogate fails the conversion
    std::string replacement;    // for characters the target lacks
    std::string surrogateText;  // for a lone surrogate
};

Outcome encode(const std::string& codeSet, std::u16string_view src, const EncodeOptions& options, std::string& out,
               bool& usedDefault) {
    out.clear();
    usedDefault = false;
    iconv_t cd = iconvCache.get(codeSet, wideCodeSet);
    if (!cd) return Outcome::unknownCodeSet;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(src.data()));
    std::size_t inLeft = src.size() * 2;
    std::vector<char> buffer(src.size() * 4 + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // The unit at `in` is a character the target lacks, or a lone surrogate.
        const char16_t* unit = reinterpret_cast<const char16_t*>(in);
        std::size_t unitsLeft = inLeft / 2;
        bool isPair =
            unitsLeft >= 2 && unit[0] >= 0xD800 && unit[0] <= 0xDBFF && unit[1] >= 0xDC00 && unit[1] <= 0xDFFF;
        bool isSurrogate = !isPair && unit[0] >= 0xD800 && unit[0] <= 0xDFFF;
        if (isSurrogate) {
            if (options.strict) return Outcome::invalidInput;
            out += options.surrogateText;
            if (options.surrogateText == options.replacement) usedDefault = true;
        } else {
            out += options.replacement;
            usedDefault = true;
        }
        std::size_t skip = isPair ? 4 : 2;
        if (inLeft < skip) skip = inLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return Outcome::ok;
}

template <class Char>
int copyOut(const std::basic_string<Char>& converted, Char* dst, int dstLen) {
    if (converted.size() > 0x7FFFFFFF) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    int size = static_cast<int>(converted.size());
    if (dstLen == 0) return size;
    if (size > dstLen) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(dst, converted.data(), converted.size() * sizeof(Char));
    return size;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, OLECHAR* dst, int dstLen) {
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string codeSet = codeSetOf(codePage);
    if (codeSet.empty()) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::size_t length = srcLen == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLen);
    std::u16string converted;
    switch (decode(codeSet, {src, length}, (flags & MB_ERR_INVALID_CHARS) != 0, converted)) {
    case Outcome::unknownCodeSet:
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    case Outcome::invalidInput:
        lastError = ERROR_NO_UNICODE_TRANSLATION;
        return 0;
    case Outcome::ok:
        break;
    }
    return copyOut(converted, dst, dstLen);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string codeSet = codeSetOf(codePage);
    bool isUtf8Page = codePage == CP_UTF8;
    if (codeSet.empty() || (isUtf8Page && (defaultChar || usedDefault))) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::size_t length = srcLen == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<std::size_t>(srcLen);
    EncodeOptions options;
    options.replacement = defaultChar && *defaultChar ? std::string(defaultChar) : std::string("?");
    if (isUtf8Page || isUtf8Name(codeSet)) {
        // UTF-8 can hold every character; only a lone surrogate needs a stand-in,
        // and the UTF-8 code page gives U+FFFD for it.
        options.strict = (flags & WC_ERR_INVALID_CHARS) != 0;
        options.surrogateText = isUtf8Page ? "\xEF\xBF\xBD" : options.replacement;
    } else {
        options.surrogateText = options.replacement;
    }
    std::string converted;
    bool replaced = false;
    switch (encode(codeSet, {src, length}, options, converted, replaced)) {
    case Outcome::unknownCodeSet:
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    case Outcome::invalidInput:
        lastError = ERROR_NO_UNICODE_TRANSLATION;
        return 0;
    case Outcome::ok:
        break;
    }
    int written = copyOut(converted, dst, dstLen);
    if (written && usedDefault) *usedDefault = replaced ? TRUE : FALSE;
    return written;
}

int _mbsicmp(const unsigned char* a, const unsigned char* b) {
    // Next character of s, folded; 0 at the terminator.
    auto next = [](const unsigned char*& s, std::mbstate_t& state) -> std::uint32_t {
        if (*s == 0) return 0;
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, reinterpret_cast<const char*>(s), MB_LEN_MAX, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
            state = std::mbstate_t{};
            return 0xDC00u + *s++;
        }
        s += n;
        return static_cast<std::uint32_t>(std::towlower(static_cast<wint_t>(wc)));
    };
    std::mbstate_t stateA{}, stateB{};
    for (;;) {
        std::uint32_t ca = next(a, stateA);
        std::uint32_t cb = next(b, stateB);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

namespace platform {

std::string localeCodeSet() {
    const char* name = nl_langinfo(CODESET);
    return name && *name ? std::string(name) : std::string("ANSI_X3.4-1968");
}

namespace {

std::optional<std::u16string> decodeStrict(const std::string& codeSet, std::string_view src) {
    std::u16string out;
    if (src.empty()) return out;
    if (decode(codeSet, src, true, out) != Outcome::ok) return std::nullopt;
    return out;
}

std::optional<std::string> encodeStrict(const std::string& codeSet, std::u16string_view src) {
    std::string out;
    if (src.empty()) return out;
    EncodeOptions options;
    options.strict = true;
    options.replacement = "?";
    bool replaced = false;
    if (encode(codeSet, src, options, out, replaced) != Outcome::ok) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::u16string> toWide(std::string_view src) { return decodeStrict(localeCodeSet(), src); }
std::optional<std::string> toMultiByte(std::u16string_view src) { return encodeStrict(localeCodeSet(), src); }
std::optional<std::u16string> utf8ToWide(std::string_view src) { return decodeStrict("UTF-8", src); }
std::optional<std::string> wideToUtf8(std::u16string_view src) { return encodeStrict("UTF-8", src); }

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string_view trim(std::string_view s, std::string_view blanks) {
    const std::size_t first = s.find_first_not_of(blanks);
    // Empty, but still pointing into `s`: callers copy from data() without a check.
    if (first == std::string_view::npos) return s.substr(s.size());
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace platform
