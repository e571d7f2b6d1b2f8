// Which blocks an export offers and which names the user's answer chooses, and the
// attribute records read from the drawing.
#include "ExportDrawingFixture.h"

#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/export/BlockCollection.h"
#include "module/ui/BlockSelectionDialog.h"

namespace tabro::testing {
namespace {

using Names = std::vector<std::string>;

struct Offered {
    std::string name;
    bool hasAttributes;
    bool operator==(const Offered&) const = default;
};

std::vector<Offered> offered(const BlockNameMap& map) {
    std::vector<Offered> out;
    for (const auto& e : map) out.push_back({e.name, e.hasAttributes});
    return out;
}

using BlockCollection = ExportDrawingTest;

TEST_F(BlockCollection, OffersNamedBlocksInTableOrder) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    EXPECT_EQ(
        offered(map),
        (std::vector<Offered>{{"DOOR", true}, {"VALVE", true}, {"NORTH", false}, {"KEY", false}, {"EQUIP[1]", true}}));
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(BlockCollection, DrawingWithoutNamedBlocksShowsTheBox) {
    useEmptyDrawing();
    BlockNameMap map;
    EXPECT_FALSE(collectBlockNames(map));
    ASSERT_EQ(boxes_.count(), 1u);
    const auto box = boxes_.last();
    EXPECT_EQ(box.text, resourceStrings().load(kTextNoBlocks));
    EXPECT_EQ(box.caption, resourceStrings().load(kTextErrorCaption));
    EXPECT_EQ(box.type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(box.owner, adsw_acadMainWnd());
}

TEST_F(BlockCollection, LayoutBlockNames) {
    const struct {
        const char* name;
        bool isLayout;
    } cases[] = {
        {"*Model_Space", true},  {"*MODEL_SPACE", true},   {"*Paper_Space", true},
        {"*Paper_Space0", true}, {"*paper_space12", true}, {"*Model_Spac", false},
        {"MODEL_SPACE", false},  {"DOOR", false},          {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isLayoutBlockName(c.name), c.isLayout);
    }
}

TEST_F(BlockCollection, TypedAnswerChoosesNames) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    const struct {
        const char* name;
        const char* answer;
        Names expected;
    } cases[] = {
        {"Enter takes every block", "", {"DOOR", "VALVE", "NORTH", "KEY", "EQUIP[1]"}},
        {"other letter case, kept as typed", "valve", {"valve"}},
        {"empty pieces and a trailing comma", "DOOR,,VALVE,", {"DOOR", "VALVE"}},
        {"order as typed, duplicates kept", "VALVE,DOOR,VALVE", {"VALVE", "DOOR", "VALVE"}},
        {"a blank after the comma is part of the name", "DOOR, VALVE", {"DOOR"}},
        {"unknown and anonymous names dropped", "NOPE,*U1,*Model_Space", {}},
        {"no wildcards", "D*", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(blockNamesFromAnswer(map, c.answer), c.expected);
    }
}

TEST_F(BlockCollection, AskReadsOneLineAndCancelEnds) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    Names names{"kept"};
    feed({"north,KEY"});
    EXPECT_TRUE(askBlockNames(map, names));
    EXPECT_EQ(names, (Names{"kept", "north", "KEY"}));
    feed({"^C"});
    EXPECT_FALSE(askBlockNames(map, names));
    EXPECT_EQ(names.size(), 3u);
}

TEST_F(BlockCollection, TypedNamesOfNoBlockAreNamed) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    std::vector<std::string> unknown;
    EXPECT_EQ(blockNamesFromAnswer(map, "DOOR,NOPE, VALVE,,*U1", &unknown), Names{"DOOR"});
    EXPECT_EQ(unknown, (Names{"NOPE", " VALVE", "*U1"}));
    unknown.clear();
    EXPECT_EQ(blockNamesFromAnswer(map, "", &unknown).size(), 5u);
    EXPECT_TRUE(unknown.empty());

    Names names;
    feed({"NOPE,DOOR"});
    EXPECT_TRUE(askBlockNames(map, names));
    EXPECT_EQ(names, Names{"DOOR"});
    const std::string shown = output_.text();
    EXPECT_NE(shown.find(formatText(kTextNoSuchBlock, "NOPE")), std::string::npos) << shown;
    EXPECT_EQ(shown.find("DOOR\""), std::string::npos) << shown;
}

TEST_F(BlockCollection, DialogOkAppendsSelectionAndCancelDoesNot) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    Names names;
    {
        ui::ScopedBlockSelectionPresenter presenter([](ui::BlockSelectionDialog& d) {
            d.onCommand(ui::BlockSelectionDialog::ID_SHOW_ALL);
            d.list().setSelected(0, true);
            d.list().setSelected(3, true);
            d.onOK();
            return d.endResult();
        });
        EXPECT_TRUE(chooseBlockNamesInDialog(map, names));
    }
    EXPECT_EQ(names, (Names{"DOOR", "NORTH"}));
    ui::ScopedBlockSelectionPresenter cancel([](ui::BlockSelectionDialog& d) {
        d.onCommand(ui::BlockSelectionDialog::ID_SELECT_ALL);
        d.onCancel();
        return d.endResult();
    });
    EXPECT_FALSE(chooseBlockNamesInDialog(map, names));
    EXPECT_EQ(names.size(), 2u);
}

TEST_F(BlockCollection, TerminalDialogReadsCommandsFromTheCommandLine) {
    BlockNameMap map;
    ASSERT_TRUE(collectBlockNames(map));
    Names names;
    // Show all, select everything but the focused NORTH, toggle VALVE off, OK.
    feed({"s", "f4", "b", "2", "ok"});
    EXPECT_TRUE(chooseBlockNamesInDialog(map, names));
    EXPECT_EQ(names, (Names{"DOOR", "EQUIP[1]", "KEY"}));
    const std::string shown = output_.text();
    EXPECT_NE(shown.find("[v] " + resourceStrings().load(kTextMenuShowAll)), std::string::npos) << shown;
    EXPECT_NE(shown.find("[v] " + resourceStrings().load(kTextMenuShowAttributed)), std::string::npos) << shown;

    feed({"a", "cancel"});
    EXPECT_FALSE(chooseBlockNamesInDialog(map, names));
    feed({"^C"});
    EXPECT_FALSE(chooseBlockNamesInDialog(map, names));
    EXPECT_EQ(names.size(), 3u);
}

struct RecordText {
    std::string tag, text;
    bool isConstant;
    bool operator==(const RecordText&) const = default;
};

TEST_F(BlockCollection, AttributeRecordsOfReferences) {
    const struct {
        const char* handle;
        std::vector<RecordText> expected;
    } cases[] = {
        {"50", {{"WIDTH", "900", false}, {"FIRE", "EI30", false}}},
        // Stored FIRE before WIDTH: each value stays under its own tag.
        {"58", {{"WIDTH", "700", false}, {"FIRE", "EI90", false}}},
        // The constant in the middle has no attribute; c's value still reaches c.
        {"5C", {{"b", "1", false}, {"A", "GATE", true}, {"c", "3", false}}},
        {"44", {{"b", "N1", false}, {"A", "GATE", true}, {"c", "N3", false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handle);
        AcDbObjectPointer<AcDbBlockReference> reference(idOf(c.handle), AcDb::kForRead);
        ASSERT_TRUE(reference);
        std::vector<AttributeRecord> records;
        ASSERT_TRUE(collectAttributeRecords(*reference.get(), records));
        std::vector<RecordText> got;
        for (const auto& r : records) got.push_back({r.tag, r.text, r.isConstant});
        EXPECT_EQ(got, c.expected);
    }
}

TEST_F(BlockCollection, DefinitionRecordsCarryPrompts) {
    AcDbObjectPointer<AcDbBlockReference> reference(idOf("50"), AcDb::kForRead);
    ASSERT_TRUE(reference);
    std::vector<AttributeRecord> records;
    ASSERT_TRUE(collectDefinitionRecords(reference->blockTableRecord(), records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].prompt, "Clear width");
    EXPECT_EQ(records[0].text, "800");
    EXPECT_EQ(records[1].prompt, "Fire rating");
    std::string name;
    EXPECT_TRUE(blockNameOf(reference->blockTableRecord(), name));
    EXPECT_EQ(name, "DOOR");
    EXPECT_FALSE(collectDefinitionRecords(AcDbObjectId(), records));
}

}  // namespace
}  // namespace tabro::testing
