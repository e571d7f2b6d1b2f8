// Reaching the spreadsheet application: the running instance first, a new one
// second; the export workbook and a worksheet per block. No reference is kept
// between calls: each caller holds what it gets and releases it on every way out.
#pragma once

#include "module/spreadsheet/Automation.h"
#include "platform/Guid.h"

#include <string>

namespace tabro {

// The application's class, as registered with the class registry.
inline constexpr const char* kSpreadsheetClassName = "Excel.Application";

// The class identifier of `className`: text beginning with "{" is read as a class
// identifier string, anything else as a program identifier. A name that cannot be
// made wide fails with the system error folded into 0x8007xxxx.
HRESULT findSpreadsheetClass(const char* className, CLSID& clsid);

// The running application, asked for IDispatch. Fails as the lookup or the
// running-object table fails (MK_E_UNAVAILABLE when none runs); `app` stays null.
HRESULT attachSpreadsheetApp(DispatchPtr& app, const char* className = kSpreadsheetClassName);

// A new instance: created in the server contexts asking IUnknown, put into the
// running state, then asked for IDispatch.
HRESULT createSpreadsheetApp(DispatchPtr& app, const char* className = kSpreadsheetClassName);

// attach, else create.
HRESULT obtainSpreadsheetApp(DispatchPtr& app, const char* className = kSpreadsheetClassName);

// Makes the application visible and returns the workbook export writes into,
// activated: with workbookSettings 1 the active workbook (a new one when there is
// none), otherwise always a new one. A null application or workbook throws
// E_POINTER.
DispatchPtr openExportWorkbook(IDispatch* app, LONG workbookSettings);

// Adds a worksheet to the workbook, names it after the block unless some sheet (the
// new one included) already has that name in any letter case or the application's
// naming rules refuse it, and activates it. A failure to add, read or activate the
// sheet throws its automation error.
DispatchPtr addBlockWorksheet(IDispatch* workbook, const std::string& blockName);

}  // namespace tabro
