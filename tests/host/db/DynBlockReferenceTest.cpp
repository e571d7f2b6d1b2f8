// Dynamic blocks read from a drawing: which block a reference belongs to, directly or
// through an anonymous block made for it, and the values of its parameters, in the
// project's drawing of them (tools/make_dynamic_drawing.py), in real drawings, and in
// drawings whose dynamic block data is broken, which must read as plain blocks.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbDynBlockReference.h"
#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/db/ObjectTags.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Property = AcDbDynBlockReferenceProperty;
constexpr double kPi = std::numbers::pi;

std::string fixturePath() { return std::string(TABLORA_FIXTURES_DIR) + "/dxf/dynamic_blocks.dxf"; }

std::string nameOf(AcDbObjectId record) {
    if (record.isNull()) return "<null>";
    AcDbObjectPointer<AcDbBlockTableRecord> rec(record, AcDb::kForRead);
    if (!rec) return "<not a block record>";
    const char* name = nullptr;
    EXPECT_EQ(rec->getName(name), Acad::eOk);
    return name ? name : "";
}

std::vector<Property> propertiesOf(AcDbObjectId ref) {
    AcDbDynBlockReferencePropertyArray properties;
    AcDbDynBlockReference(ref).getBlockProperties(properties);
    return properties;
}

std::vector<std::string> namesOf(const std::vector<Property>& properties) {
    std::vector<std::string> names;
    for (const Property& p : properties) names.push_back(p.propertyName());
    return names;
}

const Property* find(const std::vector<Property>& properties, const std::string& name) {
    for (const Property& p : properties)
        if (p.propertyName() == name) return &p;
    return nullptr;
}

// Every block reference of the drawing, in model space, layouts and blocks alike.
std::vector<AcDbObjectId> everyReference(AcDbDatabase& db) {
    std::vector<AcDbObjectId> refs;
    for (const hostdb::BlockInfo& b : db.store().blocks())
        for (hostdb::ObjectStub* e : b.entities)
            if (e->kind == hostdb::Kind::Insert) refs.emplace_back(e);
    return refs;
}

// The references of a drawing by the text of their attribute `tag`.
std::map<std::string, AcDbObjectId> referencesByAttribute(AcDbDatabase& db, const std::string& tag) {
    std::map<std::string, AcDbObjectId> byText;
    for (AcDbObjectId id : everyReference(db)) {
        AcDbObjectPointer<AcDbBlockReference> ref(id, AcDb::kForRead);
        if (!ref) continue;
        std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
        for (it->start(); !it->done(); it->step()) {
            AcDbAttribute* att = nullptr;
            if (ref->openAttribute(att, it->objectId(), AcDb::kForRead) != Acad::eOk) continue;
            AcDbObjectPointer<AcDbAttribute> held;
            held.adopt(att);
            if (AcutString(att->tag()).get() == tag) byText[AcutString(att->textString()).get()] = id;
        }
    }
    return byText;
}

AcDbObjectId idOf(AcDbDatabase& db, const char* hex) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(hex)), Acad::eOk) << hex;
    return id;
}

AcDbObjectId blockNamed(AcDbDatabase& db, const char* name) {
    hostdb::ObjectStub* record = db.store().findBlock(name);
    EXPECT_NE(record, nullptr) << name;
    return AcDbObjectId(record);
}

// The tags of a drawing's text, to make broken variants of it: each object is its
// type's tag and those up to the next object's.
class TagText {
public:
    explicit TagText(const std::string& text) {
        std::istringstream in(text);
        for (std::string code, value; std::getline(in, code) && std::getline(in, value);)
            tags_.push_back({std::stoi(code), value});
    }
    std::string text() const {
        std::string out;
        char code[16];
        for (const auto& [c, v] : tags_) {
            std::snprintf(code, sizeof code, "%3d\n", c);
            out += code + v + "\n";
        }
        return out;
    }
    // The index of the type tag of the first object of `type` that has the tag
    // (code, value); fails the test when there is none.
    std::size_t objectWith(const std::string& type, int code, const std::string& value) const {
        for (std::size_t i = 0; i < tags_.size(); ++i) {
            if (tags_[i].first != 0 || tags_[i].second != type) continue;
            for (std::size_t j = i + 1; j < end(i); ++j)
                if (tags_[j].first == code && tags_[j].second == value) return i;
        }
        ADD_FAILURE() << "no " << type << " with " << code << " " << value;
        return 0;
    }
    // One past the last tag of the object at `at`.
    std::size_t end(std::size_t at) const {
        std::size_t i = at + 1;
        while (i < tags_.size() && tags_[i].first != 0) ++i;
        return i;
    }
    std::string valueIn(std::size_t object, int code) const {
        for (std::size_t i = object + 1; i < end(object); ++i)
            if (tags_[i].first == code) return tags_[i].second;
        ADD_FAILURE() << "no group " << code;
        return {};
    }
    // Sets the value of the object's first tag of `code`.
    void set(std::size_t object, int code, const std::string& value) {
        for (std::size_t i = object + 1; i < end(object); ++i)
            if (tags_[i].first == code) {
                tags_[i].second = value;
                return;
            }
        ADD_FAILURE() << "no group " << code;
    }
    // Removes from the object the tags whose codes `drop` says.
    template <class Drop>
    void removeFrom(std::size_t object, Drop drop) {
        const std::size_t e = end(object);
        std::vector<std::pair<int, std::string>> kept(tags_.begin(), tags_.begin() + object + 1);
        for (std::size_t i = object + 1; i < e; ++i)
            if (!drop(tags_[i].first, tags_[i].second)) kept.push_back(tags_[i]);
        kept.insert(kept.end(), tags_.begin() + e, tags_.end());
        tags_ = std::move(kept);
    }

private:
    std::vector<std::pair<int, std::string>> tags_;
};

class DynamicBlocksDrawing : public ::testing::Test {
protected:
    void SetUp() override { open(tabro::testing::readFile(fixturePath())); }
    void open(const std::string& text) {
        auto r = openDrawingText(text, "dynamic_blocks.dxf");
        ASSERT_TRUE(r) << r.error;
        db = std::move(r.database);
        refs = referencesByAttribute(*db, "TAG");
        for (const auto& [number, id] : referencesByAttribute(*db, "NUMBER")) refs[number] = id;
        ASSERT_EQ(refs.size(), 8u);
    }
    // The fixture's text made over by `edit`, opened in place of it.
    template <class Edit>
    void openEdited(Edit edit) {
        TagText tags(tabro::testing::readFile(fixturePath()));
        edit(tags);
        open(tags.text());
    }
    void TearDown() override {
        if (db) {
            EXPECT_EQ(db->openObjectCount(), 0u);
        }
    }
    AcDbObjectId ref(const std::string& tag) { return refs.at(tag); }
    std::string dynamicNameOf(const std::string& tag) {
        return nameOf(AcDbDynBlockReference(ref(tag)).dynamicBlockTableRecord());
    }

    std::unique_ptr<AcDbDatabase> db;
    std::map<std::string, AcDbObjectId> refs;  // by the TAG (VALVE) or NUMBER (PUMP) attribute
};

}  // namespace

// References of the dynamic block itself, and of anonymous blocks made from it (one
// of them shared by two references), all belong to VALVE.
TEST_F(DynamicBlocksDrawing, ReferencesBelongToTheDynamicBlockDirectlyOrThroughAnonymousBlocks) {
    for (const char* tag : {"V-101", "V-102", "V-103", "V-104", "V-105"}) {
        SCOPED_TRACE(tag);
        AcDbDynBlockReference dyn(ref(tag));
        EXPECT_TRUE(dyn.isDynamicBlock());
        EXPECT_EQ(nameOf(dyn.dynamicBlockTableRecord()), "VALVE");
    }
    EXPECT_TRUE(AcDbDynBlockReference(ref("V-101")).anonymousBlockTableRecord().isNull());
    EXPECT_TRUE(AcDbDynBlockReference(ref("V-102")).anonymousBlockTableRecord().isNull());
    EXPECT_EQ(nameOf(AcDbDynBlockReference(ref("V-103")).anonymousBlockTableRecord()), "*U1");
    EXPECT_EQ(AcDbDynBlockReference(ref("V-104")).anonymousBlockTableRecord(),
              AcDbDynBlockReference(ref("V-103")).anonymousBlockTableRecord());
    EXPECT_EQ(nameOf(AcDbDynBlockReference(ref("V-105")).anonymousBlockTableRecord()), "*U2");

    EXPECT_TRUE(AcDbDynBlockReference::isDynamicBlock(blockNamed(*db, "VALVE")));
    EXPECT_TRUE(AcDbDynBlockTableRecord(blockNamed(*db, "VALVE")).isDynamicBlock());
    for (const char* plain : {"PUMP", "*U1", "*U2", "*U3", "*Model_Space", "*Paper_Space"}) {
        EXPECT_FALSE(AcDbDynBlockReference::isDynamicBlock(blockNamed(*db, plain))) << plain;
    }
}

// A plain block's reference, and one whose representation data name another block
// than its anonymous block's tag does, read as references of the block they point
// at; so does anything that is no reference.
TEST_F(DynamicBlocksDrawing, PlainAndContradictoryReferencesAreNoDynamicBlocks) {
    for (const char* tag : {"P-01", "P-02", "V-106"}) {
        SCOPED_TRACE(tag);
        AcDbDynBlockReference dyn(ref(tag));
        EXPECT_FALSE(dyn.isDynamicBlock());
        EXPECT_TRUE(dyn.anonymousBlockTableRecord().isNull());
        EXPECT_TRUE(propertiesOf(ref(tag)).empty());
    }
    EXPECT_EQ(dynamicNameOf("P-01"), "PUMP");
    EXPECT_EQ(dynamicNameOf("V-106"), "*U3");

    AcDbObjectId attribute;
    {
        AcDbObjectPointer<AcDbBlockReference> r(ref("V-103"), AcDb::kForRead);
        ASSERT_TRUE(r);
        std::unique_ptr<AcDbObjectIterator> it(r->attributeIterator());
        attribute = it->objectId();
    }
    for (AcDbObjectId notAReference : {attribute, blockNamed(*db, "VALVE"), AcDbObjectId()}) {
        AcDbDynBlockReference dyn(notAReference);
        EXPECT_FALSE(dyn.isDynamicBlock());
        EXPECT_TRUE(dyn.dynamicBlockTableRecord().isNull());
        EXPECT_TRUE(dyn.anonymousBlockTableRecord().isNull());
        EXPECT_TRUE(propertiesOf(notAReference).empty());
    }
    EXPECT_FALSE(AcDbDynBlockReference::isDynamicBlock(AcDbObjectId()));
    EXPECT_FALSE(AcDbDynBlockReference::isDynamicBlock(ref("V-101"))) << "a reference is no block record";
}

// The parameters of the kinds a reference reports, in the graph's order (which is
// not their objects'), each with its own label rather than its element's name,
// and at its default where the reference points at VALVE itself.
TEST_F(DynamicBlocksDrawing, ADirectReferenceHasTheBlocksParametersAtTheirDefaults) {
    const std::vector<Property> p = propertiesOf(ref("V-101"));
    ASSERT_EQ(namesOf(p), (std::vector<std::string>{"State", "Length", "Mirror", "Reach", "Turn", "Size Table"}));

    EXPECT_EQ(p[0].parameterKind(), Property::kVisibility);
    EXPECT_EQ(p[0].unitsType(), Property::kNoUnits);
    EXPECT_EQ(p[0].description(), "Whether the valve shows open");
    EXPECT_EQ(p[0].value(), AcDbEvalVariant(std::string("Open")));

    EXPECT_EQ(p[1].parameterKind(), Property::kLinear);
    EXPECT_EQ(p[1].unitsType(), Property::kDistance);
    EXPECT_EQ(p[1].description(), "Face to face");
    EXPECT_EQ(p[1].value().getType(), AcDbEvalVariant::kDouble);
    EXPECT_DOUBLE_EQ(p[1].value().real(), 10.0);

    EXPECT_EQ(p[2].parameterKind(), Property::kFlip);
    EXPECT_EQ(p[2].unitsType(), Property::kNoUnits);
    EXPECT_EQ(p[2].value(), AcDbEvalVariant(short{0}));

    EXPECT_EQ(p[3].parameterKind(), Property::kPolar);
    EXPECT_EQ(p[3].unitsType(), Property::kDistance);
    EXPECT_EQ(p[3].description(), "How far the handle reaches");
    EXPECT_DOUBLE_EQ(p[3].value().real(), 5.0);

    // The handle's end at 90 degrees from its base, its base angle at 45.
    EXPECT_EQ(p[4].parameterKind(), Property::kRotation);
    EXPECT_EQ(p[4].unitsType(), Property::kAngular);
    EXPECT_NEAR(p[4].value().real(), kPi / 4, 1e-12);

    EXPECT_EQ(p[5].parameterKind(), Property::kLookup);
    EXPECT_EQ(p[5].description(), "Nominal size");
    EXPECT_EQ(p[5].value(), AcDbEvalVariant(std::string()));

    // Shown as the block's author chose; none read only (there is no such flag).
    for (const Property& each : p) {
        EXPECT_EQ(each.show(), each.propertyName() != "Turn") << each.propertyName();
        EXPECT_FALSE(each.readOnly()) << each.propertyName();
    }
}

// V-102 points at VALVE itself, so the values its extension dictionary holds are
// not its own; scaled 2 by 1 by 1, its distances have no one length and are left out.
TEST_F(DynamicBlocksDrawing, ADirectReferenceKeepsTheDefaultsAndLosesDistancesToANonUniformScale) {
    const std::vector<Property> p = propertiesOf(ref("V-102"));
    ASSERT_EQ(namesOf(p), (std::vector<std::string>{"State", "Mirror", "Turn", "Size Table"}));
    EXPECT_EQ(p[0].value(), AcDbEvalVariant(std::string("Open")));
    EXPECT_EQ(p[1].value(), AcDbEvalVariant(short{0}));
    EXPECT_NEAR(p[2].value().real(), kPi / 4, 1e-12);
    EXPECT_EQ(p[3].value(), AcDbEvalVariant(std::string()));
}

// Each reference of an anonymous block has its values from its own data: distances
// in drawing units (times the reference's uniform scale, whatever its sign), angles
// turned from the base angle, in [0, 2π).
TEST_F(DynamicBlocksDrawing, ReferencesOfAnonymousBlocksHaveTheirOwnValues) {
    struct Expected {
        const char* tag;
        const char* state;
        double length;
        short flip;
        double reach, turn;
        const char* size;
    };
    for (const Expected& e : {Expected{"V-103", "Closed", 12.5, 1, 7.0, kPi / 2, "DN50"},
                              Expected{"V-104", "Closed", 12.5, 1, 7.0, kPi / 2, "DN50"},     // mirrored
                              Expected{"V-105", "Hidden", 16.0, 0, 6.0, kPi / 6, "DN80"}}) {  // scaled 2
        SCOPED_TRACE(e.tag);
        const std::vector<Property> p = propertiesOf(ref(e.tag));
        ASSERT_EQ(namesOf(p), (std::vector<std::string>{"State", "Length", "Mirror", "Reach", "Turn", "Size Table"}));
        EXPECT_EQ(p[0].value(), AcDbEvalVariant(std::string(e.state)));
        EXPECT_NEAR(p[1].value().real(), e.length, 1e-9);
        EXPECT_EQ(p[2].value(), AcDbEvalVariant(e.flip));
        EXPECT_NEAR(p[3].value().real(), e.reach, 1e-9);
        EXPECT_NEAR(p[4].value().real(), e.turn, 1e-9);
        EXPECT_EQ(p[5].value(), AcDbEvalVariant(std::string(e.size)));
    }
}

// The anonymous blocks whose records name VALVE, in block table order; a plain
// block has none.
TEST_F(DynamicBlocksDrawing, TheAnonymousBlocksOfADynamicBlock) {
    AcDbObjectIdArray ids;
    EXPECT_EQ(AcDbDynBlockTableRecord(blockNamed(*db, "VALVE")).getAnonymousBlockIds(ids), Acad::eOk);
    std::vector<std::string> names;
    for (AcDbObjectId id : ids) names.push_back(nameOf(id));
    EXPECT_EQ(names, (std::vector<std::string>{"*U1", "*U2", "*U3"}));

    ids.append(AcDbObjectId());
    EXPECT_EQ(AcDbDynBlockTableRecord(blockNamed(*db, "PUMP")).getAnonymousBlockIds(ids), Acad::eOk);
    EXPECT_TRUE(ids.isEmpty());
    EXPECT_EQ(AcDbDynBlockTableRecord(AcDbObjectId()).getAnonymousBlockIds(ids), Acad::eNullObjectId);
    EXPECT_FALSE(AcDbDynBlockTableRecord(blockNamed(*db, "PUMP")).isDynamicBlock());
}

// Reading dynamic blocks changes nothing: the drawing saves as it was read.
TEST_F(DynamicBlocksDrawing, ReadingTheValuesLeavesTheDrawingAsItWas) {
    for (const auto& [tag, id] : refs) {
        (void)propertiesOf(id);
        (void)AcDbDynBlockReference(id).dynamicBlockTableRecord();
    }
    EXPECT_FALSE(db->store().isModified());
    EXPECT_TRUE(writeDrawingText(*db) == tabro::testing::readFile(fixturePath()));
}

// The first questions of a drawing may come from two threads at once: both make
// do with the one index and the one reading of each block's parameters.
TEST_F(DynamicBlocksDrawing, TheFirstQuestionsMayComeFromTwoThreads) {
    auto ask = [this](std::vector<std::string>& answers) {
        for (const auto& [tag, id] : refs) {
            AcDbDynBlockReference dyn(id);
            std::string answer = tag + " " + nameOf(dyn.dynamicBlockTableRecord());
            for (const Property& p : propertiesOf(id)) {
                const AcDbEvalVariant v = p.value();
                answer += " " + p.propertyName() + "=" +
                          (v.getType() == AcDbEvalVariant::kString  ? v.text()
                           : v.getType() == AcDbEvalVariant::kShort ? std::to_string(v.int16())
                                                                    : std::to_string(v.real()));
            }
            answers.push_back(answer);
        }
    };
    std::vector<std::string> first, second, again;
    std::thread other(ask, std::ref(second));
    ask(first);
    other.join();
    ask(again);
    EXPECT_EQ(first, again);
    EXPECT_EQ(second, again);
    EXPECT_EQ(again.front(), "P-01 PUMP");
    EXPECT_EQ(again.back(), "V-106 *U3");
}

// Values changed in memory count: a reference scaled since it was read has its
// distances at the new scale.
TEST_F(DynamicBlocksDrawing, DistancesFollowAScaleChangedInMemory) {
    {
        AcDbObjectPointer<AcDbBlockReference> r(ref("V-103"), AcDb::kForWrite);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->setScaleFactors({3, 3, 3}), Acad::eOk);
    }
    const std::vector<Property> properties = propertiesOf(ref("V-103"));
    const Property* length = find(properties, "Length");
    ASSERT_NE(length, nullptr);
    EXPECT_NEAR(length->value().real(), 37.5, 1e-9);
}

// An anonymous block without the tag that names its dynamic block is one all the
// same when its references' data name it.
TEST_F(DynamicBlocksDrawing, AnAnonymousBlockWithoutItsTagBelongsWhereItsReferencesSay) {
    openEdited([](TagText& t) {
        const std::size_t u2 = t.objectWith("BLOCK_RECORD", 2, "*U2");
        bool inTag = false;
        t.removeFrom(u2, [&](int code, const std::string& value) {
            if (code == 1001) inTag = value == "AcDbBlockRepBTag";
            return inTag;
        });
    });
    EXPECT_EQ(dynamicNameOf("V-105"), "VALVE");
    EXPECT_EQ(nameOf(AcDbDynBlockReference(ref("V-105")).anonymousBlockTableRecord()), "*U2");
    const std::vector<Property> properties = propertiesOf(ref("V-105"));
    const Property* length = find(properties, "Length");
    ASSERT_NE(length, nullptr);
    EXPECT_NEAR(length->value().real(), 16.0, 1e-9);
    AcDbObjectIdArray ids;
    EXPECT_EQ(AcDbDynBlockTableRecord(blockNamed(*db, "VALVE")).getAnonymousBlockIds(ids), Acad::eOk);
    std::vector<std::string> names;
    for (AcDbObjectId id : ids) names.push_back(nameOf(id));
    EXPECT_EQ(names, (std::vector<std::string>{"*U1", "*U2", "*U3"}));
}

// Broken data: a tag naming no object, an anonymous block naming itself, a graph
// entry naming nothing. None throws; the references read as plain blocks'.
TEST_F(DynamicBlocksDrawing, TagsAndEntriesNamingNothingUsableLeavePlainBlocks) {
    openEdited([](TagText& t) {
        t.set(t.objectWith("BLOCK_RECORD", 2, "*U1"), 1005, "FFFFF");
        const std::size_t u2 = t.objectWith("BLOCK_RECORD", 2, "*U2");
        t.set(u2, 1005, t.valueIn(u2, 5));
    });
    for (const char* tag : {"V-103", "V-104", "V-105"}) {
        SCOPED_TRACE(tag);
        EXPECT_FALSE(AcDbDynBlockReference(ref(tag)).isDynamicBlock());
        EXPECT_TRUE(propertiesOf(ref(tag)).empty());
    }
    EXPECT_EQ(dynamicNameOf("V-103"), "*U1");
    EXPECT_EQ(dynamicNameOf("V-105"), "*U2");
    EXPECT_EQ(dynamicNameOf("V-101"), "VALVE");
    AcDbObjectIdArray ids;
    EXPECT_EQ(AcDbDynBlockTableRecord(blockNamed(*db, "VALVE")).getAnonymousBlockIds(ids), Acad::eOk);
    ASSERT_EQ(ids.length(), 1);
    EXPECT_EQ(nameOf(ids[0]), "*U3");

    openEdited([](TagText& t) {
        const std::size_t xdict = t.objectWith("DICTIONARY", 3, "ACAD_ENHANCEDBLOCK");
        t.set(xdict, 360, "FFFFF");
    });
    EXPECT_FALSE(AcDbDynBlockReference::isDynamicBlock(blockNamed(*db, "VALVE")));
    for (const auto& [tag, id] : refs) {
        EXPECT_FALSE(AcDbDynBlockReference(id).isDynamicBlock()) << tag;
        EXPECT_TRUE(propertiesOf(id).empty()) << tag;
    }
    EXPECT_EQ(dynamicNameOf("V-103"), "*U1");
}

// Broken parameters: a graph without nodes has none; a parameter whose object lacks
// its class's data is left out; a value record without the points of a distance
// leaves that distance out where a reference has such a record.
TEST_F(DynamicBlocksDrawing, ParametersThatCannotBeReadAreLeftOut) {
    openEdited([](TagText& t) {
        const std::size_t graph = t.objectWith("ACAD_EVALUATION_GRAPH", 100, "AcDbEvalGraph");
        t.removeFrom(graph, [](int code, const std::string&) { return code >= 91 && code != 330 && code != 100; });
    });
    EXPECT_TRUE(AcDbDynBlockReference(ref("V-103")).isDynamicBlock());
    EXPECT_TRUE(propertiesOf(ref("V-101")).empty());
    EXPECT_TRUE(propertiesOf(ref("V-103")).empty());

    openEdited([](TagText& t) {
        // Linear: its own subclass gone. Rotation: its base angle's point gone.
        const std::size_t linear = t.objectWith("BLOCKLINEARPARAMETER", 305, "Length");
        t.removeFrom(linear,
                     [](int code, const std::string& v) { return code == 100 && v == "AcDbBlockLinearParameter"; });
        const std::size_t rotation = t.objectWith("BLOCKROTATIONPARAMETER", 305, "Turn");
        bool own = false;
        t.removeFrom(rotation, [&](int code, const std::string& v) {
            if (code == 100) own = v == "AcDbBlockRotationParameter";
            return own && code >= 1011 && code <= 1031;
        });
    });
    EXPECT_EQ(namesOf(propertiesOf(ref("V-101"))),
              (std::vector<std::string>{"State", "Mirror", "Reach", "Size Table"}));

    openEdited([](TagText& t) {
        // Every linear parameter's value record, found by its class's numbers.
        for (int n = 0; n < 4; ++n) {
            const std::size_t record = t.objectWith("XRECORD", 1071, " 18597260");
            t.removeFrom(record,
                         [](int code, const std::string&) { return code == 1071 || (code >= 10 && code <= 30); });
        }
    });
    EXPECT_EQ(namesOf(propertiesOf(ref("V-103"))),
              (std::vector<std::string>{"State", "Mirror", "Reach", "Turn", "Size Table"}));
    EXPECT_EQ(namesOf(propertiesOf(ref("V-105"))),
              (std::vector<std::string>{"State", "Mirror", "Reach", "Turn", "Size Table"}));
    // A direct reference reads no records: its default stands.
    const std::vector<Property> properties = propertiesOf(ref("V-101"));
    const Property* length = find(properties, "Length");
    ASSERT_NE(length, nullptr);
    EXPECT_DOUBLE_EQ(length->value().real(), 10.0);
}

// ---- real drawings

namespace {

std::unique_ptr<AcDbDatabase> openCorpus(const char* name) {
    auto r = openDrawingFile((tabro::testing::sharedPath("corpus/dxf") / name).string());
    EXPECT_TRUE(r) << r.error;
    return std::move(r.database);
}

const Property* ofKind(const std::vector<Property>& properties, Property::ParameterKind kind) {
    for (const Property& p : properties)
        if (p.parameterKind() == kind) return &p;
    return nullptr;
}

}  // namespace

// Twelve references through anonymous blocks of the "Section Callout" block, each
// turned as its data say (315 degrees: the end at (0.1326, -0.1326) from the base,
// the base angle along X).
TEST(DynBlockReferenceCorpus, SectionCalloutsTurnAsTheirDataSay) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    auto db = openCorpus("dxfparser_api-cw750-details.dxf");
    ASSERT_TRUE(db);
    const std::map<std::string, double> turns = {{"2204", 315}, {"222E", 315}, {"223B", 315}, {"224F", 315},
                                                 {"225C", 0},   {"2275", 180}, {"2281", 0},   {"228D", 180},
                                                 {"2299", 270}, {"22B6", 90},  {"22CF", 180}, {"32A4", 270}};
    std::size_t throughAnonymous = 0;
    for (AcDbObjectId id : everyReference(*db)) {
        AcDbDynBlockReference dyn(id);
        if (dyn.anonymousBlockTableRecord().isNull()) continue;
        ++throughAnonymous;
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(id.stub()->handle));
        SCOPED_TRACE(hex);
        EXPECT_TRUE(dyn.isDynamicBlock());
        const AcDbObjectId block = dyn.dynamicBlockTableRecord();
        ASSERT_TRUE(block == idOf(*db, "2DC") || block == idOf(*db, "E1C"));
        EXPECT_EQ(nameOf(block), block == idOf(*db, "2DC") ? "Section Callout" : "FG-11x17 Border");
        const std::vector<Property> p = propertiesOf(id);
        const Property* turn = ofKind(p, Property::kRotation);
        ASSERT_NE(turn, nullptr);
        EXPECT_EQ(turn->propertyName(), "Angle");
        ASSERT_TRUE(turns.count(hex));
        const double degrees = turn->value().real() * 180 / kPi;
        EXPECT_NEAR(std::remainder(degrees - turns.at(hex), 360.0), 0.0, 1e-9) << degrees;
        EXPECT_GE(turn->value().real(), 0.0);
        EXPECT_LT(turn->value().real(), 2 * kPi);
    }
    EXPECT_EQ(throughAnonymous, 12u);
    AcDbDynBlockReferencePropertyArray p;
    AcDbDynBlockReference(idOf(*db, "2204")).getBlockProperties(p);
    ASSERT_NE(ofKind(p, Property::kRotation), nullptr);
    EXPECT_NEAR(ofKind(p, Property::kRotation)->value().real(), 7 * kPi / 4, 1e-12);

    for (const char* block : {"2DC", "E1C"}) EXPECT_TRUE(AcDbDynBlockReference::isDynamicBlock(idOf(*db, block)));
    auto anonymousNames = [&](const char* block) {
        AcDbObjectIdArray ids;
        EXPECT_EQ(AcDbDynBlockTableRecord(idOf(*db, block)).getAnonymousBlockIds(ids), Acad::eOk);
        std::set<std::string> names;
        for (AcDbObjectId id : ids) names.insert(nameOf(id));
        return names;
    };
    EXPECT_EQ(anonymousNames("2DC"), (std::set<std::string>{"*U33", "*U34", "*U35", "*U36", "*U41"}));
    EXPECT_EQ(anonymousNames("E1C"), (std::set<std::string>{"*U37"}));
    EXPECT_EQ(db->openObjectCount(), 0u);
}

// The same dynamic block saved as R2018 and, by the same program, as R2000 and R2004
// (binary): there the block's record is anonymous itself and its name as the user
// knows it is kept in AcDbDynamicBlockTrueName, which gives the block its name back
// (the anonymous name still finds it).
TEST(DynBlockReferenceCorpus, TheSampleDynamicBlockInEveryRelease) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    for (const char* file : {"acadsharp_sample_AC1032_ascii.dxf", "acadsharp_sample_AC1015_ascii.dxf",
                             "acadsharp_sample_AC1018_binary.dxf"}) {
        SCOPED_TRACE(file);
        auto db = openCorpus(file);
        ASSERT_TRUE(db);
        const AcDbObjectId block = idOf(*db, "A7E");
        EXPECT_TRUE(AcDbDynBlockReference::isDynamicBlock(block));
        const std::vector<dxf::Tag> recordTags = hostdb::objectTags(db->store(), 0xA7E);
        const std::vector<dxf::Tag> trueName = hostdb::extendedDataOf(recordTags, "AcDbDynamicBlockTrueName");
        ASSERT_FALSE(trueName.empty());
        EXPECT_EQ(trueName[0].value, "my-dynamic-block");
        EXPECT_EQ(nameOf(block), "my-dynamic-block");
        {
            AcDbObjectPointer<AcDbBlockTableRecord> record(block, AcDb::kForRead);
            ASSERT_TRUE(record);
            EXPECT_FALSE(record->isAnonymous()) << "the dynamic block is offered under its name";
        }
        if (std::string(file).find("AC1032") == std::string::npos) {
            AcDbBlockTable* table = nullptr;
            ASSERT_EQ(db->getBlockTable(table, AcDb::kForRead), Acad::eOk);
            AcDbObjectId byOldName, byName;
            EXPECT_EQ(table->getAt("*U17", byOldName), Acad::eOk);
            EXPECT_EQ(table->getAt("my-dynamic-block", byName), Acad::eOk);
            EXPECT_EQ(byOldName, block);
            EXPECT_EQ(byName, block);
            (void)table->close();
        }
        struct Expected {
            const char* ref;
            const char* anonymous;
            double diameter;
        };
        for (const Expected& e : {Expected{"ABA", "*U18", 2.0}, Expected{"AC5", "*U19", 14.7}}) {
            SCOPED_TRACE(e.ref);
            const AcDbObjectId id = idOf(*db, e.ref);
            AcDbDynBlockReference dyn(id);
            EXPECT_TRUE(dyn.isDynamicBlock());
            EXPECT_EQ(dyn.dynamicBlockTableRecord(), block);
            EXPECT_EQ(nameOf(dyn.anonymousBlockTableRecord()), e.anonymous);
            AcGeScale3d scale;
            {
                AcDbObjectPointer<AcDbBlockReference> ref(id, AcDb::kForRead);
                ASSERT_TRUE(ref);
                scale = ref->scaleFactors();
            }
            EXPECT_EQ(scale, AcGeScale3d(1, 1, 1));
            const std::vector<Property> p = propertiesOf(id);
            ASSERT_EQ(namesOf(p), (std::vector<std::string>{"dynamic-diameter", "custom_visibility"}));
            EXPECT_EQ(p[0].parameterKind(), Property::kLinear);
            EXPECT_EQ(p[0].description(), "dinamic parameter for the circle diameter");
            EXPECT_NEAR(p[0].value().real(), e.diameter * scale.sx, 1e-3);
            EXPECT_EQ(p[1].parameterKind(), Property::kVisibility);
            EXPECT_EQ(p[1].description(), "description_visibility");
            EXPECT_EQ(p[1].value(), AcDbEvalVariant(std::string("visibility_state_default")));
        }
        EXPECT_EQ(db->openObjectCount(), 0u);
    }
}

// Every reference of every real drawing: asking never throws nor leaves anything
// open, and only the drawings with dynamic blocks have references of them.
TEST(DynBlockReferenceCorpus, EveryReferenceOfEveryDrawingAnswers) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    const std::set<std::string> withDynamicBlocks = {
        "acadsharp_sample_AC1015_ascii.dxf", "acadsharp_sample_AC1018_binary.dxf", "acadsharp_sample_AC1032_ascii.dxf",
        "dxfparser_api-cw750-details.dxf"};
    for (const fs::path& file : tabro::testing::corpusFiles("corpus/dxf", ".dxf")) {
        SCOPED_TRACE(file.filename().string());
        auto r = openDrawingFile(file.string());
        if (!r) continue;  // the corpus holds drawings refused on purpose too
        std::size_t dynamic = 0;
        for (AcDbObjectId id : everyReference(*r.database)) {
            AcDbDynBlockReference dyn(id);
            const bool isDynamic = dyn.isDynamicBlock();
            dynamic += isDynamic;
            EXPECT_FALSE(dyn.dynamicBlockTableRecord().isNull());
            // Every dynamic block of these drawings has parameters of the kinds reported.
            EXPECT_EQ(propertiesOf(id).empty(), !isDynamic);
            if (!isDynamic) {
                EXPECT_TRUE(dyn.anonymousBlockTableRecord().isNull());
            }
        }
        EXPECT_EQ(dynamic > 0, withDynamicBlocks.count(file.filename().string()) > 0) << dynamic;
        EXPECT_EQ(r.database->openObjectCount(), 0u);
    }
}
