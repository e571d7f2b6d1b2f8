// The tbtest command's connection test. Its trace lines name this source and fixed
// trace points so that a user's report says how far the connection got.
#include "module/cmd/cmdtest.h"

#include "host/Editor.h"
#include "module/spreadsheet/Connect.h"
#include "platform/MessageBox.h"

namespace {

constexpr const char* kTraceSource = "cmd/cmdtest";

void trace(int point) { acutPrintf("\nDEBUG: %s (%d)", kTraceSource, point); }

}  // namespace

bool runConnectionTest() {
    using namespace tabro;
    trace(48);
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app))) {
        trace(50);
        if (FAILED(createSpreadsheetApp(app))) {
            MessageBoxA(adsw_acadMainWnd(), "ERROR: Failed to to obtain Excel object.", "Error", MB_OK | MB_ICONERROR);
            return false;
        }
    }
    if (!app) {
        acutPrintf("\nDEBUG: pExcel == NULL");
        return false;
    }
    xl::setInteractive(app.get(), true);
    trace(64);
    xl::setVisible(app.get(), true);
    trace(66);
    DispatchPtr workbook = xl::activeWorkbook(app.get());
    trace(68);
    if (!workbook) workbook = xl::addWorkbook(xl::workbooks(app.get()).get());
    trace(72);
    xl::activate(workbook.get());
    trace(74);
    return true;
}
