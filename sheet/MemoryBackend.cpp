// The stand-in's workbooks and sheets as the front asks for them: the active
// workbook, new workbooks and sheets, names, visibility, and the bytes a workbook is
// saved as.
#include "sheet/MemoryBackend.h"

#include "automation/DispatchSupport.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/XlsxError.h"

#include <algorithm>

using automation::Area;
using automation::BookHandle;
using automation::BookPtr;
using automation::SheetHandle;
using automation::SheetPtr;

namespace sheet {

void MemoryBackend::run(bool, const std::function<void()>& member) {
    std::lock_guard lock(mutex);
    member();
}

void MemoryBackend::activate(const std::shared_ptr<Book>& book) {
    if (std::find(openBooks.begin(), openBooks.end(), book) == openBooks.end()) openBooks.push_back(book);
    active = book;
}

std::vector<BookPtr> MemoryBackend::books() { return {openBooks.begin(), openBooks.end()}; }

void MemoryBackend::activateBook(const BookPtr& book) { activate(std::static_pointer_cast<Book>(book)); }

BookPtr MemoryBackend::newBook() {
    auto book = std::make_shared<Book>(u"Book");
    book->insertSheet(0, u"Sheet1");
    activate(book);
    return book;
}

void MemoryBackend::nameBook(BookHandle& handle, std::u16string name, std::string path) {
    Book& book = bookOfHandle(handle);
    book.setName(std::move(name));
    book.path = std::move(path);
}

std::u16string MemoryBackend::bookName(const BookHandle& book) { return bookOfHandle(book).name(); }
std::string MemoryBackend::bookPath(const BookHandle& book) { return bookOfHandle(book).path; }
std::string MemoryBackend::readOnlyReason(const BookHandle& book) { return bookOfHandle(book).readOnlyReason; }
std::string MemoryBackend::workbookBytes(BookHandle& book) { return xlsx::writePackage(bookOfHandle(book)); }

std::optional<platform::FileStamp> MemoryBackend::knownVersion(const BookHandle& handle) {
    const Book& book = bookOfHandle(handle);
    if (book.stamp.size < 0) return std::nullopt;
    return book.stamp;
}

void MemoryBackend::markSaved(BookHandle& handle, const platform::FileStamp& written) {
    Book& book = bookOfHandle(handle);
    book.stamp = written;
    book.markSaved();
}

std::size_t MemoryBackend::sheetCount(const BookHandle& book) { return bookOfHandle(book).sheets().size(); }

SheetPtr MemoryBackend::sheetAt(const BookHandle& book, std::size_t index) {
    return bookOfHandle(book).sheets().at(index);
}

SheetPtr MemoryBackend::activeSheet(const BookHandle& book) { return bookOfHandle(book).activeSheet(); }

BookPtr MemoryBackend::bookOf(const SheetHandle& sheet) {
    const Book* book = &sheetOfHandle(sheet).book();
    for (const auto& b : openBooks)
        if (b.get() == book) return b;
    return nullptr;
}

std::optional<std::size_t> MemoryBackend::sheetIndex(const SheetHandle& handle) {
    const Sheet& sheet = sheetOfHandle(handle);
    const auto& sheets = sheet.book().sheets();
    auto it = std::find_if(sheets.begin(), sheets.end(), [&](const auto& s) { return s.get() == &sheet; });
    if (it == sheets.end()) return std::nullopt;
    return static_cast<std::size_t>(it - sheets.begin());
}

std::u16string MemoryBackend::sheetName(const SheetHandle& sheet) { return sheetOfHandle(sheet).name(); }

void MemoryBackend::renameSheet(SheetHandle& handle, std::u16string name) {
    Sheet& sheet = sheetOfHandle(handle);
    sheet.setName(std::move(name));
    sheet.book().isStructureChanged = true;
}

automation::Visibility MemoryBackend::visibility(const SheetHandle& sheet) { return sheetOfHandle(sheet).visibility(); }

std::string MemoryBackend::setVisibility(SheetHandle& handle, automation::Visibility visibility) {
    auto index = sheetIndex(handle);
    if (!index) return "the sheet is no longer part of its workbook";
    return sheetOfHandle(handle).book().setSheetVisibility(*index, visibility);
}

void MemoryBackend::activateSheet(const SheetPtr& sheet) {
    if (auto index = sheetIndex(*sheet)) sheetOfHandle(*sheet).book().setActiveIndex(*index);
}

SheetPtr MemoryBackend::addSheet(const BookPtr& handle, std::size_t at) {
    Book& book = bookOfHandle(*handle);
    return book.insertSheet(at, book.nextSheetName());
}

std::size_t MemoryBackend::mostSheets() const { return xlsx::kMostSheets; }

Area MemoryBackend::usedArea(const SheetHandle& sheet) {
    Area used{1, 1, 1, 1, Area::Shape::Cells};
    sheetOfHandle(sheet).usedArea(used.top, used.left, used.bottom, used.right);
    return used;
}

}  // namespace sheet
