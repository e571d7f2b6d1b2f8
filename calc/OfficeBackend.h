// The office as the automation front's backend: its documents and sheets, cells
// read and written one data array per block, formats, bold, notes as comments,
// optimal column widths and merged areas. Every member runs inside run(), which
// bounds the office's calls with the watchdog and turns its failures into
// automation errors.
#pragma once

#include "automation/Backend.h"
#include "calc/CalcState.h"

#include <memory>
#include <string>
#include <vector>

namespace calc {

class OfficeBackend final : public automation::Backend {
public:
    explicit OfficeBackend(std::shared_ptr<CalcState> state) : state_(std::move(state)) {}

    // Places the notes a command added, lifts the update locks it took and stores
    // the workbooks this program owns that the command changed (every owned one
    // with changes at the session's end): one message per failure.
    std::vector<std::string> flush(bool isSessionEnd);

    std::u16string applicationName() const override { return u"LibreOffice Calc"; }
    std::u16string errorSource() const override { return u"LibreOffice Calc"; }
    std::u16string defaultUserName() const override;

    void run(bool mayReconnect, const std::function<void()>& member) override;
    void checkLive(const automation::BookHandle& book) override;
    void checkLive(const automation::SheetHandle& sheet) override;

    std::vector<automation::BookPtr> books() override;
    automation::BookPtr activeBook() override;
    void activateBook(const automation::BookPtr& book) override;
    automation::BookPtr newBook() override;
    void nameBook(automation::BookHandle& book, std::u16string name, std::string path) override;
    std::u16string bookName(const automation::BookHandle& book) override;
    std::string bookPath(const automation::BookHandle& book) override;
    std::string readOnlyReason(const automation::BookHandle&) override { return {}; }
    std::string readOnlyFile(const automation::BookHandle& book) override;
    std::string workbookBytes(automation::BookHandle& book) override;
    void markSaved(automation::BookHandle& book, const platform::FileStamp& written) override;

    std::size_t sheetCount(const automation::BookHandle& book) override;
    automation::SheetPtr sheetAt(const automation::BookHandle& book, std::size_t index) override;
    automation::SheetPtr activeSheet(const automation::BookHandle& book) override;
    automation::BookPtr bookOf(const automation::SheetHandle& sheet) override;
    bool isSameSheet(const automation::SheetHandle& a, const automation::SheetHandle& b) override;
    std::optional<std::size_t> sheetIndex(const automation::SheetHandle& sheet) override;
    std::u16string sheetName(const automation::SheetHandle& sheet) override;
    void renameSheet(automation::SheetHandle& sheet, std::u16string name) override;
    automation::Visibility visibility(const automation::SheetHandle& sheet) override;
    std::string setVisibility(automation::SheetHandle& sheet, automation::Visibility visibility) override;
    void activateSheet(const automation::SheetPtr& sheet) override;
    automation::SheetPtr addSheet(const automation::BookPtr& book, std::size_t at) override;
    automation::Area usedArea(const automation::SheetHandle& sheet) override;

    platform::Variant readCell(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void readBlock(automation::SheetHandle& sheet, const automation::Area& area, platform::Variant& array) override;
    // Dates and error values are not written into the office's cells here.
    bool canStore(VARTYPE type) const override { return type != VT_DATE && type != VT_ERROR; }
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

    std::optional<std::u16string> commentText(automation::SheetHandle& sheet, std::int32_t row,
                                              std::int32_t column) override;
    std::u16string commentAuthor(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column) override;
    void addComment(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text,
                    const std::u16string& author) override;
    void setCommentText(automation::SheetHandle& sheet, std::int32_t row, std::int32_t column,
                        std::u16string text) override;
    void clearComments(automation::SheetHandle& sheet, const automation::Area& area) override;

private:
    // Stores one owned workbook, asking first when it holds the user's changes.
    std::string store(Doc& doc);
    // Removes the files reserved for new workbooks of a connection that went away
    // before anything was stored in them: an empty BookN.xlsx is no result.
    std::vector<std::string> dropOrphanedReservations();
    void closeStored(const std::vector<std::shared_ptr<Doc>>& books);

    std::shared_ptr<CalcState> state_;
};

// The office's own document and sheet of a handle the front hands back.
inline Doc& docOf(const automation::BookHandle& handle) { return const_cast<Doc&>(static_cast<const Doc&>(handle)); }
inline DocSheet& sheetOf(const automation::SheetHandle& handle) {
    return const_cast<DocSheet&>(static_cast<const DocSheet&>(handle));
}

}  // namespace calc
