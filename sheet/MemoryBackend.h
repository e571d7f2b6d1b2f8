// The stand-in as the automation front's backend: the running application's
// workbooks, the active one, and what each member of the front reads and changes of
// them. Every member but refresh runs under the one lock run() takes; the lock is
// never held while events are fired, because a subscriber in the caller's apartment
// is called at once and calls back in.
#pragma once

#include "automation/Backend.h"
#include "sheet/Book.h"

#include <memory>
#include <mutex>
#include <vector>

namespace sheet {

class MemoryBackend final : public automation::Backend {
public:
    std::mutex mutex;
    std::vector<std::shared_ptr<Book>> openBooks;
    std::shared_ptr<Book> active;

    // Makes book the active workbook, adding it to the application if it is new.
    // Lock held.
    void activate(const std::shared_ptr<Book>& book);

    std::u16string applicationName() const override { return u"Spreadsheet stand-in"; }
    std::u16string errorSource() const override { return u"Spreadsheet stand-in"; }
    std::u16string defaultUserName() const override { return u"Tablora"; }

    void run(bool mayReconnect, const std::function<void()>& member) override;
    // Reloads workbooks whose file another program changed; their changed cells.
    // Takes the lock itself.
    std::vector<automation::CellChange> refresh() override;

    std::vector<automation::BookPtr> books() override;
    automation::BookPtr activeBook() override { return active; }
    void activateBook(const automation::BookPtr& book) override;
    automation::BookPtr newBook() override;
    void nameBook(automation::BookHandle& book, std::u16string name, std::string path) override;
    std::u16string bookName(const automation::BookHandle& book) override;
    std::string bookPath(const automation::BookHandle& book) override;
    std::string readOnlyReason(const automation::BookHandle& book) override;
    std::string workbookBytes(automation::BookHandle& book) override;
    std::optional<platform::FileStamp> knownVersion(const automation::BookHandle& book) override;
    void markSaved(automation::BookHandle& book, const platform::FileStamp& written) override;

    std::size_t sheetCount(const automation::BookHandle& book) override;
    automation::SheetPtr sheetAt(const automation::BookHandle& book, std::size_t index) override;
    automation::SheetPtr activeSheet(const automation::BookHandle& book) override;
    automation::BookPtr bookOf(const automation::SheetHandle& sheet) override;
    bool isSameSheet(const automation::SheetHandle& a, const automation::SheetHandle& b) override { return &a == &b; }
    std::optional<std::size_t> sheetIndex(const automation::SheetHandle& sheet) override;
    std::u16string sheetName(const automation::SheetHandle& sheet) override;
    void renameSheet(automation::SheetHandle& sheet, std::u16string name) override;
    automation::Visibility visibility(const automation::SheetHandle& sheet) override;
    std::string setVisibility(automation::SheetHandle& sheet, automation::Visibility visibility) override;
    void activateSheet(const automation::SheetPtr& sheet) override;
    automation::SheetPtr addSheet(const automation::BookPtr& book, std::size_t at) override;
    std::size_t mostSheets() const override;
    automation::Area usedArea(const automation::SheetHandle& sheet) override;

    platform::Variant readCell(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void readBlock(automation::SheetHandle& sheet, const automation::Area& area, platform::Variant& array) override;
    void writeBlock(automation::SheetHandle& sheet, const automation::Area& area,
                    const automation::ValueBlock& values) override;
    std::u16string displayText(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    std::u16string numberFormat(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void setNumberFormat(automation::SheetHandle& sheet, const automation::Area& area,
                         const std::u16string& code) override;
    bool isBold(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void setBold(automation::SheetHandle& sheet, const automation::Area& area, bool bold) override;
    bool isWrapped(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void setWrapped(automation::SheetHandle& sheet, const automation::Area& area, bool wrap) override;
    void autoFitColumns(automation::SheetHandle& sheet, const automation::Area& area) override;
    automation::MergeCoverage mergeCoverage(automation::SheetHandle& sheet, const automation::Area& area) override;
    std::optional<automation::Area> mergeAreaContaining(automation::SheetHandle& sheet,
                                                        const automation::Area& area) override;

    void checkCommentsWritable(const automation::SheetHandle& sheet) override;
    std::optional<std::u16string> commentText(automation::SheetHandle& sheet, std::int32_t row,
                                              std::int32_t column) override;
    std::u16string commentAuthor(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void addComment(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text,
                    const std::u16string& author) override;
    void setCommentText(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column,
                        std::u16string text) override;
    void clearComments(automation::SheetHandle& sheet, const automation::Area& area) override;
};

// The stand-in's own book and sheet of a handle the front hands back.
inline Book& bookOfHandle(const automation::BookHandle& handle) {
    return const_cast<Book&>(static_cast<const Book&>(handle));
}
inline Sheet& sheetOfHandle(const automation::SheetHandle& handle) {
    return const_cast<Sheet&>(static_cast<const Sheet&>(handle));
}

}  // namespace sheet
