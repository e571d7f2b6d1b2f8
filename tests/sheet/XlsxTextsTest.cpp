// Cell texts and notes through a save and a read: every kind of character comes
// back as it went in, whichever way the writer takes for it, and notes added in
// any order are listed in cell order, their shapes in the drawing beside them.
#include "sheet/Automation.h"
#include "sheet/Book.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/Zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sheet::xlsx {
namespace {

std::string partEndingWith(const std::string& archive, std::string_view suffix) {
    ZipReader zip(archive, ReadLimits{});
    for (const auto& n : zip.names())
        if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            return zip.read(n);
    return {};
}

TEST(XlsxTextsTest, TextsAndNotesOfEveryKindReadBackAsWritten) {
    struct Case {
        const char* what;
        std::u16string text;
        std::u16string readBack;  // empty: the text itself
    } cases[] = {
        {"plain", u"Door 12", {}},
        {"leading space", u" x", {}},
        {"trailing space", u"x ", {}},
        {"tab", u"\tx", {}},
        {"line break", u"a\nb", {}},
        {"markup characters", u"<a & b>", {}},
        {"an escape spelled out", u"_x0041_", {}},
        {"an underscore alone", u"a_b", {}},
        {"a control character", u"a\x01z", {}},
        {"a carriage return", u"a\rb", {}},
        {"accented", u"caf\u00e9", {}},
        {"beyond the basic plane", u"\U0001F600 x", {}},
        {"a lone surrogate half", std::u16string(u"a") + char16_t(0xD800), u"a\uFFFD"},
        {"the last printable ASCII", u"~}|{", {}},
        {"delete", u"a\x7F", {}},
        {"the two non-characters XML leaves out", u"a\uFFFE\uFFFFz", {}},
    };
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    std::int32_t row = 1;
    for (const auto& k : cases) {
        sheet->setText(row, 1, k.text);
        sheet->setComment(row, 2, Comment{k.text, u"tabro"});
        ++row;
    }
    auto back = readPackage(writePackage(book), u"Book1.xlsx");
    const Sheet& read = *back->sheets()[0];
    row = 1;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        const std::u16string& expected = k.readBack.empty() ? k.text : k.readBack;
        EXPECT_EQ(read.displayText(row, 1), expected);
        const Comment* c = read.comment(row, 2);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->text, expected);
        ++row;
    }
}

TEST(XlsxTextsTest, NotesAddedInAnyOrderAreListedInCellOrderInBothParts) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    // Bottom-up, right to left, replaced, removed and added again.
    const std::vector<std::pair<std::int32_t, std::int32_t>> cells{{900, 3},   {900, 1},     {12, 7}, {12, 2},
                                                                   {1, 16384}, {1048576, 1}, {5, 5}};
    for (auto [r, c] : cells) sheet->setComment(r, c, Comment{u"first", u"tabro"});
    sheet->setComment(12, 7, Comment{u"replaced", u"someone"});
    sheet->removeComment(5, 5);
    sheet->setComment(3, 3, Comment{u"late", u"tabro"});
    const std::string archive = writePackage(book);

    const std::vector<std::pair<std::int32_t, std::int32_t>> ordered{{1, 16384}, {3, 3},   {12, 2},     {12, 7},
                                                                     {900, 1},   {900, 3}, {1048576, 1}};
    const std::string notes = partEndingWith(archive, "comments1.xml");
    const std::string drawing = partEndingWith(archive, ".vml");
    std::size_t inNotes = 0, inDrawing = 0;
    for (auto [r, c] : ordered) {
        SCOPED_TRACE(cellRefText(r, c));
        const std::size_t note = notes.find("<comment ref=\"" + cellRefText(r, c) + "\"");
        ASSERT_NE(note, std::string::npos);
        EXPECT_GT(note, inNotes);
        inNotes = note;
        const std::size_t shape = drawing.find("<x:Row>" + std::to_string(r - 1) + "</x:Row><x:Column>" +
                                               std::to_string(c - 1) + "</x:Column>");
        ASSERT_NE(shape, std::string::npos);
        EXPECT_GT(shape, inDrawing);
        inDrawing = shape;
    }
    EXPECT_EQ(notes.find("E5"), std::string::npos);
    // Two authors, each named once and referred to by number.
    EXPECT_NE(notes.find("<authors><author>tabro</author><author>someone</author></authors>"), std::string::npos);
    EXPECT_NE(notes.find("<comment ref=\"G12\" authorId=\"1\">"), std::string::npos);
    EXPECT_NE(notes.find("<comment ref=\"B12\" authorId=\"0\">"), std::string::npos);

    auto back = readPackage(archive, u"Book1.xlsx");
    const Sheet& read = *back->sheets()[0];
    EXPECT_EQ(read.comments().size(), ordered.size());
    EXPECT_EQ(read.comment(12, 7)->text, u"replaced");
    EXPECT_EQ(read.comment(12, 7)->author, u"someone");
    EXPECT_EQ(read.comment(5, 5), nullptr);
}

}  // namespace
}  // namespace sheet::xlsx
