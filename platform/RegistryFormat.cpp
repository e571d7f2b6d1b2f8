// The hive file format: reading and printing the registry editor's export text.
#include "platform/RegistryFormat.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace platform::regfile {

namespace {

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = foldAscii(c);
    return out;
}

// FNV-1a of the name as folded.
std::uint64_t foldedHash(std::string_view s) {
    std::uint64_t h = 14695981039346656037ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(foldAscii(c));
        h *= 1099511628211ull;
    }
    return h;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = foldAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads a quoted text at s[pos] == '"' with the format's two escapes (\\ and \");
// pos ends after the closing quote. False for an unterminated text or another escape.
bool readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        // The stretch up to the next quote or escape goes over at once.
        std::size_t stop = s.find_first_of("\"\\", pos);
        if (stop == std::string_view::npos) return false;
        out.append(s, pos, stop - pos);
        pos = stop + 1;
        if (s[stop] == '"') return true;
        if (pos >= s.size()) return false;
        char next = s[pos++];
        if (next != '\\' && next != '"') return false;
        out += next;
    }
    return false;
}

bool readHexBytes(std::string_view s, std::vector<BYTE>& out) {
    out.clear();
    s = trim(s);
    if (s.empty()) return true;
    if (s.back() == ',') s.remove_suffix(1);  // a wrapped list may end in a comma
    std::size_t pos = 0;
    while (true) {
        std::size_t comma = s.find(',', pos);
        std::string_view token = trim(s.substr(pos, comma == std::string_view::npos ? s.npos : comma - pos));
        if (token.empty() || token.size() > 2) return false;
        int value = 0;
        for (char c : token) {
            int d = hexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        out.push_back(static_cast<BYTE>(value));
        if (comma == std::string_view::npos) return true;
        pos = comma + 1;
    }
}

// Where a value line's data begins, just after the '=' that follows the name; npos
// for a malformed name. A quoted name may itself hold '=', so the '=' is looked for
// only after the name.
std::size_t dataStart(std::string_view line) {
    std::size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else if (line[0] == '"') {
        std::string name;
        if (!readQuoted(line, pos, name)) return std::string_view::npos;
    } else {
        return std::string_view::npos;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return std::string_view::npos;
    return pos + 1;
}

enum class LineResult { value, deletion, bad };

// `"Name"=data` or `@=data`. `data` may already include continuation lines.
LineResult readValueLine(std::string_view line, Value& out) {
    std::size_t pos = 0;
    if (line[0] == '@') {
        out.name.clear();
        pos = 1;
    } else if (line[0] == '"') {
        if (!readQuoted(line, pos, out.name)) return LineResult::bad;
    } else {
        return LineResult::bad;
    }
    std::string_view rest = trim(line.substr(pos));
    if (rest.empty() || rest[0] != '=') return LineResult::bad;
    std::string_view data = trim(rest.substr(1));
    if (data == "-") return LineResult::deletion;
    if (!data.empty() && data[0] == '"') {
        std::size_t p = 0;
        std::string text;
        if (!readQuoted(data, p, text) || !trim(data.substr(p)).empty()) return LineResult::bad;
        out.type = REG_SZ;
        out.data.assign(text.begin(), text.end());
        out.data.push_back(0);
        return LineResult::value;
    }
    if (startsWithNoCase(data, "dword:")) {
        std::string_view digits = trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) return LineResult::bad;
        DWORD v = 0;
        for (char c : digits) {
            int d = hexDigit(c);
            if (d < 0) return LineResult::bad;
            v = v * 16 + static_cast<DWORD>(d);
        }
        out.type = REG_DWORD;
        out.data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                    static_cast<BYTE>(v >> 24)};
        return LineResult::value;
    }
    if (startsWithNoCase(data, "hex:")) {
        out.type = REG_BINARY;
        return readHexBytes(data.substr(4), out.data) ? LineResult::value : LineResult::bad;
    }
    if (startsWithNoCase(data, "hex(")) {
        std::size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12) return LineResult::bad;
        DWORD type = 0;
        for (char c : data.substr(4, close - 4)) {
            int d = hexDigit(c);
            if (d < 0) return LineResult::bad;
            type = type * 16 + static_cast<DWORD>(d);
        }
        out.type = type;
        return readHexBytes(data.substr(close + 2), out.data) ? LineResult::value : LineResult::bad;
    }
    return LineResult::bad;
}

// The registry editor itself writes UTF-16LE; a file copied over from such a system
// is read as well and written back as UTF-8 text.
std::string utf16leToUtf8(std::string_view bytes) {
    std::string out;
    std::size_t n = bytes.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            platform::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            platform::appendUtf8(out, 0xFFFD);
        } else {
            platform::appendUtf8(out, u);
        }
    }
    return out;
}

// The hive's sections by name, without regard to ASCII case: a table of the hash of
// each folded name and the key's place, checked against the key's own name, so that
// no name is copied for it and no entry costs an allocation of its own. Open
// addressing, kept at most half full.
class SectionTable {
public:
    explicit SectionTable(Hive& hive) : hive_(hive) {
        for (std::size_t k = 0; k < hive_.keys.size(); ++k) insert(foldedHash(hive_.keys[k].path), k);
    }
    // The key with this path, added at the end when the hive has none.
    Key& find(std::string_view path) {
        const std::uint64_t hash = foldedHash(path);
        if (!slots_.empty()) {
            for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
                const Slot& slot = slots_[i];
                if (slot.place == 0) break;
                if (slot.hash == hash && equalNoCase(hive_.keys[slot.place - 1].path, path))
                    return hive_.keys[slot.place - 1];
            }
        }
        hive_.keys.push_back(Key{std::string(path), {}});
        insert(hash, hive_.keys.size() - 1);
        return hive_.keys.back();
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::size_t place = 0;  // the key's index + 1; 0 for a free slot
    };
    void insert(std::uint64_t hash, std::size_t key) {
        if (2 * (used_ + 1) > slots_.size()) {
            std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
            old.swap(slots_);
            for (const Slot& slot : old)
                if (slot.place != 0) place(slot);
        }
        place(Slot{hash, key + 1});
        ++used_;
    }
    void place(const Slot& slot) {
        std::size_t i = slot.hash & (slots_.size() - 1);
        while (slots_[i].place != 0) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }

    Hive& hive_;
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// The values of the section being read, looked up by name: a value named twice keeps
// its later data, and a key of many thousand values must not make each line search
// all those before it. Few values are simply searched; the index is made once a key
// has more.
class SectionValues {
public:
    void reset(Key* key) {
        key_ = key;
        byName_.clear();
        indexed_ = false;
    }
    Value* find(std::string_view name) {
        if (!indexed_ && key_->values.size() > kSearched) {
            for (std::size_t i = 0; i < key_->values.size(); ++i) byName_.emplace(folded(key_->values[i].name), i);
            indexed_ = true;
        }
        if (!indexed_) return findValue(*key_, name);
        auto it = byName_.find(folded(name));
        return it == byName_.end() ? nullptr : &key_->values[it->second];
    }
    // A value not there yet.
    void add(Value value) {
        if (indexed_) byName_.emplace(folded(value.name), key_->values.size());
        key_->values.push_back(std::move(value));
    }

private:
    static constexpr std::size_t kSearched = 16;
    Key* key_ = nullptr;
    std::unordered_map<std::string, std::size_t> byName_;
    bool indexed_ = false;
};

void parseInto(std::string_view text, std::string_view rootName, Hive& hive) {
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        std::string converted = utf16leToUtf8(text.substr(2));
        parseInto(converted, rootName, hive);
        return;
    }
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    // Lines are taken one at a time from the text, without a table of them all.
    std::size_t pos = 0;
    std::size_t lineNumber = 0;
    auto nextLine = [&](std::string_view& line) {
        if (pos >= text.size()) return false;
        std::size_t nl = text.find('\n', pos);
        line = text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNumber;
        return true;
    };

    std::string_view raw;
    bool more = nextLine(raw);
    while (more && trim(raw).empty()) more = nextLine(raw);
    if (more && (trim(raw) == kHeader || trim(raw) == "REGEDIT4")) {
        more = nextLine(raw);
    } else if (more) {
        hive.damaged = true;
    }

    Key* current = nullptr;  // null before the first section and inside a foreign one
    SectionValues values;
    bool inSection = false;
    // Sections named twice are merged; looked up by name, so that a hive of many keys
    // is read in one pass rather than one pass per key.
    SectionTable sectionOf(hive);
    for (; more; more = nextLine(raw)) {
        std::string_view line = trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            inSection = true;
            current = nullptr;
            std::size_t close = line.rfind(']');
            if (close == std::string_view::npos || !trim(line.substr(close + 1)).empty()) {
                hive.damaged = true;
                continue;
            }
            std::string_view name = line.substr(1, close - 1);
            if (!name.empty() && name[0] == '-') continue;  // a deletion entry: nothing to hold
            std::string_view path;
            if (equalNoCase(name, rootName)) {
                path = {};
            } else if (startsWithNoCase(name, rootName) && name.size() > rootName.size() + 1 &&
                       name[rootName.size()] == '\\') {
                path = name.substr(rootName.size() + 1);
            } else {
                hive.damaged = true;  // another hive's key cannot be kept in this file
                continue;
            }
            bool badPath = !path.empty() && (path.front() == '\\' || path.back() == '\\' ||
                                             path.find("\\\\") != std::string_view::npos);
            if (badPath) {
                hive.damaged = true;
                continue;
            }
            if (keyDepth(path) > kMaxKeyDepth) {
                hive.damaged = true;
                if (hive.tooDeepLine == 0) hive.tooDeepLine = lineNumber;
                continue;
            }
            current = &sectionOf.find(path);
            values.reset(current);
            continue;
        }
        // A wrapped hex list continues on the following lines, each ending in '\'.
        std::string joined;
        std::string_view valueLine = line;
        if (line.back() == '\\') {
            std::size_t data = dataStart(line);
            if (data != std::string_view::npos && startsWithNoCase(trim(line.substr(data)), "hex")) {
                joined.assign(line.substr(0, line.size() - 1));
                bool finished = false;
                std::string_view next;
                while (!finished && nextLine(next)) {
                    next = trim(next);
                    finished = next.empty() || next.back() != '\\';
                    joined.append(finished ? next : next.substr(0, next.size() - 1));
                }
                if (!finished) {  // the file ends inside the list: the value is cut short
                    hive.damaged = true;
                    continue;
                }
                valueLine = joined;
            }
        }
        Value value;
        LineResult r = readValueLine(valueLine, value);
        if (r == LineResult::bad || !inSection) {
            hive.damaged = true;
            continue;
        }
        if (!current) continue;  // inside a section that could not be read
        if (r == LineResult::deletion) {
            std::erase_if(current->values, [&](const Value& v) { return equalNoCase(v.name, value.name); });
            values.reset(current);
        } else if (Value* existing = values.find(value.name)) {
            *existing = std::move(value);
        } else {
            values.add(std::move(value));
        }
    }
}
void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    std::size_t from = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' && s[i] != '"') continue;
        out.append(s, from, i - from);
        out += '\\';
        from = i;
    }
    out.append(s, from, s.size() - from);
    out += '"';
}

bool writableAsText(const std::vector<BYTE>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
    return true;
}

void appendHex(std::string& out, std::size_t lineStart, const std::vector<BYTE>& data) {
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
        if (i + 1 < data.size()) {
            out += ',';
            // Wrapped like the registry editor wraps, so long values stay readable.
            if (out.size() - lineStart > 76) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

}  // namespace

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

std::size_t keyDepth(std::string_view path) {
    if (path.empty()) return 0;
    return 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\'));
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

Key* findKey(Hive& hive, std::string_view path) {
    for (Key& k : hive.keys)
        if (equalNoCase(k.path, path)) return &k;
    return nullptr;
}

Value* findValue(Key& key, std::string_view name) {
    for (Value& v : key.values)
        if (equalNoCase(v.name, name)) return &v;
    return nullptr;
}

Hive parse(std::string_view text, std::string_view rootName) {
    Hive hive;
    parseInto(text, rootName, hive);
    return hive;
}

std::string format(const Hive& hive, std::string_view rootName) {
    // Sized beforehand, so that a hive of a hundred thousand keys is not copied over
    // and over as the text grows.
    std::size_t estimate = std::string_view(kHeader).size() + 2;
    for (const Key& k : hive.keys) {
        estimate += rootName.size() + k.path.size() + 5;
        for (const Value& v : k.values) estimate += v.name.size() + 3 * v.data.size() + 24;
    }
    std::string out;
    out.reserve(estimate);
    out += kHeader;
    out += "\n\n";
    static const char* digits = "0123456789abcdef";
    for (const Key& k : hive.keys) {
        out += '[';
        out += rootName;
        if (!k.path.empty()) {
            out += '\\';
            out += k.path;
        }
        out += "]\n";
        for (const Value& v : k.values) {
            std::size_t lineStart = out.size();
            if (v.name.empty())
                out += '@';
            else
                appendQuoted(out, v.name);
            out += '=';
            if (v.type == REG_SZ && writableAsText(v.data)) {
                appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                out += "dword:";
                for (int b = 3; b >= 0; --b) {
                    out += digits[v.data[b] >> 4];
                    out += digits[v.data[b] & 15];
                }
            } else {
                if (v.type == REG_BINARY) {
                    out += "hex:";
                } else {
                    char buf[24];
                    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
                    out += buf;
                }
                appendHex(out, lineStart, v.data);
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

}  // namespace platform::regfile
