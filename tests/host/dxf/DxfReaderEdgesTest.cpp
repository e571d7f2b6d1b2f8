// What other programs put in ASCII DXF files besides tags in order: comments, a
// byte-order mark, bytes after EOF, padded words, code pages this machine lacks, no
// handles at all. Each opens and comes back as it was, apart from what a change made.
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/dxf/DxfTokenizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string lines(std::initializer_list<std::string> ls) {
    std::string s;
    for (const std::string& l : ls) (s += l) += '\n';
    return s;
}

// A reference (handle 40) to block DOOR with attribute NUMBER = "D-1", comments
// where writers put them: first in the file, between sections, inside the header
// between a variable and its value, inside a table's head and inside an entity.
std::string commentedDrawing(const std::string& codePage = "ANSI_1252") {
    return lines({"999", "written by another program",
                  "0",   "SECTION",
                  "2",   "HEADER",
                  "9",   "$ACADVER",
                  "999", "a note on the version",
                  "1",   "AC1015",
                  "9",   "$DWGCODEPAGE",
                  "3",   codePage,
                  "9",   "$HANDSEED",
                  "5",   "100",
                  "0",   "ENDSEC",
                  "999", "between sections",
                  "0",   "SECTION",
                  "2",   "TABLES",
                  "0",   "TABLE",
                  "999", "inside a table's head",
                  "2",   "LAYER",
                  "0",   "LAYER",
                  "5",   "20",
                  "2",   "0",
                  "70",  "0",
                  "0",   "ENDTAB",
                  "0",   "ENDSEC",
                  "0",   "SECTION",
                  "2",   "BLOCKS",
                  "0",   "BLOCK",
                  "5",   "30",
                  "2",   "DOOR",
                  "70",  "2",
                  "10",  "0.0",
                  "20",  "0.0",
                  "30",  "0.0",
                  "0",   "ATTDEF",
                  "5",   "31",
                  "8",   "0",
                  "10",  "0.0",
                  "20",  "0.0",
                  "40",  "1.0",
                  "1",   "",
                  "3",   "Number",
                  "2",   "NUMBER",
                  "70",  "0",
                  "0",   "ENDBLK",
                  "5",   "32",
                  "0",   "ENDSEC",
                  "0",   "SECTION",
                  "2",   "ENTITIES",
                  "0",   "INSERT",
                  "5",   "40",
                  "999", "inside an entity",
                  "8",   "0",
                  "66",  "1",
                  "2",   "DOOR",
                  "10",  "1.0",
                  "20",  "2.0",
                  "30",  "0.0",
                  "0",   "ATTRIB",
                  "5",   "41",
                  "8",   "0",
                  "10",  "1.0",
                  "20",  "2.0",
                  "40",  "1.0",
                  "1",   "D-1",
                  "2",   "NUMBER",
                  "70",  "0",
                  "0",   "SEQEND",
                  "5",   "42",
                  "0",   "ENDSEC",
                  "0",   "EOF"});
}

std::string listing(AcDbDatabase& db) {
    std::ostringstream list;
    listBlockReferences(db, list);
    return list.str();
}

AcDbObjectId idOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << std::hex << handle;
    return id;
}

void setNumber(AcDbDatabase& db, const char* text) {
    AcDbObjectPointer<AcDbBlockReference> ref(idOf(db, 0x40), AcDb::kForWrite);
    ASSERT_TRUE(ref);
    std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
    AcDbAttribute* att = nullptr;
    ASSERT_EQ(ref->openAttribute(att, it->objectId(), AcDb::kForWrite), Acad::eOk);
    AcDbObjectPointer<AcDbAttribute> holder;
    holder.adopt(att);
    ASSERT_EQ(att->setTextString(text), Acad::eOk);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kBom = "\xEF\xBB\xBF";

}  // namespace

// Comments stand anywhere, a byte-order mark may come first, and both are written
// back; a change leaves them in place.
TEST(DxfReaderEdges, CommentsAndAByteOrderMarkAreReadAndKept) {
    for (const std::string& text : {commentedDrawing(), kBom + commentedDrawing()}) {
        SCOPED_TRACE(text.substr(0, 3) == kBom ? "with a byte-order mark" : "without");
        auto r = openDrawingText(text, "commented.dxf");
        ASSERT_TRUE(r) << r.error;
        EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
        EXPECT_EQ(r.database->luprec(), 4);
        const std::string list = listing(*r.database);
        EXPECT_NE(list.find("Attribute NUMBER: D-1\n1 block reference\n"), std::string::npos) << list;
        EXPECT_TRUE(writeDrawingText(*r.database) == text);
        setNumber(*r.database, "D-2");
        const std::string written = writeDrawingText(*r.database);
        std::string expected = text;
        expected.replace(expected.find("\nD-1\n"), 5, "\nD-2\n");
        EXPECT_TRUE(written == expected);
        EXPECT_EQ(count(written, "999\n"), 5u);
    }
}

TEST(DxfReaderEdges, HeaderVariablesAddedToAFileWithAByteOrderMarkFollowIt) {
    // No HEADER section: a setting that must be written makes one, after the mark.
    const std::string text =
        kBom + lines({"0", "SECTION", "2", "ENTITIES", "0", "LINE", "5", "10", "8", "0", "0", "ENDSEC", "0", "EOF"});
    auto r = openDrawingText(text, "bom.dxf");
    ASSERT_TRUE(r) << r.error;
    ASSERT_EQ(r.database->setLuprec(6), Acad::eOk);
    const std::string written = writeDrawingText(*r.database);
    EXPECT_EQ(written.rfind(kBom + "0\nSECTION\n2\nHEADER\n9\n$LUPREC\n70\n6\n0\nENDSEC\n0\nSECTION\n", 0), 0u)
        << written;
    auto again = openDrawingText(written, "bom.dxf");
    ASSERT_TRUE(again) << again.error;
    EXPECT_EQ(again.database->luprec(), 6);
}

// Bytes after 0/EOF are no drawing: a file with them opens saying so, and a save
// keeps them. Blank lines, end-of-file bytes and zero bytes there need no word.
TEST(DxfReaderEdges, DataAfterEofIsKeptUnread) {
    const std::string drawing = commentedDrawing();
    const std::size_t eofLine = static_cast<std::size_t>(std::count(drawing.begin(), drawing.end(), '\n'));
    for (const std::string& tail : {std::string("\r\n\x1a"), std::string(40, '\0'), std::string("\n\n \t\n")}) {
        auto r = openDrawingText(drawing + tail, "padded.dxf");
        ASSERT_TRUE(r) << r.error;
        EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    }
    for (const std::string& tail : {std::string("0\nLINE\n"), std::string("\x01\xff garbage\n\0", 12)}) {
        const std::string text = drawing + tail;
        auto r = openDrawingText(text, "tail.dxf");
        ASSERT_TRUE(r) << r.error;
        ASSERT_EQ(r.warnings.size(), 1u);
        EXPECT_EQ(r.warnings[0], "tail.dxf: line " + std::to_string(eofLine + 1) +
                                     ": what follows 0/EOF is no part of the drawing; it is not read, and a save "
                                     "keeps it");
        EXPECT_NE(listing(*r.database).find("1 block reference"), std::string::npos);
        EXPECT_TRUE(writeDrawingText(*r.database) == text);
    }
}

// Writers pad some values with blanks or end lines with CR LF; group codes and
// structure words are read without the blanks, names and texts keep them.
TEST(DxfReaderEdges, PaddedWordsAndTrailingBlanksInValues) {
    std::string text = commentedDrawing();
    for (const char* word : {"SECTION", "ENDSEC", "EOF", "ENTITIES", "TABLE", "ENDTAB"}) {
        const std::string plain = std::string("\n") + word + "\n";
        for (std::size_t at = text.find(plain); at != std::string::npos; at = text.find(plain, at + plain.size() + 2))
            text.replace(at, plain.size(), std::string("\n") + word + "  \n");
    }
    text.replace(text.find("\nD-1\n"), 5, "\nD-1   \n");
    text.replace(text.find("\n10\n1.0\n"), 8, "\n 10\n1.0 \t\n");
    auto r = openDrawingText(text, "padded.dxf");
    ASSERT_TRUE(r) << r.error;
    const std::string list = listing(*r.database);
    EXPECT_NE(list.find("Attribute NUMBER: D-1   \n"), std::string::npos) << list;
    EXPECT_NE(list.find("Insertion point: X=1.0000"), std::string::npos) << list;
    EXPECT_TRUE(writeDrawingText(*r.database) == text);
}

// A code page this machine's converter lacks: the drawing opens saying which, and a
// changed text reaches the file as escapes any reader decodes alike.
TEST(DxfReaderEdges, ACodePageThisMachineDoesNotKnowIsNamed) {
    auto r = openDrawingText(commentedDrawing("ANSI_99999"), "page.dxf");
    ASSERT_TRUE(r) << r.error;
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].rfind("page.dxf: line 16: the drawing's code page 'ANSI_99999' ($DWGCODEPAGE) is not "
                                  "known on this machine",
                                  0),
              0u)
        << r.warnings[0];
    setNumber(*r.database, "\xC5\xBD-1");  // Ž
    EXPECT_NE(writeDrawingText(*r.database).find("\n\\U+017D-1\n"), std::string::npos);
    auto known = openDrawingText(commentedDrawing("ANSI_1250"), "page.dxf");
    ASSERT_TRUE(known) << known.error;
    EXPECT_TRUE(known.warnings.empty());
}

// A drawing without handles gets them where its version's writers put them when
// handles are on, with $HANDLING and $HANDSEED to say so; tables and BLOCK stay as
// they are. The handles stay from then on.
TEST(DxfReaderEdges, ADrawingWithoutHandlesIsMadeWhole) {
    for (const char* handling : {"", "0"}) {
        SCOPED_TRACE(handling);
        std::string head = handling[0] ? lines({"9", "$HANDLING", "70", handling}) : std::string();
        const std::string text =
            lines({"0", "SECTION", "2", "HEADER", "9", "$ACADVER", "1", "AC1009"}) + head +
            lines({"0",  "ENDSEC",  "0", "SECTION",  "2",  "TABLES", "0", "TABLE",  "2",  "LAYER",  "70", "1",
                   "0",  "LAYER",   "2", "0",        "70", "0",      "0", "ENDTAB", "0",  "ENDSEC", "0",  "SECTION",
                   "2",  "BLOCKS",  "0", "BLOCK",    "8",  "0",      "2", "B",      "70", "0",      "10", "0.0",
                   "20", "0.0",     "0", "LINE",     "8",  "0",      "0", "ENDBLK", "8",  "0",      "0",  "ENDSEC",
                   "0",  "SECTION", "2", "ENTITIES", "0",  "INSERT", "8", "0",      "2",  "B",      "10", "1.0",
                   "20", "1.0",     "0", "ENDSEC",   "0",  "EOF"});
        auto r = openDrawingText(text, "r12.dxf");
        ASSERT_TRUE(r) << r.error;
        const std::string written = writeDrawingText(*r.database);
        EXPECT_NE(written.find("0\nLINE\n5\n1\n8\n0\n0\nENDBLK\n5\n2\n8\n0\n"), std::string::npos) << written;
        EXPECT_NE(written.find("0\nINSERT\n5\n3\n"), std::string::npos) << written;
        EXPECT_NE(written.find("0\nBLOCK\n8\n0\n"), std::string::npos) << written;
        EXPECT_NE(written.find("0\nTABLE\n2\nLAYER\n70\n1\n0\nLAYER\n2\n0\n"), std::string::npos) << written;
        EXPECT_NE(written.find("9\n$HANDLING\n70\n1\n"), std::string::npos) << written;
        EXPECT_EQ(count(written, "$HANDLING"), 1u);
        EXPECT_NE(written.find("9\n$HANDSEED\n5\n4\n"), std::string::npos) << written;
        auto again = openDrawingText(written, "again.dxf");
        ASSERT_TRUE(again) << again.error;
        EXPECT_TRUE(writeDrawingText(*again.database) == written);
        EXPECT_EQ(listing(*again.database), listing(*r.database));
    }
}
