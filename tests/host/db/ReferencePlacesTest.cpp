// Block references whose value places the reading of the file noted read, change and
// save exactly as references located when opened: in real drawings and in references
// whose tags are unusual.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>

namespace {

struct ReferenceValues {
    std::string layer;
    std::uint64_t block = 0;  // its record's handle, 0 for none
    AcGePoint3d position;
    double rotation = 0;
    AcGeScale3d scale;
    AcGeVector3d normal;
};

ReferenceValues valuesOf(const AcDbBlockReference& ref) {
    ReferenceValues v;
    v.layer = AcutString(ref.layer()).get();
    const AcDbObjectId block = ref.blockTableRecord();
    v.block = block.isNull() ? 0 : block.stub()->handle;
    v.position = ref.position();
    v.rotation = ref.rotation();
    v.scale = ref.scaleFactors();
    v.normal = ref.normal();
    return v;
}

void expectSame(const ReferenceValues& a, const ReferenceValues& b) {
    EXPECT_EQ(a.layer, b.layer);
    EXPECT_EQ(a.block, b.block);
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.rotation, b.rotation);
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_EQ(a.normal.x, b.normal.x);
    EXPECT_EQ(a.normal.y, b.normal.y);
    EXPECT_EQ(a.normal.z, b.normal.z);
}

AcDbObjectId idOf(AcDbDatabase& db, const char* hex) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(hex)), Acad::eOk) << hex;
    return id;
}

// Extended data long enough that the reference it ends is too long to have its places
// noted: opening it locates its values, as before they were noted.
std::string longExtendedData() {
    std::string s = "1001\nPAD\n";
    while (s.size() < 70000) s += "1000\n" + std::string(60, 'x') + "\n";
    return s;
}

std::string withLineEnds(std::string text, const std::string& eol) {
    if (eol == "\n") return text;
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += eol;
        else
            out += c;
    }
    return out;
}

// A drawing whose reference 30 has `tags` after its handle, followed by a reference
// with an attribute to the same block (the next one a walk over the block reads).
std::string drawingWith(const std::string& tags) {
    return "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\n0\n0\nLAYER\n2\nL1\n0\nLAYER\n2\nL2\n0\nENDTAB\n"
           "0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n0\nBLOCK_RECORD\n5\n12\n2\nB\n"
           "0\nBLOCK_RECORD\n5\n13\n2\nC\n0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n"
           "0\nBLOCK\n5\n20\n2\n*Model_Space\n0\nENDBLK\n5\n21\n"
           "0\nBLOCK\n5\n22\n2\nB\n10\n1\n20\n1\n30\n0\n0\nENDBLK\n5\n23\n"
           "0\nBLOCK\n5\n24\n2\nC\n0\nENDBLK\n5\n25\n0\nENDSEC\n"
           "0\nSECTION\n2\nENTITIES\n0\nINSERT\n5\n30\n" +
           tags +
           "0\nINSERT\n5\n40\n8\nL1\n2\nB\n66\n1\n10\n4\n20\n5\n30\n6\n"
           "0\nATTRIB\n5\n41\n10\n0\n20\n0\n30\n0\n40\n1\n1\nvalue\n2\nTAG\n70\n0\n0\nSEQEND\n5\n42\n"
           "0\nENDSEC\n0\nEOF\n";
}

}  // namespace

// Every reference of the corpus' real drawings reads the same opened as when all of
// its tags are decoded: writers differ in order, padding, embedded and extended data.
TEST(ReferencePlaces, RealDrawingsReadAsWhenDecodedWhole) {
    namespace fs = std::filesystem;
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    std::size_t references = 0, preLocated = 0;
    for (const fs::path& drawing : tabro::testing::corpusFiles("corpus/dxf", ".dxf")) {
        SCOPED_TRACE(drawing.filename().string());
        auto r = openDrawingFile(drawing.string());
        if (!r) continue;  // the corpus holds drawings refused on purpose too
        hostdb::DrawingStore& store = r.database->store();
        for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
            hostdb::ObjectStub* stub = store.stubAt(i);
            if (stub->kind != hostdb::Kind::Insert) continue;
            ++references;
            preLocated += stub->preLocated;
            hostdb::ObjectData whole;
            hostdb::decodeEntity(store, *stub, whole);
            AcDbObjectPointer<AcDbBlockReference> ref(AcDbObjectId(stub), AcDb::kForRead, true);
            ASSERT_TRUE(ref);
            SCOPED_TRACE(stub->handle);
            EXPECT_EQ(AcutString(ref->layer()).get(), whole.layer);
            EXPECT_TRUE(ref->blockTableRecord() == AcDbObjectId(store.findBlock(whole.name)));
            EXPECT_EQ(ref->position(), whole.pos);
            EXPECT_EQ(ref->rotation(), whole.rotation);
            EXPECT_EQ(ref->scaleFactors(), whole.scale);
            EXPECT_EQ(ref->normal().z, whole.normal.z);
        }
    }
    EXPECT_GT(preLocated, 100u) << references << " references";
}

// References with tags a writer may or may not give, in any order, read and change
// the same whether their places were noted when the file was read or found when
// opened (the same reference made too long to be noted), with either line ending.
TEST(ReferencePlaces, UnusualReferencesReadAndChangeAsWhenLocatedOnOpen) {
    struct Case {
        const char* what;
        const char* tags;
        bool noted;  // whether reading the file notes its places
    };
    const Case cases[] = {
        {"only block and position: no layer, scale, rotation or attributes-follow flag", "2\nB\n10\n1\n20\n2\n30\n3\n",
         true},
        {"an extrusion direction", "8\nL1\n2\nB\n10\n1\n20\n2\n30\n3\n210\n0\n220\n0.6\n230\n-0.8\n", false},
        {"extended data before a rotation, which is then no value of the reference",
         "8\nL1\n2\nB\n10\n1\n20\n2\n30\n3\n41\n2\n1001\nAPP\n1000\nx\n50\n45\n", true},
        {"embedded data holding a position, which is none of the reference's",
         "2\nB\n10\n1\n101\nEmbedded Object\n10\n5\n20\n6\n", true},
        {"values given twice: the first counts", "2\nB\n2\nC\n10\n1\n10\n99\n50\n30\n50\n60\n43\n2\n43\n5\n", true},
        {"every value in reverse order, padded codes",
         " 50\n15\n 43\n4\n 42\n3\n 41\n2\n 30\n3\n 20\n2\n 10\n1\n  2\nB\n  8\nL2\n", true},
        {"no tags at all", "", true},
    };
    const std::string pad = longExtendedData();
    for (const char* eol : {"\n", "\r\n"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (eol[0] == '\r' ? " (CRLF)" : ""));
            const std::string tags = c.tags;
            auto noted = openDrawingText(withLineEnds(drawingWith(tags), eol));
            auto located = openDrawingText(withLineEnds(drawingWith(tags + pad), eol));
            ASSERT_TRUE(noted) << noted.error;
            ASSERT_TRUE(located) << located.error;
            AcDbDatabase& a = *noted.database;
            AcDbDatabase& b = *located.database;
            EXPECT_EQ(a.store().byHandle(0x30)->preLocated, c.noted);
            EXPECT_FALSE(b.store().byHandle(0x30)->preLocated);
            EXPECT_TRUE(a.store().byHandle(0x40)->preLocated);
            // Read, and read again in another order after a close.
            for (int pass = 0; pass < 2; ++pass) {
                AcDbObjectPointer<AcDbBlockReference> ra(idOf(a, "30"), AcDb::kForRead);
                AcDbObjectPointer<AcDbBlockReference> rb(idOf(b, "30"), AcDb::kForRead);
                ASSERT_TRUE(ra);
                ASSERT_TRUE(rb);
                if (pass == 1) {
                    EXPECT_EQ(ra->normal().z, rb->normal().z);
                    EXPECT_EQ(ra->scaleFactors(), rb->scaleFactors());
                }
                expectSame(valuesOf(*ra.get()), valuesOf(*rb.get()));
            }
            // The next reference of the block reads the same after this one was opened.
            {
                AcDbObjectPointer<AcDbBlockReference> next(idOf(a, "40"), AcDb::kForRead);
                EXPECT_EQ(next->position(), AcGePoint3d(4, 5, 6));
            }
            // The same changes land in the same places.
            for (AcDbDatabase* db : {&a, &b}) {
                AcDbObjectPointer<AcDbBlockReference> ref(idOf(*db, "30"), AcDb::kForWrite);
                ASSERT_TRUE(ref);
                EXPECT_EQ(ref->setScaleFactors({2, 3, 7}), Acad::eOk);
                EXPECT_EQ(ref->setRotation(std::numbers::pi / 2), Acad::eOk);
                EXPECT_EQ(ref->setLayer("L1", false), Acad::eOk);
                EXPECT_EQ(ref->setPosition({8, 9, 10}), Acad::eOk);
            }
            std::string written = writeDrawingText(a);
            std::string expected = writeDrawingText(b);
            const std::string padHere = withLineEnds(pad, eol);
            const std::size_t at = expected.find(padHere);
            ASSERT_NE(at, std::string::npos);
            expected.erase(at, padHere.size());
            EXPECT_EQ(written, expected);
            auto reread = openDrawingText(written);
            ASSERT_TRUE(reread) << reread.error;
            AcDbObjectPointer<AcDbBlockReference> ref(idOf(*reread.database, "30"), AcDb::kForRead);
            ASSERT_TRUE(ref);
            EXPECT_EQ(ref->position(), AcGePoint3d(8, 9, 10));
            EXPECT_EQ(ref->scaleFactors(), AcGeScale3d(2, 3, 7));
            EXPECT_NEAR(ref->rotation(), std::numbers::pi / 2, 1e-12);
            EXPECT_STREQ(AcutString(ref->layer()).get(), "L1");
        }
    }
}

// Erasing a reference, or the next one of its block, leaves the others reading as
// before, and a save leaves the erased ones out.
TEST(ReferencePlaces, ErasedReferencesLeaveTheOthersReadable) {
    auto opened = openDrawingText(drawingWith("2\nB\n10\n1\n20\n2\n30\n3\n"));
    ASSERT_TRUE(opened) << opened.error;
    AcDbDatabase& db = *opened.database;
    {
        AcDbObjectPointer<AcDbBlockReference> next(idOf(db, "40"), AcDb::kForWrite);
        ASSERT_EQ(next->erase(), Acad::eOk);
    }
    {
        AcDbObjectPointer<AcDbBlockReference> ref(idOf(db, "30"), AcDb::kForRead);
        ASSERT_TRUE(ref);
        EXPECT_EQ(ref->position(), AcGePoint3d(1, 2, 3));
        AcDbObjectIdArray ids;
        AcDbObjectPointer<AcDbBlockTableRecord> block(ref->blockTableRecord(), AcDb::kForRead);
        ASSERT_TRUE(block);
        ASSERT_EQ(block->getBlockReferenceIds(ids, true, false), Acad::eOk);
        EXPECT_EQ(ids.length(), 1);
    }
    const std::string written = writeDrawingText(db);
    EXPECT_EQ(written.find("\n40\n"), std::string::npos);
    EXPECT_NE(written.find("INSERT\n5\n30\n2\nB\n10\n1\n"), std::string::npos);
}

// Texts whose bytes are their characters are handed out as the file has them; any
// other (escapes, code page bytes, a backslash) decoded, before and after a change,
// however often asked.
TEST(ReferencePlaces, TextsHandedOutAsDecodedWhetherCopiedOrConverted) {
    const std::string text =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$DWGCODEPAGE\n3\nANSI_1252\n0\nENDSEC\n"
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\n0\n0\nLAYER\n2\nL\\U+00E9\n0\nENDTAB\n"
        "0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n0\nBLOCK_RECORD\n5\n12\n2\nB\n"
        "0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n5\n20\n2\n*Model_Space\n0\nENDBLK\n5\n21\n"
        "0\nBLOCK\n5\n22\n2\nB\n0\nENDBLK\n5\n23\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
        "0\nINSERT\n5\n30\n8\nL\\U+00E9\n2\nB\n66\n1\n10\n0\n20\n0\n30\n0\n"
        "0\nATTRIB\n5\n31\n1\ncaf\\U+00E9\n2\nA\\B\n70\n0\n"
        "0\nATTRIB\n5\n32\n1\ncaf\xe9 au lait\n2\nPLAIN\n70\n0\n"
        "0\nATTRIB\n5\n33\n1\na plain text longer than a short string\n2\nT\n70\n0\n"
        "0\nSEQEND\n5\n34\n0\nENDSEC\n0\nEOF\n";
    auto opened = openDrawingText(text);
    ASSERT_TRUE(opened) << opened.error;
    AcDbDatabase& db = *opened.database;
    struct Expect {
        const char* handle;
        const char* text;
        const char* tag;
    };
    const Expect expect[] = {{"31", "caf\xc3\xa9", "A\\B"},
                             {"32", "caf\xc3\xa9 au lait", "PLAIN"},
                             {"33", "a plain text longer than a short string", "T"}};
    for (const Expect& e : expect) {
        SCOPED_TRACE(e.handle);
        AcDbObjectPointer<AcDbAttribute> att(idOf(db, e.handle), AcDb::kForRead);
        ASSERT_TRUE(att);
        for (int time = 0; time < 2; ++time) {
            EXPECT_STREQ(AcutString(att->textString()).get(), e.text);
            EXPECT_STREQ(AcutString(att->tag()).get(), e.tag);
        }
    }
    {
        AcDbObjectPointer<AcDbBlockReference> ref(idOf(db, "30"), AcDb::kForRead);
        EXPECT_STREQ(AcutString(ref->layer()).get(), "L\xc3\xa9");
    }
    {
        AcDbObjectPointer<AcDbAttribute> att(idOf(db, "33"), AcDb::kForWrite);
        ASSERT_EQ(att->setTextString("changed"), Acad::eOk);
        EXPECT_STREQ(AcutString(att->textString()).get(), "changed");
    }
    AcDbObjectPointer<AcDbAttribute> att(idOf(db, "33"), AcDb::kForRead);
    EXPECT_STREQ(AcutString(att->textString()).get(), "changed");
    EXPECT_STREQ(AcutString(att->tag()).get(), "T");
}
