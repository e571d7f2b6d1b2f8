// Obtaining the spreadsheet application, its export workbook and block worksheets.
#include "module/spreadsheet/Connect.h"

#include "module/spreadsheet/CellValue.h"
#include "platform/ClassRegistry.h"
#include "platform/ComError.h"
#include "platform/Text.h"

#include <string_view>
#include <vector>

namespace tabro {

HRESULT findSpreadsheetClass(const char* className, CLSID& clsid) {
    if (!className) return E_INVALIDARG;
    int needed = MultiByteToWideChar(CP_ACP, 0, className, -1, nullptr, 0);
    std::vector<OLECHAR> wide(needed > 0 ? static_cast<std::size_t>(needed) : 1);
    if (needed <= 0 || MultiByteToWideChar(CP_ACP, 0, className, -1, wide.data(), needed) <= 0)
        return static_cast<HRESULT>(0x80070000u | (GetLastError() & 0xFFFFu));
    return wide[0] == u'{' ? CLSIDFromString(wide.data(), &clsid) : CLSIDFromProgID(wide.data(), &clsid);
}

HRESULT attachSpreadsheetApp(DispatchPtr& app, const char* className) {
    app.reset();
    CLSID clsid{};
    HRESULT hr = findSpreadsheetClass(className, clsid);
    if (FAILED(hr)) return hr;
    platform::ComPtr<IUnknown> running;
    hr = GetActiveObject(clsid, nullptr, running.put());
    if (FAILED(hr)) return hr;
    if (!running) return E_POINTER;
    return running.queryInterface(app);
}

HRESULT createSpreadsheetApp(DispatchPtr& app, const char* className) {
    app.reset();
    CLSID clsid{};
    HRESULT hr = findSpreadsheetClass(className, clsid);
    if (FAILED(hr)) return hr;
    platform::ComPtr<IUnknown> created;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                          IID_IUnknown, created.putVoid());
    if (FAILED(hr)) return hr;
    if (!created) return E_POINTER;
    hr = OleRun(created.get());
    if (FAILED(hr)) return hr;
    return created.queryInterface(app);
}

HRESULT obtainSpreadsheetApp(DispatchPtr& app, const char* className) {
    if (SUCCEEDED(attachSpreadsheetApp(app, className))) return S_OK;
    return createSpreadsheetApp(app, className);
}

DispatchPtr openExportWorkbook(IDispatch* app, LONG workbookSettings) {
    if (!app) throw _com_error(E_POINTER);
    xl::setVisible(app, true);
    DispatchPtr workbook;
    if (workbookSettings == 1) workbook = xl::activeWorkbook(app);
    if (!workbook) workbook = xl::addWorkbook(xl::workbooks(app).get());
    if (!workbook) throw _com_error(E_POINTER);
    xl::activate(workbook.get());
    return workbook;
}

DispatchPtr addBlockWorksheet(IDispatch* workbook, const std::string& blockName) {
    if (!workbook) throw _com_error(E_POINTER);
    DispatchPtr sheets = xl::worksheets(workbook);
    DispatchPtr sheet = xl::addWorksheet(sheets.get());
    if (!sheet) throw _com_error(E_POINTER);

    // A block name the application refuses as a sheet name ("[", ":", more than
    // 31 characters, a name another sheet has in any letter case) is a legal block
    // name all the same. It leaves the sheet with the application's own name, so
    // that one such block does not end the export of every block after it. The
    // application's refusal tells a name another sheet has: looking through every
    // sheet first made an export of a sheet per block take time in the square of
    // the blocks. The new sheet's own name, in another case, is kept as it is.
    const std::string ownName = toMultibyte(xl::name(sheet.get()));
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(ownName.c_str()),
                 reinterpret_cast<const unsigned char*>(blockName.c_str())) != 0) {
        try {
            xl::setName(sheet.get(), toWide(blockName));
        } catch (const _com_error&) {
        }
    }
    xl::activate(sheet.get());
    return sheet;
}

}  // namespace tabro
