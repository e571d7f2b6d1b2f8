// Laying a reference's attributes over its definition's records: by position while
// the reference follows its definition, by tag where it no longer does.
#include "module/drawing/AttributeRecord.h"
#include "module/drawing/TagText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
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

// Two tags are the same text exactly when their keys are the same bytes: the keys
// find in a hash what the comparison finds by walking, multibyte text and bytes
// that do not decode included.
TEST(AttributePairing, SameTagIgnoresCaseOnlyAndItsKeyAgrees) {
    struct Utf8Locale {
        std::string saved = std::setlocale(LC_CTYPE, nullptr);
        bool isSet = std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "en_US.UTF-8");
        ~Utf8Locale() { std::setlocale(LC_CTYPE, saved.c_str()); }
    } locale;
    struct Case {
        const char* a;
        const char* b;
        bool same;
        bool needsUtf8;
    } cases[] = {
        {"door_no", "DOOR_NO", true, false},
        {"DOOR_NO", "DOOR_NO ", false, false},
        {"A", "B", false, false},
        {"", "", true, false},
        {"\xC4\x8C"
         "erpadlo",
         "\xC4\x8D"
         "ERPADLO",
         true, true},  // accented capital and small
        {"\xC4\x8C"
         "A",
         "\xC4\x8C"
         "b",
         false, true},
        {"\xE2\x84\xAA", "k", true, true},  // the Kelvin sign folds to k
        {"x\xFF", "X\xFF", true, false},    // a byte that does not decode
        {"x\xFF", "x\xFE", false, false},
        {"x\xFF", "x\xEF\xBF\xBD", false, false},  // is not U+FFFD
        {"\xC3", "\xC3\xA9", false, false},        // a cut sequence
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        if (c.needsUtf8 && !locale.isSet) continue;
        EXPECT_EQ(tabro::sameTagText(c.a, c.b), c.same);
        EXPECT_EQ(tabro::sameTagText(c.b, c.a), c.same);
        EXPECT_EQ(tabro::tagKey(c.a) == tabro::tagKey(c.b), c.same);
    }
}

// A reference of two hundred thousand attributes, in step with its definition or
// not, is paired in time that grows with the attributes, not with their square.
TEST(AttributePairing, ManyAttributesArePairedQuickly) {
    constexpr int kCount = 200000;
    for (bool inStep : {true, false}) {
        SCOPED_TRACE(inStep ? "in step" : "out of step");
        std::vector<AttributeRecord> records;
        std::vector<ReferenceAttribute> attributes;
        for (int i = 0; i < kCount; ++i) {
            const int held = inStep ? i : kCount - 1 - i;
            records.push_back({"T" + std::to_string(i), "", "", false});
            attributes.push_back({"t" + std::to_string(held), std::to_string(held), true});
        }
        attributes.push_back({"EXTRA", "e", true});
        std::vector<std::size_t> unplaced;
        const auto start = std::chrono::steady_clock::now();
        tabro::overlayReferenceAttributes(records, attributes, &unplaced);
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (int i : {0, 1, kCount / 2, kCount - 1}) EXPECT_EQ(records[i].text, std::to_string(i));
        EXPECT_EQ(unplaced, (std::vector<std::size_t>{static_cast<std::size_t>(kCount)}));
        // A second at most; looking back over the records for each attribute took
        // minutes.
        EXPECT_LT(seconds, 10.0);
    }
}

}  // namespace
