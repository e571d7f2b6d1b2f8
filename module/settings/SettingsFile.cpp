// Integer entries of the settings file over the profile calls.
#include "module/settings/SettingsFile.h"

#include "platform/Profile.h"

#include <climits>
#include <cstdio>

namespace tabro {

int parseLeadingInt(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Accumulated as a negative number so that INT_MIN itself needs no special case.
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 - (*p - '0');
        if (value < INT_MIN) return negative ? INT_MIN : INT_MAX;
    }
    if (negative) return static_cast<int>(value);
    return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}

bool readProfileInt(const std::string& file, const std::string& section, const std::string& key, int& out) {
    char buffer[256];
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer, file.c_str());
    if (length == 0) return false;
    out = parseLeadingInt(buffer);
    return true;
}

bool writeProfileInt(const std::string& file, const std::string& section, const std::string& key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), text, file.c_str()) != 0;
}

}  // namespace tabro
