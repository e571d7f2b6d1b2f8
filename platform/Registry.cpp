// Registry hives kept as text files in the registry editor's export format: parsing,
// writing, the inter-process write lock and the key handles.
#include "platform/Registry.h"

#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

struct HKEY__ {
    int hive;          // index into kHives
    std::string path;  // below the hive root, components joined by '\'; empty for the root
    REGSAM access;
};

namespace {

struct HiveInfo {
    std::uintptr_t handle;
    const char* rootName;
    const char* fileName;
};
constexpr HiveInfo kHives[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT", "classes.reg"},
    {0x80000001u, "HKEY_CURRENT_USER", "user.reg"},
};
constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
// A hive beyond this is not a settings store any more; the rest is not read and the
// file counts as damaged, so the next write keeps the whole file aside.
constexpr std::size_t kMaxHiveBytes = 64u << 20;

// ---------------------------------------------------------------- the hive model

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
struct Key {
    std::string path;
    std::vector<Value> values;
};
struct Hive {
    std::vector<Key> keys;  // in file order
    bool damaged = false;   // something in the file could not be read
};

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

Key* findKey(Hive& hive, std::string_view path) {
    for (Key& k : hive.keys)
        if (equalNoCase(k.path, path)) return &k;
    return nullptr;
}

// A key exists when it has a section of its own or is the parent of one (a hand-made
// file may leave out the parents' sections).
bool keyExists(const Hive& hive, std::string_view path) {
    if (path.empty()) return true;
    for (const Key& k : hive.keys) {
        if (!startsWithNoCase(k.path, path)) continue;
        if (k.path.size() == path.size() || k.path[path.size()] == '\\') return true;
    }
    return false;
}

bool hasSubkeys(const Hive& hive, std::string_view path) {
    for (const Key& k : hive.keys) {
        if (k.path.size() <= path.size()) continue;
        if (path.empty() || (startsWithNoCase(k.path, path) && k.path[path.size()] == '\\')) return true;
    }
    return false;
}

// Creates the sections of the key and of its missing parents; a parent that exists
// lends its spelling. Returns the key and whether anything was added.
Key& ensureKey(Hive& hive, const std::string& path, bool& created) {
    created = false;
    if (Key* k = findKey(hive, path)) return *k;
    std::string prefix;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string wanted = path.substr(0, end);
        // Take the spelling an existing section uses for this prefix.
        for (const Key& k : hive.keys) {
            if (startsWithNoCase(k.path, wanted) && (k.path.size() == wanted.size() || k.path[wanted.size()] == '\\')) {
                wanted = k.path.substr(0, wanted.size());
                break;
            }
        }
        if (!findKey(hive, wanted)) {
            hive.keys.push_back(Key{wanted, {}});
            created = true;
        }
        start = end + 1;
    }
    return *findKey(hive, path);
}

Value* findValue(Key& key, std::string_view name) {
    for (Value& v : key.values)
        if (equalNoCase(v.name, name)) return &v;
    return nullptr;
}

// ---------------------------------------------------------------- reading the format

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = foldAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Reads a quoted text at s[pos] == '"' with the format's two escapes (\\ and \");
// pos ends after the closing quote. False for an unterminated text or another escape.
bool readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= s.size()) return false;
            char next = s[pos++];
            if (next != '\\' && next != '"') return false;
            out += next;
        } else {
            out += c;
        }
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

// Reads what can be read; anything else marks the hive damaged and is skipped.
void parseHive(std::string_view text, std::string_view rootName, Hive& hive) {
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE) {
        std::string converted = utf16leToUtf8(text.substr(2));
        parseHive(converted, rootName, hive);
        return;
    }
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }

    std::size_t i = 0;
    while (i < lines.size() && trim(lines[i]).empty()) ++i;
    if (i < lines.size() && (trim(lines[i]) == kHeader || trim(lines[i]) == "REGEDIT4")) {
        ++i;
    } else if (i < lines.size()) {
        hive.damaged = true;
    }

    Key* current = nullptr;  // null before the first section and inside a foreign one
    bool inSection = false;
    for (; i < lines.size(); ++i) {
        std::string_view line = trim(lines[i]);
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
            std::string path;
            if (equalNoCase(name, rootName)) {
                path.clear();
            } else if (startsWithNoCase(name, rootName) && name.size() > rootName.size() + 1 &&
                       name[rootName.size()] == '\\') {
                path = std::string(name.substr(rootName.size() + 1));
            } else {
                hive.damaged = true;  // another hive's key cannot be kept in this file
                continue;
            }
            bool badPath = !path.empty() && (path.front() == '\\' || path.back() == '\\' ||
                                             path.find("\\\\") != std::string::npos);
            if (badPath) {
                hive.damaged = true;
                continue;
            }
            current = findKey(hive, path);
            if (!current) {
                hive.keys.push_back(Key{std::move(path), {}});
                current = &hive.keys.back();
            }
            continue;
        }
        // A wrapped hex list continues on the following lines, each ending in '\'.
        std::string joined;
        std::string_view valueLine = line;
        if (line.back() == '\\') {
            std::size_t eq = line.find('=');
            if (eq != std::string_view::npos && startsWithNoCase(trim(line.substr(eq + 1)), "hex")) {
                joined.assign(line.substr(0, line.size() - 1));
                bool finished = false;
                while (!finished && i + 1 < lines.size()) {
                    std::string_view next = trim(lines[++i]);
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
        } else if (Value* existing = findValue(*current, value.name)) {
            *existing = std::move(value);
        } else {
            current->values.push_back(std::move(value));
        }
    }
}

// ---------------------------------------------------------------- writing the format

std::string quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
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

std::string formatHive(const Hive& hive, std::string_view rootName) {
    std::string out = kHeader;
    out += "\n\n";
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
            out += v.name.empty() ? std::string("@") : quote(v.name);
            out += '=';
            if (v.type == REG_SZ && writableAsText(v.data)) {
                out += quote(std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                char buf[16];
                DWORD d = static_cast<DWORD>(v.data[0]) | (static_cast<DWORD>(v.data[1]) << 8) |
                          (static_cast<DWORD>(v.data[2]) << 16) | (static_cast<DWORD>(v.data[3]) << 24);
                std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
                out += buf;
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

// ---------------------------------------------------------------- files

LONG errnoToError(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR: return static_cast<LONG>(ERROR_PATH_NOT_FOUND);
        case EACCES:
        case EPERM:
        case EROFS: return static_cast<LONG>(ERROR_ACCESS_DENIED);
        case ENOSPC:
        case EDQUOT: return static_cast<LONG>(ERROR_DISK_FULL);
        default: return static_cast<LONG>(ERROR_CANTWRITE);
    }
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() can report a failed write-back, so the writer asks for its result.
    int release() { return fd_ < 0 ? 0 : ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

enum class FileState { missing, read, unreadable };

FileState readFile(const std::filesystem::path& path, std::string& out, bool& truncated) {
    out.clear();
    truncated = false;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? FileState::missing : FileState::unreadable;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FileState::unreadable;
        }
        if (n == 0) break;
        if (out.size() + static_cast<std::size_t>(n) > kMaxHiveBytes) {
            out.append(buf, kMaxHiveBytes - out.size());
            truncated = true;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    return FileState::read;
}

FileState loadHive(int hiveIndex, Hive& hive) {
    hive = Hive{};
    std::string text;
    bool truncated = false;
    FileState state = readFile(platform::registryHome() / kHives[hiveIndex].fileName, text, truncated);
    if (state != FileState::read) return state;
    if (truncated) {
        // Drop the partial last line rather than read half a value.
        std::size_t nl = text.rfind('\n');
        text.resize(nl == std::string::npos ? 0 : nl + 1);
        hive.damaged = true;
    }
    parseHive(text, kHives[hiveIndex].rootName, hive);
    return state;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Keeps a damaged hive under a name of its own before it is replaced, so that what
// could not be read is still there for a person to look at.
LONG keepAside(const std::filesystem::path& file) {
    std::string base = file.string() + ".damaged-" + timestamp();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        if (::link(file.c_str(), name.c_str()) == 0) return ERROR_SUCCESS;
        if (errno == EEXIST) continue;
        if (errno == ENOENT) return ERROR_SUCCESS;  // nothing left to keep
        // A file system without hard links: copy the bytes instead.
        std::error_code ec;
        if (std::filesystem::copy_file(file, name, std::filesystem::copy_options::none, ec)) return ERROR_SUCCESS;
        if (std::filesystem::exists(name)) continue;
        return errnoToError(ec.value());
    }
    return static_cast<LONG>(ERROR_CANTWRITE);
}

LONG replaceFile(const std::filesystem::path& file, std::string_view content) {
    std::string temp = file.string() + ".tmp-" + std::to_string(::getpid());
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0) return errnoToError(errno);
    if (!writeAll(fd.get(), content) || ::fsync(fd.get()) != 0) {
        LONG error = errnoToError(errno);
        ::unlink(temp.c_str());
        return error;
    }
    if (fd.release() != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
        LONG error = errnoToError(errno);
        ::unlink(temp.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

// Applies `change` to the hive as it is on disk now, under the hive's lock file so
// that writers in other processes are serialised with this one. `change` returns an
// error code and sets `changed` when the file has to be written.
LONG modifyHive(int hiveIndex, const std::function<LONG(Hive&, bool& changed)>& change) {
    static std::mutex processLock;
    std::lock_guard guard(processLock);

    std::filesystem::path home = platform::registryHome();
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    if (ec) return errnoToError(ec.value());
    std::filesystem::path file = home / kHives[hiveIndex].fileName;
    std::string lockName = file.string() + ".lock";
    Fd lock(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0) return errnoToError(errno);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return errnoToError(errno);
    }

    Hive hive;
    FileState state = loadHive(hiveIndex, hive);
    // A hive that exists but cannot be read must not be replaced by a near-empty one.
    if (state == FileState::unreadable) return static_cast<LONG>(ERROR_CANTREAD);
    bool changed = false;
    LONG result = change(hive, changed);
    if (result != static_cast<LONG>(ERROR_SUCCESS) || !changed) return result;
    if (hive.damaged && state == FileState::read) {
        LONG kept = keepAside(file);
        if (kept != static_cast<LONG>(ERROR_SUCCESS)) return kept;
    }
    return replaceFile(file, formatHive(hive, kHives[hiveIndex].rootName));
    // The lock is released when `lock` closes.
}

// ---------------------------------------------------------------- handles and faults

std::mutex& handleMutex() {
    static std::mutex m;
    return m;
}
std::unordered_set<HKEY__*>& openHandles() {
    static std::unordered_set<HKEY__*> handles;
    return handles;
}

struct Fault {
    int skip = 0;
    int count = 0;
    LONG error = 0;
};
std::mutex faultMutex;
Fault faults[5];

std::optional<LONG> takeFault(platform::RegistryCall call) {
    std::lock_guard guard(faultMutex);
    Fault& f = faults[static_cast<int>(call)];
    if (f.count <= 0) return std::nullopt;
    if (f.skip > 0) {
        --f.skip;
        return std::nullopt;
    }
    --f.count;
    return f.error;
}

int predefinedHive(HKEY key) {
    for (int i = 0; i < 2; ++i)
        if (reinterpret_cast<std::uintptr_t>(key) == kHives[i].handle) return i;
    return -1;
}

// What a handle names: hive, path and access; false for a handle that is not open.
bool resolve(HKEY key, int& hive, std::string& path, REGSAM& access) {
    int predefined = predefinedHive(key);
    if (predefined >= 0) {
        hive = predefined;
        path.clear();
        access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard guard(handleMutex());
    if (!key || !openHandles().contains(key)) return false;
    hive = key->hive;
    path = key->path;
    access = key->access;
    return true;
}

bool validName(const char* name) { return !name || !std::strpbrk(name, "\r\n"); }

// Joins a subkey path onto a key's path; no value for a path the file cannot hold.
std::optional<std::string> joinPath(const std::string& base, const char* subKey) {
    std::string sub = subKey ? subKey : "";
    if (!sub.empty() && sub.back() == '\\') sub.pop_back();  // tolerated, as the platform does
    if (sub.empty()) return base;
    if (!validName(sub.c_str()) || sub.front() == '\\' || sub.find("\\\\") != std::string::npos) return std::nullopt;
    return base.empty() ? sub : base + "\\" + sub;
}

HKEY newHandle(int hive, std::string path, REGSAM access) {
    auto* handle = new HKEY__{hive, std::move(path), access};
    std::lock_guard guard(handleMutex());
    openHandles().insert(handle);
    return handle;
}

std::string valueNameOf(const char* name) { return name ? name : ""; }

}  // namespace

// ---------------------------------------------------------------- the calls

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    int hive;
    std::string base;
    REGSAM parentAccess;
    if (!resolve(key, hive, base, parentAccess)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (auto fault = takeFault(platform::RegistryCall::open)) return *fault;
    Hive h;
    if (loadHive(hive, h) == FileState::unreadable) return static_cast<LONG>(ERROR_CANTREAD);
    if (!keyExists(h, *path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    *result = newHandle(hive, std::move(*path), access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char*, DWORD, REGSAM access, void*, PHKEY result,
                     DWORD* disposition) {
    if (!result) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (reserved != 0) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string base;
    REGSAM parentAccess;
    if (!resolve(key, hive, base, parentAccess)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (auto fault = takeFault(platform::RegistryCall::create)) return *fault;
    bool created = false;
    LONG r = modifyHive(hive, [&](Hive& h, bool& changed) -> LONG {
        bool existed = keyExists(h, *path);
        if (!existed && !(parentAccess & KEY_CREATE_SUB_KEY)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
        created = !existed;
        // A key known only as the parent of another gets a section of its own.
        if (!path->empty() && !findKey(h, *path)) ensureKey(h, *path, changed);
        return ERROR_SUCCESS;
    });
    if (r != static_cast<LONG>(ERROR_SUCCESS)) return r;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = newHandle(hive, std::move(*path), access);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    if (reserved || (data && !size)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_QUERY_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (auto fault = takeFault(platform::RegistryCall::query)) return *fault;
    Hive h;
    if (loadHive(hive, h) == FileState::unreadable) return static_cast<LONG>(ERROR_CANTREAD);
    Key* k = findKey(h, path);
    Value* v = k ? findValue(*k, valueNameOf(valueName)) : nullptr;
    if (!v) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (type) *type = v->type;
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (!size) return ERROR_SUCCESS;
    if (!data) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (needed > *size) {
        *size = needed;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    if (needed) std::memcpy(data, v->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (!validName(valueName)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_SET_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (auto fault = takeFault(platform::RegistryCall::set)) return *fault;
    Value value{valueNameOf(valueName), type, std::vector<BYTE>(data, data + size)};
    return modifyHive(hive, [&](Hive& h, bool& changed) -> LONG {
        bool created = false;
        // A key deleted by someone else since it was opened comes back rather than
        // losing the value written through the handle.
        Key& k = ensureKey(h, path, created);
        if (Value* existing = findValue(k, value.name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            k.values.push_back(value);
        }
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_SET_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (auto fault = takeFault(platform::RegistryCall::set)) return *fault;
    std::string name = valueNameOf(valueName);
    return modifyHive(hive, [&](Hive& h, bool& changed) -> LONG {
        Key* k = findKey(h, path);
        if (!k || !findValue(*k, name)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        std::erase_if(k->values, [&](const Value& v) { return equalNoCase(v.name, name); });
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    int hive;
    std::string base;
    REGSAM access;
    if (!resolve(key, hive, base, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!subKey || !*subKey) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (auto fault = takeFault(platform::RegistryCall::set)) return *fault;
    return modifyHive(hive, [&](Hive& h, bool& changed) -> LONG {
        if (!keyExists(h, *path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        if (hasSubkeys(h, *path)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
        std::erase_if(h.keys, [&](const Key& k) { return equalNoCase(k.path, *path); });
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (predefinedHive(key) >= 0) return ERROR_SUCCESS;
    {
        std::lock_guard guard(handleMutex());
        if (!key || openHandles().erase(key) == 0) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    }
    delete key;
    if (auto fault = takeFault(platform::RegistryCall::close)) return *fault;
    return ERROR_SUCCESS;
}

namespace platform {

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

LONG RegistryKey::close() noexcept {
    HKEY key = std::exchange(key_, nullptr);
    return key ? RegCloseKey(key) : static_cast<LONG>(ERROR_SUCCESS);
}

std::filesystem::path registryHome() {
    if (const char* home = std::getenv("CADHOST_HOME"); home && *home) return home;
    const char* userHome = std::getenv("HOME");
    if (!userHome || !*userHome) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) userHome = pw->pw_dir;
    }
    return std::filesystem::path(userHome ? userHome : ".") / ".config" / "cadhost";
}

std::filesystem::path hivePath(HKEY predefinedKey) {
    int hive = predefinedHive(predefinedKey);
    return registryHome() / kHives[hive < 0 ? 1 : hive].fileName;
}

std::size_t openRegistryKeyCount() noexcept {
    std::lock_guard guard(handleMutex());
    return openHandles().size();
}

void injectRegistryFault(RegistryCall call, int skip, int count, LONG error) {
    std::lock_guard guard(faultMutex);
    faults[static_cast<int>(call)] = Fault{skip, count, error};
}

void clearRegistryFaults() noexcept {
    std::lock_guard guard(faultMutex);
    for (Fault& f : faults) f = Fault{};
}

}  // namespace platform
