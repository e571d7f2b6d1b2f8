// Files as the stand-ins keep them: reading a whole file within a limit, replacing
// one atomically, creating one only where nothing is, and the table of system calls
// all of it (and the host's mappings of drawing files) goes through, which is the
// one place tests inject file faults.
#pragma once

#include "platform/WinTypes.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The step of a file operation that failed.
enum class FileStep {
    open,  // opening the file to read it
    read,
    notRegular,       // a folder, device or pipe where a file was expected
    tooLarge,         // larger than the caller's limit
    followLink,       // a symbolic link at the path could not be followed
    createTemporary,  // creating the temporary beside the target
    write,            // writing, syncing or closing the temporary
    backup,           // keeping the previous file under its backup name
    rename,           // moving the temporary over the target
    create,           // putting a new file in place (exclusive creation)
    syncFolder,       // the target is replaced, but its folder could not be synced
    createFolder,
    lock,
    changedOnDisk,  // the file is not the version the caller read or last wrote
};

// A failed file operation, translated from errno once, here.
struct FileError {
    int code = 0;  // the errno; 0 for notRegular and a saved changedOnDisk, EFBIG for tooLarge
    FileStep step = FileStep::open;
    // The file (or folder, backup, lock file) concerned; for changedOnDisk the name
    // the new content was saved under instead, or empty when it could not be (code
    // then says why).
    std::string path;
    std::uint64_t fileBytes = 0;   // tooLarge: the size found (at least)
    std::uint64_t limitBytes = 0;  // tooLarge: the caller's limit

    // Why, without the path: "No space left on device", "not a regular file", "the
    // file has 9000000 bytes, more than the 8000000 allowed".
    std::string reason() const;
    // What failed and why, naming the path only where it is not the file the caller
    // asked for: "write failed: No space left on device", "cannot keep the previous
    // file as /d/site.bak: Permission denied", "the file was changed on disk by
    // someone else and is left as they saved it; this version was saved as
    // /d/site (conflict 2026-12-09 101500).dxf".
    std::string message() const;
};

// One version of a file: a replacement gives a new inode, a change in place a new
// size or modification time. Two versions written within the file system's clock
// tick with the same size in place of each other are not told apart.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;  // -1: no version (nothing read yet)
    std::int64_t mtimeNs = -1;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
FileStamp stampOf(const struct stat& info) noexcept;
// The version at `path` (following symbolic links); no value when nothing is there
// or it cannot be looked at.
std::optional<FileStamp> fileStamp(const std::string& path);

// The platform's system error code for a failure: ERROR_FILE_NOT_FOUND for a file
// that is not there to be read, ERROR_PATH_NOT_FOUND for a missing folder,
// ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ERROR_NOT_ENOUGH_MEMORY for a file past the
// limit, and `otherwise` (the caller's word for a failed read or write, such as
// ERROR_WRITE_FAULT or ERROR_CANTWRITE) for anything else.
DWORD systemErrorCode(const FileError& error, DWORD otherwise);

// Success, or the error. Must be looked at.
class [[nodiscard]] FileStatus {
public:
    FileStatus() = default;
    FileStatus(FileError error) : error_(std::move(error)) {}  // NOLINT: a failure converts implicitly
    bool ok() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return ok(); }
    // Only when !ok().
    const FileError& error() const { return *error_; }

private:
    std::optional<FileError> error_;
};

// Reads the whole file into `out`. A file larger than maxBytes is refused
// (FileStep::tooLarge, out left empty), as is anything but a regular file: a pipe,
// device or socket is refused without waiting on it. `stamp`, when given, is set to
// the version that was read.
FileStatus readFile(const std::string& path, std::string& out, std::uint64_t maxBytes, FileStamp* stamp = nullptr);
// The same, except that a larger file gives its first maxBytes and sets `cut`.
FileStatus readFilePrefix(const std::string& path, std::string& out, std::uint64_t maxBytes, bool& cut,
                          FileStamp* stamp = nullptr);
// Reads the file as readFile does, handing it over in pieces of at most 64 KB as
// they come; `piece` returns false to stop reading there (a success), so that a
// reader can refuse a file without reading the rest of it. `declaredBytes`, when
// given, is set to the file's size as it stood when opened, before the first piece.
FileStatus readFilePieces(const std::string& path, std::uint64_t maxBytes,
                          const std::function<bool(std::string_view)>& piece, std::uint64_t* declaredBytes = nullptr,
                          FileStamp* stamp = nullptr);

struct WriteOptions {
    // The mode of a file that does not exist yet: exactly this, or with no value
    // 0666 less the umask, as any new file. A file being replaced keeps its mode, and
    // its owner and group as far as the system lets us give them away (a process
    // that may not give a file to another user still keeps its group where it is a
    // member of it).
    std::optional<mode_t> newFileMode;
    // When not empty and the file exists, its previous content is kept under this
    // name (a hard link where the file system has them, else a copy), replacing
    // whatever had the name, before the new content goes in.
    std::string backupPath;
    // The same, with the backup's name made from the file actually replaced (where
    // symbolic links at the path lead), so that it lands beside that file. Wins over
    // backupPath.
    std::function<std::string(const std::string& target)> backupPathFor;
    // When set, the file is replaced only while it is still this version (the one the
    // caller read or last wrote). Otherwise it is left as it is, the new content is
    // put beside it under conflictPathFor's name and the write fails with
    // FileStep::changedOnDisk. Writers going through here check and replace under an
    // advisory lock on the file, so of two that hold the same version only one wins.
    // A file that is gone meanwhile is simply written.
    std::optional<FileStamp> unchangedSince;
};

// The name a conflicting version of `path` is saved under, beside it:
// "/d/site.dxf" -> "/d/site (conflict 2026-12-09 101500).dxf", with " 2", " 3" ...
// after the time for `attempt` 1, 2 ...; the stem is shortened so that the name
// stays within the file system's limit.
std::string conflictPathFor(const std::string& path, std::int64_t unixSeconds, int attempt = 0);

// Replaces the file at `path` with new content, so that at every moment the path
// holds either the old content or all of the new: the content goes to a temporary
// beside the target, then is synced, renamed over the target, and the folder synced.
// The temporary has no name while it is written (where the file system can do that)
// and gets a short unpredictable one, exclusively, only for the rename; so a process
// killed while writing leaves nothing. A named temporary whose writer is gone (killed
// in between, or on a file system without unnamed files) is removed by the next write
// of the same file: each writer holds a lock on its temporary, and only unlocked
// temporaries of ours with our naming are taken. A symbolic link at `path` stays and
// its target is replaced (the temporary then sits beside the target). Anything but
// a regular file at the target is refused (FileStep::notRegular). On any failure
// before the rename the previous file is as it was and the temporary gone.
//
// Owned by one thread; the temporary is removed by the destructor unless committed.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Finds the target and creates the temporary.
    FileStatus open(const std::string& path, const WriteOptions& options = {});
    // Writes all of `bytes`. After a failure the file is spoilt: later writes and the
    // commit give the same error.
    FileStatus write(std::string_view bytes);
    // Writes `same.size()` bytes of the regular file open as `source`, from `offset`
    // on, which `same` holds in memory too: copied inside the kernel where the file
    // systems allow it (no page of the source passes through the process), else
    // written from `same`. `sourceUnchanged` is asked after each stretch copied; false
    // means the file may have changed while it was read, and that stretch and the
    // rest are written from `same`. Fails as write does.
    FileStatus copyFrom(int source, std::uint64_t offset, std::string_view same,
                        const std::function<bool()>& sourceUnchanged);
    // False once the kernel refused to copy between the files: copyFrom writes.
    bool copiesInKernel() const noexcept { return !kernelCopyRefused_; }
    // Syncs, keeps the backup, renames into place and syncs the folder.
    FileStatus commit();
    // The file that is replaced: `path`, or where its symbolic links lead.
    const std::string& target() const noexcept { return target_; }
    // After a commit: the version now at the target (or, after changedOnDisk, at the
    // conflict name).
    const FileStamp& written() const noexcept { return written_; }

private:
    void discard() noexcept;
    FileStatus nameTemporary();

    int fd_ = -1;
    int lockFd_ = -1;  // the temporary's lock, held from creation to the rename
    std::string target_;
    std::string temporary_;  // empty while the temporary has no name
    std::string backupPath_;
    std::optional<FileStamp> unchangedSince_;
    FileStamp written_;
    bool targetExists_ = false;
    std::optional<FileError> spoilt_;
    bool kernelCopyRefused_ = false;  // once refused for a pair of files, not tried again
};

// AtomicFile in one call; `written`, when given, receives AtomicFile::written().
FileStatus writeFileAtomically(const std::string& path, std::string_view content, const WriteOptions& options = {},
                               FileStamp* written = nullptr);

// Puts a file with `content` at `path` only if nothing is there, a dangling symbolic
// link included: the content is written to a temporary first and linked into
// place, so the file appears whole or not at all. FileStep::create with EEXIST when
// the name is taken.
FileStatus createFileExclusively(const std::string& path, std::string_view content, const WriteOptions& options = {});

// Gives the file at `from` the further name `to` (a hard link, or a copy where the
// file system has no hard links); EEXIST when `to` is taken, ENOENT with the error's
// path `from` when there is no such file.
FileStatus keepCopy(const std::string& from, const std::string& to);

// Creates the folder and its missing parents; a folder already there is fine.
FileStatus createFolders(const std::string& path);

// An exclusive advisory lock on a lock file (created, mode 0600, when missing), for
// serialising writers in several processes. Held until the object is destroyed.
// Owned by one thread.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Waits for the lock.
    FileStatus lock(const std::string& path);

private:
    int fd_ = -1;
};

// ---------------------------------------------------------------- the system calls

// Every system call the file layer makes, each replaceable, so that a test can make
// exactly one of them fail ("the second fsync fails with ENOSPC") without mocks.
// Entries are swapped atomically; a replacement must behave like the call it
// replaces (return -1 and set errno to fail).
struct FileSystemCalls {
    std::atomic<int (*)(const char* path, int flags, mode_t mode)> open;
    std::atomic<int (*)(int fd)> close;
    std::atomic<ssize_t (*)(int fd, void* buffer, std::size_t size)> read;
    std::atomic<ssize_t (*)(int fd, const void* buffer, std::size_t size)> write;
    std::atomic<int (*)(int fd)> fsync;
    std::atomic<int (*)(int fd, struct stat* info)> fstat;
    std::atomic<int (*)(const char* path, struct stat* info)> lstat;
    std::atomic<ssize_t (*)(const char* path, char* buffer, std::size_t size)> readlink;
    std::atomic<int (*)(int fd, mode_t mode)> fchmod;
    std::atomic<int (*)(int fd, uid_t owner, gid_t group)> fchown;
    std::atomic<int (*)(const char* from, const char* to)> rename;
    std::atomic<int (*)(const char* from, const char* to)> link;
    std::atomic<int (*)(const char* path)> unlink;
    std::atomic<int (*)(const char* path, mode_t mode)> mkdir;
    std::atomic<int (*)(int fd, int operation)> flock;
    // Fills the buffer with unpredictable bytes (temporary names).
    std::atomic<ssize_t (*)(void* buffer, std::size_t size, unsigned flags)> getrandom;
    std::atomic<int (*)(const char* path, struct stat* info)> stat;
    // F_GETFL, F_SETFL, F_DUPFD_CLOEXEC, and F_SETSIG and F_SETOWN for the signal of
    // a lease break, with an int argument.
    std::atomic<int (*)(int fd, int command, int argument)> fcntl;
    std::atomic<int (*)(int fromFolder, const char* from, int toFolder, const char* to, int flags)> linkat;
    std::atomic<ssize_t (*)(int from, off_t* fromOffset, int to, off_t* toOffset, std::size_t size, unsigned flags)>
        copyFileRange;
    // File leases: fcntl with F_SETLEASE (argument F_RDLCK or F_UNLCK) and F_GETLEASE
    // (argument ignored).
    std::atomic<int (*)(int fd, int command, int argument)> lease;
    // File mappings and their residency. mremap always moves (MREMAP_MAYMOVE), to
    // `newAddress` with MREMAP_FIXED. The lease-break handler calls lease, mmap,
    // mprotect, mremap and munmap from a signal handler.
    std::atomic<void* (*)(void* address, std::size_t size, int protection, int flags, int fd, off_t offset)> mmap;
    std::atomic<int (*)(void* address, std::size_t size)> munmap;
    std::atomic<void* (*)(void* address, std::size_t size, std::size_t newSize, int flags, void* newAddress)> mremap;
    std::atomic<int (*)(void* address, std::size_t size, int protection)> mprotect;
    std::atomic<int (*)(void* address, std::size_t size, int advice)> madvise;
};

// The table in use; its entries start as the system's own.
FileSystemCalls& fileSystemCalls() noexcept;
// The system's own calls, for putting an entry back.
const FileSystemCalls& systemFileCalls() noexcept;

}  // namespace platform
