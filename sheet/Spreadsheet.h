// The spreadsheet application stand-in as programs and tests start it: class
// registration under "Excel.Application", the running instance, and the workbook
// file lifecycle the host drives (flush when a command ends, open a file).
#pragma once

#include "platform/Dispatch.h"
#include "platform/Unknown.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sheet {

// Makes the class known to the platform's class registry. Creating an instance
// gives the running application (starting it when none runs): there is one per
// process, as there is one per desktop session for the real program.
HRESULT registerSpreadsheetApplication();
// Removes the class and stops the running application, if any.
HRESULT revokeSpreadsheetApplication();

// The running application, started (and entered in the running-object table) when
// none runs.
platform::ComPtr<IDispatch> startSpreadsheetApplication();
// The running application or null.
platform::ComPtr<IDispatch> runningSpreadsheetApplication();
// Leaves the running-object table and drops the application's workbooks (unsaved
// changes are not written: call flushChangedWorkbooks first). Objects callers still
// hold keep working on the dropped workbooks.
void stopSpreadsheetApplication();

// Saves every changed workbook to its file (temporary file + rename, so a failed
// save leaves the previous file as it was). Returns one message per workbook that
// could not be saved; empty when all went well. Nothing happens when no
// application runs.
std::vector<std::string> flushChangedWorkbooks();

// How opening a file fails when the file, by its content, is a workbook of another
// format or no workbook at all (text saved from a spreadsheet, say): what() names the
// file and says what it is, as any failure to open does; kind alone says what it is
// ("an OpenDocument spreadsheet", "a text (CSV) file, not a workbook"), for a host
// that can offer another way to open it.
struct ForeignWorkbookFileError : std::runtime_error {
    ForeignWorkbookFileError(const std::string& what, std::string file, std::string kind, bool isDrawing = false)
        : std::runtime_error(what), file(std::move(file)), kind(std::move(kind)), isDrawing(isDrawing) {}
    std::string file;  // as given
    std::string kind;
    bool isDrawing = false;  // a drawing (DXF) where the workbook was wanted
};

// Starts the application if needed, opens the .xlsx file and makes it the active
// workbook (a workbook already open from that file is only activated). Throws
// std::runtime_error naming the file and what is wrong with it (ForeignWorkbookFileError
// for a file of another kind). A file with content
// that could not be written back opens read-only.
void openWorkbookFile(const std::string& path);

// Starts the application if needed, writes a new workbook of one empty sheet to
// `path` and opens it as the active workbook: a program that fills a new workbook
// file then saves it with flushChangedWorkbooks. A file already at `path` is
// refused unless `replace`. Throws std::runtime_error naming the file.
void createWorkbookFile(const std::string& path, bool replace);

// A workbook file read and parsed ahead of opening it. Reading needs nothing of the
// running application, so a host can have it done on another thread while it opens
// its drawing, as the separate program would load its files in the meantime.
struct PreparedWorkbook;
// Throws std::runtime_error naming the file, as openWorkbookFile does.
std::shared_ptr<PreparedWorkbook> prepareWorkbookFile(const std::string& path);
// Opens what prepareWorkbookFile read, as openWorkbookFile(path) would; the file is
// read again when it changed since it was prepared. Returns why the workbook opened
// read-only (content it could not write back), empty when it can be changed.
std::string openWorkbookFile(const std::shared_ptr<PreparedWorkbook>& prepared);

// Reloads the workbooks whose files another program changed (size or time) and
// fires SheetChange for each changed cell. The application does this by itself
// before a workbook is looked up again; a host calls it while idle so that edits
// made elsewhere reach subscribers without a call. Returns one message for each
// workbook whose file cannot be read and has stayed so since the look before (a
// file still being written changes in between), told once for each such version:
// its edits reach no one until it can be read.
std::vector<std::string> reloadChangedWorkbooks();

}  // namespace sheet
