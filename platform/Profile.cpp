// Profile files: a line-preserving INI reader and writer.
#include "platform/Profile.h"

#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::trim;

// A settings file is small; anything larger is not one and is neither read nor
// rewritten.
constexpr std::size_t kMaxProfileBytes = 16u << 20;

struct Line {
    std::string_view text;  // without the line ending
    std::string_view eol;   // "\r\n", "\n" or empty for a last line without one
};

enum class Kind { other, section, entry };

struct Parsed {
    Kind kind = Kind::other;
    std::string_view name;   // section name or key, trimmed
    std::string_view value;  // entry text after '=', trimmed
};

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    // A UTF-8 byte order mark belongs to the file, not to the first line's text.
    if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    while (pos < content.size()) {
        std::size_t nl = content.find('\n', pos);
        if (nl == std::string_view::npos) {
            // A last line cut after the CR of its CR LF still has its CR as ending,
            // not as a character of its value.
            std::string_view rest = content.substr(pos);
            if (rest.ends_with('\r'))
                lines.push_back({rest.substr(0, rest.size() - 1), rest.substr(rest.size() - 1)});
            else
                lines.push_back({rest, {}});
            break;
        }
        std::size_t end = (nl > pos && content[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({content.substr(pos, end - pos), content.substr(end, nl + 1 - end)});
        pos = nl + 1;
    }
    return lines;
}

Parsed parseLine(std::string_view text) {
    std::string_view t = trim(text);
    if (t.empty() || t[0] == ';') return {};
    if (t[0] == '[') {
        std::size_t close = t.find(']');
        if (close == std::string_view::npos) return {};
        return {Kind::section, trim(t.substr(1, close - 1)), {}};
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return {};
    return {Kind::entry, trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

std::string_view stripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

enum class ReadResult { ok, missing, failed };

ReadResult readFile(const char* path, std::string& out, DWORD& error) {
    platform::FileStatus read = platform::readFile(path, out, kMaxProfileBytes);
    if (read) return ReadResult::ok;
    error = platform::systemErrorCode(read.error(), ERROR_READ_FAULT);
    return error == ERROR_FILE_NOT_FOUND ? ReadResult::missing : ReadResult::failed;
}

DWORD copyOut(std::string_view text, char* buf, DWORD size) {
    if (!buf || size == 0) return 0;
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<DWORD>(n);
}

// A list of NUL-terminated names ending in a second NUL; cut short, it still ends in
// two NULs and reports size - 2, as the platform does.
DWORD copyList(const std::vector<std::string_view>& names, char* buf, DWORD size) {
    if (!buf || size == 0) return 0;
    if (size == 1) {
        buf[0] = '\0';
        return 0;
    }
    std::size_t pos = 0;
    for (std::string_view name : names) {
        if (pos + name.size() + 1 > size - 1) {
            std::size_t room = size - 1 - pos;
            if (room > 0) {
                std::memcpy(buf + pos, name.data(), room - 1);
                buf[pos + room - 1] = '\0';
            }
            buf[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buf + pos, name.data(), name.size());
        pos += name.size();
        buf[pos++] = '\0';
    }
    buf[pos] = '\0';
    return static_cast<DWORD>(pos);
}

bool holdsLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n"); }

// The whole file is replaced at once, so a failure leaves the old file as it was; a
// symbolic link is written through, not replaced.
DWORD replaceFile(const char* fileName, const std::string& content) {
    platform::WriteOptions options;
    options.newFileMode = 0644;
    platform::FileStatus written = platform::writeFileAtomically(fileName, content, options);
    return written ? ERROR_SUCCESS : platform::systemErrorCode(written.error(), ERROR_WRITE_FAULT);
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buf, DWORD size,
                               const char* fileName) {
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) fallback.remove_suffix(1);

    std::string content;
    DWORD error = 0;
    if (!fileName || readFile(fileName, content, error) != ReadResult::ok) {
        if (!section || !key) return copyList({}, buf, size);
        return copyOut(fallback, buf, size);
    }
    std::vector<Line> lines = splitLines(content);

    if (!section) {
        std::vector<std::string_view> names;
        for (const Line& l : lines)
            if (Parsed p = parseLine(l.text); p.kind == Kind::section) names.push_back(p.name);
        return copyList(names, buf, size);
    }

    bool inSection = false;
    bool sectionSeen = false;
    std::vector<std::string_view> keys;
    for (const Line& l : lines) {
        Parsed p = parseLine(l.text);
        if (p.kind == Kind::section) {
            if (inSection) break;  // only the first matching section counts
            // Names in the file are read trimmed, so the names asked for are too: a
            // section written as " Export" is found again by that name.
            inSection = equalNoCase(p.name, trim(section));
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection || p.kind != Kind::entry) continue;
        if (!key) {
            keys.push_back(p.name);
        } else if (equalNoCase(p.name, trim(key))) {
            return copyOut(stripQuotes(p.value), buf, size);
        }
    }
    if (!key) return copyList(keys, buf, size);
    return copyOut(fallback, buf, size);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* fileName) {
    if (!fileName || !section || holdsLineBreak(section) || std::strchr(section, ']') || holdsLineBreak(key) ||
        holdsLineBreak(value))
        return fail(ERROR_INVALID_PARAMETER);
    if (key) {
        std::string_view k = trim(key);
        if (k.empty() || k.find('=') != std::string_view::npos || k[0] == '[' || k[0] == ';')
            return fail(ERROR_INVALID_PARAMETER);
    }

    std::string content;
    DWORD error = 0;
    ReadResult read = readFile(fileName, content, error);
    if (read == ReadResult::failed) return fail(error);
    std::vector<Line> lines = splitLines(content);
    std::string_view eol = "\r\n";
    for (const Line& l : lines)
        if (!l.eol.empty()) {
            eol = l.eol == "\r" ? "\r\n" : l.eol;
            break;
        }

    // The first matching section: [begin, end) with `begin` its header line.
    std::size_t begin = lines.size(), end = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Parsed p = parseLine(lines[i].text);
        if (p.kind != Kind::section) continue;
        if (begin == lines.size()) {
            if (equalNoCase(p.name, trim(section))) begin = i;
        } else {
            end = i;
            break;
        }
    }
    std::size_t keyLine = lines.size();
    std::size_t lastContent = begin;  // the last non-blank line of the section
    if (begin < lines.size()) {
        for (std::size_t i = begin + 1; i < end; ++i) {
            if (!trim(lines[i].text).empty()) lastContent = i;
            Parsed p = parseLine(lines[i].text);
            if (key && keyLine == lines.size() && p.kind == Kind::entry && equalNoCase(p.name, trim(key))) keyLine = i;
        }
    }

    std::string newLine;
    if (key && value) {
        newLine = std::string(trim(key)) + "=" + value;
    }
    const std::string bom = content.substr(0, 3) == "\xEF\xBB\xBF" ? "\xEF\xBB\xBF" : "";
    std::string out = bom;
    // A line goes after the file's last one only once that line is ended; a lone CR
    // there is completed to CR LF rather than doubled.
    auto endLastLine = [&](const Line& l) {
        if (l.eol.empty())
            out.append(eol);
        else if (l.eol == "\r")
            out.append("\n");
    };
    auto emit = [&](std::size_t i) {
        out.append(lines[i].text);
        out.append(lines[i].eol);
    };

    if (!key) {
        if (begin == lines.size()) return 1;  // no such section: nothing to remove
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (i < begin || i >= end) emit(i);
    } else if (!value) {
        if (keyLine == lines.size()) return 1;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (i != keyLine) emit(i);
    } else if (keyLine < lines.size()) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i == keyLine) {
                out.append(newLine);
                out.append(lines[i].eol);
            } else {
                emit(i);
            }
        }
    } else if (begin < lines.size()) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            emit(i);
            if (i == lastContent) {
                endLastLine(lines[i]);
                out.append(newLine).append(eol);
            }
        }
    } else {
        for (std::size_t i = 0; i < lines.size(); ++i) emit(i);
        if (!lines.empty()) endLastLine(lines.back());
        out.append("[").append(section).append("]").append(eol);
        out.append(newLine).append(eol);
    }

    if (DWORD e = replaceFile(fileName, out); e != ERROR_SUCCESS) return fail(e);
    return 1;
}
