// What a worksheet or a workbook cannot hold: an export finds it out before it
// writes and says so in an error box (a script's cadhost then ends with a failure).
// A reference whose row does not fit gets no row at all, so that an untouched
// import leaves the drawing as it is; settings and workbooks that cannot take an
// export are refused before anything is written.
#include "ExportDrawingFixture.h"

#include "module/base/ResourceStrings.h"
#include "module/export/Export.h"
#include "module/export/SheetWriter.h"
#include "module/import/Import.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "platform/MessageBox.h"
#include "sheet/DispatchIds.h"
#include "sheet/Spreadsheet.h"
#include "sheet/xlsx/Zip.h"

#include <chrono>
#include <clocale>
#include <fstream>
#include <map>

namespace tabro::testing {
namespace {

using Texts = std::vector<std::string>;

// An ASCII DXF drawing of blocks with attribute definitions and references holding
// attributes, written the way the host reads it back (handles from 100 up).
struct DrawingText {
    struct Reference {
        std::string block;
        std::vector<std::pair<std::string, std::string>> attributes;  // tag, text
    };
    std::string version = "AC1015";
    std::vector<std::pair<std::string, std::vector<std::string>>> blocks;  // name, definitions' tags
    std::vector<Reference> references;
    // Filled by text(): each reference's handle and its first attribute's.
    std::vector<std::string> referenceHandles, firstAttributeHandles;

    std::string text() {
        unsigned next = 0x100;
        auto handle = [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X", next++);
            return std::string(hex);
        };
        std::string out = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\n" + version + "\n0\nENDSEC\n";
        out +=
            "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n" + handle() + "\n2\n*Model_Space\n";
        for (const auto& [name, tags] : blocks) out += "0\nBLOCK_RECORD\n5\n" + handle() + "\n2\n" + name + "\n";
        out += "0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n5\n" + handle() +
               "\n2\n*Model_Space\n0\nENDBLK\n5\n" + handle() + "\n";
        for (const auto& [name, tags] : blocks) {
            out += "0\nBLOCK\n5\n" + handle() + "\n8\n0\n2\n" + name + "\n70\n2\n10\n0\n20\n0\n30\n0\n";
            for (const std::string& tag : tags)
                out += "0\nATTDEF\n5\n" + handle() + "\n8\n0\n10\n0\n20\n0\n30\n0\n40\n1\n1\n\n3\nprompt\n2\n" + tag +
                       "\n70\n0\n";
            out += "0\nENDBLK\n5\n" + handle() + "\n";
        }
        out += "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n";
        referenceHandles.clear();
        firstAttributeHandles.clear();
        for (const Reference& r : references) {
            referenceHandles.push_back(handle());
            firstAttributeHandles.push_back(handle());
            --next;
            out +=
                "0\nINSERT\n5\n" + referenceHandles.back() + "\n8\n0\n2\n" + r.block + "\n66\n1\n10\n0\n20\n0\n30\n0\n";
            for (const auto& [tag, text] : r.attributes)
                out += "0\nATTRIB\n5\n" + handle() + "\n8\n0\n10\n0\n20\n0\n30\n0\n40\n1\n1\n" + text + "\n2\n" + tag +
                       "\n70\n0\n";
            out += "0\nSEQEND\n5\n" + handle() + "\n";
        }
        return out + "0\nENDSEC\n0\nEOF\n";
    }
};

class ExportLimits : public SpreadsheetExportTest {
protected:
    void SetUp() override {
        SpreadsheetExportTest::SetUp();
        nextExportRow = 1;
        options_.XCoord = options_.YCoord = options_.ZCoord = options_.Rotation = options_.LayerNames = options_.Scale =
            false;
    }

    void openText(const std::string& text) {
        const std::string path = (folder_ / "drawing.dxf").string();
        std::ofstream(path, std::ios::binary) << text;
        openDrawing(path);
    }

    bool export2(const std::string& answer) {
        Settings settings;
        settings.exportOptions = options_;
        EXPECT_TRUE(saveSettings(settings));
        feed({answer});
        return Export2();
    }

    // Every sheet of the active workbook, as the import reads them, attributes and
    // properties alike.
    void importEverySheet() {
        ImportOptions import;
        import.ImportSettings = 1;
        import.IgnoreProps = false;
        output_.clear();
        Import(import);
    }

    // Column A's comments from row 2 down to the first row without one.
    static Texts handles(IDispatch* sheet) {
        Texts out;
        for (LONG r = 2; comment(sheet, r, 1) != "<none>"; ++r) out.push_back(comment(sheet, r, 1));
        return out;
    }
    // The one box the export showed: an error, which a script's cadhost counts.
    std::string failureBoxText() {
        EXPECT_EQ(boxes_.count(), 1u);
        if (boxes_.count() == 0) return {};
        EXPECT_EQ(boxes_.last().caption, resourceStrings().load(kTextErrorCaption));
        EXPECT_TRUE(platform::isFailureBox(boxes_.last().type));
        return boxes_.last().text;
    }
    static LONG sheetCount() { return xl::count(xl::worksheets(xl::activeWorkbook(app().get()).get()).get()); }

    ExportOptions options_;
};

// Texts up to what a cell holds and rows up to the columns a sheet has are written
// whole; one past either is refused before anything of its reference is written,
// named in the box, and adds no column. The untouched workbook imports back without
// changing the drawing.
TEST_F(ExportLimits, ARowNoWorksheetCanHoldIsLeftOutWhole) {
    DrawingText drawing;
    drawing.blocks = {{"LONG", {"A", "B"}}, {"WIDE", {"T"}}};
    // Block name and T: the WIDE block's row has room for this many more columns.
    const int extraRoom = static_cast<int>(xl::kLastColumn) - 2;
    auto wide = [](const char* text, int extras) {
        DrawingText::Reference r{"WIDE", {{"T", text}}};
        for (int i = 1; i <= extras; ++i) r.attributes.emplace_back("X" + std::to_string(i), "x" + std::to_string(i));
        return r;
    };
    drawing.references = {
        {"LONG", {{"A", "a1"}, {"B", std::string(xl::kMostCellCharacters, 'b')}}},
        {"LONG", {{"A", "a2"}, {"B", std::string(xl::kMostCellCharacters + 1, 'c')}}},
        {"LONG", {{"A", "a3"}, {"B", "short"}}},
        wide("full", extraRoom),
        wide("too wide", extraRoom + 1),
        wide("narrow", 0),
    };
    openText(drawing.text());
    const std::vector<std::string>& h = drawing.referenceHandles;
    const Texts longHandles{h[0], h[1], h[2]};
    const Texts wideHandles{h[3], h[4], h[5]};

    EXPECT_TRUE(export2("LONG,WIDE"));
    const std::string box = failureBoxText();
    EXPECT_EQ(box.rfind(formatText(kTextNotExportedMany, 2L), 0), 0u) << box;
    EXPECT_NE(
        box.find("LONG, handle " + longHandles[1] + ": " + formatText(kTextReasonCellTooLong, "B", 32768L, 32767L)),
        std::string::npos)
        << box;
    EXPECT_NE(box.find("WIDE, handle " + wideHandles[1] + ": " + formatText(kTextReasonTooManyColumns, 16385L, 16384L)),
              std::string::npos)
        << box;

    DispatchPtr longSheet = sheetNamed("LONG");
    EXPECT_EQ(handles(longSheet.get()), (Texts{longHandles[0], longHandles[2]}));
    EXPECT_EQ(value(longSheet.get(), 2, 3).size(), static_cast<std::size_t>(xl::kMostCellCharacters));
    EXPECT_EQ(value(longSheet.get(), 3, 3), "short");
    DispatchPtr wideSheet = sheetNamed("WIDE");
    EXPECT_EQ(handles(wideSheet.get()), (Texts{wideHandles[0], wideHandles[2]}));
    EXPECT_EQ(value(wideSheet.get(), 1, xl::kLastColumn), "X" + std::to_string(extraRoom));
    EXPECT_EQ(value(wideSheet.get(), 2, xl::kLastColumn), "x" + std::to_string(extraRoom));
    EXPECT_EQ(value(wideSheet.get(), 3, 2), "narrow");

    importEverySheet();
    EXPECT_NE(output_.text().find("Imported 4 rows from 3 sheets; 0 references changed."), std::string::npos)
        << output_.text();
    EXPECT_FALSE(db_->isModified()) << "an untouched import changed the drawing";
}

// Rows run out at the last row of a sheet: the references past it are named, the
// ones before it written.
TEST_F(ExportLimits, RowsPastTheLastRowOfTheSheetAreLeftOut) {
    openDrawing(fixturePath());
    options_.WorksheetSettings = 1;
    options_.StartRow = xl::kLastRow - 1;
    EXPECT_TRUE(export2("DOOR"));
    const std::string box = failureBoxText();
    EXPECT_EQ(box.rfind(formatText(kTextNotExportedMany, 2L), 0), 0u) << box;
    EXPECT_NE(box.find(formatText(kTextReasonNoRowLeft, 1048576L)), std::string::npos) << box;
    DispatchPtr s = xl::activeSheet(app().get());
    EXPECT_EQ(comment(s.get(), xl::kLastRow - 1, 1), "50");
    EXPECT_EQ(comment(s.get(), xl::kLastRow, 1), "54");
    EXPECT_EQ(nextExportRow, xl::kLastRow + 1);
}

// A start row no sheet has is refused before the spreadsheet is even started.
TEST_F(ExportLimits, AStartRowNoSheetHasIsRefusedFirst) {
    openDrawing(fixturePath());
    for (LONG startRow : std::initializer_list<LONG>{0x7FFFFFFF, -5, 0, xl::kLastRow + 1}) {
        SCOPED_TRACE(startRow);
        boxes_.clear();
        options_.WorksheetSettings = 1;
        options_.StartRow = startRow;
        EXPECT_FALSE(export2("DOOR"));
        EXPECT_EQ(failureBoxText(), formatText(kTextBadStartRow, static_cast<long>(startRow), 1048576L));
        EXPECT_FALSE(app()) << "the spreadsheet was started";
    }
}

// A workbook that cannot keep the export, found before anything is written: one
// open read-only, one whose sheets and the blocks' would be more than a workbook
// holds. One sheet fewer fits.
TEST_F(ExportLimits, AWorkbookThatCannotKeepTheExportIsRefusedFirst) {
    openDrawing(fixturePath());
    options_.WorkbookSettings = 1;
    // A workbook with a chart sheet opens read-only: writing it back would lose it.
    {
        const std::string ns =
            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
        const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
        sheet::xlsx::ZipWriter zip;
        zip.add("[Content_Types].xml",
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" "
                "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>");
        zip.add("_rels/.rels",
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\"" +
                    rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
        zip.add("xl/workbook.xml", "<workbook " + ns +
                                       "><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
                                       "<sheet name=\"Chart\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>");
        zip.add("xl/_rels/workbook.xml.rels",
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\"" +
                    rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
                    "chartsheet\" Target=\"chartsheets/sheet1.xml\"/></Relationships>");
        zip.add("xl/worksheets/sheet1.xml", "<worksheet " + ns + "><sheetData/></worksheet>");
        const std::string bytes = zip.finish();
        std::ofstream("charted.xlsx", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    sheet::openWorkbookFile("charted.xlsx");
    const std::string name = toMultibyte(xl::name(xl::activeWorkbook(app().get()).get()));
    EXPECT_FALSE(export2("DOOR"));
    EXPECT_EQ(failureBoxText(), formatText(kTextReadOnlyWorkbook, name.c_str()));
    EXPECT_EQ(sheetCount(), 1);

    // The fixture's blocks with references: DOOR, VALVE, NORTH, KEY and EQUIP[1].
    // They fill a workbook of five sheets fewer than the most to the brim; one more
    // block after that is refused.
    const LONG adding = 5;
    DispatchPtr book = xl::addWorkbook(xl::workbooks(app().get()).get());
    DispatchPtr sheets = xl::worksheets(book.get());
    for (LONG n = xl::kMostWorksheets - adding - 1; n > 0; n -= 255)
        (void)xl::callMethod(sheets.get(), xl::dispid::Add,
                             {platform::Variant::missing(), platform::Variant::missing(),
                              platform::Variant::i4(std::min<LONG>(n, 255)), platform::Variant::missing()});
    ASSERT_EQ(sheetCount(), xl::kMostWorksheets - adding);
    boxes_.clear();
    EXPECT_TRUE(export2(""));
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_EQ(sheetCount(), xl::kMostWorksheets);
    EXPECT_FALSE(export2("NORTH"));
    EXPECT_EQ(failureBoxText(), formatText(kTextTooManySheets, 1L, 4096L, 4096L));
    EXPECT_EQ(sheetCount(), xl::kMostWorksheets);
}

// What the import's summary quotes of a cell or a header (a layer, a tag) is cut:
// a cell full of digits does not fill the command line.
TEST_F(ExportLimits, TheImportSummaryQuotesCellTextCut) {
    openDrawing(fixturePath());
    options_.LayerNames = true;
    ASSERT_TRUE(export2("DOOR"));
    DispatchPtr s = sheetNamed("DOOR");
    ASSERT_EQ(value(s.get(), 1, 4), resourceStrings().load(kTextLayerTitle));
    const std::string digits(30000, '9');
    xl::setValue(cellOf(s.get(), 2, 4).get(), platform::Variant::bstr(toWide(digits)));
    xl::setValue(cellOf(s.get(), 1, 2).get(), platform::Variant::bstr(toWide("W" + digits)));
    importEverySheet();
    const std::string text = output_.text();
    EXPECT_NE(text.find(formatText(kTextReasonNoSuchLayer, (digits.substr(0, 60) + "...").c_str())), std::string::npos)
        << text.substr(0, 2000);
    EXPECT_NE(text.find(formatText(kTextReasonNoSuchAttribute, ("W" + digits.substr(0, 59) + "...").c_str())),
              std::string::npos)
        << text.substr(0, 2000);
    EXPECT_LT(text.size(), 2000u);
}

// Text the system code page cannot decode (invalid UTF-8 in a drawing of R2007 or
// later) goes out as U+FFFD: that cell, untouched, leaves the attribute's bytes as
// they are; edited, it is written.
TEST_F(ExportLimits, UntouchedTextThatDoesNotDecodeIsLeftAsItIs) {
    struct Utf8Locale {
        std::string saved = std::setlocale(LC_CTYPE, nullptr);
        bool isSet = std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "en_US.UTF-8");
        ~Utf8Locale() { std::setlocale(LC_CTYPE, saved.c_str()); }
    } locale;
    if (!locale.isSet) GTEST_SKIP() << "no UTF-8 locale";
    DrawingText drawing;
    drawing.version = "AC1021";
    drawing.blocks = {{"TAG", {"A", "B"}}};
    drawing.references = {{"TAG", {{"A", "bad\xff\xfe\xc3(x"}, {"B", "fine"}}},
                          {"TAG", {{"A", "ok \xc3\xa9"}, {"B", "\xe2\x82"}}}};
    openText(drawing.text());
    EXPECT_TRUE(export2("TAG"));
    EXPECT_EQ(boxes_.count(), 0u);
    DispatchPtr s = sheetNamed("TAG");
    EXPECT_EQ(toWide(value(s.get(), 2, 2)), u"bad\uFFFD\uFFFD\uFFFD(x");

    importEverySheet();
    EXPECT_FALSE(db_->isModified()) << output_.text();

    xl::setValue(cellOf(s.get(), 2, 2).get(), platform::Variant::bstr(u"mended"));
    importEverySheet();
    EXPECT_NE(output_.text().find("1 reference changed."), std::string::npos) << output_.text();
    AcDbObjectPointer<AcDbAttribute> attribute(idOf(drawing.firstAttributeHandles[0].c_str()), AcDb::kForRead);
    ASSERT_TRUE(attribute);
    EXPECT_STREQ(AcutString(attribute->textString()).get(), "mended");
}

// A reference of two hundred thousand attributes, none declared: the export plans
// their columns and refuses the row, and an import applies a row to it, each in
// time that grows with the attributes, not with their square.
TEST_F(ExportLimits, TimeGrowsWithTheAttributesOfAReference) {
    constexpr int kAttributes = 200000;
    DrawingText drawing;
    drawing.blocks = {{"MANY", {}}};
    DrawingText::Reference reference{"MANY", {}};
    for (int i = 0; i < kAttributes; ++i) reference.attributes.emplace_back("T" + std::to_string(i), "v");
    drawing.references = {std::move(reference)};
    openText(drawing.text());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(export2("MANY"));
    EXPECT_NE(failureBoxText().find(formatText(kTextReasonTooManyColumns, 200001L, 16384L)), std::string::npos);

    // A row for it written by hand: its last attribute, by tag.
    DispatchPtr s = xl::activeSheet(app().get());
    xl::setValue(cellOf(s.get(), 1, 1).get(), platform::Variant::bstr(u"Block name"));
    xl::setValue(cellOf(s.get(), 1, 2).get(), platform::Variant::bstr(u"T199999"));
    (void)xl::addComment(cellOf(s.get(), 2, 1).get(), toWide(drawing.referenceHandles[0]));
    xl::setValue(cellOf(s.get(), 2, 1).get(), platform::Variant::bstr(u"MANY"));
    xl::setValue(cellOf(s.get(), 2, 2).get(), platform::Variant::bstr(u"last"));
    importEverySheet();
    EXPECT_NE(output_.text().find("1 reference changed."), std::string::npos) << output_.text();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // About a second here; pairing each attribute with each took minutes.
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace tabro::testing
