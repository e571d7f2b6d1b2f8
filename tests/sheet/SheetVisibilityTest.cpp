// Hidden and very hidden worksheets: Worksheet.Visible and the rules that keep a
// workbook showable (a visible sheet is left, the active sheet is a visible one), and
// the hidden state through the .xlsx file: written so that other programs keep the
// sheet hidden, read back from files they wrote, followed when the file changes.
#include "SheetTestSupport.h"

#include "sheet/Book.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/Zip.h"
#include "tests/common/SharedData.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace sheet::test {
namespace {

using namespace std::chrono_literals;

constexpr HRESULT kApplicationFailure = static_cast<HRESULT>(0x800A03ECu);

std::string entry(const std::string& package, const std::string& name) {
    xlsx::ZipReader zip(package, xlsx::ReadLimits{});
    return zip.has(name) ? zip.read(name) : std::string();
}

// The <sheet .../> entries and the first <workbookView .../> of a workbook.xml.
std::string sheetEntries(const std::string& workbookXml) {
    auto from = workbookXml.find("<sheets>");
    auto to = workbookXml.find("</sheets>");
    return from == std::string::npos || to == std::string::npos ? std::string() : workbookXml.substr(from, to - from);
}
std::string sheetEntry(const std::string& workbookXml, const std::string& name) {
    auto from = workbookXml.find("<sheet name=\"" + name + "\"");
    return from == std::string::npos ? std::string() : workbookXml.substr(from, workbookXml.find('>', from) + 1 - from);
}
std::string workbookView(const std::string& workbookXml) {
    auto from = workbookXml.find("<workbookView");
    return from == std::string::npos ? std::string() : workbookXml.substr(from, workbookXml.find('>', from) + 1 - from);
}

std::string corpusFile(const std::string& name) {
    return (tabro::testing::sharedPath("corpus/xlsx/xlsxwriter") / name).string();
}

// What the Office Open XML validator says of a workbook in folder, through the finder
// the end-to-end tests use: empty when valid. Without the validator, a line says so
// and the answer is empty, unless the validator is required.
std::string validatorErrors(const std::string& folder, const std::string& file) {
    const std::string script =
        "import os, sys\n"
        "sys.path.insert(0, '" TABLORA_TESTS_DIR
        "/e2e')\n"
        "os.environ.setdefault('TABLORA_BIN_DIR', '" TABLORA_BIN_DIR
        "')\n"
        "import ooxml\n"
        "validator = ooxml.find_validator()\n"
        "if not validator:\n"
        "    print('OOXML validator not installed: " +
        file +
        " not validated')\n"
        "    sys.exit(1 if ooxml.required() else 0)\n"
        "errors = ooxml.validate(validator, '" +
        file +
        "')\n"
        "for error in errors:\n"
        "    print(error)\n"
        "sys.exit(1 if errors else 0)\n";
    return runPython(folder, script) == 0 ? std::string() : file + " is not valid Office Open XML (above)";
}

class SheetVisibilityTest : public SheetTest {
protected:
    // A new workbook whose sheets are named, in tab order, as given; the first is active.
    ComPtr<IDispatch> bookOf(std::initializer_list<const char*> names) {
        auto first = newSheet();
        auto book = getObject(first.get(), id::Parent);
        auto sheets = getObject(book.get(), id::Worksheets);
        for (std::size_t i = 1; i < names.size(); ++i)
            call(sheets.get(), id::Add, DISPATCH_METHOD,
                 {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()});
        int index = 1;
        for (const char* name : names) put(sheetAt(book.get(), index++).get(), id::Name, bstr(name));
        call(sheetAt(book.get(), 1).get(), id::Activate, DISPATCH_METHOD);
        return book;
    }
    static ComPtr<IDispatch> sheetAt(IDispatch* book, int index) {
        return getObject(getObject(book, id::Worksheets).get(), id::Item, {Variant::i4(index)});
    }
    static ComPtr<IDispatch> sheetNamed(IDispatch* book, const std::string& name) {
        return getObject(getObject(book, id::Worksheets).get(), id::Item, {bstr(name)});
    }
    static LONG visibility(IDispatch* sheet) {
        Variant v = call(sheet, id::Visible, DISPATCH_PROPERTYGET);
        EXPECT_EQ(v.vt(), VT_I4);
        return v.lVal();
    }
    static std::string activeName(IDispatch* book) {
        return narrow(call(getObject(book, id::ActiveSheet).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal());
    }
    // The result of one Visible put: S_OK, the application's error, or the dispatch code.
    static HRESULT tryVisible(IDispatch* sheet, Variant value) {
        EXCEPINFO info{};
        HRESULT hr = rawInvoke(sheet, id::Visible, DISPATCH_PROPERTYPUT, {std::move(value)}, &info);
        return hr == DISP_E_EXCEPTION ? info.scode : hr;
    }
    static HRESULT tryActivate(IDispatch* sheet) {
        EXCEPINFO info{};
        HRESULT hr = rawInvoke(sheet, id::Activate, DISPATCH_METHOD, {}, &info);
        return hr == DISP_E_EXCEPTION ? info.scode : hr;
    }
};

TEST_F(SheetVisibilityTest, VisibleTakesTheApplicationsValuesAndAnswersThemAsALong) {
    auto book = bookOf({"A", "B"});
    auto b = sheetNamed(book.get(), "B");
    EXPECT_EQ(visibility(b.get()), -1);
    struct Case {
        const char* what;
        Variant value;
        HRESULT result;
        LONG after;  // Visible read back
    } cases[] = {
        {"xlSheetHidden", Variant::i4(0), S_OK, 0},
        {"xlSheetVisible", Variant::i4(-1), S_OK, -1},
        {"xlSheetVeryHidden", Variant::i4(2), S_OK, 2},
        {"true", Variant::boolean(true), S_OK, -1},
        {"false", Variant::boolean(false), S_OK, 0},
        {"very hidden as a short", Variant::i2(2), S_OK, 2},
        {"visible as a double", Variant::r8(-1.0), S_OK, -1},
        {"1 is no visibility", Variant::i4(1), kApplicationFailure, -1},
        {"3 is no visibility", Variant::i4(3), kApplicationFailure, -1},
        {"a name is no visibility", bstr("hidden"), DISP_E_TYPEMISMATCH, -1},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(tryVisible(b.get(), k.value), k.result);
        EXPECT_EQ(visibility(b.get()), k.after);
        put(b.get(), id::Visible, Variant::i4(-1));
    }
    EXPECT_EQ(tryVisible(b.get(), Variant::missing()), DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(SheetVisibilityTest, AWorkbookKeepsOneVisibleSheetAndAVisibleActiveSheet) {
    auto book = bookOf({"A", "B", "C", "D"});
    auto a = sheetNamed(book.get(), "A"), b = sheetNamed(book.get(), "B"), c = sheetNamed(book.get(), "C"),
         d = sheetNamed(book.get(), "D");
    // Hiding the active sheet hands the activation to the next visible one, past
    // hidden ones; the last one hands it back to the nearest visible before it.
    put(c.get(), id::Visible, Variant::i4(0));
    call(b.get(), id::Activate, DISPATCH_METHOD);
    put(b.get(), id::Visible, Variant::i4(0));
    EXPECT_EQ(activeName(book.get()), "D");
    put(d.get(), id::Visible, Variant::i4(2));
    EXPECT_EQ(activeName(book.get()), "A");
    EXPECT_EQ(activeName(app.get()), "A");
    // A is the one visible sheet left: neither hidden nor very hidden it can be.
    for (LONG hidden : {0, 2}) {
        SCOPED_TRACE(hidden);
        EXPECT_EQ(tryVisible(a.get(), Variant::i4(hidden)), kApplicationFailure);
        EXPECT_EQ(visibility(a.get()), -1);
    }
    // A hidden sheet changes between hidden and very hidden freely, is not activated,
    // and hiding one that is not active leaves the active sheet alone.
    put(b.get(), id::Visible, Variant::i4(2));
    EXPECT_EQ(visibility(b.get()), 2);
    for (auto* hidden : {b.get(), c.get(), d.get()}) EXPECT_EQ(tryActivate(hidden), kApplicationFailure);
    EXPECT_EQ(activeName(book.get()), "A");
    put(c.get(), id::Visible, Variant::boolean(true));
    EXPECT_EQ(activeName(book.get()), "A");
    EXPECT_EQ(tryActivate(c.get()), S_OK);
    EXPECT_EQ(activeName(book.get()), "C");
    put(a.get(), id::Visible, Variant::i4(0));
    EXPECT_EQ(activeName(book.get()), "C");
    // A sheet added now is visible and active, placed before the active one as ever.
    auto sheets = getObject(book.get(), id::Worksheets);
    auto added =
        ComPtr<IDispatch>(call(sheets.get(), id::Add, DISPATCH_METHOD,
                               {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()})
                              .pdispVal());
    EXPECT_EQ(visibility(added.get()), -1);
    EXPECT_EQ(activeName(book.get()), narrow(call(added.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal()));
    EXPECT_EQ(call(added.get(), id::Index, DISPATCH_PROPERTYGET).lVal(), 3);
    // Hidden sheets still count and are found by index and by name.
    EXPECT_EQ(call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).lVal(), 5);
    EXPECT_EQ(visibility(sheetAt(book.get(), 2).get()), 2);
}

TEST_F(SheetVisibilityTest, HiddenSheetsAreSavedHiddenForOtherProgramsAndOpenHiddenAgain) {
    auto book = bookOf({"First", "Record", "Vault", "Last"});
    put(sheetNamed(book.get(), "First").get(), id::Visible, Variant::i4(0));  // active: Record
    put(sheetNamed(book.get(), "Vault").get(), id::Visible, Variant::i4(2));
    put(cell(sheetNamed(book.get(), "Vault").get(), 1, 1).get(), id::Value, bstr("kept"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    const std::string file = folder() + "/Book1.xlsx";
    const std::string workbookXml = entry(readFile(file), "xl/workbook.xml");
    // The state sits where the format's own programs put it, before the relationship.
    EXPECT_NE(sheetEntry(workbookXml, "First").find("\" state=\"hidden\" r:id=\""), std::string::npos)
        << sheetEntries(workbookXml);
    EXPECT_NE(sheetEntry(workbookXml, "Vault").find("\" state=\"veryHidden\" r:id=\""), std::string::npos)
        << sheetEntries(workbookXml);
    EXPECT_EQ(sheetEntries(workbookXml).find("state=\"visible\""), std::string::npos);
    // The tab bar starts at the first visible tab, and the active tab is Record.
    EXPECT_NE(workbookView(workbookXml).find(" firstSheet=\"1\" activeTab=\"1\""), std::string::npos)
        << workbookView(workbookXml);

    if (hasOpenpyxl()) {
        EXPECT_EQ(runPython(folder(), R"(
import openpyxl
wb = openpyxl.load_workbook("Book1.xlsx")
states = [(ws.title, ws.sheet_state) for ws in wb.worksheets]
assert states == [("First", "hidden"), ("Record", "visible"), ("Vault", "veryHidden"), ("Last", "visible")], states
assert wb.active.title == "Record", wb.active.title
assert wb["Vault"]["A1"].value == "kept"
)"),
                  0);
    } else {
        std::printf("python3-openpyxl is not installed: the file is not read back with it\n");
    }

    EXPECT_EQ(validatorErrors(folder(), "Book1.xlsx"), "");

    // Read back here as the application reads it.
    auto read = xlsx::readPackage(readFile(file), u"Book1.xlsx");
    std::vector<Visibility> states;
    for (const auto& s : read->sheets()) states.push_back(s->visibility());
    EXPECT_EQ(states, (std::vector<Visibility>{Visibility::Hidden, Visibility::Visible, Visibility::VeryHidden,
                                               Visibility::Visible}));
    EXPECT_EQ(read->activeIndex(), 1u);
    EXPECT_FALSE(read->isChanged());
}

TEST_F(SheetVisibilityTest, AFileWhoseActiveTabIsHiddenOpensOnAVisibleSheet) {
    // Another program's slip, made here by setting the model behind the rules' back.
    Book book(u"slip");
    for (const char16_t* name : {u"A", u"B", u"C"}) book.insertSheet(book.sheets().size(), name);
    book.sheets()[0]->setVisibility(Visibility::Hidden);
    book.sheets()[1]->setVisibility(Visibility::Hidden);
    book.setActiveIndex(1);
    std::string bytes = xlsx::writePackage(book);
    EXPECT_NE(workbookView(entry(bytes, "xl/workbook.xml")).find("firstSheet=\"2\""), std::string::npos);
    auto read = xlsx::readPackage(bytes, u"slip.xlsx");
    EXPECT_EQ(read->activeIndex(), 2u);
    EXPECT_FALSE(read->isChanged());
    // A sheet state no program writes is refused as any malformed part is.
    std::string workbookXml = entry(bytes, "xl/workbook.xml");
    auto at = workbookXml.find("state=\"hidden\"");
    ASSERT_NE(at, std::string::npos);
    workbookXml.replace(at, 14, "state=\"secret\"");
    xlsx::ZipWriter zip;
    xlsx::ZipReader source(bytes, xlsx::ReadLimits{});
    std::vector<std::string> names;
    for (const auto& n : source.names()) {
        zip.add(n, n == "xl/workbook.xml" ? workbookXml : source.read(n));
        names.push_back(n);
    }
    std::string bad = zip.finish(names);
    try {
        xlsx::readPackage(bad, u"bad.xlsx");
        ADD_FAILURE() << "an unknown sheet state was read";
    } catch (const xlsx::XlsxError& e) {
        EXPECT_NE(std::string(e.what()).find("'secret'"), std::string::npos) << e.what();
    }
}

TEST_F(SheetVisibilityTest, AVisibilityChangedInTheFileElsewhereReachesTheSheetsHeldHere) {
    auto book = bookOf({"Data", "Record"});
    auto record = sheetNamed(book.get(), "Record");
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    const std::string file = folder() + "/Book1.xlsx";
    // Another program hides Record and saves; the sheet object held here sees it.
    {
        auto other = xlsx::readPackage(readFile(file), u"elsewhere");
        ASSERT_TRUE(other->setSheetVisibility(1, Visibility::VeryHidden).empty());
        std::string out = xlsx::writePackage(*other);
        std::this_thread::sleep_for(20ms);  // a later modification time on coarse clocks
        writeFile(file, out);
    }
    reloadChangedWorkbooks();
    EXPECT_EQ(visibility(record.get()), 2);
    EXPECT_EQ(tryActivate(record.get()), kApplicationFailure);
    // And the other way: shown here, saved, shown there.
    put(record.get(), id::Visible, Variant::i4(-1));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    auto read = xlsx::readPackage(readFile(file), u"Book1.xlsx");
    EXPECT_TRUE(read->sheets()[1]->isVisible());
}

// hide01.xlsx and hide02.xlsx were saved by the spreadsheet program with Sheet2 of
// three hidden and very hidden; firstsheet01.xlsx has its tab bar scrolled to the 9th
// of 20 sheets.
TEST_F(SheetVisibilityTest, ForeignWorkbooksKeepTheirHiddenSheetsAndTabsByteForByte) {
    TABLORA_REQUIRE_SHARED("corpus/xlsx/xlsxwriter");
    struct Case {
        const char* file;
        LONG state;
        const char* pythonState;
    } cases[] = {{"hide01.xlsx", 0, "hidden"}, {"hide02.xlsx", 2, "veryHidden"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.file);
        const std::string original = readFile(corpusFile(k.file));
        writeFile(folder() + "/" + k.file, original);
        openWorkbookFile(k.file);
        auto book = getObject(app.get(), id::ActiveWorkbook);
        EXPECT_EQ(visibility(sheetNamed(book.get(), "Sheet1").get()), -1);
        EXPECT_EQ(visibility(sheetNamed(book.get(), "Sheet2").get()), k.state);
        EXPECT_EQ(visibility(sheetNamed(book.get(), "Sheet3").get()), -1);
        // Changed through a visible sheet and saved, the sheet entries come back as
        // the program wrote them.
        put(cell(sheetNamed(book.get(), "Sheet3").get(), 2, 2).get(), id::Value, bstr("changed"));
        ASSERT_TRUE(flushChangedWorkbooks().empty());
        const std::string before = entry(original, "xl/workbook.xml");
        const std::string after = entry(readFile(folder() + "/" + k.file), "xl/workbook.xml");
        EXPECT_EQ(sheetEntries(after), sheetEntries(before));
        EXPECT_EQ(workbookView(after), workbookView(before));
        if (hasOpenpyxl()) {
            EXPECT_EQ(runPython(folder(), std::string("import openpyxl\nwb = openpyxl.load_workbook('") + k.file +
                                              "')\nassert wb['Sheet2'].sheet_state == '" + k.pythonState +
                                              "', wb['Sheet2'].sheet_state\nassert wb['Sheet3']['B2'].value == "
                                              "'changed'\n"),
                      0);
        }
    }

    // The first tab of the bar stays where the file put it, and moves on past it
    // while that sheet is hidden.
    const std::string original = readFile(corpusFile("firstsheet01.xlsx"));
    writeFile(folder() + "/firstsheet01.xlsx", original);
    openWorkbookFile("firstsheet01.xlsx");
    auto book = getObject(app.get(), id::ActiveWorkbook);
    put(cell(sheetAt(book.get(), 20).get(), 1, 1).get(), id::Value, bstr("changed"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(workbookView(entry(readFile(folder() + "/firstsheet01.xlsx"), "xl/workbook.xml")),
              workbookView(entry(original, "xl/workbook.xml")));
    put(sheetAt(book.get(), 9).get(), id::Visible, Variant::i4(0));
    put(sheetAt(book.get(), 10).get(), id::Visible, Variant::i4(2));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    const std::string view = workbookView(entry(readFile(folder() + "/firstsheet01.xlsx"), "xl/workbook.xml"));
    EXPECT_NE(view.find(" firstSheet=\"10\" activeTab=\"19\""), std::string::npos) << view;
}

TEST_F(SheetVisibilityTest, AHiddenSheetDoesNotStaySelectedWithTheActiveOne) {
    TABLORA_REQUIRE_SHARED("corpus/xlsx/xlsxwriter");
    const std::string original = readFile(corpusFile("hide01.xlsx"));
    const std::string sheet1 = entry(original, "xl/worksheets/sheet1.xml");
    ASSERT_NE(sheet1.find(" tabSelected=\"1\""), std::string::npos) << "the file's active sheet is not Sheet1";
    writeFile(folder() + "/hide01.xlsx", original);
    openWorkbookFile("hide01.xlsx");
    auto book = getObject(app.get(), id::ActiveWorkbook);
    // Sheet1, selected in the file, is hidden without a change of its own; Sheet2 is
    // hidden already, so Sheet3 becomes active.
    put(sheetNamed(book.get(), "Sheet1").get(), id::Visible, Variant::i4(0));
    EXPECT_EQ(activeName(book.get()), "Sheet3");
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    const std::string saved = readFile(folder() + "/hide01.xlsx");
    EXPECT_EQ(entry(saved, "xl/worksheets/sheet1.xml").find("tabSelected"), std::string::npos);
    EXPECT_NE(entry(saved, "xl/worksheets/sheet1.xml").find("<sheetView workbookViewId=\"0\""), std::string::npos)
        << entry(saved, "xl/worksheets/sheet1.xml");
    // The sheets nothing happened to stay as they were.
    for (const char* same : {"xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"}) {
        SCOPED_TRACE(same);
        EXPECT_EQ(entry(saved, same), entry(original, same));
    }
    EXPECT_NE(workbookView(entry(saved, "xl/workbook.xml")).find("activeTab=\"2\""), std::string::npos);
    EXPECT_EQ(validatorErrors(folder(), "hide01.xlsx"), "");
}

}  // namespace
}  // namespace sheet::test
