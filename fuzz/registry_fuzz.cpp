// libFuzzer target for the hive file format: any text reads (what cannot be read
// marks the hive damaged), and what is printed reads back undamaged to the same
// keys and values and prints the same again.
#include "platform/RegistryFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using platform::regfile::Hive;

bool sameHive(const Hive& a, const Hive& b) {
    if (a.keys.size() != b.keys.size()) return false;
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const auto& x = a.keys[k];
        const auto& y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size()) return false;
        for (std::size_t v = 0; v < x.values.size(); ++v) {
            const auto& p = x.values[v];
            const auto& q = y.values[v];
            if (p.name != q.name || p.type != q.type || p.data != q.data) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Hive hive = platform::regfile::parse(text, kRoot);
    std::string printed = platform::regfile::format(hive, kRoot);
    Hive again = platform::regfile::parse(printed, kRoot);
    if (again.damaged || !sameHive(hive, again)) __builtin_trap();
    if (platform::regfile::format(again, kRoot) != printed) __builtin_trap();
    return 0;
}
