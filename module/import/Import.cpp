// TABRO Import and TABRO Import2.
#include "module/import/Import.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "module/base/ErrorReports.h"
#include "module/base/ProgressMeter.h"
#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportPlan.h"
#include "module/import/ImportReport.h"
#include "module/import/RegisterRows.h"
#include "module/import/RowApplier.h"
#include "module/import/SheetReader.h"
#include "module/layout/PropertyText.h"
#include "module/layout/WorkbookRecord.h"
#include "module/link/ChangeQueue.h"
#include "module/link/LinkNotices.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"
#include "platform/ComError.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tabro {

namespace {

using platform::Variant;

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

namespace {

// A Yes/No question on the command line; Enter gives the default, Escape No.
bool askYes(const std::string& question, bool byDefault) {
    const std::string keywords = resourceStrings().load(kTextYesNoKeywords);
    acedInitGet(0, keywords.c_str());
    char answer[ADS_INPUT_BUFFER] = "";
    const int status = acedGetKword(question.c_str(), answer);
    if (status == RTNONE) return byDefault;
    if (status != RTNORM) return false;
    return answer[0] == 'Y' || answer[0] == 'y';
}

// The record of the workbook's export, when it is this drawing's. A record of another
// drawing asks first: false when the user does not want the import after all. A
// register keeps a record a drawing: this drawing's is taken, and without one its
// rows (those its drawing cells give it) import as rows of a workbook without a
// record.
bool takeRecord(IDispatch* book, std::optional<WorkbookRecord>& record) {
    std::string problem;
    const DrawingIdentity here = DrawingIdentity::ofWorkingDrawing(book);
    bool hasOthers = false;
    record = book ? WorkbookRecord::readOf(book, here, &problem, false, &hasOthers) : std::nullopt;
    if (!record) {
        if (!problem.empty()) acutPrintf("%s", formatText(kTextRecordUnreadable, problem.c_str()).c_str());
        if (hasOthers)
            acutPrintf("%s", formatText(kTextNoRecordOfDrawing, cutForMessage(here.shownName()).c_str()).c_str());
        return true;
    }
    if (record->identity.isSameDrawing(here)) return true;
    const std::string theirs = cutForMessage(record->identity.shownName());
    const std::string ours = cutForMessage(here.shownName());
    record.reset();
    // Nobody is there to answer in a run: the question's default holds, since the
    // rows' handles may name other references here.
    if (currentRun().isRun) {
        acutPrintf("%s", formatText(kTextOtherDrawingInRun, theirs.c_str(), ours.c_str()).c_str());
        return false;
    }
    if (!askYes(formatText(kTextOtherDrawingQuestion, theirs.c_str(), ours.c_str()), false)) return false;
    acutPrintf("%s", resourceStrings().load(kTextRecordOtherDrawing).c_str());
    return true;
}

// Which rows are this drawing's: in a register (a sheet with a drawing column)
// those whose drawing cell names it; every row elsewhere.
class DrawingRows {
public:
    explicit DrawingRows(IDispatch* book) {
        if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase()) drawing_ = db->fileName();
        if (book) workbook_ = toMultibyte(xl::fullName(book));
    }
    bool isOurs(const ImportRow& row) { return row.drawingColumn == 0 || namesOurs(*row.drawing); }
    bool namesOurs(const std::string& named) {
        auto known = verdicts_.find(named);
        if (known == verdicts_.end()) known = verdicts_.emplace(named, namesDrawing(named, drawing_, workbook_)).first;
        return known->second;
    }

private:
    std::string drawing_, workbook_;
    // Each distinct cell text is resolved once: a register's rows repeat a few.
    std::map<std::string, bool> verdicts_;
};

// A run names rows without a drawing once, with its first drawing, not again with
// every drawing after it.
bool saidRowsWithoutDrawing = false;

// What the drawing now holds in a recorded cell, written as export writes it.
std::optional<std::string> drawingText(const AcDbBlockReference& reference, const std::string& key, int occurrence,
                                       const CellWriting& writing) {
    const AcGePoint3d p = reference.position();
    const AcGeScale3d s = reference.scaleFactors();
    // The property keys as the record spells them.
    if (key == recordKeyOf(ColumnRole::X, 0, {})) return writing.distanceText(surveyCoordinate(p.x, writing.jtsk));
    if (key == recordKeyOf(ColumnRole::Y, 0, {})) return writing.distanceText(surveyCoordinate(p.y, writing.jtsk));
    if (key == recordKeyOf(ColumnRole::Z, 0, {})) return writing.distanceText(surveyCoordinate(p.z, writing.jtsk));
    const double scales[3] = {s.sx, s.sy, s.sz};
    for (int i = 0; i < 3; ++i)
        if (key == recordKeyOf(ColumnRole::Scale, i, {})) return writing.distanceText(scales[i]);
    if (key == recordKeyOf(ColumnRole::Rotation, 0, {})) return writing.angleText(reference.rotation());
    if (key == recordKeyOf(ColumnRole::Layer, 0, {})) {
        AcutString layer(reference.layer());
        return std::string(layer.get());
    }
    if (key.empty() || key[0] != '@') return std::nullopt;
    std::vector<ReferenceAttribute> attributes;
    std::size_t count = 0;
    if (!readReferenceAttributes(reference, attributes, count)) return std::nullopt;
    const std::string tag = key.substr(1);
    for (std::size_t i = 0; i < count; ++i)
        if (sameTagText(attributes[i].tag, tag) && occurrence-- == 0) return attributes[i].text;
    return std::nullopt;
}

// After a row is applied, its cells in the record say what the drawing now holds.
void bringRecordUpToDate(WorkbookRecord& record, const PlannedRow& planned) {
    ReferenceEditor editor;
    if (editor.open(planned.row.handle, AcDb::kForRead) != Acad::eOk || !editor.reference()) return;
    for (const auto& [key, occurrence] : planned.keys)
        if (std::optional<std::string> now = drawingText(*editor.reference(), key, occurrence, record.writing))
            record.update(planned.row.handle, key, occurrence, *now);
}

// How an import decides what to write: the settings, and the workbook's record
// (null: none). The cells are read as they were written, whatever the settings say
// now.
PlanSettings planSettings(const ImportOptions& options, WorkbookRecord* record, bool jtsk) {
    PlanSettings plan;
    plan.ignoreProps = options.IgnoreProps;
    plan.takeSheetOnConflict = options.DrawingChangedToo == kTakeSheetValue;
    plan.record = record;
    plan.writing = record ? record->writing : CellWriting::ofWorkingDrawing(jtsk);
    plan.listChanges = options.Preview;
    return plan;
}

// Writes the planned rows into the drawing, and what the drawing then holds into the
// record (and its sheet), so that the next import or live edit is judged against it.
void applyPlanned(const std::vector<PlannedRow>& rows, const PlanSettings& plan, ImportReport& report,
                  IDispatch* recordSheet) {
    ApplyContext context;
    context.ignoreProps = plan.ignoreProps;
    context.jtsk = plan.writing.jtsk;
    context.report = &report;
    ProgressMeter meter(resourceStrings().load(kTextMeterApplying), static_cast<long>(rows.size()));
    long applied = 0;
    for (const PlannedRow& planned : rows) {
        meter.at(++applied);
        report.setSheet(planned.sheet);
        applyRow(planned.row, context);
        if (plan.record) bringRecordUpToDate(*plan.record, planned);
    }
    if (plan.record) plan.record->writeUpdates(recordSheet);
}

// Where the whole list of a long report goes: beside the workbook, named after it;
// beside the drawing (or in the working folder) for a workbook never saved.
std::string reportListPath(IDispatch* book) {
    std::string path = book ? toMultibyte(xl::fullName(book)) : std::string();
    if (path.find('/') == std::string::npos) {
        const std::string name = path.empty() ? std::string("Book") : path;
        path.clear();
        if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase()) {
            const std::string& drawing = db->fileName();
            if (const std::size_t slash = drawing.rfind('/'); slash != std::string::npos)
                path = drawing.substr(0, slash + 1);
        }
        path += name;
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    return path + ".import-report.txt";
}

void previewChanges(const std::vector<PlannedChange>& changes) {
    acutPrintf("%s", resourceStrings().load(kTextPreviewHeading).c_str());
    for (const PlannedChange& c : changes) {
        acutPrintf("%s", formatText(kTextPreviewLine, c.handle.c_str(), cutForMessage(c.block).c_str(),
                                    cutForMessage(c.column).c_str(), cutForMessage(c.before).c_str(),
                                    cutForMessage(c.after).c_str())
                             .c_str());
        if (!c.note.empty()) acutPrintf("%s", c.note.c_str());
    }
}

}  // namespace

void Import(const ImportOptions& options, const ImportMarkers& markers, bool jtsk) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    DispatchPtr book = xl::activeWorkbook(app.get());
    std::optional<WorkbookRecord> record;
    if (!takeRecord(book.get(), record)) {
        acutPrintf("%s", resourceStrings().load(kTextImportNothingChanged).c_str());
        return;
    }
    const PlanSettings plan = planSettings(options, record ? &*record : nullptr, jtsk);
    ImportReport report;
    report.showOtherDrawingRows = !currentRun().isRun;
    const bool nameRowsWithoutDrawing = !(currentRun().isRun && saidRowsWithoutDrawing);
    DrawingRows drawingRows(book.get());
    // Dropped once planned: what it kept of the rows is not needed while applying.
    std::optional<ImportPlanner> planner(std::in_place, plan, report);
    auto readSheet = [&](IDispatch* worksheet) {
        const std::string name = toMultibyte(xl::name(worksheet));
        report.beginSheet(name);
        // A run's imports after its first read a few rows a sheet: the used range,
        // which a spreadsheet finds by looking at every cell, is not worth its cost.
        ProgressMeter meter(formatText(kTextMeterReading, name.c_str()),
                            currentRun().isRun ? 0 : xl::lastUsedRow(worksheet));
        auto take = [&](const ImportRow& row) {
            meter.at(row.sheetRow);
            if (!drawingRows.isOurs(row)) {
                if (!row.drawing->empty())
                    ++report.otherDrawingRows;
                else if (nameRowsWithoutDrawing)
                    report.rowNotImported(row.sheetRow, row.drawingColumn, kTextDrawingNotNamed);
                return;
            }
            report.rowRead();
            planner->add(row, name);
        };
        if (currentRun().isRun) {
            registerRows().read(
                worksheet, options.StartRow, options.StartCol, markers,
                [&](const std::string& drawing) { return drawingRows.namesOurs(drawing); }, take, &report);
            return;
        }
        readSheetRows(worksheet, options.StartRow, options.StartCol, markers, take, &report);
    };
    if (options.ImportSettings == 1) {
        if (!book) throw _com_error(E_POINTER);
        DispatchPtr sheets = xl::worksheets(book.get());
        for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i) {
            DispatchPtr sheet = xl::item(sheets.get(), i);
            if (isRecordSheetName(xl::name(sheet.get()))) continue;
            readSheet(sheet.get());
        }
    } else {
        DispatchPtr sheet = xl::activeSheet(app.get());
        if (!sheet) throw _com_error(E_POINTER);
        readSheet(sheet.get());
    }

    std::vector<PlannedRow> rows;
    std::vector<PlannedChange> changes;
    planner->plan(rows, changes);
    planner.reset();
    if (currentRun().isRun) saidRowsWithoutDrawing = true;
    bool listed = false;
    if (options.Preview) {
        if (changes.empty()) {
            acutPrintf("%s", resourceStrings().load(kTextPreviewNone).c_str());
        } else {
            previewChanges(changes);
            report.printListed();
            listed = true;
            const std::string question =
                formatText(kTextPreviewQuestion, static_cast<long>(changes.size()), static_cast<long>(rows.size()));
            if (!askYes(question, true)) {
                acutPrintf("%s", resourceStrings().load(kTextImportNothingChanged).c_str());
                return;
            }
        }
    }
    DispatchPtr recordSheet = record ? DispatchPtr(record->sheet()) : DispatchPtr();
    applyPlanned(rows, plan, report, recordSheet.get());
    if (book) {
        const std::string drawing = DrawingIdentity::ofWorkingDrawing().shownName();
        report.writeList(reportListPath(book.get()),
                         formatText(kTextListHeading, toMultibyte(xl::name(book.get())).c_str(), drawing.c_str()));
    }
    report.print(!listed);
}

namespace {

// What one drain has read of one sheet: the handle in each row's first cell and the
// header each row is read against, read once however many queued edits the sheet
// has. A burst of edits (a pasted block, a reloaded file) then costs one pass down
// the sheet instead of one pass per edit.
class SheetRowIndex {
public:
    SheetRowIndex(IDispatch* worksheet, const ImportMarkers& markers)
        : worksheet_(worksheet),
          cells_(xl::cells(worksheet)),
          headers_(worksheet_.get(), cells_.get(), 1, markers,
                   std::clamp<LONG>(xl::lastUsedRow(worksheet), 1, kLastSheetRow),
                   std::clamp<LONG>(xl::lastUsedColumn(worksheet), 1, kLastSheetColumn)) {}

    IDispatch* cells() const { return cells_.get(); }
    // The column whose comments hold the rows' handles.
    std::int32_t handleColumn() const { return headers_.handleColumn(); }

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
    DispatchPtr worksheet_;  // the tracker reads header rows through it
    DispatchPtr cells_;
    HeaderTracker headers_;
    std::uint32_t generation_ = 0;
    std::vector<RowEntry> rows_;
    std::vector<std::unique_ptr<std::u16string>> handleList_;
    std::vector<std::unique_ptr<SheetHeader>> headerList_;
};

// The column of a header that stands at `column`; null for a column it does not title.
const ImportColumn* columnAt(const SheetHeader& header, std::int32_t column) {
    for (const ImportColumn& c : header.columns)
        if (c.column == column) return &c;
    return nullptr;
}

// The property columns the IgnoreProps setting leaves alone; the layout, block-name
// and parameter columns are never applied, and their edits are named whatever it says.
bool isPropertyColumn(ColumnRole role) {
    return role != ColumnRole::Attribute && role != ColumnRole::Layout && role != ColumnRole::BlockName &&
           role != ColumnRole::Parameter && role != ColumnRole::Drawing;
}

// The sheets one drain has found, by workbook and sheet name; a name that found
// nothing is remembered as such. Each workbook's record is read once: an edit in a
// workbook exported from another drawing is not applied, and one in a workbook with
// this drawing's record is applied only when the drawing did not change the cell
// since (the record says what export wrote).
class ChangedCellReader {
public:
    ChangedCellReader() : markers_(ImportMarkers::load()) {
        Settings settings;
        loadSettings(settings);
        options_ = settings.importOptions;
        // A live edit applies at once: there is nothing to preview.
        options_.Preview = false;
        jtsk_ = settings.exportOptions.JTSK;
    }

    bool import(const ChangedCell& change) {
        if (change.row < 1 || change.column < 1 || !change.sheetName || !change.workbookName) return false;
        Book* book = findBook(*change.workbookName);
        if (!book || book->isOtherDrawing) return false;
        SheetRowIndex* sheet = findSheet(*book, *change.workbookName, *change.sheetName);
        if (!sheet) return false;
        DispatchPtr changed = xl::cell(sheet->cells(), change.row, change.column);
        Variant value = xl::value(changed.get());
        const SheetRowIndex::Row row = sheet->rowAt(change.row);
        if (!row.handle || !row.header) return false;
        if (value.vt() == VT_EMPTY) {
            // Merging cells empties every cell but the first: no edit of the user's.
            DispatchPtr merged = xl::mergeArea(changed.get());
            if (merged && (xl::row(merged.get()) != change.row || xl::column(merged.get()) != change.column))
                return false;
        }
        // A cell under no title is the user's own: nothing of it is for the drawing.
        const ImportColumn* column = columnAt(*row.header, change.column);
        if (!column) return true;
        // A register's row is its drawing's alone: a handle of this drawing may name
        // another reference in another drawing. The drawing cell itself says whose
        // row it is; a changed one has nothing for this drawing.
        for (const ImportColumn& other : row.header->columns) {
            if (other.role != ColumnRole::Drawing) continue;
            if (other.column == change.column) return true;
            Variant named = xl::value(xl::cell(sheet->cells(), change.row, other.column).get());
            if (named.vt() == VT_ERROR || !toTextInPlace(named) || !book->rows->namesOurs(toMultibyte(named.bstrVal())))
                return false;
        }
        if (column->role == ColumnRole::Attribute)
            return importAttributeCell(*book, *sheet, change, row, *column, std::move(value), changed.get());
        return importPropertyCell(*book, *sheet, change, row, *column, std::move(value));
    }

private:
    struct Book {
        DispatchPtr workbook;
        std::optional<WorkbookRecord> record;  // this drawing's
        DispatchPtr recordSheet;
        bool isOtherDrawing = false;
        std::optional<DrawingRows> rows;  // which of a register's rows are this drawing's
    };

    bool importAttributeCell(Book& book, SheetRowIndex& sheet, const ChangedCell& change, const SheetRowIndex::Row& row,
                             const ImportColumn& column, Variant value, IDispatch* changed) {
        // A value the cell does not know leaves the attribute alone.
        if (value.vt() == VT_ERROR) return false;
        // A date or a yes/no value is what the cell shows, not the number behind it.
        if (value.vt() == VT_DATE || value.vt() == VT_BOOL) value = Variant::bstr(toText(xl::text(changed)));
        const std::string tags[] = {column.tag};
        const std::string values[] = {toMultibyte(toText(value))};
        const int occurrence = column.occurrence;
        ReferenceEditor editor;
        if (editor.open(toMultibyte(*row.handle), AcDb::kForRead) != Acad::eOk || !editor.reference()) return false;
        std::string block;
        if (!blockNameOf(placedBlockOf(*editor.reference()), block)) return false;
        // The row's block-name cell names the block its handle must be of (the last
        // such column, as a row is read).
        std::optional<std::int32_t> blockNameColumn;
        for (const ImportColumn& other : row.header->columns)
            if (other.role == ColumnRole::BlockName) blockNameColumn = other.column;
        if (blockNameColumn) {
            Variant named = xl::value(xl::cell(sheet.cells(), change.row, *blockNameColumn).get());
            if (named.vt() != VT_ERROR && toTextInPlace(named) && !sameTagText(toMultibyte(named.bstrVal()), block))
                return false;
        }
        const std::string key = recordKeyOf(ColumnRole::Attribute, 0, tags[0]);
        const WorkbookRecord::Entry* entry = book.record ? book.record->find(toMultibyte(*row.handle)) : nullptr;
        if (entry && !sameTagText(book.record->sectionOf(*entry).block, block)) return false;
        if (entry) {
            std::optional<std::string_view> was = book.record->valueOf(*entry, key, occurrence);
            std::optional<std::string> now = drawingText(*editor.reference(), key, occurrence, book.record->writing);
            if (was && now) {
                const std::string base(*was);
                // A sheet without the text format makes "007" the number 7.
                double number = std::nan("");
                if (value.vt() == VT_R8 || value.vt() == VT_R4 || value.vt() == VT_I2 || value.vt() == VT_I4)
                    toNumber(value, number);
                if (isAttributeUnedited(values[0], number, base.c_str())) return false;
                if (isAttributeUnedited(values[0], number, now->c_str())) return false;
                if (!isAttributeUnedited(base, std::nan(""), now->c_str()) &&
                    options_.DrawingChangedToo != kTakeSheetValue) {
                    const std::string reason =
                        formatText(kTextReasonConflict, cutForMessage(base).c_str(), cutForMessage(values[0]).c_str(),
                                   cutForMessage(*now).c_str());
                    acutPrintf("%s", formatText(kTextLinkConflict, toMultibyte(*change.sheetName).c_str(),
                                                cellAddress(change.row, change.column).c_str(), reason.c_str())
                                         .c_str());
                    return false;
                }
            }
        }
        AttributeWriteResult write;
        const bool applied = editor.applyAttributes(tags, values, occurrence, &write);
        if (write.fieldsReplaced)
            acutPrintf("%s", formatText(pluralText(static_cast<long>(write.fieldsReplaced), kTextFieldsReplacedOne,
                                                   kTextFieldsReplacedMany),
                                        static_cast<long>(write.fieldsReplaced))
                                 .c_str());
        if (applied && entry) {
            if (std::optional<std::string> now =
                    drawingText(*editor.reference(), key, occurrence, book.record->writing)) {
                book.record->update(toMultibyte(*row.handle), key, occurrence, *now);
                book.record->writeUpdates(book.recordSheet.get());
            }
        }
        return applied;
    }

    // A cell of a property, layout or block-name column: read as Import reads a row's
    // cell, judged by Import's planner (the row's block, the three-way rule against
    // the record, the refused values) and applied as Import applies a row, the one
    // cell alone. Everything not applied is named as Import names it. True when
    // nothing was named.
    bool importPropertyCell(Book& book, SheetRowIndex& sheet, const ChangedCell& change, const SheetRowIndex::Row& at,
                            const ImportColumn& column, Variant value) {
        if (options_.IgnoreProps && isPropertyColumn(column.role)) {
            sayPropertiesIgnored();
            return true;
        }
        const ImportRow row = rowOfCell(sheet, change.row, at, column, std::move(value));
        const std::string sheetName = toMultibyte(*change.sheetName);
        const PlanSettings plan = planSettings(options_, book.record ? &*book.record : nullptr, jtsk_);
        ImportReport report;
        report.beginSheet(sheetName);
        std::vector<PlannedRow> rows;
        std::vector<PlannedChange> changes;
        {
            ImportPlanner planner(plan, report);
            planner.add(row, sheetName);
            planner.plan(rows, changes);
        }
        applyPlanned(rows, plan, report, book.recordSheet.get());
        report.printListed();
        return report.listed().empty();
    }

    // The row Import would read with the one cell in it, and the row's block-name
    // cell, which says whose row it is.
    static ImportRow rowOfCell(SheetRowIndex& sheet, std::int32_t r, const SheetRowIndex::Row& at,
                               const ImportColumn& column, Variant value) {
        ImportRow row;
        row.handle = toMultibyte(*at.handle);
        row.sheetRow = r;
        row.headerRow = at.header->row;
        row.handleColumn = sheet.handleColumn();
        readPropertyCell(std::move(value), column, row);
        for (const ImportColumn& other : at.header->columns)
            if (other.role == ColumnRole::BlockName && other.column != column.column)
                readPropertyCell(xl::value(xl::cell(sheet.cells(), r, other.column).get()), other, row);
        return row;
    }

    static void sayPropertiesIgnored() {
        bool& said = linkNotices().saidPropertiesIgnored;
        if (said) return;
        said = true;
        acutPrintf("%s", resourceStrings().load(kTextPropertiesIgnored).c_str());
    }

    Book* findBook(const std::u16string& workbookName) {
        auto found = books_.find(workbookName);
        if (found != books_.end()) return found->second.workbook ? &found->second : nullptr;
        Book& book = books_[workbookName];
        if (!isAttached_) {
            isAttached_ = true;
            if (FAILED(attachSpreadsheetApp(app_))) app_.reset();
        }
        if (!app_) return nullptr;
        book.workbook = findByName(xl::activeWorkbook(app_.get()).get(), xl::workbooks(app_.get()).get(), workbookName);
        if (!book.workbook) return nullptr;
        const DrawingIdentity here = DrawingIdentity::ofWorkingDrawing(book.workbook.get());
        book.record = WorkbookRecord::readOf(book.workbook.get(), here);
        book.rows.emplace(book.workbook.get());
        if (book.record) {
            if (!book.record->identity.isSameDrawing(here)) {
                book.isOtherDrawing = true;
                // Named once per workbook while the link is connected, not at every edit.
                if (linkNotices().otherDrawingBooks.insert(workbookName).second)
                    acutPrintf("%s", formatText(kTextLinkOtherDrawing, cutForMessage(toMultibyte(workbookName)).c_str(),
                                                cutForMessage(book.record->identity.shownName()).c_str(),
                                                cutForMessage(here.shownName()).c_str())
                                         .c_str());
                book.record.reset();
            } else {
                book.recordSheet = DispatchPtr(book.record->sheet());
            }
        }
        return &book;
    }

    SheetRowIndex* findSheet(Book& book, const std::u16string& workbookName, const std::u16string& sheetName) {
        auto key = std::make_pair(workbookName, sheetName);
        auto found = sheets_.find(key);
        if (found != sheets_.end()) return found->second.get();
        std::unique_ptr<SheetRowIndex>& slot = sheets_[key];
        if (isRecordSheetName(sheetName)) return nullptr;
        DispatchPtr sheet = findByName(xl::activeSheet(book.workbook.get()).get(),
                                       xl::worksheets(book.workbook.get()).get(), sheetName);
        if (!sheet) return nullptr;
        slot = std::make_unique<SheetRowIndex>(sheet.get(), markers_);
        return slot.get();
    }

    const ImportMarkers markers_;
    ImportOptions options_;
    bool jtsk_ = false;
    bool isAttached_ = false;
    DispatchPtr app_;
    std::map<std::u16string, Book> books_;
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
