// UTF-8 <-> UTF-16 for the package's XML, which is always UTF-8 whatever the
// process locale is.
#pragma once

#include <string>
#include <string_view>

namespace automation {

// Invalid sequences become U+FFFD (the XML reader has already rejected invalid UTF-8 in
// documents, so this only matters for text that did not come through it).
std::u16string utf8ToUtf16(std::string_view text);
// Lone surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
void appendUtf8(std::string& out, std::u16string_view text);
// Number of characters (code points) of UTF-16 text.
std::size_t codePointCount(std::u16string_view text);

}  // namespace automation
