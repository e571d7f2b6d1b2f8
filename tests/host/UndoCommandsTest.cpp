// U, UNDO and REDO on the command line: each reverts whole commands, whichever way
// they ran (typed, from a module's command stack, sent for execution, during DELAY,
// or failing part-way), asks and answers as the host's other commands do, refuses
// inside another command, and keeps one history per document.
#include "host/AcEdCommandStack.h"
#include "host/AcedCommand.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "platform/Timer.h"
#include "tests/common/TestFiles.h"
#include "tests/host/HostTestSupport.h"

#include <unistd.h>
#include <filesystem>
#include <stdexcept>

namespace {

AcDbObjectId idOf(const char* hex) {
    AcDbObjectId id;
    (void)acDocManager->curDocument()->database()->getAcDbObjectId(id, false, AcDbHandle(hex));
    return id;
}

void setText(const char* handle, const char* text) {
    AcDbObjectPointer<AcDbAttribute> att(idOf(handle), AcDb::kForWrite);
    if (!att || att->setTextString(text) != Acad::eOk) throw std::runtime_error("no attribute " + std::string(handle));
}

std::string textOf(const char* handle) {
    AcDbObjectPointer<AcDbAttribute> att(idOf(handle), AcDb::kForRead);
    if (!att) return "(does not open)";
    return AcutString(att->textString()).get();
}

class UndoCommandsTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        // SAVE writes the drawing where it was read: a copy, not the fixture.
        std::filesystem::copy_file(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf", folder_ / "site.dxf",
                                   std::filesystem::copy_options::overwrite_existing);
        drawing_ = openFixture();
        // Commands as a module registers them, and as the host's own.
        acedRegCmds->addCommand("UNDOTESTS", "edita", "edita", ACRX_CMD_MODAL, [] { setText("2F5", "A"); });
        acedRegCmds->addCommand("UNDOTESTS", "editb", "editb", ACRX_CMD_MODAL, [] { setText("2F5", "B"); });
        acedRegCmds->addCommand("UNDOTESTS", "broken", "broken", ACRX_CMD_MODAL, [] {
            setText("2F6", "HALF");
            throw std::runtime_error("failed part-way");
        });
        acedRegCmds->addCommand("UNDOTESTS", "nester", "nester", ACRX_CMD_MODAL, [] {
            setText("2F6", "NESTED");
            acedCommand(RTSTR, "_.U", 0);
            acedCommand(RTSTR, "_.REDO", 0);
        });
        host::addHostCommand("ERASEDOOR", [] {
            AcDbObjectPointer<AcDbBlockReference> ref(idOf("2F4"), AcDb::kForWrite);
            if (ref) (void)ref->erase();
        });
    }
    void TearDown() override {
        acedRegCmds->removeGroup("UNDOTESTS");
        host::removeHostCommand("ERASEDOOR");
        HostTest::TearDown();
    }
    AcApDocument* openFixture() {
        const std::string path = (folder_ / "site.dxf").string();
        auto r = openDrawingFile(path);
        return acDocManager->newDocument(path, std::move(r.database));
    }
    std::string saved() { return writeDrawingText(*drawing_->database()); }
    void run(std::vector<std::string> lines) {
        output_.clear();
        feed(std::move(lines));
        host::runCommandLoop();
    }
    bool printed(const std::string& text) const { return output_.text().find(text) != std::string::npos; }

    tabro::testing::TempDir scratch_{"undo-commands"};
    const std::filesystem::path folder_ = scratch_.path();
    AcApDocument* drawing_ = nullptr;
};

}  // namespace

TEST_F(UndoCommandsTest, UUndoAndRedoRevertWholeCommandsAndNameThem) {
    const std::string original = saved();
    run({"U", "REDO"});
    EXPECT_TRUE(printed("\nCommand: U\nNothing to undo.")) << output_.text();
    EXPECT_TRUE(printed("\nCommand: REDO\nNothing to redo.")) << output_.text();

    run({"EDITA", "SAVE", "LIST", "ERASEDOOR"});
    const std::string erased = saved();
    run({"U"});
    EXPECT_TRUE(printed("\nCommand: U\nERASEDOOR\n")) << output_.text();
    EXPECT_EQ(textOf("2F5"), "A") << "SAVE and LIST changed nothing and are no step";
    run({"UNDO", ""});
    EXPECT_TRUE(printed("Enter the number of operations to undo <1>: \nEDITA\n")) << output_.text();
    EXPECT_EQ(saved(), original);

    run({"REDO", "REDO"});
    EXPECT_TRUE(printed("\nCommand: REDO\nEDITA\nCommand: REDO\nERASEDOOR\n")) << output_.text();
    EXPECT_EQ(saved(), erased);

    // The count typed after the name, or asked for until it is a whole number.
    run({"UNDO 2"});
    EXPECT_TRUE(printed("\nERASEDOOR EDITA\n")) << output_.text();
    EXPECT_EQ(saved(), original);
    run({"REDO", "UNDO", "none", "0", "5"});
    EXPECT_TRUE(printed("Requires a positive whole number.")) << output_.text();
    EXPECT_TRUE(printed("\nERASEDOOR EDITA\nEverything has been undone")) << output_.text();
    EXPECT_EQ(saved(), original);
    run({"UNDO", "^C"});
    EXPECT_EQ(saved(), original) << "cancelled, nothing undone";
    EXPECT_EQ(drawing_->database()->store().undoHistory().redoCount(), 1u);
}

// A command that throws has changed what it changed; U takes that back as well.
TEST_F(UndoCommandsTest, ACommandThatFailedPartWayIsUndoneAsFarAsItWent) {
    const std::string original = saved();
    run({"BROKEN"});
    ASSERT_TRUE(printed("Unhandled exception in command BROKEN.")) << output_.text();
    EXPECT_EQ(textOf("2F6"), "HALF");
    run({"U"});
    EXPECT_TRUE(printed("\nBROKEN\n")) << output_.text();
    EXPECT_EQ(saved(), original);
}

// What arrives through sendStringToExecute is command input like any other: each
// command it runs is a step, also while DELAY waits for it, as the live link's
// import does.
TEST_F(UndoCommandsTest, CommandsSentForExecutionAreStepsOfTheirOwnAlsoDuringDelay) {
    const std::string original = saved();
    ASSERT_TRUE(acDocManager->sendStringToExecute(drawing_, "edita\n"));
    host::runPendingWork();
    const std::string afterA = saved();
    ASSERT_EQ(textOf("2F5"), "A");
    // Sent by a timer while DELAY waits, as the live link sends its import.
    static AcApDocument* target;
    static int sent;
    target = drawing_;
    sent = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (sent == 0 && target->isQuiescent() && acDocManager->sendStringToExecute(target, "editb\n")) ++sent;
    });
    ASSERT_NE(timer, 0u);
    run({"DELAY 200"});
    KillTimer(nullptr, timer);
    ASSERT_EQ(textOf("2F5"), "B") << output_.text();
    run({"U"});
    EXPECT_TRUE(printed("\nCommand: U\nEDITB\n")) << output_.text();
    EXPECT_EQ(saved(), afterA);
    run({"U"});
    EXPECT_EQ(saved(), original);
}

TEST_F(UndoCommandsTest, InsideAnotherCommandUndoIsRefused) {
    const std::string original = saved();
    run({"EDITA", "NESTER"});
    EXPECT_TRUE(printed("** U cannot be used inside another command **")) << output_.text();
    EXPECT_TRUE(printed("** REDO cannot be used inside another command **")) << output_.text();
    EXPECT_EQ(textOf("2F6"), "NESTED");
    EXPECT_EQ(textOf("2F5"), "A") << "the command before stays";
    run({"U", "U"});
    EXPECT_EQ(saved(), original);
}

// Each drawing has its own history, which goes with it.
TEST_F(UndoCommandsTest, EachDocumentUndoesOnlyItsOwnCommands) {
    run({"EDITA"});
    AcApDocument* second = openFixture();
    const std::string secondOriginal = writeDrawingText(*second->database());
    run({"EDITB", "EDITB"});
    ASSERT_EQ(textOf("2F5"), "B");
    run({"U"});
    EXPECT_TRUE(writeDrawingText(*second->database()) == secondOriginal) << "EDITB twice: one step\n" << output_.text();
    run({"U"});
    EXPECT_TRUE(printed("Nothing to undo.")) << "EDITA ran in the other drawing";
    ASSERT_TRUE(acDocManager->closeDocument(second));
    ASSERT_EQ(acDocManager->curDocument(), drawing_);
    EXPECT_EQ(textOf("2F5"), "A");
    run({"U"});
    EXPECT_TRUE(printed("\nEDITA\n")) << output_.text();
    EXPECT_EQ(textOf("2F5"), "D-101");
}
