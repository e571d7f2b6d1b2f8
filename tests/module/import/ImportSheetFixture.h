// The spreadsheet stand-in running in the test process, in a scratch folder of its
// own, with one new workbook whose active sheet the test fills; and a check that no
// automation object outlives the test.
#pragma once

#include "module/import/SheetReader.h"
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

// Marker texts of the tests: distinct, and unlike any tag.
inline ImportMarkers testMarkers() {
    ImportMarkers m;
    m.x = u"#x";
    m.y = u"#y";
    m.z = u"#z";
    m.rotation = u"#rotation";
    m.scaleX = u"#scale-x";
    m.scaleY = u"#scale-y";
    m.scaleZ = u"#scale-z";
    m.layer = u"#layer";
    m.layout = u"#layout";
    m.headerRow = u"#header";
    m.blockNameTitle = u"Block name";
    return m;
}

// The running stand-in with one workbook, for fixtures that need a sheet beside
// something else.
class SpreadsheetScratch {
public:
    void start() {
        liveBefore_ = platform::liveComObjects();
        folder_.emplace("import");
        ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK);
        app_ = sheet::startSpreadsheetApplication();
        ASSERT_TRUE(app_);
        DispatchPtr book = xl::addWorkbook(xl::workbooks(app_.get()).get());
        book_ = book;
        sheet_ = xl::activeSheet(book.get());
        cells_ = xl::cells(sheet_.get());
    }

    void stop() {
        cells_.reset();
        sheet_.reset();
        book_.reset();
        app_.reset();
        sheet::stopSpreadsheetApplication();
        (void)sheet::revokeSpreadsheetApplication();
        EXPECT_EQ(platform::liveComObjects(), liveBefore_) << "an automation reference was not released";
        folder_.reset();
    }

    void put(int row, int column, platform::Variant value) {
        xl::setValue(xl::cell(cells_.get(), row, column).get(), value);
    }
    // Text stays text: the cell gets the text format first, as export gives it.
    void putText(int row, int column, const std::u16string& text) {
        DispatchPtr cell = xl::cell(cells_.get(), row, column);
        xl::setNumberFormat(cell.get(), u"@");
        xl::setValue(cell.get(), platform::Variant::bstr(text));
    }
    // A text as text (see putText), anything else as it is.
    void putAsGiven(int row, int column, const platform::Variant& value) {
        if (value.vt() == VT_BSTR)
            putText(row, column, value.bstrVal());
        else
            put(row, column, value);
    }
    // The cell's comment, replaced when it has one.
    void putComment(int row, int column, const std::u16string& text) {
        DispatchPtr cell = xl::cell(cells_.get(), row, column);
        if (DispatchPtr existing = xl::comment(cell.get()))
            xl::setCommentText(existing.get(), text);
        else
            (void)xl::addComment(cell.get(), text);
    }
    // A header: the title, and the marker as its comment when there is one.
    void putHeader(int column, const std::u16string& title, const std::u16string& marker = {}) {
        putText(1, column, title);
        if (!marker.empty()) putComment(1, column, marker);
    }

    struct Read {
        std::vector<ImportRow> rows;
        SheetTally tally;
    };
    Read readRows(int startRow = 2, int startColumn = 1, ImportReport* report = nullptr) const {
        Read read;
        read.tally = readSheetRows(
            sheet_.get(), startRow, startColumn, testMarkers(), [&](const ImportRow& row) { read.rows.push_back(row); },
            report);
        return read;
    }
    void bold(int row) { xl::setBold(xl::font(xl::entireRow(xl::cell(cells_.get(), row, 1).get()).get()).get(), true); }

    DispatchPtr app_, book_, sheet_, cells_;

private:
    std::optional<TempWorkingDir> folder_;
    std::size_t liveBefore_ = 0;
};

class ImportSheetTest : public ::testing::Test, protected SpreadsheetScratch {
protected:
    void SetUp() override { start(); }
    void TearDown() override { stop(); }
};

}  // namespace tabro::testing
