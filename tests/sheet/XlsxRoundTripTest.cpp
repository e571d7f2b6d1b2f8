// Workbooks as .xlsx files, checked against a reader and a writer we did not write
// (openpyxl): what the stand-in saves opens there with values, notes, text format,
// bold rows, wrapped text, widths and sheet names; what openpyxl saves opens here; content the
// stand-in does not model survives a save; failed saves leave the file alone.
#include "SheetTestSupport.h"

#include "sheet/xlsx/Zip.h"
#include "tests/common/FileFault.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

namespace sheet::test {
namespace {

std::string fixture(const std::string& name) { return std::string(TABLORA_FIXTURES_DIR) + "/xlsx/" + name; }

std::map<std::string, std::string> xlsxEntries(const std::string& bytes) {
    xlsx::ZipReader zip(bytes, xlsx::ReadLimits{});
    std::map<std::string, std::string> out;
    for (const auto& n : zip.names()) out[n] = zip.read(n);
    return out;
}

class XlsxRoundTripTest : public SheetTest {
protected:
    // Opens a copy of a fixture in the scratch folder and returns its active sheet.
    ComPtr<IDispatch> openCopy(const std::string& name) {
        std::filesystem::copy_file(fixture(name), folder() + "/" + name);
        openWorkbookFile(name);
        return getObject(app.get(), id::ActiveSheet);
    }
    ComPtr<IDispatch> sheetNamed(const std::string& name) {
        auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
        return getObject(sheets.get(), id::Item, {bstr(name)});
    }
    static std::u16string commentOf(IDispatch* cell) {
        auto comment = getObject(cell, id::Comment);
        if (!comment) return u"<none>";
        return call(comment.get(), id::Text, DISPATCH_METHOD,
                    {Variant::missing(), Variant::missing(), Variant::missing()})
            .bstrVal();
    }
};

TEST_F(XlsxRoundTripTest, WhatTheStandInWritesReadsBackInOpenpyxl) {
    if (!hasOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    auto sheet = newSheet();
    put(sheet.get(), id::Name, bstr("DOOR"));
    const char* header[] = {"Block", "TAG", "X"};
    for (int c = 1; c <= 3; ++c) {
        auto h = cell(sheet.get(), 1, c);
        put(h.get(), id::NumberFormat, bstr("@"));
        put(h.get(), id::Value, bstr(header[c - 1]));
    }
    call(cell(sheet.get(), 1, 3).get(), id::AddComment, DISPATCH_METHOD, {bstr("X marker")});
    auto row1 = getObject(sheet.get(), id::Range, {bstr("A1"), bstr("A1")});
    put(getObject(getObject(row1.get(), id::EntireRow).get(), id::Font).get(), id::Bold, Variant::boolean(true));
    auto a2 = cell(sheet.get(), 2, 1);
    call(a2.get(), id::AddComment, DISPATCH_METHOD, {bstr("1F3")});
    put(a2.get(), id::Value, bstr("DOOR & <frame>"));
    auto b2 = cell(sheet.get(), 2, 2);
    put(b2.get(), id::NumberFormat, bstr("@"));
    put(b2.get(), id::Value, bstr("007"));
    put(cell(sheet.get(), 2, 3).get(), id::Value, bstr("12.5"));
    put(cell(sheet.get(), 3, 1).get(), id::Value, Variant::bstr(u"Ünïcödé \u2713 \U0001D11E\ttab"));
    // Lines of a text shown as lines: in a bold text-formatted header and in a plain cell.
    put(cell(sheet.get(), 4, 1).get(), id::Value, bstr("first line\nsecond line"));
    put(getObject(sheet.get(), id::Range, {bstr("C1"), bstr("A4")}).get(), id::WrapText, Variant::boolean(true));
    put(getObject(sheet.get(), id::Range, {bstr("A2"), bstr("C3")}).get(), id::WrapText, Variant::boolean(false));
    call(getObject(sheet.get(), id::Columns).get(), id::AutoFit, DISPATCH_METHOD);
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    auto other =
        ComPtr<IDispatch>(call(sheets.get(), id::Add, DISPATCH_METHOD,
                               {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()})
                              .pdispVal());
    put(other.get(), id::Name, bstr("WINDOW"));
    EXPECT_TRUE(flushChangedWorkbooks().empty());

    EXPECT_EQ(runPython(folder(), R"(
import openpyxl
wb = openpyxl.load_workbook("Book1.xlsx")
assert wb.sheetnames == ["WINDOW", "DOOR"], wb.sheetnames
assert wb.active.title == "WINDOW", wb.active.title
ws = wb["DOOR"]
assert ws["A1"].value == "Block" and ws["A1"].font.b and ws["C1"].font.b, (ws["A1"].value, ws["A1"].font.b)
assert ws["A1"].number_format == "@"
assert ws["C1"].comment.text == "X marker", ws["C1"].comment
assert ws["A2"].comment.text == "1F3" and ws["A2"].value == "DOOR & <frame>", ws["A2"].value
assert not ws["A2"].font.b
assert ws["B2"].value == "007" and ws["B2"].number_format == "@", (ws["B2"].value, ws["B2"].number_format)
assert ws["C2"].value == 12.5, ws["C2"].value
assert ws["A3"].value == "Ünïcödé \u2713 \U0001D11E\ttab", repr(ws["A3"].value)
assert ws["A4"].value == "first line\nsecond line" and ws["A4"].alignment.wrap_text is True, repr(ws["A4"].value)
assert ws["C1"].alignment.wrap_text is True and ws["C1"].font.b and ws["C1"].number_format == "@"
assert not any(ws[c].alignment.wrap_text for c in ("A2", "B2", "C2", "A3", "D4")), "wrapped beside"
assert ws.column_dimensions["A"].width > ws.column_dimensions["B"].width > 0, ws.column_dimensions["A"].width
assert ws["B1"].comment is None
)"),
              0);
}

TEST_F(XlsxRoundTripTest, WhatOpenpyxlWroteOpensWithItsValuesNotesAndFormats) {
    auto notes = openCopy("openpyxl-comments-textformat.xlsx");
    EXPECT_EQ(call(notes.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Notes");
    EXPECT_EQ(call(cell(notes.get(), 1, 1).get(), id::Value, DISPATCH_PROPERTYGET).bstrVal(), u"  spaced  ");
    EXPECT_EQ(call(cell(notes.get(), 2, 1).get(), id::Value, DISPATCH_PROPERTYGET).bstrVal(),
              u"Ünïcödé \u2713 \U0001D11E");
    EXPECT_EQ(call(getObject(app.get(), id::ActiveWorkbook).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(),
              u"openpyxl-comments-textformat.xlsx");

    auto door = sheetNamed("DOOR");
    struct Case {
        int row, column;
        VARTYPE vt;
        std::u16string text, comment, format;
        bool isBold;
    } cases[] = {{1, 1, VT_BSTR, u"Block", u"<none>", u"General", true},
                 {1, 2, VT_BSTR, u"TAG", u"X-marker", u"General", true},
                 {2, 1, VT_BSTR, u"DOOR", u"1F3", u"General", false},
                 {2, 2, VT_BSTR, u"007", u"<none>", u"@", false},
                 {2, 3, VT_R8, u"12.5", u"<none>", u"General", false},
                 {2, 4, VT_BOOL, u"TRUE", u"<none>", u"General", false},
                 // A formula openpyxl left without a value: not empty, but not available.
                 {2, 5, VT_ERROR, u"", u"<none>", u"General", false}};
    for (auto& k : cases) {
        SCOPED_TRACE(narrow(k.text));
        auto c = cell(door.get(), k.row, k.column);
        EXPECT_EQ(call(c.get(), id::Value, DISPATCH_PROPERTYGET).vt(), k.vt);
        EXPECT_EQ(call(c.get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), k.text);
        EXPECT_EQ(commentOf(c.get()), k.comment);
        EXPECT_EQ(call(c.get(), id::NumberFormat, DISPATCH_PROPERTYGET).bstrVal(), k.format);
        EXPECT_EQ(call(getObject(c.get(), id::Font).get(), id::Bold, DISPATCH_PROPERTYGET).boolVal() != 0, k.isBold);
    }
}

TEST_F(XlsxRoundTripTest, ChangingAUserFileKeepsWhatTheStandInDoesNotModel) {
    if (!hasOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    openCopy("openpyxl-comments-textformat.xlsx");
    auto door = sheetNamed("DOOR");
    put(cell(door.get(), 3, 2).get(), id::Value, bstr("008"));  // General: becomes 8
    call(cell(door.get(), 3, 1).get(), id::AddComment, DISPATCH_METHOD, {bstr("2A0")});
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(runPython(folder(), R"(
import openpyxl
wb = openpyxl.load_workbook("openpyxl-comments-textformat.xlsx")
assert wb.sheetnames == ["DOOR", "Notes"] and wb.active.title == "Notes"
ws = wb["DOOR"]
assert ws["B3"].value == 8 and ws["A3"].comment.text == "2A0"
assert ws["A2"].comment.text == "1F3" and ws["B1"].comment.text == "X-marker"
assert ws["B2"].value == "007" and ws["B2"].number_format == "@"
assert ws["E2"].value == "=C2*2", ws["E2"].value
assert [str(r) for r in ws.merged_cells.ranges] == ["F1:G1"], ws.merged_cells.ranges
assert ws.freeze_panes == "A2", ws.freeze_panes
assert ws.column_dimensions["A"].width == 20
assert "Tags" in wb.defined_names, list(wb.defined_names)
assert wb["Notes"]["A1"].value == "  spaced  "
assert wb.properties.creator == "openpyxl", wb.properties.creator
)"),
              0);
}

TEST_F(XlsxRoundTripTest, UnchangedSheetsAndUnknownPartsAreWrittenBackByteForByte) {
    openCopy("openpyxl-comments-textformat.xlsx");
    std::string before = readFile(fixture("openpyxl-comments-textformat.xlsx"));
    put(cell(sheetNamed("Notes").get(), 5, 5).get(), id::Value, bstr("changed"));
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    // Read both packages and compare entries other than the changed ones.
    auto original = xlsxEntries(before);
    auto written = xlsxEntries(readFile("openpyxl-comments-textformat.xlsx"));
    for (const char* same : {"xl/worksheets/sheet1.xml", "xl/comments/comment1.xml", "xl/drawings/commentsDrawing1.vml",
                             "xl/theme/theme1.xml", "docProps/core.xml", "xl/worksheets/_rels/sheet1.xml.rels"}) {
        SCOPED_TRACE(same);
        ASSERT_TRUE(original.count(same) && written.count(same));
        EXPECT_EQ(original[same], written[same]);
    }
    EXPECT_NE(original["xl/worksheets/sheet2.xml"], written["xl/worksheets/sheet2.xml"]);
}

TEST_F(XlsxRoundTripTest, RepeatedSavesKeepEveryTextInItsCellAndStoreRepeatsOnce) {
    auto first = newSheet();
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    auto putText = [&](IDispatch* sheet, int row, const char* text) {
        put(cell(sheet, row, 1).get(), id::Value, bstr(text));
    };
    putText(first.get(), 1, "x");
    putText(first.get(), 2, "y");
    putText(first.get(), 3, "x");
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    auto second =
        ComPtr<IDispatch>(call(sheets.get(), id::Add, DISPATCH_METHOD,
                               {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()})
                              .pdispVal());
    putText(second.get(), 1, "y");
    putText(second.get(), 2, "z");
    putText(first.get(), 4, "z");
    putText(first.get(), 2, "overwritten");
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    putText(second.get(), 3, "x");  // the first sheet is now copied as it was written
    ASSERT_TRUE(flushChangedWorkbooks().empty());

    // Saved like any user file, not left private as a temporary file is made.
    EXPECT_EQ(std::filesystem::status("Book1.xlsx").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);

    auto entries = xlsxEntries(readFile("Book1.xlsx"));
    const std::string& sst = entries["xl/sharedStrings.xml"];
    for (const char* text : {"<t>x</t>", "<t>z</t>", "<t>overwritten</t>"}) {
        SCOPED_TRACE(text);
        auto at = sst.find(text);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(sst.find(text, at + 1), std::string::npos) << "stored twice";
    }
    first.reset();
    second.reset();
    sheets.reset();
    app.reset();
    stopSpreadsheetApplication();
    openWorkbookFile("Book1.xlsx");
    app = runningSpreadsheetApplication();
    auto check = [&](const char* sheetName, std::vector<std::u16string> expected) {
        SCOPED_TRACE(sheetName);
        auto sheet = sheetNamed(sheetName);
        for (std::size_t r = 0; r < expected.size(); ++r)
            EXPECT_EQ(
                call(cell(sheet.get(), static_cast<int>(r + 1), 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(),
                expected[r]);
    };
    check("Sheet1", {u"x", u"overwritten", u"x", u"z"});
    check("Sheet2", {u"y", u"z", u"x"});
}

TEST_F(XlsxRoundTripTest, AFailedSaveLeavesThePreviousFileIntact) {
    auto sheet = openCopy("openpyxl-comments-textformat.xlsx");
    std::string before = readFile("openpyxl-comments-textformat.xlsx");
    put(cell(sheet.get(), 9, 9).get(), id::Value, bstr("lost?"));
    std::vector<std::string> problems;
    {
        // The disk fills up part way through the temporary file.
        platform::test::FileFault full(platform::test::FileFault::AfterBytes{2048}, ENOSPC);
        problems = flushChangedWorkbooks();
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("openpyxl-comments-textformat.xlsx"), std::string::npos) << problems[0];
    EXPECT_EQ(readFile("openpyxl-comments-textformat.xlsx"), before);
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder())) files += e.path().filename() != "check.py";
    EXPECT_EQ(files, 1u) << "a temporary file was left behind";
    // The change is still pending and reaches the disk with the next flush.
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_NE(readFile("openpyxl-comments-textformat.xlsx"), before);
    sheet.reset();
    app.reset();
    stopSpreadsheetApplication();
    openWorkbookFile("openpyxl-comments-textformat.xlsx");
    app = runningSpreadsheetApplication();
    auto again = getObject(app.get(), id::ActiveSheet);
    EXPECT_EQ(call(cell(again.get(), 9, 9).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"lost?");
}

TEST_F(XlsxRoundTripTest, NotesBesideFormControlsCannotBeRewrittenButCellsCan) {
    auto entries = xlsxEntries(readFile(fixture("openpyxl-comments-textformat.xlsx")));
    std::string& vml = entries["xl/drawings/commentsDrawing1.vml"];
    auto at = vml.find("ObjectType=\"Note\"");
    ASSERT_NE(at, std::string::npos);
    vml.replace(at, 17, "ObjectType=\"Button\"");
    xlsx::ZipWriter zip;
    for (auto& [name, bytes] : entries) zip.add(name, bytes);
    std::string bytes = zip.finish();
    std::ofstream("controls.xlsx", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    openWorkbookFile("controls.xlsx");
    auto door = sheetNamed("DOOR");
    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(cell(door.get(), 5, 1).get(), id::AddComment, DISPATCH_METHOD, {bstr("new")}, &info),
              DISP_E_EXCEPTION);
    EXPECT_NE(narrow(info.bstrDescription).find("Button"), std::string::npos) << narrow(info.bstrDescription);
    put(cell(door.get(), 5, 1).get(), id::Value, bstr("cells still change"));
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    auto written = xlsxEntries(readFile("controls.xlsx"));
    EXPECT_EQ(written["xl/drawings/commentsDrawing1.vml"], vml);
    EXPECT_EQ(written["xl/comments/comment1.xml"], entries["xl/comments/comment1.xml"]);
}

TEST_F(XlsxRoundTripTest, ContentThatCannotBeCarriedThroughOpensReadOnly) {
    if (!hasOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    ASSERT_EQ(runPython(folder(), R"(
import openpyxl
from openpyxl.chart import BarChart, Reference
wb = openpyxl.Workbook()
ws = wb.active
ws["A1"] = 1
cs = wb.create_chartsheet("Chart")
chart = BarChart()
chart.add_data(Reference(ws, min_col=1, min_row=1, max_row=1))
cs.add_chart(chart)
wb.active = 0
wb.save("chart.xlsx")
)"),
              0);
    std::string before = readFile("chart.xlsx");
    openWorkbookFile("chart.xlsx");
    auto sheet = getObject(app.get(), id::ActiveSheet);
    EXPECT_EQ(call(cell(sheet.get(), 1, 1).get(), id::Value, DISPATCH_PROPERTYGET).dblVal(), 1.0);
    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(cell(sheet.get(), 1, 1).get(), id::Value, DISPATCH_PROPERTYPUT, {bstr("2")}, &info),
              DISP_E_EXCEPTION);
    EXPECT_NE(narrow(info.bstrDescription).find("read-only"), std::string::npos);
    EXPECT_EQ(rawInvoke(cell(sheet.get(), 1, 1).get(), id::WrapText, DISPATCH_PROPERTYPUT, {Variant::boolean(true)}),
              DISP_E_EXCEPTION);
    EXPECT_FALSE(call(cell(sheet.get(), 1, 1).get(), id::WrapText, DISPATCH_PROPERTYGET).boolVal());
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(readFile("chart.xlsx"), before);
}

// A host reads its workbooks on another thread while it opens the drawing; what it
// then opens must be the file as it is at that moment.
TEST_F(XlsxRoundTripTest, AWorkbookPreparedOnAnotherThreadOpensAsTheFileIsThen) {
    std::filesystem::copy_file(fixture("openpyxl-comments-textformat.xlsx"), folder() + "/book.xlsx");
    auto prepared = std::async(std::launch::async, [] { return prepareWorkbookFile("book.xlsx"); }).get();
    openWorkbookFile(prepared);
    auto door = sheetNamed("DOOR");
    std::u16string header = call(cell(door.get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal();
    EXPECT_FALSE(header.empty());

    // Prepared, then changed on disk before it was opened: the change is what opens.
    put(cell(door.get(), 1, 1).get(), id::Value, bstr("changed later"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    door.reset();
    app.reset();
    stopSpreadsheetApplication();
    std::filesystem::copy_file(folder() + "/book.xlsx", folder() + "/stale.xlsx");
    std::filesystem::copy_file(fixture("openpyxl-comments-textformat.xlsx"), folder() + "/stale.xlsx",
                               std::filesystem::copy_options::overwrite_existing);
    auto stale = prepareWorkbookFile("stale.xlsx");
    std::filesystem::copy_file(folder() + "/book.xlsx", folder() + "/stale.xlsx",
                               std::filesystem::copy_options::overwrite_existing);
    openWorkbookFile(stale);
    app = runningSpreadsheetApplication();
    EXPECT_EQ(call(cell(sheetNamed("DOOR").get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(),
              u"changed later");

    // A file that cannot be read fails when prepared, naming it.
    try {
        (void)prepareWorkbookFile("missing.xlsx");
        ADD_FAILURE() << "no error for a missing file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.xlsx"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace sheet::test
