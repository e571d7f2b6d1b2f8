#include "module/cmd/cmdexport.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "module/ResourceScope.h"
#include "module/ResourceStrings.h"
#include "module/cmd/BlockCollection.h"
#include "module/cmd/SheetWriter.h"
#include "module/drawing/BlockReading.h"
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
    const bool chosen = source == NameSource::Dialog ? chooseBlockNamesInDialog(blocks, names)
                                                     : askBlockNames(blocks, names);
    if (!chosen) return false;

    disconnectLink();
    DispatchPtr app;
    if (FAILED(obtainSpreadsheetApp(app)) || !app) {
        reportNoSpreadsheet();
        return false;
    }
    DispatchPtr workbook = openExportWorkbook(app.get(), options.WorkbookSettings);
    if (options.WorksheetSettings == 1) {
        if (options.FindNextBlankLine) {
            std::optional<std::int32_t> blank = findNextBlankRow(workbook.get());
            // Starting over at row 1 would overwrite what the sheet holds.
            if (!blank) {
                acutPrintf("\nThe active sheet has no blank row left; nothing was exported.");
                return false;
            }
            nextExportRow = *blank;
        } else {
            nextExportRow = options.StartRow;
        }
    }

    ExportSession session(options);
    for (const std::string& name : names) {
        if (options.WorksheetSettings == 0) nextExportRow = 1;
        exportBlock(name, session);
    }
    // The count tells the user the command did its work even when the spreadsheet
    // window is out of sight.
    acutPrintf("\n%ld references exported.", session.referencesWritten);
    return true;
}

ExportTexts loadExportTexts() {
    ExportTexts t;
    ResourceStrings& strings = resourceStrings();
    t.blockNameTitle = strings.load(kTextBlockNameTitle);
    for (int c = 0; c < static_cast<int>(PropertyColumn::Count); ++c) {
        t.titles[c] = strings.load(kTextXTitle + 2 * c);
        t.markers[c] = strings.load(kTextXMarker + 2 * c);
    }
    return t;
}

}  // namespace

ExportTexts ExportTexts::load() { return loadExportTexts(); }

ExportSession::ExportSession(const ExportOptions& exportOptions)
    : options(exportOptions), texts(ExportTexts::load()) {}

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
    if (showProgress) acutPrintf("\nExporting %s: %d references.", blockName.c_str(), total);
    int nextReport = total / 10;
    for (int i = 0; i < total; ++i) {
        {
            AcDbObjectPointer<AcDbBlockReference> reference(references[i], AcDb::kForRead);
            if (reference) exportReference(*reference.get(), session, i == 0);
        }
        if (showProgress && i + 1 >= nextReport && i + 1 < total) {
            acutPrintf("\n  %d of %d (%d%%)", i + 1, total, static_cast<int>((i + 1) * 100LL / total));
            nextReport += total / 10;
        }
    }
    return true;
}

bool exportReference(const AcDbBlockReference& reference, ExportSession& session, bool first) {
    ResourceScope scope;
    {
        DispatchPtr app;
        if (FAILED(attachSpreadsheetApp(app)) || !app) return false;
    }
    const ExportOptions& options = session.options;
    const ExportSession::Definition& definition = session.definitionOf(reference.blockTableRecord());
    if (!definition.hasName) return false;
    const std::string* blockName = &definition.name;

    if (definition.hasRecords) {
        // The definition's records with this reference's texts over them.
        session.records = definition.records;
        std::size_t count = 0;
        if (readReferenceAttributes(reference, session.attributes, count)) {
            overlayReferenceAttributes(session.records,
                                       std::span<const ReferenceAttribute>(session.attributes.data(), count));
            buildExportRow(session.row, reference, *blockName, session.records, options, session.texts);
            if (first) {
                if (options.WorksheetSettings == 1) {
                    if (options.AddHeader)
                        writeSheetRow(true, true, options, session.row.titles.view(), session.row.markers.view());
                } else {
                    DispatchPtr app;
                    if (SUCCEEDED(attachSpreadsheetApp(app)) && app)
                        addBlockWorksheet(xl::activeWorkbook(app.get()).get(), *blockName);
                    writeSheetRow(true, true, options, session.row.titles.view(), session.row.markers.view());
                }
                if (options.ExportAttPrompts) {
                    buildPromptRow(session.promptTitles, session.promptMarkers, session.records, options);
                    writeSheetRow(true, true, options, session.promptTitles.view(), session.promptMarkers.view());
                }
            }
            if (options.OddLine) ++nextExportRow;
            writeSheetRow(false, true, options, session.row.values.view(), {});
            ++session.referencesWritten;
        }
    }
    if (!first && !options.NoAutofit) autofitColumns();
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
