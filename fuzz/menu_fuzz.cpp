// libFuzzer target for menu files: any text is read as a menu or refused with a
// reason, never both. A menu read gives every item that is no separator the input
// its own macro types (reading the macro alone agrees), an input in which only a
// cancel line holds a control character, and a title to every pull-down menu and
// toolbar.
#include "host/MenuFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void checkItem(const host::MenuItem& item) {
    if (item.isSeparator) return;
    std::string error;
    std::optional<std::string> input = host::menuMacroInput(item.macro, error);
    if (!input || *input != item.input) std::abort();
    std::size_t start = 0;
    while (start < input->size()) {
        std::size_t end = input->find('\n', start);
        if (end == std::string::npos) end = input->size();
        std::string_view line(*input);
        line = line.substr(start, end - start);
        if (line != "\x03")
            for (char c : line)
                if (static_cast<unsigned char>(c) < 0x20) std::abort();
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    host::MenuFileResult parsed = host::parseMenuFile(text);
    if (parsed.menu.has_value() == !parsed.error.empty()) std::abort();
    if (!parsed.menu) return 0;
    if (parsed.menu->groupName.empty()) std::abort();
    for (const host::PullDownMenu& menu : parsed.menu->menus) {
        if (menu.title.empty()) std::abort();
        for (const host::MenuItem& item : menu.items) checkItem(item);
    }
    for (const host::Toolbar& toolbar : parsed.menu->toolbars) {
        if (toolbar.title.empty()) std::abort();
        for (const host::MenuItem& button : toolbar.buttons) checkItem(button);
    }
    return 0;
}
