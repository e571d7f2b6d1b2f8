// What callers of the database rely on: several readers or one writer, erased objects
// refuse to open, class checks, handles from and to text, and every open closed.
#include "host/db/AcDbDatabase.h"
#include "host/db/DrawingFile.h"

#include <gtest/gtest.h>

namespace {

class DrawingTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
        ASSERT_TRUE(r) << r.error;
        db = std::move(r.database);
    }
    // No test may leave an object open behind it.
    void TearDown() override {
        if (db) {
            EXPECT_EQ(db->openObjectCount(), 0u);
        }
    }
    AcDbObjectId idOf(const char* hex) {
        AcDbObjectId id;
        EXPECT_EQ(db->getAcDbObjectId(id, false, AcDbHandle(hex)), Acad::eOk) << hex;
        return id;
    }
    std::unique_ptr<AcDbDatabase> db;
};

}  // namespace

TEST_F(DrawingTest, ReadersShareAndAWriterIsAlone) {
    AcDbObjectId ref = idOf("2F4");
    AcDbObject *r1 = nullptr, *r2 = nullptr, *w = nullptr;
    ASSERT_EQ(acdbOpenAcDbObject(r1, ref, AcDb::kForRead), Acad::eOk);
    ASSERT_EQ(acdbOpenAcDbObject(r2, ref, AcDb::kForRead), Acad::eOk);
    EXPECT_EQ(acdbOpenAcDbObject(w, ref, AcDb::kForWrite), Acad::eWasOpenedForRead);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(db->openObjectCount(), 2u);
    EXPECT_EQ(r1->close(), Acad::eOk);
    EXPECT_EQ(r2->close(), Acad::eOk);
    ASSERT_EQ(acdbOpenAcDbObject(w, ref, AcDb::kForWrite), Acad::eOk);
    EXPECT_EQ(acdbOpenAcDbObject(r1, ref, AcDb::kForRead), Acad::eWasOpenedForWrite);
    EXPECT_EQ(acdbOpenAcDbObject(r1, ref, AcDb::kForWrite), Acad::eWasOpenedForWrite);
    EXPECT_EQ(w->close(), Acad::eOk);
}

TEST_F(DrawingTest, ChangesNeedAWriterAndStayAfterClose) {
    AcDbObjectId ref = idOf("2F4");
    {
        AcDbObjectPointer<AcDbBlockReference> r(ref, AcDb::kForRead);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->setRotation(1.0), Acad::eNotOpenForWrite);
        EXPECT_EQ(r->setScaleFactors({0, 1, 1}), Acad::eNotOpenForWrite);
    }
    {
        AcDbObjectPointer<AcDbBlockReference> r(ref, AcDb::kForWrite);
        EXPECT_EQ(r->setScaleFactors({1, 0, 1}), Acad::eInvalidInput) << "a zero factor is refused";
        EXPECT_EQ(r->setRotation(0.5), Acad::eOk);
        EXPECT_EQ(r->setLayer("NO SUCH LAYER"), Acad::eKeyNotFound);
        EXPECT_EQ(r->setLayer("doors"), Acad::eOk);
    }
    AcDbObjectPointer<AcDbBlockReference> r(ref, AcDb::kForRead);
    EXPECT_DOUBLE_EQ(r->rotation(), 0.5);
    AcutString layer(r->layer());
    EXPECT_STREQ(layer.get(), "DOORS") << "the layer table's spelling";
    EXPECT_EQ(r->scaleFactors(), AcGeScale3d(1, 1, 1));
}

TEST_F(DrawingTest, ErasedObjectsDoNotOpenAndLeaveTheFile) {
    AcDbObjectId ref = idOf("2F4");
    {
        AcDbObjectPointer<AcDbBlockReference> r(ref, AcDb::kForWrite);
        ASSERT_EQ(r->erase(), Acad::eOk);
    }
    AcDbObject* obj = nullptr;
    EXPECT_EQ(acdbOpenAcDbObject(obj, ref, AcDb::kForRead), Acad::eWasErased);
    EXPECT_EQ(acdbOpenAcDbObject(obj, idOf("2F5"), AcDb::kForRead), Acad::eWasErased) << "its attributes go too";
    ASSERT_EQ(acdbOpenAcDbObject(obj, ref, AcDb::kForRead, true), Acad::eOk);
    EXPECT_EQ(obj->close(), Acad::eOk);

    AcDbObjectPointer<AcDbBlockTableRecord> door;
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(db->getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    AcDbObjectId doorId;
    EXPECT_EQ(bt->getAt("DOOR", doorId), Acad::eOk);
    EXPECT_EQ(bt->close(), Acad::eOk);
    ASSERT_EQ(door.open(doorId, AcDb::kForRead), Acad::eOk);
    AcDbObjectIdArray ids;
    ASSERT_EQ(door->getBlockReferenceIds(ids), Acad::eOk);
    EXPECT_EQ(ids.length(), 1) << "the erased reference is no longer listed";
    (void)door.close();
    std::string text = writeDrawingText(*db);
    EXPECT_EQ(text.find("D-101"), std::string::npos);
    EXPECT_EQ(text.find("\r\n2F7\r\n"), std::string::npos) << "the SEQEND goes with it";
}

TEST_F(DrawingTest, ClassChecksAndTypedOpens) {
    struct Case {
        const char* handle;
        const AcRxClass* cls;
        bool isKind;
    } cases[] = {
        {"2F4", AcDbBlockReference::desc(), true}, {"2F4", AcDbEntity::desc(), true},
        {"2F4", AcDbAttribute::desc(), false},     {"2F5", AcDbAttribute::desc(), true},
        {"2F5", AcDbText::desc(), true},           {"27", AcDbAttributeDefinition::desc(), true},
        {"27", AcDbAttribute::desc(), false},      {"20", AcDbBlockTableRecord::desc(), true},
        {"20", AcDbEntity::desc(), false},         {"26", AcDbEntity::desc(), true},
        {"26", AcDbBlockReference::desc(), false}, {"11", AcDbLayerTableRecord::desc(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.handle) + " as " + c.cls->name());
        AcDbObject* obj = nullptr;
        ASSERT_EQ(acdbOpenAcDbObject(obj, idOf(c.handle), AcDb::kForRead), Acad::eOk);
        EXPECT_EQ(obj->isKindOf(c.cls), c.isKind);
        EXPECT_EQ(obj->close(), Acad::eOk);
    }
    AcDbEntity* ent = nullptr;
    EXPECT_EQ(acdbOpenAcDbEntity(ent, idOf("20"), AcDb::kForRead), Acad::eNotThatKindOfClass);
    EXPECT_EQ(acdbOpenAcDbEntity(ent, AcDbObjectId(), AcDb::kForRead), Acad::eNullObjectId);
}

TEST_F(DrawingTest, CloseFailureSeamStillCloses) {
    AcDbObject* obj = nullptr;
    ASSERT_EQ(acdbOpenAcDbObject(obj, idOf("2F4"), AcDb::kForRead), Acad::eOk);
    acdbTestFailNextClose(Acad::eInvalidOpenState);
    EXPECT_EQ(obj->close(), Acad::eInvalidOpenState);
    EXPECT_EQ(db->openObjectCount(), 0u);
    ASSERT_EQ(acdbOpenAcDbObject(obj, idOf("2F4"), AcDb::kForWrite), Acad::eOk);
    EXPECT_EQ(obj->close(), Acad::eOk) << "the seam fails only as many closes as asked";
}

TEST_F(DrawingTest, HandlesFromAndToText) {
    struct Case {
        const char* text;
        std::uint64_t value;
        const char* back;
    } cases[] = {
        {"2F4", 0x2F4, "2F4"}, {"2f4", 0x2F4, "2F4"}, {"D9B071D01A0CB6A8", 0xD9B071D01A0CB6A8ull, "D9B071D01A0CB6A8"},
        {"", 0, "0"},          {"xyz", 0, "0"},       {"1FFFFFFFFFFFFFFFF", 0, "0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        AcDbHandle h(c.text);
        EXPECT_EQ(h.value(), c.value);
        char buf[17];
        h.getIntoAsciiBuffer(buf, sizeof buf);
        EXPECT_STREQ(buf, c.back);
    }
    AcDbObjectId id;
    EXPECT_EQ(db->getAcDbObjectId(id, false, AcDbHandle("FFFF")), Acad::eUnknownHandle);
    EXPECT_TRUE(id.isNull());
    EXPECT_EQ(idOf("2F4").handle(), AcDbHandle("2F4"));
}

TEST_F(DrawingTest, BlockTableAsTheHostHasIt) {
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(db->getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(bt);
    AcDbBlockTableIterator* raw = nullptr;
    ASSERT_EQ(table->newIterator(raw), Acad::eOk);
    std::unique_ptr<AcDbBlockTableIterator> it(raw);
    std::vector<std::string> names;
    for (it->start(); !it->done(); it->step()) {
        AcDbBlockTableRecord* rec = nullptr;
        ASSERT_EQ(it->getRecord(rec, AcDb::kForRead), Acad::eOk);
        AcDbObjectPointer<AcDbBlockTableRecord> holder;
        holder.adopt(rec);
        const char* name = nullptr;
        ASSERT_EQ(rec->getName(name), Acad::eOk);
        names.emplace_back(name);
        if (names.back() == "DOOR") {
            EXPECT_TRUE(rec->hasAttributeDefinitions());
            EXPECT_FALSE(rec->isAnonymous());
            EXPECT_EQ(rec->origin(), AcGePoint3d(1, 0, 0));
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"*Model_Space", "*Paper_Space", "DOOR"}));
    // The attribute definitions in definition order, with their flags.
    AcDbBlockTableRecord* door = nullptr;
    ASSERT_EQ(table->getAt("door", door, AcDb::kForRead), Acad::eOk);
    AcDbObjectPointer<AcDbBlockTableRecord> holder;
    holder.adopt(door);
    AcDbBlockTableRecordIterator* ri = nullptr;
    ASSERT_EQ(door->newIterator(ri), Acad::eOk);
    std::unique_ptr<AcDbBlockTableRecordIterator> rit(ri);
    std::string tags;
    for (; !rit->done(); rit->step()) {
        AcDbEntity* e = nullptr;
        ASSERT_EQ(rit->getEntity(e, AcDb::kForRead), Acad::eOk);
        AcDbObjectPointer<AcDbEntity> eh;
        eh.adopt(e);
        if (auto* def = AcDbAttributeDefinition::cast(e)) {
            AcutString tag(def->tag()), prompt(def->prompt());
            tags += std::string(tag.get()) + (def->isConstant() ? "(c)" : "") + ":" + prompt.get() + ";";
        }
    }
    EXPECT_EQ(tags, "NUMBER:Door number;FIRE:Fire rating;CATEGORY(c):;");
    EXPECT_EQ(db->activeLayoutName(), "Model");
    WorkingDatabaseScope scope(db.get());
    EXPECT_EQ(acdbHostApplicationServices()->layoutManager()->findActiveLayout(false), nullptr);
    EXPECT_STREQ(acdbHostApplicationServices()->layoutManager()->findActiveLayout(true), "Model");
}

TEST_F(DrawingTest, AttributesFollowTheirReference) {
    // Move, scale and turn the reference, then place each attribute from its definition.
    AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
    ASSERT_EQ(ref->setPosition({100, 50, 0}), Acad::eOk);
    ASSERT_EQ(ref->setScaleFactors({2, 3, 1}), Acad::eOk);
    ASSERT_EQ(ref->setRotation(M_PI / 2), Acad::eOk);
    AcGeMatrix3d xf = ref->blockTransform();
    AcDbObjectPointer<AcDbAttributeDefinition> def(idOf("27"), AcDb::kForRead);  // NUMBER at (2,1), h 0.25
    AcDbAttribute* att = nullptr;
    ASSERT_EQ(ref->openAttribute(att, idOf("2F5"), AcDb::kForWrite), Acad::eOk);
    AcDbObjectPointer<AcDbAttribute> a;
    a.adopt(att);
    ASSERT_EQ(att->setAttributeFromBlock(def.get(), xf), Acad::eOk);
    // Block point (2,1) less the origin (1,0) is (1,1); scaled (2,3); turned a quarter: (-3,2).
    EXPECT_NEAR(att->position().x, 97, 1e-9);
    EXPECT_NEAR(att->position().y, 52, 1e-9);
    EXPECT_NEAR(att->height(), 0.75, 1e-12);
    EXPECT_NEAR(att->widthFactor(), 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(att->rotation(), M_PI / 2, 1e-12);
    AcutString text(att->textString());
    EXPECT_STREQ(text.get(), "D-101") << "placing keeps the text";
    // A mirrored reference keeps its attribute text reading forwards.
    ASSERT_EQ(ref->setScaleFactors({-1, 1, 1}), Acad::eOk);
    ASSERT_EQ(ref->setRotation(0), Acad::eOk);
    ASSERT_EQ(att->setAttributeFromBlock(def.get(), ref->blockTransform()), Acad::eOk);
    EXPECT_NEAR(att->position().x, 99, 1e-9);
    EXPECT_NEAR(std::fmod(att->rotation(), 2 * M_PI), 0, 1e-12);
}

TEST_F(DrawingTest, TextsRoundTripThroughTheCodePage) {
    AcDbObjectPointer<AcDbAttribute> att(idOf("2F6"), AcDb::kForWrite);
    ASSERT_TRUE(att);
    AcutString text(att->textString());
    EXPECT_STREQ(text.get(), "Požár") << "decoded from ANSI_1250";
    EXPECT_EQ(att->setTextString("two\nlines"), Acad::eInvalidInput) << "a line break would split the tag";
    ASSERT_EQ(att->setTextString("m² Ж"), Acad::eOk);  // neither exists in code page 1250
    (void)att.close();
    std::string written = writeDrawingText(*db);
    EXPECT_NE(written.find("\r\nm\\U+00B2 \\U+0416\r\n"), std::string::npos);
    auto again = openDrawingText(written);
    ASSERT_TRUE(again) << again.error;
    AcDbObjectId id;
    ASSERT_EQ(again.database->getAcDbObjectId(id, false, AcDbHandle("2F6")), Acad::eOk);
    AcDbObjectPointer<AcDbAttribute> back(id, AcDb::kForRead);
    AcutString t2(back->textString());
    EXPECT_STREQ(t2.get(), "m² Ж") << "escapes read back as the characters";
}

TEST(DrawingCodePage, NamesAndTextsInTheDrawingsCodePage) {
    // "舌面" in GBK, as an R12 drawing of code page ANSI_936 holds it.
    const std::string gbk = "\xc9\xe0\xc3\xe6";
    std::string text =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n9\n$DWGCODEPAGE\n3\nansi_936\n0\nENDSEC\n"
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\n" +
        gbk +
        "\n70\n0\n0\nENDTAB\n0\nENDSEC\n"
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\n" +
        gbk + "\n70\n0\n10\n0\n20\n0\n0\nATTDEF\n10\n0\n20\n0\n40\n1\n1\n" + gbk +
        "\n3\nP\n2\nT\n70\n0\n0\nENDBLK\n0\nENDSEC\n"
        "0\nSECTION\n2\nENTITIES\n0\nINSERT\n5\nA1\n8\n" +
        gbk + "\n2\n" + gbk + "\n10\n0\n20\n0\n0\nENDSEC\n0\nEOF\n";
    auto r = openDrawingText(text);
    ASSERT_TRUE(r) << r.error;
    AcDbObjectId id;
    ASSERT_EQ(r.database->getAcDbObjectId(id, false, AcDbHandle("A1")), Acad::eOk);
    AcDbObjectPointer<AcDbBlockReference> ref(id, AcDb::kForWrite);
    ASSERT_TRUE(ref);
    AcDbObjectPointer<AcDbBlockTableRecord> rec(ref->blockTableRecord(), AcDb::kForRead);
    ASSERT_TRUE(rec) << "the reference finds its block by the decoded name";
    const char* name = nullptr;
    ASSERT_EQ(rec->getName(name), Acad::eOk);
    EXPECT_STREQ(name, "舌面");
    AcutString layer(ref->layer());
    EXPECT_STREQ(layer.get(), "舌面");
    EXPECT_EQ(ref->setLayer("舌面"), Acad::eOk);
    EXPECT_EQ(ref->setLayer("0"), Acad::eOk) << "layer 0 exists in every drawing";
    (void)ref.close();
    (void)rec.close();
    EXPECT_NE(writeDrawingText(*r.database).find("\n8\n0\n2\n" + gbk + "\n"), std::string::npos);
}

// An object's values are read from the file as they are asked for: a setter called
// before any getter must still compare with what the file holds, not with a value
// not read yet, so that setting what an unread value starts as (0, 1, "0", "") is a
// change, and setting what the file holds is none.
TEST(DrawingValues, SettersCompareWithTheFilesValuesBeforeAnyGetter) {
    const std::string text =
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\n0\n0\nLAYER\n2\nL1\n0\nENDTAB\n"
        "0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n0\nBLOCK_RECORD\n5\n12\n2\nB\n"
        "0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n5\n20\n2\n*Model_Space\n0\nENDBLK\n5\n21\n"
        "0\nBLOCK\n5\n22\n2\nB\n0\nENDBLK\n5\n23\n0\nENDSEC\n"
        "0\nSECTION\n2\nENTITIES\n"
        "0\nINSERT\n5\n30\n8\nL1\n2\nB\n66\n1\n10\n5.0\n20\n6.0\n30\n7.0\n41\n2.0\n42\n3.0\n43\n4.0\n50\n30.0\n"
        "0\nATTRIB\n5\n31\n8\nL1\n10\n1.0\n20\n2.0\n30\n3.0\n40\n2.5\n1\nvalue\n50\n45.0\n2\nTAG\n70\n0\n73\n5\n"
        "0\nSEQEND\n5\n32\n0\nENDSEC\n0\nEOF\n";
    auto opened = openDrawingText(text);
    ASSERT_TRUE(opened) << opened.error;
    AcDbDatabase& db = *opened.database;
    auto id = [&](const char* hex) {
        AcDbObjectId i;
        EXPECT_EQ(db.getAcDbObjectId(i, false, AcDbHandle(hex)), Acad::eOk);
        return i;
    };
    // The file's own values set again: nothing to write.
    {
        AcDbObjectPointer<AcDbBlockReference> ref(id("30"), AcDb::kForWrite);
        ASSERT_EQ(ref->setPosition({5, 6, 7}), Acad::eOk);
        ASSERT_EQ(ref->setScaleFactors({2, 3, 4}), Acad::eOk);
        ASSERT_EQ(ref->setLayer("L1", false), Acad::eOk);
    }
    {
        AcDbObjectPointer<AcDbAttribute> att(id("31"), AcDb::kForWrite);
        ASSERT_EQ(att->setTextString("value"), Acad::eOk);
        ASSERT_EQ(att->setFieldLength(5), Acad::eOk);
        ASSERT_EQ(att->setHeight(2.5), Acad::eOk);
    }
    EXPECT_EQ(writeDrawingText(db), text);
    // The values an unread field starts as, set on freshly opened objects.
    {
        AcDbObjectPointer<AcDbBlockReference> ref(id("30"), AcDb::kForWrite);
        ASSERT_EQ(ref->setRotation(0), Acad::eOk);
        ASSERT_EQ(ref->setScaleFactors({1, 1, 1}), Acad::eOk);
        ASSERT_EQ(ref->setLayer("0", false), Acad::eOk);
    }
    {
        AcDbObjectPointer<AcDbBlockReference> ref(id("30"), AcDb::kForWrite);
        ASSERT_EQ(ref->setPosition({0, 0, 0}), Acad::eOk);
    }
    {
        AcDbObjectPointer<AcDbAttribute> att(id("31"), AcDb::kForWrite);
        ASSERT_EQ(att->setTextString(""), Acad::eOk);
        ASSERT_EQ(att->setFieldLength(0), Acad::eOk);
        ASSERT_EQ(att->setRotation(0), Acad::eOk);
        AcutString tag(att->tag());
        EXPECT_STREQ(tag.get(), "TAG") << "values not set still read from the file";
        EXPECT_DOUBLE_EQ(att->height(), 2.5);
    }
    auto again = openDrawingText(writeDrawingText(db));
    ASSERT_TRUE(again) << again.error;
    AcDbObjectId refId, attId;
    ASSERT_EQ(again.database->getAcDbObjectId(refId, false, AcDbHandle("30")), Acad::eOk);
    ASSERT_EQ(again.database->getAcDbObjectId(attId, false, AcDbHandle("31")), Acad::eOk);
    AcDbObjectPointer<AcDbBlockReference> ref(refId, AcDb::kForRead);
    EXPECT_EQ(ref->position(), AcGePoint3d(0, 0, 0));
    EXPECT_EQ(ref->scaleFactors(), AcGeScale3d(1, 1, 1));
    EXPECT_EQ(ref->rotation(), 0.0);
    AcutString layer(ref->layer());
    EXPECT_STREQ(layer.get(), "0");
    AcDbObjectPointer<AcDbAttribute> att(attId, AcDb::kForRead);
    AcutString value(att->textString());
    EXPECT_STREQ(value.get(), "");
    EXPECT_EQ(att->fieldLength(), 0);
    EXPECT_EQ(att->rotation(), 0.0);
    EXPECT_DOUBLE_EQ(att->height(), 2.5);
}

// An attribute's text and tag are known from the reading of the file, the rest is
// found when asked for: both ways must agree on which tag is the attribute's own (the
// first, before embedded and extended data), whatever is asked first.
TEST(DrawingValues, AttributesReadTheSameWhicheverValueIsAskedFirst) {
    const std::string head =
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n"
        "0\nBLOCK_RECORD\n5\n12\n2\nB\n0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n"
        "0\nBLOCK\n5\n20\n2\n*Model_Space\n0\nENDBLK\n5\n21\n0\nBLOCK\n5\n22\n2\nB\n0\nENDBLK\n5\n23\n0\nENDSEC\n"
        "0\nSECTION\n2\nENTITIES\n0\nINSERT\n5\n30\n2\nB\n66\n1\n";
    const std::string text = head +
                             // text and tag twice: the first of each counts
                             "0\nATTRIB\n5\n31\n1\nfirst\n2\nTAG1\n1\nsecond\n2\nTAG2\n70\n8\n"
                             // extended data holding what looks like a text and a tag
                             "0\nATTRIB\n5\n32\n2\nTAG3\n70\n2\n1001\nAPP\n1000\nx\n1\nnot mine\n2\nNOT MINE\n"
                             // neither text nor tag
                             "0\nATTRIB\n5\n33\n70\n0\n"
                             // a multi-line text, its outer text replaced by the pieces
                             "0\nATTRIB\n5\n34\n1\nouter\n2\nTAG4\n101\nEmbedded Object\n1\nwhole\n"
                             "0\nSEQEND\n5\n35\n0\nENDSEC\n0\nEOF\n";
    auto opened = openDrawingText(text);
    ASSERT_TRUE(opened) << opened.error;
    AcDbDatabase& db = *opened.database;
    struct Expect {
        const char* handle;
        const char* text;
        const char* tag;
        bool constant;
    };
    const Expect expect[] = {{"31", "first", "TAG1", false},
                             {"32", "", "TAG3", true},
                             {"33", "", "", false},
                             {"34", "whole", "TAG4", false}};
    for (const Expect& e : expect) {
        SCOPED_TRACE(e.handle);
        AcDbObjectId id;
        ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(e.handle)), Acad::eOk);
        for (int order = 0; order < 2; ++order) {
            AcDbObjectPointer<AcDbAttribute> att(id, AcDb::kForRead);
            ASSERT_TRUE(att);
            if (order == 1) {
                EXPECT_EQ(att->isConstant(), e.constant) << "located first";
            }
            EXPECT_STREQ(AcutString(att->textString()).get(), e.text);
            EXPECT_STREQ(AcutString(att->tag()).get(), e.tag);
            EXPECT_EQ(att->isConstant(), e.constant);
        }
    }
    // A text set after only the tag was read lands on the attribute's own text.
    {
        AcDbObjectId id;
        ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle("31")), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> att(id, AcDb::kForWrite);
        EXPECT_STREQ(AcutString(att->tag()).get(), "TAG1");
        ASSERT_EQ(att->setTextString("changed"), Acad::eOk);
    }
    std::string expected = text;
    expected.replace(expected.find("1\nfirst\n"), 8, "1\nchanged\n");
    EXPECT_EQ(writeDrawingText(db), expected);
}
