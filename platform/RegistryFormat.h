// The hive file format on its own: the text the registry editor exports, read into
// keys and typed values and printed back. Pure functions on text, no I/O, so that
// the format can be tested and fuzzed apart from the store.
#pragma once

#include "platform/Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::regfile {

inline constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

// The deepest a key may lie below its hive's root, in levels, as on the platform. A
// section named deeper is not read (its keys could otherwise cost memory and time
// out of all proportion to the file), and a key so deep is not created.
inline constexpr std::size_t kMaxKeyDepth = 512;

struct Value {
    std::string name;  // empty for the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
struct Key {
    std::string path;  // below the hive root, components joined by '\'; empty for the root
    std::vector<Value> values;
};
struct Hive {
    std::vector<Key> keys;  // in file order
    bool damaged = false;   // something in the file could not be read
    // The line (from 1) of the first section refused for lying deeper than
    // kMaxKeyDepth, 0 when there was none; such a hive is damaged too.
    std::size_t tooDeepLine = 0;
};

// Key and value names compare without regard to ASCII case.
bool equalNoCase(std::string_view a, std::string_view b);
// How many levels below the root a key path lies: 0 for the root, 1 for "A", 2 for
// "A\\B".
std::size_t keyDepth(std::string_view path);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// Null when absent.
Key* findKey(Hive& hive, std::string_view path);
Value* findValue(Key& key, std::string_view name);

// Reads a hive file's text (UTF-8, with or without a byte order mark, or UTF-16LE
// with one, as the editor itself writes) whose sections lie under `rootName`
// ("HKEY_CURRENT_USER"). What can be read is kept; a missing or foreign header, a
// section of another hive, a malformed section name or value line and a wrapped
// list cut short mark the hive damaged and are skipped, and so is a section deeper
// than kMaxKeyDepth with its values. Deletion entries ("-" for a value, "[-...]" for
// a key) remove nothing that is not in the same text. A key named twice has its
// sections merged, a value named twice keeps the later data.
Hive parse(std::string_view text, std::string_view rootName);

// The hive as the editor exports it (UTF-8, LF line endings): the header, then each
// key's section in order with its values; texts with a line break, inner NUL or no
// terminator are written as hex(1) so they come back unchanged. parse(format(h))
// gives back h's keys and values.
std::string format(const Hive& hive, std::string_view rootName);

}  // namespace platform::regfile
