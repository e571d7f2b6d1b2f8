// The "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" text of identifiers.
#include "platform/Guid.h"

#include <cstdio>

namespace platform {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly `digits` hexadecimal digits at text[pos].
bool readHex(std::string_view text, std::size_t pos, int digits, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = hexValue(text[pos + i]);
        if (v < 0) return false;
        value = (value << 4) | static_cast<std::uint32_t>(v);
    }
    return true;
}

}  // namespace

std::string guidToString(const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

std::optional<GUID> guidFromString(std::string_view text) {
    // {8-4-4-4-12}: 38 characters with fixed dash positions.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;
    GUID g{};
    std::uint32_t v = 0;
    if (!readHex(text, 1, 8, v)) return std::nullopt;
    g.Data1 = v;
    if (!readHex(text, 10, 4, v)) return std::nullopt;
    g.Data2 = static_cast<WORD>(v);
    if (!readHex(text, 15, 4, v)) return std::nullopt;
    g.Data3 = static_cast<WORD>(v);
    static constexpr std::size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!readHex(text, bytePos[i], 2, v)) return std::nullopt;
        g.Data4[i] = static_cast<BYTE>(v);
    }
    return g;
}

}  // namespace platform
