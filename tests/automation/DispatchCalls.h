// Calling the application's members by dispatch id as the module does, for tests of
// either spreadsheet: results, failures with what the application said, and blocks
// of values as two-dimensional arrays counting from 1.
#pragma once

#include "platform/ComError.h"
#include "platform/Dispatch.h"
#include "platform/SafeArray.h"
#include "platform/Variant.h"

#include <functional>
#include <initializer_list>
#include <string>

namespace automation::test {

using platform::ComPtr;
using platform::Variant;

constexpr HRESULT kApplicationFailure = static_cast<HRESULT>(0x800A03ECu);

inline Variant get(IDispatch* object, DISPID id, std::initializer_list<Variant> args = {}) {
    return platform::invoke(object, id, DISPATCH_PROPERTYGET, args);
}
inline ComPtr<IDispatch> object(IDispatch* object, DISPID id, std::initializer_list<Variant> args = {}) {
    return ComPtr<IDispatch>(get(object, id, args).pdispVal());
}
inline void put(IDispatch* object, DISPID id, const Variant& value) {
    platform::invoke(object, id, DISPATCH_PROPERTYPUT, {value});
}
inline Variant call(IDispatch* object, DISPID id, std::initializer_list<Variant> args = {}) {
    return platform::invoke(object, id, DISPATCH_METHOD, args);
}
// The result code of a call, with what the application said of it.
inline HRESULT failure(const std::function<void()>& act, std::u16string* description = nullptr) {
    try {
        act();
        return S_OK;
    } catch (const _com_error& e) {
        if (description) *description = e.Description();
        return e.Error();
    }
}
inline std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

inline Variant block(std::initializer_list<std::initializer_list<Variant>> rows) {
    const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows.size()), 1},
                                      {static_cast<ULONG>(rows.begin()->size()), 1}};
    Variant array = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
    LONG index[2] = {1, 1};
    for (const auto& row : rows) {
        index[1] = 1;
        for (const Variant& v : row) {
            platform::SafeArrayPutElement(array.parray(), index, &v);
            ++index[1];
        }
        ++index[0];
    }
    return array;
}
inline Variant element(const Variant& array, LONG row, LONG column) {
    LONG index[2] = {row, column};
    Variant v;
    platform::SafeArrayGetElement(array.parray(), index, &v);
    return v;
}
}  // namespace automation::test
