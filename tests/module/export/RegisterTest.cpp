// A register: the same block of two drawings exported one after the other in one
// process into one workbook, then imported back drawing by drawing. The two drawings
// are copies of one file, so every handle names a reference in both.
#include "ExportDrawingFixture.h"

#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/export/Export.h"
#include "module/export/SheetWriter.h"
#include "module/import/Import.h"
#include "module/import/RegisterRows.h"
#include "module/layout/WorkbookRecord.h"
#include "module/link/ChangedCell.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"

#include <filesystem>
#include <memory>

namespace tabro::testing {
namespace {

using Texts = std::vector<std::string>;

const Texts kDoorHandles{"50", "54", "58", "69"};

class RegisterRun : public SpreadsheetExportTest {
protected:
    void SetUp() override {
        SpreadsheetExportTest::SetUp();
        nextExportRow = 1;
        first_ = (folder_ / "a.dxf").string();
        std::filesystem::create_directories(folder_ / "sub");
        second_ = (folder_ / "sub" / "b.dxf").string();
        std::filesystem::copy_file(fixturePath(), first_);
        std::filesystem::copy_file(fixturePath(), second_);
        Settings settings;
        ExportOptions& o = settings.exportOptions;
        o.XCoord = o.YCoord = o.ZCoord = o.Rotation = o.LayerNames = o.Scale = false;
        RunOptions run;
        run.rowsNameDrawing = true;
        beginRun(settings, run, false);
        registerRows().clear();
        forgetRegisterSheets();
    }
    void TearDown() override {
        endRun();
        dropSessionSettings();
        SpreadsheetExportTest::TearDown();
    }

    void exportDrawing(const std::string& path) {
        openDrawing(path);
        feed({"DOOR"});
        ASSERT_TRUE(Export2()) << output_.text();
    }

    // Every sheet, the properties left alone, as a run imports.
    void importDrawing(const std::string& path) {
        openDrawing(path);
        output_.clear();
        ImportOptions options;
        options.ImportSettings = 1;
        Import(options);
    }

    std::string widthOf(const char* handle) {
        AcDbObjectPointer<AcDbBlockReference> reference(idOf(handle), AcDb::kForRead);
        std::vector<ReferenceAttribute> attributes;
        std::size_t count = 0;
        if (!reference || !readReferenceAttributes(*reference.get(), attributes, count)) return "?";
        for (std::size_t i = 0; i < count; ++i)
            if (attributes[i].tag == "WIDTH") return attributes[i].text;
        return "?";
    }

    static void put(IDispatch* sheet, LONG r, LONG c, const char16_t* text) {
        xl::setValue(cellOf(sheet, r, c).get(), platform::Variant::bstr(text));
    }

    std::string first_, second_;
};

TEST_F(RegisterRun, DrawingsShareTheBlockSheetAndEachImportTakesItsOwnRows) {
    exportDrawing(first_);
    exportDrawing(second_);
    DispatchPtr door = sheetNamed("DOOR");
    ASSERT_TRUE(door);
    // One header: the second drawing's columns are the first's. Paths are relative to the
    // workbook, which the stand-in keeps in the working folder.
    EXPECT_EQ(value(door.get(), 1, 2), resourceStrings().load(kTextDrawingTitle));
    EXPECT_EQ(comment(door.get(), 1, 2), resourceStrings().load(kTextDrawingMarker));
    for (LONG r = 2; r <= 5; ++r) EXPECT_EQ(value(door.get(), r, 2), "a.dxf") << r;
    for (LONG r = 6; r <= 9; ++r) EXPECT_EQ(value(door.get(), r, 2), "sub/b.dxf") << r;
    EXPECT_EQ(value(door.get(), 10, 1), "");
    for (LONG r = 2; r <= 9; ++r) EXPECT_EQ(comment(door.get(), r, 1), kDoorHandles[(r - 2) % 4]) << r;
    DispatchPtr book = xl::activeWorkbook(app().get());
    EXPECT_EQ(recordSheets(book.get()).size(), 2u);

    // The second drawing's first row edited: reference 50 of b.dxf, not of a.dxf.
    put(door.get(), 6, 3, u"1234");
    importDrawing(first_);
    EXPECT_FALSE(db_->isModified()) << output_.text();
    EXPECT_EQ(widthOf("50"), "900");
    EXPECT_NE(output_.text().find("Imported 4 rows from"), std::string::npos) << output_.text();

    importDrawing(second_);
    EXPECT_TRUE(db_->isModified()) << output_.text();
    EXPECT_EQ(widthOf("50"), "1234");
    EXPECT_NE(output_.text().find("1 reference changed"), std::string::npos) << output_.text();
}

// The live link of one drawing to a register applies the edits of its own rows
// only: the other drawing's row holds a handle this drawing has too.
TEST_F(RegisterRun, TheLiveLinkLeavesOtherDrawingsRowsAlone) {
    exportDrawing(first_);
    exportDrawing(second_);
    DispatchPtr door = sheetNamed("DOOR");
    ASSERT_TRUE(door);
    DispatchPtr book = xl::activeWorkbook(app().get());
    openDrawing(first_);
    auto change = [&](std::int32_t r, std::int32_t c) {
        ChangedCell cell;
        cell.row = r;
        cell.column = c;
        cell.sheetName = std::make_shared<const std::u16string>(xl::name(door.get()));
        cell.workbookName = std::make_shared<const std::u16string>(xl::name(book.get()));
        return cell;
    };
    put(door.get(), 6, 3, u"77");
    EXPECT_FALSE(importChangedCell(change(6, 3)));
    EXPECT_EQ(widthOf("50"), "900");
    put(door.get(), 2, 3, u"88");
    EXPECT_TRUE(importChangedCell(change(2, 3))) << output_.text();
    EXPECT_EQ(widthOf("50"), "88");
}

// Outside a run (one drawing open in cadhost) an import of a register takes the
// drawing's rows and says how many rows it left for others.
TEST_F(RegisterRun, AnImportOutsideTheRunCountsTheOtherDrawingsRows) {
    exportDrawing(first_);
    exportDrawing(second_);
    endRun();
    importDrawing(second_);
    EXPECT_NE(output_.text().find("4 rows name other drawings"), std::string::npos) << output_.text();
}

// A run has nobody to ask whether a workbook of another drawing is to be imported
// all the same: its handles may name other references here, so nothing is.
TEST_F(RegisterRun, ARunImportsNoWorkbookOfAnotherDrawing) {
    Settings settings;
    loadSettings(settings);
    beginRun(settings, RunOptions{}, false);  // one drawing: no drawing column
    exportDrawing(first_);
    DispatchPtr door = sheetNamed("DOOR");
    ASSERT_TRUE(door);
    put(door.get(), 2, 3, u"4321");
    importDrawing(second_);
    EXPECT_FALSE(db_->isModified()) << output_.text();
    EXPECT_NE(output_.text().find("not from b.dxf"), std::string::npos) << output_.text();
}

// A run keeps where each drawing's rows stood; when another program changed the
// sheet meanwhile (a sort swapped two rows), the rows are read again, not taken
// from where they were.
TEST_F(RegisterRun, RowsThatMovedSinceTheFirstReadAreReadAgain) {
    exportDrawing(first_);
    exportDrawing(second_);
    DispatchPtr door = sheetNamed("DOOR");
    ASSERT_TRUE(door);
    importDrawing(first_);  // reads the sheet whole
    // Rows 6 and 7 (b.dxf's references 50 and 54) swapped, handles and cells.
    for (LONG c = 1; c <= 4; ++c) {
        const std::string upper = value(door.get(), 6, c), lower = value(door.get(), 7, c);
        put(door.get(), 6, c, toWide(lower).c_str());
        put(door.get(), 7, c, toWide(upper).c_str());
    }
    xl::setCommentText(xl::comment(cellOf(door.get(), 6, 1).get()).get(), u"54");
    xl::setCommentText(xl::comment(cellOf(door.get(), 7, 1).get()).get(), u"50");
    put(door.get(), 7, 3, u"555");  // reference 50's WIDTH, where it stands now
    importDrawing(second_);
    EXPECT_EQ(widthOf("50"), "555") << output_.text();
    EXPECT_EQ(widthOf("54"), "1000") << output_.text();
}

}  // namespace
}  // namespace tabro::testing
