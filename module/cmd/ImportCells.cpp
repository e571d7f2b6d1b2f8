// The spreadsheet reads import makes, by dispatch id.
#include "module/cmd/ImportCells.h"

#include "platform/ClassRegistry.h"
#include "platform/ComError.h"
#include "platform/Text.h"

#include <cstdlib>

namespace tabro::importcells {

namespace {

constexpr DISPID kActiveWorkbook = 0x134;
constexpr DISPID kActiveSheet = 0x133;
constexpr DISPID kWorkbooks = 0x23C;
constexpr DISPID kWorksheets = 0x1EE;
constexpr DISPID kCount = 0x76;
constexpr DISPID kItem = 0xAA;
constexpr DISPID kName = 0x6E;
constexpr DISPID kCells = 0xEE;
constexpr DISPID kValue = 6;
constexpr DISPID kText = 0x8A;
constexpr DISPID kComment = 0x38E;

ComPtr<IDispatch> object(const Variant& v) { return ComPtr<IDispatch>(v.pdispVal()); }

ComPtr<IDispatch> required(const Variant& v) {
    ComPtr<IDispatch> p = object(v);
    if (!p) throw _com_error(E_POINTER);
    return p;
}

Variant get(IDispatch* target, DISPID id) { return platform::invoke(target, id, DISPATCH_PROPERTYGET); }

}  // namespace

HRESULT attachApp(ComPtr<IDispatch>& app) {
    app.reset();
    CLSID clsid{};
    if (HRESULT hr = CLSIDFromProgID(u"Excel.Application", &clsid); FAILED(hr)) return hr;
    ComPtr<IUnknown> running;
    if (HRESULT hr = GetActiveObject(clsid, nullptr, running.put()); FAILED(hr)) return hr;
    if (!running) return E_POINTER;
    return running.queryInterface(app);
}

ComPtr<IDispatch> activeWorkbook(IDispatch* app) { return object(get(app, kActiveWorkbook)); }
ComPtr<IDispatch> activeSheet(IDispatch* appOrBook) { return object(get(appOrBook, kActiveSheet)); }
ComPtr<IDispatch> workbooks(IDispatch* app) { return required(get(app, kWorkbooks)); }
ComPtr<IDispatch> worksheets(IDispatch* book) { return required(get(book, kWorksheets)); }

std::int32_t count(IDispatch* collection) {
    Variant n = get(collection, kCount);
    if (n.vt() == VT_I4) return n.lVal();
    if (n.vt() == VT_I2) return n.iVal();
    Variant converted;
    if (HRESULT hr = platform::VariantChangeType(converted, n, 0, VT_I4); FAILED(hr)) throw _com_error(hr);
    return converted.lVal();
}

ComPtr<IDispatch> item(IDispatch* collection, std::int32_t index) {
    return required(platform::invoke(collection, kItem, DISPATCH_PROPERTYGET, {Variant::i4(index)}));
}

std::u16string name(IDispatch* bookOrSheet) { return toTextStrict(get(bookOrSheet, kName)); }

ComPtr<IDispatch> cells(IDispatch* worksheet) { return required(get(worksheet, kCells)); }

ComPtr<IDispatch> cell(IDispatch* cells, std::int32_t row, std::int32_t column) {
    return required(platform::invoke(cells, kItem, DISPATCH_PROPERTYGET, {Variant::i4(row), Variant::i4(column)}));
}

Variant value(IDispatch* cell) { return get(cell, kValue); }
Variant displayed(IDispatch* cell) { return get(cell, kText); }

std::optional<std::u16string> commentText(IDispatch* cell) {
    ComPtr<IDispatch> comment = object(get(cell, kComment));
    if (!comment) return std::nullopt;
    return toTextStrict(platform::invoke(comment.get(), kText, DISPATCH_METHOD));
}

bool toTextLenient(Variant& value, std::u16string& text) {
    if (value.vt() != VT_BSTR && FAILED(platform::VariantChangeType(value, value, 0, VT_BSTR))) return false;
    text = value.bstrVal();
    return true;
}

std::u16string toTextStrict(const Variant& value) {
    if (value.vt() == VT_BSTR) return value.bstrVal();
    Variant text;
    if (HRESULT hr = platform::VariantChangeType(text, value, 0, VT_BSTR); FAILED(hr)) throw _com_error(hr);
    return text.bstrVal();
}

void toNumber(const Variant& value, double& target) {
    switch (value.vt()) {
    case VT_R8: target = value.dblVal(); break;
    case VT_R4: target = value.fltVal(); break;
    case VT_I2: target = value.iVal(); break;
    case VT_I4: target = value.lVal(); break;
    // The module runs with "." as decimal point, so atof reads what export wrote.
    case VT_BSTR: target = std::atof(toMultibyte(value.bstrVal()).c_str()); break;
    default: break;
    }
}

std::string toMultibyte(const std::u16string& text) {
    std::optional<std::string> converted = platform::toMultiByte(text);
    if (!converted) throw _com_error(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    return std::move(*converted);
}

std::u16string toWide(const std::string& text) {
    std::optional<std::u16string> converted = platform::toWide(text);
    if (!converted) throw _com_error(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    return std::move(*converted);
}

}  // namespace tabro::importcells
