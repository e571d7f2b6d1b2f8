// What an export leaves in its workbook besides the rows the user sees: the drawing
// it came from, the settings that shape how its cells read back, and for every
// reference the text it wrote in each cell. Import decides with it which cells the
// user edited (the cell no longer says what was written) and which the drawing
// changed since (the drawing no longer says it), so that a cell nobody touched
// never undoes a later change in the drawing.
//
// The record is a hidden worksheet: every spreadsheet program keeps cells and hidden
// sheets, where custom document properties and long comments are dropped or shown by
// some. Its entries are found by handle, not by row, so sorting, moving and copying
// the user's rows and sheets keep them right.
#pragma once

#include "module/layout/SheetLayout.h"
#include "module/spreadsheet/Automation.h"
#include "platform/Dispatch.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tabro {

// The record sheet's name; a user sheet of that name that holds no record is left
// alone and the export keeps no record.
inline constexpr char16_t kRecordSheetName[] = u"Tablora record";

// Which drawing a workbook was exported from: the header's $FINGERPRINTGUID where
// the drawing has one (it survives renaming and copying the file), and the file's
// name, which is all a drawing without one gives.
struct DrawingIdentity {
    std::string fingerprint;
    std::string fileName;  // without its folder
    // In a register of several drawings: the drawing's path relative to the
    // workbook's folder, as its rows' drawing cells say it; empty otherwise.
    std::string path;

    static DrawingIdentity ofWorkingDrawing();
    // With the path of the working drawing relative to `workbook`'s folder.
    static DrawingIdentity ofWorkingDrawing(IDispatch* workbook);
    // The same path (and fingerprint, when both have one) where both have a path;
    // else the same fingerprint when both have one, else the same file name
    // (without regard to case, as the file systems the host runs on compare them).
    bool isSameDrawing(const DrawingIdentity& other) const;
    // The name to show: the file name, or the fingerprint for a drawing never saved.
    std::string shownName() const;
};

// How the cells were written: survey coordinates, and the units and precision of
// distances and angles. Import reads them so, whatever the settings are now.
struct CellWriting {
    bool jtsk = false;
    int lunits = 2, luprec = 4, aunits = 0, auprec = 0;

    static CellWriting ofWorkingDrawing(bool jtsk);
    // A distance or angle as export writes it under these settings.
    std::string distanceText(double value) const;
    std::string angleText(double radians) const;
    // A cell's text read back as export's distance or angle (surrounding blanks
    // ignored; a plain decimal number is read too). False when it is neither.
    bool readDistance(std::string_view text, double& out) const;
    bool readAngle(std::string_view text, double& out) const;
};

// The drawing cell of a register: `drawingFile` relative to the folder of the
// workbook at `workbookPath`, with '/' between folders; the file's name alone for
// a workbook never saved.
std::string registerPathOf(const std::string& drawingFile, const std::string& workbookPath);
// Whether a drawing cell's text names `drawingFile`: a path relative to the
// workbook's folder (or absolute), '\\' taken for '/', blanks around ignored.
bool namesDrawing(const std::string& cellText, const std::string& drawingFile, const std::string& workbookPath);
// A drawing cell's text as the path of a file (absolute).
std::string resolveRegisterPath(const std::string& cellText, const std::string& workbookPath);

// A handle as the record and import key it: blanks around it dropped, in capitals
// (a comment may hold " 3e\n", the drawing writes "3E").
std::string handleKey(std::string_view handle);

// The key of a column in the record: its property, "@" and the attribute tag (the
// k-th column with a tag pairs with the k-th key with it), or "%" and a dynamic
// block parameter's label.
std::string recordKeyOf(ColumnRole role, int scaleSlot, std::string_view tag);
// The title export gives the column of a key: the tag or label, or the property's title.
std::string titleOfRecordKey(std::string_view key, const ExportTexts& texts);
// The keys of an export's columns, from the titles and markers of its header row.
std::vector<std::string> recordKeysOf(std::span<const std::string> titles, std::span<const std::string> markers,
                                      const ExportTexts& texts, bool blockNames);

class WorkbookRecord {
public:
    DrawingIdentity identity;
    CellWriting writing;

    // One block's columns, in the order its rows were written.
    struct Section {
        std::string block;
        std::vector<std::string> keys;
    };
    struct Entry {
        std::uint32_t section = 0;
        std::int32_t recordRow = 0;  // where it stands in the record sheet; 0: not written yet
        // The texts, parallel to the section's keys, each ended by a NUL (no drawing
        // text holds one): one allocation a reference rather than one a cell.
        std::string values;
        // Texts the entry held before an import brought it up to date, by key index: a
        // copy of a row made before the import still says them, and is no edit.
        std::vector<std::pair<std::uint32_t, std::string>> superseded;
        std::size_t count() const;
        std::string_view at(std::size_t i) const;  // empty past the last
    };

    // Building, as an export writes rows: a block's columns, more columns for it (an
    // extra attribute met on a later reference), then one entry per reference.
    void beginSection(std::string block, std::vector<std::string> keys);
    void addKey(std::string key);
    void add(std::string_view handle, std::span<const std::string> values);
    // Entries of `other` whose handles this record lacks are taken over, with their
    // sections (an export adds to what an earlier one recorded).
    void keepOthers(const WorkbookRecord& other);

    const Entry* find(std::string_view handle) const;
    const Section& sectionOf(const Entry& entry) const { return sections_[entry.section]; }
    // The text written for the k-th column with this key; none when the record has
    // no such column.
    std::optional<std::string_view> valueOf(const Entry& entry, std::string_view key, int occurrence) const;
    // What the same cell held before, newest last.
    std::vector<std::string_view> earlierValuesOf(const Entry& entry, std::string_view key, int occurrence) const;
    std::size_t size() const { return byHandle_.size(); }

    // The record sheet of a workbook. No value when the workbook has none; a sheet
    // that holds no record (`problem` says why) gives none either. Without
    // `withEntries` only where the workbook came from is read; loadEntries() reads
    // the rest when it is needed (an import whose every cell says what the drawing
    // holds never needs it).
    static std::optional<WorkbookRecord> read(IDispatch* workbook, std::string* problem = nullptr,
                                              bool withEntries = true);
    // The record of `drawing` where a workbook keeps several (a register keeps one a
    // drawing); a workbook with one record gives it, whoever's it is. None when no
    // record is the drawing's: `hasOthers` then says whether the workbook has any.
    static std::optional<WorkbookRecord> readOf(IDispatch* workbook, const DrawingIdentity& drawing,
                                                std::string* problem = nullptr, bool withEntries = true,
                                                bool* hasOthers = nullptr);
    static std::optional<WorkbookRecord> readSheet(DispatchPtr sheet, std::string* problem = nullptr,
                                                   bool withEntries = true);
    // The sheet the record was read from.
    IDispatch* sheet() const { return sheet_.get(); }
    // False, with `problem` saying why, when the entries cannot be read.
    bool loadEntries(std::string* problem = nullptr);
    bool hasEntries() const { return hasEntries_; }
    // Writes the whole record into the workbook's record sheet (added hidden when
    // there is none), leaving the active sheet as it was. False when a sheet of that
    // name holds something else. `besideOthers` (a register): into the record sheet
    // of this record's drawing, or a new one, leaving the other drawings' records.
    bool write(IDispatch* workbook, bool besideOthers = false);
    // A cell of an entry brought up to date after import applied it, the text it
    // replaces kept beside it; writeUpdates() puts what changed into the record sheet.
    void update(std::string_view handle, std::string_view key, int occurrence, const std::string& value);
    void writeUpdates(IDispatch* recordSheet);

private:
    bool readRows(LONG from, LONG to, std::string* problem);
    std::string packedEntry(const std::string& handle, const Entry& entry) const;
    static bool isTooLongForRecordCell(const std::string& packed);
    std::optional<std::size_t> keyIndex(const Section& section, std::string_view key, int occurrence) const;

    std::vector<Section> sections_;
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t> byHandle_;  // handle in upper case
    std::vector<std::size_t> changed_;                       // entries update() changed since written
    // Where a record read from a workbook stands, for loading its entries later.
    DispatchPtr sheet_;
    LONG lastRow_ = 0, width_ = 0;
    bool hasEntries_ = true;  // a record being built has all it will have
};

// The record sheet of a workbook, when it has one.
DispatchPtr findRecordSheet(IDispatch* workbook);
// Every record sheet: "Tablora record", and "Tablora record 2" and on in a register.
std::vector<DispatchPtr> recordSheets(IDispatch* workbook);
bool isRecordSheetName(std::u16string_view name);

}  // namespace tabro
