// Who uses the office on one pipe, kept so that no crash leaves it wrong: a private
// folder for the user and the pipe holds one entry file per program connected to the
// office, each locked (flock) by its program for as long as it is connected. The
// kernel drops a lock when its holder dies, however it dies, so an entry whose lock
// can be taken is a dead program's and is removed. Beside the entries the folder
// holds the record of an office one of those programs started (its process group),
// as against the user's own office, which no program here ever ends, and a lock that
// makes a program's decisions about the office (attach or start, end or leave
// running) one at a time.
//
// Everything but folderFor() uses only calls that are safe after fork in a threaded
// process: the reaper that runs these checks may be such a child.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace calc::users {

constexpr char kLockName[] = "lock";
constexpr char kRecordName[] = "office";
// An entry is "user.<pid>" or, for a further connection of the same process,
// "user.<pid>.<n>".
constexpr char kEntryPrefix[] = "user.";
constexpr std::size_t kNameSize = 64;

// The folder for the pipe: under XDG_RUNTIME_DIR when that is set (a folder only the
// user reaches, emptied when the user logs out), else in /tmp with the user's id in
// its name. Characters a pipe name may not hold in a file name become '_'.
inline std::string folderFor(const std::string& pipe) {
    std::string name;
    for (char c : pipe) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || c == '.';
        name += plain ? c : '_';
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/tablora-office-" + name;
    return "/tmp/tablora-office-" + std::to_string(::geteuid()) + "-" + name;
}

namespace detail {

inline void pause(int milliseconds) {
    struct timespec tick {
        milliseconds / 1000, (milliseconds % 1000) * 1000L * 1000L
    };
    while (::nanosleep(&tick, &tick) != 0 && errno == EINTR) {
    }
}

// Waits up to limitMs for the lock (flock operation `how`); false when it stays taken.
inline bool lockWithin(int fd, int how, int limitMs) {
    for (int waited = 0;; waited += 20) {
        if (::flock(fd, how | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (waited >= limitMs) return false;
        pause(20);
    }
}

// Writes the decimal digits of a number (positive) and a terminating zero; the
// characters written, not counting the zero.
inline std::size_t formatNumber(char* out, std::size_t room, long value) {
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < sizeof digits);
    if (n + 1 > room) {
        if (room) out[0] = '\0';
        return 0;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    out[n] = '\0';
    return n;
}

// The number at the start of text (digits up to the end or a character of `ends`);
// 0 when there is none, it overflows or something else follows.
inline long parseNumber(const char* text, const char* ends) {
    long value = 0;
    std::size_t i = 0;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > 0x3fffffffL) return 0;
        value = value * 10 + (text[i] - '0');
    }
    if (i == 0 || (text[i] != '\0' && !std::strchr(ends, text[i]))) return 0;
    return value;
}

// The same file as the one open as fd is still linked at name in the folder.
inline bool isLinkedAs(int folder, const char* name, int fd) {
    struct stat open {
    }, linked{};
    return ::fstat(fd, &open) == 0 && ::fstatat(folder, name, &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == linked.st_dev && open.st_ino == linked.st_ino;
}

}  // namespace detail

// The pid an entry's name stands for; 0 for a name that is no entry.
inline long entryPid(const char* name) {
    const std::size_t prefix = sizeof kEntryPrefix - 1;
    if (std::strncmp(name, kEntryPrefix, prefix) != 0) return 0;
    return detail::parseNumber(name + prefix, ".");
}

// The name of the entry of a process's n-th connection (n from 0) in `out`.
inline void entryName(char* out, long pid, unsigned n) {
    const std::size_t prefix = sizeof kEntryPrefix - 1;
    std::memcpy(out, kEntryPrefix, prefix);
    std::size_t at = prefix + detail::formatNumber(out + prefix, kNameSize - prefix, pid);
    if (n > 0 && at + 2 < kNameSize) {
        out[at] = '.';
        detail::formatNumber(out + at + 1, kNameSize - at - 1, static_cast<long>(n));
    }
}

// The folder at path, made when asked to and missing: a descriptor, or -1 (errno
// set) when it cannot be had or is not the user's own private folder (a symbolic
// link, another owner, or open to others: someone could then forge its entries).
inline int openFolder(const char* path, bool create) {
    if (create && ::mkdir(path, 0700) != 0 && errno != EEXIST) return -1;
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// The folder's lock, waited for up to limitMs: its descriptor (closing it unlocks),
// or -1 when it stays taken or cannot be made.
// A folder removed meanwhile by its last user fails with ENOENT: it is to be opened
// (made) again.
inline int lockFolder(int folder, int limitMs) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::openat(folder, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (!detail::lockWithin(fd, LOCK_EX, limitMs)) {
            ::close(fd);
            return -1;
        }
        // The last user removes the lock with the folder while holding it: the lock
        // of a file no longer there locks nothing.
        if (detail::isLinkedAs(folder, kLockName, fd)) return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// Enters the caller under `name`: the entry's descriptor, locked until it is closed
// (on leave(), or by the kernel when the process ends); -1 when it cannot be made.
inline int join(int folder, const char* name) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::openat(folder, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        // Another program may hold it for a moment, deciding whether it is dead, and
        // then remove it: the lock counts only on the file still found at the name.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && detail::isLinkedAs(folder, name, fd)) return fd;
        ::close(fd);
        detail::pause(20);
    }
    return -1;
}

// Says in the entry which office its program uses: the process group of an office a
// program here started, 0 for none (the user's own office, or none yet).
inline bool setUsedGroup(int entry, long group) {
    char text[32];
    std::size_t n = detail::formatNumber(text, sizeof text - 1, group > 0 ? group : 0);
    text[n++] = '\n';
    return ::ftruncate(entry, 0) == 0 && ::pwrite(entry, text, n, 0) == static_cast<ssize_t>(n);
}

// The office an entry's program said it uses (see setUsedGroup); 0 for none.
inline long usedGroup(int entry) {
    char text[32] = {};
    ssize_t got = ::pread(entry, text, sizeof text - 1, 0);
    if (got <= 0) return 0;
    text[got] = '\0';
    return detail::parseNumber(text, "\n");
}

// Removes the entry and lets its lock go.
inline void leave(int folder, const char* name, int entry) {
    if (entry < 0) return;
    if (detail::isLinkedAs(folder, name, entry)) ::unlinkat(folder, name, 0);
    ::close(entry);
}

// Counts the entries of living programs but `except` (an entry name; null for none)
// that use the office of process group `group` (any office for 0), giving the pids of
// the first `most` of them; removes the entries of dead ones.
inline int live(int folder, const char* except, long group, long* pids, int most) {
    int found = 0;
    // A descriptor of the folder's own, read from its start.
    int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return 0;
    alignas(8) char buffer[4096];
    // A private folder holds a few entries; the bound keeps a damaged one finite.
    for (int rounds = 0; rounds < 1024; ++rounds) {
        ssize_t got = ::getdents64(listing, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            const long pid = entryPid(name);
            if (pid <= 0 || (except && std::strcmp(name, except) == 0)) continue;
            int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            struct stat st {};
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                ::close(fd);
                continue;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                // Nobody holds it: its program is gone.
                if (detail::isLinkedAs(folder, name, fd)) ::unlinkat(folder, name, 0);
            } else if (errno == EWOULDBLOCK && (group <= 0 || usedGroup(fd) == group)) {
                if (found < most) pids[found] = pid;
                ++found;
            }
            ::close(fd);
        }
    }
    ::close(listing);
    return found;
}

// Waits up to limitMs until nobody holds the entry (its program ended and the kernel
// let its lock go); true when nobody does.
inline bool waitReleased(int folder, const char* name, int limitMs) {
    int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    bool released = detail::lockWithin(fd, LOCK_SH, limitMs);
    ::close(fd);
    return released;
}

// The process group of the office a program here started, as recorded; 0 when none is.
inline long startedGroup(int folder) {
    int fd = ::openat(folder, kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32] = {};
    ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    long group = detail::parseNumber(text, "\n");
    return group > 1 ? group : 0;
}

// Records that a program here started the office of process group `group`.
inline bool recordStarted(int folder, long group) {
    char temporary[kNameSize] = "office.";
    detail::formatNumber(temporary + 7, sizeof temporary - 7, static_cast<long>(::getpid()));
    int fd = ::openat(folder, temporary, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    char text[32];
    std::size_t n = detail::formatNumber(text, sizeof text - 1, group);
    text[n++] = '\n';
    bool written = ::write(fd, text, n) == static_cast<ssize_t>(n);
    ::close(fd);
    if (written && ::renameat(folder, temporary, folder, kRecordName) == 0) return true;
    ::unlinkat(folder, temporary, 0);
    return false;
}

// Forgets the record when it names `group` (an office since replaced keeps its own).
inline void forgetStarted(int folder, long group) {
    if (group > 0 && startedGroup(folder) == group) ::unlinkat(folder, kRecordName, 0);
}

// Removes the folder (at path, open as `folder`, its lock held by the caller) when
// nobody uses it and no office is recorded: it is made again by the next user.
inline bool removeIfUnused(int folder, const char* path) {
    long any = 0;
    if (live(folder, nullptr, 0, &any, 1) > 0 || startedGroup(folder) > 0) return false;
    ::unlinkat(folder, kLockName, 0);
    return ::rmdir(path) == 0;
}

}  // namespace calc::users
