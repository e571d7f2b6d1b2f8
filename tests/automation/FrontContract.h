// The automation contract both spreadsheets keep, as one typed suite: each test
// program instantiates it with its spreadsheet (the stand-in in the default run,
// LibreOffice Calc under the calc label), which starts in a scratch folder of its
// own. A Spreadsheet type offers start(), application(), flush(), openWorkbookFile()
// and stop().
#pragma once

#include "automation/DispatchIds.h"
#include "tests/automation/DispatchCalls.h"
#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

namespace automation::test {

using platform::ComPtr;
using platform::Variant;

using tabro::testing::readFile;

template <class Spreadsheet>
class FrontContract : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.emplace("front");
        ASSERT_NO_FATAL_FAILURE(spreadsheet_.start(folder_->path().string()));
        app = spreadsheet_.application();
        ASSERT_TRUE(app);
    }
    void TearDown() override {
        app.reset();
        spreadsheet_.stop();
        folder_.reset();
    }

    // A new workbook's first sheet.
    ComPtr<IDispatch> newSheet() {
        ComPtr<IDispatch> books = object(app.get(), dispid::Workbooks);
        ComPtr<IDispatch> book(call(books.get(), dispid::Add, {Variant::missing()}).pdispVal());
        return object(book.get(), dispid::ActiveSheet);
    }
    static ComPtr<IDispatch> range(IDispatch* sheet, const char16_t* from, const char16_t* to) {
        return object(sheet, dispid::Range, {Variant::bstr(from), Variant::bstr(to)});
    }
    std::vector<std::string> flush() { return spreadsheet_.flush(); }
    void openWorkbookFile(const std::string& path) { spreadsheet_.openWorkbookFile(path); }
    bool hasOpenpyxl() const { return std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0; }

    ComPtr<IDispatch> app;

private:
    Spreadsheet spreadsheet_;
    std::optional<tabro::testing::TempWorkingDir> folder_;
};

TYPED_TEST_SUITE_P(FrontContract);

// Members that take no argument refuse one, on every object: a caller passing one by
// mistake is told so rather than answered as if it had not.
TYPED_TEST_P(FrontContract, MembersRefuseArgumentsTheyDoNotTake) {
    ComPtr<IDispatch> sheet = this->newSheet();
    ComPtr<IDispatch> cells = this->range(sheet.get(), u"B2", u"C3");
    const Variant extra = Variant::i4(1);
    for (DISPID id : {dispid::EntireRow, dispid::EntireColumn, dispid::Cells, dispid::Columns, dispid::Rows,
                      dispid::Font, dispid::Row, dispid::Column, dispid::Count, dispid::NumberFormat,
                      dispid::MergeCells, dispid::MergeArea, dispid::Text, dispid::Comment, dispid::WrapText}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(failure([&] { get(cells.get(), id, {extra}); }), DISP_E_BADPARAMCOUNT);
        EXPECT_EQ(failure([&] { get(cells.get(), id); }), S_OK);
    }
    for (DISPID id : {dispid::Cells, dispid::Columns, dispid::Rows, dispid::UsedRange, dispid::Name}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(failure([&] { get(sheet.get(), id, {extra}); }), DISP_E_BADPARAMCOUNT);
    }
    for (DISPID id : {dispid::AutoFit, dispid::ClearComments})
        EXPECT_EQ(failure([&] { call(cells.get(), id, {extra}); }), DISP_E_BADPARAMCOUNT);
    ComPtr<IDispatch> font = object(cells.get(), dispid::Font);
    EXPECT_EQ(failure([&] { get(font.get(), dispid::Bold, {extra}); }), DISP_E_BADPARAMCOUNT);
    for (DISPID id : {dispid::Visible, dispid::Interactive, dispid::Name, dispid::ActiveWorkbook})
        EXPECT_EQ(failure([&] { get(this->app.get(), id, {extra}); }), DISP_E_BADPARAMCOUNT);
    // Nor do the collections take more than they count by.
    ComPtr<IDispatch> books = object(this->app.get(), dispid::Workbooks);
    EXPECT_EQ(failure([&] { get(books.get(), dispid::Count, {extra}); }), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(failure([&] { get(books.get(), dispid::Item, {extra, extra}); }), DISP_E_BADPARAMCOUNT);
    std::u16string why;
    EXPECT_EQ(failure([&] { call(books.get(), dispid::Add, {Variant::bstr(u"template.xltx")}); }, &why),
              kApplicationFailure);
    EXPECT_NE(why.find(u"without a template"), std::u16string::npos) << narrow(why);
}

// What cannot go into a cell is refused before any cell changes, whatever keeps them.
TYPED_TEST_P(FrontContract, AssignmentsAreCheckedWholeBeforeAnyCellChanges) {
    ComPtr<IDispatch> sheet = this->newSheet();
    put(this->range(sheet.get(), u"A1", u"B1").get(), dispid::Value, block({{Variant::r8(1), Variant::r8(2)}}));
    EXPECT_EQ(failure([&] {
                  put(this->range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::dispatch(sheet.get()));
              }),
              DISP_E_TYPEMISMATCH);
    const std::u16string tooLong(32768, u'x');
    std::u16string why;
    EXPECT_EQ(failure(
                  [&] {
                      put(this->range(sheet.get(), u"A1", u"B1").get(), dispid::Value,
                          block({{Variant::r8(5), Variant::bstr(tooLong)}}));
                  },
                  &why),
              kApplicationFailure);
    EXPECT_NE(why.find(u"32,767"), std::u16string::npos) << narrow(why);
    EXPECT_EQ(get(this->range(sheet.get(), u"A1", u"A1").get(), dispid::Value).dblVal(), 1.0);
    EXPECT_EQ(failure([&] { put(this->range(sheet.get(), u"A1", u"A1").get(), dispid::NumberFormat, Variant::i4(1)); }),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(
        failure([&] { put(this->range(sheet.get(), u"A1", u"A1").get(), dispid::NumberFormat, Variant::bstr(u"")); }),
        kApplicationFailure);
    EXPECT_EQ(failure([&] { get(sheet.get(), dispid::Range, {Variant::bstr(u"A0")}); }, &why), kApplicationFailure);
    EXPECT_NE(why.find(u"'A0' is not a cell reference"), std::u16string::npos) << narrow(why);
}

TYPED_TEST_P(FrontContract, BlocksOfValuesGoInAndComeBackAsAutomationGivesThem) {
    ComPtr<IDispatch> sheet = this->newSheet();
    // Column B is text-formatted: what reads as a number stays text there only.
    put(this->range(sheet.get(), u"B1", u"B3").get(), dispid::NumberFormat, Variant::bstr(u"@"));
    put(this->range(sheet.get(), u"A1", u"C3").get(), dispid::Value,
        block({{Variant::bstr(u"007"), Variant::bstr(u"007"), Variant::r8(2.5)},
               {Variant::i4(12), Variant::bstr(u"Ünïcode"), Variant()},
               {Variant::bstr(u"1,5"), Variant::bstr(u""), Variant::bstr(u" -1.5e3 ")}}));
    Variant values = get(this->range(sheet.get(), u"A1", u"C3").get(), dispid::Value);
    ASSERT_TRUE(values.isArray());
    EXPECT_EQ(element(values, 1, 1).vt(), VT_R8);
    EXPECT_EQ(element(values, 1, 1).dblVal(), 7.0);
    EXPECT_EQ(element(values, 1, 2).bstrVal(), u"007");
    EXPECT_EQ(element(values, 1, 3).dblVal(), 2.5);
    EXPECT_EQ(element(values, 2, 1).dblVal(), 12.0);
    EXPECT_EQ(element(values, 2, 2).bstrVal(), u"Ünïcode");
    EXPECT_TRUE(element(values, 2, 3).isEmpty());
    EXPECT_EQ(element(values, 3, 1).bstrVal(), u"1,5");
    EXPECT_TRUE(element(values, 3, 2).isEmpty());
    EXPECT_EQ(element(values, 3, 3).dblVal(), -1500.0);
    // One cell answers its value alone, and its text as displayed.
    ComPtr<IDispatch> b1 = this->range(sheet.get(), u"B1", u"B1");
    EXPECT_EQ(get(b1.get(), dispid::Value).bstrVal(), u"007");
    EXPECT_EQ(get(b1.get(), dispid::NumberFormat).bstrVal(), u"@");
    EXPECT_EQ(get(this->range(sheet.get(), u"C1", u"C1").get(), dispid::Text).bstrVal(), u"2.5");
    // Text that would read as something else stays text in a General cell, and the
    // cell stays General.
    put(this->range(sheet.get(), u"D1", u"E1").get(), dispid::Value,
        block({{Variant::bstr(u"50%"), Variant::bstr(u"=1+1")}}));
    for (const char16_t* cell : {u"D1", u"E1"})
        EXPECT_EQ(get(this->range(sheet.get(), cell, cell).get(), dispid::NumberFormat).bstrVal(), u"General");
    EXPECT_EQ(get(this->range(sheet.get(), u"D1", u"D1").get(), dispid::Value).bstrVal(), u"50%");
    // Bold goes on every cell of the range and is read from its first.
    put(object(this->range(sheet.get(), u"A1", u"C1").get(), dispid::Font).get(), dispid::Bold, Variant::boolean(true));
    EXPECT_NE(get(object(this->range(sheet.get(), u"C1", u"C1").get(), dispid::Font).get(), dispid::Bold).boolVal(),
              VARIANT_FALSE);
    EXPECT_EQ(get(object(this->range(sheet.get(), u"A2", u"A2").get(), dispid::Font).get(), dispid::Bold).boolVal(),
              VARIANT_FALSE);
    // So does WrapText, which leaves the cells' other formats as they were.
    auto wraps = [&](const char16_t* from, const char16_t* to) {
        return get(this->range(sheet.get(), from, to).get(), dispid::WrapText).boolVal() != VARIANT_FALSE;
    };
    put(this->range(sheet.get(), u"A1", u"B2").get(), dispid::WrapText, Variant::boolean(true));
    EXPECT_TRUE(wraps(u"B2", u"B2"));
    EXPECT_TRUE(wraps(u"A1", u"C3"));
    EXPECT_FALSE(wraps(u"C1", u"C1"));
    EXPECT_FALSE(wraps(u"A3", u"B3"));
    put(this->range(sheet.get(), u"B2", u"B2").get(), dispid::WrapText, Variant::boolean(false));
    EXPECT_FALSE(wraps(u"B2", u"B2"));
    EXPECT_TRUE(wraps(u"B1", u"B1"));
    EXPECT_EQ(get(b1.get(), dispid::NumberFormat).bstrVal(), u"@");
    EXPECT_NE(get(object(b1.get(), dispid::Font).get(), dispid::Bold).boolVal(), VARIANT_FALSE);
    EXPECT_EQ(get(b1.get(), dispid::Value).bstrVal(), u"007");
}

TYPED_TEST_P(FrontContract, CommentsSurviveValuesWrittenOverTheirCellsAndTheCommandsEnd) {
    ComPtr<IDispatch> sheet = this->newSheet();
    ComPtr<IDispatch> cells = object(sheet.get(), dispid::Cells);
    ComPtr<IDispatch> a2 = object(cells.get(), dispid::Item, {Variant::i4(2), Variant::i4(1)});
    EXPECT_EQ(get(a2.get(), dispid::Comment).pdispVal(), nullptr);
    call(a2.get(), dispid::AddComment, {Variant::bstr(u"2A")});
    // A second comment is refused, naming the cell and its sheet.
    std::u16string why;
    EXPECT_EQ(failure([&] { call(a2.get(), dispid::AddComment, {Variant::bstr(u"again")}); }, &why),
              kApplicationFailure);
    EXPECT_EQ(narrow(why), "Cell A2 of sheet 'Sheet1' already has a comment; change its text instead.");
    put(this->range(sheet.get(), u"A1", u"B3").get(), dispid::Value,
        block({{Variant::bstr(u"h"), Variant::bstr(u"i")},
               {Variant::bstr(u"x"), Variant::bstr(u"y")},
               {Variant::bstr(u"z"), Variant::bstr(u"w")}}));
    ASSERT_TRUE(this->flush().empty());
    // After the command the comments are read again.
    ComPtr<IDispatch> note = object(a2.get(), dispid::Comment);
    ASSERT_TRUE(note);
    EXPECT_EQ(call(note.get(), dispid::Text).bstrVal(), u"2A");
    EXPECT_EQ(call(note.get(), dispid::Text, {Variant::bstr(u"changed")}).bstrVal(), u"changed");
    put(this->range(sheet.get(), u"A2", u"A2").get(), dispid::Value, Variant::bstr(u"again"));
    ASSERT_TRUE(this->flush().empty());
    EXPECT_EQ(call(object(a2.get(), dispid::Comment).get(), dispid::Text).bstrVal(), u"changed");
}

// ClearComments takes every comment of the range and none beside it.
TYPED_TEST_P(FrontContract, ClearCommentsRemovesTheCommentsOfTheRangeOnly) {
    ComPtr<IDispatch> sheet = this->newSheet();
    for (const char16_t* cell : {u"A1", u"B2", u"D4"})
        call(this->range(sheet.get(), cell, cell).get(), dispid::AddComment, {Variant::bstr(cell)});
    ASSERT_TRUE(this->flush().empty());
    call(this->range(sheet.get(), u"A1", u"C3").get(), dispid::ClearComments);
    ASSERT_TRUE(this->flush().empty());
    for (const char16_t* cell : {u"A1", u"B2"})
        EXPECT_EQ(get(this->range(sheet.get(), cell, cell).get(), dispid::Comment).pdispVal(), nullptr);
    ComPtr<IDispatch> kept = object(this->range(sheet.get(), u"D4", u"D4").get(), dispid::Comment);
    ASSERT_TRUE(kept);
    EXPECT_EQ(call(kept.get(), dispid::Text).bstrVal(), u"D4");
    // A comment deleted through its own object is gone too.
    call(kept.get(), dispid::Delete);
    EXPECT_EQ(get(this->range(sheet.get(), u"D4", u"D4").get(), dispid::Comment).pdispVal(), nullptr);
}

TYPED_TEST_P(FrontContract, SheetsAreAddedBeforeTheActiveOneAndNamedByTheWorkbooksRules) {
    this->newSheet();
    ComPtr<IDispatch> book = object(this->app.get(), dispid::ActiveWorkbook);
    ComPtr<IDispatch> sheets = object(book.get(), dispid::Worksheets);
    ComPtr<IDispatch> added(call(sheets.get(), dispid::Add).pdispVal());
    EXPECT_EQ(get(sheets.get(), dispid::Count).lVal(), 2);
    EXPECT_EQ(get(object(sheets.get(), dispid::Item, {Variant::i4(1)}).get(), dispid::Name).bstrVal(), u"Sheet2");
    EXPECT_EQ(get(object(this->app.get(), dispid::ActiveSheet).get(), dispid::Name).bstrVal(), u"Sheet2");
    put(added.get(), dispid::Name, Variant::bstr(u"PIPE"));
    for (const char16_t* refused : {u"a[b", u"x/y", u"", u"0123456789012345678901234567890123", u"sheet1"}) {
        std::u16string why;
        EXPECT_EQ(failure([&] { put(added.get(), dispid::Name, Variant::bstr(refused)); }, &why), kApplicationFailure);
        EXPECT_FALSE(why.empty());
    }
    EXPECT_EQ(get(added.get(), dispid::Name).bstrVal(), u"PIPE");
    EXPECT_EQ(get(object(sheets.get(), dispid::Item, {Variant::bstr(u"pipe")}).get(), dispid::Index).lVal(), 1);
    // A worksheet's workbook, through the interface the live link asks for.
    ComPtr<IDispatch> parent = object(added.get(), dispid::Parent);
    ComPtr<IDispatch> asWorkbook;
    EXPECT_EQ(parent->QueryInterface(kWorkbookInterfaceIid, asWorkbook.putVoid()), S_OK);
    EXPECT_EQ(get(asWorkbook.get(), dispid::Name).bstrVal(), u"Book1");
}

// New workbooks take the first BookN whose file nobody has, and their file is there
// at once, as a workbook, so that another session takes the next name.
TYPED_TEST_P(FrontContract, NewWorkbooksAreNamedBookNAndReserveTheirFile) {
    std::ofstream("Book1.xlsx") << "someone else's";
    ComPtr<IDispatch> books = object(this->app.get(), dispid::Workbooks);
    ComPtr<IDispatch> first(call(books.get(), dispid::Add).pdispVal());
    EXPECT_EQ(get(first.get(), dispid::Name).bstrVal(), u"Book2");
    EXPECT_EQ(readFile("Book1.xlsx"), "someone else's");
    EXPECT_EQ(readFile("Book2.xlsx").substr(0, 2), "PK");
    const std::u16string fullName = get(first.get(), dispid::FullName).bstrVal();
    EXPECT_EQ(fullName.substr(fullName.size() - 11), u"/Book2.xlsx");
    ComPtr<IDispatch> second(call(books.get(), dispid::Add).pdispVal());
    EXPECT_EQ(get(second.get(), dispid::Name).bstrVal(), u"Book3");
    EXPECT_EQ(get(books.get(), dispid::Count).lVal(), 2);
    EXPECT_EQ(get(object(books.get(), dispid::Item, {Variant::bstr(u"book2")}).get(), dispid::Name).bstrVal(),
              u"Book2");
    EXPECT_EQ(get(this->app.get(), dispid::ActiveWorkbook).pdispVal() != nullptr, true);
    EXPECT_EQ(get(object(this->app.get(), dispid::ActiveWorkbook).get(), dispid::Name).bstrVal(), u"Book3");
}

// A save whose file cannot be replaced says so and leaves the file on disk as it
// was; the next save writes it.
TYPED_TEST_P(FrontContract, AFailedSaveLeavesTheWorkbookOnDiskWhole) {
    ComPtr<IDispatch> sheet = this->newSheet();
    put(this->range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"first"));
    ASSERT_TRUE(this->flush().empty());
    const std::string saved = readFile("Book1.xlsx");
    put(this->range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"second"));
    std::vector<std::string> problems;
    {
        platform::test::FileFault renameFails(platform::test::FileCall::rename, EIO, 0, -1);
        problems = this->flush();
        EXPECT_GT(renameFails.failures(), 0);
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("The workbook 'Book1' could not be saved to "), std::string::npos) << problems[0];
    EXPECT_EQ(readFile("Book1.xlsx"), saved);
    for (const auto& entry : std::filesystem::directory_iterator("."))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    EXPECT_TRUE(this->flush().empty());
    EXPECT_NE(readFile("Book1.xlsx"), saved);
}

// Dates, times and truth values from a workbook another program wrote (openpyxl),
// and merged areas: numbers shown as dates come back as dates, a block read too, and
// MergeCells / MergeArea answer from the sheet's merges.
TYPED_TEST_P(FrontContract, DatesTruthValuesAndMergedAreasReadAsTheApplicationAnswersThem) {
    if (!this->hasOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    std::ofstream("make.py") << R"(
import datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws["A1"] = datetime.datetime(2024, 6, 1, 12, 30)
ws["A2"] = datetime.date(2024, 6, 1)
ws["A3"] = datetime.time(12, 30)
ws["A4"] = True
ws["A5"] = 45444
ws["A6"] = "text"
ws.merge_cells("B2:C3")
ws.merge_cells("E1:E4")
wb.save("dates.xlsx")
)";
    ASSERT_EQ(std::system("/usr/bin/python3 make.py"), 0);
    this->openWorkbookFile("dates.xlsx");
    ComPtr<IDispatch> sheet = object(this->app.get(), dispid::ActiveSheet);
    const struct {
        VARTYPE vt;
        double value;
    } expected[] = {{VT_DATE, 45444.520833333333},
                    {VT_DATE, 45444},
                    {VT_DATE, 0.520833333333333},
                    {VT_BOOL, 1},
                    {VT_R8, 45444},
                    {VT_BSTR, 0}};
    Variant values = get(this->range(sheet.get(), u"A1", u"A6").get(), dispid::Value);
    ASSERT_TRUE(values.isArray());
    const char16_t* cells[] = {u"A1", u"A2", u"A3", u"A4", u"A5", u"A6"};
    for (int r = 1; r <= 6; ++r) {
        SCOPED_TRACE(r);
        const Variant one = get(this->range(sheet.get(), cells[r - 1], cells[r - 1]).get(), dispid::Value);
        for (const Variant& v : {one, element(values, r, 1)}) {
            ASSERT_EQ(v.vt(), expected[r - 1].vt);
            if (v.vt() == VT_DATE) {
                EXPECT_NEAR(v.date(), expected[r - 1].value, 1e-9);
            } else if (v.vt() == VT_R8) {
                EXPECT_EQ(v.dblVal(), expected[r - 1].value);
            } else if (v.vt() == VT_BOOL) {
                EXPECT_NE(v.boolVal(), VARIANT_FALSE);
            }
        }
    }
    EXPECT_EQ(get(this->range(sheet.get(), u"A2", u"A2").get(), dispid::Text).bstrVal(), u"2024-06-01");

    auto mergeCells = [&](const char16_t* from, const char16_t* to) {
        return get(this->range(sheet.get(), from, to).get(), dispid::MergeCells);
    };
    EXPECT_NE(mergeCells(u"B2", u"C3").boolVal(), VARIANT_FALSE);
    EXPECT_NE(mergeCells(u"C3", u"C3").boolVal(), VARIANT_FALSE);  // a covered cell, not the area's first
    EXPECT_EQ(mergeCells(u"E2", u"E3").vt(), VT_BOOL);
    EXPECT_EQ(mergeCells(u"B3", u"C4").vt(), VT_NULL);
    EXPECT_EQ(mergeCells(u"A1", u"Z100").vt(), VT_NULL);
    Variant none = mergeCells(u"F1", u"Z1024");
    ASSERT_EQ(none.vt(), VT_BOOL);
    EXPECT_EQ(none.boolVal(), VARIANT_FALSE);
    auto mergeArea = [&](const char16_t* from, const char16_t* to) {
        return get(object(this->range(sheet.get(), from, to).get(), dispid::MergeArea).get(), dispid::Address)
            .bstrVal();
    };
    EXPECT_EQ(mergeArea(u"C3", u"C3"), u"$B$2:$C$3");
    EXPECT_EQ(mergeArea(u"E2", u"E3"), u"$E$1:$E$4");
    EXPECT_EQ(mergeArea(u"C4", u"C4"), u"$C$4");
}

REGISTER_TYPED_TEST_SUITE_P(FrontContract, MembersRefuseArgumentsTheyDoNotTake,
                            AssignmentsAreCheckedWholeBeforeAnyCellChanges,
                            BlocksOfValuesGoInAndComeBackAsAutomationGivesThem,
                            CommentsSurviveValuesWrittenOverTheirCellsAndTheCommandsEnd,
                            ClearCommentsRemovesTheCommentsOfTheRangeOnly,
                            SheetsAreAddedBeforeTheActiveOneAndNamedByTheWorkbooksRules,
                            NewWorkbooksAreNamedBookNAndReserveTheirFile, AFailedSaveLeavesTheWorkbookOnDiskWhole,
                            DatesTruthValuesAndMergedAreasReadAsTheApplicationAnswersThem);

}  // namespace automation::test
