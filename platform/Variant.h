// The automation variant: one value of a small set of types, owning its text and
// its object reference.
#pragma once

#include "platform/Dispatch.h"
#include "platform/SafeArray.h"
#include "platform/Unknown.h"

#include <string>
#include <utility>

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
};

// Flags of VariantChangeType.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;

namespace platform {

class Variant {
public:
    Variant() noexcept = default;
    Variant(const Variant& other) : vt_(other.vt_), num_(other.num_), text_(other.text_), object_(other.object_) {
        if (other.array_) array_ = copyArray(other.array_);
        if (object_) object_->AddRef();
    }
    Variant(Variant&& other) noexcept
        : vt_(std::exchange(other.vt_, VT_EMPTY)),
          num_(other.num_),
          text_(std::move(other.text_)),
          object_(std::exchange(other.object_, nullptr)),
          array_(std::exchange(other.array_, nullptr)) {}
    Variant& operator=(Variant other) noexcept {
        swap(other);
        return *this;
    }
    ~Variant() { clear(); }

    static Variant i2(SHORT v) { return number(VT_I2, Num{.i = v}); }
    static Variant i4(LONG v) { return number(VT_I4, Num{.i = v}); }
    static Variant r4(float v) { return number(VT_R4, Num{.f = v}); }
    static Variant r8(double v) { return number(VT_R8, Num{.d = v}); }
    static Variant boolean(bool v) { return number(VT_BOOL, Num{.i = v ? VARIANT_TRUE : VARIANT_FALSE}); }
    static Variant error(SCODE code) { return number(VT_ERROR, Num{.i = code}); }
    // An automation date: days since 1899-12-30, the time of day as the fraction.
    static Variant date(double days) { return number(VT_DATE, Num{.d = days}); }
    // The value of an omitted optional argument.
    static Variant missing() { return error(DISP_E_PARAMNOTFOUND); }
    static Variant null() { return number(VT_NULL, Num{}); }
    static Variant bstr(std::u16string text) {
        Variant v;
        v.vt_ = VT_BSTR;
        v.text_ = std::move(text);
        return v;
    }
    // Takes its own reference; a null object is a VT_DISPATCH holding null, as
    // servers return for "no such object".
    static Variant dispatch(IDispatch* object) { return withObject(VT_DISPATCH, object); }
    static Variant unknown(IUnknown* object) { return withObject(VT_UNKNOWN, object); }
    // VT_ARRAY | VT_VARIANT taking ownership of `owned` (destroyed with the variant);
    // a null array gives VT_EMPTY.
    static Variant array(SAFEARRAY* owned) {
        Variant v;
        if (!owned) return v;
        v.vt_ = VT_ARRAY | VT_VARIANT;
        v.array_ = owned;
        return v;
    }

    VARTYPE vt() const noexcept { return vt_; }
    bool isEmpty() const noexcept { return vt_ == VT_EMPTY; }
    bool isMissing() const noexcept { return vt_ == VT_ERROR && num_.i == DISP_E_PARAMNOTFOUND; }

    // Accessors read the member of the current type; reading another type's member
    // gives that member's zero.
    SHORT iVal() const noexcept { return vt_ == VT_I2 ? static_cast<SHORT>(num_.i) : 0; }
    LONG lVal() const noexcept { return vt_ == VT_I4 ? num_.i : 0; }
    float fltVal() const noexcept { return vt_ == VT_R4 ? num_.f : 0.0f; }
    double dblVal() const noexcept { return vt_ == VT_R8 ? num_.d : 0.0; }
    double date() const noexcept { return vt_ == VT_DATE ? num_.d : 0.0; }
    VARIANT_BOOL boolVal() const noexcept { return vt_ == VT_BOOL ? static_cast<VARIANT_BOOL>(num_.i) : 0; }
    SCODE scode() const noexcept { return vt_ == VT_ERROR ? num_.i : 0; }
    const std::u16string& bstrVal() const noexcept { return text_; }
    IDispatch* pdispVal() const noexcept { return vt_ == VT_DISPATCH ? static_cast<IDispatch*>(object_) : nullptr; }
    IUnknown* punkVal() const noexcept { return object_; }
    SAFEARRAY* parray() const noexcept { return array_; }
    bool isArray() const noexcept { return (vt_ & VT_ARRAY) != 0; }

    // VariantClear: back to VT_EMPTY, releasing text and object.
    void clear() noexcept {
        vt_ = VT_EMPTY;
        num_ = Num{};
        text_.clear();
        if (IUnknown* o = std::exchange(object_, nullptr)) o->Release();
        if (SAFEARRAY* a = std::exchange(array_, nullptr)) SafeArrayDestroy(a);
    }
    void swap(Variant& other) noexcept {
        std::swap(vt_, other.vt_);
        std::swap(num_, other.num_);
        text_.swap(other.text_);
        std::swap(object_, other.object_);
        std::swap(array_, other.array_);
    }

private:
    union Num {
        LONG i;
        float f;
        double d;
    };
    static Variant number(VARTYPE vt, Num n) {
        Variant v;
        v.vt_ = vt;
        v.num_ = n;
        return v;
    }
    static Variant withObject(VARTYPE vt, IUnknown* object) {
        Variant v;
        v.vt_ = vt;
        v.object_ = object;
        if (object) object->AddRef();
        return v;
    }

    VARTYPE vt_ = VT_EMPTY;
    Num num_{};
    std::u16string text_;
    IUnknown* object_ = nullptr;  // one reference owned for VT_DISPATCH and VT_UNKNOWN
    SAFEARRAY* array_ = nullptr;  // owned for VT_ARRAY
    // SafeArrayCopy, throwing std::bad_alloc when it fails: a copy constructor has no
    // other way to say so.
    static SAFEARRAY* copyArray(SAFEARRAY* array);
};

// The calendar of automation dates: day 0 is 1899-12-30 and days count on in the
// proleptic Gregorian calendar both ways. A negative date's fraction is still the
// time after its day's midnight (-1.25 is 1899-12-29 06:00). Dates run from the
// year 100 to the year 9999.
struct CivilDate {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
};
constexpr double kFirstDate = -657434.0;  // 0100-01-01
constexpr double kDateEnd = 2958466.0;    // 10000-01-01, the first day past the range
CivilDate civilDateOfDay(long long day);
long long dayOfCivilDate(const CivilDate& date);

// Converts src to type vt into dest (which may be src itself). Numbers become text
// in the user's own locale (the environment's, not the process's numeric locale);
// text becomes numbers by the same locale. Dates become text in the platform's
// United States form ("6/1/2024", "12:30:00 PM", "6/1/2024 12:30:00 PM") and
// numbers as their day count; text does not convert to a date. Fails with
// DISP_E_TYPEMISMATCH for values that cannot convert (an error value to text, for
// one) and DISP_E_OVERFLOW when a number does not fit (a date outside the range of
// dates among them); dest is unchanged on failure.
HRESULT VariantChangeType(Variant& dest, const Variant& src, USHORT flags, VARTYPE vt);

}  // namespace platform
