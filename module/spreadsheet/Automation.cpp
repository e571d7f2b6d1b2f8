// The spreadsheet members as single invokes.
#include "module/spreadsheet/Automation.h"

#include "module/spreadsheet/CellValue.h"
#include "platform/ComError.h"

namespace tabro::xl {
namespace {

using platform::Variant;

// Row and column numbers for Range.Item: 16-bit where asked and where they fit.
Variant coordinate(LONG n, CellIndex index) {
    if (index == CellIndex::Short && n >= -32768 && n <= 32767) return Variant::i2(static_cast<SHORT>(n));
    return Variant::i4(n);
}

LONG toLong(const Variant& v) {
    if (v.vt() == VT_I4) return v.lVal();
    Variant converted;
    HRESULT hr = platform::VariantChangeType(converted, v, 0, VT_I4);
    if (FAILED(hr)) throw _com_error(hr);
    return converted.lVal();
}

}  // namespace

Variant getProperty(IDispatch* object, DISPID id, std::initializer_list<Variant> args) {
    return platform::invoke(object, id, DISPATCH_PROPERTYGET, args);
}

void putProperty(IDispatch* object, DISPID id, const Variant& value) {
    // The value is lent for the call, not copied: a block of rows is one array of
    // thousands of texts.
    platform::invoke(object, id, DISPATCH_PROPERTYPUT, std::span<const Variant>(&value, 1));
}

Variant callMethod(IDispatch* object, DISPID id, std::initializer_list<Variant> args) {
    return platform::invoke(object, id, DISPATCH_METHOD, args);
}

DispatchPtr toDispatch(const Variant& value) {
    switch (value.vt()) {
    case VT_EMPTY:
    case VT_NULL:
        return {};
    case VT_DISPATCH:
        return DispatchPtr(value.pdispVal());
    case VT_UNKNOWN: {
        DispatchPtr result;
        if (IUnknown* unknown = value.punkVal()) {
            HRESULT hr = unknown->QueryInterface(IID_IDispatch, result.putVoid());
            if (FAILED(hr)) throw _com_error(hr);
        }
        return result;
    }
    default:
        throw _com_error(DISP_E_TYPEMISMATCH);
    }
}

DispatchPtr getObject(IDispatch* object, DISPID id, std::initializer_list<Variant> args) {
    return toDispatch(getProperty(object, id, args));
}

DispatchPtr activeWorkbook(IDispatch* app) { return getObject(app, dispid::ActiveWorkbook); }
DispatchPtr workbooks(IDispatch* app) { return getObject(app, dispid::Workbooks); }
DispatchPtr activeSheet(IDispatch* appOrWorkbook) { return getObject(appOrWorkbook, dispid::ActiveSheet); }
void setVisible(IDispatch* app, bool visible) { putProperty(app, dispid::Visible, Variant::boolean(visible)); }
void setInteractive(IDispatch* app, bool interactive) {
    putProperty(app, dispid::Interactive, Variant::boolean(interactive));
}

DispatchPtr addWorkbook(IDispatch* workbooksCollection) {
    return toDispatch(callMethod(workbooksCollection, dispid::Add, {Variant::missing()}));
}
DispatchPtr worksheets(IDispatch* workbook) { return getObject(workbook, dispid::Worksheets); }
DispatchPtr addWorksheet(IDispatch* worksheetsCollection) {
    return toDispatch(callMethod(worksheetsCollection, dispid::Add,
                                 {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()}));
}
LONG count(IDispatch* collection) { return toLong(getProperty(collection, dispid::Count)); }
DispatchPtr item(IDispatch* collection, LONG index) {
    return getObject(collection, dispid::Item, {Variant::i4(index)});
}

std::u16string name(IDispatch* object) { return toText(getProperty(object, dispid::Name)); }
void setName(IDispatch* object, const std::u16string& newName) {
    putProperty(object, dispid::Name, Variant::bstr(newName));
}
std::u16string fullName(IDispatch* workbook) { return toText(getProperty(workbook, dispid::FullName)); }
void activate(IDispatch* object) { callMethod(object, dispid::Activate); }

bool isReadOnly(IDispatch* workbook) {
    try {
        Variant v = getProperty(workbook, dispid::ReadOnly);
        return v.vt() == VT_BOOL && v.boolVal() != 0;
    } catch (const _com_error& e) {
        if (e.Error() == DISP_E_MEMBERNOTFOUND) return false;
        throw;
    }
}

DispatchPtr cells(IDispatch* worksheet) { return getObject(worksheet, dispid::Cells); }
DispatchPtr columns(IDispatch* worksheet) { return getObject(worksheet, dispid::Columns); }
DispatchPtr range(IDispatch* worksheet, const std::u16string& corner,
                  const std::optional<std::u16string>& otherCorner) {
    return getObject(worksheet, dispid::Range,
                     {Variant::bstr(corner), otherCorner ? Variant::bstr(*otherCorner) : Variant::missing()});
}

std::u16string cellAddress(LONG row, LONG column) {
    std::u16string letters;
    for (LONG c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (c - 1) % 26));
    std::u16string address = letters;
    for (char ch : std::to_string(row)) address.push_back(static_cast<char16_t>(ch));
    return address;
}

DispatchPtr area(IDispatch* worksheet, LONG top, LONG left, LONG bottom, LONG right) {
    return range(worksheet, cellAddress(top, left), cellAddress(bottom, right));
}

DispatchPtr usedRange(IDispatch* worksheet) { return getObject(worksheet, dispid::UsedRange); }
LONG sheetVisibility(IDispatch* worksheet) { return toLong(getProperty(worksheet, dispid::Visible)); }
void setSheetVisibility(IDispatch* worksheet, LONG visibility) {
    putProperty(worksheet, dispid::Visible, Variant::i4(visibility));
}
DispatchPtr rows(IDispatch* worksheetOrRange) { return getObject(worksheetOrRange, dispid::Rows); }
LONG lastUsedRow(IDispatch* worksheet) {
    DispatchPtr used = usedRange(worksheet);
    return row(used.get()) + count(rows(used.get()).get()) - 1;
}

LONG lastUsedColumn(IDispatch* worksheet) {
    DispatchPtr used = usedRange(worksheet);
    return column(used.get()) + count(columns(used.get()).get()) - 1;
}

DispatchPtr cell(IDispatch* cellsRange, LONG row, LONG column, CellIndex index) {
    return getObject(cellsRange, dispid::Item, {coordinate(row, index), coordinate(column, index)});
}

Variant value(IDispatch* range) { return getProperty(range, dispid::Value); }
void setValue(IDispatch* range, const Variant& newValue) { putProperty(range, dispid::Value, newValue); }
Variant text(IDispatch* range) { return getProperty(range, dispid::Text); }
DispatchPtr comment(IDispatch* range) { return getObject(range, dispid::Comment); }
DispatchPtr addComment(IDispatch* range, const std::u16string& commentText) {
    return toDispatch(callMethod(range, dispid::AddComment, {Variant::bstr(commentText)}));
}
DispatchPtr entireRow(IDispatch* range) { return getObject(range, dispid::EntireRow); }
DispatchPtr font(IDispatch* range) { return getObject(range, dispid::Font); }
void setNumberFormat(IDispatch* range, const std::u16string& format) {
    putProperty(range, dispid::NumberFormat, Variant::bstr(format));
}
void autoFit(IDispatch* range) { callMethod(range, dispid::AutoFit); }
LONG row(IDispatch* range) { return toLong(getProperty(range, dispid::Row)); }
LONG column(IDispatch* range) { return toLong(getProperty(range, dispid::Column)); }
DispatchPtr worksheet(IDispatch* range) { return getObject(range, dispid::Worksheet); }
DispatchPtr parent(IDispatch* object) { return getObject(object, dispid::Parent); }
MergeState mergeState(IDispatch* range) {
    Variant merged = getProperty(range, dispid::MergeCells);
    if (merged.vt() == VT_NULL) return MergeState::Some;
    if (merged.vt() == VT_BOOL) return merged.boolVal() != VARIANT_FALSE ? MergeState::All : MergeState::None;
    Variant converted;
    HRESULT hr = platform::VariantChangeType(converted, merged, 0, VT_BOOL);
    if (FAILED(hr)) throw _com_error(hr);
    return converted.boolVal() != VARIANT_FALSE ? MergeState::All : MergeState::None;
}
DispatchPtr mergeArea(IDispatch* cell) { return getObject(cell, dispid::MergeArea); }

void setWrapText(IDispatch* range, bool wrap) { putProperty(range, dispid::WrapText, Variant::boolean(wrap)); }
bool isWrapText(IDispatch* range) {
    Variant wrap = getProperty(range, dispid::WrapText);
    return wrap.vt() == VT_BOOL && wrap.boolVal() != VARIANT_FALSE;
}

void setBold(IDispatch* font, bool bold) { putProperty(font, dispid::Bold, Variant::boolean(bold)); }
bool isBold(IDispatch* font) {
    Variant bold = getProperty(font, dispid::Bold);
    return bold.vt() == VT_BOOL && bold.boolVal() != VARIANT_FALSE;
}

std::u16string commentText(IDispatch* comment) {
    return toText(callMethod(comment, dispid::Text, {Variant::missing(), Variant::missing(), Variant::missing()}));
}
void setCommentText(IDispatch* comment, const std::u16string& newText) {
    callMethod(comment, dispid::Text, {Variant::bstr(newText), Variant::missing(), Variant::missing()});
}
void deleteComment(IDispatch* comment) { callMethod(comment, dispid::Delete); }

}  // namespace tabro::xl
