// The bytes of a drawing file as the database reads them: the file mapped under a
// read lease or its content held in memory, the residency of a mapping, and the
// writing of unchanged stretches of them into the file a save replaces.
#pragma once

#include "host/bytes/LeasedMapping.h"
#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace hostbytes {

// Owned by the drawing's thread; only a mapping's lease-break handler runs on
// another (LeasedMapping).
class DrawingBytes {
public:
    // Files smaller than this are read: their mapping would save little.
    static constexpr std::size_t kMinMappedBytes = 1u << 20;

    DrawingBytes() = default;
    // Bytes held in memory: a file read, a text made in memory, the tag text of a
    // binary file.
    explicit DrawingBytes(std::string held) : held_(std::move(held)) {}
    // The file at `path` mapped under a read lease, its version in `stamp`; no value
    // when it is smaller than `minBytes` or cannot be mapped safely
    // (LeasedMapping::open), and then the caller reads it.
    static std::optional<DrawingBytes> map(const std::string& path, std::uint64_t maxBytes, platform::FileStamp& stamp,
                                           std::size_t minBytes = kMinMappedBytes);
    DrawingBytes(DrawingBytes&&) noexcept = default;
    DrawingBytes& operator=(DrawingBytes&&) noexcept = default;
    ~DrawingBytes();

    std::string_view text() const { return mapped_ ? mapped_->text() : std::string_view(held_); }
    bool isMapped() const { return mapped_ != nullptr; }
    // Whether the mapping is a private copy now, made when another program went to
    // write the file; false for bytes held.
    bool isPrivateCopy() const { return mapped_ && mapped_->isPrivateCopy(); }
    // The bytes as a string of their own (held ones moved, mapped ones copied and
    // unmapped), leaving none here.
    std::string intoString() &&;

    // `bytes` of the text from `offset` on were read: a mapping drops its pages
    // (MADV_DONTNEED) once enough were (LeasedMapping::noteRead).
    void noteRead(std::size_t offset, std::size_t bytes) const {
        if (mapped_) mapped_->noteRead(offset, bytes);
    }
    // A mapping drops every page now; a later read faults them in again.
    void release() const {
        if (mapped_) mapped_->release();
    }

    // Writes `range` into `file`. A stretch of text() goes in pieces of 8 MB: while
    // the mapping is the file's own pages, copied from the file inside the kernel
    // (copy_file_range), no page of the mapping faulted in; else, and where the
    // kernel refuses, written from memory, a mapping's piece populated ahead
    // (MADV_POPULATE_READ); either way its pages are dropped as the save goes
    // (noteRead). Other bytes are written as they are. Fails as
    // AtomicFile::copyFrom and write do, the file spoilt then.
    platform::FileStatus writeRange(platform::AtomicFile& file, std::string_view range) const;

private:
    std::unique_ptr<LeasedMapping> mapped_;
    std::string held_;
};

}  // namespace hostbytes
