#include "module/spreadsheet/CellBlock.h"

#include "platform/ComError.h"

namespace tabro {

using platform::Variant;

CellBlock::CellBlock(LONG rows, LONG columns) {
    const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
    value_ = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
    if (!value_.isArray()) throw _com_error(E_OUTOFMEMORY);
}

Variant& CellBlock::at(LONG row, LONG column) {
    const LONG index[2] = {row, column};
    Variant* element = nullptr;
    const HRESULT hr = platform::SafeArrayPtrOfIndex(value_.parray(), index, &element);
    if (FAILED(hr)) throw _com_error(hr);
    return *element;
}

std::optional<CellValues> CellValues::from(Variant value, LONG rows, LONG columns) {
    if (value.vt() != (VT_ARRAY | VT_VARIANT) || platform::SafeArrayGetDim(value.parray()) != 2) return std::nullopt;
    LONG low[2] = {}, high[2] = {};
    for (UINT d = 0; d < 2; ++d)
        if (FAILED(platform::SafeArrayGetLBound(value.parray(), d + 1, &low[d])) ||
            FAILED(platform::SafeArrayGetUBound(value.parray(), d + 1, &high[d])))
            return std::nullopt;
    if (static_cast<std::int64_t>(high[0]) - low[0] + 1 != rows ||
        static_cast<std::int64_t>(high[1]) - low[1] + 1 != columns)
        return std::nullopt;
    CellValues values(std::move(value));
    values.rowBase_ = low[0];
    values.columnBase_ = low[1];
    return values;
}

const Variant& CellValues::at(LONG row, LONG column) const {
    const LONG index[2] = {rowBase_ + row - 1, columnBase_ + column - 1};
    Variant* element = nullptr;
    const HRESULT hr = platform::SafeArrayPtrOfIndex(value_.parray(), index, &element);
    if (FAILED(hr)) throw _com_error(hr);
    return *element;
}

}  // namespace tabro
