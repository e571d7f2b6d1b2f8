// What the working drawing makes of a text an import would write into an attribute:
// by its version and code page, and the host's longest line.
#include "module/drawing/DrawingText.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/DrawingFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace tabro {
namespace {

std::string drawing(const std::string& version, const std::string& codePage) {
    const char* tags[] = {
        "0", "SECTION",        "2", "HEADER",    "9", "$ACADVER", "1", version.c_str(), "9", "$DWGCODEPAGE",
        "3", codePage.c_str(), "9", "$HANDSEED", "5", "100",      "0", "ENDSEC",        "0", "EOF"};
    std::string text;
    for (const char* t : tags) text += std::string(t) + "\n";
    return text;
}

class DrawingTextTest : public ::testing::Test {
protected:
    void use(const std::string& version, const std::string& codePage = "ANSI_1252") {
        DrawingOpenResult opened = openDrawingText(drawing(version, codePage), "text.dxf");
        ASSERT_TRUE(opened) << opened.error;
        scope_.reset();
        db_ = std::move(opened.database);
        scope_.emplace(db_.get());
    }
    std::unique_ptr<AcDbDatabase> db_;
    std::optional<WorkingDatabaseScope> scope_;
};

const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600, beyond the BMP

TEST_F(DrawingTextTest, TextThatFitsIsHeldAsItIs) {
    use("AC1015");
    for (const std::string& text : {std::string("D-101"), std::string(""), std::string("T\xC3\xBCr \xE2\x82\xAC 5"),
                                    std::string("\xE4\xB8\xAD") + kGrin, std::string(40000, 'x')}) {
        std::string stored = "?";
        TextFit fit = fitAttributeText(text, &stored);
        EXPECT_FALSE(fit.isCut);
        EXPECT_FALSE(fit.isReplaced);
        EXPECT_EQ(stored, text);
    }
}

// An emoji reaches an R2000 drawing of code page 1252 as the escapes of its two
// surrogates and an R2018 one as UTF-8: both hold it. Only bytes that are no UTF-8
// come back otherwise, and are named once each.
TEST_F(DrawingTextTest, OnlyWhatNoEncodingCarriesIsReplaced) {
    for (const char* version : {"AC1015", "AC1032"}) {
        SCOPED_TRACE(version);
        use(version);
        std::string stored;
        TextFit fit = fitAttributeText("smile " + kGrin, &stored);
        EXPECT_FALSE(fit.isReplaced);
        EXPECT_EQ(stored, "smile " + kGrin);

        fit = fitAttributeText(
            "a\xFF"
            "b\xFF"
            "c\xFE" +
                kGrin,
            &stored);
        EXPECT_TRUE(fit.isReplaced);
        EXPECT_FALSE(fit.isCut);
        EXPECT_EQ(fit.replaced, "<FF><FE>");
        EXPECT_EQ(stored,
                  "a\xEF\xBF\xBD"
                  "b\xEF\xBF\xBD"
                  "c\xEF\xBF\xBD" +
                      kGrin);
    }
}

// The host opens no file with a line longer than kMostTextBytes: a text whose form in
// the file would be longer is cut at a whole character, counted in characters. An
// emoji takes 14 bytes in R2000 (two escapes) and 4 in R2018.
TEST_F(DrawingTextTest, TextLongerThanTheFileCarriesIsCutAtAWholeCharacter) {
    std::string text;
    for (int i = 0; i < 300000; ++i) text += kGrin;
    const struct {
        const char* version;
        std::size_t bytesEach;
    } cases[] = {{"AC1015", 14}, {"AC1032", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        use(c.version);
        std::string stored;
        TextFit fit = fitAttributeText(text, &stored);
        const std::size_t kept = AcDbDatabase::kMostTextBytes / c.bytesEach;
        EXPECT_TRUE(fit.isCut);
        EXPECT_FALSE(fit.isReplaced);
        EXPECT_EQ(fit.keptCharacters, kept);
        EXPECT_EQ(stored, text.substr(0, kept * kGrin.size()));
    }
    // Plain text is cut at the limit's byte.
    use("AC1015");
    std::string stored;
    TextFit fit = fitAttributeText(std::string(AcDbDatabase::kMostTextBytes + 1, 'x'), &stored);
    EXPECT_TRUE(fit.isCut);
    EXPECT_EQ(fit.keptCharacters, AcDbDatabase::kMostTextBytes);
    EXPECT_EQ(stored.size(), AcDbDatabase::kMostTextBytes);
    EXPECT_FALSE(fitAttributeText(std::string(AcDbDatabase::kMostTextBytes, 'x')).isCut);
}

}  // namespace
}  // namespace tabro
