#include "module/export/Export.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbDynBlockReference.h"
#include "module/base/ErrorReports.h"
#include "module/base/ProgressMeter.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/TagText.h"
#include "module/export/BlockCollection.h"
#include "module/export/SheetWriter.h"
#include "module/link/LinkControl.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"
#include "platform/MessageBox.h"

#include <map>
#include <memory>
#include <span>

namespace tabro {

namespace {

// Long exports report on the command line every tenth of a block's references.
constexpr int kProgressThreshold = 2000;

// A run over several drawings puts each block's rows on one sheet: the block's
// sheet, by the block's name as tagKey folds it, kept from one drawing's export to
// the next in the same process.
std::map<std::string, ExportSession::RegisterSheet>& registerSheets() {
    static std::map<std::string, ExportSession::RegisterSheet> sheets;
    return sheets;
}

// Makes the named sheet of the workbook active; false when it is gone.
bool activateSheet(IDispatch* workbook, const std::u16string& name) {
    DispatchPtr sheets = xl::worksheets(workbook);
    for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i) {
        DispatchPtr sheet = xl::item(sheets.get(), i);
        if (!sameText(xl::name(sheet.get()), name)) continue;
        xl::activate(sheet.get());
        return true;
    }
    return false;
}

// An export that cannot go on, in an error box: a script running the command then
// ends with a failure.
void reportExportFailure(const std::string& text) {
    const std::string caption = resourceStrings().load(kTextErrorCaption);
    MessageBoxA(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void reportNoSpreadsheet() { reportExportFailure(resourceStrings().load(kTextNoSpreadsheet)); }

// The references that got no row, counted and the first ones named.
void reportNotExported(const ExportSession& session) {
    const long count = session.notExportedCount;
    if (count == 0) return;
    std::string text = formatText(pluralText(count, kTextNotExportedOne, kTextNotExportedMany), count);
    for (const ExportSession::NotExported& n : session.notExported)
        text += formatText(kTextNotExportedLine, n.block.c_str(), n.handle.c_str(), n.reason.c_str());
    if (const long unlisted = count - static_cast<long>(session.notExported.size()); unlisted > 0)
        text += formatText(kTextMoreProblems, unlisted);
    reportExportFailure(text);
}

// The references of the named block (case-insensitive lookup): its direct ones, and
// for a dynamic block those of every anonymous block made from it, whose parameters
// differ from the defaults, from index `direct` on. False when the drawing has no
// such block.
bool blockReferences(const std::string& blockName, AcDbObjectIdArray& references, AcDbObjectId& blockId,
                     std::size_t& direct) {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    if (!db) return false;
    AcDbBlockTable* rawTable = nullptr;
    if (db->getSymbolTable(rawTable, AcDb::kForRead) != Acad::eOk || !rawTable) return false;
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(rawTable);
    AcDbBlockTableRecord* rawRecord = nullptr;
    if (table->getAt(blockName.c_str(), rawRecord, AcDb::kForRead) != Acad::eOk || !rawRecord) return false;
    AcDbObjectPointer<AcDbBlockTableRecord> record;
    record.adopt(rawRecord);
    if (record->getBlockReferenceIds(references, true, false) != Acad::eOk) return false;
    blockId = record->objectId();
    direct = references.size();
    const AcDbDynBlockTableRecord dynamic(blockId);
    if (!dynamic.isDynamicBlock()) return true;
    AcDbObjectIdArray anonymous;
    if (dynamic.getAnonymousBlockIds(anonymous) != Acad::eOk) return true;
    for (const AcDbObjectId& id : anonymous) {
        AcDbObjectPointer<AcDbBlockTableRecord> representation(id, AcDb::kForRead);
        AcDbObjectIdArray more;
        if (!representation || representation->getBlockReferenceIds(more, true, false) != Acad::eOk) continue;
        references.insert(references.end(), more.begin(), more.end());
    }
    return true;
}

// The sheets an export of a sheet per block adds: one for each block that has a
// reference (one whose references all fail to give a row adds none, so this is at
// most what it adds).
long sheetsToAdd(const std::vector<std::string>& names) {
    long count = 0;
    for (const std::string& name : names) {
        AcDbObjectIdArray references;
        AcDbObjectId blockId;
        std::size_t direct = 0;
        if (blockReferences(name, references, blockId, direct) && references.length() > 0) ++count;
    }
    return count;
}

bool refuseTooManySheets(long adding, long have) {
    if (have + adding <= xl::kMostWorksheets) return false;
    reportExportFailure(formatText(kTextTooManySheets, adding, have, static_cast<long>(xl::kMostWorksheets)));
    return true;
}

// Keeps the record of what was written in the workbook, with what an earlier export
// of the same drawing recorded there for other references. A record of another
// drawing is replaced: its rows then import as rows without one. Never throws: the
// rows are written whatever becomes of the record, and a workbook the record cannot
// be kept in imports as one exported before records were kept.
void keepRecord(IDispatch* workbook, ExportSession& session, const ExportOptions& options) noexcept {
    if (!workbook || session.record.size() == 0) return;
    try {
        WorkbookRecord& record = session.record;
        // A register keeps a record a drawing, each found by the drawing's path.
        const bool isRegister = session.drawingName.has_value();
        record.identity =
            isRegister ? DrawingIdentity::ofWorkingDrawing(workbook) : DrawingIdentity::ofWorkingDrawing();
        record.writing = CellWriting::ofWorkingDrawing(options.JTSK);
        std::optional<WorkbookRecord> earlier =
            isRegister ? WorkbookRecord::readOf(workbook, record.identity) : WorkbookRecord::read(workbook);
        if (earlier && earlier->identity.isSameDrawing(record.identity)) record.keepOthers(*earlier);
        if (!record.write(workbook, isRegister)) acutPrintf("%s", resourceStrings().load(kTextRecordNotKept).c_str());
    } catch (...) {
        try {
            acutPrintf("%s", resourceStrings().load(kTextRecordNotKept).c_str());
        } catch (...) {
        }
    }
}

// chooseBlockNames is the block selection dialog; without one the names are asked
// for on the command line.
bool runExport(const ExportOptions& options, BlockNameDialog chooseBlockNames) {
    ResourceScope scope;
    const bool isActiveSheet = options.WorksheetSettings == 1;
    // The registry's start row is taken as stored; a row no sheet has would only
    // fail at the first cell written.
    if (isActiveSheet && !options.FindNextBlankLine && (options.StartRow < 1 || options.StartRow > xl::kLastRow)) {
        reportExportFailure(
            formatText(kTextBadStartRow, static_cast<long>(options.StartRow), static_cast<long>(xl::kLastRow)));
        return false;
    }
    BlockNameMap blocks;
    if (!collectBlockNames(blocks)) return false;
    std::vector<std::string> names;
    const bool chosen = chooseBlockNames ? chooseBlockNames(blocks, names) : askBlockNames(blocks, names);
    if (!chosen) return false;
    // Known before anything is written: a workbook the application would refuse the
    // last sheets of is refused whole, rather than after hours of rows. A new
    // workbook comes with a sheet of its own.
    const long adding = isActiveSheet ? 0 : sheetsToAdd(names);
    if (refuseTooManySheets(adding, 1)) return false;

    disconnectLink();
    DispatchPtr app;
    if (FAILED(obtainSpreadsheetApp(app)) || !app) {
        reportNoSpreadsheet();
        return false;
    }
    DispatchPtr workbook = openExportWorkbook(app.get(), options.WorkbookSettings);
    if (xl::isReadOnly(workbook.get())) {
        const std::string name = cutForMessage(toMultibyte(xl::name(workbook.get())));
        reportExportFailure(formatText(kTextReadOnlyWorkbook, name.c_str()));
        return false;
    }
    if (adding > 0 && refuseTooManySheets(adding, xl::count(xl::worksheets(workbook.get()).get()))) return false;
    ExportSession session(options, app.get());
    if (currentRun().rowsNameDrawing) {
        if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase())
            session.drawingName = registerPathOf(db->fileName(), toMultibyte(xl::fullName(workbook.get())));
    }
    if (isActiveSheet) {
        if (options.FindNextBlankLine) {
            std::optional<std::int32_t> blank = findNextBlankRow(workbook.get());
            // Starting over at row 1 would overwrite what the sheet holds.
            if (!blank) {
                reportExportFailure(resourceStrings().load(kTextNoBlankRow));
                return false;
            }
            session.row = *blank;
        } else {
            session.row = options.StartRow;
        }
    }
    try {
        for (const std::string& name : names) {
            if (options.WorksheetSettings == 0) session.row = 1;
            exportBlock(name, session);
        }
    } catch (...) {
        session.salvage();
        keepRecord(workbook.get(), session, options);
        reportNotExported(session);
        throw;
    }
    keepRecord(workbook.get(), session, options);
    // The count tells the user the command did its work even when the spreadsheet
    // window is out of sight.
    const long written = session.referencesWritten;
    acutPrintf(
        "%s",
        formatText(pluralText(written, kTextReferencesExportedOne, kTextReferencesExportedMany), written).c_str());
    reportNotExported(session);
    return true;
}

}  // namespace

ExportSession::~ExportSession() { nextExportRow = row; }

ExportSession::ExportSession(const ExportOptions& exportOptions, IDispatch* app)
    : options(exportOptions), texts(ExportTexts::load()), row(nextExportRow) {
    if (app) writer = std::make_unique<SheetWriter>(app, options);
    // Only a sheet exported into again can hold an earlier export's markers.
    if (options.WorksheetSettings == 1) {
        for (const std::string& marker : texts.markers) ownMarkers.push_back(toWide(marker));
        ownMarkers.push_back(toWide(texts.headerRowMarker));
        ownMarkers.push_back(toWide(texts.parameterMarker));
    }
}

void ExportSession::refuse(const std::string& blockName, const std::string& handle, std::string reason) {
    ++notExportedCount;
    if (notExported.size() < kListedNotExported)
        notExported.push_back(NotExported{cutForMessage(blockName), handle, std::move(reason)});
}

void ExportSession::endBlock() {
    if (!writer) return;
    writer->flush();
    if (block.needsFit) writer->autofitColumns();
    block.needsFit = false;
}

void ExportSession::salvage() noexcept {
    try {
        endBlock();
    } catch (...) {
        // The application failed already; what it refuses now stays unwritten.
    }
}

const ExportSession::Definition& ExportSession::definitionOf(AcDbObjectId blockId) {
    if (cachedBlock_.isNull() || !(cachedBlock_ == blockId)) {
        cachedBlock_ = blockId;
        cached_.hasName = blockNameOf(blockId, cached_.name);
        cached_.hasRecords = cached_.hasName && collectDefinitionRecords(blockId, cached_.records);
        cached_.isDynamic = cached_.hasName && AcDbDynBlockReference::isDynamicBlock(blockId);
    }
    return cached_;
}

bool exportBlock(const std::string& blockName, ExportSession& session) {
    AcDbObjectIdArray references;
    AcDbObjectId blockId;
    std::size_t direct = 0;
    if (!blockReferences(blockName, references, blockId, direct)) return false;

    const int total = references.length();
    const bool showProgress = total >= kProgressThreshold;
    if (showProgress) acutPrintf("%s", formatText(kTextExportingBlock, blockName.c_str(), total).c_str());
    int nextReport = total / 10;
    ProgressMeter meter(formatText(kTextMeterExporting, blockName.c_str()), total);
    session.beginBlock();
    session.registerSheet = nullptr;
    if (session.drawingName && session.options.WorksheetSettings != 1) {
        auto kept = registerSheets().find(tagKey(blockName));
        if (kept != registerSheets().end()) {
            session.registerSheet = &kept->second;
            session.row = kept->second.nextRow;
        }
    }
    for (int i = 0; i < total; ++i) {
        {
            AcDbObjectPointer<AcDbBlockReference> reference(references[i], AcDb::kForRead);
            // A reference that came with an anonymous block of this block while its
            // own data names another: the drawing contradicts itself, and its row
            // would stand in a sheet that is not its block's. Named, not exported.
            if (reference && static_cast<std::size_t>(i) >= direct && !(placedBlockOf(*reference.get()) == blockId))
                acutPrintf("%s",
                           formatText(kTextOtherDynamicBlock, handleTextOf(*reference.get()).c_str(), blockName.c_str())
                               .c_str());
            else if (reference)
                exportReference(*reference.get(), session, !session.block.wroteRow);
        }
        meter.at(i + 1);
        if (showProgress && i + 1 >= nextReport && i + 1 < total) {
            acutPrintf(
                "%s", formatText(kTextExportProgress, i + 1, total, static_cast<int>((i + 1) * 100LL / total)).c_str());
            nextReport += total / 10;
        }
    }
    session.endBlock();
    if (ExportSession::RegisterSheet* kept = session.registerSheet) {
        kept->nextRow = session.row;
        // Tags met on later references head columns of the header in force.
        const ExportSession::BlockRows& block = session.block;
        if (block.headerRow && kept->headerRow == *block.headerRow) {
            kept->titles.resize(block.fixedColumns);
            kept->markers.resize(block.fixedColumns);
            for (const std::string& tag : block.extraTags) {
                kept->titles.push_back(tag);
                kept->markers.emplace_back();
            }
        }
    }
    return true;
}

namespace {

// Gives each attribute the definition does not declare (session.unplaced) its
// block's column: the j-th such attribute with a tag goes to the j-th extra column
// with that tag, added when the block has none yet. Only planned here, in
// session.extraSlotOf and session.newExtraTags: a row that no sheet can hold adds no
// column.
void planExtraAttributes(ExportSession& session, std::span<const ReferenceAttribute> attributes) {
    const ExportSession::BlockRows& block = session.block;
    session.extraSlotOf.clear();
    session.newExtraTags.clear();
    if (session.unplaced.empty()) return;
    // How many of each tag this reference placed so far. Its own: a map kept from
    // one reference to the next would be cleared bucket by bucket each time.
    std::unordered_map<std::string, std::size_t> tagsMet;
    for (std::size_t index : session.unplaced) {
        const std::string& tag = attributes[index].tag;
        std::string key = tagKey(tag);
        const std::size_t j = tagsMet[key]++;
        auto slots = block.extraSlots.find(key);
        const std::size_t known = slots == block.extraSlots.end() ? 0 : slots->second.size();
        if (j < known) {
            session.extraSlotOf.push_back(slots->second[j]);
        } else {
            session.extraSlotOf.push_back(block.extraTags.size() + session.newExtraTags.size());
            session.newExtraTags.emplace_back(tag, std::move(key));
        }
    }
}

// Makes the planned columns the block's, and puts each attribute's text into its
// column; the row's values grow to reach it, and extra columns this reference has no
// attribute for stay empty.
void placeExtraAttributes(ExportSession& session, std::span<const ReferenceAttribute> attributes) {
    ExportSession::BlockRows& block = session.block;
    for (auto& [tag, key] : session.newExtraTags) {
        block.extraSlots[std::move(key)].push_back(block.extraTags.size());
        block.extraTags.push_back(std::move(tag));
    }
    session.newExtraTags.clear();
    for (std::size_t i = 0; i < session.unplaced.size(); ++i) {
        const ReferenceAttribute& attribute = attributes[session.unplaced[i]];
        const std::size_t at = 1 + block.fixedColumns + session.extraSlotOf[i];
        while (session.rowTexts.values.size() <= at) session.rowTexts.values.push({});
        session.rowTexts.values.set(at, attribute.hasText ? attribute.text : std::string());
    }
}

// How many UTF-16 units a cell gets for the text, where that can be more than it
// holds; the bytes are counted first, as no code set takes fewer bytes than units.
std::size_t cellUnits(const std::string& text) {
    if (text.size() <= static_cast<std::size_t>(xl::kMostCellCharacters)) return text.size();
    return toWide(text).size();
}
bool isTooLongForCell(const std::string& text) {
    return cellUnits(text) > static_cast<std::size_t>(xl::kMostCellCharacters);
}

// Why the reference's rows cannot be written, checked before anything of them is
// (its header and prompt rows when it is the block's first, its data row, the
// titles of the columns it adds); empty when they can.
std::string whyNoRow(ExportSession& session, const AcDbBlockReference& reference, const std::string& blockName,
                     std::span<const ReferenceAttribute> attributes, bool first, std::size_t fixedColumns) {
    const ExportOptions& options = session.options;
    const ExportSession::BlockRows& block = session.block;
    const std::size_t columns = fixedColumns + block.extraTags.size() + session.newExtraTags.size();
    if (columns > static_cast<std::size_t>(xl::kLastColumn))
        return formatText(kTextReasonTooManyColumns, static_cast<long>(columns), static_cast<long>(xl::kLastColumn));

    const bool writesHeader = first && (options.WorksheetSettings != 1 || options.AddHeader);
    const long rows =
        (writesHeader ? 1 : 0) + (first && options.ExportAttPrompts ? 1 : 0) + (options.OddLine ? 1 : 0) + 1;
    if (session.row > xl::kLastRow - rows + 1) return formatText(kTextReasonNoRowLeft, static_cast<long>(xl::kLastRow));

    // The column a text too long for its cell stands in, named by its title.
    auto tooLong = [](const std::string& title, const std::string& text) {
        const std::string shown = cutForMessage(title);
        return formatText(kTextReasonCellTooLong, shown.c_str(), static_cast<long>(cellUnits(text)),
                          static_cast<long>(xl::kMostCellCharacters));
    };
    const std::span<const std::string> values = session.rowTexts.values.view();
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (!isTooLongForCell(values[i])) continue;
        // Rows after the first are composed without their titles.
        ExportRow titled;
        std::vector<AttributeRecord> records = session.records;
        buildExportRow(titled, reference, blockName, records, options, session.texts, &session.block.parameters,
                       session.drawingName ? &*session.drawingName : nullptr);
        return tooLong(i - 1 < titled.titles.size() ? titled.titles[i - 1] : std::string(), values[i]);
    }
    for (std::size_t i = 0; i < session.unplaced.size(); ++i) {
        const ReferenceAttribute& attribute = attributes[session.unplaced[i]];
        if (isTooLongForCell(attribute.text)) return tooLong(attribute.tag, attribute.text);
    }
    // Header cells: the titles, the extra columns' tags, the prompts.
    auto titleTooLong = [&](const std::string& title) {
        return isTooLongForCell(title) ? tooLong(title, title) : std::string();
    };
    if (writesHeader)
        for (const std::string& title : session.rowTexts.titles)
            if (std::string why = titleTooLong(title); !why.empty()) return why;
    if (writesHeader || block.headerRow)
        for (const auto& [tag, key] : session.newExtraTags)
            if (std::string why = titleTooLong(tag); !why.empty()) return why;
    if (first && options.ExportAttPrompts) {
        buildPromptRow(session.promptTitles, session.promptMarkers, session.records, options);
        for (const std::string& prompt : session.promptTitles)
            if (isTooLongForCell(prompt)) return tooLong(prompt, prompt);
    }
    return {};
}

// A later drawing of a register whose columns are those of the header in force on
// the block's sheet: its rows go under that header, and the columns an earlier
// drawing added for attributes beyond the definition keep their places (an extra
// attribute of this drawing with the same tag goes into its column, a new tag gets a
// column after them), so no column is ever titled anew over another drawing's cells.
void takeRegisterHeader(ExportSession& session, std::size_t fixedColumns) {
    const ExportSession::RegisterSheet* kept = session.registerSheet;
    if (!kept || kept->titles.size() < fixedColumns) return;
    const std::vector<std::string> titles = session.rowTexts.titles.toVector();
    const std::vector<std::string> markers = session.rowTexts.markers.toVector();
    const auto within = static_cast<std::ptrdiff_t>(fixedColumns);
    if (!std::equal(titles.begin(), titles.begin() + within, kept->titles.begin()) ||
        !std::equal(markers.begin(), markers.begin() + within, kept->markers.begin()))
        return;
    ExportSession::BlockRows& block = session.block;
    for (std::size_t j = fixedColumns; j < kept->titles.size(); ++j) {
        block.extraSlots[tagKey(kept->titles[j])].push_back(block.extraTags.size());
        block.extraTags.push_back(kept->titles[j]);
    }
    block.reusesHeader = true;
}

// A later drawing of a register: its rows go on the block's sheet below the rows
// there, under the header in force when takeRegisterHeader found its columns the
// same, else under a header row of their own. False when the block has no such
// sheet (or the user's workbook lost it): a sheet is then added as for the first
// drawing.
bool continueRegisterSheet(ExportSession& session) {
    ExportSession::RegisterSheet* kept = session.registerSheet;
    if (!kept) return false;
    SheetWriter& writer = *session.writer;
    writer.flush();
    if (!activateSheet(xl::activeWorkbook(writer.application()).get(), kept->name)) {
        session.registerSheet = nullptr;
        session.block.reusesHeader = false;
        session.row = 1;
        return false;
    }
    writer.sheetChanged();
    ExportSession::BlockRows& block = session.block;
    const std::vector<std::string> titles = session.rowTexts.titles.toVector();
    if (block.reusesHeader) {
        block.headerRow = kept->headerRow;
        // Tags this drawing's first reference adds head their columns now.
        for (std::size_t j = kept->titles.size(); j < titles.size(); ++j)
            writer.writeHeaderTitle(kept->headerRow, static_cast<std::int32_t>(j + 1), titles[j]);
    } else {
        block.headerRow = session.row;
        writer.writeHeaderRow(session.row, session.rowTexts.titles.view(), session.rowTexts.markers.view(),
                              session.ownMarkers, session.texts.headerRowMarker);
        kept->headerRow = *block.headerRow;
    }
    kept->titles = titles;
    kept->markers = session.rowTexts.markers.toVector();
    return true;
}

}  // namespace

bool exportReference(const AcDbBlockReference& reference, ExportSession& session, bool first) {
    ResourceScope scope;
    if (!session.writer) return false;
    SheetWriter& writer = *session.writer;
    const ExportOptions& options = session.options;
    const ExportSession::Definition& definition = session.definitionOf(placedBlockOf(reference));
    if (!definition.hasName) return false;
    const std::string* blockName = &definition.name;

    if (definition.hasRecords) {
        // The definition's records with this reference's texts over them.
        session.records = definition.records;
        std::size_t count = 0;
        if (readReferenceAttributes(reference, session.attributes, count)) {
            const std::span<const ReferenceAttribute> attributes(session.attributes.data(), count);
            overlayReferenceAttributes(session.records, attributes, &session.unplaced);
            session.rowTexts.withTitles = first;
            session.block.parameters.isDynamic = definition.isDynamic;
            buildExportRow(session.rowTexts, reference, *blockName, session.records, options, session.texts,
                           &session.block.parameters, session.drawingName ? &*session.drawingName : nullptr);
            ExportSession::BlockRows& block = session.block;
            const std::size_t fixedColumns = first ? session.rowTexts.titles.size() : block.fixedColumns;
            if (first) takeRegisterHeader(session, fixedColumns);
            planExtraAttributes(session, attributes);
            // A row the application would refuse part way is not begun: a row that
            // holds its handle but not its values would import as emptied attributes.
            if (std::string why = whyNoRow(session, reference, *blockName, attributes, first, fixedColumns);
                !why.empty()) {
                session.refuse(*blockName, session.rowTexts.values[0], std::move(why));
                return true;
            }
            if (first) block.fixedColumns = fixedColumns;
            const std::size_t knownExtras = block.extraTags.size();
            placeExtraAttributes(session, attributes);
            if (first) {
                for (std::size_t j = 0; j < block.extraTags.size(); ++j) {
                    session.rowTexts.titles.push(block.extraTags[j]);
                    session.rowTexts.markers.push({});
                }
                session.record.beginSection(
                    *blockName, recordKeysOf(session.rowTexts.titles.view(), session.rowTexts.markers.view(),
                                             session.texts, options.BlockNames));
                if (options.WorksheetSettings == 1) {
                    if (options.AddHeader) {
                        block.headerRow = session.row;
                        writer.writeHeaderRow(session.row, session.rowTexts.titles.view(),
                                              session.rowTexts.markers.view(), session.ownMarkers,
                                              session.texts.headerRowMarker);
                    }
                } else if (!continueRegisterSheet(session)) {
                    writer.flush();
                    DispatchPtr workbook = xl::activeWorkbook(writer.application());
                    addBlockWorksheet(workbook.get(), *blockName);
                    writer.sheetChanged();
                    block.headerRow = session.row;
                    writer.writeHeaderRow(session.row, session.rowTexts.titles.view(), session.rowTexts.markers.view(),
                                          session.ownMarkers, session.texts.headerRowMarker);
                    if (session.drawingName) {
                        ExportSession::RegisterSheet& kept = registerSheets()[tagKey(*blockName)];
                        kept = ExportSession::RegisterSheet{
                            xl::name(xl::activeSheet(workbook.get()).get()), *block.headerRow, session.row,
                            session.rowTexts.titles.toVector(), session.rowTexts.markers.toVector()};
                        session.registerSheet = &kept;
                    }
                }
                if (options.ExportAttPrompts && !block.reusesHeader) {
                    buildPromptRow(session.promptTitles, session.promptMarkers, session.records, options);
                    writer.writeHeaderRow(session.row, session.promptTitles.view(), session.promptMarkers.view());
                }
            } else {
                for (std::size_t j = knownExtras; j < block.extraTags.size(); ++j)
                    session.record.addKey("@" + block.extraTags[j]);
                // Tags met for the first time on this reference head their columns now.
                if (block.headerRow)
                    for (std::size_t j = knownExtras; j < block.extraTags.size(); ++j)
                        writer.writeHeaderTitle(*block.headerRow, static_cast<std::int32_t>(block.fixedColumns + j + 1),
                                                block.extraTags[j]);
            }
            if (options.OddLine) ++session.row;
            writer.writeDataRow(session.row, session.rowTexts.values.view());
            {
                const std::span<const std::string> texts = session.rowTexts.values.view();
                session.record.add(texts[0], texts.subspan(1));
            }
            block.wroteRow = true;
            ++session.referencesWritten;
        }
    }
    if (!first && !options.NoAutofit) session.block.needsFit = true;
    return true;
}

bool Export(Settings& settings, BlockNameDialog chooseBlockNames) {
    if (!runExport(settings.exportOptions, chooseBlockNames)) return false;
    if (settings.exportOptions.AutoConnect) connectLink();
    return true;
}

void forgetRegisterSheets() { registerSheets().clear(); }

bool Export2() {
    Settings settings;
    loadSettings(settings);
    return runExport(settings.exportOptions, nullptr);
}

}  // namespace tabro
