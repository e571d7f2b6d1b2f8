// The sheet model underneath the automation objects: cell storage, displayed text
// of numbers, column fitting and sheet naming rules.
#include "sheet/Automation.h"
#include "sheet/Book.h"
#include "sheet/xlsx/Package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

namespace sheet {
namespace {

TEST(CellModelTest, GeneralNumbersDisplayAsTheApplicationShowsThem) {
    struct Case {
        double value;
        const char* shown;
    } cases[] = {{0, "0"},
                 {7, "7"},
                 {-1500, "-1500"},
                 {12.5, "12.5"},
                 {0.1 + 0.2, "0.3"},
                 {1.0 / 3, "0.333333333"},
                 {123456789012.0, "1.23457E+11"},
                 {1e-12, "1E-12"},
                 {99999999999.0, "99999999999"},
                 {-0.000001, "-0.000001"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.shown);
        EXPECT_EQ(displayNumber(k.value), k.shown);
    }
}

TEST(CellModelTest, TextReadsAsANumberOnlyWhenItIsOne) {
    struct Case {
        std::u16string text;
        std::optional<double> number;
    } cases[] = {{u"007", 7},  {u" -1.5e3 ", -1500}, {u"12.5", 12.5}, {u".5", 0.5},   {u"1,000", {}}, {u"12,5", {}},
                 {u"7 m", {}}, {u"inf", {}},         {u"nan", {}},    {u"1e999", {}}, {u"", {}},      {u"+", {}},
                 {u"1e", {}},  {u"0x10", {}},        {u"1.2.3", {}},  {u"\u0661", {}}};
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.text.begin(), k.text.end()));
        EXPECT_EQ(parseGeneralNumber(k.text), k.number);
    }
}

TEST(CellModelTest, SheetNamesFollowTheApplicationsRules) {
    struct Case {
        std::u16string name;
        bool ok;
    } cases[] = {{u"Sheet1", true},
                 {u"DOOR-A", true},
                 {std::u16string(31, u'x'), true},
                 {std::u16string(32, u'x'), false},
                 {u"", false},
                 {u"a:b", false},
                 {u"a\\b", false},
                 {u"a/b", false},
                 {u"a?b", false},
                 {u"a*b", false},
                 {u"[a", false},
                 {u"a]", false},
                 {u"'a", false},
                 {u"History", false},
                 {u"Ünïcödé", true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.name.begin(), k.name.end()));
        EXPECT_EQ(sheetNameProblem(k.name).empty(), k.ok);
    }
    EXPECT_TRUE(sameNameIgnoringCase(u"Door", u"dOOR"));
    EXPECT_TRUE(sameNameIgnoringCase(u"Änderung", u"äNDERUNG"));
    EXPECT_FALSE(sameNameIgnoringCase(u"Door", u"Doors"));
}

TEST(CellModelTest, CellsInsertInColumnOrderAndOverwrite) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    sheet->setText(3, 5, u"e");
    sheet->setNumber(3, 2, 2);
    sheet->setText(3, 9, u"i");
    sheet->setNumber(3, 5, 5);
    ASSERT_EQ(sheet->rows().size(), 1u);
    EXPECT_EQ(sheet->rows()[0].row, 3);
    const auto& row = sheet->rows()[0].cells;
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0].column, 2);
    EXPECT_EQ(row[1].column, 5);
    EXPECT_EQ(row[1].kind, CellKind::Number);
    EXPECT_EQ(row[2].column, 9);
    EXPECT_EQ(sheet->find(3, 4), nullptr);
    EXPECT_EQ(sheet->displayText(3, 9), u"i");
    sheet->clearValue(3, 9);
    EXPECT_EQ(sheet->displayText(3, 9), u"");
}

TEST(CellModelTest, RowsAreFoundWhateverOrderAndGapsTheyWereWrittenIn) {
    // Only rows holding cells are kept, found by position where the gaps allow and by
    // search elsewhere: every layout of gaps must find the same cells.
    struct Case {
        const char* what;
        std::vector<std::int32_t> rows;
    } cases[] = {{"top-down without gaps", {1, 2, 3, 4, 5, 6}},
                 {"gaps above only", {1048576, 40, 41, 42, 43}},
                 {"one gap between two tables", {1, 2, 3, 10, 11, 12}},
                 {"gaps everywhere, bottom-up", {900, 700, 500, 300, 100, 7, 3}},
                 {"rows above the first", {50, 49, 51, 1, 2, 48}}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Book book(u"Book1");
        auto sheet = book.insertSheet(0, u"Sheet1");
        std::set<std::int32_t> written;
        for (std::int32_t r : k.rows) {
            sheet->setNumber(r, 2, r);
            written.insert(r);
        }
        ASSERT_EQ(sheet->rows().size(), written.size());
        EXPECT_TRUE(std::is_sorted(sheet->rows().begin(), sheet->rows().end(),
                                   [](const auto& a, const auto& b) { return a.row < b.row; }));
        EXPECT_EQ(sheet->maxRow(), *written.rbegin());
        for (std::int32_t r = 0; r <= *written.rbegin() + 1; ++r) {
            const Cell* c = sheet->find(r, 2);
            ASSERT_EQ(c != nullptr, written.count(r) == 1) << "row " << r;
            if (c) {
                EXPECT_EQ(c->number, r);
            }
        }
    }
}

double widthAfterFit(Sheet& sheet, int column) {
    sheet.autoFit(1, 16384);
    const LineFormat* f = sheet.columnFormat(column);
    return f ? f->width : -1;
}

TEST(CellModelTest, AutoFitTracksTheWidestTextAndShrinksWhenItGoes) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    sheet->setText(1, 1, u"short");
    double narrow = widthAfterFit(*sheet, 1);
    sheet->setText(2, 1, u"a considerably longer text");
    double wide = widthAfterFit(*sheet, 1);
    EXPECT_GT(wide, narrow + 10);
    sheet->setText(2, 1, u"tiny");
    EXPECT_EQ(widthAfterFit(*sheet, 1), narrow);
    sheet->setNumber(3, 2, 123456789012.0);  // shown as 1.23457E+11, 11 characters
    sheet->setText(4, 2, u"1234567890");
    EXPECT_EQ(widthAfterFit(*sheet, 2), widthAfterFit(*sheet, 1) + 6);  // "short" is 5
}

TEST(CellModelTest, ALoadedSheetFitsItsColumnsAsTheSheetItWasSavedFrom) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    sheet->setText(1, 1, u"short");
    const double narrow = widthAfterFit(*sheet, 1);
    sheet->setText(2, 1, u"a considerably longer text");
    sheet->setNumber(3, 2, 123456789012.0);
    const double wide = widthAfterFit(*sheet, 1), number = widthAfterFit(*sheet, 2);
    const std::string file = xlsx::writePackage(book);

    // Fitting only: the loaded texts and numbers count.
    auto loaded = xlsx::readPackage(file, u"again");
    Sheet& fitted = *loaded->sheets()[0];
    fitted.setText(1, 3, u"abc");
    EXPECT_EQ(widthAfterFit(fitted, 1), wide);
    EXPECT_EQ(widthAfterFit(fitted, 2), number);
    EXPECT_LT(widthAfterFit(fitted, 3), narrow);
    // Replacing the widest loaded text: it no longer counts.
    auto again = xlsx::readPackage(file, u"again");
    Sheet& replaced = *again->sheets()[0];
    replaced.setText(2, 1, u"tiny");
    EXPECT_EQ(widthAfterFit(replaced, 1), narrow);
    // Every text counted once: with all of them one character long, so is the column.
    replaced.setText(1, 1, u"y");
    replaced.setText(2, 1, u"x");
    fitted.setText(1, 1, u"z");
    fitted.setText(2, 1, u"w");
    EXPECT_EQ(widthAfterFit(replaced, 1), widthAfterFit(fitted, 1));
    EXPECT_LT(widthAfterFit(replaced, 1), widthAfterFit(fitted, 3));
}

TEST(CellModelTest, ACharacterOutsideTheBasicPlaneCountsOnceForItsColumn) {
    // Two faces and a letter are three characters in five code units; the first
    // half of a pair standing alone counts as one.
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    sheet->setText(1, 1, u"\U0001F600\U0001F600a");
    sheet->setText(1, 2, u"abc");
    sheet->setText(1, 3, std::u16string(u"ab") + char16_t(0xD800) + u"cd\U0001F600");
    sheet->setText(1, 4, u"abcde");
    EXPECT_EQ(widthAfterFit(*sheet, 1), widthAfterFit(*sheet, 2));
    EXPECT_EQ(widthAfterFit(*sheet, 3), widthAfterFit(*sheet, 4) + 1);
    // A loaded sheet counts its texts the same way.
    auto loaded = xlsx::readPackage(xlsx::writePackage(book), u"again");
    Sheet& again = *loaded->sheets()[0];
    for (int column = 1; column <= 2; ++column) EXPECT_EQ(widthAfterFit(again, column), widthAfterFit(*sheet, 1));
}

TEST(CellModelTest, ABlockIsFormattedAndWrittenCellByCellAsIfEachWereAlone) {
    // A block over cells of different formats, a row with a format of its own, a
    // column with one, cells missing and a row missing: every cell of the block gets
    // the change of the format it had (or would have had), cells beside it none.
    auto build = [](Book& book) {
        auto sheet = book.insertSheet(0, u"Sheet1");
        const std::uint32_t bold = book.styles.withBold(0, true);
        sheet->setText(2, 2, u"plain");
        sheet->setText(2, 3, u"bold");
        sheet->setStyle(2, 3, bold);
        sheet->setNumber(2, 9, 9);  // right of the block
        sheet->restyle(4, 1, 4, kMaxColumns, true, false, [&](std::uint32_t) { return bold; });
        sheet->setNumber(4, 3, 43);
        sheet->restyle(1, 4, kMaxRows, 4, false, true,
                       [&](std::uint32_t old) { return book.styles.withFormatCode(old, "0.00"); });
        sheet->setNumber(6, 2, 62);  // row 5 has nothing
        return sheet;
    };
    Book blockBook(u"Block"), cellBook(u"Cells");
    auto block = build(blockBook);
    auto cells = build(cellBook);
    int changes = 0;
    block->restyle(2, 2, 6, 5, false, false, [&](std::uint32_t old) {
        ++changes;
        return blockBook.styles.withFormatCode(old, "@");
    });
    // One change per distinct format, not per cell.
    EXPECT_LE(changes, 6);
    for (std::int32_t r = 2; r <= 6; ++r)
        for (std::int32_t c = 2; c <= 5; ++c)
            cells->setStyle(r, c, cellBook.styles.withFormatCode(cells->styleAt(r, c), "@"));
    // Then values across the block and the row below it, as the cursor of a row
    // assigns them, skipping columns in one row: emptied cells that did not exist
    // stay missing.
    for (std::int32_t r = 2; r <= 7; ++r) {
        Sheet::RowCursor cursor(*block, r);
        for (std::int32_t c = 2; c <= 5; c += (r == 3 ? 2 : 1)) {
            if (c == 5) {
                cursor.clearValue(c);
                cells->clearValue(r, c);
            } else {
                cursor.setText(c, u"12");
                cells->setText(r, c, u"12");
            }
        }
    }
    ASSERT_EQ(block->rows().size(), cells->rows().size());
    for (std::size_t i = 0; i < block->rows().size(); ++i) {
        const auto& a = block->rows()[i];
        const auto& b = cells->rows()[i];
        SCOPED_TRACE(a.row);
        ASSERT_EQ(a.row, b.row);
        ASSERT_EQ(a.cells.size(), b.cells.size());
        for (std::size_t k = 0; k < a.cells.size(); ++k) {
            SCOPED_TRACE(a.cells[k].column);
            EXPECT_EQ(a.cells[k].column, b.cells[k].column);
            EXPECT_EQ(a.cells[k].kind, b.cells[k].kind);
            EXPECT_EQ(blockBook.styles.formatCode(a.cells[k].style), cellBook.styles.formatCode(b.cells[k].style));
            EXPECT_EQ(blockBook.styles.isBold(a.cells[k].style), cellBook.styles.isBold(b.cells[k].style));
            EXPECT_EQ(block->displayText(a.cells[k]), cells->displayText(b.cells[k]));
        }
    }
    EXPECT_EQ(block->find(7, 5), nullptr);
    EXPECT_EQ(block->find(2, 9)->style, 0u);
    EXPECT_EQ(block->find(2, 4)->kind, CellKind::Text);
}

TEST(CellModelTest, AFittedColumnOfAVeryLongTextIsAsWideAsAFileAllowsAndReadsBack) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    sheet->setText(1, 1, std::u16string(300, u'x'));
    EXPECT_EQ(widthAfterFit(*sheet, 1), 255.0);
    auto again = xlsx::readPackage(xlsx::writePackage(book), u"again");
    ASSERT_TRUE(again);
    const LineFormat* f = again->sheets()[0]->columnFormat(1);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 255.0);
}

TEST(CellModelTest, AutoFitCostDoesNotGrowWithRows) {
    Book book(u"Book1");
    auto sheet = book.insertSheet(0, u"Sheet1");
    auto timeFits = [&] {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 2000; ++i) sheet->autoFit(1, 16384);
        return std::chrono::steady_clock::now() - start;
    };
    for (int r = 1; r <= 1000; ++r)
        for (int c = 1; c <= 17; ++c) sheet->setText(r, c, u"value");
    auto small = timeFits();
    for (int r = 1001; r <= 20000; ++r)
        for (int c = 1; c <= 17; ++c) sheet->setText(r, c, u"value");
    auto large = timeFits();
    // Twenty times the rows; a fit that looked at cells would take about twenty
    // times as long. Generous bound against timing noise.
    EXPECT_LT(large, small * 5 + std::chrono::milliseconds(20));
}

TEST(CellModelTest, NewSheetNamesCountOnFromTheHighestSheetNumber) {
    Book book(u"Book1");
    book.insertSheet(0, u"Sheet1");
    book.insertSheet(1, u"sheet3");
    book.insertSheet(2, u"DOOR");
    EXPECT_EQ(book.nextSheetName(), u"Sheet4");
    book.insertSheet(0, u"Sheet5");
    EXPECT_EQ(book.nextSheetName(), u"Sheet6");
}

}  // namespace
}  // namespace sheet
