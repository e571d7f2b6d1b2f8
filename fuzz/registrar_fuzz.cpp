// libFuzzer target for registry scripts (reading only, nothing is written): any
// text, taken as UTF-8, is read or refused with a reason and a line within it.
#include "platform/Registrar.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto script = platform::utf8ToWide(bytes);
    if (!script) return 0;
    const platform::RegistryReplacements replacements = {{u"MODULE", u"/opt/tabro/tabro.so"}, {u"Q", u"'"}};
    platform::RegistryScriptError error;
    HRESULT hr = platform::checkRegistryScript(*script, replacements, &error);
    if (hr == S_OK) return 0;
    const auto lines = static_cast<std::size_t>(std::count(script->begin(), script->end(), u'\n')) + 1;
    if (hr != DISP_E_EXCEPTION || error.reason.empty() || error.line > lines) __builtin_trap();
    return 0;
}
