// libFuzzer target for help pages as terminal text: any bytes become text in one
// pass, every line ends with "\n", and the text grows at most by a constant factor
// (nesting cannot multiply the blanks in front of each line).
#include "platform/htmlhelp/HtmlText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int width = 20 + data[0] % 100;
    std::string_view html(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string text = hhctrl::htmlToText(html, width);
    if (!text.empty() && text.back() != '\n') std::abort();
    // Text can only grow by what wrapping, list marks and underlines add.
    if (text.size() > 8 * html.size() + 64) std::abort();
    return 0;
}
