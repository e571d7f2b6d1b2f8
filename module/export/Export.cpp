#include "module/export/Export.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "module/ResourceScope.h"
#include "module/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/TagText.h"
#include "module/export/BlockCollection.h"
#include "module/export/SheetWriter.h"
#include "module/link/LinkControl.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"
#include "platform/MessageBox.h"

#include <memory>

namespace tabro {

namespace {

// Long exports report on the command line every tenth of a block's references.
constexpr int kProgressThreshold = 2000;

enum class NameSource { Dialog, CommandLine };

void reportNoSpreadsheet() {
    const std::string text = resourceStrings().load(kTextNoSpreadsheet);
    const std::string caption = resourceStrings().load(kTextErrorCaption);
    MessageBoxA(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

bool runExport(const ExportOptions& options, NameSource source) {
    ResourceScope scope;
    BlockNameMap blocks;
    if (!collectBlockNames(blocks)) return false;
    std::vector<std::string> names;
    const bool chosen =
        source == NameSource::Dialog ? chooseBlockNamesInDialog(blocks, names) : askBlockNames(blocks, names);
    if (!chosen) return false;

    disconnectLink();
    DispatchPtr app;
    if (FAILED(obtainSpreadsheetApp(app)) || !app) {
        reportNoSpreadsheet();
        return false;
    }
    DispatchPtr workbook = openExportWorkbook(app.get(), options.WorkbookSettings);
    ExportSession session(options, app.get());
    if (options.WorksheetSettings == 1) {
        if (options.FindNextBlankLine) {
            std::optional<std::int32_t> blank = findNextBlankRow(workbook.get());
            // Starting over at row 1 would overwrite what the sheet holds.
            if (!blank) {
                acutPrintf("%s", resourceStrings().load(kTextNoBlankRow).c_str());
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
        throw;
    }
    // The count tells the user the command did its work even when the spreadsheet
    // window is out of sight.
    const long written = session.referencesWritten;
    acutPrintf(
        "%s",
        formatText(pluralText(written, kTextReferencesExportedOne, kTextReferencesExportedMany), written).c_str());
    return true;
}

}  // namespace

ExportSession::~ExportSession() { nextExportRow = row; }

ExportSession::ExportSession(const ExportOptions& exportOptions, IDispatch* app)
    : options(exportOptions), texts(ExportTexts::load()), row(nextExportRow) {
    if (app) writer = std::make_unique<SheetWriter>(app, options);
    // Only a sheet exported into again can hold an earlier export's markers.
    if (options.WorksheetSettings == 1)
        for (const std::string& marker : texts.markers) ownMarkers.push_back(toWide(marker));
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
    }
    return cached_;
}

bool exportBlock(const std::string& blockName, ExportSession& session) {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    if (!db) return false;
    AcDbObjectIdArray references;
    {
        AcDbBlockTable* rawTable = nullptr;
        if (db->getSymbolTable(rawTable, AcDb::kForRead) != Acad::eOk || !rawTable) return false;
        AcDbObjectPointer<AcDbBlockTable> table;
        table.adopt(rawTable);
        AcDbBlockTableRecord* rawRecord = nullptr;
        if (table->getAt(blockName.c_str(), rawRecord, AcDb::kForRead) != Acad::eOk || !rawRecord) return false;
        AcDbObjectPointer<AcDbBlockTableRecord> record;
        record.adopt(rawRecord);
        if (record->getBlockReferenceIds(references, true, false) != Acad::eOk) return false;
    }

    const int total = references.length();
    const bool showProgress = total >= kProgressThreshold;
    if (showProgress) acutPrintf("%s", formatText(kTextExportingBlock, blockName.c_str(), total).c_str());
    int nextReport = total / 10;
    session.beginBlock();
    for (int i = 0; i < total; ++i) {
        {
            AcDbObjectPointer<AcDbBlockReference> reference(references[i], AcDb::kForRead);
            if (reference) exportReference(*reference.get(), session, !session.block.wroteRow);
        }
        if (showProgress && i + 1 >= nextReport && i + 1 < total) {
            acutPrintf(
                "%s", formatText(kTextExportProgress, i + 1, total, static_cast<int>((i + 1) * 100LL / total)).c_str());
            nextReport += total / 10;
        }
    }
    session.endBlock();
    return true;
}

namespace {

// Gives each attribute the definition does not declare (session.unplaced) its
// block's column: the j-th such attribute with a tag goes to the j-th extra column
// with that tag, added when the block has none yet. The row's values grow to reach
// it; extra columns this reference has no attribute for stay empty.
void placeExtraAttributes(ExportSession& session, std::span<const ReferenceAttribute> attributes) {
    ExportSession::BlockRows& block = session.block;
    std::vector<bool> used(block.extraTags.size(), false);
    for (std::size_t index : session.unplaced) {
        const ReferenceAttribute& attribute = attributes[index];
        std::size_t slot = 0;
        while (slot < block.extraTags.size() && (used[slot] || !sameTagText(block.extraTags[slot], attribute.tag)))
            ++slot;
        if (slot == block.extraTags.size()) {
            block.extraTags.push_back(attribute.tag);
            used.push_back(false);
        }
        used[slot] = true;
        const std::size_t at = 1 + block.fixedColumns + slot;
        while (session.rowTexts.values.size() <= at) session.rowTexts.values.push({});
        session.rowTexts.values.set(at, attribute.hasText ? attribute.text : std::string());
    }
}

}  // namespace

bool exportReference(const AcDbBlockReference& reference, ExportSession& session, bool first) {
    ResourceScope scope;
    if (!session.writer) return false;
    SheetWriter& writer = *session.writer;
    const ExportOptions& options = session.options;
    const ExportSession::Definition& definition = session.definitionOf(reference.blockTableRecord());
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
            buildExportRow(session.rowTexts, reference, *blockName, session.records, options, session.texts);
            ExportSession::BlockRows& block = session.block;
            if (first) block.fixedColumns = session.rowTexts.titles.size();
            const std::size_t knownExtras = block.extraTags.size();
            placeExtraAttributes(session, attributes);
            if (first) {
                for (std::size_t j = 0; j < block.extraTags.size(); ++j) {
                    session.rowTexts.titles.push(block.extraTags[j]);
                    session.rowTexts.markers.push({});
                }
                if (options.WorksheetSettings == 1) {
                    if (options.AddHeader) {
                        block.headerRow = session.row;
                        writer.writeHeaderRow(session.row, session.rowTexts.titles.view(),
                                              session.rowTexts.markers.view(), session.ownMarkers);
                    }
                } else {
                    writer.flush();
                    addBlockWorksheet(xl::activeWorkbook(writer.application()).get(), *blockName);
                    writer.sheetChanged();
                    block.headerRow = session.row;
                    writer.writeHeaderRow(session.row, session.rowTexts.titles.view(), session.rowTexts.markers.view(),
                                          session.ownMarkers);
                }
                if (options.ExportAttPrompts) {
                    buildPromptRow(session.promptTitles, session.promptMarkers, session.records, options);
                    writer.writeHeaderRow(session.row, session.promptTitles.view(), session.promptMarkers.view());
                }
            } else if (block.headerRow) {
                // Tags met for the first time on this reference head their columns now.
                for (std::size_t j = knownExtras; j < block.extraTags.size(); ++j)
                    writer.writeHeaderTitle(*block.headerRow, static_cast<std::int32_t>(block.fixedColumns + j + 1),
                                            block.extraTags[j]);
            }
            if (options.OddLine) ++session.row;
            writer.writeDataRow(session.row, session.rowTexts.values.view());
            block.wroteRow = true;
            ++session.referencesWritten;
        }
    }
    if (!first && !options.NoAutofit) session.block.needsFit = true;
    return true;
}

bool Export(Settings& settings) {
    if (!runExport(settings.exportOptions, NameSource::Dialog)) return false;
    if (settings.exportOptions.AutoConnect) connectLink();
    return true;
}

bool Export2() {
    Settings settings;
    loadSettings(settings);
    return runExport(settings.exportOptions, NameSource::CommandLine);
}

}  // namespace tabro
