// Fault injection through the file layer's system call table: a FileFault makes
// chosen calls fail with an errno while it lives ("the second fsync fails with
// ENOSPC", "the rename fails with EXDEV", "every write after 4096 bytes fails") and
// puts the system's own call back when the last fault of that call goes. Faults of
// the same call may be stacked; the oldest one decides first. The lease-break handler
// of a mapped drawing makes its calls (lease, mmap, mprotect, mremap, munmap) in a
// signal handler, where a fault of them takes this file's lock: a test breaks no
// lease while it holds a fault of those.
#pragma once

#include "platform/File.h"

#include <sys/mman.h>
#include <sys/types.h>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform::test {

// The entries of platform::FileSystemCalls, each a FileCall of the same name.
// clang-format off
#define TABLORA_FILE_CALLS(X)                                                                        \
    X(open) X(close) X(read) X(write) X(fsync) X(fstat) X(lstat) X(readlink) X(fchmod) X(fchown)   \
    X(rename) X(link) X(unlink) X(mkdir) X(flock) X(getrandom) X(stat) X(fcntl) X(linkat)          \
    X(copyFileRange) X(lease) X(mmap) X(munmap) X(mremap) X(mprotect) X(madvise)
// clang-format on

enum class FileCall {
#define TABLORA_FILE_CALL_NAME(name) name,
    TABLORA_FILE_CALLS(TABLORA_FILE_CALL_NAME)
#undef TABLORA_FILE_CALL_NAME
};

class FileFault {
public:
    // Lets `skip` calls of `call` through, then fails the next `times` of them (-1:
    // all that follow) with `error`.
    FileFault(FileCall call, int error, int skip = 0, int times = 1)
        : call_(call), error_(error), skip_(skip), times_(times) {
        install();
    }
    // Writes go through until `bytes` have been written in all (the write crossing
    // the mark is cut short there), then every write fails with `error`.
    struct AfterBytes {
        std::size_t bytes;
    };
    FileFault(AfterBytes after, int error)
        : call_(FileCall::write), error_(error), times_(-1), byBytes_(true), bytesLeft_(after.bytes) {
        install();
    }
    ~FileFault() {
        std::lock_guard guard(mutex());
        auto& list = active();
        std::erase(list, this);
        bool lastOfItsCall = true;
        for (FileFault* f : list) lastOfItsCall = lastOfItsCall && f->call_ != call_;
        if (lastOfItsCall) restore(call_);
    }
    FileFault(const FileFault&) = delete;
    FileFault& operator=(const FileFault&) = delete;

    // Calls of its kind seen while installed, and how many of them it failed.
    int calls() const {
        std::lock_guard guard(mutex());
        return calls_;
    }
    int failures() const {
        std::lock_guard guard(mutex());
        return failures_;
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<FileFault*>& active() {
        static std::vector<FileFault*> list;
        return list;
    }

    void install() {
        std::lock_guard guard(mutex());
        bool first = true;
        for (FileFault* f : active()) first = first && f->call_ != call_;
        active().push_back(this);
        if (first) divert(call_);
    }

    // Whether this call fails, for a call of `size` bytes (writes); a write cut short
    // has `size` lowered to what may still go.
    bool decide(std::size_t& size) {
        ++calls_;
        if (byBytes_) {
            if (bytesLeft_ >= size) {
                bytesLeft_ -= size;
                return false;
            }
            if (bytesLeft_ > 0) {
                size = std::exchange(bytesLeft_, 0);
                return false;
            }
        } else {
            if (skip_ > 0) {
                --skip_;
                return false;
            }
            if (times_ == 0) return false;
            if (times_ > 0) --times_;
        }
        ++failures_;
        return true;
    }

    // The errno for this call, or 0 to let it through (its size possibly lowered).
    static int verdict(FileCall call, std::size_t& size) {
        std::lock_guard guard(mutex());
        for (FileFault* f : active())
            if (f->call_ == call && f->decide(size)) return f->error_;
        return 0;
    }
    static int verdict(FileCall call) {
        std::size_t none = 0;
        return verdict(call, none);
    }

    static const platform::FileSystemCalls& real() { return platform::systemFileCalls(); }

    // An entry of the table diverted through the faults of its call, or put back.
    template <FileCall call, auto entry>
    struct Hook;
    template <FileCall call, class R, class... Args, std::atomic<R (*)(Args...)> platform::FileSystemCalls::*entry>
    struct Hook<call, entry> {
        static R diverted(Args... args) {
            if constexpr (call == FileCall::write) {
                return divertedWrite(args...);
            } else if constexpr (call == FileCall::close) {
                // A failed close still releases the descriptor, as the kernel does.
                const int e = verdict(call);
                const int r = (real().*entry).load()(args...);
                return e ? fail<R>(e) : r;
            } else {
                const int e = verdict(call);
                return e ? fail<R>(e) : (real().*entry).load()(args...);
            }
        }
        static void set(bool divert) {
            platform::fileSystemCalls().*entry = divert ? &diverted : (real().*entry).load();
        }
    };

    // -1, or MAP_FAILED for the calls that give an address, with errno set.
    template <typename R>
    static R fail(int error) {
        errno = error;
        if constexpr (std::is_pointer_v<R>)
            return static_cast<R>(MAP_FAILED);
        else
            return static_cast<R>(-1);
    }

    // A write may be cut short to what an AfterBytes fault still lets through.
    static ssize_t divertedWrite(int fd, const void* buffer, std::size_t size) {
        const int e = verdict(FileCall::write, size);
        return e ? fail<ssize_t>(e) : real().write.load()(fd, buffer, size);
    }

    static void set(FileCall call, bool divert) {
        switch (call) {
#define TABLORA_FILE_CALL_SET(name)                                          \
    case FileCall::name:                                                     \
        Hook<FileCall::name, &platform::FileSystemCalls::name>::set(divert); \
        break;
            TABLORA_FILE_CALLS(TABLORA_FILE_CALL_SET)
#undef TABLORA_FILE_CALL_SET
        }
    }
    static void divert(FileCall call) { set(call, true); }
    static void restore(FileCall call) { set(call, false); }

    FileCall call_;
    int error_;
    int skip_ = 0;
    int times_ = 1;
    bool byBytes_ = false;
    std::size_t bytesLeft_ = 0;
    int calls_ = 0;
    int failures_ = 0;
};

}  // namespace platform::test
