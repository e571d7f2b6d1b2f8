// Connecting to the spreadsheet stand-in: attaching, starting, the export workbook,
// block worksheets, coordinates as they travel, and that every reference taken is
// released, also when a call fails.
#include "module/spreadsheet/Connect.h"

#include "StandInFixture.h"
#include "platform/ComError.h"
#include "sheet/InvokeHook.h"

#include <clocale>
#include <string>

namespace tabro::testing {
namespace {

using sheet::ObjectClass;
using sheet::testing::InvokeFault;
using sheet::testing::ScopedInvokeFault;
using sheet::testing::ScopedInvokeLog;
namespace dispid = sheet::dispid;

class ConnectTest : public StandInTest {};

TEST_F(ConnectTest, ClassLookupByProgramIdentifierOrBracedText) {
    registerClass();
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
        EXPECT_EQ(findSpreadsheetClass(c.name, clsid), c.result);
        if (c.result == S_OK) {
            EXPECT_TRUE(clsid == sheet::kApplicationClsid);
        }
    }
}

TEST_F(ConnectTest, NotRegisteredFailsEveryWay) {
    DispatchPtr app;
    EXPECT_EQ(attachSpreadsheetApp(app), CO_E_CLASSSTRING);
    EXPECT_TRUE(FAILED(obtainSpreadsheetApp(app)));
    EXPECT_FALSE(app);
    EXPECT_FALSE(running());
}

TEST_F(ConnectTest, NotRunningAttachFailsAndObtainStartsOne) {
    registerClass();
    DispatchPtr app;
    EXPECT_EQ(attachSpreadsheetApp(app), MK_E_UNAVAILABLE);
    EXPECT_FALSE(app);
    EXPECT_FALSE(running()) << "attaching starts nothing";

    ASSERT_EQ(obtainSpreadsheetApp(app), S_OK);
    ASSERT_TRUE(running());
    EXPECT_EQ(app.get(), running().get());
    // The new instance is in the running state: the next caller attaches to it.
    DispatchPtr attached;
    ASSERT_EQ(attachSpreadsheetApp(attached), S_OK);
    EXPECT_EQ(attached.get(), app.get());

    // Export into it: visible, and a workbook is added since none is active.
    DispatchPtr workbook = openExportWorkbook(app.get(), 1);
    EXPECT_TRUE(isVisible());
    EXPECT_EQ(workbookCount(), 1);
    EXPECT_EQ(activeWorkbookName(), nameOf(workbook.get()));
}

TEST_F(ConnectTest, RunningWithAWorkbookFollowsWorkbookSettings) {
    struct Case {
        LONG workbookSettings;
        bool reusesOpenBook;
    };
    const Case cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
    registerClass();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.workbookSettings);
        sheet::stopSpreadsheetApplication();
        DispatchPtr started = start();
        DispatchPtr open = addWorkbook();
        const std::u16string openName = nameOf(open.get());

        DispatchPtr app;
        ASSERT_EQ(obtainSpreadsheetApp(app), S_OK);
        EXPECT_EQ(app.get(), started.get()) << "the running instance is used";
        DispatchPtr workbook = openExportWorkbook(app.get(), c.workbookSettings);
        EXPECT_TRUE(isVisible());
        EXPECT_EQ(workbookCount(), c.reusesOpenBook ? 1 : 2);
        EXPECT_EQ(nameOf(workbook.get()) == openName, c.reusesOpenBook);
        EXPECT_EQ(activeWorkbookName(), nameOf(workbook.get()));
        EXPECT_EQ(get(object(open.get(), dispid::Worksheets).get(), dispid::Count).lVal(), 1)
            << "the open workbook is left alone";
    }
}

TEST_F(ConnectTest, MissingObjectsRaisePointerErrors) {
    try {
        openExportWorkbook(nullptr, 1);
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    DispatchPtr app = start();
    // Workbooks.Add answers no workbook.
    ScopedInvokeFault noWorkbook(InvokeFault(dispid::Add, S_OK).on(ObjectClass::Workbooks));
    try {
        openExportWorkbook(app.get(), 0);
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    EXPECT_TRUE(noWorkbook.hasFailed());
}

TEST_F(ConnectTest, AFailingMemberIsRaisedWithTheApplicationsError) {
    DispatchPtr app = start();
    DispatchPtr book = addWorkbook();
    struct Case {
        const char* what;
        ObjectClass on;
        DISPID member;
    } cases[] = {
        {"adding the sheet", ObjectClass::Worksheets, dispid::Add},
        {"reading a sheet's name", ObjectClass::Worksheet, dispid::Name},
        {"activating the sheet", ObjectClass::Worksheet, dispid::Activate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedInvokeFault fault(InvokeFault(c.member).on(c.on).describedAs("The sheet is protected."));
        try {
            (void)addBlockWorksheet(book.get(), "PUMP");
            ADD_FAILURE() << "no error";
        } catch (const _com_error& e) {
            EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800A03ECu);
            EXPECT_EQ(e.Description(), u"The sheet is protected.");
        }
        EXPECT_TRUE(fault.hasFailed());
    }
}

TEST_F(ConnectTest, BlockSheetIsNamedOnlyWhenNoSheetHasTheName) {
    // Multibyte names compare case-insensitively under the locale.
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    std::string saved = previous ? previous : "C";
    bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "en_US.UTF-8");

    struct Case {
        const char* name;
        std::u16string existing;  // renamed first sheet of the workbook
        std::string block;
        std::u16string expected;  // the new sheet's name afterwards
        bool needsUtf8;
    };
    // With its first sheet renamed, a workbook calls its next new sheet Sheet1 again.
    const Case cases[] = {
        {"free name", u"Sheet1", "Pump", u"Pump", false},
        {"taken in another case", u"PUMP", "pump", u"Sheet1", false},
        {"the name the new sheet was given", u"Other", "sheet1", u"Sheet1", false},
        {"accented letters in another case", u"\u010CERPADLO",
         "\xC4\x8D"
         "erpadlo",
         u"Sheet1", true},
        {"accented free name", u"Sheet1",
         "\xC4\x8D"
         "erpadlo",
         u"\u010D"
         u"erpadlo",
         true},
    };
    DispatchPtr app = start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsUtf8 && !utf8) continue;
        DispatchPtr book = addWorkbook();
        DispatchPtr sheets = object(book.get(), dispid::Worksheets);
        platform::invoke(object(sheets.get(), dispid::Item, {platform::Variant::i4(1)}).get(), dispid::Name,
                         DISPATCH_PROPERTYPUT, {platform::Variant::bstr(c.existing)});
        DispatchPtr sheet = addBlockWorksheet(book.get(), c.block);
        ASSERT_TRUE(sheet);
        ASSERT_EQ(get(sheets.get(), dispid::Count).lVal(), 2);
        EXPECT_EQ(nameOf(sheet.get()), c.expected);
        // The new sheet went before the active one, and is active itself now.
        EXPECT_EQ(nameOf(object(sheets.get(), dispid::Item, {platform::Variant::i4(1)}).get()), c.expected);
        EXPECT_EQ(nameOf(object(book.get(), dispid::ActiveSheet).get()), c.expected);
        EXPECT_EQ(nameOf(object(sheets.get(), dispid::Item, {platform::Variant::i4(2)}).get()), c.existing);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(ConnectTest, RefusedSheetNameKeepsTheApplicationsName) {
    DispatchPtr app = start();
    DispatchPtr book = addWorkbook();
    DispatchPtr sheet = addBlockWorksheet(book.get(), "a/b");
    ASSERT_TRUE(sheet);
    DispatchPtr sheets = object(book.get(), dispid::Worksheets);
    ASSERT_EQ(get(sheets.get(), dispid::Count).lVal(), 2);
    EXPECT_EQ(nameOf(sheet.get()), u"Sheet2");
    EXPECT_EQ(nameOf(object(book.get(), dispid::ActiveSheet).get()), u"Sheet2") << "the new sheet is still made active";
}

TEST_F(ConnectTest, CellCoordinatesNeverWrap) {
    DispatchPtr app = start();
    DispatchPtr book = addWorkbook();
    DispatchPtr cells = object(object(book.get(), dispid::ActiveSheet).get(), dispid::Cells);
    struct Case {
        LONG row;
        xl::CellIndex index;
        VARTYPE rowType;
    };
    const Case cases[] = {
        {1, xl::CellIndex::Short, VT_I2},     {32767, xl::CellIndex::Short, VT_I2},
        {32768, xl::CellIndex::Short, VT_I4}, {65536, xl::CellIndex::Short, VT_I4},
        {1, xl::CellIndex::Long, VT_I4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        ScopedInvokeLog log;
        DispatchPtr cell = xl::cell(cells.get(), c.row, 3, c.index);
        auto calls = log.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].on, ObjectClass::Range);
        EXPECT_EQ(calls[0].member, dispid::Item);
        EXPECT_EQ(calls[0].flags, DISPATCH_PROPERTYGET);
        ASSERT_EQ(calls[0].argumentTypes.size(), 2u);
        EXPECT_EQ(calls[0].argumentTypes[0], c.rowType);
        // The application found the cell the caller meant.
        EXPECT_EQ(get(cell.get(), dispid::Row).lVal(), c.row);
        EXPECT_EQ(get(cell.get(), dispid::Column).lVal(), 3);
    }
}

}  // namespace
}  // namespace tabro::testing
