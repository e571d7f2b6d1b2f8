// The module's exported entry points: the host's application messages and
// interface version, and the system's mapping notifications.
#include "host/AcRx.h"
#include "module/LinkApp.h"
#include "module/ModuleState.h"
#include "module/base/ResourceScope.h"
#include "module/base/WideText.h"
#include "module/export/Export.h"
#include "module/import/RegisterRows.h"
#include "module/import/SheetReader.h"
#include "module/layout/WorkbookRecord.h"
#include "module/link/ComServer.h"
#include "module/link/ComServerResources.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/Connect.h"
#include "platform/ComError.h"
#include "platform/Module.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#define TABRO_EXPORT extern "C" __attribute__((visibility("default")))

TABRO_EXPORT AcRx::AppRetCode acrxEntryPoint(AcRx::AppMsgCode msg, void* pkt) {
    return tabro::linkApp()->dispatch(msg, pkt);
}

TABRO_EXPORT unsigned long acrxGetApiVersion() { return 0x000F0000; }

TABRO_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return tabro::mapModule(instance);
    case DLL_PROCESS_DETACH:
        tabro::unmapModule();
        return 1;
    default:
        return 1;  // thread notifications need nothing
    }
}

// The automation server's resources (its type library and registry script).
TABRO_EXPORT const ResourceTable* ResourceModuleTable() { return tabro::comServerResources(); }

// The module may go once none of its objects is alive.
TABRO_EXPORT HRESULT DllCanUnloadNow() { return tabro::moduleLockCount() == 0 ? S_OK : S_FALSE; }

// A program that runs the module's commands over several drawings in one process
// (tablora) sets the run up through these, found by name as any program finds a
// library's entry points.
namespace {

int failWith(const std::string& text, char* error, unsigned long errorSize) {
    if (error && errorSize > 0) std::snprintf(error, errorSize, "%s", text.c_str());
    return 1;
}

}  // namespace

// Settings from `settingsFile` (null: the registry) for every command of the run;
// `rowsNameDrawing`: exported rows name their drawing; `preview`: imports list their
// changes and ask first. 0, or non-zero with a one-line reason in `error`.
TABRO_EXPORT int TabroBeginRun(const char* settingsFile, int rowsNameDrawing, int preview, char* error,
                               unsigned long errorSize) {
    tabro::ResourceScope scope;
    tabro::Settings settings;
    if (settingsFile) {
        std::string problem;
        if (!tabro::loadSettingsFile(settingsFile, settings, problem)) return failWith(problem, error, errorSize);
    } else {
        tabro::loadSettings(settings);
    }
    tabro::RunOptions run;
    run.rowsNameDrawing = rowsNameDrawing != 0;
    tabro::beginRun(settings, run, preview != 0);
    tabro::registerRows().clear();
    tabro::forgetRegisterSheets();
    return 0;
}

// The drawings the rows of the active workbook name in their drawing cells, each
// once in the order met, as paths (for a workbook of one drawing, the drawing its
// record names when it is beside the workbook): `each` is called for each. How
// many, or -1 with a one-line reason in `error`.
TABRO_EXPORT int TabroRegisterDrawings(void (*each)(const char* path, void* context), void* context, char* error,
                                       unsigned long errorSize) {
    tabro::ResourceScope scope;
    try {
        tabro::DispatchPtr app;
        if (FAILED(tabro::attachSpreadsheetApp(app)) || !app) {
            failWith("no spreadsheet application is running", error, errorSize);
            return -1;
        }
        tabro::DispatchPtr book = tabro::xl::activeWorkbook(app.get());
        if (!book) {
            failWith("no workbook is open", error, errorSize);
            return -1;
        }
        const std::string workbookPath = tabro::toMultibyte(tabro::xl::fullName(book.get()));
        const tabro::ImportMarkers markers = tabro::ImportMarkers::load();
        std::set<std::string> seen;
        std::vector<std::string> drawings;
        tabro::DispatchPtr sheets = tabro::xl::worksheets(book.get());
        for (LONG i = 1, n = tabro::xl::count(sheets.get()); i <= n; ++i) {
            tabro::DispatchPtr sheet = tabro::xl::item(sheets.get(), i);
            if (tabro::isRecordSheetName(tabro::xl::name(sheet.get()))) continue;
            tabro::readSheetRows(sheet.get(), 1, 1, markers, [&](const tabro::ImportRow& row) {
                if (row.drawingColumn == 0 || row.drawing->empty()) return;
                std::string path = tabro::resolveRegisterPath(*row.drawing, workbookPath);
                if (seen.insert(path).second) drawings.push_back(std::move(path));
            });
        }
        // A workbook of one drawing has no drawing column: its record names the
        // drawing, which an export of one drawing leaves beside the workbook.
        if (drawings.empty()) {
            const std::vector<tabro::DispatchPtr> records = tabro::recordSheets(book.get());
            std::optional<tabro::WorkbookRecord> record;
            if (records.size() == 1) record = tabro::WorkbookRecord::readSheet(records.front(), nullptr, false);
            if (record && !record->identity.fileName.empty()) {
                std::string path = tabro::resolveRegisterPath(record->identity.fileName, workbookPath);
                std::error_code ignored;
                if (std::filesystem::is_regular_file(path, ignored)) drawings.push_back(std::move(path));
            }
        }
        for (const std::string& path : drawings) each(path.c_str(), context);
        return static_cast<int>(drawings.size());
    } catch (const _com_error& e) {
        failWith(e.ErrorMessage(), error, errorSize);
    } catch (const std::exception& e) {
        failWith(e.what(), error, errorSize);
    }
    return -1;
}
