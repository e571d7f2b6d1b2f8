// Dates, times and booleans as the application answers them (Value a date where the
// number format shows one, Text the date as the format writes it), and merged areas
// read from a sheet's file (MergeCells true, false or null; MergeArea).
#include "sheet/DateFormat.h"
#include "sheet/Styles.h"
#include "tests/sheet/SheetTestSupport.h"

#include <filesystem>
#include <optional>

namespace sheet::test {
namespace {

TEST(DateFormatTest, DateAndTimeCodesAreToldFromOtherNumberFormats) {
    const char* dates[] = {
        "yyyy-mm-dd h:mm:ss", "MM/DD/YY", "DD.MM.YYYY", "HH:MM:SS", "[h]:mm", "[SS]", "h AM/PM", "h a/p",
        "[$-409]d-mmm-yy;@",  "\"at\" h", "0.00;[Red]d"};
    const char* others[] = {"General",     "0.00",        "#,##0 ;[Red](#,##0)", "@",
                            "0.00E+00",    "\"days\" 0",  "0 \\d\\a\\y\\s",      "[Red]0",
                            "[$-409]0.00", "_(* #,##0_)", "[>=100]0;0.0"};
    for (const char* code : dates) EXPECT_TRUE(isDateTimeCode(code)) << code;
    for (const char* code : others) EXPECT_FALSE(isDateTimeCode(code)) << code;
    for (std::uint32_t id = 0; id < 164; ++id)
        EXPECT_EQ(isDateTimeFormatId(id), (id >= 14 && id <= 22) || (id >= 45 && id <= 47)) << id;
}

TEST(DateFormatTest, BuiltInAndCommonCodesShowDatesAndTimesAsTheApplicationDoes) {
    struct Case {
        double serial;
        std::string code;
        const char* shown;
    };
    auto builtin = [](std::uint32_t id) { return std::string(builtinFormatCode(id)); };
    const double noon30 = 0.520833333333333;  // 12:30, a hair short of it as stored
    const Case cases[] = {
        {45444, builtin(14), "6/1/2024"},
        {45444, builtin(15), "1-Jun-24"},
        {45444, builtin(16), "1-Jun"},
        {45444, builtin(17), "Jun-24"},
        {noon30, builtin(18), "12:30 PM"},
        {noon30, builtin(19), "12:30:00 PM"},
        {0.25, builtin(19), "6:00:00 AM"},
        {0.0, builtin(18), "12:00 AM"},
        {noon30, builtin(20), "12:30"},
        {noon30, builtin(21), "12:30:00"},
        {45444 + noon30, builtin(22), "6/1/2024 12:30"},
        {noon30, builtin(45), "30:00"},
        {1.5 + 1.0 / 86400, builtin(46), "36:00:01"},
        {62.5 / 86400, builtin(47), "0102.5"},
        // openpyxl's defaults for datetime, date and time values.
        {45444.75, "yyyy-mm-dd h:mm:ss", "2024-06-01 18:00:00"},
        {45444, "yyyy-mm-dd", "2024-06-01"},
        {noon30, "h:mm:ss", "12:30:00"},
        // LibreOffice's codes, in capitals.
        {45444, "MM/DD/YY", "06/01/24"},
        {45444, "DD.MM.YYYY", "01.06.2024"},
        {noon30, "HH:MM:SS", "12:30:00"},
        {45444, "YYYY-MM-DD", "2024-06-01"},
        {45444, "[$-409]dddd, mmmm d, yyyy;@", "Saturday, June 1, 2024"},
        {45444, "ddd d mmmmm", "Sat 1 J"},
        {45444, "\"day\" d \\m yy", "day 1 m 24"},  // quoted and escaped letters are text
        {45444.25, "[Red]h:mm a/p", "6:00 a"},
        {45444.75, "h:mm A/P", "6:00 P"},
        {45444.75, "h \"h\" m", "18 h 0"},  // m after an hour is the minute
        {45444, "m", "6"},                  // m alone is the month
        {0.99999999, "m/d/yyyy h:mm:ss", "1/1/1900 0:00:00"},
        // The 1900 system's own days: serial 0, the 29 February 1900 it counts, and
        // the days around it.
        {0, builtin(14), "1/0/1900"},
        {1, "dddd m/d/yyyy", "Sunday 1/1/1900"},
        {59, builtin(14), "2/28/1900"},
        {60, builtin(14), "2/29/1900"},
        {61, "dddd m/d/yyyy", "Thursday 3/1/1900"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code + " " + std::to_string(c.serial));
        auto shown = formatDateTime(c.serial, c.code, false);
        ASSERT_TRUE(shown);
        EXPECT_EQ(*shown, c.shown);
    }
    // The 1904 system counts from its first day.
    EXPECT_EQ(formatDateTime(0, builtin(14), true), "1/1/1904");
    EXPECT_EQ(formatDateTime(45444 - 1462, "dddd yyyy-mm-dd", true), "Saturday 2024-06-01");
    // Numbers that are no date of the system show no date.
    EXPECT_EQ(formatDateTime(-1, builtin(14), false), std::nullopt);
    EXPECT_EQ(formatDateTime(2958466, builtin(14), false), std::nullopt);
    EXPECT_EQ(formatDateTime(2958465, builtin(14), false), "12/31/9999");
    EXPECT_EQ(formatDateTime(2958465, builtin(14), true), std::nullopt);
}

TEST(DateFormatTest, SerialsAndAutomationDatesNameTheSameDay) {
    EXPECT_EQ(automationDateOfSerial(45444.5, false), 45444.5);
    EXPECT_EQ(automationDateOfSerial(1, false), 2.0);    // 1900-01-01 in both
    EXPECT_EQ(automationDateOfSerial(0.5, false), 0.5);  // a time alone
    EXPECT_EQ(automationDateOfSerial(60, false), std::nullopt);
    EXPECT_EQ(automationDateOfSerial(0, true), 1462.0);
    EXPECT_EQ(automationDateOfSerial(-1, false), std::nullopt);
    for (double serial : {0.5, 1.0, 59.0, 61.0, 45444.25}) {
        for (bool is1904 : {false, true}) {
            auto date = automationDateOfSerial(serial, is1904);
            ASSERT_TRUE(date);
            EXPECT_EQ(serialOfAutomationDate(*date, is1904), serial);
        }
    }
    EXPECT_EQ(serialOfAutomationDate(1.5, false), std::nullopt);  // 1899-12-31
    EXPECT_EQ(serialOfAutomationDate(1000, true), std::nullopt);  // before 1904
}

class DatesAndMergesTest : public SheetTest {
protected:
    static Variant element(const Variant& array, LONG row, LONG column) {
        LONG index[2] = {row, column};
        Variant* v = nullptr;
        EXPECT_EQ(platform::SafeArrayPtrOfIndex(array.parray(), index, &v), S_OK);
        return v ? *v : Variant();
    }
    ComPtr<IDispatch> range(IDispatch* sheet, const char* address) {
        return getObject(sheet, id::Range, {bstr(address)});
    }
    static std::string address(IDispatch* range) {
        return narrow(call(range, id::Address, DISPATCH_PROPERTYGET).bstrVal());
    }
};

TEST_F(DatesAndMergesTest, NumbersInDateFormatsReadAsDatesAndShowAsTheFormatWritesThem) {
    auto sheet = newSheet();
    struct Case {
        const char* format;
        double number;
        VARTYPE vt;
        const char* text;
    } cases[] = {
        {"m/d/yyyy", 45444, VT_DATE, "6/1/2024"},
        {"h:mm:ss", 0.520833333333333, VT_DATE, "12:30:00"},
        {"yyyy-mm-dd h:mm", 45444.75, VT_DATE, "2024-06-01 18:00"},
        {"0.00", 45444, VT_R8, "45444"},  // other formats keep the General text
        {"General", 12.5, VT_R8, "12.5"},
        {"m/d/yyyy", -3, VT_R8, "-3"},  // no date: a number, shown as one
    };
    int row = 1;
    for (const auto& c : cases) {
        auto a = cell(sheet.get(), row++, 1);
        put(a.get(), id::NumberFormat, bstr(c.format));
        put(a.get(), id::Value, Variant::r8(c.number));
        SCOPED_TRACE(c.format);
        Variant v = call(a.get(), id::Value, DISPATCH_PROPERTYGET);
        EXPECT_EQ(v.vt(), c.vt);
        EXPECT_EQ(v.vt() == VT_DATE ? v.date() : v.dblVal(), c.number);
        EXPECT_EQ(narrow(call(a.get(), id::Text, DISPATCH_PROPERTYGET).bstrVal()), c.text);
    }
    put(cell(sheet.get(), 1, 2).get(), id::Value, Variant::boolean(true));
    put(cell(sheet.get(), 2, 2).get(), id::Value, bstr("text"));
    // A block read types each cell the same way.
    Variant block = call(range(sheet.get(), "A1:B6").get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_TRUE(block.isArray());
    for (int r = 1; r <= 6; ++r) {
        Variant v = element(block, r, 1);
        EXPECT_EQ(v.vt(), cases[r - 1].vt) << r;
        EXPECT_EQ(v.vt() == VT_DATE ? v.date() : v.dblVal(), cases[r - 1].number) << r;
    }
    EXPECT_EQ(element(block, 1, 2).vt(), VT_BOOL);
    EXPECT_EQ(element(block, 2, 2).vt(), VT_BSTR);
    EXPECT_EQ(element(block, 3, 2).vt(), VT_EMPTY);
    // Formatting a number as a date afterwards makes it one, and fits its column to
    // the date's text.
    auto c1 = cell(sheet.get(), 1, 3);
    put(c1.get(), id::Value, Variant::r8(45444.75));
    put(c1.get(), id::NumberFormat, bstr("dddd, mmmm d, yyyy h:mm"));
    EXPECT_EQ(narrow(call(c1.get(), id::Text, DISPATCH_PROPERTYGET).bstrVal()), "Saturday, June 1, 2024 18:00");
    EXPECT_EQ(call(c1.get(), id::Value, DISPATCH_PROPERTYGET).vt(), VT_DATE);
}

TEST_F(DatesAndMergesTest, AnAssignedDateGivesAGeneralCellADateFormatAndKeepsAnyOther) {
    auto sheet = newSheet();
    auto a1 = cell(sheet.get(), 1, 1), a2 = cell(sheet.get(), 2, 1), a3 = cell(sheet.get(), 3, 1);
    auto a4 = cell(sheet.get(), 4, 1);
    put(a1.get(), id::Value, Variant::date(45444));
    put(a2.get(), id::Value, Variant::date(45444.5));
    put(a3.get(), id::Value, Variant::date(0.75));
    put(a4.get(), id::NumberFormat, bstr("yyyy-mm-dd"));
    put(a4.get(), id::Value, Variant::date(45444.5));
    const struct {
        IDispatch* cell;
        const char* format;
        const char* text;
    } expected[] = {{a1.get(), "m/d/yyyy", "6/1/2024"},
                    {a2.get(), "m/d/yyyy h:mm", "6/1/2024 12:00"},
                    {a3.get(), "h:mm:ss AM/PM", "6:00:00 PM"},
                    {a4.get(), "yyyy-mm-dd", "2024-06-01"}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.text);
        EXPECT_EQ(narrow(call(e.cell, id::NumberFormat, DISPATCH_PROPERTYGET).bstrVal()), e.format);
        EXPECT_EQ(narrow(call(e.cell, id::Text, DISPATCH_PROPERTYGET).bstrVal()), e.text);
        EXPECT_EQ(call(e.cell, id::Value, DISPATCH_PROPERTYGET).vt(), VT_DATE);
    }
    // A day the 1900 system has no serial for is kept as its text.
    put(a1.get(), id::Value, Variant::date(-1.25));
    Variant v = call(a1.get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_EQ(v.vt(), VT_BSTR);
    EXPECT_EQ(narrow(v.bstrVal()), "12/29/1899 6:00:00 AM");
}

TEST_F(DatesAndMergesTest, ASheetWithoutMergedAreasAnswersFalseAndEachCellIsItsOwnArea) {
    auto sheet = newSheet();
    EXPECT_EQ(call(range(sheet.get(), "A1:T1024").get(), id::MergeCells, DISPATCH_PROPERTYGET).vt(), VT_BOOL);
    EXPECT_EQ(call(range(sheet.get(), "A1:T1024").get(), id::MergeCells, DISPATCH_PROPERTYGET).boolVal(),
              VARIANT_FALSE);
    EXPECT_EQ(address(getObject(cell(sheet.get(), 3, 2).get(), id::MergeArea).get()), "$B$3");
}

TEST_F(DatesAndMergesTest, AWorkbookFromOpenpyxlReadsWithItsDatesBooleansAndMergedAreas) {
    if (!hasOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    ASSERT_EQ(runPython(folder(), R"(
import datetime, openpyxl
from openpyxl.utils.datetime import CALENDAR_MAC_1904
wb = openpyxl.Workbook()
ws = wb.active
ws["A1"] = datetime.datetime(2024, 6, 1, 12, 30)
ws["A2"] = datetime.date(2024, 6, 1)
ws["A3"] = datetime.time(12, 30)
ws["A4"] = True
ws["A5"] = 45444
ws["A6"] = 45444
ws["A6"].number_format = "DD.MM.YYYY"
ws.merge_cells("B2:C3")
ws.merge_cells("E1:E4")
ws.merge_cells("F5:F5")
ws["B2"] = "merged"
wb.save("dates.xlsx")
wb = openpyxl.Workbook()
wb.epoch = CALENDAR_MAC_1904
wb.active["A1"] = datetime.date(2024, 6, 1)
wb.save("dates1904.xlsx")
)"),
              0);
    openWorkbookFile(folder() + "/dates.xlsx");
    auto sheet = getObject(app.get(), id::ActiveSheet);
    Variant block = call(range(sheet.get(), "A1:A6").get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_TRUE(block.isArray());
    const struct {
        VARTYPE vt;
        double value;
        const char* text;
    } expected[] = {{VT_DATE, 45444.520833333336, "2024-06-01 12:30:00"},
                    {VT_DATE, 45444, "2024-06-01"},
                    {VT_DATE, 0.520833333333333, "12:30:00"},
                    {VT_BOOL, 0, "TRUE"},
                    {VT_R8, 45444, "45444"},
                    {VT_DATE, 45444, "01.06.2024"}};
    for (int r = 1; r <= 6; ++r) {
        SCOPED_TRACE(r);
        const auto& e = expected[r - 1];
        Variant one = call(cell(sheet.get(), r, 1).get(), id::Value, DISPATCH_PROPERTYGET);
        EXPECT_EQ(one.vt(), e.vt);
        EXPECT_EQ(element(block, r, 1).vt(), e.vt);
        if (e.vt == VT_DATE) {
            EXPECT_NEAR(one.date(), e.value, 1e-9);
            EXPECT_NEAR(element(block, r, 1).date(), e.value, 1e-9);
        }
        EXPECT_EQ(narrow(call(cell(sheet.get(), r, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal()), e.text);
    }

    // MergeCells: true where every cell is merged (by one area or more), null where
    // some are, false where none is.
    const struct {
        const char* range;
        VARTYPE vt;
        bool merged;
    } merges[] = {{"B2", VT_BOOL, true},     {"B2:C3", VT_BOOL, true},  {"C3", VT_BOOL, true},
                  {"E1:E4", VT_BOOL, true},  {"B3:C4", VT_NULL, false}, {"A1:Z100", VT_NULL, false},
                  {"D1:D9", VT_BOOL, false}, {"F5", VT_BOOL, true},     {"F4:F6", VT_NULL, false}};
    for (const auto& m : merges) {
        SCOPED_TRACE(m.range);
        Variant v = call(range(sheet.get(), m.range).get(), id::MergeCells, DISPATCH_PROPERTYGET);
        ASSERT_EQ(v.vt(), m.vt);
        if (v.vt() == VT_BOOL) {
            EXPECT_EQ(v.boolVal() != VARIANT_FALSE, m.merged);
        }
    }
    // A range reaching from one area past its edge into unmerged cells is partly merged.
    EXPECT_EQ(call(range(sheet.get(), "C2:E3").get(), id::MergeCells, DISPATCH_PROPERTYGET).vt(), VT_NULL);
    // MergeArea: the whole area from any of its cells or parts, the cell itself
    // outside.
    EXPECT_EQ(address(getObject(cell(sheet.get(), 3, 3).get(), id::MergeArea).get()), "$B$2:$C$3");
    EXPECT_EQ(address(getObject(range(sheet.get(), "E2:E3").get(), id::MergeArea).get()), "$E$1:$E$4");
    EXPECT_EQ(address(getObject(cell(sheet.get(), 4, 3).get(), id::MergeArea).get()), "$C$4");
    // What the area shows is its first cell's.
    EXPECT_EQ(narrow(call(getObject(cell(sheet.get(), 3, 3).get(), id::MergeArea).get(), id::Text, DISPATCH_PROPERTYGET)
                         .bstrVal()),
              "merged");

    // Saved after an edit elsewhere, the file keeps its merged areas.
    put(cell(sheet.get(), 10, 1).get(), id::Value, bstr("edited"));
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(runPython(folder(), R"(
import openpyxl
ws = openpyxl.load_workbook("dates.xlsx").active
assert sorted(str(r) for r in ws.merged_cells.ranges) == ["B2:C3", "E1:E4", "F5"], ws.merged_cells.ranges
assert ws["A10"].value == "edited"
)"),
              0);

    // The 1904 date system: the same day, from another serial.
    openWorkbookFile(folder() + "/dates1904.xlsx");
    auto a1 = cell(getObject(app.get(), id::ActiveSheet).get(), 1, 1);
    Variant d = call(a1.get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_EQ(d.vt(), VT_DATE);
    EXPECT_EQ(d.date(), 45444);
    EXPECT_EQ(narrow(call(a1.get(), id::Text, DISPATCH_PROPERTYGET).bstrVal()), "2024-06-01");
}

}  // namespace
}  // namespace sheet::test
