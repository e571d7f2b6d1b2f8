// libFuzzer target for the settings file's integer entries: the input is a number,
// names and a file's bytes. The leading-integer reading agrees with the C library's
// strtol clamped to int on any text; an entry read from any file gives what that
// reading gives for the entry's text; an integer written as its decimal text reads
// back as that integer, whatever else the file holds.
#include "module/settings/SettingsFile.h"
#include "platform/Profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string& iniPath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "settings-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/settings.ini";
    }();
    return path;
}

// atoi with saturation, by way of the C library (the process runs in the "C"
// locale, whose white space is the six characters the settings reader skips).
int referenceInt(const char* text) {
    errno = 0;
    long long v = std::strtoll(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    FuzzedDataProvider input(data, size);
    const int number = input.ConsumeIntegral<int>();
    const std::string section = input.ConsumeRandomLengthString(16).c_str();
    const std::string key = input.ConsumeRandomLengthString(16).c_str();
    const std::string file = input.ConsumeRemainingBytesAsString();

    // The reading itself, on the whole input taken as text.
    if (tabro::parseLeadingInt(file.c_str()) != referenceInt(file.c_str())) __builtin_trap();

    {
        std::ofstream out(iniPath(), std::ios::binary | std::ios::trunc);
        out << file;
    }
    // Whatever the file holds under the names: the reading of the entry's text.
    char text[256];
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", text, sizeof text, iniPath().c_str());
    int read = 12345;
    bool found = tabro::readProfileInt(iniPath(), section, key, read);
    if (found != (length != 0)) __builtin_trap();
    if (found && read != referenceInt(text)) __builtin_trap();
    if (!found && read != 12345) __builtin_trap();

    // Names the file could hold are written, and the number comes back.
    if (!tabro::writeProfileInt(iniPath(), section, key, number)) return 0;
    int back = 0;
    if (!tabro::readProfileInt(iniPath(), section, key, back) || back != number) __builtin_trap();
    return 0;
}
