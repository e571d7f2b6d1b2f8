// A compiled HTML help file opened for reading: its pages by path, its list of
// files and its default topic. Reading goes through chmlib; the file comes from
// outside, so sizes are bounded and paths checked before anything is handed on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct chmFile;

namespace hhctrl {

class ChmArchive {
public:
    // Pages larger than this are refused rather than read into memory.
    static constexpr std::uint64_t kMaxEntryBytes = 16u << 20;

    // Opens `path`; null, with `error` saying why, when it is missing, not a regular
    // file or no compiled help file.
    static std::unique_ptr<ChmArchive> open(const std::string& path, std::string& error);
    ~ChmArchive();
    ChmArchive(const ChmArchive&) = delete;
    ChmArchive& operator=(const ChmArchive&) = delete;

    // The bytes of the entry at `path` ("/index.html"; a missing leading "/" is
    // added); no value when there is none or it is over kMaxEntryBytes.
    std::optional<std::string> read(const std::string& path) const;
    // The paths of the ordinary files it holds (pages, pictures, style sheets), not
    // the compiler's own entries.
    std::vector<std::string> files() const;
    // The default topic as the compiler recorded it in the file's system entry
    // ("/index.html"); when it recorded none, "/index.html" or "/default.html" if held,
    // else the first page. Empty when the file holds no page at all.
    std::string defaultTopic() const;

private:
    explicit ChmArchive(chmFile* file) : file_(file) {}
    chmFile* file_;
};

// `path` as a relative path that stays inside the folder it is put in ("a/b.html"),
// or no value when it climbs out (".."), names the compiler's own entries ("#", "$",
// "::") or is empty.
std::optional<std::string> safeRelativePath(const std::string& path);

}  // namespace hhctrl
