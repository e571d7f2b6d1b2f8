// The database's undo history: undoing a command's group gives back the drawing a
// save wrote before the command, byte for byte in ASCII and binary DXF, and redoing
// it the drawing saved after; groups follow each other in the order their changes
// were made; nothing is swapped while an object is open or a command has changes in
// flight.
#include "host/db/AcDbDatabase.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// What a save writes in both forms.
struct Saved {
    std::string ascii, binary;
    bool operator==(const Saved&) const = default;
};

class UndoHistoryTest : public ::testing::Test {
protected:
    void SetUp() override { open("tagged_r2000.dxf"); }
    void TearDown() override {
        if (db) {
            EXPECT_EQ(db->openObjectCount(), 0u);
        }
    }
    void open(const char* fixture) {
        auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/" + fixture);
        ASSERT_TRUE(r) << r.error;
        db = std::move(r.database);
    }
    hostdb::UndoHistory& history() { return db->store().undoHistory(); }
    Saved saved() {
        hostdb::DrawingStore& store = db->store();
        const dxf::DxfFormat format = store.saveFormat();
        Saved s;
        store.setSaveFormat(dxf::DxfFormat::Ascii);
        s.ascii = writeDrawingText(*db);
        store.setSaveFormat(dxf::DxfFormat::Binary);
        s.binary = writeDrawingText(*db);
        store.setSaveFormat(format);
        return s;
    }
    AcDbObjectId idOf(const char* hex) {
        AcDbObjectId id;
        EXPECT_EQ(db->getAcDbObjectId(id, false, AcDbHandle(hex)), Acad::eOk) << hex;
        return id;
    }
    // One command's worth of changes.
    void command(const char* name, const std::function<void()>& body) {
        history().beginGroup(name);
        body();
        history().endGroup();
    }
    void setText(const char* handle, const char* text) {
        AcDbObjectPointer<AcDbAttribute> att(idOf(handle), AcDb::kForWrite, true);
        ASSERT_TRUE(att);
        ASSERT_EQ(att->setTextString(text), Acad::eOk);
    }
    std::string textOf(const char* handle) {
        AcDbObjectPointer<AcDbAttribute> att(idOf(handle), AcDb::kForRead);
        if (!att) return "(does not open)";
        return AcutString(att->textString()).get();
    }
    std::vector<std::string> undo(std::size_t count) {
        std::vector<std::string> names;
        EXPECT_EQ(history().undo(count, names), Acad::eOk);
        return names;
    }
    std::vector<std::string> redo() {
        std::vector<std::string> names;
        EXPECT_EQ(history().redo(names), Acad::eOk);
        return names;
    }
    std::unique_ptr<AcDbDatabase> db;
};

using Names = std::vector<std::string>;

}  // namespace

// Every kind of change the database can make, each undone and redone on its own.
TEST_F(UndoHistoryTest, UndoGivesBackTheBytesSavedBeforeAndRedoThoseSavedAfter) {
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {{"attribute text", [&] { setText("2F5", "D-999"); }},
                          {"reference moved, rotated and scaled",
                           [&] {
                               AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
                               ASSERT_TRUE(ref);
                               ASSERT_EQ(ref->setPosition({1, 2, 3}), Acad::eOk);
                               ASSERT_EQ(ref->setRotation(0.25), Acad::eOk);
                               ASSERT_EQ(ref->setScaleFactors({2, 2, 2}), Acad::eOk);
                           }},
                          {"layer with the attributes",
                           [&] {
                               AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
                               ASSERT_EQ(ref->setLayer("0"), Acad::eOk);
                           }},
                          {"reference erased with its attributes and end marker",
                           [&] {
                               AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
                               ASSERT_EQ(ref->erase(), Acad::eOk);
                           }},
                          {"entity the database does not model erased",
                           [&] {
                               AcDbObjectPointer<AcDbEntity> line(idOf("2F9"), AcDb::kForWrite);
                               ASSERT_EQ(line->erase(), Acad::eOk);
                           }},
                          {"header variables, one the file lacks", [&] {
                               ASSERT_EQ(db->setLuprec(6), Acad::eOk);
                               ASSERT_EQ(db->setDimzin(8), Acad::eOk);
                           }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open("tagged_r2000.dxf");
        const Saved before = saved();
        command("EDIT", c.change);
        const Saved after = saved();
        ASSERT_NE(after.ascii, before.ascii) << "the change must show in the file";
        EXPECT_EQ(undo(1), Names{"EDIT"});
        EXPECT_TRUE(saved() == before);
        EXPECT_EQ(redo(), Names{"EDIT"});
        EXPECT_TRUE(saved() == after);
        EXPECT_EQ(undo(1), Names{"EDIT"}) << "a redone group undoes again";
        EXPECT_TRUE(saved() == before);
        EXPECT_TRUE(db->isModified());
    }
}

// The first command's values are what the second one's undo restores, not the file's:
// an object that holds changes is kept as it was.
TEST_F(UndoHistoryTest, AnObjectChangedByEachCommandStepsBackOneCommandAtATime) {
    const Saved original = saved();
    command("FIRST", [&] { setText("2F5", "ONE"); });
    const Saved afterFirst = saved();
    command("SECOND", [&] {
        setText("2F5", "TWO");
        setText("2F6", "ALSO");
        ASSERT_EQ(db->setLuprec(7), Acad::eOk);
    });
    const Saved afterSecond = saved();
    command("THIRD", [&] {
        AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
        ASSERT_EQ(ref->erase(), Acad::eOk);
    });
    const Saved afterThird = saved();

    EXPECT_EQ(undo(1), Names{"THIRD"});
    EXPECT_TRUE(saved() == afterSecond);
    EXPECT_EQ(textOf("2F5"), "TWO") << "the erased attribute opens again";
    EXPECT_EQ(undo(1), Names{"SECOND"});
    EXPECT_TRUE(saved() == afterFirst);
    EXPECT_EQ(db->luprec(), 2) << "the header's cached value is read again";
    EXPECT_EQ(textOf("2F5"), "ONE");
    EXPECT_EQ(undo(5), (Names{"FIRST"})) << "fewer groups than asked: all there are";
    EXPECT_TRUE(saved() == original);
    EXPECT_EQ(undo(1), Names{}) << "nothing left";

    // Each undo is one redo step, the latest first.
    EXPECT_EQ(redo(), Names{"FIRST"});
    EXPECT_TRUE(saved() == afterFirst);
    EXPECT_EQ(redo(), Names{"SECOND"});
    EXPECT_TRUE(saved() == afterSecond);
    EXPECT_EQ(redo(), Names{"THIRD"});
    EXPECT_TRUE(saved() == afterThird);
    EXPECT_EQ(redo(), Names{});

    EXPECT_EQ(undo(3), (Names{"THIRD", "SECOND", "FIRST"}));
    EXPECT_TRUE(saved() == original);
    EXPECT_EQ(redo(), (Names{"FIRST", "SECOND", "THIRD"})) << "one redo brings back all one undo took";
    EXPECT_TRUE(saved() == afterThird);
    AcDbObject* att = nullptr;
    EXPECT_EQ(acdbOpenAcDbObject(att, idOf("2F5"), AcDb::kForRead), Acad::eWasErased);
}

TEST_F(UndoHistoryTest, ACommandThatChangedNothingIsNoGroupAndKeepsTheRedo) {
    command("EDIT", [&] { setText("2F5", "X"); });
    EXPECT_EQ(undo(1), Names{"EDIT"});
    command("LOOK", [&] {
        // Opened for write, set to what it holds, read: no change.
        AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
        ASSERT_EQ(ref->setRotation(ref->rotation()), Acad::eOk);
        (void)ref.close();
        setText("2F6", textOf("2F6").c_str());
        EXPECT_EQ(textOf("2F5"), "D-101");
    });
    EXPECT_EQ(history().undoCount(), 0u);
    EXPECT_EQ(redo(), Names{"EDIT"});
    EXPECT_EQ(textOf("2F5"), "X");
    // An object that holds changes given the same values again.
    command("SAME", [&] { setText("2F5", "X"); });
    EXPECT_EQ(history().undoCount(), 1u);
    // A change made after an undo ends what could be redone.
    EXPECT_EQ(undo(1), Names{"EDIT"});
    command("OTHER", [&] { setText("2F6", "Y"); });
    EXPECT_EQ(history().redoCount(), 0u);
    EXPECT_EQ(redo(), Names{});
    EXPECT_EQ(textOf("2F5"), "D-101");
}

// A command run while another waits (DELAY serving the live link) is a group of its
// own; what the waiting one changed before and after it are groups too, in order.
TEST_F(UndoHistoryTest, AGroupBegunInsideAnotherStandsOnItsOwnInTheOrderOfTheChanges) {
    const Saved original = saved();
    history().beginGroup("OUTER");
    setText("2F5", "A");
    const Saved afterA = saved();
    command("INNER", [&] { setText("2F5", "B"); });
    const Saved afterB = saved();
    setText("2F5", "C");
    history().endGroup();
    EXPECT_EQ(history().undoCount(), 3u);
    EXPECT_EQ(undo(1), Names{"OUTER"});
    EXPECT_TRUE(saved() == afterB);
    EXPECT_EQ(undo(1), Names{"INNER"});
    EXPECT_TRUE(saved() == afterA);
    EXPECT_EQ(undo(1), Names{"OUTER"});
    EXPECT_TRUE(saved() == original);
}

TEST_F(UndoHistoryTest, AChangeOutsideAnyCommandIsAGroupOfItsOwn) {
    const Saved original = saved();
    setText("2F5", "LOOSE");
    command("EDIT", [&] { setText("2F5", "IN"); });
    EXPECT_EQ(undo(2), (Names{"EDIT", "GROUP"}));
    EXPECT_TRUE(saved() == original);
}

TEST_F(UndoHistoryTest, NothingIsSwappedWhileAnObjectIsOpenOrACommandHasChangesInFlight) {
    command("EDIT", [&] { setText("2F5", "X"); });
    const Saved edited = saved();
    std::vector<std::string> names;
    {
        AcDbObjectPointer<AcDbAttribute> reader(idOf("2F6"), AcDb::kForRead);
        EXPECT_EQ(history().undo(1, names), Acad::eInvalidOpenState);
    }
    history().beginGroup("BUSY");
    setText("2F6", "Y");
    EXPECT_EQ(history().undo(1, names), Acad::eNotApplicable);
    EXPECT_EQ(history().redo(names), Acad::eNotApplicable);
    history().endGroup();
    EXPECT_EQ(textOf("2F5"), "X");
    EXPECT_EQ(undo(1), Names{"BUSY"});
    EXPECT_TRUE(saved() == edited);
    // The undo command's own group, empty, does not stand in the way.
    history().beginGroup("UNDO");
    EXPECT_EQ(undo(1), Names{"EDIT"});
    history().endGroup();
    EXPECT_EQ(textOf("2F5"), "D-101");
}

// A drawing without handles gets them on open, with $HANDSEED moved on; undo keeps
// them as they were given, so that the saved file names its objects as before.
TEST_F(UndoHistoryTest, HandlesGivenOnOpenAndTheSeedSurviveUndo) {
    open("nohandles_r12.dxf");
    const Saved before = saved();
    const AcDbHandle seed = db->handseed();
    hostdb::ObjectStub* attribute = nullptr;
    for (std::size_t i = 0; i < db->store().stubCount() && !attribute; ++i)
        if (db->store().stubAt(static_cast<std::uint32_t>(i))->kind == hostdb::Kind::Attrib)
            attribute = db->store().stubAt(static_cast<std::uint32_t>(i));
    ASSERT_NE(attribute, nullptr);
    command("EDIT", [&] {
        AcDbObjectPointer<AcDbAttribute> att(AcDbObjectId(attribute), AcDb::kForWrite);
        ASSERT_EQ(att->setTextString("NEW"), Acad::eOk);
    });
    EXPECT_EQ(undo(1), Names{"EDIT"});
    EXPECT_TRUE(saved() == before);
    EXPECT_EQ(db->handseed(), seed);
    AcDbObjectId found;
    EXPECT_EQ(db->getAcDbObjectId(found, false, AcDbObjectId(attribute).handle()), Acad::eOk);
    EXPECT_EQ(found, AcDbObjectId(attribute));
}

TEST_F(UndoHistoryTest, RecordingOffKeepsNothingAndDropsWhatWasKept) {
    command("EDIT", [&] { setText("2F5", "X"); });
    db->disableUndoRecording(true);
    EXPECT_FALSE(db->undoRecording());
    EXPECT_EQ(history().undoCount(), 0u);
    command("MORE", [&] { setText("2F5", "Y"); });
    EXPECT_EQ(undo(1), Names{});
    EXPECT_EQ(textOf("2F5"), "Y");
    db->disableUndoRecording(false);
    command("AGAIN", [&] { setText("2F5", "Z"); });
    EXPECT_EQ(undo(1), Names{"AGAIN"});
    EXPECT_EQ(textOf("2F5"), "Y");
}
