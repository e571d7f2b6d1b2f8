// Multibyte <-> UTF-16 conversion and multibyte comparison under a chosen locale.
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <clocale>
#include <functional>
#include <string>

namespace {

// Sets LC_CTYPE for the test and restores it.
class CtypeLocale {
public:
    explicit CtypeLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        isAvailable_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    bool isAvailable() const { return isAvailable_; }

private:
    std::string previous_;
    bool isAvailable_ = false;
};

std::u16string wide(UINT codePage, const std::string& text, DWORD flags = 0) {
    int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n == 0) return u"<fail " + std::u16string(1, static_cast<char16_t>(u'0' + GetLastError() % 10)) + u">";
    std::u16string out(n, u'\0');
    EXPECT_EQ(n, MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), n));
    return out;
}

std::string narrow(UINT codePage, const std::u16string& text, BOOL* usedDefault = nullptr) {
    int n =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, usedDefault);
    if (n == 0) return "<fail>";
    std::string out(n, '\0');
    EXPECT_EQ(n, WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                                     usedDefault));
    return out;
}

TEST(Text, RoundTripsThroughUtf8Locale) {
    CtypeLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.isAvailable());
    const std::u16string cases[] = {
        u"Block A-12", u"Straße", u"Ærø · Ñandú", u"€ 12,50", u"日本語の図面", u"\U0001F600 outside the BMP", u"",
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(std::string(platform::wideToUtf8(text).value_or("?")));
        auto mb = platform::toMultiByte(text);
        ASSERT_TRUE(mb);
        EXPECT_EQ(*mb, *platform::wideToUtf8(text));
        EXPECT_EQ(platform::toWide(*mb), text);
        if (!text.empty()) {
            EXPECT_EQ(wide(CP_ACP, *mb), text);
        }
    }
}

TEST(Text, TerminatorIsCountedWhenLengthIsMinusOne) {
    CtypeLocale locale("C.UTF-8");
    const char* src =
        "Stra\xC3\x9F"
        "e";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0), 7);  // 6 characters + NUL
    OLECHAR buffer[7];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, src, -1, buffer, 7), 7);
    EXPECT_EQ(std::u16string(buffer), u"Straße");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"Straße", -1, nullptr, 0, nullptr, nullptr), 8);  // ß is 2 bytes
}

TEST(Text, ReportsFailuresAsThePlatformDoes) {
    CtypeLocale locale("C.UTF-8");
    OLECHAR small[3];
    char smallNarrow[3];
    struct Case {
        const char* name;
        std::function<int()> call;
        DWORD error;
    };
    const Case cases[] = {
        {"buffer too small", [&] { return MultiByteToWideChar(CP_ACP, 0, "abcd", -1, small, 3); },
         ERROR_INSUFFICIENT_BUFFER},
        {"narrow buffer too small",
         [&] { return WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, smallNarrow, 3, nullptr, nullptr); },
         ERROR_INSUFFICIENT_BUFFER},
        {"null source", [] { return MultiByteToWideChar(CP_ACP, 0, nullptr, -1, nullptr, 0); },
         ERROR_INVALID_PARAMETER},
        {"zero length", [] { return MultiByteToWideChar(CP_ACP, 0, "x", 0, nullptr, 0); }, ERROR_INVALID_PARAMETER},
        {"negative size", [&] { return MultiByteToWideChar(CP_ACP, 0, "x", 1, small, -2); }, ERROR_INVALID_PARAMETER},
        {"unknown code page", [] { return MultiByteToWideChar(12345, 0, "x", 1, nullptr, 0); },
         ERROR_INVALID_PARAMETER},
        {"invalid input, strict",
         [] { return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, nullptr, 0); },
         ERROR_NO_UNICODE_TRANSLATION},
        {"lone surrogate, strict",
         [] { return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xD800", 2, nullptr, 0, nullptr, nullptr); },
         ERROR_NO_UNICODE_TRANSLATION},
        {"default char with UTF-8", [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 0, "?", nullptr); },
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST(Text, InvalidMultibyteBecomesReplacementCharacterPerByte) {
    struct Case {
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},  // cut off at the end
        {"\xE2\x82"
         "x",
         u"\uFFFD\uFFFDx"},                       // truncated sequence: each byte replaced
        {"\x80\x80", u"\uFFFD\uFFFD"},            // stray continuation bytes
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate is not UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(wide(CP_UTF8, c.input), c.expected);
        EXPECT_FALSE(platform::utf8ToWide(c.input).has_value());
    }
}

TEST(Text, CharactersTheCodeSetLacksBecomeTheDefaultChar) {
    {
        CtypeLocale locale("C");  // plain ASCII
        BOOL usedDefault = FALSE;
        EXPECT_EQ(narrow(CP_ACP, u"Café 5€", &usedDefault), "Caf? 5?");
        EXPECT_TRUE(usedDefault);
        EXPECT_EQ(narrow(CP_ACP, u"plain", &usedDefault), "plain");
        EXPECT_FALSE(usedDefault);
        // A pair outside the BMP is one character, so one replacement.
        EXPECT_EQ(narrow(CP_ACP, u"x\U0001F600y"), "x?y");
        EXPECT_EQ(platform::toMultiByte(u"Grüße"), "Gr??e");
        EXPECT_FALSE(platform::toWide("Gr\xC3\xBC\xC3\x9F"
                                      "e")
                         .has_value());
        char out[8];
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"é", 1, out, 8, "#", nullptr), 1);
        EXPECT_EQ(out[0], '#');
    }
    // Numbered code pages go through iconv too.
    BOOL usedDefault = FALSE;
    EXPECT_EQ(narrow(1252, u"é€Ω", &usedDefault), "\xE9\x80?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(wide(1252, "\xE9\x80"), u"é€");
}

TEST(Text, LoneSurrogates) {
    CtypeLocale locale("C.UTF-8");
    EXPECT_EQ(narrow(CP_UTF8, u"a\xDC00z"), "a\xEF\xBF\xBDz");
    BOOL usedDefault = FALSE;
    EXPECT_EQ(narrow(CP_ACP, u"a\xD800", &usedDefault), "a?");
    EXPECT_TRUE(usedDefault);
    EXPECT_FALSE(platform::toMultiByte(u"a\xD800").has_value());
}

TEST(Text, MbsicmpFoldsCaseOfDecodedCharacters) {
    CtypeLocale locale("C.UTF-8");
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"Export", "EXPORT", 0}, {"export2", "EXPORT", 1},  // a proper prefix sorts first
        {"ÄRGER", "ärger", 0},                              // non-ASCII letters fold too
        {"Ärger", "Zebra", 1},                              // by code point: Ä (U+00C4) after z
        {"abc", "abd", -1},      {"", "", 0},
        {"", "a", -1},           {"\xFF", "\xFF", 0},  // invalid bytes still compare equal to themselves
        {"\xFF", "\xC3\xA4", 1},                       // and above ordinary characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        int r = _mbsicmp(reinterpret_cast<const unsigned char*>(c.a), reinterpret_cast<const unsigned char*>(c.b));
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
        int back = _mbsicmp(reinterpret_cast<const unsigned char*>(c.b), reinterpret_cast<const unsigned char*>(c.a));
        EXPECT_EQ((back > 0) - (back < 0), -c.sign);
    }
}

}  // namespace

TEST(Text, TrimTakesOnlyTheBlanksItIsGivenAndStaysInsideItsText) {
    EXPECT_EQ(platform::trim(" \tA b\t "), "A b");
    EXPECT_EQ(platform::trim(" A\r\n"), "A\r\n") << "blanks and tabs only, unless told";
    EXPECT_EQ(platform::trim(" A\r\n", " \t\r\n"), "A");
    // Text of blanks only trims to an empty view that still points into the text:
    // readers copy from data() whatever the length.
    const std::string_view blanks = "  \t ";
    const std::string_view none = platform::trim(blanks);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.data(), blanks.data() + blanks.size());
    EXPECT_EQ(platform::upper("tabro-Export 2"), "TABRO-EXPORT 2");
}
