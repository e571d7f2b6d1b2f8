// Compiled help files read through chmlib, and the checks on what they hold.
#include "platform/htmlhelp/ChmArchive.h"

#include <chm_lib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hhctrl {
namespace {

std::string absolute(const std::string& path) { return !path.empty() && path[0] == '/' ? path : "/" + path; }

bool isPage(const std::string& path) {
    auto dot = path.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c | 0x20);
    return ext == "html" || ext == "htm";
}

// The default topic record (code 2) of the system entry: a version word, then
// records of a 16-bit code, a 16-bit length and that many bytes, little-endian.
std::string systemDefaultTopic(const std::string& system) {
    auto word = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(system[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(system[at + 1])) << 8;
    };
    std::size_t at = 4;
    while (at + 4 <= system.size()) {
        unsigned code = word(at);
        std::size_t length = word(at + 2);
        at += 4;
        if (at + length > system.size()) break;
        if (code == 2) {
            std::string topic = system.substr(at, length);
            topic.resize(std::strlen(topic.c_str()));
            return topic;
        }
        at += length;
    }
    return {};
}

}  // namespace

std::optional<std::string> safeRelativePath(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." || part[0] == '#' || part[0] == '$' || part.find("::") != std::string::npos ||
            part.find('\0') != std::string::npos || part.find('\\') != std::string::npos)
            return std::nullopt;
        if (!out.empty()) out += '/';
        out += part;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::unique_ptr<ChmArchive> ChmArchive::open(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    // chmlib would block on a pipe or read a device without end.
    if (!S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        return nullptr;
    }
    chmFile* file = chm_open(path.c_str());
    if (!file) {
        error = path + " is not a compiled help file";
        return nullptr;
    }
    return std::unique_ptr<ChmArchive>(new ChmArchive(file));
}

ChmArchive::~ChmArchive() { chm_close(file_); }

std::optional<std::string> ChmArchive::read(const std::string& path) const {
    std::string full = absolute(path);
    if (full.size() > CHM_MAX_PATHLEN) return std::nullopt;
    chmUnitInfo unit{};
    if (chm_resolve_object(file_, full.c_str(), &unit) != CHM_RESOLVE_SUCCESS) return std::nullopt;
    if (unit.length > kMaxEntryBytes) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(unit.length), '\0');
    if (unit.length == 0) return bytes;
    LONGINT64 got = chm_retrieve_object(file_, &unit, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                        static_cast<LONGINT64>(unit.length));
    if (got != static_cast<LONGINT64>(unit.length)) return std::nullopt;
    return bytes;
}

std::vector<std::string> ChmArchive::files() const {
    std::vector<std::string> paths;
    chm_enumerate(
        file_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile*, chmUnitInfo* unit, void* context) {
            std::string path(unit->path, strnlen(unit->path, CHM_MAX_PATHLEN));
            if (safeRelativePath(path)) static_cast<std::vector<std::string>*>(context)->push_back(path);
            return CHM_ENUMERATOR_CONTINUE;
        },
        &paths);
    return paths;
}

std::string ChmArchive::defaultTopic() const {
    if (std::optional<std::string> system = read("/#SYSTEM")) {
        std::string topic = systemDefaultTopic(*system);
        if (!topic.empty() && safeRelativePath(topic) && read(topic)) return absolute(topic);
    }
    std::vector<std::string> all = files();
    for (const char* name : {"/index.html", "/default.html"})
        if (std::find(all.begin(), all.end(), name) != all.end()) return name;
    auto page = std::find_if(all.begin(), all.end(), isPage);
    return page == all.end() ? std::string() : *page;
}

}  // namespace hhctrl
