// TABRO Import and TABRO Import2.
#include "module/import/Import.h"

#include "host/Editor.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportReport.h"
#include "module/import/RowApplier.h"
#include "module/import/SheetReader.h"
#include "module/link/ChangeQueue.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"
#include "platform/ComError.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tabro {

namespace {

using platform::Variant;

void importSheet(IDispatch* worksheet, const ImportOptions& options, const ImportMarkers& markers,
                 ApplyContext& context, ImportReport& report) {
    report.beginSheet(toMultibyte(xl::name(worksheet)));
    readSheetRows(
        worksheet, options.StartRow, options.StartCol, markers,
        [&](const ImportRow& row) {
            report.rowRead();
            // A handle of an entity that is no block reference names no row's target
            // either (only its layer can be set, and is).
            const RowOutcome outcome = applyRow(row, context);
            if (outcome == RowOutcome::NotFound || outcome == RowOutcome::NotAReference)
                report.handleNotFound(row.sheetRow);
        },
        &report);
}

// Names compare exactly: same UTF-16 code units, same case.
DispatchPtr findByName(IDispatch* active, IDispatch* collection, const std::u16string& wanted) {
    if (active && sameText(xl::name(active), wanted)) return DispatchPtr(active);
    for (LONG i = 1, n = xl::count(collection); i <= n; ++i) {
        DispatchPtr candidate = xl::item(collection, i);
        if (sameText(xl::name(candidate.get()), wanted)) return candidate;
    }
    return {};
}

}  // namespace

void Import(const ImportOptions& options, bool jtsk) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    Import(options, ImportMarkers::load(), jtsk);
}

void Import(const ImportOptions& options, const ImportMarkers& markers, bool jtsk) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    ImportReport report;
    ApplyContext context;
    context.ignoreProps = options.IgnoreProps;
    context.jtsk = jtsk;
    context.report = &report;
    if (options.ImportSettings == 1) {
        DispatchPtr book = xl::activeWorkbook(app.get());
        if (!book) throw _com_error(E_POINTER);
        DispatchPtr sheets = xl::worksheets(book.get());
        for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i)
            importSheet(xl::item(sheets.get(), i).get(), options, markers, context, report);
    } else {
        DispatchPtr sheet = xl::activeSheet(app.get());
        if (!sheet) throw _com_error(E_POINTER);
        importSheet(sheet.get(), options, markers, context, report);
    }
    report.print();
}

namespace {

// What one drain has read of one sheet: the handle in each row's first cell and the
// header each row is read against, read once however many queued edits the sheet
// has. A burst of edits (a pasted block, a reloaded file) then costs one pass down
// the sheet instead of one pass per edit.
class SheetRowIndex {
public:
    SheetRowIndex(IDispatch* worksheet, const ImportMarkers& markers)
        : cells_(xl::cells(worksheet)), headers_(cells_.get(), 1, markers) {}

    IDispatch* cells() const { return cells_.get(); }

    struct Row {
        const std::u16string* handle = nullptr;  // null: no handle in the first cell
        const SheetHeader* header = nullptr;     // null: no header row above
    };
    Row rowAt(std::int32_t r) {
        while (static_cast<std::int32_t>(rows_.size()) < r) {
            const std::int32_t next = static_cast<std::int32_t>(rows_.size()) + 1;
            std::optional<std::u16string> handle = headers_.feed(next);
            if (headers_.header() && headers_.headerGeneration() != generation_) {
                headerList_.push_back(std::make_unique<SheetHeader>(*headers_.header()));
                generation_ = headers_.headerGeneration();
            }
            RowEntry entry;
            if (handle) {
                handleList_.push_back(std::make_unique<std::u16string>(std::move(*handle)));
                entry.handle = handleList_.back().get();
                entry.header = headers_.header() ? headerList_.back().get() : nullptr;
            }
            rows_.push_back(entry);
        }
        const RowEntry& entry = rows_[static_cast<std::size_t>(r - 1)];
        return Row{entry.handle, entry.header};
    }

private:
    struct RowEntry {
        const std::u16string* handle = nullptr;
        const SheetHeader* header = nullptr;
    };
    DispatchPtr cells_;
    HeaderTracker headers_;
    std::uint32_t generation_ = 0;
    std::vector<RowEntry> rows_;
    std::vector<std::unique_ptr<std::u16string>> handleList_;
    std::vector<std::unique_ptr<SheetHeader>> headerList_;
};

// The sheets one drain has found, by workbook and sheet name; a name that found
// nothing is remembered as such.
class ChangedCellReader {
public:
    ChangedCellReader() : markers_(ImportMarkers::load()) {}

    bool import(const ChangedCell& change) {
        if (change.row < 1 || change.column < 1 || !change.sheetName || !change.workbookName) return false;
        SheetRowIndex* sheet = findSheet(*change.workbookName, *change.sheetName);
        if (!sheet) return false;
        Variant value = xl::value(xl::cell(sheet->cells(), change.row, change.column).get());
        const SheetRowIndex::Row row = sheet->rowAt(change.row);
        if (!row.handle || !row.header) return false;

        std::vector<std::string> tags, values;
        int occurrence = 0;
        for (const ImportColumn& column : row.header->columns) {
            if (column.column == change.column) {
                if (column.role != ColumnRole::Attribute) break;
                // A value the cell does not know leaves the attribute alone.
                if (value.vt() == VT_ERROR) return false;
                tags.push_back(column.tag);
                values.push_back(toMultibyte(toText(value)));
                break;
            }
        }
        // A tag that heads several columns: this column's place among them decides
        // which of the reference's namesake attributes it holds.
        if (!tags.empty())
            for (const ImportColumn& column : row.header->columns)
                if (column.column < change.column && column.role == ColumnRole::Attribute &&
                    sameTagText(column.tag.c_str(), tags[0].c_str()))
                    ++occurrence;
        ReferenceEditor editor;
        if (editor.open(toMultibyte(*row.handle), AcDb::kForRead) != Acad::eOk) return false;
        return editor.applyAttributes(tags, values, occurrence);
    }

private:
    SheetRowIndex* findSheet(const std::u16string& workbookName, const std::u16string& sheetName) {
        auto key = std::make_pair(workbookName, sheetName);
        auto found = sheets_.find(key);
        if (found != sheets_.end()) return found->second.get();
        std::unique_ptr<SheetRowIndex>& slot = sheets_[key];
        if (!isAttached_) {
            isAttached_ = true;
            if (FAILED(attachSpreadsheetApp(app_))) app_.reset();
        }
        if (!app_) return nullptr;
        DispatchPtr book =
            findByName(xl::activeWorkbook(app_.get()).get(), xl::workbooks(app_.get()).get(), workbookName);
        if (!book) return nullptr;
        DispatchPtr sheet = findByName(xl::activeSheet(book.get()).get(), xl::worksheets(book.get()).get(), sheetName);
        if (!sheet) return nullptr;
        slot = std::make_unique<SheetRowIndex>(sheet.get(), markers_);
        return slot.get();
    }

    const ImportMarkers markers_;
    bool isAttached_ = false;
    DispatchPtr app_;
    std::map<std::pair<std::u16string, std::u16string>, std::unique_ptr<SheetRowIndex>> sheets_;
};

}  // namespace

bool Import2() {
    bool result = false;
    std::optional<ChangedCellReader> reader;
    while (std::optional<ChangedCell> change = changeQueue().takeNewest()) {
        if (!reader) reader.emplace();
        result = reader->import(*change);
    }
    return result;
}

bool importChangedCell(const ChangedCell& change) { return ChangedCellReader().import(change); }

}  // namespace tabro
