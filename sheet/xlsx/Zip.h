// The package's zip container through libzip: reading entries from bytes in memory
// with bounded sizes, and writing a new archive into memory (the caller puts the
// bytes on disk, so a failed save never touches the previous file).
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
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::string> names_;
    ReadLimits limits_;
    std::uint64_t totalRead_ = 0;
    std::size_t reserveHint_ = 0;
};

class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds an entry; the writer keeps the bytes until finish.
    void add(const std::string& name, std::string bytes);
    // Compresses everything and returns the archive. Throws XlsxError.
    std::string finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sheet::xlsx
