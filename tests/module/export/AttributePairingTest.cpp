// Laying a reference's attributes over its definition's records: by position while
// the reference follows its definition, by tag where it no longer does.
#include "module/drawing/TagText.h"
#include "module/export/AttributeRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tabro::AttributeRecord;
using tabro::ReferenceAttribute;

std::vector<AttributeRecord> definition(std::initializer_list<const char*> tags) {
    std::vector<AttributeRecord> records;
    for (const char* t : tags) records.push_back({t, std::string("prompt ") + t, std::string("def ") + t, false});
    return records;
}

ReferenceAttribute att(const char* tag, const char* text) { return {tag, text ? text : "", text != nullptr}; }

std::vector<std::string> texts(const std::vector<AttributeRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.text);
    return out;
}

using Texts = std::vector<std::string>;

TEST(AttributePairing, OverlaysTextsByPositionAndTag) {
    struct Case {
        const char* name;
        std::vector<AttributeRecord> records;
        std::vector<ReferenceAttribute> attributes;
        Texts expected;
    };
    const Case cases[] = {
        {"in step", definition({"A", "B", "C"}), {att("A", "1"), att("B", "2"), att("C", "3")}, {"1", "2", "3"}},
        {"tags differ only in case",
         definition({"Width", "FIRE"}),
         {att("WIDTH", "90"), att("fire", "EI30")},
         {"90", "EI30"}},
        {"missing last attribute shows nothing",
         definition({"A", "B", "C"}),
         {att("A", "1"), att("B", "2")},
         {"1", "2", ""}},
        {"extra attribute at the end is ignored",
         definition({"A", "B"}),
         {att("A", "1"), att("B", "2"), att("X", "9")},
         {"1", "2"}},
        {"no attributes", definition({"A"}), {}, {""}},
        {"attribute without text leaves the default",
         definition({"A", "B"}),
         {att("A", nullptr), att("B", "2")},
         {"def A", "2"}},
        {"reordered definition pairs by tag", definition({"B", "A"}), {att("A", "1"), att("B", "2")}, {"2", "1"}},
        {"attribute inserted in the middle",
         definition({"A", "B", "C"}),
         {att("A", "1"), att("X", "9"), att("B", "2"), att("C", "3")},
         {"1", "2", "3"}},
        {"attribute of a removed definition is dropped",
         definition({"A", "C"}),
         {att("A", "1"), att("B", "2"), att("C", "3")},
         {"1", "3"}},
        {"unknown tag in place of a missing one is not written under it",
         definition({"A", "B"}),
         {att("A", "1"), att("Z", "9")},
         {"1", ""}},
        // The k-th attribute of a tag goes to the k-th record of it, whatever their
        // places: import pairs the k-th column with the k-th attribute again.
        {"duplicate tags ignoring case",
         definition({"NOTE", "Note", "X"}),
         {att("X", "x"), att("note", "first"), att("NOTE", "second")},
         {"first", "second", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto records = c.records;
        tabro::overlayReferenceAttributes(records, c.attributes);
        EXPECT_EQ(texts(records), c.expected);
    }
}

// Attributes the definition does not declare are handed back, in stored order, for
// columns of their own.
TEST(AttributePairing, UndeclaredAttributesAreHandedBack) {
    auto records = definition({"NOTE", "A"});
    const std::vector<ReferenceAttribute> attributes = {att("NOTE", "n1"), att("X", "x"), att("A", "a"),
                                                        att("note", "n2"), att("LINE2", "l")};
    std::vector<std::size_t> unplaced;
    tabro::overlayReferenceAttributes(records, attributes, &unplaced);
    EXPECT_EQ(texts(records), (Texts{"n1", "a"}));
    EXPECT_EQ(unplaced, (std::vector<std::size_t>{1, 3, 4}));
}

TEST(AttributePairing, ConstantRecordsKeepTheDefinitionText) {
    for (bool inStep : {true, false}) {
        SCOPED_TRACE(inStep ? "in step" : "out of step");
        auto records = definition({"K", "A"});
        records[0].isConstant = true;
        std::vector<ReferenceAttribute> attributes =
            inStep ? std::vector{att("K", "changed"), att("A", "1")} : std::vector{att("A", "1"), att("K", "changed")};
        tabro::overlayReferenceAttributes(records, attributes);
        EXPECT_EQ(texts(records), (Texts{"def K", "1"}));
    }
}

TEST(AttributePairing, SameTagIgnoresCaseOnly) {
    EXPECT_TRUE(tabro::sameTagText("door_no", "DOOR_NO"));
    EXPECT_FALSE(tabro::sameTagText("DOOR_NO", "DOOR_NO "));
    EXPECT_FALSE(tabro::sameTagText("A", "B"));
}

}  // namespace
