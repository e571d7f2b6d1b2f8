// Workbooks on disk: new workbooks reserved as BookN.xlsx, changed workbooks saved
// atomically when a command ends, files opened by path, and files changed by other
// programs reloaded with a SheetChange event per changed cell.
#include "sheet/Spreadsheet.h"

#include "automation/DispatchSupport.h"
#include "platform/File.h"
#include "sheet/Automation.h"
#include "sheet/BookLifecycle.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/ForeignFile.h"
#include "sheet/xlsx/Package.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace sheet {
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

std::vector<std::string> flushChangedWorkbooks() {
    auto backend = runningBackend();
    if (!backend) return {};
    std::vector<std::string> problems;
    Lock lock(backend->mutex);
    for (const auto& book : backend->openBooks) {
        if (book->path.empty() || !book->readOnlyReason.empty() || !book->isChanged()) continue;
        automation::SaveOutcome saved = automation::saveWorkbook(*backend, *book);
        // A version kept beside a file another program changed is safe there; the
        // file is theirs, and it is read again as any workbook changed by another
        // program, so that what is on screen is what is on disk.
        if (saved.isKeptBeside) book->markSaved();
        // A save failing again the same way at the end of every command is told once.
        if (!saved.problem.empty() && saved.problem != book->toldSaveProblem) problems.push_back(saved.problem);
        book->toldSaveProblem = saved.problem;
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
    } catch (const xlsx::ForeignFileError& e) {
        throw ForeignWorkbookFileError(givenPath + ": " + e.what(), givenPath, e.kind(), e.isDrawing());
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
    auto backend = runningBackend();
    if (!backend) throw std::runtime_error("the spreadsheet application could not be started");
    Lock lock(backend->mutex);
    for (const auto& b : backend->openBooks)
        if (b->path == prepared->path) {
            backend->activate(b);
            return readOnlyNote(*b);
        }
    std::shared_ptr<Book> book = prepared->book;
    // Another program may have written the file since it was read.
    if (!book || stampOf(prepared->path) != prepared->stamp)
        book = readBookFile(prepared->givenPath, prepared->path, prepared->stamp);
    prepared->book.reset();
    backend->activate(book);
    return readOnlyNote(*book);
}

void openWorkbookFile(const std::string& givenPath) {
    {
        startSpreadsheetApplication();
        auto backend = runningBackend();
        if (!backend) throw std::runtime_error("the spreadsheet application could not be started");
        std::string path = absolutePath(givenPath);
        Lock lock(backend->mutex);
        for (const auto& b : backend->openBooks)
            if (b->path == path) {
                backend->activate(b);
                return;
            }
    }
    openWorkbookFile(prepareWorkbookFile(givenPath));
}

void createWorkbookFile(const std::string& givenPath, bool replace) {
    const std::string path = absolutePath(givenPath);
    Book book(utf8ToUtf16(baseName(path)));
    book.insertSheet(0, u"Sheet1");
    const std::string bytes = xlsx::writePackage(book);
    platform::WriteOptions options;
    options.newFileMode = 0644;
    const platform::FileStatus written = replace ? platform::writeFileAtomically(path, bytes, options)
                                                 : platform::createFileExclusively(path, bytes, options);
    if (!written) {
        if (written.error().step == platform::FileStep::create && written.error().code == EEXIST)
            throw std::runtime_error(givenPath + " exists");
        throw std::runtime_error(givenPath + ": " + written.error().reason());
    }
    openWorkbookFile(givenPath);
}

std::vector<automation::CellChange> MemoryBackend::refresh() {
    std::vector<automation::CellChange> changes;
    Lock lock(mutex);
    for (const auto& book : openBooks) {
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
            for (const SheetChange& c : adopt(*book, *fresh))
                changes.push_back({c.sheet, automation::Area{c.cell.row, c.cell.column, c.cell.row, c.cell.column}});
            book->stamp = read;
            book->unreadableReason.clear();
        } catch (const std::exception& e) {
            book->unreadableStamp = *stamp;
            book->unreadableReason = e.what();
            book->unreadableLooks = 0;
        }
    }
    return changes;
}

std::vector<std::string> reloadChangedWorkbooks() {
    auto front = runningFront();
    auto backend = runningBackend();
    if (!front || !backend) return {};
    front->announce(backend->refresh());
    std::vector<std::string> messages;
    Lock lock(backend->mutex);
    for (const auto& book : backend->openBooks) {
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
