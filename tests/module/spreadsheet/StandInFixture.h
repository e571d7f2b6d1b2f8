// The real spreadsheet stand-in for the connection tests: registered under its class
// name only when a test asks, working in a scratch folder of its own (new workbooks
// reserve their files there), and read back through its own members. After each test
// it is stopped and no automation reference may be left alive.
#pragma once

#include "automation/DispatchIds.h"
#include "module/spreadsheet/Automation.h"
#include "platform/LiveObjects.h"
#include "sheet/Spreadsheet.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <optional>
#include <string>

namespace tabro::testing {

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveAtStart_ = platform::liveComObjects();
        folder_.emplace("connect");
    }
    void TearDown() override {
        sheet::stopSpreadsheetApplication();
        (void)sheet::revokeSpreadsheetApplication();
        EXPECT_EQ(platform::liveComObjects(), liveAtStart_) << "an automation reference was not released";
        folder_.reset();
    }

    static void registerClass() { ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK); }
    static DispatchPtr start() { return sheet::startSpreadsheetApplication(); }
    static DispatchPtr running() { return sheet::runningSpreadsheetApplication(); }

    // What the application says about itself, asked through its members.
    static platform::Variant get(IDispatch* object, DISPID id, std::initializer_list<platform::Variant> args = {}) {
        return platform::invoke(object, id, DISPATCH_PROPERTYGET, args);
    }
    static DispatchPtr object(IDispatch* object, DISPID id, std::initializer_list<platform::Variant> args = {}) {
        return DispatchPtr(get(object, id, args).pdispVal());
    }
    static bool isVisible() { return get(running().get(), automation::dispid::Visible).boolVal() != 0; }
    static LONG workbookCount() {
        return get(object(running().get(), automation::dispid::Workbooks).get(), automation::dispid::Count).lVal();
    }
    static std::u16string nameOf(IDispatch* workbookOrSheet) {
        return get(workbookOrSheet, automation::dispid::Name).bstrVal();
    }
    static std::u16string activeWorkbookName() {
        DispatchPtr book = object(running().get(), automation::dispid::ActiveWorkbook);
        return book ? nameOf(book.get()) : u"<none>";
    }
    // Workbooks.Add on the running application; the new workbook is the active one.
    static DispatchPtr addWorkbook() {
        DispatchPtr books = object(running().get(), automation::dispid::Workbooks);
        return DispatchPtr(
            platform::invoke(books.get(), automation::dispid::Add, DISPATCH_METHOD, {platform::Variant::missing()})
                .pdispVal());
    }

private:
    std::size_t liveAtStart_ = 0;
    std::optional<TempWorkingDir> folder_;
};

}  // namespace tabro::testing
