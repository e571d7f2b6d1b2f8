// Cell value conversion: numbers read with "." whatever the locale, texts made in
// the user's locale, and the code page conversions.
#include "module/spreadsheet/CellValue.h"

#include "platform/ComError.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using platform::Variant;

// Points the user's locale (what variant conversion formats with) at `name` for a
// scope, restoring the environment afterwards.
class UserLocale {
public:
    explicit UserLocale(const char* name) {
        if (const char* old = std::getenv("LC_ALL")) old_ = old;
        ::setenv("LC_ALL", name, 1);
    }
    ~UserLocale() {
        if (old_)
            ::setenv("LC_ALL", old_->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

private:
    std::optional<std::string> old_;
};

bool localeInstalled(const char* name) {
    locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (!l) return false;
    freelocale(l);
    return true;
}

TEST(CellValueTest, TextReadsAsTheLeadingNumber) {
    struct Case {
        const char* text;
        double initial;
        double expected;
    };
    const Case cases[] = {
        {"12.5", 0, 12.5},
        {"12,5", 0, 12},
        {" 7 m", 0, 7},
        {"\t\n-3.25e2x", 0, -325},
        {"abc", 5, 0},
        {"", 5, 0},
        {".5", 0, 0.5},
        {"5.", 0, 5},
        {"1e", 0, 1},
        {"1e+", 0, 1},
        {"+.e3", 5, 0},
        {"--1", 5, 0},
        {"0x10", 5, 0},
        {"inf", 5, 0},
        {"1.2.3", 0, 1.2},
        // Too large for a double: the target keeps its value rather than becoming
        // infinite.
        {"1e999", 1, 1},
        {"-1e999", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double target = c.initial;
        std::string text = c.text;
        tabro::toNumber(Variant::bstr(std::u16string(text.begin(), text.end())), target);
        EXPECT_DOUBLE_EQ(target, c.expected);
    }
}

TEST(CellValueTest, NumbersOfEveryTypeAndTheRestLeftAlone) {
    struct Case {
        const char* name;
        Variant value;
        double initial;
        double expected;
    };
    const Case cases[] = {
        {"R8", Variant::r8(12.5), 0, 12.5},
        {"R4", Variant::r4(0.25f), 0, 0.25},
        {"negative I2", Variant::i2(-5), 0, -5},
        {"I4", Variant::i4(100000), 0, 100000},
        {"empty coordinate", Variant(), 0, 0},
        {"empty scale", Variant(), 1, 1},
        {"error value", Variant::error(static_cast<SCODE>(0x800A07D7)), 1, 1},
        {"Boolean", Variant::boolean(true), 2, 2},
        {"null", Variant::null(), 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double target = c.initial;
        tabro::toNumber(c.value, target);
        EXPECT_DOUBLE_EQ(target, c.expected);
    }
}

TEST(CellValueTest, ValuesAsText) {
    UserLocale locale("C");
    struct Case {
        const char* name;
        Variant value;
        std::optional<std::u16string> expected;  // none: no text
    };
    const Case cases[] = {
        {"text", Variant::bstr(u"12,5 m"), u"12,5 m"},
        {"empty cell", Variant(), u""},
        {"number", Variant::r8(12.5), u"12.5"},
        {"integer", Variant::i4(-42), u"-42"},
        {"division by zero", Variant::error(static_cast<SCODE>(0x800A07D7)), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Variant inPlace = c.value;
        EXPECT_EQ(tabro::toTextInPlace(inPlace), c.expected.has_value());
        if (c.expected) {
            EXPECT_EQ(inPlace.vt(), VT_BSTR);
            EXPECT_EQ(inPlace.bstrVal(), *c.expected);
            EXPECT_EQ(tabro::toText(c.value), *c.expected);
        } else {
            EXPECT_EQ(inPlace.vt(), c.value.vt()) << "a failed lenient conversion leaves the value";
            try {
                tabro::toText(c.value);
                ADD_FAILURE() << "strict conversion did not throw";
            } catch (const _com_error& e) {
                EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
            }
        }
    }
}

TEST(CellValueTest, NumberHeldAsNumberInACommaLocale) {
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "cs_CZ.UTF-8"})
        if (localeInstalled(name)) {
            comma = name;
            break;
        }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
    UserLocale locale(comma);
    // The displayed text follows the user's locale, and the module's own reading
    // stops at the comma: a number need not survive the trip through text.
    std::u16string text = tabro::toText(Variant::r8(12.5));
    EXPECT_EQ(text, u"12,5");
    double target = 0;
    tabro::toNumber(Variant::bstr(text), target);
    EXPECT_DOUBLE_EQ(target, 12);
    tabro::toNumber(Variant::bstr(u"12.5"), target);
    EXPECT_DOUBLE_EQ(target, 12.5);
}

TEST(CellValueTest, CodePageRoundTrip) {
    std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (!std::setlocale(LC_CTYPE, "C.UTF-8") && !std::setlocale(LC_CTYPE, "en_US.UTF-8"))
        GTEST_SKIP() << "no UTF-8 locale";
    const std::u16string texts[] = {u"", u"Block A", u"\u010Cerpadlo \u00E9t\u00E9", u"\U0001F600",
                                    std::u16string(u"a\0b", 3)};
    for (const std::u16string& t : texts) {
        SCOPED_TRACE(std::string(t.begin(), t.end()));
        std::string mb = tabro::toMultibyte(t);
        EXPECT_EQ(tabro::toWide(mb), t);
    }
    EXPECT_EQ(tabro::toMultibyte(u"\u00E9"), "\xC3\xA9");
    std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(CellValueTest, SameTextIsExact) {
    struct Case {
        std::u16string a, b;
        bool same;
    };
    const Case cases[] = {
        {u"X", u"X", true},
        {u"X", u"x", false},
        {u"Pos", u"Pos ", false},
        {u"", u"", true},
        {u"e\u0301", u"\u00E9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a.begin(), c.a.end()));
        EXPECT_EQ(tabro::sameText(c.a, c.b), c.same);
    }
    std::u16string x = u"X";
    EXPECT_TRUE(tabro::sameText(static_cast<const std::u16string*>(nullptr), nullptr));
    EXPECT_FALSE(tabro::sameText(&x, nullptr));
    EXPECT_FALSE(tabro::sameText(nullptr, &x));
}

}  // namespace
