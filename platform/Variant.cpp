// Variant conversion. Text is written and read in the user's own locale, the one
// the environment names, because that is what the platform's conversion does even
// when the program has set an English numeric locale for itself.
#include "platform/Variant.h"

#include "platform/Text.h"

#include <langinfo.h>
#include <locale.h>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// Switches the calling thread to a locale for a scope.
class ThreadLocaleScope {
public:
    explicit ThreadLocaleScope(locale_t locale) : previous_(uselocale(locale)) {}
    ~ThreadLocaleScope() { uselocale(previous_); }
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

private:
    locale_t previous_;
};

locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

std::string userLocaleName() {
    for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return value;
    }
    return "C";
}

// The user's locale, made again when the environment names another one. Locales
// once made are kept for the life of the process: another thread may still be
// formatting with one, and there are only ever a few names.
struct MadeLocales : std::vector<std::pair<std::string, locale_t>> {
    // Freed only when the process ends, when no thread formats any more.
    ~MadeLocales() {
        for (auto& [name, l] : *this)
            if (l != cLocale()) freelocale(l);
    }
};

locale_t userLocale() {
    static std::mutex mutex;
    static MadeLocales made;
    std::string name = userLocaleName();
    std::lock_guard lock(mutex);
    for (auto& [n, l] : made)
        if (n == name) return l;
    locale_t l = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (!l) l = cLocale();  // not installed: the neutral locale
    made.emplace_back(name, l);
    return l;
}

// The user's decimal separator as UTF-16. Only ASCII and UTF-8 locales give a
// separator beyond ".": others fall back to ".".
std::u16string decimalSeparator() {
    locale_t l = userLocale();
    const char* radix = nl_langinfo_l(RADIXCHAR, l);
    if (!radix || !*radix) return u".";
    std::string_view text(radix);
    bool isAscii = true;
    for (unsigned char c : text) isAscii = isAscii && c < 0x80;
    if (isAscii) return std::u16string(text.begin(), text.end());
    std::string codeSet = nl_langinfo_l(CODESET, l);
    if (codeSet == "UTF-8" || codeSet == "utf8")
        if (auto wide = utf8ToWide(text)) return *wide;
    return u".";
}

std::u16string ascii(const char* text) {
    std::u16string out;
    for (const char* p = text; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
    return out;
}

// Up to `digits` significant digits, shortest form, exponent as "E+21"/"E-07";
// the decimal point is the user's.
std::u16string formatReal(double value, int digits) {
    if (std::isnan(value)) return u"1.#QNAN";
    if (std::isinf(value)) return value < 0 ? u"-1.#INF" : u"1.#INF";
    char buffer[64];
    {
        ThreadLocaleScope scope(cLocale());
        std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
    }
    std::u16string text = ascii(buffer);
    if (text == u"-0") return u"0";
    std::size_t point = text.find(u'.');
    if (point != std::u16string::npos) text.replace(point, 1, decimalSeparator());
    return text;
}

std::u16string formatInteger(long value) { return ascii(std::to_string(value).c_str()); }

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0; }

// A number in the user's locale: blanks around it, a sign, digits with one decimal
// separator, an exponent. Group separators are not accepted (a locale that groups
// with "." would otherwise read "12.5" as 125).
HRESULT parseNumber(const std::u16string& text, double& value) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    std::u16string sep = decimalSeparator();
    std::string number;
    bool hasDigits = false, hasPoint = false;
    std::size_t i = begin;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) number += static_cast<char>(text[i++]);
    while (i < end) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            number += static_cast<char>(c);
            hasDigits = true;
            ++i;
        } else if (!hasPoint && text.compare(i, sep.size(), sep) == 0) {
            number += '.';
            hasPoint = true;
            i += sep.size();
        } else {
            break;
        }
    }
    if (!hasDigits) return DISP_E_TYPEMISMATCH;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        number += 'E';
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) number += static_cast<char>(text[i++]);
        bool hasExponent = false;
        while (i < end && text[i] >= u'0' && text[i] <= u'9') {
            number += static_cast<char>(text[i++]);
            hasExponent = true;
        }
        if (!hasExponent) return DISP_E_TYPEMISMATCH;
    }
    if (i != end) return DISP_E_TYPEMISMATCH;
    ThreadLocaleScope scope(cLocale());
    errno = 0;
    double parsed = std::strtod(number.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(parsed)) return DISP_E_OVERFLOW;
    value = parsed;
    return S_OK;
}

bool equalsIgnoringCase(const std::u16string& a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? a[i] + 32 : a[i];
        char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? b[i] + 32 : b[i];
        if (x != y) return false;
    }
    return true;
}

// Numbers to integers round half to even, as the platform does (2.5 -> 2).
HRESULT toInteger(double value, double low, double high, long& out) {
    if (std::isnan(value)) return DISP_E_OVERFLOW;
    double rounded = std::nearbyint(value);
    if (rounded < low || rounded > high) return DISP_E_OVERFLOW;
    out = static_cast<long>(rounded);
    return S_OK;
}

bool isNumeric(VARTYPE vt) { return vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_R8 || vt == VT_BOOL; }

bool isDateInRange(double days) { return days >= kFirstDate && days < kDateEnd; }

// A date as the platform writes it for the United States: the date alone when the
// time is midnight, the time alone on day 0, else both; to the second, rounded.
HRESULT formatDate(double days, std::u16string& out) {
    if (!isDateInRange(days)) return E_INVALIDARG;
    auto day = static_cast<long long>(std::trunc(days));
    auto seconds = static_cast<long long>(std::llround(std::fabs(days - static_cast<double>(day)) * 86400.0));
    if (seconds >= 86400) {
        seconds = 0;
        day += days < 0 ? -1 : 1;
    }
    char buffer[64];
    int n = 0;
    if (day != 0) {
        const CivilDate d = civilDateOfDay(day);
        n = std::snprintf(buffer, sizeof buffer, "%d/%d/%d", d.month, d.day, d.year);
    }
    if (seconds != 0 || day == 0) {
        const long long hour = seconds / 3600;
        n += std::snprintf(buffer + n, sizeof buffer - static_cast<std::size_t>(n), "%s%lld:%02lld:%02lld %s",
                           n > 0 ? " " : "", hour % 12 == 0 ? 12 : hour % 12, seconds / 60 % 60, seconds % 60,
                           hour < 12 ? "AM" : "PM");
    }
    out = ascii(buffer);
    return S_OK;
}

double numericValue(const Variant& v) {
    switch (v.vt()) {
    case VT_I2:
        return v.iVal();
    case VT_I4:
        return v.lVal();
    case VT_R4:
        return v.fltVal();
    case VT_R8:
        return v.dblVal();
    case VT_BOOL:
        return v.boolVal();
    case VT_DATE:
        return v.date();
    default:
        return 0;
    }
}

HRESULT fromDouble(double value, VARTYPE vt, Variant& out) {
    long integer = 0;
    HRESULT hr = S_OK;
    switch (vt) {
    case VT_I2:
        hr = toInteger(value, SHRT_MIN, SHRT_MAX, integer);
        if (SUCCEEDED(hr)) out = Variant::i2(static_cast<SHORT>(integer));
        return hr;
    case VT_I4:
        hr = toInteger(value, INT32_MIN, INT32_MAX, integer);
        if (SUCCEEDED(hr)) out = Variant::i4(static_cast<LONG>(integer));
        return hr;
    case VT_R4:
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
        out = Variant::r4(static_cast<float>(value));
        return S_OK;
    case VT_R8:
        out = Variant::r8(value);
        return S_OK;
    case VT_BOOL:
        out = Variant::boolean(value != 0);
        return S_OK;
    case VT_DATE:
        if (!isDateInRange(value)) return DISP_E_OVERFLOW;
        out = Variant::date(value);
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT convert(const Variant& src, USHORT flags, VARTYPE vt, Variant& out) {
    switch (vt) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BSTR:
    case VT_BOOL:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
    case VT_NULL:
    case VT_DATE:
        break;
    case VT_CY:
    case VT_VARIANT:
        return DISP_E_TYPEMISMATCH;  // types this platform does not model
    default:
        return DISP_E_BADVARTYPE;
    }
    if (src.vt() == vt) {
        out = src;
        return S_OK;
    }
    if (vt == VT_EMPTY) {
        out.clear();
        return S_OK;
    }
    switch (src.vt()) {
    case VT_EMPTY:
        if (vt == VT_BSTR) {
            out = Variant::bstr(u"");
            return S_OK;
        }
        return fromDouble(0, vt, out);
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_DATE:
        if (vt == VT_BSTR) {
            switch (src.vt()) {
            case VT_I2:
                out = Variant::bstr(formatInteger(src.iVal()));
                break;
            case VT_I4:
                out = Variant::bstr(formatInteger(src.lVal()));
                break;
            case VT_R4:
                out = Variant::bstr(formatReal(src.fltVal(), 7));
                break;
            case VT_R8:
                out = Variant::bstr(formatReal(src.dblVal(), 15));
                break;
            case VT_DATE: {
                std::u16string text;
                if (HRESULT hr = formatDate(src.date(), text); FAILED(hr)) return hr;
                out = Variant::bstr(std::move(text));
                break;
            }
            default:
                if (flags & VARIANT_ALPHABOOL)
                    out = Variant::bstr(src.boolVal() ? u"True" : u"False");
                else
                    out = Variant::bstr(src.boolVal() ? u"-1" : u"0");
            }
            return S_OK;
        }
        return fromDouble(numericValue(src), vt, out);
    case VT_BSTR: {
        if (vt == VT_BOOL) {
            if (equalsIgnoringCase(src.bstrVal(), u"True")) {
                out = Variant::boolean(true);
                return S_OK;
            }
            if (equalsIgnoringCase(src.bstrVal(), u"False")) {
                out = Variant::boolean(false);
                return S_OK;
            }
        }
        // Reading a date from text takes the platform's whole date grammar, which
        // nothing here needs.
        if (!isNumeric(vt)) return DISP_E_TYPEMISMATCH;
        double value = 0;
        HRESULT hr = parseNumber(src.bstrVal(), value);
        if (FAILED(hr)) return hr;
        return fromDouble(value, vt, out);
    }
    case VT_DISPATCH: {
        if (vt == VT_UNKNOWN) {
            out = Variant::unknown(src.punkVal());
            return S_OK;
        }
        IDispatch* object = src.pdispVal();
        if ((flags & VARIANT_NOVALUEPROP) || !object || vt == VT_ERROR || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
        // An object converts through its default member, as the platform does.
        Variant value;
        HRESULT hr = object->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, {}, &value, nullptr);
        if (FAILED(hr)) return hr;
        if (value.vt() == VT_DISPATCH || value.vt() == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        return convert(value, flags | VARIANT_NOVALUEPROP, vt, out);
    }
    case VT_UNKNOWN: {
        if (vt != VT_DISPATCH || !src.punkVal()) return DISP_E_TYPEMISMATCH;
        ComPtr<IDispatch> object;
        HRESULT hr = src.punkVal()->QueryInterface(IID_IDispatch, object.putVoid());
        if (FAILED(hr)) return hr;
        out = Variant::dispatch(object.get());
        return S_OK;
    }
    default:  // VT_ERROR, VT_NULL
        return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

CivilDate civilDateOfDay(long long day) {
    // Days from 0000-03-01 in 400-year eras of 146,097 days; 1899-12-30 is day
    // 693,959 of them.
    const long long z = day + 693899;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;  // from March
    CivilDate d;
    d.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    d.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    d.year = static_cast<int>(yearOfEra + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

long long dayOfCivilDate(const CivilDate& date) {
    const long long year = date.year - (date.month <= 2 ? 1 : 0);
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 693899;
}

HRESULT VariantChangeType(Variant& dest, const Variant& src, USHORT flags, VARTYPE vt) {
    Variant out;
    HRESULT hr = convert(src, flags, vt, out);
    if (FAILED(hr)) return hr;
    dest = std::move(out);
    return S_OK;
}

}  // namespace platform
