// Connecting to the spreadsheet application against a registered fake: attaching,
// starting, the export workbook, block worksheets, and that every reference taken
// is given back, also when a call fails.
#include "module/spreadsheet/Connect.h"

#include "FakeSpreadsheet.h"
#include "platform/ComError.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using tabro::DispatchPtr;
using tabro::testing::FakeSpreadsheet;

class ConnectTest : public ::testing::Test {
protected:
    void SetUp() override { liveAtStart_ = platform::liveComObjects(); }
    void TearDown() override {
        fake_.reset();
        EXPECT_EQ(platform::liveComObjects(), liveAtStart_) << "an automation reference was not released";
    }
    FakeSpreadsheet& fake() {
        if (!fake_) fake_ = std::make_unique<FakeSpreadsheet>();
        return *fake_;
    }

    std::unique_ptr<FakeSpreadsheet> fake_;
    std::size_t liveAtStart_ = 0;
};

TEST_F(ConnectTest, ClassLookupByProgramIdentifierOrBracedText) {
    fake().registerClass();
    struct Case {
        const char* name;
        HRESULT result;
    };
    const Case cases[] = {
        {"Excel.Application", S_OK},
        {"excel.application", S_OK},
        {"{00024500-0000-0000-C000-000000000046}", S_OK},
        {"Nobody.Application", CO_E_CLASSSTRING},
        {"{not a guid}", CO_E_CLASSSTRING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(tabro::findSpreadsheetClass(c.name, clsid), c.result);
        if (c.result == S_OK) {
            EXPECT_TRUE(clsid == FakeSpreadsheet::kClsid);
        }
    }
}

TEST_F(ConnectTest, NotRegisteredFailsEveryWay) {
    DispatchPtr app;
    EXPECT_EQ(tabro::attachSpreadsheetApp(app), CO_E_CLASSSTRING);
    EXPECT_TRUE(FAILED(tabro::obtainSpreadsheetApp(app)));
    EXPECT_FALSE(app);
}

TEST_F(ConnectTest, NotRunningAttachFailsAndObtainStartsOne) {
    fake().registerClass();
    DispatchPtr app;
    EXPECT_EQ(tabro::attachSpreadsheetApp(app), MK_E_UNAVAILABLE);
    EXPECT_FALSE(app);
    EXPECT_EQ(fake().created, 0);

    ASSERT_EQ(tabro::obtainSpreadsheetApp(app), S_OK);
    EXPECT_EQ(app.get(), static_cast<IDispatch*>(fake().app.get()));
    EXPECT_EQ(fake().created, 1);
    EXPECT_EQ(fake().app->runs, 1) << "a new instance is put into the running state";

    // Export into it: visible, and a workbook is added since none is active.
    DispatchPtr workbook = tabro::openExportWorkbook(app.get(), 1);
    EXPECT_TRUE(fake().visible);
    ASSERT_EQ(fake().books.size(), 1u);
    EXPECT_EQ(workbook.get(), static_cast<IDispatch*>(fake().books[0]->object.get()));
    EXPECT_EQ(fake().activeBook, fake().books[0].get());
}

TEST_F(ConnectTest, RunningWithAWorkbookFollowsWorkbookSettings) {
    struct Case {
        LONG workbookSettings;
        bool reusesOpenBook;
    };
    const Case cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.workbookSettings);
        fake_.reset();
        fake().registerClass();
        fake().run();
        FakeSpreadsheet::Book& open = fake().addBook();

        DispatchPtr app;
        ASSERT_EQ(tabro::obtainSpreadsheetApp(app), S_OK);
        EXPECT_EQ(fake().created, 0) << "the running instance is used";
        DispatchPtr workbook = tabro::openExportWorkbook(app.get(), c.workbookSettings);
        EXPECT_TRUE(fake().visible);
        EXPECT_EQ(fake().books.size(), c.reusesOpenBook ? 1u : 2u);
        EXPECT_EQ(workbook.get() == static_cast<IDispatch*>(open.object.get()), c.reusesOpenBook);
        EXPECT_EQ(static_cast<IDispatch*>(fake().activeBook->object.get()), workbook.get());
        EXPECT_EQ(open.sheets.size(), 1u) << "the open workbook is left alone";
    }
}

TEST_F(ConnectTest, MissingObjectsRaisePointerErrors) {
    try {
        tabro::openExportWorkbook(nullptr, 1);
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    fake().addReturnsNothing = true;
    try {
        tabro::openExportWorkbook(fake().app.get(), 0);
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
}

TEST_F(ConnectTest, BlockSheetIsNamedOnlyWhenNoSheetHasTheName) {
    // Multibyte names compare case-insensitively under the locale.
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    std::string saved = previous ? previous : "C";
    bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "en_US.UTF-8");

    struct Case {
        const char* name;
        std::u16string existing;   // renamed first sheet of the workbook
        std::string block;
        std::u16string expected;   // the new sheet's name afterwards
        bool needsUtf8;
    };
    const Case cases[] = {
        {"free name", u"Sheet1", "Pump", u"Pump", false},
        {"taken in another case", u"PUMP", "pump", u"Sheet2", false},
        {"the name the new sheet was given", u"Other", "sheet2", u"Sheet2", false},
        {"accented letters in another case", u"\u010CERPADLO", "\xC4\x8D" "erpadlo", u"Sheet2", true},
        {"accented free name", u"Sheet1", "\xC4\x8D" "erpadlo", u"\u010D" u"erpadlo", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsUtf8 && !utf8) continue;
        fake_.reset();
        FakeSpreadsheet::Book& book = fake().addBook();
        book.sheetNames[0] = c.existing;
        DispatchPtr sheet = tabro::addBlockWorksheet(book.object.get(), c.block);
        ASSERT_EQ(book.sheets.size(), 2u);
        EXPECT_EQ(sheet.get(), static_cast<IDispatch*>(book.sheets[0].get()));
        EXPECT_EQ(book.sheetNames[0], c.expected);
        EXPECT_EQ(book.activeSheet, book.sheets[0].get());
        EXPECT_EQ(book.sheetNames[1], c.existing);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(ConnectTest, RefusedSheetNameKeepsTheApplicationsName) {
    FakeSpreadsheet::Book& book = fake().addBook();
    DispatchPtr sheet = tabro::addBlockWorksheet(book.object.get(), "a/b");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(book.sheets.size(), 2u);
    for (const std::u16string& name : book.sheetNames) EXPECT_NE(name, u"a/b");
    EXPECT_EQ(book.activeSheet, book.sheets[0].get()) << "the new sheet is still made active";
}

TEST_F(ConnectTest, CellCoordinatesNeverWrap) {
    auto range = platform::makeCom<tabro::testing::FakeObject>();
    auto cellObject = platform::makeCom<tabro::testing::FakeObject>();
    range->members[tabro::xl::dispid::Item] = [&](WORD, auto, platform::Variant* r, EXCEPINFO*) {
        *r = platform::Variant::dispatch(cellObject.get());
        return S_OK;
    };
    struct Case {
        LONG row;
        tabro::xl::CellIndex index;
        VARTYPE rowType;
    };
    const Case cases[] = {
        {1, tabro::xl::CellIndex::Short, VT_I2},     {32767, tabro::xl::CellIndex::Short, VT_I2},
        {32768, tabro::xl::CellIndex::Short, VT_I4}, {65536, tabro::xl::CellIndex::Short, VT_I4},
        {1, tabro::xl::CellIndex::Long, VT_I4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        range->calls.clear();
        DispatchPtr cell = tabro::xl::cell(range.get(), c.row, 3, c.index);
        EXPECT_EQ(cell.get(), static_cast<IDispatch*>(cellObject.get()));
        ASSERT_EQ(range->calls.size(), 1u);
        EXPECT_EQ(range->calls[0].flags, DISPATCH_PROPERTYGET);
        ASSERT_EQ(range->calls[0].argTypes.size(), 2u);
        EXPECT_EQ(range->calls[0].argTypes[0], c.rowType);
    }
    range->members.clear();  // the handler holds a reference to cellObject
}

}  // namespace
