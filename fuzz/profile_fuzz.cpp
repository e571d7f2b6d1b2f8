// libFuzzer target for profile (INI) files: the input is one entry to write followed
// by a file's bytes. Every entry the file shows (each section the section list
// names, each key its key list names) keeps its value when another entry is
// written; the written entry reads back as the reader gives text (blanks trimmed,
// one pair of surrounding quotes taken off); no entry appears but the written one,
// none vanishes. A write that is refused must be one the file could not hold.
#include "platform/LastError.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

const std::string& iniPath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "profile-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/fuzz.ini";
    }();
    return path;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A NUL-separated list ending in a second NUL, as the list calls give it.
std::vector<std::string> readList(const char* section) {
    std::vector<char> buf(1 << 20);
    DWORD n = GetPrivateProfileStringA(section, nullptr, nullptr, buf.data(), static_cast<DWORD>(buf.size()),
                                       iniPath().c_str());
    if (n + 2 > buf.size()) std::abort();  // bounded by the file size below
    std::vector<std::string> names;
    for (std::size_t pos = 0; pos < n;) {
        std::string name(buf.data() + pos);
        pos += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

std::string readEntry(const std::string& section, const std::string& key) {
    std::vector<char> buf(1 << 20);
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing", buf.data(),
                                       static_cast<DWORD>(buf.size()), iniPath().c_str());
    // The count, not the terminator, ends the text: a file's value may hold a NUL.
    return std::string(buf.data(), n);
}

// Entries as the reader shows them, by folded section and key names. Names that the
// reader would not find again when asked by that name (a name with blanks around it
// or with an embedded NUL) are left out: asking for them is not the same question.
using Entries = std::map<std::pair<std::string, std::string>, std::string>;

Entries readAll() {
    Entries entries;
    for (const std::string& section : readList(nullptr)) {
        for (const std::string& key : readList(section.c_str())) {
            auto name = std::make_pair(lower(section), lower(key));
            if (entries.count(name)) continue;
            entries[name] = readEntry(section, key);
        }
    }
    return entries;
}

std::string expectedText(std::string_view value) {
    std::string_view v = platform::trim(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool holdsLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// What the writer documents as text the file could not give back.
bool writable(const std::string& section, const std::string& key, const std::string& value) {
    if (holdsLineBreak(section) || section.find(']') != std::string::npos || holdsLineBreak(key) ||
        holdsLineBreak(value))
        return false;
    std::string_view k = platform::trim(key);
    return !k.empty() && k.find('=') == std::string_view::npos && k[0] != '[' && k[0] != ';';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    FuzzedDataProvider input(data, size);
    // C strings end at the first NUL: the call sees only that much.
    const std::string section = input.ConsumeRandomLengthString(24).c_str();
    const std::string key = input.ConsumeRandomLengthString(24).c_str();
    const std::string value = input.ConsumeRandomLengthString(48).c_str();
    const std::string file = input.ConsumeRemainingBytesAsString();
    {
        std::ofstream out(iniPath(), std::ios::binary | std::ios::trunc);
        out << file;
    }
    const Entries before = readAll();

    SetLastError(0);
    BOOL ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), iniPath().c_str());
    if (!writable(section, key, value)) {
        if (ok || GetLastError() != ERROR_INVALID_PARAMETER) __builtin_trap();
        return 0;
    }
    if (!ok) __builtin_trap();

    // The written entry reads back when asked by the names it was written with.
    if (readEntry(section, key) != expectedText(value)) __builtin_trap();

    // A NUL in the file ends a name in the lists early, so they no longer name what
    // the file holds; such a file is only read and written without fault.
    if (file.find('\0') != std::string::npos) return 0;
    const Entries after = readAll();
    // The names the written entry shows under in the lists.
    const auto written = std::make_pair(lower(platform::trim(section)), lower(platform::trim(key)));
    for (const auto& [name, text] : before) {
        if (name == written) continue;
        auto it = after.find(name);
        if (it == after.end() || it->second != text) __builtin_trap();
    }
    for (const auto& [name, text] : after) {
        if (name == written) {
            if (text != expectedText(value)) __builtin_trap();
            continue;
        }
        if (!before.count(name)) __builtin_trap();
    }
    if (!after.count(written)) __builtin_trap();
    return 0;
}
