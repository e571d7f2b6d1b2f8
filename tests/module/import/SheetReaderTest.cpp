// Reading worksheets back: the header row's rules, where a sheet ends, how cells
// become texts and numbers, exact markers and the order of the scale slots.
#include "ImportSheetFixture.h"

#include "host/db/AcDbDatabase.h"
#include "module/base/ResourceStrings.h"
#include "module/import/ImportReport.h"
#include "platform/ComError.h"

#include <clocale>
#include <cmath>
#include <numbers>

namespace tabro::testing {
namespace {

using platform::Variant;
using Texts = std::vector<std::string>;

// #DIV/0! as the application passes an error value.
const Variant kDivisionByZero = Variant::error(static_cast<SCODE>(0x800A07D7u));

class SheetReaderTest : public ImportSheetTest {
protected:
    // Multibyte text is the locale's code set, as after the module's start.
    void SetUp() override {
        previousLocale_ = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C.UTF-8");
        ImportSheetTest::SetUp();
    }
    void TearDown() override {
        ImportSheetTest::TearDown();
        std::setlocale(LC_ALL, previousLocale_.c_str());
    }
    std::string previousLocale_;
    // Angles are read in the working drawing's units: a new drawing's decimal degrees.
    AcDbDatabase drawing_;
    WorkingDatabaseScope scope_{&drawing_};
};

TEST_F(SheetReaderTest, HeaderNamesAttributeAndPropertyColumns) {
    putHeader(1, u"Block");
    putHeader(2, u"NUMBER");
    putHeader(3, u"X", u"#x");
    putHeader(4, u"Layout", u"#layout");  // read only to tell its edits: no tag
    putHeader(5, u"Layer", u"#layer");
    putHeader(6, u"Width");
    putComment(2, 1, u"2F4");
    putText(2, 1, u"DOOR");
    putText(2, 2, u"D-1");
    putText(2, 3, u"12.5");
    putText(2, 4, u"Model");
    putText(2, 5, u"A-DOOR");
    putText(2, 6, u"900");

    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 1u);
    const ImportRow& row = read.rows[0];
    EXPECT_EQ(row.handle, "2F4");
    EXPECT_EQ(row.tags, (Texts{"Block", "NUMBER", "Width"}));
    EXPECT_EQ(row.values, (Texts{"DOOR", "D-1", "900"}));
    EXPECT_EQ(row.positionCount, 1);
    EXPECT_EQ(row.position[0], 12.5);
    ASSERT_TRUE(row.layer.has_value());
    EXPECT_EQ(*row.layer, "A-DOOR");
    EXPECT_FALSE(row.hasRotation);
    EXPECT_EQ(row.scaleCount, 0);
}

// Empty header cells (a spacer, a cleared title) are skipped and do not end the
// header: every titled column up to the row's last one is read, and a marker column
// whose title is empty is still a property column.
TEST_F(SheetReaderTest, EmptyHeaderCellsAreSkippedNotTheEnd) {
    const struct {
        const char* name;
        int startColumn;
        Texts tags;
    } cases[] = {
        {"from column 1", 1, {"A", "B", "D", "E", "F", "H", "J"}},
        {"from column 4", 4, {"D", "E", "F", "H", "J"}},
        {"from column 8", 8, {"H", "J"}},
    };
    // Columns: A B (empty) D E F (empty) H (#x, empty title) J
    for (int c : {1, 2, 4, 5, 6, 8}) putHeader(c, std::u16string(1, static_cast<char16_t>(u'A' + c - 1)));
    putComment(1, 9, u"#x");
    putHeader(10, u"J");
    putComment(2, 1, u"1A");
    for (int c = 1; c <= 10; ++c) putText(2, c, u"v");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Read read = readRows(2, c.startColumn);
        ASSERT_EQ(read.rows.size(), 1u);
        EXPECT_EQ(read.rows[0].tags, c.tags);
    }
    EXPECT_EQ(readRows(2, 8).rows[0].positionCount, 1);
    EXPECT_EQ(readRows(2, 1).rows[0].positionCount, 1);
}

// Rows without a handle are passed over however many stand between data rows, and
// a sheet is read to its last used row, past row 65535 too.
TEST_F(SheetReaderTest, EveryRowWithAHandleIsReadToTheSheetsEnd) {
    putHeader(1, u"TAG");
    const int handled[] = {2, 10, 30, 52, 65535, 65536, 70001};
    for (int r : handled) {
        putComment(r, 1, u"A" + std::u16string(1, static_cast<char16_t>(u'0' + r % 10)));
        putText(r, 1, u"row");
    }
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), std::size(handled));
    EXPECT_EQ(read.rows.back().sheetRow, 70001);
    EXPECT_EQ(read.tally.rows, static_cast<long>(std::size(handled)));
    EXPECT_EQ(read.tally.rowsWithoutHandle, 70001 - 1 - static_cast<long>(std::size(handled)));
    EXPECT_EQ(readRows(31).rows.size(), std::size(handled) - 3);

    // Row 1 as a data row: the header's first cell has no comment, one more row
    // without a handle.
    Read fromOne = readRows(1);
    EXPECT_EQ(fromOne.rows.size(), std::size(handled));
    EXPECT_EQ(fromOne.tally.rowsWithoutHandle, read.tally.rowsWithoutHandle + 1);
    // Start rows the settings may hold but no sheet has read as row 1.
    EXPECT_EQ(readRows(0).rows.size(), std::size(handled));
    EXPECT_EQ(readRows(-5).rows.size(), std::size(handled));
}

TEST_F(SheetReaderTest, CellsBecomeTextsForAttributes) {
    putHeader(1, u"TAG");
    const struct {
        const char* name;
        Variant value;
        bool present;
        std::string text;
    } cases[] = {
        {"text", Variant::bstr(u"D-1"), true, "D-1"},
        {"number-looking text kept as text", Variant::bstr(u"007"), true, "007"},
        {"empty cell clears", Variant(), true, ""},
        {"number", Variant::r8(12.5), true, "12.5"},
        {"error value: left out", kDivisionByZero, false, ""},
        {"non-ASCII", Variant::bstr(u"Stra\u00dfe \u00dc"), true,
         "Stra\xC3\x9F"
         "e \xC3\x9C"},
    };
    int r = 2;
    for (const auto& c : cases) {
        putComment(r, 1, u"10");
        putAsGiven(r, 1, c.value);
        ++r;
    }
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const ImportRow& row = read.rows[i];
        ASSERT_EQ(row.tags.size(), cases[i].present ? 1u : 0u);
        if (cases[i].present) {
            EXPECT_EQ(row.values[0], cases[i].text);
        }
    }
}

// A cell that does not know its value, under any column, gives the row nothing for
// that column and is noted, so the import can say which cell it left alone.
TEST_F(SheetReaderTest, CellsWithoutAValueAreNotedNotRead) {
    putHeader(1, u"TAG");
    putHeader(2, u"Layer", u"#layer");
    putHeader(3, u"Rotation", u"#rotation");
    putComment(2, 1, u"10");
    for (int c = 1; c <= 3; ++c) put(2, c, kDivisionByZero);
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 1u);
    const ImportRow& row = read.rows[0];
    EXPECT_TRUE(row.tags.empty());
    EXPECT_FALSE(row.layer.has_value());
    EXPECT_FALSE(row.hasRotation);
    ASSERT_EQ(row.problems.size(), 3u);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(row.problems[c - 1].column, c);
        EXPECT_EQ(row.problems[c - 1].reason, static_cast<UINT>(kTextReasonNoValue));
        EXPECT_EQ(row.problems[c - 1].isProperty, c != 1);
    }
}

// Distances are read whole, in the drawing's units or as a plain decimal number:
// a word, a comma, a unit or a number beyond a double is no distance, and an empty
// cell is none either. None of them gives 0 (or 1 for a scale).
TEST_F(SheetReaderTest, CellsBecomeNumbersForPositionScaleAndRotation) {
    putHeader(1, u"X", u"#x");
    putHeader(2, u"Scale X", u"#scale-x");
    putHeader(3, u"Rotation", u"#rotation");
    const UINT none = 0;
    const struct {
        const char* name;
        Variant value;
        double number;  // what x and the first scale slot read; NaN: nothing
        UINT reason;    // why not, for X and scale
        bool hasRotation;
        double rotation;
    } cases[] = {
        {"decimal text", Variant::bstr(u"12.5"), 12.5, none, true, 12.5 * std::numbers::pi / 180},
        {"blanks around", Variant::bstr(u"  -3.25 "), -3.25, none, true, -3.25 * std::numbers::pi / 180},
        {"comma is no decimal point", Variant::bstr(u"12,5"), NAN, kTextReasonNotADistance, false, 0},
        {"a unit after the number", Variant::bstr(u" 7 m"), NAN, kTextReasonNotADistance, false, 0},
        {"a word", Variant::bstr(u"n/a"), NAN, kTextReasonNotADistance, false, 0},
        {"number", Variant::r8(90), 90, none, true, std::numbers::pi / 2},
        {"empty", Variant(), NAN, kTextReasonEmpty, false, 0},
        {"blank text", Variant::bstr(u"  "), NAN, kTextReasonEmpty, false, 0},
        {"error value", kDivisionByZero, NAN, kTextReasonNoValue, false, 0},
        {"too large for a double", Variant::bstr(u"1e999"), NAN, kTextReasonNotADistance, false, 0},
    };
    int r = 2;
    for (const auto& c : cases) {
        putComment(r, 1, u"10");
        for (int col = 1; col <= 3; ++col) putAsGiven(r, col, c.value);
        ++r;
    }
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const ImportRow& row = read.rows[i];
        const bool isNumber = !std::isnan(cases[i].number);
        EXPECT_EQ(row.positionCount, 1);
        EXPECT_EQ(row.scaleCount, 1);
        EXPECT_EQ(row.hasCoordinate[0], isNumber);
        EXPECT_EQ(row.hasScale[0], isNumber);
        if (isNumber) {
            EXPECT_EQ(row.position[0], cases[i].number);
            EXPECT_EQ(row.scale[0], cases[i].number);
        } else {
            ASSERT_GE(row.problems.size(), 2u);
            EXPECT_EQ(row.problems[0].column, 1);
            EXPECT_EQ(row.problems[0].reason, cases[i].reason);
            EXPECT_EQ(row.problems[1].column, 2);
        }
        EXPECT_EQ(row.hasRotation, cases[i].hasRotation);
        EXPECT_NEAR(row.rotation, cases[i].rotation, 1e-12);
    }
}

// Markers compare exactly; scale slots follow the columns' standing order; a
// fourth scale column is ignored; X, Y and Z count however many there are.
TEST_F(SheetReaderTest, MarkersExactAndScaleSlotsInStandingOrder) {
    putHeader(1, u"Scale Z", u"#scale-z");
    putHeader(2, u"Scale X", u"#scale-x");
    putHeader(3, u"Scale Y", u"#scale-y");
    putHeader(4, u"Scale X again", u"#scale-x");
    putHeader(5, u"X", u"#X");   // other case: no marker
    putHeader(6, u"X", u"#x ");  // trailing blank: no marker
    putHeader(7, u"X", u"#x");
    putHeader(8, u"X", u"#x");
    putHeader(9, u"Y", u"#y");
    putComment(2, 1, u"10");
    const double values[] = {3, 1, 2, 9, 100, 200, 11, 12, 13};
    for (int c = 1; c <= 9; ++c) put(2, c, Variant::r8(values[c - 1]));
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 1u);
    const ImportRow& row = read.rows[0];
    EXPECT_EQ(row.scaleCount, 3);
    EXPECT_EQ(row.scale[0], 3);
    EXPECT_EQ(row.scale[1], 1);
    EXPECT_EQ(row.scale[2], 2);
    // Two X columns and a Y: three met, the later X wins, z is not known.
    EXPECT_EQ(row.positionCount, 3);
    EXPECT_EQ(row.position[0], 12);
    EXPECT_EQ(row.position[1], 13);
    EXPECT_FALSE(row.hasCoordinate[2]);
    EXPECT_TRUE(row.tags.empty());
}

// Several blocks exported into one sheet: each block's rows are read against the
// header row written above them (bold, after the rows of the block before), not
// against row 1; the bold prompt row under a header is no header; a header whose
// first cell carries a marker is no data row.
TEST_F(SheetReaderTest, EachBlockIsReadUnderItsOwnHeader) {
    auto bold = [&](int r) {
        xl::setBold(xl::font(xl::entireRow(xl::cell(cells_.get(), r, 1).get()).get()).get(), true);
    };
    putHeader(1, u"A");
    putHeader(2, u"B");
    putHeader(3, u"X", u"#x");
    bold(1);
    putComment(2, 1, u"10");
    for (int c = 1; c <= 3; ++c) putText(2, c, u"1." + std::u16string(1, static_cast<char16_t>(u'0' + c)));
    // The second block: its tags in the other order, a prompt row, an empty row.
    putText(4, 1, u"B");
    putText(4, 2, u"A");
    bold(4);
    putText(5, 1, u"prompt of B");
    bold(5);
    putComment(7, 1, u"20");
    putText(7, 1, u"b");
    putText(7, 2, u"a");
    // A third block whose first column is a property: its marker is no handle.
    putText(8, 1, u"X");
    putComment(8, 1, u"#x");
    putComment(9, 1, u"30");
    putText(9, 1, u"5");

    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 3u);
    EXPECT_EQ(read.rows[0].tags, (Texts{"A", "B"}));
    EXPECT_EQ(read.rows[0].position[0], 1.3);
    EXPECT_EQ(read.rows[1].handle, "20");
    EXPECT_EQ(read.rows[1].tags, (Texts{"B", "A"}));
    EXPECT_EQ(read.rows[1].values, (Texts{"b", "a"}));
    EXPECT_EQ(read.rows[1].positionCount, 0);
    EXPECT_EQ(read.rows[2].handle, "30");
    EXPECT_TRUE(read.rows[2].tags.empty());
    EXPECT_TRUE(read.rows[2].hasCoordinate[0]);
    EXPECT_EQ(read.rows[2].position[0], 5);
}

// Rows exported without a header from row 1 on stand under no header: they are
// refused and counted, not read against a data row taken for a header.
TEST_F(SheetReaderTest, RowsUnderNoHeaderAreRefused) {
    putComment(1, 1, u"10");
    putText(1, 1, u"a");
    putComment(2, 1, u"20");
    putText(2, 1, u"b");
    Read read = readRows(1);
    EXPECT_TRUE(read.rows.empty());
    EXPECT_EQ(read.tally.rowsWithoutHeader, 2);
}

// The rows a report names, with the reason's text number.
std::vector<std::pair<std::int32_t, UINT>> namedRows(const ImportReport& report) {
    std::vector<std::pair<std::int32_t, UINT>> out;
    for (const ImportReport::Listed& l : report.listed()) out.emplace_back(l.row, l.reason);
    return out;
}

// A header row is one export marked: a bold title above it and a bold subtotal
// among the data are no headers. The subtotal holds values and no handle, so it is
// named; the prompt row under the header, blank rows and the title are not.
TEST_F(SheetReaderTest, OnlyTheMarkedRowIsAHeader) {
    putText(1, 1, u"Tree inventory 2024");
    bold(1);
    putText(2, 1, u"SPECIES");
    putText(2, 2, u"HEIGHT");
    putComment(2, 1, u"#header");
    bold(2);
    putText(3, 2, u"height in m");  // the prompt row
    bold(3);
    putComment(4, 1, u"10");
    putText(4, 1, u"oak");
    putText(4, 2, u"12");
    putText(5, 1, u"Subtotal");
    putText(5, 2, u"12");
    bold(5);
    putComment(6, 1, u"20");
    putText(6, 1, u"ash");
    putText(6, 2, u"9");
    putText(8, 2, u"7");  // a row typed in without a handle

    ImportReport report;
    Read read = readRows(2, 1, &report);
    ASSERT_EQ(read.rows.size(), 2u);
    for (const ImportRow& row : read.rows) {
        EXPECT_EQ(row.tags, (Texts{"SPECIES", "HEIGHT"}));
        EXPECT_EQ(row.headerRow, 2);
    }
    EXPECT_EQ(read.rows[1].values, (Texts{"ash", "9"}));
    EXPECT_EQ(namedRows(report),
              (std::vector<std::pair<std::int32_t, UINT>>{{5, kTextReasonAsGiven}, {8, kTextReasonAsGiven}}));
    EXPECT_EQ(read.tally.rowsNotImported, 2);
}

// Workbooks written before the marker keep their rules: a bold row after data rows
// heads the rows below it.
TEST_F(SheetReaderTest, WithoutMarkersABoldRowStillHeadsTheRowsBelow) {
    putHeader(1, u"A");
    bold(1);
    putComment(2, 1, u"10");
    putText(2, 1, u"a");
    putText(3, 1, u"B");
    bold(3);
    putComment(4, 1, u"20");
    putText(4, 1, u"b");
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[0].tags, (Texts{"A"}));
    EXPECT_EQ(read.rows[1].tags, (Texts{"B"}));
}

// Columns inserted before export's first column: the marker and the handles stand
// further right, and the user's columns before them are no part of the table.
TEST_F(SheetReaderTest, HandlesAreFoundWhereTheMarkerMoved) {
    putText(1, 1, u"Notes");
    putText(1, 3, u"SPECIES");
    putText(1, 4, u"HEIGHT");
    putComment(1, 3, u"#header");
    putComment(2, 3, u"10");
    putText(2, 1, u"looked at in May");
    putText(2, 3, u"oak");
    putText(2, 4, u"12");
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_EQ(read.rows[0].handle, "10");
    EXPECT_EQ(read.rows[0].handleColumn, 3);
    EXPECT_EQ(read.rows[0].tags, (Texts{"SPECIES", "HEIGHT"}));
}

// A data row sorted above the first row read, and one above every header, are
// named rather than passed over; a row whose every cell was cleared is read as
// emptied, one with a value left is not.
TEST_F(SheetReaderTest, RowsNotReadAreNamedAndEmptiedRowsTold) {
    putComment(1, 1, u"30");
    putText(1, 1, u"elm");
    putText(2, 1, u"SPECIES");
    putText(2, 2, u"HEIGHT");
    putComment(2, 1, u"#header");
    putComment(3, 1, u"10");
    putComment(4, 1, u"20");
    putText(4, 2, u"5");
    ImportReport report;
    Read read = readRows(2, 1, &report);
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_TRUE(read.rows[0].isEmptied);
    EXPECT_FALSE(read.rows[1].isEmptied);
    EXPECT_EQ(namedRows(report), (std::vector<std::pair<std::int32_t, UINT>>{{1, kTextReasonAsGiven}}));
    // From row 1 on, the same row stands under no header.
    ImportReport fromOne;
    readRows(1, 1, &fromOne);
    EXPECT_EQ(namedRows(fromOne), (std::vector<std::pair<std::int32_t, UINT>>{{1, kTextReasonNoHeader}}));
}

}  // namespace
}  // namespace tabro::testing
