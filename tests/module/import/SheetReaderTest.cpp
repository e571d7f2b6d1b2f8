// Reading worksheets back: the header row's rules, where a sheet ends, how cells
// become texts and numbers, exact markers and the order of the scale slots.
#include "ImportSheetFixture.h"

#include "host/db/AcDbDatabase.h"
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
    putHeader(4, u"Layout", u"#layout");  // a comment that is no marker: ignored
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

// The second empty header cell ends the scan; the first does not, and a marker
// column whose title is empty still counts as an empty header.
TEST_F(SheetReaderTest, SecondEmptyHeaderEndsTheColumns) {
    const struct {
        const char* name;
        int startColumn;
        Texts tags;
    } cases[] = {
        {"from column 1", 1, {"A", "B", "D", "E", "F"}},
        {"from column 4", 4, {"D", "E", "F", "H"}},
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
    // From column 8 the untitled marker column is the first empty header: still read.
    EXPECT_EQ(readRows(2, 8).rows[0].positionCount, 1);
    EXPECT_EQ(readRows(2, 1).rows[0].positionCount, 0);
}

TEST_F(SheetReaderTest, TwentyFirstRowWithoutHandleEndsTheSheet) {
    putHeader(1, u"TAG");
    // Handles on rows 2, 10 and 30; rows without one in between: 7 + 19 = 26 > 20,
    // so the sheet ends at its 21st such row (row 24) before row 30 is read.
    for (int r : {2, 10, 30, 52}) {
        putComment(r, 1, u"A" + std::u16string(1, static_cast<char16_t>(u'0' + r % 10)));
        putText(r, 1, u"row");
    }
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.tally.rows, 2);
    EXPECT_EQ(read.tally.rowsWithoutHandle, 21);
    // Twenty rows without a handle are passed over, the 21st ends the sheet, also
    // before its first handle.
    EXPECT_EQ(readRows(32).rows.size(), 1u);
    EXPECT_EQ(readRows(31).rows.size(), 0u);

    // Row 1 as a data row: the header's first cell has no comment, one more row
    // without a handle.
    Read fromOne = readRows(1);
    EXPECT_EQ(fromOne.rows.size(), 2u);
    EXPECT_EQ(fromOne.tally.rowsWithoutHandle, 21);
    // Start rows the settings may hold but no sheet has read as row 1.
    EXPECT_EQ(readRows(0).rows.size(), 2u);
    EXPECT_EQ(readRows(-5).rows.size(), 2u);
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
        {"non-ASCII", Variant::bstr(u"Stra\u00dfe \u00dc"), true, "Stra\xC3\x9F" "e \xC3\x9C"},
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

TEST_F(SheetReaderTest, ErrorValueUnderTheLayerHeaderEndsTheRun) {
    putHeader(1, u"Layer", u"#layer");
    putComment(2, 1, u"10");
    put(2, 1, kDivisionByZero);
    EXPECT_THROW(readRows(), _com_error);
}

TEST_F(SheetReaderTest, CellsBecomeNumbersForPositionScaleAndRotation) {
    putHeader(1, u"X", u"#x");
    putHeader(2, u"Scale X", u"#scale-x");
    putHeader(3, u"Rotation", u"#rotation");
    const struct {
        const char* name;
        Variant value;
        double x, scale;  // what x and the first scale slot read
        bool hasRotation;
        double rotation;
    } cases[] = {
        {"decimal text", Variant::bstr(u"12.5"), 12.5, 12.5, true, 12.5 * std::numbers::pi / 180},
        {"comma is no decimal point", Variant::bstr(u"12,5"), 12, 12, false, 0},
        {"leading blank and a unit", Variant::bstr(u" 7 m"), 7, 7, false, 0},
        {"no number", Variant::bstr(u"abc"), 0, 0, false, 0},
        {"number", Variant::r8(90), 90, 90, true, std::numbers::pi / 2},
        {"empty: initial values", Variant(), 0, 1, false, 0},
        {"error value: initial values", kDivisionByZero, 0, 1, false, 0},
        {"too large for a double", Variant::bstr(u"1e999"), 0, 1, false, 0},
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
        EXPECT_EQ(row.positionCount, 1);
        EXPECT_EQ(row.position[0], cases[i].x);
        EXPECT_EQ(row.scaleCount, 1);
        EXPECT_EQ(row.scale[0], cases[i].scale);
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
    // Two X columns and a Y: three met, the later X wins, z stays 0.
    EXPECT_EQ(row.positionCount, 3);
    EXPECT_EQ(row.position[0], 12);
    EXPECT_EQ(row.position[1], 13);
    EXPECT_EQ(row.position[2], 0);
    EXPECT_TRUE(row.tags.empty());
}

// A header row that export wrote further down (several blocks in one sheet) is read
// like a data row: a marker comment in its first cell is taken for a handle.
TEST_F(SheetReaderTest, LaterHeaderRowsAreReadAsDataRows) {
    putHeader(1, u"TAG");
    putComment(2, 1, u"10");
    putText(2, 1, u"a");
    putText(3, 1, u"TAG");  // a second block's header without comment
    putComment(4, 1, u"#x");
    putText(4, 1, u"X");
    Read read = readRows();
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[1].handle, "#x");
    EXPECT_EQ(read.tally.rowsWithoutHandle, 21);
}

}  // namespace
}  // namespace tabro::testing
