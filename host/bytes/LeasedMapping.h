// A drawing file's bytes mapped into memory read-only under a read lease, so that an
// open drawing holds in its own memory only the part of its text being worked on:
// the rest stays in the page cache, which can reclaim it under pressure.
//
// The text must not change under the drawing, which points into it until it is
// closed: a program writing the file in place, or cutting it short, would change
// values the drawing has not read yet or make reading them fail. So the file is
// mapped only while the process holds a read lease on it. When another program
// opens the file to write it or cuts it short, the system holds that program back
// and tells this one, which first makes the mapping a private copy of the file as
// it was (from then on in the process's own memory) and then lets the lease go.
// Where no lease can be had (a file of another user, a network file system, a file
// open for writing already) the file is not mapped; the caller reads it instead.
//
// Every call on the file and the mapping goes through platform::fileSystemCalls().
// Used by DrawingBytes only.
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace hostbytes {

class LeasedMapping {
public:
    // How much of a mapped text may be resident before its pages are dropped.
    static constexpr std::size_t kResidentBytes = 32u << 20;
    // A read faults in the pages around it too, this much as this system maps them
    // (fault-around), so reads far apart (the references of one block, spread over
    // a drawing) count for that much each.
    static constexpr std::size_t kAroundBytes = 64u << 10;

    // The file at `path` mapped, with its version; null when it cannot be mapped
    // safely (see above), is not a regular file, is smaller than `minBytes` or at
    // least `maxBytes`, or a call on the way fails. Nothing is reported: the caller
    // reads the file the usual way, which says what is wrong with it, if anything.
    static std::unique_ptr<LeasedMapping> open(const std::string& path, std::uint64_t maxBytes, std::size_t minBytes,
                                               platform::FileStamp& stamp);
    ~LeasedMapping();
    LeasedMapping(const LeasedMapping&) = delete;
    LeasedMapping& operator=(const LeasedMapping&) = delete;

    std::string_view text() const { return {base_, size_}; }
    // The file, open for reading while the mapping lasts; its bytes are the text's as
    // long as the text is no private copy (a writer waits for the lease until then).
    int fd() const { return fd_; }

    // Notes that `bytes` of the text from `offset` on were read and, once more than
    // kResidentBytes may have come into memory since the last time, drops every
    // page of the mapping (MADV_DONTNEED; a later read faults them in again from the
    // page cache). Not once the text is a private copy, whose pages exist nowhere
    // else.
    void noteRead(std::size_t offset, std::size_t bytes);
    // Faults in `bytes` of the text from `offset` on in one go (MADV_POPULATE_READ),
    // ahead of a read of all of them, instead of page by page as the read comes to
    // them. Only a hint: a failure is ignored.
    void populate(std::size_t offset, std::size_t bytes) const;
    // Drops every page now (same rule as noteRead).
    void release();
    // Whether the text is a private copy now, made when another program went to
    // write the file.
    bool isPrivateCopy() const;

private:
    LeasedMapping() = default;
    int fd_ = -1;
    const char* base_ = nullptr;
    std::size_t size_ = 0;
    int slot_ = -1;  // in the table the lease-break handler looks at
    std::size_t readSinceRelease_ = 0;
    std::size_t lastWindow_ = static_cast<std::size_t>(-1);  // of the last read, in kAroundBytes
};

}  // namespace hostbytes
