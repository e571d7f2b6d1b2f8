// Applying imported values to block references found by handle: opening by handle
// text, attribute matching and field lengths, the property steps and their
// failures, attribute re-placement, and the definition lookup.
#include "ImportDrawingFixture.h"

#include "module/drawing/ReferenceEditor.h"
#include "platform/MessageBox.h"

#include <cctype>
#include <cmath>
#include <numbers>

namespace tabro::testing {
namespace {

using Texts = std::vector<std::string>;

void expectNear(const AcGePoint3d& got, const AcGePoint3d& want, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_NEAR(got.x, want.x, 1e-9);
    EXPECT_NEAR(got.y, want.y, 1e-9);
    EXPECT_NEAR(got.z, want.z, 1e-9);
}

const AttributeState& attributeOf(const ReferenceState& state, const std::string& tag) {
    for (const AttributeState& a : state.attributes)
        if (a.tag == tag) return a;
    ADD_FAILURE() << "no attribute " << tag;
    static AttributeState none;
    return none;
}

class ReferenceEditingTest : public ImportDrawingTest {};

TEST_F(ReferenceEditingTest, OpenByHandleTakesHandleTextOnly) {
    const std::string door = handleOf("D-1");
    std::string lower = door;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const struct {
        std::string text;
        bool opens;
    } cases[] = {
        {door, true},
        {" " + door + "\r\n", true},  // as a spreadsheet program may keep a comment
        {lower, true},
        {"", false},
        {"XYZ", false},
        {"0", false},
        {"FFFFFFF", false},            // a handle the drawing does not hold
        {"12345678901234567", false},  // longer than any handle
        {door + "G", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        AcDbObjectPointer<AcDbEntity> entity;
        Acad::ErrorStatus es = openByHandle(c.text, AcDb::kForRead, entity);
        EXPECT_EQ(es == Acad::eOk, c.opens) << acadErrorStatusText(es);
        EXPECT_EQ(static_cast<bool>(entity), c.opens);
    }
}

TEST_F(ReferenceEditingTest, OpenByHandleFailsWithoutDrawingOrForErasedEntity) {
    const std::string line = handleOf(kOtherEntity);
    {
        WorkingDatabaseScope none(nullptr);
        AcDbObjectPointer<AcDbEntity> entity;
        EXPECT_NE(openByHandle(line, AcDb::kForRead, entity), Acad::eOk);
        EXPECT_FALSE(applyLayer(line, "A-GLAZ"));
    }
    {
        AcDbObjectPointer<AcDbEntity> entity;
        ASSERT_EQ(openByHandle(line, AcDb::kForWrite, entity), Acad::eOk);
        ASSERT_EQ(entity->erase(), Acad::eOk);
    }
    AcDbObjectPointer<AcDbEntity> entity;
    EXPECT_NE(openByHandle(line, AcDb::kForRead, entity), Acad::eOk);
    EXPECT_FALSE(applyLayer(line, "A-GLAZ"));
}

TEST_F(ReferenceEditingTest, AttributesMatchByTagWithoutRegardToCase) {
    const std::string door = handleOf("D-1");
    const struct {
        const char* name;
        Texts tags, values;
        bool complete;
        std::vector<std::pair<std::string, std::string>> expected;  // tag -> text afterwards
    } cases[] = {
        {"all three, other case",
         {"number", "Width", "FIRE"},
         {"D-10", "910", "EI90"},
         true,
         {{"NUMBER", "D-10"}, {"WIDTH", "910"}, {"FIRE", "EI90"}}},
        {"partial: a tag the block lacks",
         {"NUMBER", "NO_SUCH", "fire"},
         {"D-11", "x", "EI120"},
         false,
         {{"NUMBER", "D-11"}, {"WIDTH", "910"}, {"FIRE", "EI120"}}},
        {"a second column of one tag finds no second attribute",
         {"WIDTH", "width"},
         {"1", "2"},
         false,
         {{"WIDTH", "1"}}},
        {"an emptied cell clears", {"FIRE"}, {""}, true, {{"FIRE", ""}}},
        {"no pairs", {}, {}, true, {{"NUMBER", "D-11"}}},
        {"lengths differ: nothing written", {"NUMBER", "WIDTH"}, {"lost"}, false, {{"NUMBER", "D-11"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(applyAttributes(door, c.tags, c.values), c.complete);
        ReferenceState state = stateOf(door);
        for (const auto& [tag, text] : c.expected) EXPECT_EQ(textOf(state, tag), text) << tag;
    }
}

TEST_F(ReferenceEditingTest, FieldLengthIsTheValuesByteLength) {
    const std::string door = handleOf("D-1");
    const Texts values = {"", "abc", std::string(300, 'x'),
                          "\xC3\x9C"
                          "ber"};
    for (const std::string& value : values) {
        SCOPED_TRACE(value.size());
        ASSERT_TRUE(applyAttributes(door, Texts{"WIDTH"}, Texts{value}));
        const ReferenceState state = stateOf(door);
        const AttributeState& width = attributeOf(state, "WIDTH");
        EXPECT_EQ(width.text, value);
        EXPECT_EQ(width.fieldLength, static_cast<int>(value.size()));
    }
}

// ROOM has NOTE and Note: one tag twice. Each column keeps to its own attribute, so
// that importing an unedited sheet does not copy one note over the other.
TEST_F(ReferenceEditingTest, NamesakeTagsPairInOrder) {
    const std::string room = handleOf("R-1");
    EXPECT_TRUE(applyAttributes(room, Texts{"NAME", "NOTE", "Note"}, Texts{"R-1", "first", "second"}));
    ReferenceState state = stateOf(room);
    ASSERT_EQ(state.attributes.size(), 3u);
    EXPECT_EQ(state.attributes[1].text, "first");
    EXPECT_EQ(state.attributes[2].text, "second");

    // A single changed cell of the second NOTE column goes to the second attribute.
    EXPECT_TRUE(applyAttributes(room, Texts{"note"}, Texts{"edited"}, 1));
    state = stateOf(room);
    EXPECT_EQ(state.attributes[1].text, "first");
    EXPECT_EQ(state.attributes[2].text, "edited");

    // Three columns for two attributes: the third reaches none and is reported as
    // missing; it does not overwrite the second.
    AttributeWriteResult result;
    {
        AcDbObjectPointer<AcDbEntity> entity;
        ASSERT_EQ(openByHandle(room, AcDb::kForRead, entity), Acad::eOk);
        EXPECT_FALSE(writeAttributes(*AcDbBlockReference::cast(entity.get()), Texts{"NOTE", "NOTE", "NOTE"},
                                     Texts{"a", "b", "c"}, 0, &result));
    }
    state = stateOf(room);
    EXPECT_EQ(state.attributes[1].text, "a");
    EXPECT_EQ(state.attributes[2].text, "b");
    EXPECT_EQ(result.missing, (std::vector<std::size_t>{2}));
    EXPECT_EQ(result.changed, 2u);
}

// A text that is already the attribute's leaves the attribute as it is: an unedited
// sheet changes nothing, not even the field length; a text the drawing refuses is
// reported, not taken for written.
TEST_F(ReferenceEditingTest, OnlyChangedTextsTouchTheAttribute) {
    const std::string door = handleOf("D-1");
    const int lengthBefore = attributeOf(stateOf(door), "WIDTH").fieldLength;
    const std::string text = attributeOf(stateOf(door), "WIDTH").text;
    ASSERT_NE(lengthBefore, static_cast<int>(text.size())) << "the fixture's attribute should have no field length";
    AttributeWriteResult result;
    {
        AcDbObjectPointer<AcDbEntity> entity;
        ASSERT_EQ(openByHandle(door, AcDb::kForRead, entity), Acad::eOk);
        EXPECT_TRUE(writeAttributes(*AcDbBlockReference::cast(entity.get()), Texts{"WIDTH", "FIRE"},
                                    Texts{text, "EI60"}, 0, &result));
        EXPECT_FALSE(
            writeAttributes(*AcDbBlockReference::cast(entity.get()), Texts{"FIRE"}, Texts{"a\nb"}, 0, &result));
    }
    EXPECT_EQ(attributeOf(stateOf(door), "WIDTH").fieldLength, lengthBefore);
    EXPECT_EQ(result.refused, (std::vector<std::size_t>{0}));
    EXPECT_EQ(result.changed, 1u);
    EXPECT_EQ(attributeOf(stateOf(door), "FIRE").text, "EI60");
}

TEST_F(ReferenceEditingTest, StepsRefuseWhatIsNoLiveBlockReference) {
    const std::string line = handleOf(kOtherEntity);
    const std::string gone = "FFFFFFF";
    for (const std::string& handle : {line, gone}) {
        SCOPED_TRACE(handle);
        EXPECT_FALSE(applyAttributes(handle, Texts{"NUMBER"}, Texts{"x"}));
        EXPECT_FALSE(applyPosition(handle, AcGePoint3d(1, 2, 3)));
        EXPECT_FALSE(applyScale(handle, AcGeScale3d(2, 2, 2)));
        EXPECT_FALSE(applyRotation(handle, 1.0));
    }
    EXPECT_FALSE(applyLayer(gone, "A-GLAZ"));
    // The layer step takes any entity.
    EXPECT_TRUE(applyLayer(line, "A-GLAZ"));
    EXPECT_EQ(stateOf(line).layer, "A-GLAZ");
}

TEST_F(ReferenceEditingTest, LayerStepFailsForALayerTheDrawingLacks) {
    const std::string door = handleOf("D-2");
    EXPECT_FALSE(applyLayer(door, "NO-SUCH-LAYER"));
    EXPECT_EQ(stateOf(door).layer, "A-DOOR");
    EXPECT_FALSE(applyLayer(door, nullptr));
    EXPECT_TRUE(applyLayer(door, "A-GLAZ"));
    EXPECT_EQ(stateOf(door).layer, "A-GLAZ");
}

// After each property step the attributes stand where their definitions put them
// under the new transform; texts stay; an attribute without a definition stays put.
TEST_F(ReferenceEditingTest, PropertyStepsPlaceAttributesAgain) {
    const std::string door = handleOf("D-3");  // NUMBER, WIDTH and OLD (no definition)
    const ReferenceState initial = stateOf(door);
    const AcGePoint3d oldPlace = attributeOf(initial, "OLD").position;
    const double quarter = std::numbers::pi / 2;
    const struct {
        const char* name;
        bool (*step)(const std::string&);
        AcGePoint3d number, width;  // NUMBER's definition is at (0, 10), WIDTH's at (0, 0)
    } cases[] = {
        {"move",
         [](const std::string& h) { return applyPosition(h, AcGePoint3d(50, 60, 5)); },
         {50, 70, 5},
         {50, 60, 5}},
        {"scale", [](const std::string& h) { return applyScale(h, AcGeScale3d(2, 3, 1)); }, {50, 90, 5}, {50, 60, 5}},
        {"rotate",
         [](const std::string& h) { return applyRotation(h, std::numbers::pi / 2); },
         {20, 60, 5},
         {50, 60, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.step(door));
        ReferenceState state = stateOf(door);
        expectNear(attributeOf(state, "NUMBER").position, c.number, "NUMBER");
        expectNear(attributeOf(state, "WIDTH").position, c.width, "WIDTH");
        expectNear(attributeOf(state, "OLD").position, oldPlace, "OLD");
        EXPECT_EQ(textOf(state, "NUMBER"), "D-3");
        EXPECT_EQ(textOf(state, "WIDTH"), "800");
        EXPECT_EQ(attributeOf(state, "NUMBER").fieldLength, 4);  // "D-3" and one
    }
    ReferenceState state = stateOf(door);
    expectNear(state.position, {50, 60, 5}, "position");
    EXPECT_EQ(state.scale, AcGeScale3d(2, 3, 1));
    EXPECT_NEAR(state.rotation, quarter, 1e-12);
}

TEST_F(ReferenceEditingTest, RefusedValuesChangeNothing) {
    const std::string door = handleOf("D-1");
    const ReferenceState before = stateOf(door);
    const double nan = std::nan("");
    EXPECT_FALSE(applyScale(door, AcGeScale3d(0, 1, 1)));
    EXPECT_FALSE(applyScale(door, AcGeScale3d(1, INFINITY, 1)));
    EXPECT_FALSE(applyPosition(door, AcGePoint3d(nan, 0, 0)));
    EXPECT_FALSE(applyRotation(door, INFINITY));
    const ReferenceState after = stateOf(door);
    EXPECT_EQ(after.scale, before.scale);
    EXPECT_EQ(after.position, before.position);
    EXPECT_EQ(after.rotation, before.rotation);
    for (std::size_t i = 0; i < before.attributes.size(); ++i)
        EXPECT_EQ(after.attributes[i].position, before.attributes[i].position);
}

TEST_F(ReferenceEditingTest, NullArgumentsAreReportedAsFailedAssertions) {
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(refreshAttributes(nullptr));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, "Assertion failed");
    EXPECT_NE(boxes.last().text.find("Condition: pRef != NULL"), std::string::npos);

    AcDbObjectPointer<AcDbEntity> entity;
    ASSERT_EQ(openByHandle(handleOf("D-1"), AcDb::kForRead, entity), Acad::eOk);
    AcDbObjectPointer<AcDbAttributeDefinition> definition;
    EXPECT_FALSE(findAttributeDefinition(AcDbBlockReference::cast(entity.get()), nullptr, definition));
    EXPECT_FALSE(definition);
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_NE(boxes.last().text.find("Condition: pAtt != NULL"), std::string::npos);
}

TEST_F(ReferenceEditingTest, FindAttributeDefinitionLeavesTheMatchOpenForItsHolder) {
    AcDbObjectPointer<AcDbEntity> entity;
    ASSERT_EQ(openByHandle(handleOf("D-3"), AcDb::kForRead, entity), Acad::eOk);
    auto* reference = AcDbBlockReference::cast(entity.get());
    ASSERT_NE(reference, nullptr);
    std::unique_ptr<AcDbObjectIterator> it(reference->attributeIterator());
    const std::size_t openBefore = db().openObjectCount();
    std::vector<std::pair<std::string, bool>> found;
    for (it->start(); !it->done(); it->step()) {
        AcDbAttribute* raw = nullptr;
        ASSERT_EQ(reference->openAttribute(raw, it->objectId(), AcDb::kForRead), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> attribute;
        attribute.adopt(raw);
        AcutString tag(attribute->tag());
        AcDbObjectPointer<AcDbAttributeDefinition> definition;
        bool ok = findAttributeDefinition(reference, attribute.get(), definition);
        found.emplace_back(tag.get(), ok);
        if (ok) {
            AcutString definitionTag(definition->tag());
            EXPECT_EQ(std::string(definitionTag.get()), tag.get());
            // The definition and the attribute are open beside the reference.
            EXPECT_EQ(db().openObjectCount(), openBefore + 2);
        } else {
            EXPECT_FALSE(definition);
            EXPECT_EQ(db().openObjectCount(), openBefore + 1);
        }
    }
    const std::vector<std::pair<std::string, bool>> expected = {{"NUMBER", true}, {"WIDTH", true}, {"OLD", false}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(db().openObjectCount(), openBefore);
}

}  // namespace
}  // namespace tabro::testing
