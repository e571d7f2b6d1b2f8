// The file layer: whole-file reads, atomic replacement, exclusive creation and the
// replaceable system call table under them.
#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

int systemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t systemReadlink(const char* path, char* buffer, std::size_t size) { return ::readlink(path, buffer, size); }
int systemStat(const char* path, struct stat* info) { return ::stat(path, info); }
int systemFcntl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
ssize_t systemCopyFileRange(int from, off_t* fromOffset, int to, off_t* toOffset, std::size_t size, unsigned flags) {
    return ::copy_file_range(from, fromOffset, to, toOffset, size, flags);
}
void* systemMremap(void* address, std::size_t size, std::size_t newSize, int flags, void* newAddress) {
    return ::mremap(address, size, newSize, flags, newAddress);
}

struct Tables {
    FileSystemCalls system;
    FileSystemCalls current;
    Tables() {
        for (FileSystemCalls* t : {&system, &current}) {
            t->open = &systemOpen;
            t->close = &::close;
            t->read = &::read;
            t->write = &::write;
            t->fsync = &::fsync;
            t->fstat = &::fstat;
            t->lstat = &::lstat;
            t->readlink = &systemReadlink;
            t->fchmod = &::fchmod;
            t->fchown = &::fchown;
            t->rename = &::rename;
            t->link = &::link;
            t->unlink = &::unlink;
            t->mkdir = &::mkdir;
            t->flock = &::flock;
            t->getrandom = &::getrandom;
            t->stat = &systemStat;
            t->fcntl = &systemFcntl;
            t->linkat = &::linkat;
            t->copyFileRange = &systemCopyFileRange;
            t->lease = &systemFcntl;
            t->mmap = &::mmap;
            t->munmap = &::munmap;
            t->mremap = &systemMremap;
            t->mprotect = &::mprotect;
            t->madvise = &::madvise;
        }
    }
};

Tables& tables() {
    static Tables t;
    return t;
}

FileSystemCalls& sys() { return tables().current; }

FileError failure(FileStep step, int code, std::string path) {
    FileError e;
    e.code = code;
    e.step = step;
    e.path = std::move(path);
    return e;
}

// close() is not retried after EINTR: Linux has released the descriptor by then,
// and a second close could release one another thread just opened.
int closeFd(int fd) { return sys().close.load()(fd); }

class Fd {
public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) closeFd(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) closeFd(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const noexcept { return fd_; }
    // Closes and reports the result: a close can be the first to report a failed
    // write-back.
    int close() noexcept { return fd_ < 0 ? 0 : closeFd(std::exchange(fd_, -1)); }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

int openFd(const std::string& path, int flags, mode_t mode = 0) {
    while (true) {
        int fd = sys().open.load()(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Writes everything, resuming after short writes and interruptions; errno on false.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = sys().write.load()(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {  // a write that makes no progress would loop for ever
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the symbolic links at `path` lead; `path` itself when it is no link (or
// names nothing yet). A dangling link leads to the file it names, which a write
// then creates.
FileStatus followLinks(const std::string& path, std::string& target) {
    target = path;
    // The same bound the kernel puts on a chain of links.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (sys().lstat.load()(target.c_str(), &st) != 0) {
            if (errno == ENOENT) return {};
            return failure(FileStep::followLink, errno, path);
        }
        if (!S_ISLNK(st.st_mode)) return {};
        std::string buffer(4096, '\0');
        ssize_t n = sys().readlink.load()(target.c_str(), buffer.data(), buffer.size());
        if (n < 0) return failure(FileStep::followLink, errno, path);
        if (static_cast<std::size_t>(n) >= buffer.size()) return failure(FileStep::followLink, ENAMETOOLONG, path);
        buffer.resize(static_cast<std::size_t>(n));
        target = (!buffer.empty() && buffer.front() == '/') ? buffer : folderOf(target) + "/" + buffer;
    }
    return failure(FileStep::followLink, ELOOP, path);
}

// Temporaries are "<folder>/.<start of the name>.<12 random letters>.tmp": short
// whatever the target is called (a name near the file system's limit still leaves
// room), unpredictable so that nobody can put a link there first, and recognisable
// so that one left by a writer that died can be found again.
constexpr std::size_t kTemporaryStemBytes = 48;
constexpr std::size_t kTemporaryRandomBytes = 12;
constexpr char kTemporaryAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string temporaryPrefix(const std::string& beside) {
    return "." + baseNameOf(beside).substr(0, kTemporaryStemBytes) + ".";
}

FileStatus randomTemporaryName(const std::string& beside, std::string& name) {
    std::string folder = folderOf(beside);
    unsigned char random[kTemporaryRandomBytes];
    while (true) {
        ssize_t got = sys().getrandom.load()(random, sizeof random, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got != static_cast<ssize_t>(sizeof random))
            return failure(FileStep::createTemporary, got < 0 ? errno : EIO, folder);
        break;
    }
    std::string suffix;
    for (unsigned char r : random) suffix += kTemporaryAlphabet[r % (sizeof kTemporaryAlphabet - 1)];
    name = folder + "/" + temporaryPrefix(beside) + suffix + ".tmp";
    return {};
}

bool isTemporaryNameOf(const std::string& beside, std::string_view entry) {
    const std::string prefix = temporaryPrefix(beside);
    if (entry.size() != prefix.size() + kTemporaryRandomBytes + 4 || !entry.starts_with(prefix) ||
        !entry.ends_with(".tmp"))
        return false;
    std::string_view random = entry.substr(prefix.size(), kTemporaryRandomBytes);
    return std::all_of(random.begin(), random.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Holds the temporary's lock; with the lock, the cleaner of stale temporaries knows
// its writer is alive. Where the file system has no locks the temporary is written
// all the same: it is then only unprotected from a cleaner that could not lock it
// either.
void lockTemporary(int fd) {
    while (sys().flock.load()(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Removes temporaries of `beside` that writers killed before their rename left
// behind: regular files of ours, with one name, our naming and no lock held, which
// only a writer that is gone can be. A writer that created its temporary by name
// and lost it here before taking its lock sees the lost link and makes another.
// Best effort: what cannot be looked at is left alone.
void removeStaleTemporaries(const std::string& beside) {
    std::string folder = folderOf(beside);
    std::vector<std::string> candidates;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir))
            if (isTemporaryNameOf(beside, e->d_name)) candidates.push_back(folder + "/" + e->d_name);
        ::closedir(dir);
    }
    for (const std::string& name : candidates) {
        Fd fd(openFd(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        if (fd.get() < 0) continue;
        struct stat st {};
        if (sys().fstat.load()(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            st.st_nlink != 1)
            continue;
        if (sys().flock.load()(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        // Still the file that was locked under that name.
        struct stat now {};
        if (sys().lstat.load()(name.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) continue;
        (void)sys().unlink.load()(name.c_str());
    }
}

// Creates a named temporary beside `beside` exclusively, locked.
FileStatus createNamedTemporary(const std::string& beside, mode_t createMode, int& fd, std::string& name) {
    std::string folder = folderOf(beside);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (FileStatus s = randomTemporaryName(beside, name); !s) return s;
        fd = openFd(name, O_WRONLY | O_CREAT | O_EXCL, createMode);
        if (fd < 0) {
            if (errno != EEXIST) return failure(FileStep::createTemporary, errno, folder);
            continue;
        }
        lockTemporary(fd);
        struct stat st {};
        // Taken by a cleaner between the creation and the lock: start again.
        if (sys().fstat.load()(fd, &st) == 0 && st.st_nlink == 0) {
            closeFd(std::exchange(fd, -1));
            continue;
        }
        return {};
    }
    return failure(FileStep::createTemporary, EEXIST, folder);
}

// Whether unnamed temporaries can be given a name here: that goes through the
// process's descriptor folder.
bool canNameUnnamedFiles() {
    static const bool known = ::access("/proc/self/fd", X_OK) == 0;
    return known;
}

// Creates the temporary beside `beside`, locked: unnamed where the file system can
// (name empty), else named.
FileStatus createTemporary(const std::string& beside, mode_t createMode, int& fd, std::string& name) {
    name.clear();
    if (canNameUnnamedFiles()) {
        fd = openFd(folderOf(beside), O_WRONLY | O_TMPFILE, createMode);
        if (fd >= 0) {
            lockTemporary(fd);
            return {};
        }
        // Kernels and file systems without unnamed files say so in one of these.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return failure(FileStep::createTemporary, errno, folderOf(beside));
    }
    return createNamedTemporary(beside, createMode, fd, name);
}

// Gives an unnamed file (open as fd) the name `to`; EEXIST when it is taken.
int linkUnnamed(int fd, const std::string& to) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    return sys().linkat.load()(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW);
}

// The name is durable only once the folder's entry is on disk.
FileStatus syncFolder(const std::string& file) {
    std::string folder = folderOf(file);
    Fd dir(openFd(folder, O_RDONLY | O_DIRECTORY));
    if (dir.get() < 0) return failure(FileStep::syncFolder, errno, folder);
    // Some file systems cannot sync a folder at all (EINVAL); there is nothing more
    // to be had there.
    if (sys().fsync.load()(dir.get()) != 0 && errno != EINVAL) return failure(FileStep::syncFolder, errno, folder);
    dir.close();
    return {};
}

// Sets the mode of a new file or the temporary: a file system without modes (vfat)
// refuses, and the content matters more than the mode, so a refusal is let pass.
void setMode(int fd, mode_t mode) { (void)sys().fchmod.load()(fd, mode & 07777); }

// Gives the temporary (or a copy) the owner and group of the file it stands in for:
// a file in a shared folder saved by someone else stays its owner's. Only the
// superuser may give a file away; anyone else gets EPERM for the owner but may
// still set a group they belong to, so the group is tried on its own. The content
// matters more than either, so a refusal is let pass. Comes before the mode, since
// a change of owner clears the set-user-ID and set-group-ID bits.
void keepOwner(int fd, const struct stat& original) {
    struct stat now {};
    if (sys().fstat.load()(fd, &now) != 0) return;
    if (now.st_uid == original.st_uid && now.st_gid == original.st_gid) return;
    if (sys().fchown.load()(fd, original.st_uid, original.st_gid) == 0) return;
    if (now.st_gid != original.st_gid) (void)sys().fchown.load()(fd, static_cast<uid_t>(-1), original.st_gid);
}

// Opens a file to read it, refusing anything but a regular file before it can make
// the open wait: a pipe's open waits for a writer and a device's may never return.
// The look comes first, and the open does not wait either, in case a pipe was put
// at the name in between; for reading, the descriptor then waits again as usual.
FileStatus openForReading(const std::string& path, Fd& fd, struct stat& st) {
    if (sys().stat.load()(path.c_str(), &st) != 0) return failure(FileStep::open, errno, path);
    if (!S_ISREG(st.st_mode)) return failure(FileStep::notRegular, 0, path);
    fd = Fd(openFd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) return failure(FileStep::open, errno, path);
    if (sys().fstat.load()(fd.get(), &st) != 0) return failure(FileStep::read, errno, path);
    if (!S_ISREG(st.st_mode)) return failure(FileStep::notRegular, 0, path);
    int flags = sys().fcntl.load()(fd.get(), F_GETFL, 0);
    if (flags < 0 || sys().fcntl.load()(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failure(FileStep::read, errno, path);
    return {};
}

FileStatus readInto(const std::string& path, std::string& out, std::uint64_t maxBytes, bool* cut, FileStamp* stamp) {
    out.clear();
    if (cut) *cut = false;
    Fd fd;
    struct stat st {};
    if (FileStatus opened = openForReading(path, fd, st); !opened) return opened;
    if (stamp) *stamp = stampOf(st);
    auto tooLarge = [&](std::uint64_t seen) {
        out.clear();
        FileError e = failure(FileStep::tooLarge, EFBIG, path);
        e.fileBytes = seen;
        e.limitBytes = maxBytes;
        return e;
    };
    const auto declared = static_cast<std::uint64_t>(st.st_size);
    if (declared > maxBytes && !cut) return tooLarge(declared);
    out.reserve(static_cast<std::size_t>(std::min(declared, maxBytes)));
    // The size is only a hint: the file may grow or shrink while it is read, so the
    // limit is kept on what actually comes.
    char buffer[65536];
    while (true) {
        ssize_t n = sys().read.load()(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.clear();
            return failure(FileStep::read, errno, path);
        }
        if (n == 0) break;
        auto got = static_cast<std::size_t>(n);
        if (out.size() + got > maxBytes) {
            if (!cut) return tooLarge(std::max<std::uint64_t>(declared, out.size() + got));
            out.append(buffer, static_cast<std::size_t>(maxBytes - out.size()));
            *cut = true;
            break;
        }
        out.append(buffer, got);
    }
    return {};
}

const char* stepText(FileStep step) {
    switch (step) {
    case FileStep::open:
        return "cannot open the file";
    case FileStep::read:
        return "cannot read the file";
    case FileStep::followLink:
        return "cannot follow the symbolic link";
    case FileStep::write:
        return "write failed";
    case FileStep::rename:
        return "cannot replace the file";
    case FileStep::create:
        return "cannot create the file";
    case FileStep::notRegular:
    case FileStep::tooLarge:
    case FileStep::createTemporary:
    case FileStep::backup:
    case FileStep::syncFolder:
    case FileStep::createFolder:
    case FileStep::lock:
    case FileStep::changedOnDisk:
        break;
    }
    return "";
}

}  // namespace

// ---------------------------------------------------------------- errors

std::string FileError::reason() const {
    switch (step) {
    case FileStep::notRegular:
        return "not a regular file";
    case FileStep::changedOnDisk:
        if (code == 0) return "changed on disk by someone else";
        break;
    case FileStep::tooLarge:
        return "the file has " + std::to_string(fileBytes) + " bytes, more than the " + std::to_string(limitBytes) +
               " allowed";
    default:
        break;
    }
    return std::strerror(code);
}

std::string FileError::message() const {
    switch (step) {
    case FileStep::notRegular:
        // Said the way the user sees it: "/dev/tty: not a regular file" comes from
        // the caller, which names the file.
        return reason();
    case FileStep::tooLarge:
        return reason();
    case FileStep::createTemporary:
        return "cannot create a temporary file in " + path + ": " + reason();
    case FileStep::backup:
        return "cannot keep the previous file as " + path + ": " + reason();
    case FileStep::syncFolder:
        return "the file was replaced, but its folder " + path + " could not be synced: " + reason();
    case FileStep::createFolder:
        return "cannot create the folder " + path + ": " + reason();
    case FileStep::lock:
        return "cannot lock " + path + ": " + reason();
    case FileStep::changedOnDisk:
        if (path.empty())
            return "the file was changed on disk by someone else and is left as they saved it; this version could not "
                   "be saved beside it: " +
                   reason();
        return "the file was changed on disk by someone else and is left as they saved it; this version was saved as " +
               path;
    default:
        break;
    }
    return std::string(stepText(step)) + ": " + reason();
}

DWORD systemErrorCode(const FileError& error, DWORD otherwise) {
    // A file past the limit is refused as the platform refuses what it will not hold
    // in memory.
    if (error.step == FileStep::tooLarge) return ERROR_NOT_ENOUGH_MEMORY;
    switch (error.code) {
    case ENOENT:
        return error.step == FileStep::open ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    default:
        return otherwise;
    }
}

// ---------------------------------------------------------------- reading

FileStatus readFile(const std::string& path, std::string& out, std::uint64_t maxBytes, FileStamp* stamp) {
    return readInto(path, out, maxBytes, nullptr, stamp);
}

FileStatus readFilePrefix(const std::string& path, std::string& out, std::uint64_t maxBytes, bool& cut,
                          FileStamp* stamp) {
    return readInto(path, out, maxBytes, &cut, stamp);
}

FileStatus readFilePieces(const std::string& path, std::uint64_t maxBytes,
                          const std::function<bool(std::string_view)>& piece, std::uint64_t* declaredBytes,
                          FileStamp* stamp) {
    Fd fd;
    struct stat st {};
    if (FileStatus opened = openForReading(path, fd, st); !opened) return opened;
    if (stamp) *stamp = stampOf(st);
    auto tooLarge = [&](std::uint64_t seen) {
        FileError e = failure(FileStep::tooLarge, EFBIG, path);
        e.fileBytes = seen;
        e.limitBytes = maxBytes;
        return e;
    };
    const auto declared = static_cast<std::uint64_t>(st.st_size);
    if (declared > maxBytes) return tooLarge(declared);
    if (declaredBytes) *declaredBytes = declared;
    char buffer[65536];
    for (std::uint64_t total = 0;;) {
        ssize_t n = sys().read.load()(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure(FileStep::read, errno, path);
        if (n == 0) return {};
        total += static_cast<std::uint64_t>(n);
        if (total > maxBytes) return tooLarge(std::max(declared, total));
        if (!piece(std::string_view(buffer, static_cast<std::size_t>(n)))) return {};
    }
}

// ---------------------------------------------------------------- versions

FileStamp stampOf(const struct stat& info) noexcept {
    return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::int64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::optional<FileStamp> fileStamp(const std::string& path) {
    struct stat st {};
    if (sys().stat.load()(path.c_str(), &st) != 0) return std::nullopt;
    return stampOf(st);
}

std::string conflictPathFor(const std::string& path, std::int64_t unixSeconds, int attempt) {
    std::string folder = folderOf(path);
    std::string name = baseNameOf(path);
    auto dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H%M%S", &tm);
    std::string mark = std::string(" (conflict ") + when + (attempt > 0 ? " " + std::to_string(attempt + 1) : "") + ")";
    // Shortened at a character's start, so that a UTF-8 name stays one.
    std::size_t room = NAME_MAX > mark.size() + extension.size() ? NAME_MAX - mark.size() - extension.size() : 0;
    if (extension.size() > NAME_MAX / 2) {
        extension.clear();
        room = NAME_MAX - mark.size();
    }
    if (stem.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    return (path.find('/') == std::string::npos ? "" : folder + "/") + stem + mark + extension;
}

// ---------------------------------------------------------------- atomic replacement

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) closeFd(std::exchange(fd_, -1));
    if (!temporary_.empty()) (void)sys().unlink.load()(std::exchange(temporary_, {}).c_str());
    // The lock goes last, so that the name is never unlocked while it is there.
    if (lockFd_ >= 0) closeFd(std::exchange(lockFd_, -1));
}

FileStatus AtomicFile::open(const std::string& path, const WriteOptions& options) {
    discard();
    spoilt_.reset();
    written_ = FileStamp{};
    if (FileStatus s = followLinks(path, target_); !s) return s;
    backupPath_ = options.backupPathFor ? options.backupPathFor(target_) : options.backupPath;
    unchangedSince_ = options.unchangedSince;
    struct stat st {};
    targetExists_ = sys().lstat.load()(target_.c_str(), &st) == 0;
    // A pipe or device would be replaced by a plain file, and a folder cannot be.
    if (targetExists_ && !S_ISREG(st.st_mode)) return failure(FileStep::notRegular, 0, target_);
    removeStaleTemporaries(target_);
    // The temporary starts private; it gets its final mode before any content, so a
    // file replaced with a tighter mode is never readable more widely in between.
    bool modeKnown = targetExists_ || options.newFileMode;
    mode_t mode = targetExists_ ? (st.st_mode & 07777) : options.newFileMode.value_or(0666);
    if (FileStatus s = createTemporary(target_, modeKnown ? 0600 : 0666, fd_, temporary_); !s) {
        fd_ = -1;
        temporary_.clear();
        return s;
    }
    if (targetExists_) keepOwner(fd_, st);
    if (modeKnown) setMode(fd_, mode);
    return {};
}

FileStatus AtomicFile::write(std::string_view bytes) {
    if (spoilt_) return *spoilt_;
    if (fd_ < 0) return failure(FileStep::write, EBADF, target_);
    if (!writeAll(fd_, bytes)) {
        spoilt_ = failure(FileStep::write, errno, target_);
        discard();
        return *spoilt_;
    }
    return {};
}

FileStatus AtomicFile::copyFrom(int source, std::uint64_t offset, std::string_view same,
                                const std::function<bool()>& sourceUnchanged) {
    if (spoilt_) return *spoilt_;
    if (fd_ < 0) return failure(FileStep::write, EBADF, target_);
    // In stretches, so that a source that changes is noticed before much more of it
    // is copied.
    constexpr std::size_t kStretch = 8u << 20;
    std::size_t done = 0;
    while (done < same.size() && !kernelCopyRefused_ && sourceUnchanged()) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        off_t from = static_cast<off_t>(offset + done);
        const ssize_t n =
            sys().copyFileRange.load()(source, &from, fd_, nullptr, std::min(kStretch, same.size() - done), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF ||
                      errno == EPERM || errno == ETXTBSY)) {
            // The file systems (or the kernel) do not copy between these files; the
            // bytes in memory do the same.
            kernelCopyRefused_ = true;
            break;
        }
        if (n < 0 || at < 0) {
            spoilt_ = failure(FileStep::write, n < 0 ? errno : EIO, target_);
            discard();
            return *spoilt_;
        }
        if (n == 0) break;  // the source is shorter than it was: what it lacks comes from memory
        const auto copied = static_cast<std::size_t>(n);
        if (!sourceUnchanged()) {
            // Another program may have written the source while it was copied: the
            // stretch is written again as it was read before.
            if (::lseek(fd_, at, SEEK_SET) != at || !writeAll(fd_, same.substr(done, copied))) {
                spoilt_ = failure(FileStep::write, errno, target_);
                discard();
                return *spoilt_;
            }
        }
        done += copied;
    }
    return write(same.substr(done));
}

// Gives an unnamed temporary a name of its own for the rename.
FileStatus AtomicFile::nameTemporary() {
    if (!temporary_.empty()) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name;
        if (FileStatus s = randomTemporaryName(target_, name); !s) return s;
        if (linkUnnamed(lockFd_, name) == 0) {
            temporary_ = std::move(name);
            return {};
        }
        if (errno != EEXIST) return failure(FileStep::createTemporary, errno, folderOf(target_));
    }
    return failure(FileStep::createTemporary, EEXIST, folderOf(target_));
}

namespace {

// Puts the content of the temporary (unnamed when `temporary` is empty, open as
// lockFd) under a free conflict name beside the target; the name, or empty with
// errno set.
std::string keepConflictingVersion(const std::string& target, const std::string& temporary, int lockFd) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = conflictPathFor(target, now, attempt);
        int r = temporary.empty() ? linkUnnamed(lockFd, name) : sys().link.load()(temporary.c_str(), name.c_str());
        if (r == 0) return name;
        if (errno != EEXIST) return {};
    }
    errno = EEXIST;
    return {};
}

}  // namespace

FileStatus AtomicFile::commit() {
    if (spoilt_) return *spoilt_;
    if (fd_ < 0) return failure(FileStep::write, EBADF, target_);
    auto fail = [&](FileError e) {
        spoilt_ = e;
        discard();
        return FileStatus(std::move(e));
    };
    if (sys().fsync.load()(fd_) != 0) return fail(failure(FileStep::write, errno, target_));
    struct stat st {};
    if (sys().fstat.load()(fd_, &st) != 0) return fail(failure(FileStep::write, errno, target_));
    written_ = stampOf(st);
    // The temporary's lock outlives the descriptor written through, whose close must
    // come before the rename since it can be the first to report a failed write.
    lockFd_ = sys().fcntl.load()(fd_, F_DUPFD_CLOEXEC, 0);
    if (lockFd_ < 0) return fail(failure(FileStep::write, errno, target_));
    if (closeFd(std::exchange(fd_, -1)) != 0) return fail(failure(FileStep::write, errno, target_));

    // The version check and the rename happen under the target's own lock, which
    // every writer with a version to check takes; one that waited finds the file
    // replaced and so changed.
    Fd targetLock;
    if (unchangedSince_) {
        targetLock = Fd(openFd(target_, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
        if (targetLock.get() >= 0) {
            while (sys().flock.load()(targetLock.get(), LOCK_EX) != 0)
                if (errno != EINTR) return fail(failure(FileStep::lock, errno, target_));
        } else if (errno != ENOENT) {
            return fail(failure(FileStep::open, errno, target_));
        }
        std::optional<FileStamp> now = fileStamp(target_);
        if (now && *now != *unchangedSince_) {
            std::string kept = keepConflictingVersion(target_, temporary_, lockFd_);
            FileError e = failure(FileStep::changedOnDisk, kept.empty() ? errno : 0, kept);
            if (!kept.empty()) (void)syncFolder(kept);
            return fail(std::move(e));
        }
        targetExists_ = now.has_value();
    }
    if (FileStatus named = nameTemporary(); !named) return fail(named.error());
    if (targetExists_ && !backupPath_.empty()) {
        if (sys().unlink.load()(backupPath_.c_str()) != 0 && errno != ENOENT)
            return fail(failure(FileStep::backup, errno, backupPath_));
        FileStatus kept = keepCopy(target_, backupPath_);
        // A target removed meanwhile leaves nothing to keep.
        bool targetGone = !kept && kept.error().code == ENOENT && kept.error().path == target_;
        if (!kept && !targetGone) return fail(failure(FileStep::backup, kept.error().code, backupPath_));
    }
    if (sys().rename.load()(temporary_.c_str(), target_.c_str()) != 0)
        return fail(failure(FileStep::rename, errno, target_));
    temporary_.clear();
    closeFd(std::exchange(lockFd_, -1));
    return syncFolder(target_);
}

FileStatus writeFileAtomically(const std::string& path, std::string_view content, const WriteOptions& options,
                               FileStamp* written) {
    AtomicFile file;
    if (FileStatus s = file.open(path, options); !s) return s;
    if (FileStatus s = file.write(content); !s) return s;
    FileStatus committed = file.commit();
    if (written) *written = file.written();
    return committed;
}

// ---------------------------------------------------------------- exclusive creation

FileStatus createFileExclusively(const std::string& path, std::string_view content, const WriteOptions& options) {
    int raw = -1;
    std::string temporary;
    mode_t mode = options.newFileMode.value_or(0666);
    removeStaleTemporaries(path);
    if (FileStatus s = createTemporary(path, options.newFileMode ? 0600 : 0666, raw, temporary); !s) return s;
    Fd fd(raw);
    struct Remove {
        const std::string& name;
        ~Remove() {
            if (!name.empty()) (void)sys().unlink.load()(name.c_str());
        }
    } remove{temporary};
    if (options.newFileMode) setMode(fd.get(), mode);
    if (!writeAll(fd.get(), content)) return failure(FileStep::write, errno, path);
    if (sys().fsync.load()(fd.get()) != 0) return failure(FileStep::write, errno, path);
    // Neither link() nor linkat() replaces or follows a link at the new name, unlike
    // rename. An unnamed file keeps its descriptor open to be linked, and a second
    // one holds on to its lock while the first is closed.
    Fd lock(temporary.empty() ? sys().fcntl.load()(fd.get(), F_DUPFD_CLOEXEC, 0) : -1);
    if (temporary.empty() && lock.get() < 0) return failure(FileStep::write, errno, path);
    if (fd.close() != 0) return failure(FileStep::write, errno, path);
    int linked = temporary.empty() ? linkUnnamed(lock.get(), path) : sys().link.load()(temporary.c_str(), path.c_str());
    if (linked != 0) return failure(FileStep::create, errno, path);
    return syncFolder(path);
}

// ---------------------------------------------------------------- copies and folders

FileStatus keepCopy(const std::string& from, const std::string& to) {
    if (sys().link.load()(from.c_str(), to.c_str()) == 0) return {};
    if (errno == EEXIST) return failure(FileStep::create, errno, to);
    if (errno == ENOENT) {
        // Either name's folder may be the one missing; say which.
        struct stat st {};
        bool fromThere = sys().lstat.load()(from.c_str(), &st) == 0;
        return fromThere ? failure(FileStep::create, ENOENT, to) : failure(FileStep::open, ENOENT, from);
    }
    // No hard links here (or not across these folders): copy the bytes.
    Fd source(openFd(from, O_RDONLY));
    if (source.get() < 0) return failure(FileStep::open, errno, from);
    struct stat st {};
    if (sys().fstat.load()(source.get(), &st) != 0) return failure(FileStep::read, errno, from);
    Fd copy(openFd(to, O_WRONLY | O_CREAT | O_EXCL, 0600));
    if (copy.get() < 0) return failure(FileStep::create, errno, to);
    keepOwner(copy.get(), st);
    setMode(copy.get(), st.st_mode);
    auto abandon = [&](FileError e) {
        copy.close();
        (void)sys().unlink.load()(to.c_str());
        return e;
    };
    char buffer[65536];
    while (true) {
        ssize_t n = sys().read.load()(source.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return abandon(failure(FileStep::read, errno, from));
        if (n == 0) break;
        if (!writeAll(copy.get(), std::string_view(buffer, static_cast<std::size_t>(n))))
            return abandon(failure(FileStep::write, errno, to));
    }
    if (sys().fsync.load()(copy.get()) != 0) return abandon(failure(FileStep::write, errno, to));
    if (copy.close() != 0) {
        int e = errno;
        (void)sys().unlink.load()(to.c_str());
        return failure(FileStep::write, e, to);
    }
    return {};
}

FileStatus createFolders(const std::string& path) {
    if (path.empty()) return {};
    std::size_t pos = path.front() == '/' ? 1 : 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) {
            std::string prefix = path.substr(0, end);
            if (sys().mkdir.load()(prefix.c_str(), 0777) != 0) {
                int e = errno;
                struct stat st {};
                // Already there as a folder (or as a link to one) is what was wanted.
                bool isFolder = e == EEXIST && sys().lstat.load()(prefix.c_str(), &st) == 0 &&
                                (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode));
                if (!isFolder) return failure(FileStep::createFolder, e, prefix);
            }
        }
        pos = end + 1;
    }
    return {};
}

// ---------------------------------------------------------------- locks

FileLock::~FileLock() {
    // Closing the descriptor releases the lock.
    if (fd_ >= 0) closeFd(std::exchange(fd_, -1));
}

FileStatus FileLock::lock(const std::string& path) {
    if (fd_ >= 0) closeFd(std::exchange(fd_, -1));
    Fd fd(openFd(path, O_RDWR | O_CREAT, 0600));
    if (fd.get() < 0) return failure(FileStep::lock, errno, path);
    while (sys().flock.load()(fd.get(), LOCK_EX) != 0)
        if (errno != EINTR) return failure(FileStep::lock, errno, path);
    fd_ = fd.release();
    return {};
}

// ---------------------------------------------------------------- the table

FileSystemCalls& fileSystemCalls() noexcept { return tables().current; }
const FileSystemCalls& systemFileCalls() noexcept { return tables().system; }

}  // namespace platform
