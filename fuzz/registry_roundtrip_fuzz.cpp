// libFuzzer target for the registry as a store over its hive file: the input is a
// hive file's text followed by one write. What the file holds reads back through
// the registry calls exactly as the file format reads it; after the write (a value
// set in an existing or a new key) every other value of the file still reads back
// unchanged, the written one reads back as written, and no value appears or
// vanishes. The same is checked on the format alone: parse, change, print, parse.
#include "platform/Registry.h"
#include "platform/RegistryFormat.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::regfile::Hive;
using platform::regfile::Key;
using platform::regfile::Value;

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

const std::string& home() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "regrt-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        ::setenv("CADHOST_HOME", pattern.c_str(), 1);
        return pattern;
    }();
    return folder;
}

// The registry calls refuse names the hive file could not hold on a line of its own,
// and take names as C text; keys and values with a line break or a NUL in their
// names are reachable through the format only.
bool reachable(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool sameValue(const Value& a, const Value& b) { return a.type == b.type && a.data == b.data; }

// Values by key path and name as the store compares them (ASCII case folded).
const Value* lookUp(Hive& hive, std::string_view path, std::string_view name) {
    Key* key = platform::regfile::findKey(hive, path);
    return key ? platform::regfile::findValue(*key, name) : nullptr;
}

std::size_t valueCount(const Hive& hive) {
    std::size_t n = 0;
    for (const Key& k : hive.keys) n += k.values.size();
    return n;
}

// The format on its own: a value set in a copy of the parsed hive changes that value
// and nothing else once printed and read again.
void checkFormat(const Hive& original, const std::string& path, const Value& written) {
    Hive changed = original;
    Key* key = platform::regfile::findKey(changed, path);
    if (!key) {
        changed.keys.push_back(Key{path, {}});
        key = &changed.keys.back();
    }
    if (Value* old = platform::regfile::findValue(*key, written.name))
        *old = written;
    else
        key->values.push_back(written);
    Hive again = platform::regfile::parse(platform::regfile::format(changed, kRoot), kRoot);
    if (again.damaged) __builtin_trap();
    Hive before = original;
    for (const Key& k : original.keys)
        for (const Value& v : k.values) {
            if (platform::regfile::equalNoCase(k.path, path) && platform::regfile::equalNoCase(v.name, written.name))
                continue;
            const Value* back = lookUp(again, k.path, v.name);
            if (!back || !sameValue(*back, v)) __builtin_trap();
        }
    const Value* back = lookUp(again, path, written.name);
    if (!back || !sameValue(*back, written)) __builtin_trap();
    const bool replaced = lookUp(before, path, written.name) != nullptr;
    if (valueCount(again) != valueCount(original) + (replaced ? 0 : 1)) __builtin_trap();
}

// What the registry calls read for one value; false when it is absent.
bool query(const std::string& path, const std::string& name, Value& out) {
    platform::RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<BYTE> data(size + 1);
    DWORD got = size + 1;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data.data(), &got) != ERROR_SUCCESS) __builtin_trap();
    if (got != size) __builtin_trap();
    data.resize(got);
    out.type = type;
    out.data = std::move(data);
    return true;
}

DWORD valuesOf(const std::string& path) {
    platform::RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) __builtin_trap();
    DWORD values = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        __builtin_trap();
    return values;
}

bool keyReachable(const Key& k) { return reachable(k.path); }

bool valueReachable(const Key& k, const Value& v) { return keyReachable(k) && reachable(v.name); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // The write comes first so that the rest, the file, keeps its shape under mutation.
    const bool existingKey = input.ConsumeBool();
    const std::size_t keyChoice = input.ConsumeIntegral<std::uint8_t>();
    std::string newPath = input.ConsumeRandomLengthString(40);
    std::string valueName = input.ConsumeRandomLengthString(40);
    Value written;
    written.type = input.ConsumeIntegralInRange<DWORD>(0, 12);
    std::string bytes = input.ConsumeRandomLengthString(200);
    written.data.assign(bytes.begin(), bytes.end());
    const std::string text = input.ConsumeRemainingBytesAsString();

    Hive original = platform::regfile::parse(text, kRoot);

    // The target key: one of the file's (when it can be reached) or a new path.
    std::string path;
    if (existingKey && !original.keys.empty()) {
        path = original.keys[keyChoice % original.keys.size()].path;
    } else {
        path = newPath;
    }
    if (!reachable(path) || !reachable(valueName)) return 0;
    // Paths the registry calls refuse (an empty component, a leading backslash) name no key.
    if (!path.empty() && (path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos))
        return 0;
    written.name = valueName;

    checkFormat(original, path, written);

    // Through the store: the file as given, then the write.
    const std::string& folder = home();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder + "/user.reg", std::ios::binary);
        out << text;
    }
    // Every value of the file reads through the registry calls as the format reads it.
    for (const Key& k : original.keys)
        for (const Value& v : k.values) {
            if (!valueReachable(k, v)) continue;
            Value got;
            if (!query(k.path, v.name, got) || !sameValue(got, v)) __builtin_trap();
        }

    platform::RegistryKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return 0;  // a key below a name the file could not hold, say
    if (RegSetValueExA(key.get(), valueName.c_str(), 0, written.type, written.data.data(),
                       static_cast<DWORD>(written.data.size())) != ERROR_SUCCESS)
        __builtin_trap();
    key.close();

    Value got;
    if (!query(path, valueName, got) || !sameValue(got, written)) __builtin_trap();
    for (const Key& k : original.keys) {
        if (!keyReachable(k)) continue;
        const bool target = platform::regfile::equalNoCase(k.path, path);
        bool replaced = false;
        for (const Value& v : k.values) {
            if (target && platform::regfile::equalNoCase(v.name, valueName)) {
                replaced = true;
                continue;
            }
            if (!valueReachable(k, v)) continue;
            if (!query(k.path, v.name, got) || !sameValue(got, v)) __builtin_trap();
        }
        // No value appears or vanishes in any key the file had.
        if (valuesOf(k.path) != k.values.size() + (target && !replaced ? 1 : 0)) __builtin_trap();
    }
    return 0;
}
