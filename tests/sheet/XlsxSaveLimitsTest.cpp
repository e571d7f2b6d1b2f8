// Saving never produces a workbook our own reader refuses: notes are written compactly
// enough for a sheet full of them to be read again, and a save that would still pass
// one of the reader's limits fails, naming it, before anything is written.
#include "sheet/Book.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/Zip.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

namespace sheet::xlsx {
namespace {

std::size_t occurrences(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

TEST(XlsxSaveLimitsTest, TheNotesDrawingTakesAFewHundredBytesANoteAndReadsBack) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    constexpr int kNotes = 3000;
    // Spread over the whole grid, so that row and column numbers have all their digits.
    auto rowOf = [](int i) { return 1 + i * 349; };
    auto columnOf = [](int i) { return 1 + (i * 5477) % 16384; };
    for (int i = 0; i < kNotes; ++i) sheet->setComment(rowOf(i), columnOf(i), Comment{u"1AF0", u"tabro"});
    std::string bytes = writePackage(book);

    ZipReader zip(bytes, ReadLimits{});
    std::string vml;
    for (const auto& n : zip.names())
        if (n.size() > 4 && n.substr(n.size() - 4) == ".vml") vml = zip.read(n);
    ASSERT_FALSE(vml.empty());
    EXPECT_EQ(occurrences(vml, "ObjectType=\"Note\""), static_cast<std::size_t>(kNotes));
    // A million notes must stay well within the 512 MB a part may hold to be read.
    EXPECT_LT(vml.size(), kNotes * 320u + 2048u) << vml.size() / kNotes << " bytes a note";
    const int last = kNotes - 1;
    EXPECT_NE(vml.find("<x:Row>" + std::to_string(rowOf(last) - 1) + "</x:Row><x:Column>" +
                       std::to_string(columnOf(last) - 1) + "</x:Column>"),
              std::string::npos);

    auto back = readPackage(bytes, u"Book1.xlsx");
    EXPECT_EQ(back->sheets()[0]->comments().size(), static_cast<std::size_t>(kNotes));
    const Comment* c = back->sheets()[0]->comment(rowOf(last), columnOf(last));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->text, u"1AF0");
}

// The most sheets Worksheets.Add makes, each with notes (four parts: the sheet, its
// relationships, the notes and their drawing), are a file the reader takes.
TEST(XlsxSaveLimitsTest, TheMostSheetsWithNotesOpenAgain) {
    Book book(u"Book1");
    for (std::uint64_t i = 0; i < kMostSheets; ++i) {
        const std::string name = "S" + std::to_string(i);
        auto s = book.insertSheet(book.sheets().size(), std::u16string(name.begin(), name.end()));
        s->setComment(1, 1, Comment{u"1AF0", u"tabro"});
    }
    const std::string bytes = writePackage(book);
    auto back = readPackage(bytes, u"Book1.xlsx");
    ASSERT_EQ(back->sheets().size(), kMostSheets);
    EXPECT_EQ(back->sheets().back()->comments().size(), 1u);
}

TEST(XlsxSaveLimitsTest, AWorkbookThatWouldNotOpenAgainIsNotWritten) {
    auto manySheetsWithANote = [](Book& book) {
        // Each sheet with notes is four parts (sheet, its relationships, notes,
        // drawing): 20 of them pass 60 parts.
        for (int i = 0; i < 20; ++i) {
            const std::string name = "S" + std::to_string(i);
            auto s = book.insertSheet(book.sheets().size(), std::u16string(name.begin(), name.end()));
            s->setComment(1, 1, Comment{u"1AF0", u"tabro"});
        }
    };
    auto longNotes = [](Book& book) {
        auto s = book.insertSheet(0, u"Sheet1");
        for (int r = 1; r <= 2000; ++r) s->setComment(r, 1, Comment{std::u16string(200, u'n'), u"tabro"});
    };
    auto sheets = [](Book& book) {
        for (char16_t c : std::u16string(u"ABC")) book.insertSheet(book.sheets().size(), std::u16string(1, c));
    };
    auto numbers = [](Book& book) {
        auto s = book.insertSheet(0, u"Sheet1");
        for (int r = 1; r <= 5000; ++r) s->setNumber(r, 1, r * 7919.0 / 13);
    };
    ReadLimits fewParts, smallParts, fewSheets, smallFile, littleMemory;
    fewParts.maxEntries = 60;
    smallParts.maxEntryBytes = 256u << 10;
    fewSheets.maxSheets = 2;
    smallFile.maxFileBytes = 8u << 10;
    littleMemory.maxBookMemoryBytes = 64u << 10;
    struct Case {
        const char* what;
        std::function<void(Book&)> fill;
        ReadLimits limits;
        const char* message;
    } cases[] = {
        {"more parts than a file may have", manySheetsWithANote, fewParts, "more than the 60 parts"},
        {"a part larger than one may be", longNotes, smallParts, "xl/comments1.xml would hold 1 MB"},
        {"more sheets than a book may have", sheets, fewSheets, "3 sheets, more than the 2"},
        {"a larger file than may be read", numbers, smallFile, "the file would have"},
        {"more memory than a book may take", numbers, littleMemory, "of memory"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Book book(u"Book1");
        k.fill(book);
        std::string message = "<written>";
        try {
            std::string bytes = writePackage(book, k.limits);
            // Whatever is written must open again.
            readPackage(bytes, u"Book1.xlsx", k.limits);
        } catch (const XlsxError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find(k.message), std::string::npos) << message;
        EXPECT_NE(message.find("would not open again"), std::string::npos) << message;
    }
}

}  // namespace
}  // namespace sheet::xlsx
