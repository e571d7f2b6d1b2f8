// Damaged and hostile .xlsx files fail to open with a message naming the part and
// the fault; none of them crashes, hangs or makes the reader allocate without bound.
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/ForeignFile.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/VmlDrawingPart.h"
#include "sheet/xlsx/Zip.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <map>

namespace sheet::xlsx {
namespace {

using Parts = std::map<std::string, std::string>;

Parts minimalParts(const std::string& sheetData) {
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
         R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)"},
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

std::string failureOf(const std::string& bytes, const ReadLimits& limits = {}) {
    try {
        readPackage(bytes, u"bad.xlsx", limits);
    } catch (const XlsxError& e) {
        return e.what();
    }
    return "<opened>";
}

TEST(XlsxBadInputTest, AWellFormedMinimalPackageOpens) {
    auto book = readPackage(zipOf(minimalParts(R"(<row r="2"><c r="B2"><f>1+1</f><v>2</v></c></row>)")), u"ok.xlsx");
    ASSERT_EQ(book->sheets().size(), 1u);
    const Cell* c = book->sheets()[0]->find(2, 2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->number, 2);
    ASSERT_NE(book->sheets()[0]->formula(2, 2), nullptr);
    EXPECT_EQ(book->sheets()[0]->formula(2, 2)->text, "1+1");
    // The formula goes back out with its cached value.
    std::string written = writePackage(*book);
    ZipReader zip(written, ReadLimits{});
    EXPECT_NE(zip.read("xl/worksheets/sheet1.xml").find("<c r=\"B2\"><f>1+1</f><v>2</v></c>"), std::string::npos);
}

TEST(XlsxBadInputTest, DamagedPackagesFailWithAMessageNamingTheFault) {
    std::string good = zipOf(minimalParts(""));
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<x>";
    std::string laughs =
        R"(<?xml version="1.0"?><!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">]>)"
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row><c t="inlineStr"><is><t>&b;</t></is></c></row></sheetData></worksheet>)";
    auto withPart = [](Parts parts, const std::string& name, const std::string& bytes) {
        parts[name] = bytes;
        return zipOf(parts);
    };
    auto without = [](Parts parts, const std::string& name) {
        parts.erase(name);
        return zipOf(parts);
    };
    std::string escapingRels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="../../../etc/passwd"/></Relationships>)";
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"not a zip at all", "PK\x03\x04 this is not really a zip", "zip"},
        {"truncated archive", good.substr(0, good.size() / 2), "zip"},
        {"empty file", "", "zip"},
        {"password-protected workbook",
         std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(120, '\0') +
             std::string("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32),
         "encrypted"},
        {"older binary workbook", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(500, '\0'),
         "older binary format (.xls)"},
        {"no workbook part", without(minimalParts(""), "xl/workbook.xml"), "xl/workbook.xml"},
        {"no sheet part", without(minimalParts(""), "xl/worksheets/sheet1.xml"), "sheet1.xml, which is missing"},
        {"malformed XML", zipOf(minimalParts("<row><c>")), "sheet1.xml line 1"},
        {"entity expansion", withPart(minimalParts(""), "xl/worksheets/sheet1.xml", laughs),
         "document type declaration"},
        {"deep nesting", zipOf(minimalParts(deep)), "nested deeper"},
        {"column beyond the grid", zipOf(minimalParts(R"(<row r="1"><c r="XFE1"><v>1</v></c></row>)")), "XFE1"},
        {"row beyond the grid", zipOf(minimalParts(R"(<row r="1048577"/>)")), "1048577"},
        {"cell outside its row", zipOf(minimalParts(R"(<row r="1"><c r="A2"><v>1</v></c></row>)")), "stands in row 1"},
        {"shared string out of range", zipOf(minimalParts(R"(<row r="1"><c r="A1" t="s"><v>4</v></c></row>)")),
         "shared string '4'"},
        {"cell format out of range", zipOf(minimalParts(R"(<row r="1"><c r="A1" s="9"><v>1</v></c></row>)")),
         "cell format '9'"},
        {"not a number", zipOf(minimalParts(R"(<row r="1"><c r="C1"><v>abc</v></c></row>)")),
         "cell C1: 'abc' is not a number"},
        {"unknown error value", zipOf(minimalParts(R"(<row r="1"><c r="A1" t="e"><v>#OOPS</v></c></row>)")),
         "not an error value"},
        {"relationship leaving the package", withPart(minimalParts(""), "xl/_rels/workbook.xml.rels", escapingRels),
         "leaves the package"},
        {"rows out of order", zipOf(minimalParts(R"(<row r="7"><c r="A7"><v>1</v></c></row><row r="3"/>)")),
         "row 3 comes after row 7"},
        {"a row twice", zipOf(minimalParts(R"(<row r="2"/><row r="2"/>)")), "row 2 comes after row 2"},
        {"cells out of order", zipOf(minimalParts(R"(<row r="1"><c r="D1"><v>1</v></c><c r="B1"><v>2</v></c></row>)")),
         "cell B1 comes after cell D1"},
        {"a cell twice", zipOf(minimalParts(R"(<row r="1"><c r="C1"><v>1</v></c><c r="C1"><v>2</v></c></row>)")),
         "cell C1 comes after cell C1"},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.what);
        std::string message = failureOf(k.bytes);
        EXPECT_NE(message.find(k.message), std::string::npos) << message;
    }
}

// A file of another kind, whatever its name, is named as what it is: a workbook of
// another format as such, and text (the usual CSV saved from a spreadsheet) as no
// workbook at all. Binary that is none of these stays a zip error.
TEST(XlsxBadInputTest, FilesOfOtherKindsSayWhatTheyAre) {
    auto odfPackage = [](const std::string& mimetype) {
        ZipWriter zip;
        zip.add("mimetype", mimetype);
        zip.add("content.xml", "<office:document-content/>");
        zip.add("META-INF/manifest.xml", "<manifest:manifest/>");
        return zip.finish();
    };
    const std::string flatOds =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<office:document xmlns:office=\"urn:oasis:names:tc:"
        "opendocument:xmlns:office:1.0\" " +
        std::string(3000, ' ') +
        "office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body/>"
        "</office:document>";
    const std::string spreadsheet2003 =
        "<?xml version=\"1.0\"?>\r\n<?mso-application progid=\"Excel.Sheet\"?>\r\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"></Workbook>";
    struct Case {
        const char* what;
        std::string bytes;
        const char* kind;  // empty: not told as another kind
        bool isWorkbook;
    } cases[] = {
        {"OpenDocument spreadsheet", odfPackage("application/vnd.oasis.opendocument.spreadsheet"),
         "an OpenDocument spreadsheet", true},
        {"OpenDocument template", odfPackage("application/vnd.oasis.opendocument.spreadsheet-template"),
         "an OpenDocument spreadsheet", true},
        {"OpenDocument text", odfPackage("application/vnd.oasis.opendocument.text"),
         "an OpenDocument text document, not a workbook", false},
        {"flat OpenDocument spreadsheet", flatOds, "an OpenDocument spreadsheet (flat XML)", true},
        {"older binary workbook", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(500, '\0'),
         "a workbook in the older binary format (.xls)", true},
        {"XML Spreadsheet 2003", spreadsheet2003, "a workbook in the XML Spreadsheet 2003 format", true},
        {"sheet saved as a web page", "<!DOCTYPE html>\n<html><body><table></table></body></html>",
         "a web page (HTML), not a workbook", false},
        {"comma-separated text", "Block name,NUMBER\r\nDOOR,D-1\r\n", "a text (CSV) file, not a workbook", false},
        {"CSV with a byte order mark and accents",
         "\xEF\xBB\xBF"
         "Name;Value\nT\xC3\xBCr;1\n",
         "a text (CSV) file, not a workbook", false},
        {"CSV in a single-byte code page", "Name\tValue\nT\xFCr\t1\n\x1A", "a text (CSV) file, not a workbook", false},
        {"Unicode text (UTF-16)", std::string("\xFF\xFEN\0a\0m\0e\0\t\0", 12), "a text (CSV) file, not a workbook",
         false},
        {"an ASCII drawing (DXF)", "999\r\nmade by hand\r\n  0\r\nSECTION\r\n  2\r\nHEADER\r\n",
         "a drawing (DXF), not a workbook", false},
        {"a binary drawing (DXF)", std::string("AutoCAD Binary DXF\r\n\x1A\0\0\0SECTION\0", 30),
         "a drawing (DXF), not a workbook", false},
        {"text of one 0/SECTION pair later on", "Name,Value\n0\nSECTION\n", "a text (CSV) file, not a workbook", false},
        {"binary that is no workbook",
         std::string("\x7F"
                     "ELF\x02\x01\x01\0",
                     8) +
             std::string(100, '\x01'),
         "", false},
        {"a zip of something else", zipOf({{"readme.txt", "hello"}}), "", false},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.what);
        try {
            readPackage(k.bytes, u"file", {});
            ADD_FAILURE() << "opened";
        } catch (const ForeignFileError& e) {
            EXPECT_EQ(e.kind(), k.kind);
            EXPECT_EQ(e.isDrawing(), std::string_view(k.kind).starts_with("a drawing"));
            EXPECT_EQ(std::string(e.what()),
                      "the file is " + std::string(k.kind) + (k.isWorkbook ? ", not an .xlsx workbook" : ""));
        } catch (const XlsxError& e) {
            EXPECT_STREQ(k.kind, "") << e.what();
        }
    }
}

// A value the message repeats is cut: a hundred thousand digits, or a word of them,
// do not come back whole.
TEST(XlsxBadInputTest, TheMessageQuotesLongInputCut) {
    const std::string digits(100000, '7');
    const std::pair<std::string, std::string> cases[] = {
        {"<row r=\"1\"><c r=\"A1\"><v>x" + digits + "</v></c></row>",
         "'x" + digits.substr(0, 59) + "...' is not a number"},
        {"<row r=\"" + digits + "\"/>", "row number '" + digits.substr(0, 60) + "...' is out of range"},
    };
    for (const auto& [sheetData, expected] : cases) {
        const std::string message = failureOf(zipOf(minimalParts(sheetData)));
        EXPECT_NE(message.find(expected), std::string::npos) << message.substr(0, 300);
        EXPECT_LT(message.size(), 300u);
    }
}

TEST(XlsxBadInputTest, SizesBeyondTheLimitsAreRefusedWhateverTheyDeclare) {
    ReadLimits small;
    small.maxEntryBytes = 1 << 20;
    small.maxTotalBytes = 3 << 20;
    // A few kilobytes that expand to 8 MB: a zip bomb in miniature.
    std::string padding = "<row r=\"1\"/>" + std::string(8 << 20, ' ');
    std::string message = failureOf(zipOf(minimalParts(padding)), small);
    EXPECT_NE(message.find("sheet1.xml"), std::string::npos) << message;
    EXPECT_NE(message.find("bytes"), std::string::npos) << message;

    // Many moderate parts together exceed the total.
    Parts parts = minimalParts("");
    for (int i = 0; i < 5; ++i) parts["xl/media/blob" + std::to_string(i) + ".bin"] = std::string(900 << 10, 'x');
    message = failureOf(zipOf(parts), small);
    EXPECT_NE(message.find("blob"), std::string::npos) << message;
}

// A workbook of `count` sheets, each with the worksheet part `worksheet` (its
// children of <worksheet>); each has its own relationship and part unless they share.
enum class Sharing { None, Part, Relationship };
std::string workbookOfSheets(int count, const std::string& worksheet, Sharing sharing) {
    Parts parts = minimalParts("");
    parts["xl/worksheets/sheet1.xml"] =
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)" + worksheet + "</worksheet>";
    std::string sheets, rels;
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        sheets += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" +
                  (sharing == Sharing::Relationship ? "1" : n) + "\"/>";
        if (sharing == Sharing::Relationship && i > 1) continue;
        const std::string part = "worksheets/sheet" + (sharing == Sharing::None ? n : "1") + ".xml";
        rels += "<Relationship Id=\"rId" + n +
                "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                "Target=\"" +
                part + "\"/>";
        if (sharing == Sharing::None) parts["xl/" + part] = parts["xl/worksheets/sheet1.xml"];
    }
    parts["xl/workbook.xml"] =
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)" +
        sheets + "</sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)" + rels +
        "</Relationships>";
    return zipOf(parts);
}

// Bytes the heap holds now; 0 where the allocator does not say (sanitizers).
std::size_t heapInUse() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

TEST(XlsxBadInputTest, SheetsSharingAWorksheetPartAreRefused) {
    // Editing one of them would change the other, and the save would write one over
    // the other.
    const std::string oneCell = R"(<sheetData><row r="1"><c r="A1"><v>1</v></c></row></sheetData>)";
    for (Sharing sharing : {Sharing::Part, Sharing::Relationship}) {
        SCOPED_TRACE(sharing == Sharing::Part ? "two relationships to one part" : "one relationship");
        std::string message = failureOf(workbookOfSheets(3, oneCell, sharing));
        EXPECT_NE(message.find("'S1' and 'S2' both name the worksheet part xl/worksheets/sheet1.xml"),
                  std::string::npos)
            << message;
    }
}

TEST(XlsxBadInputTest, MemoryFollowsTheCellsPresentAndIsBoundedForTheWholeBook) {
    // Sheets whose one cell is in the last row cost what one row costs, not a slot
    // for each row above it.
    const std::string lastRow = R"(<sheetData><row r="1048576"><c r="A1048576"><v>1</v></c></row></sheetData>)";
    std::string bytes = workbookOfSheets(16, lastRow, Sharing::None);
    const std::size_t before = heapInUse();
    auto book = readPackage(bytes, u"sparse.xlsx");
    const std::size_t after = heapInUse();
    ASSERT_EQ(book->sheets().size(), 16u);
    EXPECT_EQ(book->sheets()[15]->find(1048576, 1)->number, 1);
    EXPECT_EQ(book->sheets()[15]->maxRow(), 1048576);
    if (before > 0) {
        EXPECT_LT(after - std::min(after, before), std::size_t{4} << 20);
    }
    book.reset();

    // Column formats are kept per column, so a sheet formatting all of them costs
    // about a megabyte; the book's total is what the limit bounds.
    ReadLimits limits;
    limits.maxBookMemoryBytes = 16u << 20;
    const std::string allColumns = R"(<cols><col min="1" max="16384" width="5" customWidth="1"/></cols><sheetData>)"
                                   R"(<row r="1"><c r="XFD1" t="inlineStr"><is><t>x</t></is></c></row></sheetData>)";
    std::string message = failureOf(workbookOfSheets(64, allColumns, Sharing::None), limits);
    EXPECT_NE(message.find("MB of memory"), std::string::npos) << message;
    EXPECT_NE(message.find("xl/worksheets/sheet"), std::string::npos) << message;
    EXPECT_NO_THROW(readPackage(workbookOfSheets(4, allColumns, Sharing::None), u"ok.xlsx", limits));
}

TEST(XlsxBadInputTest, DrawingShapesAreFoundWhereverThePiecesBreak) {
    std::string notes =
        R"(<xml><v:shape><x:ClientData ObjectType="Note"><x:Row>1</x:Row></x:ClientData></v:shape><br>)";
    std::string button = R"(<v:shape><x:ClientData ObjectType="Button"></x:ClientData></v:shape></xml>)";
    struct Case {
        const char* what;
        std::string vml;
        bool isClean;
    } cases[] = {{"notes only", notes + notes + "</xml>", true},
                 {"a button among notes", notes + button, false},
                 {"a cut-off type", notes + R"(<x:ClientData ObjectType="No)", false}};
    for (auto& k : cases) {
        for (std::size_t pieceSize : {1u, 7u, 4096u}) {
            SCOPED_TRACE(std::string(k.what) + ", pieces of " + std::to_string(pieceSize));
            VmlShapeScanner scanner;
            for (std::size_t i = 0; i < k.vml.size(); i += pieceSize)
                scanner.feed(std::string_view(k.vml).substr(i, pieceSize));
            EXPECT_EQ(scanner.finish().empty(), k.isClean);
        }
    }
}

}  // namespace
}  // namespace sheet::xlsx
