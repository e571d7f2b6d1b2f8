// Exports into the real spreadsheet stand-in, read back through its object model:
// where rows land, what the cells, comments and formats hold, and what a failure
// leaves behind.
#include "ExportDrawingFixture.h"

#include "module/base/ResourceStrings.h"
#include "module/export/Export.h"
#include "module/export/SheetWriter.h"
#include "module/import/Import.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "module/ui/BlockSelectionDialog.h"
#include "platform/ComError.h"
#include "platform/LiveObjects.h"
#include "sheet/Spreadsheet.h"

#include <unistd.h>
#include <cstdlib>

namespace tabro::testing {
namespace {

using Texts = std::vector<std::string>;

// Handles of the fixture's references (make_export_fixture.py).
const Texts kDoorHandles{"50", "54", "58", "69"};
const Texts kValveHandles{"44", "5C"};

class ExportToSheet : public SpreadsheetExportTest {
protected:
    void SetUp() override {
        SpreadsheetExportTest::SetUp();
        nextExportRow = 1;
        options_ = ExportOptions{};
    }

    // Export2 with options_ stored as the user's settings and `answer` typed.
    bool export2(const std::string& answer) {
        Settings settings;
        settings.exportOptions = options_;
        EXPECT_TRUE(saveSettings(settings));
        feed({answer});
        return Export2();
    }

    DispatchPtr activeSheet() const { return xl::activeSheet(app().get()); }
    static std::string format(IDispatch* sheet, LONG r, LONG c) {
        return toMultibyte(toText(xl::getProperty(cellOf(sheet, r, c).get(), xl::dispid::NumberFormat)));
    }
    static bool bold(IDispatch* sheet, LONG r, LONG c) {
        DispatchPtr font = xl::font(cellOf(sheet, r, c).get());
        return xl::getProperty(font.get(), xl::dispid::Bold).boolVal() != 0;
    }
    static Texts row(IDispatch* sheet, LONG r, LONG columns) {
        Texts out;
        for (LONG c = 1; c <= columns; ++c) out.push_back(value(sheet, r, c));
        return out;
    }
    // Column A's comment on each of the rows.
    static Texts handles(IDispatch* sheet, LONG first, LONG last) {
        Texts out;
        for (LONG r = first; r <= last; ++r) out.push_back(comment(sheet, r, 1));
        return out;
    }

    static std::string text(UINT id) { return resourceStrings().load(id); }

    ExportOptions options_;
};

ExportOptions propertiesOff() {
    ExportOptions o;
    o.XCoord = o.YCoord = o.ZCoord = o.Rotation = o.LayerNames = o.Scale = false;
    return o;
}

TEST_F(ExportToSheet, WorkedExampleOnANewSheet) {
    options_ = propertiesOff();
    options_.XCoord = options_.Rotation = true;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = sheetNamed("DOOR");
    ASSERT_TRUE(s);
    EXPECT_EQ(row(s.get(), 1, 6), (Texts{text(12), "WIDTH", "FIRE", text(13), text(19), ""}));
    EXPECT_EQ((Texts{comment(s.get(), 1, 1), comment(s.get(), 1, 2), comment(s.get(), 1, 3), comment(s.get(), 1, 4),
                     comment(s.get(), 1, 5)}),
              (Texts{text(kTextHeaderRowMarker), "<none>", "<none>", text(14), text(20)}));
    // The fixture drawing: decimal units, 4 places, trailing zeros suppressed
    // ($DIMZIN 8); decimal degrees with 2 places.
    EXPECT_EQ(row(s.get(), 2, 5), (Texts{"DOOR", "900", "EI30", "10", "90.00"}));
    EXPECT_EQ(comment(s.get(), 2, 1), "50");
    for (LONG c = 2; c <= 5; ++c) EXPECT_EQ(comment(s.get(), 2, c), "<none>") << c;
    for (LONG r = 1; r <= 2; ++r)
        for (LONG c = 1; c <= 5; ++c) {
            EXPECT_EQ(format(s.get(), r, c), "@") << r << "," << c;
            EXPECT_EQ(bold(s.get(), r, c), r == 1) << r << "," << c;
        }
}

TEST_F(ExportToSheet, SheetPerBlockWithEveryReference) {
    ASSERT_TRUE(export2("DOOR,VALVE"));
    DispatchPtr door = sheetNamed("DOOR");
    DispatchPtr valve = sheetNamed("VALVE");
    ASSERT_TRUE(door && valve);
    EXPECT_EQ(toMultibyte(xl::name(activeSheet().get())), "VALVE");
    EXPECT_EQ(handles(door.get(), 2, 5), kDoorHandles);
    EXPECT_EQ(value(door.get(), 6, 1), "");
    EXPECT_EQ(handles(valve.get(), 2, 3), kValveHandles);
    // Default columns: name, tags, X Y Z, rotation, three scales, layer.
    EXPECT_EQ(row(door.get(), 1, 11), (Texts{text(12), "WIDTH", "FIRE", text(13), text(15), text(17), text(19),
                                             text(21), text(23), text(25), text(27)}));
    EXPECT_EQ(row(door.get(), 3, 11),
              (Texts{"DOOR", "1000", "EI60", "-1200.5", "-830.25", "0", "0.00", "2", "3", "4", "A-DOOR"}));
    // The reference stored out of step keeps each value under its own tag.
    EXPECT_EQ(row(door.get(), 4, 3), (Texts{"DOOR", "700", "EI90"}));
    // The constant attribute is not exported by default; c's value reaches c.
    EXPECT_EQ(row(valve.get(), 3, 3), (Texts{"VALVE", "1", "3"}));
    EXPECT_EQ(nextExportRow, 4);
}

TEST_F(ExportToSheet, LayoutSettings) {
    struct Case {
        const char* name;
        void (*set)(ExportOptions&);
        Texts header;
        Texts firstRow;  // the reference with handle 54
    };
    const Case cases[] = {
        {"no block name",
         [](ExportOptions& o) {
             o = propertiesOff();
             o.BlockNames = false;
         },
         {"WIDTH", "FIRE", ""},
         {"1000", "EI60", ""}},
        {"JTSK",
         [](ExportOptions& o) {
             o = propertiesOff();
             o.XCoord = o.YCoord = o.ZCoord = o.JTSK = true;
         },
         {text(12), "WIDTH", "FIRE", text(13), text(15), text(17)},
         {"DOOR", "1000", "EI60", "1200.5", "830.25", "0"}},
        {"sorted tags",
         [](ExportOptions& o) {
             o = propertiesOff();
             o.Sort = true;
         },
         {text(12), "FIRE", "WIDTH"},
         {"DOOR", "EI60", "1000"}},
        {"layout of the drawing",
         [](ExportOptions& o) {
             o = propertiesOff();
             o.LayoutNames = true;
         },
         {text(12), "WIDTH", "FIRE", text(29)},
         {"DOOR", "1000", "EI60", "Model"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.set(options_);
        ASSERT_TRUE(export2("DOOR"));
        DispatchPtr s = activeSheet();
        EXPECT_EQ(row(s.get(), 1, static_cast<LONG>(c.header.size())), c.header);
        EXPECT_EQ(row(s.get(), 3, static_cast<LONG>(c.firstRow.size())), c.firstRow);
        EXPECT_EQ(comment(s.get(), 3, 1), "54");
    }
}

TEST_F(ExportToSheet, ConstantsAndAsText) {
    options_ = propertiesOff();
    options_.IncludeConstant = true;
    options_.AsText = false;
    ASSERT_TRUE(export2("VALVE"));
    DispatchPtr s = activeSheet();
    EXPECT_EQ(row(s.get(), 1, 4), (Texts{text(12), "b", "A", "c"}));
    EXPECT_EQ(row(s.get(), 2, 4), (Texts{"VALVE", "N1", "GATE", "N3"}));
    // Without the text format the spreadsheet reads "1" as the number 1.
    EXPECT_EQ(xl::value(cellOf(s.get(), 3, 2).get()).vt(), VT_R8);
    EXPECT_NE(format(s.get(), 3, 2), "@");
}

TEST_F(ExportToSheet, ActiveSheetFromStartRowWithHeaders) {
    options_ = propertiesOff();
    options_.WorksheetSettings = 1;
    options_.StartRow = 5;
    options_.AddHeader = true;
    ASSERT_TRUE(export2("DOOR,VALVE"));
    DispatchPtr s = activeSheet();
    EXPECT_EQ(value(s.get(), 5, 2), "WIDTH");
    EXPECT_TRUE(bold(s.get(), 5, 1));
    EXPECT_EQ(handles(s.get(), 6, 9), kDoorHandles);
    EXPECT_EQ(value(s.get(), 10, 2), "b");
    EXPECT_EQ(handles(s.get(), 11, 12), kValveHandles);
    EXPECT_EQ(value(s.get(), 4, 1), "");
    EXPECT_EQ(nextExportRow, 13);

    // Without AddHeader only data rows; a second export continues from StartRow again.
    options_.AddHeader = false;
    options_.WorkbookSettings = 1;
    options_.StartRow = 20;
    ASSERT_TRUE(export2("VALVE"));
    EXPECT_EQ(handles(activeSheet().get(), 20, 21), kValveHandles);
    EXPECT_EQ(value(activeSheet().get(), 6, 2), "900") << "the same workbook and sheet";
}

TEST_F(ExportToSheet, OddLinesAndPromptRow) {
    options_ = propertiesOff();
    options_.OddLine = true;
    options_.ExportAttPrompts = true;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = activeSheet();
    EXPECT_EQ(row(s.get(), 2, 3), (Texts{"", "Clear width", "Fire rating"}));
    EXPECT_TRUE(bold(s.get(), 2, 2));
    EXPECT_EQ(comment(s.get(), 2, 1), "<none>");
    const Texts blank{"", "", ""};
    EXPECT_EQ(row(s.get(), 3, 3), blank);
    EXPECT_EQ(comment(s.get(), 4, 1), "50");
    EXPECT_EQ(row(s.get(), 5, 3), blank);
    EXPECT_EQ(comment(s.get(), 6, 1), "54");
    EXPECT_EQ(nextExportRow, 11);
}

TEST_F(ExportToSheet, NextBlankRowOfTheActiveSheet) {
    DispatchPtr started = sheet::startSpreadsheetApplication();
    DispatchPtr book = xl::addWorkbook(xl::workbooks(started.get()).get());
    DispatchPtr s = xl::activeSheet(book.get());
    // Rows 1 to 10 hold something somewhere within the first 255 columns.
    for (LONG r = 1; r <= 10; ++r)
        xl::setValue(cellOf(s.get(), r, r == 10 ? 255 : r).get(), platform::Variant::bstr(u"x"));
    xl::setValue(cellOf(s.get(), 11, 256).get(), platform::Variant::bstr(u"beyond the searched columns"));
    options_ = propertiesOff();
    options_.WorkbookSettings = options_.WorksheetSettings = 1;
    options_.FindNextBlankLine = true;
    options_.StartRow = 2;
    ASSERT_TRUE(export2("VALVE"));
    EXPECT_EQ(handles(s.get(), 11, 12), kValveHandles);
}

TEST_F(ExportToSheet, FullSheetIsNotOverwrittenFromRowOne) {
    DispatchPtr started = sheet::startSpreadsheetApplication();
    DispatchPtr book = xl::addWorkbook(xl::workbooks(started.get()).get());
    DispatchPtr s = xl::activeSheet(book.get());
    DispatchPtr cells = xl::cells(s.get());
    for (LONG r = 1; r <= 65535; ++r) xl::setValue(xl::cell(cells.get(), r, 1).get(), platform::Variant::bstr(u"kept"));
    options_ = propertiesOff();
    options_.WorkbookSettings = options_.WorksheetSettings = 1;
    options_.FindNextBlankLine = true;
    nextExportRow = 77;
    EXPECT_FALSE(export2("VALVE"));
    EXPECT_EQ(value(s.get(), 1, 1), "kept");
    EXPECT_EQ(comment(s.get(), 1, 1), "<none>");
    EXPECT_EQ(nextExportRow, 77);
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.last().text, text(kTextNoBlankRow));
    EXPECT_TRUE(platform::isFailureBox(boxes_.last().type));
}

TEST_F(ExportToSheet, RowsPast32767LandWhereTheyBelong) {
    options_ = propertiesOff();
    options_.WorksheetSettings = 1;
    options_.StartRow = 32766;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = activeSheet();
    EXPECT_EQ(handles(s.get(), 32766, 32769), kDoorHandles);
    EXPECT_EQ(value(s.get(), 32768, 2), "700");
    EXPECT_EQ(nextExportRow, 32770);
    // Nothing wrapped round into the low rows.
    for (LONG r = 1; r <= 4; ++r) EXPECT_EQ(value(s.get(), r, 1), "") << r;
}

TEST_F(ExportToSheet, NoSpreadsheetApplication) {
    (void)sheet::revokeSpreadsheetApplication();
    nextExportRow = 9;
    EXPECT_FALSE(export2("DOOR"));
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.last().text, text(10));
    EXPECT_EQ(boxes_.last().caption, text(5));
    EXPECT_EQ(boxes_.last().type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(nextExportRow, 9);
}

TEST_F(ExportToSheet, RefusedSheetNameKeepsTheApplicationsNameAndGoesOn) {
    options_ = propertiesOff();
    ASSERT_TRUE(export2("DOOR,EQUIP[1],VALVE"));
    EXPECT_EQ(handles(sheetNamed("DOOR").get(), 2, 5), kDoorHandles);
    EXPECT_EQ(handles(sheetNamed("VALVE").get(), 2, 3), kValveHandles);
    DispatchPtr sheets = xl::worksheets(xl::activeWorkbook(app().get()).get());
    LONG blockSheets = 0;
    for (LONG i = 1; i <= xl::count(sheets.get()); ++i) {
        DispatchPtr sheet = xl::item(sheets.get(), i);
        EXPECT_NE(toMultibyte(xl::name(sheet.get())), "EQUIP[1]");
        if (value(sheet.get(), 2, 1) == "EQUIP[1]") ++blockSheets;
    }
    EXPECT_EQ(blockSheets, 1) << "the refused block's rows stand on a sheet of the application's naming";
}

TEST_F(ExportToSheet, ReferenceThatCannotBeOpenedIsSkipped) {
    options_ = propertiesOff();
    // The first DOOR reference is held open for write, so the export cannot read it:
    // the first one written is the block's first, and makes its sheet and header
    // rather than writing over the sheet that was active.
    AcDbObjectPointer<AcDbBlockReference> held(idOf("50"), AcDb::kForWrite);
    ASSERT_TRUE(held);
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = sheetNamed("DOOR");
    ASSERT_TRUE(s);
    EXPECT_EQ(handles(s.get(), 2, 4), (Texts{"54", "58", "69"}));
    EXPECT_EQ(value(s.get(), 1, 1), "Block name");
    EXPECT_EQ(value(s.get(), 2, 1), "DOOR");
}

TEST_F(ExportToSheet, ExportTakesTheDialogsChoice) {
    options_ = propertiesOff();
    Settings settings;
    settings.exportOptions = options_;
    {
        ui::ScopedBlockSelectionPresenter cancel([](ui::BlockSelectionDialog& d) {
            d.onCancel();
            return d.endResult();
        });
        EXPECT_FALSE(Export(settings, chooseBlockNamesInDialog));
        EXPECT_FALSE(app()) << "cancel must not start the spreadsheet";
    }
    ui::ScopedBlockSelectionPresenter pick([](ui::BlockSelectionDialog& d) {
        d.list().setSelected(1, true);  // VALVE
        d.onOK();
        return d.endResult();
    });
    EXPECT_TRUE(Export(settings, chooseBlockNamesInDialog));
    EXPECT_EQ(handles(sheetNamed("VALVE").get(), 2, 3), kValveHandles);
}

TEST_F(ExportToSheet, CommentsAreReplacedNotDuplicated) {
    options_ = propertiesOff();
    options_.WorksheetSettings = 1;
    options_.StartRow = 3;
    ASSERT_TRUE(export2("VALVE"));
    options_.WorkbookSettings = 1;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = activeSheet();
    EXPECT_EQ(handles(s.get(), 3, 6), kDoorHandles);
}

TEST_F(ExportToSheet, ShortExportsReportOnlyTheirCount) {
    options_ = propertiesOff();
    ASSERT_TRUE(export2("DOOR"));
    EXPECT_NE(output_.text().find("\n4 references exported."), std::string::npos);
    EXPECT_EQ(output_.text().find(" of "), std::string::npos) << "no progress lines for a short export";
}

TEST_F(ExportToSheet, CountReadsRightForOne) {
    options_ = propertiesOff();
    ASSERT_TRUE(export2("NORTH"));
    EXPECT_NE(output_.text().find("\n1 reference exported."), std::string::npos) << output_.text();
}

// Exporting into the active sheet again: the new header row takes its markers off
// the header cells it does not mark (a later import would read an earlier export's
// property columns there), and leaves every other comment alone.
TEST_F(ExportToSheet, ReexportedHeaderKeepsNoStaleMarkers) {
    options_.WorksheetSettings = 1;
    options_.AddHeader = true;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = activeSheet();
    ASSERT_EQ(comment(s.get(), 1, 4), text(kTextXMarker));
    (void)xl::addComment(cellOf(s.get(), 1, 12).get(), u"a note of the user's");
    options_ = propertiesOff();
    options_.WorksheetSettings = 1;
    options_.AddHeader = true;
    options_.WorkbookSettings = 1;
    ASSERT_TRUE(export2("VALVE"));
    EXPECT_EQ(row(s.get(), 1, 3), (Texts{"Block name", "b", "c"}));
    EXPECT_EQ(comment(s.get(), 1, 1), text(kTextHeaderRowMarker));
    for (LONG c = 2; c <= 11; ++c) EXPECT_EQ(comment(s.get(), 1, c), "<none>") << "column " << c;
    EXPECT_EQ(comment(s.get(), 1, 12), "a note of the user's");
}

// Tags a reference holds beyond its definition get columns of their own after the
// row's other columns, headed by the tag; a tag a reference lacks shows nothing.
// The unedited sheet then imports back without a change, and an edit there reaches
// the attribute.
TEST_F(ExportToSheet, AttributesBeyondTheDefinitionHaveColumns) {
    openDrawing((std::filesystem::path(TABLORA_TESTS_DIR) / "module/import/import_blocks.dxf").string());
    options_ = propertiesOff();
    options_.XCoord = true;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = sheetNamed("DOOR");
    EXPECT_EQ(row(s.get(), 1, 6), (Texts{"Block name", "NUMBER", "WIDTH", "FIRE", "X", "OLD"}));
    EXPECT_EQ(comment(s.get(), 1, 6), "<none>");
    EXPECT_TRUE(bold(s.get(), 1, 6));
    LONG d3 = 0;
    for (LONG r = 2; r <= 4; ++r)
        if (value(s.get(), r, 2) == "D-3") d3 = r;
    ASSERT_NE(d3, 0);
    EXPECT_EQ(value(s.get(), d3, 4), "") << "D-3 has no FIRE attribute";
    EXPECT_EQ(value(s.get(), d3, 6), "stale");
    EXPECT_EQ(value(s.get(), 2, 6), "");

    ImportOptions import;
    import.IgnoreProps = false;
    output_.clear();
    Import(import);
    EXPECT_NE(output_.text().find("Imported 3 rows from 1 sheet; 0 references changed."), std::string::npos)
        << output_.text();
    EXPECT_EQ(output_.text().find("could not be applied"), std::string::npos) << output_.text();
    EXPECT_FALSE(db_->isModified()) << "an unedited import changed the drawing";

    xl::setValue(cellOf(s.get(), d3, 6).get(), platform::Variant::bstr(u"fresh"));
    xl::setValue(cellOf(s.get(), d3, 4).get(), platform::Variant::bstr(u"EI90"));
    output_.clear();
    Import(import);
    EXPECT_NE(output_.text().find("1 reference changed."), std::string::npos) << output_.text();
    EXPECT_NE(output_.text().find("1 value could not be applied"), std::string::npos) << output_.text();
    const std::string place = "DOOR!D" + std::to_string(d3) + ": ";
    EXPECT_NE(output_.text().find(place), std::string::npos) << output_.text();
}

// Two blocks exported one after the other into the active sheet, each under its own
// header: an unedited import changes nothing, though the blocks' columns differ
// (VALVE shows its constant attribute, so its property columns stand further right).
TEST_F(ExportToSheet, BlocksSharingASheetImportBackUnchanged) {
    options_.IncludeConstant = true;
    options_.WorksheetSettings = 1;
    options_.AddHeader = true;
    options_.ExportAttPrompts = true;
    options_.OddLine = true;
    ASSERT_TRUE(export2("VALVE,DOOR"));
    ImportOptions import;
    import.IgnoreProps = false;
    output_.clear();
    Import(import);
    EXPECT_NE(output_.text().find("Imported 6 rows from 1 sheet; 0 references changed."), std::string::npos)
        << output_.text();
    EXPECT_FALSE(db_->isModified()) << output_.text();
}

}  // namespace
}  // namespace tabro::testing
