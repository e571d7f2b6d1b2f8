// The export and import options, their defaults and their place in the current
// user's registry. Every command that needs them loads its own copy.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace tabro {

// Field names are the registry value names, as stored.
struct ExportOptions {
    LONG WorkbookSettings = 0;   // 1 = the active workbook; any other value = a new one
    LONG WorksheetSettings = 0;  // 0 = a new sheet per block; 1 = the active sheet
    LONG StartRow = 1;           // first row written into the active sheet
    bool AddHeader = false;
    bool BlockNames = true;
    bool XCoord = true;
    bool YCoord = true;
    bool ZCoord = true;
    bool OddLine = false;
    bool Rotation = true;
    bool LayerNames = true;
    bool AutoConnect = false;
    // No default of its own: the registry alone sets it, and resetting to defaults
    // leaves it alone. A record starts with it off.
    bool IncludeConstant = false;
    bool Scale = true;
    bool Sort = false;
    bool LayoutNames = false;
    bool NoAutofit = false;
    bool JTSK = false;
    bool AsText = true;
    bool FindNextBlankLine = false;
    bool ExportAttPrompts = false;
};

// The choices of ImportOptions::DrawingChangedToo: a cell edited in the sheet whose
// value in the drawing changed as well since the export.
inline constexpr LONG kKeepDrawingValue = 0;
inline constexpr LONG kTakeSheetValue = 1;

struct ImportOptions {
    LONG ImportSettings = 0;  // 1 = every sheet of the active workbook; else the active sheet
    bool IgnoreProps = true;
    LONG StartCol = 1;
    LONG StartRow = 2;
    bool Preview = false;  // show the changes before applying them
    // kKeepDrawingValue or kTakeSheetValue, nothing else: a stored value that is
    // neither loads as kKeepDrawingValue, so that import never has to guess.
    LONG DrawingChangedToo = kKeepDrawingValue;
};

struct Settings {
    ExportOptions exportOptions;
    ImportOptions importOptions;
};

inline constexpr const char* kExportKey = "SOFTWARE\\Morvik\\Tablora\\Settings\\Export";
inline constexpr const char* kImportKey = "SOFTWARE\\Morvik\\Tablora\\Settings\\Import";

// Every field to its default, except IncludeConstant, which keeps what it holds.
void setDefaultSettings(Settings& settings);

// Defaults, then whatever the registry holds (or the settings kept for the session
// instead, when there are: see keepSettingsForSession). A value is read as 4 bytes
// whatever its stored type (a shorter one is zero-filled); a boolean is on for any
// non-zero value; integers are taken without a range check, except DrawingChangedToo,
// which is kKeepDrawingValue for anything but kTakeSheetValue. A missing Export key
// leaves the whole record at its defaults, Import part included; a value that is
// absent or longer than 4 bytes leaves its field alone. The legacy "Coords" value
// sets X, Y and Z together before "XCoord", "YCoord" and "ZCoord" override it one by
// one.
void loadSettings(Settings& settings);

// Writes the 27 values as 4-byte REG_DWORDs (booleans as 0 or 1), creating the keys
// when needed; "Coords" is never written. The hive file is written once for all of
// them, not once a value: a large hive took seconds a value. Stops at the first
// failed call and returns false, keeping what was set before it; a failed write of
// the file leaves it as it was. True only when everything, both closes and the
// write included, succeeded; then settings kept for the session are dropped, as
// the registry holds them now. `error`, when given, receives the system error code
// of the failure (ERROR_SUCCESS after a success).
bool saveSettings(const Settings& settings, LONG* error = nullptr);

// Settings the user chose that could not be saved: loadSettings gives them from now
// on, rather than what the registry holds, until a save succeeds or the module is
// unloaded, so that the rest of the session works as the user chose.
void keepSettingsForSession(const Settings& settings);
// Lets go of settings kept for the session (the module's unload).
void dropSessionSettings();

// Defaults, then the entries of a settings file: an INI file whose sections
// "Export" and "Import" hold the registry's value names, as the options dialog
// saves it. Strict where the dialog is lenient, since a file named on a command
// line is the whole of a repeatable run's settings: false, with `problem` saying
// why, when the file cannot be read or an entry is not a whole number.
bool loadSettingsFile(const std::string& path, Settings& settings, std::string& problem);

// A program that runs the commands over several drawings in one process (a
// register of them in one workbook) sets the run up once, before the first command.
struct RunOptions {
    bool isRun = false;
    // Each exported row names its drawing: a drawing column after the block name.
    bool rowsNameDrawing = false;
};
// Keeps `settings` for the session, with what a run over several drawings needs of
// them: exports into the active workbook (the run's), without connecting the live
// link; imports of every sheet; `preview` as the run asks.
void beginRun(Settings settings, const RunOptions& run, bool preview);
// The run set up; isRun is false outside one.
const RunOptions& currentRun();
// Ends the run (the module's unload).
void endRun();

}  // namespace tabro
