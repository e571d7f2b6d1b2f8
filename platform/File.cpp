// The file layer: whole-file reads, atomic replacement, exclusive creation and the
// replaceable system call table under them.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace platform {

namespace {

int systemOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t systemReadlink(const char* path, char* buffer, std::size_t size) { return ::readlink(path, buffer, size); }

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
            t->rename = &::rename;
            t->link = &::link;
            t->unlink = &::unlink;
            t->mkdir = &::mkdir;
            t->flock = &::flock;
            t->getrandom = &::getrandom;
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

// Creates "<folder>/.<name>.<random>.tmp" exclusively; the random part keeps
// another process (or user, in a shared folder) from guessing the name and putting a
// link there first.
FileStatus createTemporary(const std::string& beside, mode_t createMode, int& fd, std::string& name) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string folder = folderOf(beside);
    // Names stay well below NAME_MAX whatever the target is called.
    std::string base = baseNameOf(beside).substr(0, 120);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[12];
        ssize_t got = sys().getrandom.load()(random, sizeof random, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got != static_cast<ssize_t>(sizeof random))
            return failure(FileStep::createTemporary, got < 0 ? errno : EIO, folder);
        std::string suffix;
        for (unsigned char r : random) suffix += kAlphabet[r % (sizeof kAlphabet - 1)];
        name = folder + "/." + base + "." + suffix + ".tmp";
        fd = openFd(name, O_WRONLY | O_CREAT | O_EXCL, createMode);
        if (fd >= 0) return {};
        if (errno != EEXIST) return failure(FileStep::createTemporary, errno, folder);
    }
    return failure(FileStep::createTemporary, EEXIST, folder);
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

FileStatus readInto(const std::string& path, std::string& out, std::uint64_t maxBytes, bool* cut) {
    out.clear();
    if (cut) *cut = false;
    Fd fd(openFd(path, O_RDONLY));
    if (fd.get() < 0) return failure(FileStep::open, errno, path);
    struct stat st {};
    if (sys().fstat.load()(fd.get(), &st) != 0) return failure(FileStep::read, errno, path);
    if (!S_ISREG(st.st_mode)) return failure(FileStep::notRegular, 0, path);
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

FileStatus readFile(const std::string& path, std::string& out, std::uint64_t maxBytes) {
    return readInto(path, out, maxBytes, nullptr);
}

FileStatus readFilePrefix(const std::string& path, std::string& out, std::uint64_t maxBytes, bool& cut) {
    return readInto(path, out, maxBytes, &cut);
}

FileStatus readFilePieces(const std::string& path, std::uint64_t maxBytes,
                          const std::function<bool(std::string_view)>& piece, std::uint64_t* declaredBytes) {
    Fd fd(openFd(path, O_RDONLY));
    if (fd.get() < 0) return failure(FileStep::open, errno, path);
    struct stat st {};
    if (sys().fstat.load()(fd.get(), &st) != 0) return failure(FileStep::read, errno, path);
    if (!S_ISREG(st.st_mode)) return failure(FileStep::notRegular, 0, path);
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

// ---------------------------------------------------------------- atomic replacement

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) closeFd(std::exchange(fd_, -1));
    if (!temporary_.empty()) (void)sys().unlink.load()(std::exchange(temporary_, {}).c_str());
}

FileStatus AtomicFile::open(const std::string& path, const WriteOptions& options) {
    discard();
    spoilt_.reset();
    if (FileStatus s = followLinks(path, target_); !s) return s;
    backupPath_ = options.backupPath;
    struct stat st {};
    targetExists_ = sys().lstat.load()(target_.c_str(), &st) == 0;
    // The temporary starts private; it gets its final mode before any content, so a
    // file replaced with a tighter mode is never readable more widely in between.
    bool modeKnown = targetExists_ || options.newFileMode;
    mode_t mode = targetExists_ ? (st.st_mode & 07777) : options.newFileMode.value_or(0666);
    if (FileStatus s = createTemporary(target_, modeKnown ? 0600 : 0666, fd_, temporary_); !s) {
        fd_ = -1;
        temporary_.clear();
        return s;
    }
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

FileStatus AtomicFile::commit() {
    if (spoilt_) return *spoilt_;
    if (fd_ < 0) return failure(FileStep::write, EBADF, target_);
    auto fail = [&](FileError e) {
        spoilt_ = e;
        discard();
        return FileStatus(std::move(e));
    };
    if (sys().fsync.load()(fd_) != 0) return fail(failure(FileStep::write, errno, target_));
    if (closeFd(std::exchange(fd_, -1)) != 0) return fail(failure(FileStep::write, errno, target_));
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
    return syncFolder(target_);
}

FileStatus writeFileAtomically(const std::string& path, std::string_view content, const WriteOptions& options) {
    AtomicFile file;
    if (FileStatus s = file.open(path, options); !s) return s;
    if (FileStatus s = file.write(content); !s) return s;
    return file.commit();
}

// ---------------------------------------------------------------- exclusive creation

FileStatus createFileExclusively(const std::string& path, std::string_view content, const WriteOptions& options) {
    int raw = -1;
    std::string temporary;
    mode_t mode = options.newFileMode.value_or(0666);
    if (FileStatus s = createTemporary(path, options.newFileMode ? 0600 : 0666, raw, temporary); !s) return s;
    Fd fd(raw);
    struct Remove {
        const std::string& name;
        ~Remove() { (void)sys().unlink.load()(name.c_str()); }
    } remove{temporary};
    if (options.newFileMode) setMode(fd.get(), mode);
    if (!writeAll(fd.get(), content)) return failure(FileStep::write, errno, path);
    if (sys().fsync.load()(fd.get()) != 0) return failure(FileStep::write, errno, path);
    if (fd.close() != 0) return failure(FileStep::write, errno, path);
    // link() never replaces and never follows a link at the new name, unlike rename.
    if (sys().link.load()(temporary.c_str(), path.c_str()) != 0) return failure(FileStep::create, errno, path);
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
