// A drawing file's bytes mapped into memory read-only instead of copied, so that an
// open drawing holds in its own memory only the part of its text being worked on:
// the rest stays in the system's file cache, which can give it back under pressure.
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
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace hostdb {

class MappedText {
public:
    // Files smaller than this are read: their mapping would save little.
    static constexpr std::size_t kMinBytes = 1u << 20;
    // How much of a mapped text may be resident before it is given back.
    static constexpr std::size_t kResidentBytes = 32u << 20;

    // The file at `path` mapped, with its version; null when it cannot be mapped
    // safely (see above), is not a regular file, is smaller than `minBytes` or at
    // least `maxBytes`. Nothing is reported: the caller reads the file the usual way,
    // which says what is wrong with it, if anything.
    static std::unique_ptr<MappedText> open(const std::string& path, std::uint64_t maxBytes, platform::FileStamp& stamp,
                                            std::size_t minBytes = kMinBytes);
    ~MappedText();
    MappedText(const MappedText&) = delete;
    MappedText& operator=(const MappedText&) = delete;

    std::string_view text() const { return {base_, size_}; }
    // The file, open for reading while the text lasts; its bytes are the text's as
    // long as the text is no private copy (a writer waits for the lease until then).
    int fd() const { return fd_; }

    // Notes that `bytes` of the text from `offset` on were read and, once more than
    // kResidentBytes may have come into memory since the last time, gives every
    // page of it back (they are mapped again from the file cache when read). A read
    // brings in the pages around it too, kAroundBytes as this system maps them, so
    // reads far apart (the references of one block, spread over a drawing) count
    // for that much each. Not once the text is a private copy, whose pages exist
    // nowhere else.
    void noteRead(std::size_t offset, std::size_t bytes);
    static constexpr std::size_t kAroundBytes = 64u << 10;
    // Maps `bytes` of the text from `offset` on in one go, ahead of a read of all
    // of them (a save writing an unchanged stretch), instead of page by page as the
    // read comes to them. Only a hint: nothing is reported.
    void prepareRead(std::size_t offset, std::size_t bytes) const;
    // Gives every page back now (same rule).
    void release();
    // Whether the text is a private copy now, made when another program went to
    // write the file.
    bool isPrivateCopy() const;
    // Makes it one now, as a writer's arrival does, and lets the lease go (tests).
    void makePrivateCopy();

private:
    MappedText() = default;
    int fd_ = -1;
    const char* base_ = nullptr;
    std::size_t size_ = 0;
    int slot_ = -1;  // in the table the lease-break handler looks at
    std::size_t readSinceRelease_ = 0;
    std::size_t lastWindow_ = static_cast<std::size_t>(-1);  // of the last read, in kAroundBytes
};

}  // namespace hostdb
