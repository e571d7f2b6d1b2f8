// Value coercion and displayed text through automation, sheet naming, and how new
// sheets and workbooks are named and placed.
#include "SheetTestSupport.h"
#include "automation/DispatchSupport.h"
#include "sheet/xlsx/XlsxError.h"

#include <sys/stat.h>

namespace sheet::test {
namespace {

class ValuesAndNamesTest : public SheetTest {};

TEST_F(ValuesAndNamesTest, AssignedValuesComeBackTypedAsTheApplicationStoresThem) {
    auto sheet = newSheet();
    struct Case {
        const char* what;
        bool isTextFormat;
        Variant assigned;
        VARTYPE vt;
        std::u16string text;
    } cases[] = {
        {"digits in General become a number", false, bstr("007"), VT_R8, u"7"},
        {"digits in text format stay text", true, bstr("007"), VT_BSTR, u"007"},
        {"decimal text in General", false, bstr("12.50"), VT_R8, u"12.5"},
        {"words stay text", false, bstr("DOOR-A"), VT_BSTR, u"DOOR-A"},
        {"decimal comma stays text", false, bstr("12,5"), VT_BSTR, u"12,5"},
        {"empty text empties the cell", false, bstr(""), VT_EMPTY, u""},
        {"a double", false, Variant::r8(2.25), VT_R8, u"2.25"},
        {"a 16-bit integer", true, Variant::i2(-3), VT_R8, u"-3"},
        {"a Boolean", false, Variant::boolean(true), VT_BOOL, u"TRUE"},
        {"an error value", false, Variant::error(static_cast<SCODE>(0x800A07D7u)), VT_ERROR, u"#DIV/0!"},
        {"EMPTY clears", false, Variant(), VT_EMPTY, u""},
    };
    int row = 1;
    for (auto& k : cases) {
        SCOPED_TRACE(k.what);
        auto c = cell(sheet.get(), row++, 2);
        if (k.isTextFormat) put(c.get(), id::NumberFormat, bstr("@"));
        put(c.get(), id::Value, k.assigned);
        Variant v = call(c.get(), id::Value, DISPATCH_PROPERTYGET);
        EXPECT_EQ(v.vt(), k.vt);
        EXPECT_EQ(call(c.get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), k.text);
        if (k.vt == VT_ERROR) {
            EXPECT_EQ(static_cast<std::uint32_t>(v.scode()), 0x800A07D7u);
        }
    }
    // A never-written cell is EMPTY with an empty text.
    EXPECT_EQ(call(cell(sheet.get(), 500, 500).get(), id::Value, DISPATCH_PROPERTYGET).vt(), VT_EMPTY);
    EXPECT_EQ(call(cell(sheet.get(), 1, 2).get(), id::Value, DISPATCH_PROPERTYGET).dblVal(), 7.0);
}

TEST_F(ValuesAndNamesTest, RefusedSheetNamesRaiseAnApplicationErrorAndKeepTheOldName) {
    auto sheet = newSheet();
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    auto second =
        ComPtr<IDispatch>(call(sheets.get(), id::Add, DISPATCH_METHOD,
                               {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()})
                              .pdispVal());
    put(second.get(), id::Name, bstr("DOOR"));
    for (const char* refused : {"", "a/b", "what?", "[x]", "0123456789012345678901234567890X", "SHEET1", "History"}) {
        SCOPED_TRACE(refused);
        EXCEPINFO info;
        EXPECT_EQ(rawInvoke(second.get(), id::Name, DISPATCH_PROPERTYPUT, {bstr(refused)}, &info), DISP_E_EXCEPTION);
        EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x800A03ECu);
        EXPECT_EQ(call(second.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"DOOR");
    }
    put(second.get(), id::Name, bstr("Door"));  // its own name in another case is fine
    EXPECT_EQ(call(second.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Door");
}

TEST_F(ValuesAndNamesTest, AddedSheetsGoBeforeTheActiveOneWithTheNextNumberAndBecomeActive) {
    auto first = newSheet();
    auto book = getObject(app.get(), id::ActiveWorkbook);
    auto sheets = getObject(book.get(), id::Worksheets);
    auto add = [&] {
        return ComPtr<IDispatch>(call(sheets.get(), id::Add, DISPATCH_METHOD,
                                      {Variant::missing(), Variant::missing(), Variant::missing(), Variant::missing()})
                                     .pdispVal());
    };
    auto s2 = add();
    auto s3 = add();
    call(first.get(), id::Activate, DISPATCH_METHOD);
    auto s4 = add();
    std::vector<std::u16string> order;
    for (int i = 1; i <= call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).lVal(); ++i)
        order.push_back(
            call(getObject(sheets.get(), id::Item, {Variant::i4(i)}).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal());
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Sheet3", u"Sheet2", u"Sheet4", u"Sheet1"}));
    EXPECT_EQ(call(getObject(app.get(), id::ActiveSheet).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Sheet4");
}

// A workbook takes sheets up to the most a saved file may hold (and still open);
// one past it is refused whole, with the application's error, and adds nothing.
TEST_F(ValuesAndNamesTest, SheetsAreAddedUpToTheMostAWorkbookTakes) {
    auto first = newSheet();
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    auto count = [&] { return static_cast<std::uint64_t>(call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).lVal()); };
    auto add = [&](int n, EXCEPINFO* info) {
        return rawInvoke(sheets.get(), id::Add, DISPATCH_METHOD,
                         {Variant::missing(), Variant::missing(), Variant::i4(n), Variant::missing()}, info);
    };
    while (count() + 255 <= xlsx::kMostSheets) ASSERT_EQ(add(255, nullptr), S_OK);
    const int room = static_cast<int>(xlsx::kMostSheets - count());
    EXCEPINFO info;
    EXPECT_EQ(add(room + 1, &info), DISP_E_EXCEPTION) << "one more than there is room for";
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x800A03ECu);
    EXPECT_NE(narrow(info.bstrDescription).find("at most " + std::to_string(xlsx::kMostSheets) + " sheets"),
              std::string::npos);
    EXPECT_EQ(count() + room, xlsx::kMostSheets) << "a refused Add adds no sheet";
    EXPECT_EQ(add(room, nullptr), S_OK);
    EXPECT_EQ(add(1, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(count(), xlsx::kMostSheets);
}

// Input an error repeats (a refused name, a reference, a format) is cut: a text of
// a hundred thousand characters does not come back whole in the description.
TEST_F(ValuesAndNamesTest, ErrorsQuoteLongInputCut) {
    auto sheet = newSheet();
    const std::string digits(100000, '7');
    struct Case {
        const char* what;
        IDispatch* object;
        DISPID member;
        WORD flags;
    } cases[] = {
        {"sheet name", sheet.get(), id::Name, DISPATCH_PROPERTYPUT},
        {"cell reference", sheet.get(), id::Range, DISPATCH_PROPERTYGET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXCEPINFO info;
        ASSERT_EQ(rawInvoke(c.object, c.member, c.flags, {bstr(digits)}, &info), DISP_E_EXCEPTION);
        const std::string description = narrow(info.bstrDescription);
        EXPECT_NE(description.find("'" + digits.substr(0, kQuotedCharacters) + "...'"), std::string::npos)
            << description.substr(0, 200);
        EXPECT_LT(description.size(), 300u);
    }
}

TEST_F(ValuesAndNamesTest, NewWorkbooksTakeTheFirstFreeBookNumberOnDisk) {
    // A file of another program already holds Book1.xlsx; it must not be overwritten.
    {
        FILE* f = std::fopen("Book1.xlsx", "w");
        std::fputs("not ours", f);
        std::fclose(f);
    }
    auto books = getObject(app.get(), id::Workbooks);
    auto b1 = ComPtr<IDispatch>(call(books.get(), id::Add, DISPATCH_METHOD, {Variant::missing()}).pdispVal());
    auto b2 = ComPtr<IDispatch>(call(books.get(), id::Add, DISPATCH_METHOD, {Variant::missing()}).pdispVal());
    EXPECT_EQ(call(b1.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Book2");
    EXPECT_EQ(call(b2.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Book3");
    EXPECT_EQ(call(getObject(app.get(), id::ActiveWorkbook).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Book3");
    struct stat st;
    EXPECT_EQ(::stat("Book2.xlsx", &st), 0);
    EXPECT_EQ(::stat("Book3.xlsx", &st), 0);
    FILE* f = std::fopen("Book1.xlsx", "r");
    char buffer[16] = {};
    std::fgets(buffer, sizeof buffer, f);
    std::fclose(f);
    EXPECT_STREQ(buffer, "not ours");
    EXPECT_EQ(call(books.get(), id::Count, DISPATCH_PROPERTYGET).lVal(), 2);
}

}  // namespace
}  // namespace sheet::test
