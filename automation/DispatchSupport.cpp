// Argument readers and the translation of member failures into result codes.
#include "automation/DispatchSupport.h"

#include "automation/Utf.h"

#include <cmath>
#include <new>
#include <stdexcept>

namespace automation {

void failWith(HRESULT code) { throw DispatchFailure{code, {}}; }
void applicationError(std::string description) { throw DispatchFailure{DISP_E_EXCEPTION, std::move(description)}; }
std::string quoted(const std::u16string& name) {
    if (name.size() <= kQuotedCharacters) return "'" + utf16ToUtf8(name) + "'";
    // Whole characters only: a surrogate pair is not split.
    std::size_t cut = kQuotedCharacters;
    if (name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) --cut;
    return "'" + utf16ToUtf8(name.substr(0, cut)) + "...'";
}

std::string quoted(std::string_view utf8) { return quoted(utf8ToUtf16(utf8)); }

HRESULT translateCurrentException(EXCEPINFO* excepInfo, const std::u16string& source) {
    std::string description;
    try {
        throw;
    } catch (const DispatchFailure& f) {
        if (f.description.empty()) return f.code;
        description = f.description;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        description = e.what();
    } catch (...) {
        return E_UNEXPECTED;
    }
    if (excepInfo) {
        excepInfo->wCode = 0;
        excepInfo->bstrSource = source;
        excepInfo->bstrDescription = utf8ToUtf16(description);
        excepInfo->scode = kApplicationError;
    }
    return DISP_E_EXCEPTION;
}

bool isKind(WORD flags, Kind kind) {
    switch (kind) {
    case Kind::Get:
        return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0 && !(flags & DISPATCH_PROPERTYPUT);
    case Kind::Put:
        return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    case Kind::Method:
        return (flags & DISPATCH_METHOD) != 0;
    }
    return false;
}

void Args::expect(std::size_t min, std::size_t max) const {
    if (args_.size() < min || args_.size() > max) failWith(DISP_E_BADPARAMCOUNT);
}

std::int32_t Args::integer(std::size_t i) const {
    if (i >= args_.size()) failWith(DISP_E_PARAMNOTOPTIONAL);
    const auto& v = args_[i];
    switch (v.vt()) {
    case VT_I2:
        return v.iVal();
    case VT_I4:
        return v.lVal();
    case VT_R4:
    case VT_R8: {
        double d = v.vt() == VT_R4 ? v.fltVal() : v.dblVal();
        if (!std::isfinite(d) || d < -2147483648.0 || d > 2147483647.0) failWith(DISP_E_OVERFLOW);
        // The application rounds a fractional index, as automation conversions do.
        return static_cast<std::int32_t>(std::nearbyint(d));
    }
    case VT_BOOL:
        return v.boolVal() ? -1 : 0;
    default:
        if (v.isMissing()) failWith(DISP_E_PARAMNOTOPTIONAL);
        failWith(DISP_E_TYPEMISMATCH);
    }
}

std::u16string Args::text(std::size_t i) const {
    if (i >= args_.size() || args_[i].isMissing()) failWith(DISP_E_PARAMNOTOPTIONAL);
    if (args_[i].vt() != VT_BSTR) failWith(DISP_E_TYPEMISMATCH);
    return args_[i].bstrVal();
}

bool Args::boolean(std::size_t i) const {
    if (i >= args_.size() || args_[i].isMissing()) failWith(DISP_E_PARAMNOTOPTIONAL);
    const auto& v = args_[i];
    switch (v.vt()) {
    case VT_BOOL:
        return v.boolVal() != 0;
    case VT_I2:
        return v.iVal() != 0;
    case VT_I4:
        return v.lVal() != 0;
    case VT_R4:
        return v.fltVal() != 0;
    case VT_R8:
        return v.dblVal() != 0;
    default:
        failWith(DISP_E_TYPEMISMATCH);
    }
}

}  // namespace automation
