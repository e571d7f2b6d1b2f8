// Variant conversion: number text in the user's locale, text to numbers, ranges.
#include "platform/Variant.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using platform::Variant;

// Sets the environment's locale variables for a test and restores them.
class UserLocale {
public:
    explicit UserLocale(const char* numeric) {
        for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
            const char* v = std::getenv(var);
            saved_.push_back({var, v ? std::optional<std::string>(v) : std::nullopt});
            unsetenv(var);
        }
        setenv("LC_NUMERIC", numeric, 1);
    }
    ~UserLocale() {
        for (auto& [var, value] : saved_) {
            if (value)
                setenv(var, value->c_str(), 1);
            else
                unsetenv(var);
        }
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

std::u16string text(const Variant& v, USHORT flags = 0) {
    Variant out;
    HRESULT hr = platform::VariantChangeType(out, v, flags, VT_BSTR);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(out.vt(), VT_BSTR);
    return out.bstrVal();
}

std::string utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(VariantChangeType, NumbersToTextInTheNeutralLocale) {
    UserLocale locale("C");
    struct Case {
        Variant value;
        std::u16string expected;
    };
    const Case cases[] = {
        {Variant::r8(12.5), u"12.5"},
        {Variant::r8(0.1), u"0.1"},
        {Variant::r8(1e21), u"1E+21"},
        {Variant::r8(-0.0), u"0"},
        {Variant::r8(1.0 / 3.0), u"0.333333333333333"},  // 15 significant digits
        {Variant::r8(123456789012345.0), u"123456789012345"},
        {Variant::r8(0.00001), u"1E-05"},
        {Variant::r8(-2.0), u"-2"},
        {Variant::r4(0.1f), u"0.1"},  // a float shows its own 7 digits, not the double's
        {Variant::i2(-32768), u"-32768"},
        {Variant::i4(2147483647), u"2147483647"},
        {Variant(), u""},
        {Variant::boolean(true), u"-1"},
        {Variant::boolean(false), u"0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.expected));
        EXPECT_EQ(text(c.value), c.expected);
    }
    EXPECT_EQ(text(Variant::boolean(true), VARIANT_ALPHABOOL), u"True");
    EXPECT_EQ(text(Variant::boolean(false), VARIANT_ALPHABOOL), u"False");
}

TEST(VariantChangeType, UsesTheUserLocaleNotTheProcessNumericLocale) {
    UserLocale locale("de_DE.UTF-8");
    locale_t de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (!de)
        GTEST_SKIP() << "locale de_DE.UTF-8 not installed (package 'locales': localedef -i de_DE -f UTF-8 de_DE.UTF-8)";
    freelocale(de);
    EXPECT_EQ(text(Variant::r8(12.5)), u"12,5");
    EXPECT_EQ(text(Variant::r8(1e21)), u"1E+21");
    Variant number;
    ASSERT_EQ(platform::VariantChangeType(number, Variant::bstr(u"12,5"), 0, VT_R8), S_OK);
    EXPECT_EQ(number.dblVal(), 12.5);
    // "." groups thousands in this locale; group separators are refused rather than
    // read as 125.
    EXPECT_EQ(platform::VariantChangeType(number, Variant::bstr(u"12.5"), 0, VT_R8), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, MissingUserLocaleFallsBackToNeutral) {
    UserLocale locale("xx_NOWHERE.UTF-8");
    EXPECT_EQ(text(Variant::r8(12.5)), u"12.5");
}

TEST(VariantChangeType, TextToNumbers) {
    UserLocale locale("C");
    struct Case {
        std::u16string input;
        VARTYPE vt;
        HRESULT hr;
        double expected;
    };
    const Case cases[] = {
        {u"12.5", VT_R8, S_OK, 12.5},
        {u"  -3e2 ", VT_R8, S_OK, -300},
        {u"+.5", VT_R4, S_OK, 0.5},
        {u"2.5", VT_I4, S_OK, 2},  // half to even
        {u"3.5", VT_I2, S_OK, 4},
        {u"32767", VT_I2, S_OK, 32767},
        {u"32768", VT_I2, DISP_E_OVERFLOW, 0},
        {u"-2147483649", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1e39", VT_R4, DISP_E_OVERFLOW, 0},
        {u"1e400", VT_R8, DISP_E_OVERFLOW, 0},
        {u"", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"abc", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"7 m", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"1.2.3", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"12,5", VT_R8, DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.input));
        Variant out = Variant::i4(99);
        HRESULT hr = platform::VariantChangeType(out, Variant::bstr(c.input), 0, c.vt);
        EXPECT_EQ(hr, c.hr);
        if (hr == S_OK) {
            EXPECT_EQ(out.vt(), c.vt);
            Variant asDouble;
            ASSERT_EQ(platform::VariantChangeType(asDouble, out, 0, VT_R8), S_OK);
            EXPECT_EQ(asDouble.dblVal(), c.expected);
        } else {
            EXPECT_EQ(out.lVal(), 99) << "destination must be unchanged on failure";
        }
    }
}

TEST(VariantChangeType, BetweenNumbersAndBooleans) {
    struct Case {
        const char* name;
        Variant value;
        VARTYPE vt;
        HRESULT hr;
    };
    const Case cases[] = {
        {"I4 to I2 overflow", Variant::i4(40000), VT_I2, DISP_E_OVERFLOW},
        {"R8 to I4 overflow", Variant::r8(3e9), VT_I4, DISP_E_OVERFLOW},
        {"R8 to R4 overflow", Variant::r8(1e300), VT_R4, DISP_E_OVERFLOW},
        {"I2 to R8", Variant::i2(-7), VT_R8, S_OK},
        {"empty to I4", Variant(), VT_I4, S_OK},
        {"error to text", Variant::error(static_cast<SCODE>(0x800A07E7)), VT_BSTR, DISP_E_TYPEMISMATCH},
        {"error to number", Variant::error(DISP_E_PARAMNOTFOUND), VT_R8, DISP_E_TYPEMISMATCH},
        {"null to text", Variant::null(), VT_BSTR, DISP_E_TYPEMISMATCH},
        {"to currency", Variant::r8(1), VT_CY, DISP_E_TYPEMISMATCH},
        {"to nonsense type", Variant::r8(1), 99, DISP_E_BADVARTYPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Variant out;
        EXPECT_EQ(platform::VariantChangeType(out, c.value, 0, c.vt), c.hr);
    }
    Variant b;
    ASSERT_EQ(platform::VariantChangeType(b, Variant::r8(0.25), 0, VT_BOOL), S_OK);
    EXPECT_EQ(b.boolVal(), VARIANT_TRUE);
    ASSERT_EQ(platform::VariantChangeType(b, Variant::bstr(u"false"), 0, VT_BOOL), S_OK);
    EXPECT_EQ(b.boolVal(), VARIANT_FALSE);
    ASSERT_EQ(platform::VariantChangeType(b, Variant::boolean(true), 0, VT_I2), S_OK);
    EXPECT_EQ(b.iVal(), -1);
    // In place: dest may be src.
    Variant v = Variant::r8(2.0);
    ASSERT_EQ(platform::VariantChangeType(v, v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(v.bstrVal(), u"2");
}

TEST(VariantChangeType, DatesToTextInTheUnitedStatesFormAndToNumbers) {
    struct Case {
        double date;
        std::u16string expected;
    };
    const Case cases[] = {
        {45444.0, u"6/1/2024"},                         // a date alone
        {0.520833333333333, u"12:30:00 PM"},            // a time alone, rounded to the second
        {45444.520833333333, u"6/1/2024 12:30:00 PM"},  // both
        {0.0, u"12:00:00 AM"},                          // day 0 at midnight is a time
        {2.0, u"1/1/1900"},                             // no 29 February 1900 here
        {61.0, u"3/1/1900"},
        {-1.25, u"12/29/1899 6:00:00 AM"},  // the fraction of a negative date counts forward
        {36526.99999999, u"1/2/2000"},      // a second's rounding carries into the next day
        {2958465.5, u"12/31/9999 12:00:00 PM"},
        {-657434.0, u"1/1/100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        EXPECT_EQ(utf8(text(Variant::date(c.date))), utf8(c.expected));
    }
    Variant out;
    EXPECT_EQ(platform::VariantChangeType(out, Variant::date(2958466.0), 0, VT_BSTR), E_INVALIDARG);
    ASSERT_EQ(platform::VariantChangeType(out, Variant::date(45444.75), 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal(), 45444.75);
    ASSERT_EQ(platform::VariantChangeType(out, Variant::date(45444.75), 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal(), 45445);
    ASSERT_EQ(platform::VariantChangeType(out, Variant::r8(45444.5), 0, VT_DATE), S_OK);
    EXPECT_EQ(out.vt(), VT_DATE);
    EXPECT_EQ(out.date(), 45444.5);
    EXPECT_EQ(platform::VariantChangeType(out, Variant::r8(3e6), 0, VT_DATE), DISP_E_OVERFLOW);
    EXPECT_EQ(platform::VariantChangeType(out, Variant::bstr(u"6/1/2024"), 0, VT_DATE), DISP_E_TYPEMISMATCH);
}

TEST(VariantDates, CivilDatesAndDayNumbersAgreeBothWays) {
    for (long long day : {-657434LL, -1LL, 0LL, 1LL, 59LL, 60LL, 61LL, 1462LL, 45444LL, 2958465LL}) {
        SCOPED_TRACE(day);
        EXPECT_EQ(platform::dayOfCivilDate(platform::civilDateOfDay(day)), day);
    }
    const platform::CivilDate leap = platform::civilDateOfDay(45351);  // 2024-02-29
    EXPECT_EQ(leap.year, 2024);
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    EXPECT_EQ(platform::dayOfCivilDate({1904, 1, 1}), 1462);
}

}  // namespace
