// Workbooks on disk: new workbooks reserved as BookN.xlsx, changed workbooks saved
// atomically when a command ends, files opened by path, and files changed by other
// programs reloaded with a SheetChange event per changed cell.
#include "sheet/Spreadsheet.h"

#include "platform/File.h"
#include "sheet/DispatchSupport.h"
#include "sheet/Objects.h"
#include "sheet/Utf.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/Package.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace sheet {

std::shared_ptr<AppState> runningState();

namespace {

using Lock = std::lock_guard<std::mutex>;

std::optional<FileStamp> stampOf(const std::string& path) { return platform::fileStamp(path); }

std::string readFile(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp = nullptr) {
    std::string bytes;
    platform::FileStatus read = platform::readFile(path, bytes, maxBytes, stamp);
    if (read) return bytes;
    if (read.error().step == platform::FileStep::tooLarge)
        throw std::runtime_error("the file is too large to be a workbook here");
    throw std::runtime_error(read.error().reason());
}

std::string baseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A workbook keeps the mode of the file it replaces, and a new one is readable by
// others like any file the user saves.
platform::WriteOptions workbookWriteOptions() {
    platform::WriteOptions options;
    options.newFileMode = 0644;
    return options;
}

// A save that found the file changed on disk by another program: theirs is kept
// at the name, ours was put beside it (`keptAs`, empty when that failed too).
struct SaveConflict : std::runtime_error {
    SaveConflict(const std::string& what, std::string kept) : std::runtime_error(what), keptAs(std::move(kept)) {}
    std::string keptAs;
};

// Replaces the workbook's file unless someone else changed it since `known` (when
// the version is known); returns the version written.
FileStamp replaceFile(const std::string& path, const std::string& bytes, const FileStamp& known) {
    platform::WriteOptions options = workbookWriteOptions();
    if (known.size >= 0) options.unchangedSince = known;
    FileStamp written;
    platform::FileStatus status = platform::writeFileAtomically(path, bytes, options, &written);
    if (status) return written;
    if (status.error().step == platform::FileStep::changedOnDisk)
        throw SaveConflict(status.error().message(), status.error().path);
    throw std::runtime_error(status.error().message());
}

// Creates path with bytes unless something is there (false then).
bool createFileExclusively(const std::string& path, const std::string& bytes) {
    platform::FileStatus created = platform::createFileExclusively(path, bytes, workbookWriteOptions());
    if (created) return true;
    if (created.error().step == platform::FileStep::create && created.error().code == EEXIST) return false;
    throw std::runtime_error(created.error().message());
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer)) return path;
    return std::string(buffer) + "/" + path;
}

bool sameValue(const Cell* a, const Book& bookA, const Cell* b, const Book& bookB) {
    CellKind ka = a ? a->kind : CellKind::Empty, kb = b ? b->kind : CellKind::Empty;
    if (ka != kb) return false;
    switch (ka) {
    case CellKind::Empty:
        return true;
    case CellKind::Number:
    case CellKind::Boolean:
        return a->number == b->number;
    case CellKind::Error:
        return a->error == b->error;
    case CellKind::Text:
        return bookA.strings.text(a->text) == bookB.strings.text(b->text);
    }
    return true;
}

// Cells whose value differs between the old and the new content of a sheet.
void changedCells(const Sheet* old, const Sheet& fresh, std::vector<CellRef>& out) {
    static const std::vector<Sheet::RowCells> kNoRows;
    const auto& oldRows = old ? old->rows() : kNoRows;
    const auto& freshRows = fresh.rows();
    static const Sheet::Row kEmpty;
    // Both lists ascend by row: walked side by side, a row only one of them has
    // compares with an empty one.
    for (std::size_t ri = 0, rj = 0; ri < oldRows.size() || rj < freshRows.size();) {
        std::int32_t row;
        const Sheet::Row* pa = &kEmpty;
        const Sheet::Row* pb = &kEmpty;
        if (rj == freshRows.size() || (ri < oldRows.size() && oldRows[ri].row < freshRows[rj].row)) {
            row = oldRows[ri].row;
            pa = &oldRows[ri++].cells;
        } else if (ri == oldRows.size() || freshRows[rj].row < oldRows[ri].row) {
            row = freshRows[rj].row;
            pb = &freshRows[rj++].cells;
        } else {
            row = oldRows[ri].row;
            pa = &oldRows[ri++].cells;
            pb = &freshRows[rj++].cells;
        }
        const Sheet::Row& a = *pa;
        const Sheet::Row& b = *pb;
        std::size_t i = 0, j = 0;
        while (i < a.size() || j < b.size()) {
            const Cell* ca = i < a.size() ? &a[i] : nullptr;
            const Cell* cb = j < b.size() ? &b[j] : nullptr;
            std::uint16_t column;
            if (ca && (!cb || ca->column < cb->column)) {
                column = ca->column;
                cb = nullptr;
                ++i;
            } else if (cb && (!ca || cb->column < ca->column)) {
                column = cb->column;
                ca = nullptr;
                ++j;
            } else {
                column = ca->column;
                ++i;
                ++j;
            }
            if (!sameValue(ca, old ? old->book() : fresh.book(), cb, fresh.book())) out.push_back(CellRef{row, column});
        }
    }
}

struct SheetChange {
    std::shared_ptr<Sheet> sheet;
    CellRef cell;
};

// Replaces book's content with fresh's, keeping the Sheet objects of sheets that
// are still there (callers may hold them). Returns the changed cells.
std::vector<SheetChange> adopt(Book& book, Book& fresh) {
    std::vector<SheetChange> changes;
    std::vector<std::shared_ptr<Sheet>> sheets;
    std::vector<CellRef> cells;
    for (const auto& fs : fresh.sheets()) {
        std::shared_ptr<Sheet> target;
        if (auto index = book.findSheet(fs->name())) target = book.sheets()[*index];
        cells.clear();
        changedCells(target.get(), *fs, cells);
        if (!target) target = std::make_shared<Sheet>(book, fs->name());
        target->setName(fs->name());
        target->swapContent(*fs);
        for (const auto& c : cells) changes.push_back({target, c});
        sheets.push_back(target);
    }
    // What the fresh carry says of its sheets goes to the sheets kept in their place.
    if (fresh.carry)
        if (auto first = fresh.carry->firstTab.lock()) {
            auto it = std::find(fresh.sheets().begin(), fresh.sheets().end(), first);
            fresh.carry->firstTab.reset();
            if (it != fresh.sheets().end()) fresh.carry->firstTab = sheets[it - fresh.sheets().begin()];
        }
    book.sheets() = std::move(sheets);
    book.strings = std::move(fresh.strings);
    book.styles = std::move(fresh.styles);
    book.isDate1904 = fresh.isDate1904;
    book.carry = fresh.carry;
    book.readOnlyReason = fresh.readOnlyReason;
    if (book.carry)
        for (auto& d : book.carry->definedNames)
            if (d.isLocal && d.localIndex >= 0 && static_cast<std::size_t>(d.localIndex) < book.sheets().size())
                d.localSheet = book.sheets()[d.localIndex];
    book.setActiveIndex(fresh.activeIndex());
    book.markSaved();
    return changes;
}

}  // namespace

std::shared_ptr<Book> addNewBook(AppState& app) {
    for (int attempts = 0; attempts < 10000; ++attempts) {
        int number = ++app.bookCounter;
        std::u16string name = utf8ToUtf16("Book" + std::to_string(number));
        bool taken = false;
        for (const auto& b : app.books) taken = taken || sameNameIgnoringCase(b->name(), name);
        if (taken) continue;
        std::string path = absolutePath(utf16ToUtf8(name) + ".xlsx");
        if (stampOf(path)) continue;
        auto book = std::make_shared<Book>(name);
        book->insertSheet(0, u"Sheet1");
        book->path = path;
        try {
            // Writing the empty workbook now reserves its name on disk.
            if (!createFileExclusively(path, xlsx::writePackage(*book))) continue;
            book->markSaved();
            if (auto s = stampOf(path)) book->stamp = *s;
        } catch (const std::exception&) {
            // The folder may not be writable; the workbook still works and the save
            // at the end of the command reports the problem.
        }
        activateBook(app, book);
        return book;
    }
    applicationError("No free workbook name BookN.xlsx was found in the current folder.");
}

std::vector<std::string> flushChangedWorkbooks() {
    auto app = runningState();
    if (!app) return {};
    std::vector<std::string> problems;
    Lock lock(app->mutex);
    for (const auto& book : app->books) {
        if (book->path.empty() || !book->readOnlyReason.empty() || !book->isChanged()) continue;
        std::string problem;
        try {
            std::string bytes = xlsx::writePackage(*book);
            book->stamp = replaceFile(book->path, bytes, book->stamp);
            book->markSaved();
            book->toldSaveProblem.clear();
            continue;
        } catch (const SaveConflict& e) {
            problem = "The workbook '" + utf16ToUtf8(book->name()) + "' was not saved to " + book->path + ": " +
                      e.what() + ".";
            // This session's version is safe beside the file; the file is theirs, and it
            // is read again as any workbook changed by another program, so that what
            // is on screen is what is on disk.
            if (!e.keptAs.empty()) book->markSaved();
        } catch (const std::exception& e) {
            problem = "The workbook '" + utf16ToUtf8(book->name()) + "' could not be saved to " + book->path + ": " +
                      e.what();
        }
        if (problem != book->toldSaveProblem) problems.push_back(problem);
        book->toldSaveProblem = problem;
    }
    return problems;
}

struct PreparedWorkbook {
    std::string givenPath;
    std::string path;  // absolute
    std::optional<FileStamp> stamp;
    std::shared_ptr<Book> book;
};

namespace {

// The workbook as the file holds it now; throws naming the file.
std::shared_ptr<Book> readBookFile(const std::string& givenPath, const std::string& path,
                                   std::optional<FileStamp>& stamp) {
    try {
        FileStamp read;
        std::string bytes = readFile(path, xlsx::ReadLimits{}.maxFileBytes, &read);
        stamp = read;
        std::shared_ptr<Book> book = xlsx::readPackage(bytes, utf8ToUtf16(baseName(path)));
        book->path = path;
        if (stamp) book->stamp = *stamp;
        return book;
    } catch (const std::exception& e) {
        throw std::runtime_error(givenPath + ": " + e.what());
    }
}

}  // namespace

std::shared_ptr<PreparedWorkbook> prepareWorkbookFile(const std::string& givenPath) {
    auto prepared = std::make_shared<PreparedWorkbook>();
    prepared->givenPath = givenPath;
    prepared->path = absolutePath(givenPath);
    prepared->book = readBookFile(givenPath, prepared->path, prepared->stamp);
    return prepared;
}

namespace {
std::string readOnlyNote(const Book& book) {
    if (book.readOnlyReason.empty()) return {};
    return "the workbook " + quoted(book.name()) + " opens read-only because " + book.readOnlyReason +
           ": a command that would change it is refused, and the file is left as it is";
}
}  // namespace

std::string openWorkbookFile(const std::shared_ptr<PreparedWorkbook>& prepared) {
    if (!prepared) throw std::invalid_argument("openWorkbookFile: no prepared workbook");
    startSpreadsheetApplication();
    auto app = runningState();
    if (!app) throw std::runtime_error("the spreadsheet application could not be started");
    Lock lock(app->mutex);
    for (const auto& b : app->books)
        if (b->path == prepared->path) {
            activateBook(*app, b);
            return readOnlyNote(*b);
        }
    std::shared_ptr<Book> book = prepared->book;
    // Another program may have written the file since it was read.
    if (!book || stampOf(prepared->path) != prepared->stamp)
        book = readBookFile(prepared->givenPath, prepared->path, prepared->stamp);
    prepared->book.reset();
    activateBook(*app, book);
    return readOnlyNote(*book);
}

void openWorkbookFile(const std::string& givenPath) {
    {
        startSpreadsheetApplication();
        auto app = runningState();
        if (!app) throw std::runtime_error("the spreadsheet application could not be started");
        std::string path = absolutePath(givenPath);
        Lock lock(app->mutex);
        for (const auto& b : app->books)
            if (b->path == path) {
                activateBook(*app, b);
                return;
            }
    }
    openWorkbookFile(prepareWorkbookFile(givenPath));
}

void refreshFromDisk(const std::shared_ptr<AppState>& app) {
    std::vector<SheetChange> changes;
    {
        Lock lock(app->mutex);
        for (const auto& book : app->books) {
            if (book->path.empty() || book->stamp.size < 0) continue;
            // Changes made here and not saved yet win; they are written at the end of
            // the command. Asked first, this also spares a long export a look at the
            // file for every row it writes.
            if (book->isChanged()) continue;
            auto stamp = stampOf(book->path);
            if (!stamp || *stamp == book->stamp || *stamp == book->unreadableStamp) continue;
            try {
                FileStamp read;
                std::string bytes = readFile(book->path, xlsx::ReadLimits{}.maxFileBytes, &read);
                auto fresh = xlsx::readPackage(bytes, book->name());
                auto found = adopt(*book, *fresh);
                changes.insert(changes.end(), found.begin(), found.end());
                book->stamp = read;
                book->unreadableReason.clear();
            } catch (const std::exception& e) {
                book->unreadableStamp = *stamp;
                book->unreadableReason = e.what();
                book->unreadableLooks = 0;
            }
        }
    }
    if (changes.empty() || !app->events) return;
    for (const auto& c : changes) {
        platform::ComPtr<IDispatch> sheet, range;
        {
            Lock lock(app->mutex);
            sheet = makeWorksheetObject(app, c.sheet);
            range = makeRangeObject(app, c.sheet, Area{c.cell.row, c.cell.column, c.cell.row, c.cell.column});
        }
        app->events->fire(kDispidSheetChange,
                          {platform::Variant::dispatch(sheet.get()), platform::Variant::dispatch(range.get())});
    }
}

std::vector<std::string> reloadChangedWorkbooks() {
    auto app = runningState();
    if (!app) return {};
    refreshFromDisk(app);
    std::vector<std::string> messages;
    Lock lock(app->mutex);
    for (const auto& book : app->books) {
        if (book->unreadableReason.empty()) continue;
        if (stampOf(book->path) != book->unreadableStamp) continue;
        // The look that failed is the first; the next that finds the same version
        // tells it.
        if (++book->unreadableLooks != 2) continue;
        messages.push_back("The workbook '" + utf16ToUtf8(book->name()) + "' changed on disk but cannot be read (" +
                           book->unreadableReason + "); it keeps what it held, and its edits reach no one until " +
                           "its file can be read again.");
    }
    return messages;
}

}  // namespace sheet
