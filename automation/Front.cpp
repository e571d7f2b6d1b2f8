// The front's application: its events, new workbooks named BookN with their files
// reserved, and workbooks written to their files.
#include "automation/Front.h"

#include "automation/Names.h"
#include "automation/Objects.h"
#include "automation/Utf.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <exception>
#include <string>

using platform::ComPtr;
using platform::Variant;

namespace automation {

Front::Front(std::shared_ptr<Backend> backend) : backend_(std::move(backend)) {
    events_ = points_.add(kAppEventsIid);
    userName_ = backend_->defaultUserName();
}

Front::~Front() = default;

std::shared_ptr<Front> Front::make(std::shared_ptr<Backend> backend) {
    return std::shared_ptr<Front>(new Front(std::move(backend)));
}

ComPtr<IDispatch> Front::application() {
    {
        std::lock_guard lock(mutex_);
        if (application_) return ComPtr<IDispatch>(application_);
    }
    ComPtr<IDispatch> made = makeApplicationObject(shared_from_this());
    std::lock_guard lock(mutex_);
    if (application_) return ComPtr<IDispatch>(application_);
    application_ = made.get();
    return made;
}

void Front::announce(const std::vector<CellChange>& changes) {
    if (changes.empty()) return;
    auto self = shared_from_this();
    for (const CellChange& change : changes) {
        ComPtr<IDispatch> sheet = makeWorksheetObject(self, change.sheet);
        ComPtr<IDispatch> range = makeRangeObject(self, change.sheet, change.area);
        events_->fire(dispid::SheetChange, {Variant::dispatch(sheet.get()), Variant::dispatch(range.get())});
    }
}

namespace {

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return path;
    return std::string(buffer) + "/" + path;
}

// A workbook keeps the mode of the file it replaces, and a new one is readable by
// others like any file the user saves.
platform::WriteOptions workbookWriteOptions() {
    platform::WriteOptions options;
    options.newFileMode = 0644;
    return options;
}

}  // namespace

bool isReadOnlyFile(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // The mode bits say it even to the superuser, whom access() lets write anything.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(path.c_str(), W_OK) != 0 && errno == EACCES;
}

BookPtr addNumberedBook(Front& front) {
    Backend& backend = front.backend();
    BookPtr book = backend.newBook();
    // The empty workbook's file: what reserves its name on disk. When it cannot be
    // had, or the folder cannot be written, the workbook still works and the save
    // at the end of the command says what is wrong.
    std::optional<std::string> bytes;
    try {
        bytes = backend.workbookBytes(*book);
    } catch (const std::exception&) {
    }
    const std::vector<BookPtr> open = backend.books();
    for (int attempts = 0; attempts < 10000; ++attempts) {
        int number;
        {
            std::lock_guard lock(FrontAccess::mutex(front));
            number = ++FrontAccess::bookCounter(front);
        }
        std::u16string name = utf8ToUtf16("Book" + std::to_string(number));
        bool taken = false;
        for (const BookPtr& b : open) taken = taken || (b != book && sameNameIgnoringCase(backend.bookName(*b), name));
        if (taken) continue;
        const std::string path = absolutePath(utf16ToUtf8(name) + ".xlsx");
        if (platform::fileStamp(path)) continue;
        bool isReserved = false;
        if (bytes) {
            platform::FileStatus created = platform::createFileExclusively(path, *bytes, workbookWriteOptions());
            if (!created && created.error().step == platform::FileStep::create && created.error().code == EEXIST)
                continue;
            isReserved = created.ok();
        }
        backend.nameBook(*book, std::move(name), path);
        if (isReserved)
            if (auto written = platform::fileStamp(path)) backend.markSaved(*book, *written);
        return book;
    }
    applicationError("No free workbook name BookN.xlsx was found in the current folder.");
}

SaveOutcome saveWorkbook(Backend& backend, BookHandle& book) {
    const std::string path = backend.bookPath(book);
    SaveOutcome outcome;
    // A file the user made read-only is theirs to keep as it is: a rename over it
    // would succeed (the folder is writable) and undo what they meant.
    if (isReadOnlyFile(path)) {
        outcome.problem = path + " is read-only; the workbook was not saved";
        return outcome;
    }
    try {
        const std::string bytes = backend.workbookBytes(book);
        platform::WriteOptions options = workbookWriteOptions();
        options.unchangedSince = backend.knownVersion(book);
        platform::FileStamp written;
        platform::FileStatus status = platform::writeFileAtomically(path, bytes, options, &written);
        if (status) {
            backend.markSaved(book, written);
            return outcome;
        }
        if (status.error().step == platform::FileStep::changedOnDisk) {
            // The file is theirs; this session's version is safe beside it, unless
            // that failed too.
            outcome.problem = "The workbook '" + utf16ToUtf8(backend.bookName(book)) + "' was not saved to " + path +
                              ": " + status.error().message() + ".";
            outcome.isKeptBeside = !status.error().path.empty();
            return outcome;
        }
        outcome.problem = status.error().message();
    } catch (const std::exception& e) {
        outcome.problem = e.what();
    }
    outcome.problem = "The workbook '" + utf16ToUtf8(backend.bookName(book)) + "' could not be saved to " + path +
                      ": " + outcome.problem;
    return outcome;
}

}  // namespace automation
