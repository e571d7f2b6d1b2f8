// Workbooks other programs wrote, changed here and saved: what the stand-in carries
// without modelling it (a cell format's alignment, rich text runs, a namespace
// prefix on every element) comes back whole and well-formed, next to what was
// added, and reads back with the meaning it had.
#include "sheet/Book.h"
#include "sheet/Sheet.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/XmlReader.h"
#include "sheet/xlsx/Zip.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace sheet::xlsx {
namespace {

using Parts = std::map<std::string, std::string>;

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// A workbook of one sheet whose parts are given with the prefix `p` ("" or "x:")
// on every spreadsheet element.
Parts workbookParts(const std::string& p, const std::string& styles, const std::string& sharedStrings,
                    const std::string& sheetData) {
    const std::string ns = p.empty() ? std::string(" xmlns=\"") + kMain + "\""
                                     : " xmlns:" + p.substr(0, p.size() - 1) + "=\"" + kMain + "\"";
    return {
        {"[Content_Types].xml",
         R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
         R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
         R"(<Default Extension="xml" ContentType="application/xml"/></Types>)"},
        {"_rels/.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
        {"xl/workbook.xml",
         R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
         R"(<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
        {"xl/_rels/workbook.xml.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
         R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
         R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)"
         R"(</Relationships>)"},
        {"xl/styles.xml", "<" + p + "styleSheet" + ns + ">" + styles + "</" + p + "styleSheet>"},
        {"xl/sharedStrings.xml", "<" + p + "sst" + ns + ">" + sharedStrings + "</" + p + "sst>"},
        {"xl/worksheets/sheet1.xml",
         R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)" + sheetData +
             "</sheetData></worksheet>"},
    };
}

std::string zipOf(const Parts& parts) {
    ZipWriter zip;
    for (const auto& [name, bytes] : parts) zip.add(name, bytes);
    return zip.finish();
}

std::string part(const std::string& archive, const std::string& name) {
    ZipReader zip(archive, ReadLimits{});
    return zip.read(name);
}

// Fails the test unless the text is well-formed XML (by the package's own strict
// reader: a mismatched end tag or an unbound prefix is an error there).
class WellFormed : public XmlReader {
    void onStart(const XmlElement&) override {}
    void onEnd(std::string_view, std::string_view, int, std::size_t) override {}
};
void expectWellFormed(const std::string& xml, const std::string& name) {
    WellFormed reader;
    EXPECT_NO_THROW(reader.parse(xml, name, 256)) << xml;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// What an export does to a sheet of a foreign workbook: text in the "@" format,
// a bold row, a new shared string.
std::string changeAndSave(Book& book) {
    auto sheet = book.sheets()[0];
    sheet->setText(5, 1, u"added");
    std::uint32_t style = book.styles.withFormatCode(sheet->styleAt(5, 1), "@");
    style = book.styles.withBold(style, true);
    sheet->setStyle(5, 1, style);
    return writePackage(book);
}

TEST(ForeignPartsTest, CellFormatsWithChildrenAndRichTextComeBackWhole) {
    for (const std::string p : {"", "x:"}) {
        SCOPED_TRACE(p.empty() ? "no prefix" : "prefix x:");
        const std::string styles =
            "<" + p + "fonts count=\"1\"><" + p + "font><" + p + "sz val=\"11\"/><" + p + "name val=\"Calibri\"/></" +
            p + "font></" + p + "fonts><" + p + "cellXfs count=\"2\"><" + p +
            "xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/><" + p +
            "xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyAlignment=\"1\"><" + p +
            "alignment horizontal=\"center\" wrapText=\"1\"/><" + p + "protection locked=\"0\"/></" + p + "xf></" + p +
            "cellXfs>";
        // The rich item comes last, right before the end of the part.
        const std::string sst = "<" + p + "si><" + p + "t>plain</" + p + "t></" + p + "si><" + p + "si><" + p + "r><" +
                                p + "rPr><" + p + "b/></" + p + "rPr><" + p + "t>bold</" + p + "t></" + p + "r><" + p +
                                "r><" + p + "t> rest</" + p + "t></" + p + "r></" + p + "si>";
        const std::string cells = R"(<row r="1"><c r="A1" s="1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>)"
                                  R"(<c r="C1" t="inlineStr"><is><r><rPr><i/></rPr><t>inline</t></r></is></c></row>)";
        auto book = readPackage(zipOf(workbookParts(p, styles, sst, cells)), u"foreign.xlsx");
        ASSERT_TRUE(book->readOnlyReason.empty()) << book->readOnlyReason;
        // The format the user's aligned cell had, made bold and text: it keeps its alignment.
        auto sheet = book->sheets()[0];
        std::uint32_t aligned = book->styles.withBold(book->styles.withFormatCode(1, "@"), true);
        sheet->setStyle(1, 1, aligned);
        const std::string saved = changeAndSave(*book);

        const std::string stylesOut = part(saved, "xl/styles.xml");
        const std::string sstOut = part(saved, "xl/sharedStrings.xml");
        expectWellFormed(stylesOut, "styles");
        expectWellFormed(sstOut, "sharedStrings");
        // Each format made from the aligned one carries its children once, closed once.
        EXPECT_EQ(occurrences(stylesOut, "<" + p + "alignment horizontal=\"center\" wrapText=\"1\"/><" + p +
                                             "protection locked=\"0\"/></" + p + "xf>"),
                  occurrences(stylesOut, "<" + p + "alignment"));
        EXPECT_EQ(occurrences(stylesOut, "<cellXfs") + occurrences(stylesOut, "<x:cellXfs"), 1u);
        EXPECT_EQ(occurrences(stylesOut, "<" + p + "b/>"), 1u) << "the bold font, under the stylesheet's prefix";
        EXPECT_EQ(occurrences(sstOut, "</is>"), 0u);

        auto back = readPackage(saved, u"foreign.xlsx");
        const Sheet& read = *back->sheets()[0];
        EXPECT_TRUE(back->styles.isBold(read.styleAt(1, 1)));
        EXPECT_TRUE(back->styles.isTextFormat(read.styleAt(1, 1)));
        EXPECT_TRUE(back->styles.isBold(read.styleAt(5, 1)));
        EXPECT_FALSE(back->styles.isBold(read.styleAt(1, 2)));
        const CellFormat& format = back->styles.formats()[read.styleAt(1, 1)];
        EXPECT_EQ(format.alignment + format.innerXml,
                  "<" + p + "alignment horizontal=\"center\" wrapText=\"1\"/><" + p + "protection locked=\"0\"/>");
        EXPECT_EQ(back->strings.text(read.find(1, 2)->text), u"bold rest");
        EXPECT_EQ(back->strings.text(read.find(1, 3)->text), u"inline");
        EXPECT_NE(back->strings.richXml(read.find(1, 2)->text).find("<" + p + "b/>"), std::string::npos)
            << "the run's formatting is carried";
    }
}

// Wrapping the text of cells whose formats the user aligned changes wrapText and
// nothing else: the other alignment attributes (whatever their form, and foreign
// ones), the format's other children and its apply flags stay as written; a format
// the workbook already has is reused; wrapping taken away again gives back the
// format the cell had.
TEST(ForeignPartsTest, WrappingTextKeepsTheRestOfAUsersAlignmentAsWritten) {
    for (const std::string p : {"", "x:"}) {
        SCOPED_TRACE(p.empty() ? "no prefix" : "prefix x:");
        const std::string kXf = "<" + p + "xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"";
        const std::string userAligned = "<" + p +
                                        "alignment horizontal=\"left\" vertical=\"top\" textRotation=\"90\" "
                                        "indent=\"2\"\n shrinkToFit=\"1\" readingOrder=\"2\"/>";
        const std::string unwrapped = "<" + p + "alignment wrapText='0' vertical=\"center\"  />";
        const std::string foreign = "<" + p + "alignment xmlns:t=\"urn:tablora:test\" t:wrapText=\"0\" " +
                                    "horizontal=\"right\"></" + p + "alignment>";
        const std::string protection = "<" + p + "protection locked=\"0\"/>";
        const std::string styles =
            "<" + p + "fonts count=\"1\"><" + p + "font><" + p + "sz val=\"11\"/></" + p + "font></" + p + "fonts><" +
            p + "cellXfs count=\"6\">" + kXf + "/>" + kXf + " applyAlignment=\"1\">" + userAligned + protection + "</" +
            p + "xf>" + kXf + " applyAlignment=\"0\">" + unwrapped + "</" + p + "xf>" + kXf + "><" + p +
            "alignment wrapText=\" true \"/></" + p + "xf>" + kXf + " applyAlignment=\"1\"><" + p +
            "alignment wrapText=\"1\"/></" + p + "xf>" + kXf + ">" + foreign + "</" + p + "xf></" + p + "cellXfs>";
        auto book = readPackage(zipOf(workbookParts(p, styles, "<" + p + "si><" + p + "t>a</" + p + "t></" + p + "si>",
                                                    R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row>)")),
                                u"aligned.xlsx");
        ASSERT_TRUE(book->readOnlyReason.empty()) << book->readOnlyReason;
        Styles& st = book->styles;
        for (std::uint32_t xf = 0; xf < 6; ++xf) EXPECT_EQ(st.wrapsText(xf), xf == 3 || xf == 4) << xf;
        const std::size_t formatsRead = st.formatCount();

        // A plain format wrapped is the user's own wrapped format, not a copy of it.
        EXPECT_EQ(st.withWrapText(0, true), 4u);
        EXPECT_EQ(st.withWrapText(3, true), 3u);
        const std::uint32_t aligned = st.withWrapText(1, true);
        const std::uint32_t explicitlyUnwrapped = st.withWrapText(2, true);
        const std::uint32_t withForeign = st.withWrapText(5, true);
        const std::uint32_t plain = st.withWrapText(3, false);
        EXPECT_EQ(st.formatCount(), formatsRead + 4);
        EXPECT_EQ(st.withWrapText(aligned, false), 1u);
        EXPECT_EQ(st.withWrapText(1, true), aligned);
        EXPECT_EQ(st.formatCount(), formatsRead + 4);

        Sheet& sheet = *book->sheets()[0];
        const std::uint32_t cellStyles[] = {aligned, explicitlyUnwrapped, withForeign, plain, 4, 1};
        for (std::int32_t r = 0; r < 6; ++r) {
            sheet.setText(r + 2, 1, u"first\nsecond");
            sheet.setStyle(r + 2, 1, cellStyles[r]);
        }
        const std::string saved = writePackage(*book);
        const std::string out = part(saved, "xl/styles.xml");
        expectWellFormed(out, "styles");
        const std::string wrappedAligned = "<" + p +
                                           "alignment horizontal=\"left\" vertical=\"top\" textRotation=\"90\" "
                                           "indent=\"2\"\n shrinkToFit=\"1\" readingOrder=\"2\" wrapText=\"1\"/>";
        for (const std::string& written :
             {kXf + " applyAlignment=\"1\">" + wrappedAligned + protection + "</" + p + "xf>",
              kXf + " applyAlignment=\"1\">" + userAligned + protection + "</" + p + "xf>",
              kXf + " applyAlignment=\"1\"><" + p + "alignment wrapText=\"1\" vertical=\"center\"  /></" + p + "xf>",
              kXf + " applyAlignment=\"1\"><" + p + "alignment xmlns:t=\"urn:tablora:test\" t:wrapText=\"0\" " +
                  "horizontal=\"right\" wrapText=\"1\"></" + p + "alignment></" + p + "xf>",
              kXf + " applyAlignment=\"1\"/>"})
            EXPECT_EQ(occurrences(out, written), 1u) << written << "\nin\n" << out;

        auto back = readPackage(saved, u"aligned.xlsx");
        const Sheet& read = *back->sheets()[0];
        const bool wraps[] = {true, true, true, false, true, false};
        for (std::int32_t r = 0; r < 6; ++r)
            EXPECT_EQ(back->styles.wrapsText(read.styleAt(r + 2, 1)), wraps[r]) << "row " << r + 2;
        EXPECT_EQ(back->styles.formats()[read.styleAt(2, 1)].alignment, wrappedAligned);
        EXPECT_EQ(back->styles.formats()[read.styleAt(2, 1)].innerXml, protection);
        EXPECT_FALSE(back->styles.wrapsText(read.styleAt(1, 1)));
    }
}

// Some writers list a font's properties out of the schema's order, which the
// validators refuse; written back, each property is whole and in order.
TEST(ForeignPartsTest, FontPropertiesAreWrittenInTheSchemasOrder) {
    const std::string styles =
        R"(<fonts count="2"><font><name val="Calibri"/><family val="2"/><color theme="1"/><sz val="11"/>)"
        R"(<scheme val="minor"/></font><font><name val="Arial"/><b val="1"/><sz val="9"/></font></fonts>)"
        R"(<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
        R"(<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/></cellXfs>)";
    auto book = readPackage(
        zipOf(workbookParts("", styles, "<si><t>a</t></si>", R"(<row r="1"><c r="A1" s="1" t="s"><v>0</v></c></row>)")),
        u"ordered.xlsx");
    const std::string saved = changeAndSave(*book);
    const std::string out = part(saved, "xl/styles.xml");
    EXPECT_NE(out.find(R"(<font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/>)"
                       R"(<scheme val="minor"/></font>)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(R"(<font><b val="1"/><sz val="9"/><name val="Arial"/></font>)"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(<font><b/><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/>)"),
              std::string::npos)
        << "the bold font made here, in order too:\n"
        << out;
    auto back = readPackage(saved, u"ordered.xlsx");
    EXPECT_TRUE(back->styles.isBold(back->sheets()[0]->styleAt(1, 1)));
}

// Column ranges as some writers leave them: overlapping (the later one wins) and
// many more of them than a sheet has columns. Each column is given its format once,
// however many ranges cover it (a part of 20,000 whole-width ranges took minutes).
TEST(ForeignPartsTest, OverlappingAndManyColumnRangesReadAsTheLastOneSays) {
    auto withCols = [](const std::string& cols) {
        Parts parts = workbookParts("", "", "<si><t>a</t></si>", "");
        parts["xl/worksheets/sheet1.xml"] =
            R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><cols>)" + cols +
            R"(</cols><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row></sheetData></worksheet>)";
        return readPackage(zipOf(parts), u"cols.xlsx");
    };
    auto book =
        withCols(R"(<col min="1" max="10" width="5" customWidth="1"/><col min="3" max="4" width="9" customWidth="1"/>)"
                 R"(<col min="4" max="20" width="7" customWidth="1"/>)");
    const auto& cols = book->sheets()[0]->columnFormats();
    ASSERT_GE(cols.size(), 20u);
    EXPECT_EQ(cols[0].width, 5);
    EXPECT_EQ(cols[2].width, 9);
    EXPECT_EQ(cols[3].width, 7);
    EXPECT_EQ(cols[19].width, 7);

    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += R"(<col min="1" max="16384" width=")" + std::to_string(i % 50 + 1) + R"(" customWidth="1"/>)";
    auto big = withCols(many);
    const auto& bigCols = big->sheets()[0]->columnFormats();
    ASSERT_EQ(bigCols.size(), 16384u);
    EXPECT_EQ(bigCols[0].width, 50) << "the last range's width";
    EXPECT_EQ(bigCols[16383].width, bigCols[0].width);
}

}  // namespace
}  // namespace sheet::xlsx
