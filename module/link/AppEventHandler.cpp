// The event handler object and its event sink.
#include "module/link/AppEventHandler.h"

#include "module/base/ErrorReports.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/link/ChangeQueue.h"
#include "module/link/ComServer.h"
#include "platform/ClassRegistry.h"
#include "platform/ComError.h"
#include "platform/ConnectionPoint.h"
#include "platform/MessageBox.h"
#include "platform/Variant.h"

#include <algorithm>
#include <memory>
#include <new>

namespace tabro {

using platform::ComPtr;
using platform::Variant;

namespace {

// What a SheetChange event hands over: the dispatch pointer of an argument, null
// when it holds none.
IDispatch* dispatchArgument(std::span<const Variant> args, std::size_t index) {
    return index < args.size() && args[index].vt() == VT_DISPATCH ? args[index].pdispVal() : nullptr;
}

// The cells of a changed range to queue, top-left first, row by row. A range of
// one cell is itself. A pasted block, or a reload that changed many cells, changes
// every cell of the range, and each must reach the drawing; the sheet's used range
// bounds it so that clearing whole columns does not queue a million empty cells.
// The top-left cell is always queued: it is the cell the event names.
struct CellSpan {
    LONG firstRow, firstColumn, lastRow, lastColumn;
};
CellSpan cellsToQueue(IDispatch* target, IDispatch* worksheet, LONG row, LONG column) {
    CellSpan span{row, column, row, column};
    if (xl::count(target) <= 1) return span;
    const LONG rows = xl::count(xl::rows(target).get());
    const LONG columns = xl::count(xl::columns(target).get());
    DispatchPtr used = xl::usedRange(worksheet);
    const LONG usedRow = xl::row(used.get()), usedColumn = xl::column(used.get());
    const LONG usedLastRow = usedRow + xl::count(xl::rows(used.get()).get()) - 1;
    const LONG usedLastColumn = usedColumn + xl::count(xl::columns(used.get()).get()) - 1;
    span.lastRow = std::max(row, std::min(row + rows - 1, usedLastRow));
    span.lastColumn = std::max(column, std::min(column + columns - 1, usedLastColumn));
    return span;
}

// The workbook interface of a worksheet's parent; empty when the parent refuses it.
DispatchPtr workbookOf(IDispatch* worksheet) {
    DispatchPtr parent = xl::parent(worksheet);
    DispatchPtr workbook;
    if (!parent) return workbook;
    HRESULT hr = parent->QueryInterface(xl::kWorkbookInterfaceIid, workbook.putVoid());
    if (hr == E_NOINTERFACE) return DispatchPtr();
    if (FAILED(hr)) throw _com_error(hr);
    return workbook;
}

}  // namespace

AppEventHandler* AppEventHandler::create() { return new AppEventHandler; }

AppEventHandler::AppEventHandler() {
    lockModule();
    platform::countComObject(1);
}

AppEventHandler::~AppEventHandler() {
    platform::countComObject(-1);
    unlockModule();
}

HRESULT AppEventHandler::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IAppEventHandler || riid == IID_IDispatch)
        *object = static_cast<IAppEventHandler*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG AppEventHandler::AddRef() { return static_cast<ULONG>(++refCount); }

ULONG AppEventHandler::Release() {
    const LONG left = --refCount;
    if (left == 0) {
        // The application goes without a word: whoever ends the subscription calls
        // Disable first.
        excelApp.reset();
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT AppEventHandler::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT AppEventHandler::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeInfo> described;
    if (HRESULT hr = handlerTypeInfo(described); FAILED(hr)) return hr;
    *info = described.detach();
    return S_OK;
}

HRESULT AppEventHandler::GetIDsOfNames(REFIID, const std::u16string* names, UINT count, LCID, DISPID* ids) {
    ComPtr<ITypeInfo> described;
    if (HRESULT hr = handlerTypeInfo(described); FAILED(hr)) return hr;
    return described->GetIDsOfNames(names, count, ids);
}

HRESULT AppEventHandler::Invoke(DISPID dispid, WORD flags, std::span<const Variant> args, Variant* result,
                                EXCEPINFO* excepInfo) {
    ComPtr<ITypeInfo> described;
    if (HRESULT hr = handlerTypeInfo(described); FAILED(hr)) return hr;
    return described->Invoke(static_cast<platform::IDescribedMethods*>(this), dispid, flags, args, result, excepInfo);
}

HRESULT AppEventHandler::callDescribedMethod(UINT methodIndex, std::span<const Variant>, Variant*) {
    // In the order the interface declares them.
    switch (methodIndex) {
    case 0:
        return Enable();
    case 1:
        return Disable();
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT AppEventHandler::Enable() {
    ComPtr<IUnknown> running;
    if (HRESULT hr = GetActiveObject(CLSID_SpreadsheetApplication, nullptr, running.put()); FAILED(hr)) return hr;
    DispatchPtr application;
    if (HRESULT hr = running->QueryInterface(IID_IDispatch, application.putVoid()); FAILED(hr)) return hr;
    excelApp = std::move(application);
    // An application without a point for its events runs without a subscription:
    // nothing will be queued, and nothing needs saying.
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (FAILED(excelApp->QueryInterface(IConnectionPointContainer::iid, container.putVoid()))) return S_OK;
    if (FAILED(container->FindConnectionPoint(DIID_AppEvents, point.put()))) return S_OK;
    DWORD cookie = kNotSubscribed;
    if (SUCCEEDED(point->Advise(&sink_, &cookie))) eventCookie = cookie;
    return S_OK;
}

HRESULT AppEventHandler::Disable() {
    if (!excelApp) return S_OK;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(excelApp->QueryInterface(IConnectionPointContainer::iid, container.putVoid())) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_AppEvents, point.put())))
        point->Unadvise(eventCookie);
    eventCookie = kNotSubscribed;
    excelApp.reset();
    return S_OK;
}

void AppEventHandler::onSheetChange(IDispatch*, IDispatch* target) {
    ResourceScope scope;
    try {
        DispatchPtr worksheet = xl::worksheet(target);
        const LONG column = xl::column(target);
        const LONG row = xl::row(target);
        DispatchPtr workbook = workbookOf(worksheet.get());
        if (!worksheet || !workbook) throw _com_error(E_POINTER);
        auto workbookName = std::make_shared<const std::u16string>(xl::name(workbook.get()));
        auto sheetName = std::make_shared<const std::u16string>(xl::name(worksheet.get()));
        const CellSpan span = cellsToQueue(target, worksheet.get(), row, column);
        ChangeQueue& queue = changeQueue();
        for (LONG r = span.firstRow; r <= span.lastRow; ++r)
            for (LONG c = span.firstColumn; c <= span.lastColumn; ++c)
                queue.append(
                    ChangedCell{static_cast<std::int32_t>(c), static_cast<std::int32_t>(r), sheetName, workbookName});
    } catch (const _com_error& error) {
        MessageBoxA(nullptr, comErrorText(error).c_str(), resourceStrings().load(4).c_str(), MB_OK);
    } catch (const std::bad_alloc&) {
        // The queue keeps what it could take; an event handler must not unwind into
        // the application that called it.
    }
}

HRESULT AppEventHandler::EventSink::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != DIID_AppEvents && riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

HRESULT AppEventHandler::EventSink::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT AppEventHandler::EventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT AppEventHandler::EventSink::GetIDsOfNames(REFIID, const std::u16string*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT AppEventHandler::EventSink::Invoke(DISPID dispid, WORD, std::span<const Variant> args, Variant*, EXCEPINFO*) {
    // The application declares the changed sheet first, then the changed range.
    if (dispid == kDispidSheetChange) owner_.onSheetChange(dispatchArgument(args, 0), dispatchArgument(args, 1));
    return S_OK;
}

}  // namespace tabro
