// The columns a reference yields for each export setting: order, titles, markers and
// value texts.
#include "module/layout/ExportRow.h"
#include "module/layout/WorkbookRecord.h"
#include "module/settings/Settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using tabro::AttributeRecord;
using tabro::ExportOptions;
using tabro::ExportRow;
using tabro::ExportTexts;
using tabro::PropertyColumn;
using tabro::ReferenceProperties;
using Texts = std::vector<std::string>;

ExportTexts sampleTexts() {
    ExportTexts t;
    t.blockNameTitle = "Block";
    t.parameterMarker = "#param";
    t.drawingTitle = "Drawing";
    t.drawingMarker = "#drawing";
    const char* names[] = {"X", "Y", "Z", "Rot", "SX", "SY", "SZ", "Layer", "Layout"};
    for (int c = 0; c < static_cast<int>(PropertyColumn::Count); ++c) {
        t.titles[c] = names[c];
        t.markers[c] = std::string("#") + names[c];
    }
    return t;
}

// Distances as "d<value>", angles as "a<value>", so that each column shows which
// formatter and which number it got.
struct TaggedNumbers final : tabro::NumberTexts {
    void distance(double v, std::string& out) const override { out = format('d', v); }
    void angle(double v, std::string& out) const override { out = format('a', v); }
    static std::string format(char kind, double v) {
        char b[64];
        std::snprintf(b, sizeof b, "%c%g", kind, v);
        return b;
    }
};

ExportOptions allOff() {
    ExportOptions o;
    o.BlockNames = o.XCoord = o.YCoord = o.ZCoord = o.Rotation = o.LayerNames = o.Scale = false;
    o.LayoutNames = o.Sort = o.IncludeConstant = o.JTSK = false;
    return o;
}

ReferenceProperties sampleReference() {
    ReferenceProperties r;
    r.handle = "2F4";
    r.x = 10;
    r.y = 20;
    r.z = 0;
    r.rotation = 1.5;
    r.scaleX = 2;
    r.scaleY = 3;
    r.scaleZ = 4;
    r.layer = "DOORS";
    return r;
}

std::vector<AttributeRecord> records(std::initializer_list<const char*> tags) {
    std::vector<AttributeRecord> out;
    for (const char* t : tags) out.push_back({t, std::string("P_") + t, std::string("v_") + t, false});
    return out;
}

struct Layout {
    Texts values, titles, markers;
};

Layout compose(const ExportOptions& o, std::vector<AttributeRecord> recs, const ReferenceProperties& ref,
               const std::string* layout = nullptr, const std::vector<std::string>* parameters = nullptr) {
    ExportRow row;
    // Compose twice into the same row: a reused row must not keep the first pass.
    auto texts = sampleTexts();
    tabro::composeExportRow(row, ref, "DOOR", recs, o, texts, TaggedNumbers(), layout, parameters);
    tabro::composeExportRow(row, ref, "DOOR", recs, o, texts, TaggedNumbers(), layout, parameters);
    EXPECT_EQ(row.titles.size(), row.markers.size());
    EXPECT_EQ(row.values.size(), row.titles.size() + 1);
    Layout composed{row.values.toVector(), row.titles.toVector(), row.markers.toVector()};
    // A block's later rows are composed without their header: the same values.
    ExportRow valuesOnly = row;
    valuesOnly.withTitles = false;
    tabro::composeExportRow(valuesOnly, ref, "DOOR", recs, o, texts, TaggedNumbers(), layout, parameters);
    EXPECT_EQ(valuesOnly.values.toVector(), composed.values);
    EXPECT_TRUE(valuesOnly.titles.empty());
    EXPECT_TRUE(valuesOnly.markers.empty());
    return composed;
}

TEST(ExportLayout, ColumnsForEachSetting) {
    const std::string layoutName = "Sheet A1";
    struct Case {
        const char* name;
        ExportOptions options;
        std::vector<AttributeRecord> recs;
        const std::string* layout;
        Layout expected;
    };
    auto with = [](auto set) {
        ExportOptions o = allOff();
        set(o);
        return o;
    };
    std::vector<AttributeRecord> withConstant = records({"A", "K", "B"});
    withConstant[1].isConstant = true;
    withConstant[1].text = "fixed";
    const Case cases[] = {
        {"block name only, no attributes",
         with([](ExportOptions& o) { o.BlockNames = true; }),
         {},
         nullptr,
         {{"2F4", "DOOR"}, {"Block"}, {""}}},
        {"X only", with([](ExportOptions& o) { o.XCoord = true; }), {}, nullptr, {{"2F4", "d10"}, {"X"}, {"#X"}}},
        {"attributes in definition order",
         with([](ExportOptions&) {}),
         records({"b", "A", "c"}),
         nullptr,
         {{"2F4", "v_b", "v_A", "v_c"}, {"b", "A", "c"}, {"", "", ""}}},
        {"sorted attributes",
         with([](ExportOptions& o) { o.Sort = true; }),
         records({"b", "A", "c"}),
         nullptr,
         {{"2F4", "v_A", "v_b", "v_c"}, {"A", "b", "c"}, {"", "", ""}}},
        {"constant left out",
         with([](ExportOptions&) {}),
         withConstant,
         nullptr,
         {{"2F4", "v_A", "v_B"}, {"A", "B"}, {"", ""}}},
        {"constant included with its definition text",
         with([](ExportOptions& o) { o.IncludeConstant = true; }),
         withConstant,
         nullptr,
         {{"2F4", "v_A", "fixed", "v_B"}, {"A", "K", "B"}, {"", "", ""}}},
        {"scale takes rotation's neighbourhood even without rotation",
         with([](ExportOptions& o) { o.XCoord = o.Scale = o.LayerNames = true; }),
         {},
         nullptr,
         {{"2F4", "d10", "d2", "d3", "d4", "DOORS"},
          {"X", "SX", "SY", "SZ", "Layer"},
          {"#X", "#SX", "#SY", "#SZ", "#Layer"}}},
        {"layout present",
         with([](ExportOptions& o) { o.LayoutNames = true; }),
         {},
         &layoutName,
         {{"2F4", "Sheet A1"}, {"Layout"}, {"#Layout"}}},
        {"layout absent leaves the column out",
         with([](ExportOptions& o) { o.LayoutNames = o.LayerNames = true; }),
         {},
         nullptr,
         {{"2F4", "DOORS"}, {"Layer"}, {"#Layer"}}},
        {"every column, in order",
         ExportOptions{.LayoutNames = true},
         records({"T"}),
         &layoutName,
         {{"2F4", "DOOR", "v_T", "d10", "d20", "d0", "a1.5", "d2", "d3", "d4", "DOORS", "Sheet A1"},
          {"Block", "T", "X", "Y", "Z", "Rot", "SX", "SY", "SZ", "Layer", "Layout"},
          {"", "", "#X", "#Y", "#Z", "#Rot", "#SX", "#SY", "#SZ", "#Layer", "#Layout"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Layout got = compose(c.options, c.recs, sampleReference(), c.layout);
        EXPECT_EQ(got.values, c.expected.values);
        EXPECT_EQ(got.titles, c.expected.titles);
        EXPECT_EQ(got.markers, c.expected.markers);
    }
}

TEST(ExportLayout, JtskNegatesNegativeCoordinatesOnly) {
    ExportOptions o = allOff();
    o.XCoord = o.YCoord = o.ZCoord = o.Rotation = o.Scale = true;
    ReferenceProperties ref = sampleReference();
    ref.x = -1200.5;
    ref.y = -830.25;
    ref.z = 0;
    ref.rotation = -0.5;
    ref.scaleX = -1;
    for (bool jtsk : {false, true}) {
        SCOPED_TRACE(jtsk ? "JTSK on" : "JTSK off");
        o.JTSK = jtsk;
        Layout got = compose(o, {}, ref);
        const Texts expected = jtsk ? Texts{"2F4", "d1200.5", "d830.25", "d0", "a-0.5", "d-1", "d3", "d4"}
                                    : Texts{"2F4", "d-1200.5", "d-830.25", "d0", "a-0.5", "d-1", "d3", "d4"};
        EXPECT_EQ(got.values, expected);
    }
}

TEST(ExportLayout, PromptRowCoversBlockNameAndAttributeColumns) {
    std::vector<AttributeRecord> recs = records({"b", "K", "A"});
    recs[1].isConstant = true;
    struct Case {
        const char* name;
        bool blockNames, sort, includeConstant;
        Texts expected;
    };
    const Case cases[] = {
        {"plain", true, false, false, {"", "P_b", "P_A"}},
        {"sorted", true, true, false, {"", "P_A", "P_b"}},
        {"no block name, constants", false, false, true, {"P_b", "P_K", "P_A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExportOptions o;  // every property column on: they get no prompt cell
        o.BlockNames = c.blockNames;
        o.Sort = c.sort;
        o.IncludeConstant = c.includeConstant;
        auto copy = recs;
        tabro::TextList titles, markers;
        tabro::buildPromptRow(titles, markers, copy, o);
        EXPECT_EQ(titles.toVector(), c.expected);
        EXPECT_EQ(markers.toVector(), Texts(c.expected.size()));
    }
}

TEST(ExportLayout, SortIgnoresCaseAndKeepsEqualTagsInOrder) {
    std::vector<AttributeRecord> recs = records({"note", "Area", "NOTE", "b"});
    recs[0].text = "first";
    recs[2].text = "second";
    tabro::sortAttributeRecords(recs);
    Texts tags, values;
    for (auto& r : recs) {
        tags.push_back(r.tag);
        values.push_back(r.text);
    }
    EXPECT_EQ(tags, (Texts{"Area", "b", "note", "NOTE"}));
    EXPECT_EQ(values[2], "first");
    EXPECT_EQ(values[3], "second");
}

}  // namespace

// A dynamic block's parameters follow every property column, the layout's too,
// each titled with its label and carrying the one parameter marker; a parameter
// the reference does not give leaves its cell empty, in its column.
TEST(ExportLayout, ParameterColumnsFollowThePropertyColumns) {
    ExportOptions o = allOff();
    o.BlockNames = o.XCoord = o.LayoutNames = true;
    ReferenceProperties ref = sampleReference();
    ref.parameters = {"Closed", "1"};
    const std::string layout = "Model";
    const std::vector<std::string> labels = {"State", "Mirror", "Length"};
    const Layout l = compose(o, records({"TAG"}), ref, &layout, &labels);
    EXPECT_EQ(l.titles, (Texts{"Block", "TAG", "X", "Layout", "State", "Mirror", "Length"}));
    EXPECT_EQ(l.markers, (Texts{"", "", "#X", "#Layout", "#param", "#param", "#param"}));
    EXPECT_EQ(l.values, (Texts{"2F4", "DOOR", "v_TAG", "d10", "Model", "Closed", "1", ""}));

    // A plain block's rows have no parameter columns.
    const Layout plain = compose(o, records({"TAG"}), sampleReference(), &layout);
    EXPECT_EQ(plain.titles.back(), "Layout");
}

// A register's rows name their drawing right after the block name (first without
// one), with a marker of its own, and the record keys the column by that marker.
TEST(ExportLayout, DrawingColumnFollowsTheBlockName) {
    const std::string drawing = "set/a.dxf";
    for (bool blockNames : {true, false}) {
        ExportOptions o = allOff();
        o.BlockNames = blockNames;
        o.LayerNames = true;
        ExportRow row;
        auto recs = records({"NO", "TITLE"});
        const ExportTexts texts = sampleTexts();
        tabro::composeExportRow(row, sampleReference(), "DOOR", recs, o, texts, TaggedNumbers(), nullptr, nullptr,
                                &drawing);
        const Texts head = blockNames ? Texts{"Block", "Drawing"} : Texts{"Drawing"};
        Texts titles = head;
        titles.insert(titles.end(), {"NO", "TITLE", "Layer"});
        EXPECT_EQ(row.titles.toVector(), titles);
        Texts markers(titles.size());
        markers[head.size() - 1] = "#drawing";
        markers.back() = "#Layer";
        EXPECT_EQ(row.markers.toVector(), markers);
        Texts values = {"2F4"};
        if (blockNames) values.push_back("DOOR");
        values.insert(values.end(), {drawing, "v_NO", "v_TITLE", "DOORS"});
        EXPECT_EQ(row.values.toVector(), values);
        const std::vector<std::string> keys = tabro::recordKeysOf(titles, markers, texts, blockNames);
        EXPECT_EQ(keys[head.size() - 1], "drawing");
        EXPECT_EQ(keys[head.size()], "@NO");
    }
}
