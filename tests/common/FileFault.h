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
#include <cerrno>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::test {

enum class FileCall {
    open,
    close,
    read,
    write,
    fsync,
    fstat,
    lstat,
    readlink,
    fchmod,
    fchown,
    rename,
    link,
    unlink,
    mkdir,
    flock,
    getrandom,
    stat,
    fcntl,
    linkat,
    copyFileRange,
    lease,
    mmap,
    munmap,
    mremap,
    mprotect,
    madvise
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

    template <typename R>
    static R fail(int error) {
        errno = error;
        return static_cast<R>(-1);
    }
    // mmap and mremap fail with MAP_FAILED.
    static void* failMapping(int error) {
        errno = error;
        return MAP_FAILED;
    }

    static const platform::FileSystemCalls& real() { return platform::systemFileCalls(); }

    static void divert(FileCall call) {
        auto& t = platform::fileSystemCalls();
        switch (call) {
        case FileCall::open:
            t.open = [](const char* p, int flags, mode_t mode) {
                int e = verdict(FileCall::open);
                return e ? fail<int>(e) : real().open.load()(p, flags, mode);
            };
            break;
        case FileCall::close:
            t.close = [](int fd) {
                int e = verdict(FileCall::close);
                // A failed close still releases the descriptor, as the kernel does.
                int r = real().close.load()(fd);
                return e ? fail<int>(e) : r;
            };
            break;
        case FileCall::read:
            t.read = [](int fd, void* b, std::size_t n) {
                int e = verdict(FileCall::read);
                return e ? fail<ssize_t>(e) : real().read.load()(fd, b, n);
            };
            break;
        case FileCall::write:
            t.write = [](int fd, const void* b, std::size_t n) {
                int e = verdict(FileCall::write, n);
                return e ? fail<ssize_t>(e) : real().write.load()(fd, b, n);
            };
            break;
        case FileCall::fsync:
            t.fsync = [](int fd) {
                int e = verdict(FileCall::fsync);
                return e ? fail<int>(e) : real().fsync.load()(fd);
            };
            break;
        case FileCall::fstat:
            t.fstat = [](int fd, struct stat* st) {
                int e = verdict(FileCall::fstat);
                return e ? fail<int>(e) : real().fstat.load()(fd, st);
            };
            break;
        case FileCall::lstat:
            t.lstat = [](const char* p, struct stat* st) {
                int e = verdict(FileCall::lstat);
                return e ? fail<int>(e) : real().lstat.load()(p, st);
            };
            break;
        case FileCall::readlink:
            t.readlink = [](const char* p, char* b, std::size_t n) {
                int e = verdict(FileCall::readlink);
                return e ? fail<ssize_t>(e) : real().readlink.load()(p, b, n);
            };
            break;
        case FileCall::fchmod:
            t.fchmod = [](int fd, mode_t mode) {
                int e = verdict(FileCall::fchmod);
                return e ? fail<int>(e) : real().fchmod.load()(fd, mode);
            };
            break;
        case FileCall::fchown:
            t.fchown = [](int fd, uid_t owner, gid_t group) {
                int e = verdict(FileCall::fchown);
                return e ? fail<int>(e) : real().fchown.load()(fd, owner, group);
            };
            break;
        case FileCall::rename:
            t.rename = [](const char* a, const char* b) {
                int e = verdict(FileCall::rename);
                return e ? fail<int>(e) : real().rename.load()(a, b);
            };
            break;
        case FileCall::link:
            t.link = [](const char* a, const char* b) {
                int e = verdict(FileCall::link);
                return e ? fail<int>(e) : real().link.load()(a, b);
            };
            break;
        case FileCall::unlink:
            t.unlink = [](const char* p) {
                int e = verdict(FileCall::unlink);
                return e ? fail<int>(e) : real().unlink.load()(p);
            };
            break;
        case FileCall::mkdir:
            t.mkdir = [](const char* p, mode_t mode) {
                int e = verdict(FileCall::mkdir);
                return e ? fail<int>(e) : real().mkdir.load()(p, mode);
            };
            break;
        case FileCall::flock:
            t.flock = [](int fd, int op) {
                int e = verdict(FileCall::flock);
                return e ? fail<int>(e) : real().flock.load()(fd, op);
            };
            break;
        case FileCall::getrandom:
            t.getrandom = [](void* b, std::size_t n, unsigned flags) {
                int e = verdict(FileCall::getrandom);
                return e ? fail<ssize_t>(e) : real().getrandom.load()(b, n, flags);
            };
            break;
        case FileCall::stat:
            t.stat = [](const char* p, struct stat* st) {
                int e = verdict(FileCall::stat);
                return e ? fail<int>(e) : real().stat.load()(p, st);
            };
            break;
        case FileCall::fcntl:
            t.fcntl = [](int fd, int command, int argument) {
                int e = verdict(FileCall::fcntl);
                return e ? fail<int>(e) : real().fcntl.load()(fd, command, argument);
            };
            break;
        case FileCall::linkat:
            t.linkat = [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
                int e = verdict(FileCall::linkat);
                return e ? fail<int>(e) : real().linkat.load()(fromFolder, from, toFolder, to, flags);
            };
            break;
        case FileCall::copyFileRange:
            t.copyFileRange = [](int from, off_t* fromOffset, int to, off_t* toOffset, std::size_t n, unsigned flags) {
                int e = verdict(FileCall::copyFileRange);
                return e ? fail<ssize_t>(e) : real().copyFileRange.load()(from, fromOffset, to, toOffset, n, flags);
            };
            break;
        case FileCall::lease:
            t.lease = [](int fd, int command, int argument) {
                int e = verdict(FileCall::lease);
                return e ? fail<int>(e) : real().lease.load()(fd, command, argument);
            };
            break;
        case FileCall::mmap:
            t.mmap = [](void* address, std::size_t n, int protection, int flags, int fd, off_t offset) {
                int e = verdict(FileCall::mmap);
                return e ? failMapping(e) : real().mmap.load()(address, n, protection, flags, fd, offset);
            };
            break;
        case FileCall::munmap:
            t.munmap = [](void* address, std::size_t n) {
                int e = verdict(FileCall::munmap);
                return e ? fail<int>(e) : real().munmap.load()(address, n);
            };
            break;
        case FileCall::mremap:
            t.mremap = [](void* address, std::size_t n, std::size_t newSize, int flags, void* newAddress) {
                int e = verdict(FileCall::mremap);
                return e ? failMapping(e) : real().mremap.load()(address, n, newSize, flags, newAddress);
            };
            break;
        case FileCall::mprotect:
            t.mprotect = [](void* address, std::size_t n, int protection) {
                int e = verdict(FileCall::mprotect);
                return e ? fail<int>(e) : real().mprotect.load()(address, n, protection);
            };
            break;
        case FileCall::madvise:
            t.madvise = [](void* address, std::size_t n, int advice) {
                int e = verdict(FileCall::madvise);
                return e ? fail<int>(e) : real().madvise.load()(address, n, advice);
            };
            break;
        }
    }

    static void restore(FileCall call) {
        auto& t = platform::fileSystemCalls();
        const auto& s = real();
        switch (call) {
        case FileCall::open:
            t.open = s.open.load();
            break;
        case FileCall::close:
            t.close = s.close.load();
            break;
        case FileCall::read:
            t.read = s.read.load();
            break;
        case FileCall::write:
            t.write = s.write.load();
            break;
        case FileCall::fsync:
            t.fsync = s.fsync.load();
            break;
        case FileCall::fstat:
            t.fstat = s.fstat.load();
            break;
        case FileCall::lstat:
            t.lstat = s.lstat.load();
            break;
        case FileCall::readlink:
            t.readlink = s.readlink.load();
            break;
        case FileCall::fchmod:
            t.fchmod = s.fchmod.load();
            break;
        case FileCall::fchown:
            t.fchown = s.fchown.load();
            break;
        case FileCall::rename:
            t.rename = s.rename.load();
            break;
        case FileCall::link:
            t.link = s.link.load();
            break;
        case FileCall::unlink:
            t.unlink = s.unlink.load();
            break;
        case FileCall::mkdir:
            t.mkdir = s.mkdir.load();
            break;
        case FileCall::flock:
            t.flock = s.flock.load();
            break;
        case FileCall::getrandom:
            t.getrandom = s.getrandom.load();
            break;
        case FileCall::stat:
            t.stat = s.stat.load();
            break;
        case FileCall::fcntl:
            t.fcntl = s.fcntl.load();
            break;
        case FileCall::linkat:
            t.linkat = s.linkat.load();
            break;
        case FileCall::copyFileRange:
            t.copyFileRange = s.copyFileRange.load();
            break;
        case FileCall::lease:
            t.lease = s.lease.load();
            break;
        case FileCall::mmap:
            t.mmap = s.mmap.load();
            break;
        case FileCall::munmap:
            t.munmap = s.munmap.load();
            break;
        case FileCall::mremap:
            t.mremap = s.mremap.load();
            break;
        case FileCall::mprotect:
            t.mprotect = s.mprotect.load();
            break;
        case FileCall::madvise:
            t.madvise = s.madvise.load();
            break;
        }
    }

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
