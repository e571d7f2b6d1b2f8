// Text between the office's strings (UTF-16 code units, as automation's) and ours,
// and the URLs it names files by.
#pragma once

#include <rtl/ustring.hxx>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

namespace calc {

using ::rtl::OStringToOUString;
using ::rtl::OUString;
using ::rtl::OUStringToOString;

inline OUString toOUString(std::u16string_view text) {
    return OUString(reinterpret_cast<const sal_Unicode*>(text.data()), static_cast<sal_Int32>(text.size()));
}
inline std::u16string toU16(const OUString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.getStr()), static_cast<std::size_t>(text.getLength()));
}
inline OUString toOUString(std::string_view utf8) {
    return OStringToOUString(rtl::OString(utf8.data(), static_cast<sal_Int32>(utf8.size())), RTL_TEXTENCODING_UTF8);
}
inline OUString toOUString(const std::string& utf8) { return toOUString(std::string_view(utf8)); }
inline OUString toOUString(const char* utf8) { return toOUString(std::string_view(utf8)); }
// The file:// URL the office takes for an absolute path, reserved characters escaped.
inline std::string fileUrl(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

inline std::string toUtf8(const OUString& text) {
    rtl::OString bytes = OUStringToOString(text, RTL_TEXTENCODING_UTF8);
    return std::string(bytes.getStr(), static_cast<std::size_t>(bytes.getLength()));
}

}  // namespace calc
