// Base fixture for the spreadsheet stand-in's tests: a fresh application in a
// scratch folder of its own (so BookN.xlsx files land there), helpers to call
// members by dispatch id, and a check that no automation object outlives the test.
#pragma once

#include "automation/DispatchIds.h"
#include "platform/ComError.h"
#include "platform/Dispatch.h"
#include "platform/LiveObjects.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"
#include "sheet/Automation.h"
#include "sheet/Spreadsheet.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace sheet::test {

namespace id = ::automation::dispid;

using platform::ComPtr;
using platform::Variant;
using tabro::testing::readFile;
using tabro::testing::writeFile;

inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
inline Variant bstr(const std::string& s) { return Variant::bstr(u16(s)); }

// Calls through IDispatch::Invoke as the module does; throws _com_error.
inline Variant call(IDispatch* object, DISPID dispid, WORD flags, std::initializer_list<Variant> args = {}) {
    return platform::invoke(object, dispid, flags, args);
}
inline ComPtr<IDispatch> getObject(IDispatch* object, DISPID dispid, std::initializer_list<Variant> args = {}) {
    Variant v = platform::invoke(object, dispid, DISPATCH_PROPERTYGET, args);
    return ComPtr<IDispatch>(v.pdispVal());
}
inline void put(IDispatch* object, DISPID dispid, Variant value) {
    platform::invoke(object, dispid, DISPATCH_PROPERTYPUT, {std::move(value)});
}
// The raw result code of a call, with what the server said in info.
inline HRESULT rawInvoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<Variant> args,
                         EXCEPINFO* info = nullptr) {
    Variant result;
    return object->Invoke(dispid, flags, args, &result, info);
}

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore_ = platform::liveComObjects();
        folder_.emplace("sheet");
        ASSERT_EQ(registerSpreadsheetApplication(), S_OK);
        app = startSpreadsheetApplication();
        ASSERT_TRUE(app);
    }
    void TearDown() override {
        app.reset();
        revokeSpreadsheetApplication();
        folder_.reset();
        EXPECT_EQ(platform::liveComObjects(), liveBefore_) << "automation objects left alive by the test";
    }

    // A new workbook's active sheet.
    ComPtr<IDispatch> newSheet() {
        auto books = getObject(app.get(), id::Workbooks);
        auto book = ComPtr<IDispatch>(call(books.get(), id::Add, DISPATCH_METHOD, {Variant::missing()}).pdispVal());
        return getObject(book.get(), id::ActiveSheet);
    }
    ComPtr<IDispatch> cell(IDispatch* sheet, int row, int column) {
        auto cells = getObject(sheet, id::Cells);
        return getObject(cells.get(), id::Item, {Variant::i4(row), Variant::i4(column)});
    }

    std::string folder() const { return folder_->path().string(); }

    ComPtr<IDispatch> app;

private:
    std::size_t liveBefore_ = 0;
    std::optional<tabro::testing::TempWorkingDir> folder_;
};

// Runs a Python snippet with openpyxl; false when the interpreter or the library is
// missing (the caller skips then).
inline bool hasOpenpyxl() { return std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0; }
inline int runPython(const std::string& folder, const std::string& script) {
    std::string path = folder + "/check.py";
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return -1;
    std::fputs(script.c_str(), f);
    std::fclose(f);
    return std::system(("cd '" + folder + "' && /usr/bin/python3 check.py").c_str());
}

}  // namespace sheet::test
