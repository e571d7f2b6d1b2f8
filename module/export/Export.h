// TABRO Export and TABRO Export2: every reference of the chosen blocks becomes a
// worksheet row. Main thread, inside the TABRO command; automation failures throw
// _com_error to the command guard, leaving what was written in place.
#pragma once

#include "module/drawing/AttributeRecord.h"
#include "module/export/BlockCollection.h"
#include "module/export/SheetWriter.h"
#include "module/layout/ExportRow.h"
#include "module/layout/WorkbookRecord.h"
#include "module/settings/Settings.h"

#include "host/db/AcDbObject.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class AcDbBlockReference;

namespace tabro {

struct Settings;

// "Export": the blocks chosen in the block selection dialog, with these settings.
bool Export(Settings& settings, BlockNameDialog chooseBlockNames);
// "Export2": the blocks named on the command line; loads its own settings.
bool Export2();

// Forgets where a run's block sheets stand (a run begins, the module goes).
void forgetRegisterSheets();

// What one export command keeps while it runs: its options, the header texts read
// once, the last block definition's records and name, and buffers reused from row
// to row.
class ExportSession {
public:
    // `app` is the application the whole command writes into; null for none (then
    // no reference is exported).
    ExportSession(const ExportOptions& options, IDispatch* app);
    // The row cursor outlives the export in nextExportRow, also when a failure ends it.
    ~ExportSession();
    ExportSession(const ExportSession&) = delete;
    ExportSession& operator=(const ExportSession&) = delete;

    const ExportOptions& options;
    const ExportTexts texts;
    // The row the next written row goes to; starts where the last export ended.
    std::int32_t row;

    // The name and attribute definition records of a block definition, read once
    // per block: the drawing does not change while an export runs.
    struct Definition {
        bool hasName = false;     // false: the definition cannot be opened
        bool hasRecords = false;  // false: its entities cannot be read
        std::string name;
        std::vector<AttributeRecord> records;
        bool isDynamic = false;  // a dynamic block: its rows carry its parameters
    };
    const Definition& definitionOf(AcDbObjectId blockId);

    // What the block being exported has written so far. Its columns are the
    // definition's (and the property columns), then one per attribute that some
    // reference holds beyond its definition, headed by the tag, in the order met.
    struct BlockRows {
        bool wroteRow = false;                  // the block's first row is written
        std::optional<std::int32_t> headerRow;  // where its header row stands
        std::size_t fixedColumns = 0;           // columns before the extra ones
        std::vector<std::string> extraTags;
        // The extra columns of each tag (by tagKey), in column order.
        std::unordered_map<std::string, std::vector<std::size_t>> extraSlots;
        // Columns are fitted once, when the block's rows are all written, where
        // a reference after its first asked for it.
        bool needsFit = false;
        // A dynamic block's parameter columns, fixed by its first row.
        ParameterColumns parameters;
        // Its rows go under a header an earlier drawing of a register wrote.
        bool reusesHeader = false;
    };
    BlockRows block;
    void beginBlock() { block = BlockRows{}; }

    // A register of several drawings: what each row's drawing cell says (none
    // outside one), and the block's sheet an earlier drawing's export made, which
    // this drawing's rows go on below its rows.
    std::optional<std::string> drawingName;
    struct RegisterSheet {
        std::u16string name;
        std::int32_t headerRow = 0;
        std::int32_t nextRow = 1;
        std::vector<std::string> titles, markers;  // the header row in force, as it stands
    };
    RegisterSheet* registerSheet = nullptr;

    // Where the reference being exported puts the attributes its definition does
    // not declare: the extra column of each (parallel to `unplaced`), and the
    // columns it adds to the block's, with their tags and keys.
    std::vector<std::size_t> extraSlotOf;
    std::vector<std::pair<std::string, std::string>> newExtraTags;

    // References given no row because no worksheet can hold it (a text longer than
    // a cell takes, more columns or rows than a sheet has): counted, and the first
    // ones named in the box the export ends with.
    static constexpr std::size_t kListedNotExported = 10;
    struct NotExported {
        std::string block, handle, reason;
    };
    std::vector<NotExported> notExported;
    long notExportedCount = 0;
    void refuse(const std::string& blockName, const std::string& handle, std::string reason);

    std::vector<AttributeRecord> records;
    std::vector<ReferenceAttribute> attributes;
    std::vector<std::size_t> unplaced;
    ExportRow rowTexts;
    TextList promptTitles;
    TextList promptMarkers;
    // The property markers as comments carry them, for clearing stale ones.
    std::vector<std::u16string> ownMarkers;
    long referencesWritten = 0;
    std::unique_ptr<SheetWriter> writer;
    // What each written row said, kept in the workbook for import to tell the user's
    // edits from the drawing's.
    WorkbookRecord record;

    // Ends the block being exported: its held-back rows written, its columns fitted.
    void endBlock();
    // After a failure: what was composed before it is written as far as the
    // application still takes it, and the failure goes on unchanged.
    void salvage() noexcept;

private:
    AcDbObjectId cachedBlock_;
    Definition cached_;
};

// Visits every reference of the named block (case-insensitive lookup) in the host's
// order, a dynamic block's through its anonymous blocks after its direct ones; `first` is true for the reference whose
// row is the block's first actually written (an earlier one that does not open or gives no row does not count). False
// when the drawing has no such block.
bool exportBlock(const std::string& blockName, ExportSession& session);

// Writes the rows of one reference: on the first reference the block's sheet (or the
// active sheet) and header and prompt rows, then the data row (perhaps held back
// until the block ends); later references have the block's columns fitted when it
// ends. False, writing nothing, when the command has no spreadsheet application or
// when the reference's block definition cannot be opened; true also when the
// reference's attributes cannot be read and it gets no row (block.wroteRow tells),
// and when no worksheet can hold its rows: then nothing of it is written and it is
// noted in session.notExported.
bool exportReference(const AcDbBlockReference& reference, ExportSession& session, bool first);

}  // namespace tabro
