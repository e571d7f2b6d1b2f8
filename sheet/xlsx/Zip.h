// The package's zip container: reading entries from bytes in memory with bounded
// sizes (the directory through libzip, deflated entries inflated here and held to
// the size and checksum the directory declares), and writing a new archive into
// memory (the caller puts the bytes on disk, so a failed save never touches the
// previous file).
#pragma once

#include "sheet/xlsx/XlsxError.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sheet::xlsx {

class ZipReader {
public:
    // Throws XlsxError when the bytes are not a readable zip archive or hold more
    // entries than the limits allow.
    ZipReader(std::string_view bytes, const ReadLimits& limits);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Entry names in archive order (directories left out).
    const std::vector<std::string>& names() const noexcept { return names_; }
    bool has(std::string_view name) const;
    // The entry's content. Throws XlsxError for a missing, encrypted or damaged
    // entry, or one larger than the limits (whatever size it declares).
    std::string read(std::string_view name);
    // The same, handed over in pieces without keeping the whole entry.
    void readChunks(std::string_view name, const std::function<void(std::string_view)>& chunk);

private:
    void inflateEntry(const std::string& name, std::uint64_t index, std::uint64_t declaredSize,
                      std::uint32_t declaredCrc, const std::function<void(const char*, std::size_t)>& take);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::string> names_;
    ReadLimits limits_;
    std::uint64_t totalRead_ = 0;
    std::size_t reserveHint_ = 0;
};

// Writes an archive of deflated entries. Each entry is compressed as soon as it is
// added (or as its pieces come), on a thread of the writer's own, so that a caller producing the next
// part meanwhile keeps the second core busy; finish waits for what is still being
// compressed (helping with it) and lays the archive out. Entries carry sizes and
// checksums in their local headers (no data descriptors), names in UTF-8, and a
// fixed time, so that the same parts give the same bytes.
class ZipWriter {
public:
    ZipWriter();
    // Stops compressing what is left; nothing is written.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds an entry and starts compressing it. A name added twice keeps the later
    // bytes.
    void add(const std::string& name, std::string bytes);
    // An entry whose bytes come in pieces, each compressed on the writer's thread as
    // it comes; the caller waits while too much is queued, so a part of any size
    // takes little memory. Pieces go in the order written; endEntry gives the last
    // one. An entry that is never ended makes finish fail.
    std::size_t beginEntry(const std::string& name);
    void write(std::size_t entry, std::string piece);
    void endEntry(std::size_t entry, std::string lastPiece = {});
    // Compresses on this thread the whole entries still queued, beside the writer's
    // thread: a caller with other work before finish does it after this, while the
    // last pieces are compressed.
    void compressQueued();
    // The archive with the entries in the order added. Throws XlsxError beyond what
    // the format holds without its 64-bit extensions (65,535 entries, 4 GB), or
    // when compressing failed.
    std::string finish();
    // The same with the entries in `order`, every name of which must have been
    // added; entries not named are left out.
    std::string finish(const std::vector<std::string>& order);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sheet::xlsx
