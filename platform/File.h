// Files as the stand-ins keep them: reading a whole file within a limit, replacing
// one atomically, creating one only where nothing is, and the table of system calls
// all of it goes through, which is the one place tests inject file faults.
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
};

// A failed file operation, translated from errno once, here.
struct FileError {
    int code = 0;  // the errno; 0 for notRegular, EFBIG for tooLarge
    FileStep step = FileStep::open;
    std::string path;              // the file (or folder, backup, lock file) concerned
    std::uint64_t fileBytes = 0;   // tooLarge: the size found (at least)
    std::uint64_t limitBytes = 0;  // tooLarge: the caller's limit

    // Why, without the path: "No space left on device", "not a regular file", "the
    // file has 9000000 bytes, more than the 8000000 allowed".
    std::string reason() const;
    // What failed and why, naming the path only where it is not the file the caller
    // asked for: "write failed: No space left on device", "cannot keep the previous
    // file as /d/site.bak: Permission denied".
    std::string message() const;
};

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
// (FileStep::tooLarge, out left empty), as is anything but a regular file.
FileStatus readFile(const std::string& path, std::string& out, std::uint64_t maxBytes);
// The same, except that a larger file gives its first maxBytes and sets `cut`.
FileStatus readFilePrefix(const std::string& path, std::string& out, std::uint64_t maxBytes, bool& cut);
// Reads the file as readFile does, handing it over in pieces of at most 64 KB as
// they come; `piece` returns false to stop reading there (a success), so that a
// reader can refuse a file without reading the rest of it. `declaredBytes`, when
// given, is set to the file's size as it stood when opened, before the first piece.
FileStatus readFilePieces(const std::string& path, std::uint64_t maxBytes,
                          const std::function<bool(std::string_view)>& piece, std::uint64_t* declaredBytes = nullptr);

struct WriteOptions {
    // The mode of a file that does not exist yet: exactly this, or with no value
    // 0666 less the umask, as any new file. A file being replaced keeps its mode.
    std::optional<mode_t> newFileMode;
    // When not empty and the file exists, its previous content is kept under this
    // name (a hard link where the file system has them, else a copy), replacing
    // whatever had the name, before the new content goes in.
    std::string backupPath;
};

// Replaces the file at `path` with new content, so that at every moment the path
// holds either the old content or all of the new: the content goes to a temporary
// beside the target, created exclusively under an unpredictable name, then synced,
// renamed over the target, and the folder synced. A symbolic link at `path` stays
// and its target is replaced (the temporary then sits beside the target). On any
// failure before the rename the previous file is as it was and the temporary gone.
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
    // Syncs, keeps the backup, renames into place and syncs the folder.
    FileStatus commit();
    // The file that is replaced: `path`, or where its symbolic links lead.
    const std::string& target() const noexcept { return target_; }

private:
    void discard() noexcept;

    int fd_ = -1;
    std::string target_;
    std::string temporary_;
    std::string backupPath_;
    bool targetExists_ = false;
    std::optional<FileError> spoilt_;
};

// AtomicFile in one call.
FileStatus writeFileAtomically(const std::string& path, std::string_view content, const WriteOptions& options = {});

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
    std::atomic<int (*)(const char* from, const char* to)> rename;
    std::atomic<int (*)(const char* from, const char* to)> link;
    std::atomic<int (*)(const char* path)> unlink;
    std::atomic<int (*)(const char* path, mode_t mode)> mkdir;
    std::atomic<int (*)(int fd, int operation)> flock;
    // Fills the buffer with unpredictable bytes (temporary names).
    std::atomic<ssize_t (*)(void* buffer, std::size_t size, unsigned flags)> getrandom;
};

// The table in use; its entries start as the system's own.
FileSystemCalls& fileSystemCalls() noexcept;
// The system's own calls, for putting an entry back.
const FileSystemCalls& systemFileCalls() noexcept;

}  // namespace platform
