// What the database builds from a file: block records paired with their BLOCKs,
// entities placed in their space or block, references listed under the block they
// name, and handles refused only where the database keeps the object.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string lines(std::initializer_list<const char*> ls) {
    std::string s;
    for (const char* l : ls) (s += l) += '\n';
    return s;
}

// An R2000-style drawing: records for both spaces, "Door" (whose BLOCK spells it
// "DOOR" after an empty group 2), "Spare" without a BLOCK and one record without a
// name; a reference in model space and a text in paper space.
std::string drawing(const std::string& extraBlock = {}, const char* ltypeHandle = "ZZ",
                    const char* spareHandle = "13") {
    return lines({"0",  "SECTION",
                  "2",  "HEADER",
                  "9",  "$ACADVER",
                  "1",  "AC1015",
                  "9",  "$HANDSEED",
                  "5",  "100",
                  "0",  "ENDSEC",
                  "0",  "SECTION",
                  "2",  "TABLES",
                  "0",  "TABLE",
                  "2",  "LTYPE",
                  "0",  "LTYPE",
                  "5",  ltypeHandle,
                  "2",  "CONTINUOUS",
                  "0",  "ENDTAB",
                  "0",  "TABLE",
                  "2",  "BLOCK_RECORD",
                  "5",  "1",
                  "0",  "BLOCK_RECORD",
                  "5",  "10",
                  "2",  "*Model_Space",
                  "0",  "BLOCK_RECORD",
                  "5",  "11",
                  "2",  "*Paper_Space",
                  "0",  "BLOCK_RECORD",
                  "5",  "12",
                  "2",  "Door",
                  "0",  "BLOCK_RECORD",
                  "5",  spareHandle,
                  "2",  "Spare",
                  "0",  "BLOCK_RECORD",
                  "5",  "14",
                  "70", "0",
                  "0",  "ENDTAB",
                  "0",  "TABLE",
                  "2",  "LAYER",
                  "0",  "LAYER",
                  "5",  "20",
                  "2",  "Walls",
                  "70", "0",
                  "0",  "ENDTAB",
                  "0",  "ENDSEC",
                  "0",  "SECTION",
                  "2",  "BLOCKS",
                  "0",  "BLOCK",
                  "5",  "30",
                  "2",  "*Model_Space",
                  "0",  "ENDBLK",
                  "5",  "31",
                  "0",  "BLOCK",
                  "5",  "32",
                  "67", "1",
                  "2",  "*Paper_Space",
                  "0",  "ENDBLK",
                  "5",  "33",
                  "0",  "BLOCK",
                  "5",  "34",
                  "2",  "",
                  "2",  "DOOR",
                  "70", "0",
                  "10", "1.0",
                  "20", "2.0",
                  "30", "0.0",
                  "0",  "ATTDEF",
                  "5",  "35",
                  "10", "0.0",
                  "20", "0.0",
                  "40", "1.0",
                  "1",  "",
                  "3",  "Number",
                  "2",  "NUMBER",
                  "70", "0",
                  "0",  "ENDBLK",
                  "5",  "36"}) +
           extraBlock +
           lines({"0",  "ENDSEC", "0",  "SECTION", "2",  "ENTITIES", "0",  "INSERT", "5",  "40",  "2",  "door",
                  "10", "0.0",    "20", "0.0",     "66", "1",        "0",  "ATTRIB", "5",  "41",  "10", "0.0",
                  "20", "0.0",    "40", "1.0",     "1",  "D-1",      "2",  "NUMBER", "70", "0",   "0",  "SEQEND",
                  "5",  "42",     "0",  "TEXT",    "5",  "43",       "67", "1",      "10", "0.0", "20", "0.0",
                  "40", "1.0",    "1",  "note",    "0",  "ENDSEC",   "0",  "EOF"});
}

AcDbObjectId idOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << std::hex << handle;
    return id;
}

std::uint64_t ownerOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectPointer<AcDbObject> o(idOf(db, handle), AcDb::kForRead);
    return o ? o->ownerId().handle().value() : 0;
}

}  // namespace

TEST(DrawingLoad, RecordsBlocksSpacesAndReferences) {
    std::string text = drawing();
    auto r = openDrawingText(text);
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;

    AcDbBlockTable* raw = nullptr;
    ASSERT_EQ(db.getSymbolTable(raw, AcDb::kForRead), Acad::eOk);
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(raw);
    AcDbBlockTableIterator* it = nullptr;
    ASSERT_EQ(table->newIterator(it), Acad::eOk);
    std::vector<std::string> names;
    std::vector<std::uint64_t> handles;
    for (std::unique_ptr<AcDbBlockTableIterator> held(it); !it->done(); it->step()) {
        AcDbObjectId id;
        ASSERT_EQ(it->getRecordId(id), Acad::eOk);
        AcDbObjectPointer<AcDbBlockTableRecord> rec(id, AcDb::kForRead);
        const char* name = nullptr;
        ASSERT_EQ(rec->getName(name), Acad::eOk);
        names.emplace_back(name);
        handles.push_back(id.handle().value());
    }
    // The BLOCK's spelling names the block; the record (not the BLOCK) is its object;
    // a record without a BLOCK is an empty block; a record without a name is not listed.
    EXPECT_EQ(names, (std::vector<std::string>{"*Model_Space", "*Paper_Space", "DOOR", "Spare"}));
    EXPECT_EQ(handles, (std::vector<std::uint64_t>{0x10, 0x11, 0x12, 0x13}));
    (void)table.close();

    {
        AcDbObjectPointer<AcDbBlockTableRecord> door(idOf(db, 0x12), AcDb::kForRead);
        ASSERT_TRUE(door);
        EXPECT_EQ(door->origin(), AcGePoint3d(1, 2, 0));
        EXPECT_TRUE(door->hasAttributeDefinitions());
        AcDbObjectIdArray refs;
        ASSERT_EQ(door->getBlockReferenceIds(refs), Acad::eOk);
        ASSERT_EQ(refs.length(), 1) << "the reference names its block case-insensitively";
        EXPECT_EQ(refs[0].handle().value(), 0x40u);
    }
    {
        // Opened by its handle, the nameless record is an empty block of its own.
        AcDbObjectPointer<AcDbBlockTableRecord> nameless(idOf(db, 0x14), AcDb::kForRead);
        ASSERT_TRUE(nameless);
        const char* name = nullptr;
        ASSERT_EQ(nameless->getName(name), Acad::eOk);
        EXPECT_STREQ(name, "");
        EXPECT_FALSE(nameless->isLayout());
        AcDbBlockTableRecordIterator* ei = nullptr;
        ASSERT_EQ(nameless->newIterator(ei), Acad::eOk);
        std::unique_ptr<AcDbBlockTableRecordIterator> held(ei);
        EXPECT_TRUE(ei->done());
    }
    EXPECT_EQ(ownerOf(db, 0x35), 0x12u) << "a block's entities belong to its record";
    EXPECT_EQ(ownerOf(db, 0x34), 0x12u) << "and so does its BLOCK";
    EXPECT_EQ(ownerOf(db, 0x40), 0x10u) << "no group 67: model space";
    EXPECT_EQ(ownerOf(db, 0x43), 0x11u) << "group 67 of 1: paper space";
    EXPECT_EQ(ownerOf(db, 0x41), 0x40u) << "an attribute belongs to the reference before it";
    EXPECT_EQ(ownerOf(db, 0x42), 0x40u);

    AcDbLayerTable* layers = nullptr;
    ASSERT_EQ(db.getSymbolTable(layers, AcDb::kForRead), Acad::eOk);
    EXPECT_TRUE(layers->has("WALLS"));
    EXPECT_TRUE(layers->has("0")) << "a drawing always has layer 0";
    (void)layers->close();

    EXPECT_EQ(writeDrawingText(db), text);
}

TEST(DrawingLoad, RefusesFaultsInWhatItModelsOnly) {
    // The LTYPE table is not modelled: its entry's handle is not looked at.
    EXPECT_TRUE(openDrawingText(drawing()));
    struct Case {
        const char* what;
        std::string text;
        const char* expected;
    } cases[] = {
        {"a record's handle", drawing({}, "1F", "Z9"), "group code 5 expects a hexadecimal handle, got 'Z9'"},
        {"a second BLOCK for a record", lines({"0", "BLOCK", "5", "37", "2", "door", "0", "ENDBLK", "5", "38"}),
         "block 'door' is defined twice"},
        {"a second BLOCK of an R12 name",
         lines({"0", "BLOCK", "5", "37", "2", "Other", "0", "ENDBLK", "0", "BLOCK", "2", "OTHER", "0", "ENDBLK"}),
         "block 'OTHER' is defined twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = c.text.rfind("0\nBLOCK", 0) == 0 ? drawing(c.text) : c.text;
        auto r = openDrawingText(text);
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
    }
}

TEST(DrawingLoad, ReferencesAreListedInFileOrderWhetherTheirBlockCameBeforeOrAfter) {
    // R12: blocks are known from their BLOCK only, so the reference inside FRAME names
    // a block not read yet, while those in ENTITIES name blocks read before them.
    const std::string text =
        lines({"0",  "SECTION", "2",  "HEADER", "9",  "$ACADVER", "1",  "AC1009",  "0",  "ENDSEC",   "0",  "SECTION",
               "2",  "BLOCKS",  "0",  "BLOCK",  "2",  "FRAME",    "70", "0",       "10", "0.0",      "20", "0.0",
               "30", "0.0",     "0",  "INSERT", "2",  "LATER",    "10", "1.0",     "20", "0.0",      "30", "0.0",
               "0",  "ENDBLK",  "0",  "BLOCK",  "2",  "Later",    "70", "0",       "10", "0.0",      "20", "0.0",
               "30", "0.0",     "0",  "ENDBLK", "0",  "ENDSEC",   "0",  "SECTION", "2",  "ENTITIES", "0",  "INSERT",
               "2",  "later",   "10", "2.0",    "20", "0.0",      "30", "0.0",     "0",  "INSERT",   "2",  "FRAME",
               "10", "3.0",     "20", "0.0",    "30", "0.0",      "0",  "INSERT",  "2",  "LATER",    "10", "4.0",
               "20", "0.0",     "30", "0.0",    "0",  "ENDSEC",   "0",  "EOF"});
    auto r = openDrawingText(text);
    ASSERT_TRUE(r) << r.error;
    auto positionsOf = [&](const char* block) {
        std::vector<double> xs;
        AcDbBlockTable* raw = nullptr;
        EXPECT_EQ(r.database->getSymbolTable(raw, AcDb::kForRead), Acad::eOk);
        AcDbObjectPointer<AcDbBlockTable> table;
        table.adopt(raw);
        AcDbBlockTableRecord* record = nullptr;
        EXPECT_EQ(table->getAt(block, record, AcDb::kForRead), Acad::eOk);
        if (!record) return xs;
        AcDbObjectPointer<AcDbBlockTableRecord> held;
        held.adopt(record);
        AcDbObjectIdArray ids;
        EXPECT_EQ(record->getBlockReferenceIds(ids), Acad::eOk);
        for (int i = 0; i < ids.length(); ++i) {
            AcDbObjectPointer<AcDbBlockReference> ref(ids[i], AcDb::kForRead);
            xs.push_back(ref ? ref->position().x : -1);
        }
        return xs;
    };
    EXPECT_EQ(positionsOf("LATER"), (std::vector<double>{1, 2, 4}));
    EXPECT_EQ(positionsOf("FRAME"), (std::vector<double>{3}));
}

// What an attribute says of its text and tag before it is located (from the reading
// of the file) is what decoding all of its tags says, for every attribute of the
// corpus' real drawings: writers differ in order, padding, embedded and extended data.
TEST(DrawingLoad, AttributesReadBeforeTheyAreLocatedAsWhenDecodedWhole) {
    namespace fs = std::filesystem;
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    std::size_t attributes = 0, preLocated = 0;
    for (const fs::path& drawing : tabro::testing::corpusFiles("corpus/dxf", ".dxf")) {
        SCOPED_TRACE(drawing.filename().string());
        auto r = openDrawingFile(drawing.string());
        if (!r) continue;  // the corpus holds drawings refused on purpose too
        hostdb::DrawingStore& store = r.database->store();
        for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
            hostdb::ObjectStub* stub = store.stubAt(i);
            if (stub->kind != hostdb::Kind::Attrib) continue;
            ++attributes;
            preLocated += stub->preLocated;
            hostdb::ObjectData whole;
            hostdb::decodeEntity(store, *stub, whole);
            AcDbObjectPointer<AcDbAttribute> att(AcDbObjectId(stub), AcDb::kForRead, true);
            ASSERT_TRUE(att);
            EXPECT_EQ(AcutString(att->textString()).get(), whole.text) << std::hex << stub->handle;
            EXPECT_EQ(AcutString(att->tag()).get(), whole.name) << std::hex << stub->handle;
            EXPECT_EQ(att->isMTextAttribute(), whole.mtext) << std::hex << stub->handle;
        }
    }
    EXPECT_GT(preLocated, 100u) << attributes << " attributes";
}

// Every object is found by its handle, whether the file gave it, a save will write it
// (objects without one in a file that needs them) or it is kept in memory only
// (tables and entries of an early file); the first lookups may come from two threads.
TEST(DrawingLoad, EveryObjectIsFoundByItsHandleHoweverItGotIt) {
    for (const char* name : {"nohandles_r12.dxf", "tagged_r2000.dxf"}) {
        SCOPED_TRACE(name);
        auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/" + name);
        ASSERT_TRUE(r) << r.error;
        const hostdb::DrawingStore& store = r.database->store();
        std::vector<const hostdb::ObjectStub*> found[2];
        auto lookAll = [&](std::vector<const hostdb::ObjectStub*>& out) {
            for (std::uint32_t i = 0; i < store.stubCount(); ++i)
                out.push_back(store.byHandle(r.database->store().stubAt(i)->handle));
        };
        std::thread other(lookAll, std::ref(found[1]));
        lookAll(found[0]);
        other.join();
        std::size_t added = 0;
        for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
            const hostdb::ObjectStub* stub = r.database->store().stubAt(i);
            EXPECT_NE(stub->handle, 0u);
            EXPECT_EQ(found[0][i], stub) << std::hex << stub->handle;
            EXPECT_EQ(found[1][i], stub) << std::hex << stub->handle;
            added += stub->handleAdded;
        }
        EXPECT_EQ(store.byHandle(0), nullptr);
        if (std::string(name) == "nohandles_r12.dxf") {
            EXPECT_GT(added, 0u);
        }
    }
}
