// Reading then writing a drawing reproduces it: byte for byte when nothing changed,
// and with only the changed values different when something did.
#include "host/db/DrawingFile.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using tabro::testing::readFile;
using tabro::testing::TempDir;
using tabro::testing::writeFile;

bool hasPython() { return std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0; }

bool isBinary(const std::string& bytes) { return bytes.rfind("AutoCAD Binary DXF", 0) == 0; }

// The text without the header variables a save adds to a drawing that had no
// handles ($HANDLING, $HANDSEED), for a comparison tag by tag of the rest.
std::string withoutHandleVariables(const std::string& text) {
    std::string out;
    std::istringstream in(text);
    std::string code, value;
    while (std::getline(in, code) && std::getline(in, value)) {
        std::string v = value;
        if (!v.empty() && v.back() == '\r') v.pop_back();
        if (v == "$HANDLING" || v == "$HANDSEED") {
            std::getline(in, code);
            std::getline(in, value);
            continue;
        }
        out += code + "\n" + value + "\n";
    }
    return out;
}

// How many repairs a reader we did not write makes when it audits the file.
int auditFixes(const fs::path& file) {
    const std::string cmd =
        "/usr/bin/python3 -c \"import ezdxf,sys; d=ezdxf.readfile(sys.argv[1]); "
        "print(len(d.audit().fixes))\" '" +
        file.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(cmd.c_str(), "r"), ::pclose);
    int n = -1;
    if (p && std::fscanf(p.get(), "%d", &n) != 1) n = -1;
    return n;
}

std::string listing(AcDbDatabase& db) {
    std::ostringstream list;
    listBlockReferences(db, list);
    return list.str();
}

// Binary and ASCII alike: a drawing with handles comes back byte for byte; one without
// gets handles, $HANDSEED and $HANDLING and is otherwise the same tag for tag, and a
// reader we did not write repairs no more in it than in the original. Returns how
// many of the files were binary.
std::size_t expectEveryDrawingBackUnchanged(const std::vector<fs::path>& files) {
    // A failure names the written drawing: it stays for a look then.
    TempDir scratch("dxf", TempDir::Keep::onFailure);
    const fs::path& dir = scratch.path();
    std::size_t binaries = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        std::string original = readFile(f);
        auto r = openDrawingFile(f.string());
        EXPECT_TRUE(r) << r.error;
        if (!r) continue;
        std::ostringstream list;
        listBlockReferences(*r.database, list);
        EXPECT_NE(list.str().find(" block reference"), std::string::npos);
        EXPECT_EQ(r.database->openObjectCount(), 0u);
        std::string written = writeDrawingText(*r.database);
        if (isBinary(original)) {
            ++binaries;
            EXPECT_TRUE(written == original) << "a binary drawing differs after an unchanged save";
            continue;
        }
        if (written == original) continue;
        // Only handles given to objects that had none may differ (early drawings).
        fs::path out = dir / f.filename();
        writeFile(out, written);
        fs::path originalTags = dir / ("original-" + f.filename().string());
        fs::path writtenTags = dir / ("written-" + f.filename().string());
        writeFile(originalTags, withoutHandleVariables(original));
        writeFile(writtenTags, withoutHandleVariables(written));
        std::string cmd = tabro::testing::toolCommand("dxf_compare.py") + " '" + originalTags.string() + "' '" +
                          writtenTags.string() + "' >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << "written drawing differs: " << out;
        EXPECT_NE(written.find("$HANDLING"), std::string::npos);
        // And read again, it keeps those handles: a second save is identical.
        auto again = openDrawingText(written);
        EXPECT_TRUE(again) << again.error;
        if (!again) continue;
        EXPECT_TRUE(writeDrawingText(*again.database) == written) << "a second save differs";
        EXPECT_EQ(listing(*again.database), list.str());
        if (hasPython()) {
            const int before = auditFixes(f), after = auditFixes(out);
            EXPECT_GE(before, 0);
            EXPECT_GE(after, 0);
            EXPECT_LE(after, before) << "the written drawing needs more repairs than the original";
        }
    }
    return binaries;
}

}  // namespace

// The real drawings of the shared corpus, from many writers, binary ones among them.
TEST(DxfRoundTrip, EveryDrawingComesBackUnchanged) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    auto files = tabro::testing::corpusFiles("corpus/dxf", ".dxf");
    ASSERT_FALSE(files.empty());
    EXPECT_GE(expectEveryDrawingBackUnchanged(files), 2u);
}

// The project's own drawings, one of them without handles.
TEST(DxfRoundTrip, EveryFixtureComesBackUnchanged) {
    auto files = tabro::testing::filesIn(fs::path(TABLORA_FIXTURES_DIR) / "dxf", ".dxf");
    ASSERT_FALSE(files.empty());
    expectEveryDrawingBackUnchanged(files);
}

// The corpus has one drawing as both ASCII and binary DXF: both read the same.
TEST(DxfRoundTrip, ABinaryDrawingReadsAsItsAsciiTwin) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    const fs::path corpus = tabro::testing::sharedPath("corpus/dxf");
    auto ascii = openDrawingFile((corpus / "acadsharp_sample_AC1009_ascii.dxf").string());
    auto binary = openDrawingFile((corpus / "acadsharp_sample_AC1009_binary.dxf").string());
    ASSERT_TRUE(ascii) << ascii.error;
    ASSERT_TRUE(binary) << binary.error;
    // The two were saved apart, so that only the handles differ.
    auto withoutHandles = [](const std::string& list) {
        std::istringstream in(list);
        std::string out;
        for (std::string line; std::getline(in, line);)
            if (line.rfind("BLOCK REFERENCE  Handle", 0) != 0) out += line + "\n";
        return out;
    };
    const std::string list = withoutHandles(listing(*ascii.database));
    EXPECT_NE(list.find("\n83 block references"), std::string::npos) << list;
    EXPECT_EQ(withoutHandles(listing(*binary.database)), list);
}

TEST(DxfRoundTrip, EarlyDrawingsGetHandlesThatStay) {
    auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/nohandles_r12.dxf");
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    // Every entity got a handle from the seed upward, and the seed moved past them.
    AcDbObjectIdArray ids;
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(db.getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(bt);
    AcDbObjectId tagId;
    ASSERT_EQ(table->getAt("tag", tagId), Acad::eOk);  // names compare case-insensitively
    AcDbObjectPointer<AcDbBlockTableRecord> rec(tagId, AcDb::kForRead);
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->getBlockReferenceIds(ids), Acad::eOk);
    ASSERT_EQ(ids.length(), 1);
    AcDbHandle h = ids[0].handle();
    EXPECT_GE(h.value(), 0x5Au);
    EXPECT_GT(db.handseed().value(), h.value());
    (void)rec.close();
    (void)table.close();

    std::string written = writeDrawingText(db);
    auto again = openDrawingText(written);
    ASSERT_TRUE(again) << again.error;
    AcDbObjectId same;
    ASSERT_EQ(again.database->getAcDbObjectId(same, false, h), Acad::eOk);
    AcDbObjectPointer<AcDbBlockReference> ref(same, AcDb::kForRead);
    EXPECT_TRUE(ref) << "the handle names the same reference after a save";
}

TEST(DxfRoundTrip, ChangedValuesAreTheOnlyDifference) {
    auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    AcDbObjectId id;
    ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle("2F4")), Acad::eOk);
    {
        AcDbObjectPointer<AcDbBlockReference> ref(id, AcDb::kForWrite);
        ASSERT_TRUE(ref);
        ASSERT_EQ(ref->setPosition({12.5, 5.0, 0.0}), Acad::eOk);
        ASSERT_EQ(ref->setScaleFactors({2.0, 2.0, 1.0}), Acad::eOk);  // 41/42 absent: added
        std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
        AcDbAttribute* att = nullptr;
        ASSERT_EQ(ref->openAttribute(att, it->objectId(), AcDb::kForWrite), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> a;
        a.adopt(att);
        ASSERT_EQ(att->setTextString("D-202 Ž"), Acad::eOk);
    }
    EXPECT_TRUE(db.isModified());
    std::string original = readFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
    std::string written = writeDrawingText(db);
    // The Czech letter goes out in the drawing's code page; the rest is untouched.
    EXPECT_NE(written.find("D-202 \x8e\r\n"), std::string::npos);
    EXPECT_NE(written.find(" 10\r\n12.5\r\n"), std::string::npos);
    EXPECT_NE(written.find(" 30\r\n0.0\r\n 41\r\n2.0\r\n 42\r\n2.0\r\n 50\r\n90.0"), std::string::npos);
    EXPECT_EQ(written.size(), original.size() + std::string(" 41\r\n2.0\r\n 42\r\n2.0\r\n").size() + 2);

    if (!hasPython()) GTEST_SKIP() << "python3-ezdxf is not installed";
    TempDir scratch("dxf");
    fs::path out = scratch.path() / "changed.dxf";
    writeFile(out, written);
    std::string cmd =
        "/usr/bin/python3 -c \""
        "import ezdxf,sys\n"
        "d=ezdxf.readfile(sys.argv[1])\n"
        "i=d.entitydb['2F4']\n"
        "a={x.dxf.tag:x.dxf.text for x in i.attribs}\n"
        "ok=i.dxf.insert.x==12.5 and i.dxf.xscale==2.0 and a['NUMBER']=='D-202 \\u017d' and "
        "a['FIRE']=='Po\\u017e\\u00e1r'\n"
        "sys.exit(0 if ok else 1)\" " +
        out.string();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "ezdxf reads the changed drawing as written";
}

TEST(DxfRoundTrip, NewDrawingIsReadableByEzdxf) {
    AcDbDatabase db;
    EXPECT_EQ(db.lunits(), 2);
    EXPECT_EQ(db.luprec(), 4);
    std::string text = writeDrawingText(db);
    auto again = openDrawingText(text);
    ASSERT_TRUE(again) << again.error;
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(again.database->getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    EXPECT_TRUE(bt->has(ACDB_MODEL_SPACE));
    EXPECT_TRUE(bt->has(ACDB_PAPER_SPACE));
    (void)bt->close();
    if (!hasPython()) GTEST_SKIP() << "python3-ezdxf is not installed";
    TempDir scratch("dxf");
    fs::path out = scratch.path() / "new.dxf";
    writeFile(out, text);
    std::string cmd =
        "/usr/bin/python3 -c \"import ezdxf,sys; d=ezdxf.readfile(sys.argv[1]); "
        "sys.exit(0 if '0' in d.layers else 1)\" " +
        out.string() + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

namespace {

// A reference with three attributes (one multi-line) and a text, codes right-aligned
// as many writers lay them out. The text's second group 1 is not its own value.
const char* kChangeDrawing = R"(  0
SECTION
  2
HEADER
  9
$ACADVER
  1
AC1015
  9
$HANDSEED
  5
100
  0
ENDSEC
  0
SECTION
  2
TABLES
  0
TABLE
  2
LAYER
  0
LAYER
  2
0
 70
     0
  0
LAYER
  2
L1
 70
     0
  0
ENDTAB
  0
ENDSEC
  0
SECTION
  2
ENTITIES
  0
INSERT
  5
20
  8
0
  2
B
 10
1.0
 20
2.0
 30
0.0
  0
ATTRIB
  5
21
  8
0
  1
one
  2
TAGA
 70
     0
 74
     0
  0
ATTRIB
  5
22
  8
0
  1
two
  2
TAGB
 70
     0
  0
ATTRIB
  5
23
  8
0
  1
plain
  2
TAGC
 70
     0
 73
     3
101
Embedded Object
  3
first piece 
  3
second piece 
  1
last
  0
SEQEND
  5
24
  0
TEXT
  5
25
 10
0.0
 20
0.0
 30
0.0
 40
2.5
  1
hello
  1
shadow
  0
ENDSEC
  0
EOF
)";

std::string withEol(std::string_view lf, std::string_view eol) {
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += eol;
        else
            out += c;
    }
    return out;
}

// Replaces the one occurrence of `from`; a template that drifted fails loudly.
void replaceOnce(std::string& s, std::string_view from, std::string_view to) {
    auto at = s.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ASSERT_EQ(s.find(from, at + 1), std::string::npos) << from;
    s.replace(at, from.size(), to);
}

template <class T>
AcDbObjectPointer<T> openForWrite(AcDbDatabase& db, const char* handle) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << handle;
    return AcDbObjectPointer<T>(id, AcDb::kForWrite);
}

}  // namespace

// Values replaced in place and tags added where the entity lacked them land on the
// right bytes whatever the line ending: before the entity's first tag, between two
// tags, and after its last.
TEST(DxfRoundTrip, ChangesAndAddedTagsLandExactlyInLfAndCrlfFiles) {
    for (std::string eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol.size() == 1 ? "LF" : "CRLF");
        std::string original = withEol(kChangeDrawing, eol);
        auto r = openDrawingText(original);
        ASSERT_TRUE(r) << r.error;
        AcDbDatabase& db = *r.database;
        {
            auto ref = openForWrite<AcDbBlockReference>(db, "20");
            ASSERT_TRUE(ref);
            ASSERT_EQ(ref->setPosition({5.5, 2.0, 0.0}), Acad::eOk);
        }
        {
            auto a = openForWrite<AcDbAttribute>(db, "21");  // 73 absent between 70 and 74
            ASSERT_TRUE(a);
            ASSERT_EQ(a->setFieldLength(7), Acad::eOk);
        }
        {
            auto a = openForWrite<AcDbAttribute>(db, "22");  // 73 absent after the last tag
            ASSERT_TRUE(a);
            ASSERT_EQ(a->setFieldLength(12), Acad::eOk);
        }
        {
            auto a = openForWrite<AcDbAttribute>(db, "23");
            ASSERT_TRUE(a);
            EXPECT_TRUE(a->isMTextAttribute());
            EXPECT_STREQ(AcutString(a->textString()).get(), "first piece second piece last");
            EXPECT_EQ(a->fieldLength(), 3);
            ASSERT_EQ(a->setFieldLength(12), Acad::eOk);
            ASSERT_EQ(a->setTextString("new text"), Acad::eOk);
        }
        {
            auto t = openForWrite<AcDbText>(db, "25");  // no layer tag: added before the first
            ASSERT_TRUE(t);
            EXPECT_STREQ(AcutString(t->textString()).get(), "hello");
            EXPECT_STREQ(AcutString(t->layer()).get(), "0");
            ASSERT_EQ(t->setLayer("L1"), Acad::eOk);
            ASSERT_EQ(t->setTextString("hi"), Acad::eOk);
        }
        EXPECT_EQ(db.openObjectCount(), 0u);

        std::string expected = kChangeDrawing;
        replaceOnce(expected, " 10\n1.0\n", " 10\n5.5\n");
        replaceOnce(expected, "TAGA\n 70\n     0\n", "TAGA\n 70\n     0\n 73\n7\n");
        replaceOnce(expected, "TAGB\n 70\n     0\n", "TAGB\n 70\n     0\n 73\n12\n");
        replaceOnce(expected, " 73\n     3\n", " 73\n    12\n");
        replaceOnce(expected, "  3\nfirst piece \n  3\nsecond piece \n  1\nlast\n", "  1\nnew text\n");
        replaceOnce(expected, "25\n 10\n", "25\n  8\nL1\n 10\n");
        replaceOnce(expected, "hello\n", "hi\n");
        std::string written = writeDrawingText(db);
        EXPECT_EQ(written, withEol(expected, eol));

        // Read back, every value belongs to the entity it was written for.
        auto again = openDrawingText(written);
        ASSERT_TRUE(again) << again.error;
        auto a21 = openForWrite<AcDbAttribute>(*again.database, "21");
        auto a22 = openForWrite<AcDbAttribute>(*again.database, "22");
        auto a23 = openForWrite<AcDbAttribute>(*again.database, "23");
        auto t25 = openForWrite<AcDbText>(*again.database, "25");
        ASSERT_TRUE(a21 && a22 && a23 && t25);
        EXPECT_EQ(a21->fieldLength(), 7);
        EXPECT_EQ(a22->fieldLength(), 12);
        EXPECT_EQ(a23->fieldLength(), 12);
        EXPECT_STREQ(AcutString(a23->textString()).get(), "new text");
        EXPECT_STREQ(AcutString(t25->layer()).get(), "L1");
        EXPECT_STREQ(AcutString(t25->textString()).get(), "hi");
    }
}
