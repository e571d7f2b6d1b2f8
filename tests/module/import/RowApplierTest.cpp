// One imported row into the drawing: which steps run, what an unedited property
// cell leaves alone, and what a row that names nothing does.
#include "ImportDrawingFixture.h"

#include "host/db/AcUnits.h"
#include "module/base/ResourceStrings.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/import/ImportReport.h"
#include "module/import/RowApplier.h"
#include "module/spreadsheet/CellValue.h"

#include <cmath>
#include <numbers>

namespace tabro::testing {
namespace {

// What the sheet gives back for a distance that export wrote in the drawing's
// units and precision.
double asExported(double value) {
    char text[512];
    EXPECT_EQ(acdbRToS(value, -1, -1, text, sizeof text), RTNORM);
    return readNumber(text).value_or(0);
}

double angleAsExported(double radians) {
    char text[512];
    double back = 0;
    EXPECT_EQ(acdbAngToS(radians, -1, -1, text, sizeof text), RTNORM);
    EXPECT_EQ(acdbAngToF(text, -1, &back), RTNORM);
    return back;
}

// The row export would write for the reference as it stands, read back.
ImportRow unedited(const std::string& handle, const ReferenceState& state) {
    ImportRow row;
    row.handle = handle;
    for (const AttributeState& a : state.attributes) {
        row.tags.push_back(a.tag);
        row.values.push_back(a.text);
    }
    row.position[0] = asExported(state.position.x);
    row.position[1] = asExported(state.position.y);
    row.position[2] = asExported(state.position.z);
    row.positionCount = 3;
    row.scale[0] = asExported(state.scale.sx);
    row.scale[1] = asExported(state.scale.sy);
    row.scale[2] = asExported(state.scale.sz);
    row.scaleCount = 3;
    for (int i = 0; i < 3; ++i) {
        row.hasCoordinate[i] = row.hasScale[i] = true;
        row.coordinateColumn[i] = 2 + i;
        row.scaleColumn[i] = 6 + i;
    }
    row.rotation = angleAsExported(state.rotation);
    row.hasRotation = true;
    row.layer = state.layer;
    return row;
}

class RowApplierTest : public ImportDrawingTest {};

// Values that do not survive the sheet's precision: an import of the unedited row
// must keep them exactly, and must not move the attributes.
TEST_F(RowApplierTest, UneditedRowChangesNothing) {
    const std::string door = handleOf("D-1");
    ASSERT_TRUE(applyPosition(door, AcGePoint3d(10.123456789, -20.987654321, 0.000012345)));
    ASSERT_TRUE(applyScale(door, AcGeScale3d(1.000001, -2.3333333, 1)));
    ASSERT_TRUE(applyRotation(door, 0.123456789));
    const ReferenceState before = stateOf(door);
    ASSERT_NE(asExported(before.position.x), before.position.x);  // the text does round

    EXPECT_EQ(applyRow(unedited(door, before), false), RowOutcome::Applied);
    const ReferenceState after = stateOf(door);
    EXPECT_EQ(after.position, before.position);
    EXPECT_EQ(after.scale, before.scale);
    EXPECT_EQ(after.rotation, before.rotation);
    EXPECT_EQ(after.layer, before.layer);
    ASSERT_EQ(after.attributes.size(), before.attributes.size());
    for (std::size_t i = 0; i < before.attributes.size(); ++i) {
        SCOPED_TRACE(before.attributes[i].tag);
        EXPECT_EQ(after.attributes[i].text, before.attributes[i].text);
        EXPECT_EQ(after.attributes[i].position, before.attributes[i].position);
    }
}

TEST_F(RowApplierTest, EditedCellsChangeOnlyTheirProperty) {
    const std::string door = handleOf("D-2");  // at (100, 0, 0), rotated, scaled 2, on A-DOOR
    const ReferenceState before = stateOf(door);
    const struct {
        const char* name;
        void (*edit)(ImportRow&);
        void (*check)(const ReferenceState& before, const ReferenceState& after);
    } cases[] = {
        {"x", [](ImportRow& r) { r.position[0] = 150; },
         [](const ReferenceState& b, const ReferenceState& a) {
             EXPECT_EQ(a.position, AcGePoint3d(150, b.position.y, b.position.z));
             EXPECT_EQ(a.scale, b.scale);
         }},
        {"scale", [](ImportRow& r) { r.scale[1] = 4; },
         [](const ReferenceState& b, const ReferenceState& a) {
             EXPECT_EQ(a.scale, AcGeScale3d(b.scale.sx, 4, b.scale.sz));
         }},
        {"rotation", [](ImportRow& r) { r.rotation = std::numbers::pi; },
         [](const ReferenceState&, const ReferenceState& a) { EXPECT_DOUBLE_EQ(a.rotation, std::numbers::pi); }},
        {"layer", [](ImportRow& r) { r.layer = "A-GLAZ"; },
         [](const ReferenceState&, const ReferenceState& a) { EXPECT_EQ(a.layer, "A-GLAZ"); }},
        {"attribute", [](ImportRow& r) { r.values[1] = "1300"; },
         [](const ReferenceState&, const ReferenceState& a) {
             EXPECT_EQ(ImportDrawingTest::textOf(a, "WIDTH"), "1300");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReferenceState current = stateOf(door);
        ImportRow row = unedited(door, current);
        c.edit(row);
        EXPECT_EQ(applyRow(row, false), RowOutcome::Applied);
        c.check(current, stateOf(door));
    }
    (void)before;
}

TEST_F(RowApplierTest, IgnoredPropsLeaveEverythingButAttributes) {
    const std::string door = handleOf("D-1");
    const ReferenceState before = stateOf(door);
    ImportRow row = unedited(door, before);
    row.values[0] = "D-100";
    row.position[0] = 999;
    row.scale[0] = 5;
    row.rotation = 1;
    row.layer = "A-GLAZ";
    EXPECT_EQ(applyRow(row, true), RowOutcome::Applied);
    const ReferenceState after = stateOf(door);
    EXPECT_EQ(textOf(after, "NUMBER"), "D-100");
    EXPECT_EQ(after.position, before.position);
    EXPECT_EQ(after.scale, before.scale);
    EXPECT_EQ(after.rotation, before.rotation);
    EXPECT_EQ(after.layer, before.layer);
}

// Columns the sheet lacks, and values that are no usable numbers, leave the
// reference's property as it is.
TEST_F(RowApplierTest, MissingColumnsAndUnusableValuesLeavePropertiesAlone) {
    const std::string door = handleOf("D-2");
    const struct {
        const char* name;
        void (*edit)(ImportRow&);
    } cases[] = {
        {"no layer column", [](ImportRow& r) { r.layer.reset(); }},
        {"no rotation column",
         [](ImportRow& r) {
             r.hasRotation = false;
             r.rotation = 0;
         }},
        {"x cell unreadable",
         [](ImportRow& r) {
             r.hasCoordinate[0] = false;
             r.position[0] = 1;
         }},
        {"scale x cell unreadable",
         [](ImportRow& r) {
             r.hasScale[0] = false;
             r.scale[0] = 7;
         }},
        {"x not a number", [](ImportRow& r) { r.position[0] = std::nan(""); }},
        {"y infinite", [](ImportRow& r) { r.position[1] = INFINITY; }},
        {"zero scale", [](ImportRow& r) { r.scale[2] = 0; }},
        {"infinite scale", [](ImportRow& r) { r.scale[0] = -INFINITY; }},
        {"infinite rotation", [](ImportRow& r) { r.rotation = INFINITY; }},
        {"layer the drawing lacks", [](ImportRow& r) { r.layer = "NO-SUCH"; }},
    };
    const ReferenceState before = stateOf(door);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImportRow row = unedited(door, before);
        c.edit(row);
        applyRow(row, false);
        const ReferenceState after = stateOf(door);
        EXPECT_EQ(after.position, before.position);
        EXPECT_EQ(after.scale, before.scale);
        EXPECT_EQ(after.rotation, before.rotation);
        EXPECT_EQ(after.layer, before.layer);
    }
}

// Every cell that cannot be applied is reported with its place; the cells around it
// are applied, and nothing is written in its stead.
TEST_F(RowApplierTest, CellsThatCannotBeAppliedAreReported) {
    const std::string door = handleOf("D-2");
    const ReferenceState before = stateOf(door);
    ImportRow row = unedited(door, before);
    row.sheetRow = 7;
    row.valueColumns = {10, 11, 12};
    row.tags.push_back("NO_SUCH");
    row.values.push_back("x");
    row.valueColumns.push_back(13);
    // A tag the reference lacks under an empty cell is what export writes for it.
    row.tags.push_back("LACKED");
    row.values.push_back("");
    row.valueColumns.push_back(14);
    row.position[0] = 150;
    row.hasCoordinate[1] = false;
    row.problems.push_back(CellProblem{3, kTextReasonNotADistance, {}, true});
    row.layer = "NO-SUCH";
    row.layerColumn = 9;

    ImportReport report;
    report.beginSheet("DOOR");
    ApplyContext context;
    context.ignoreProps = false;
    context.report = &report;
    EXPECT_EQ(applyRow(row, context), RowOutcome::Partial);
    const ReferenceState after = stateOf(door);
    EXPECT_EQ(after.position, AcGePoint3d(150, before.position.y, before.position.z));
    EXPECT_EQ(after.layer, before.layer);
    EXPECT_EQ(report.changed, 1);
    EXPECT_EQ(report.notApplied, 3);
    std::vector<std::string> places;
    for (const ImportReport::Listed& l : report.listed())
        places.push_back(l.sheet + "!" + cellAddress(l.row, l.column) + " " + std::to_string(l.reason));
    EXPECT_EQ(places, (std::vector<std::string>{"DOOR!C7 " + std::to_string(kTextReasonNotADistance),
                                                "DOOR!M7 " + std::to_string(kTextReasonNoSuchAttribute),
                                                "DOOR!I7 " + std::to_string(kTextReasonNoSuchLayer)}));

    // With properties ignored, property cells are not looked at at all.
    ImportReport quiet;
    context.ignoreProps = true;
    context.report = &quiet;
    row.tags.resize(3);
    row.values.resize(3);
    applyRow(row, context);
    EXPECT_EQ(quiet.notApplied, 0);
    EXPECT_EQ(quiet.changed, 0);
}

// Survey coordinates stand in the sheet as magnitudes of the drawing's negative
// ones: an unedited cell changes nothing, an edited one goes back negative.
TEST_F(RowApplierTest, SurveyCoordinatesGoBackWithTheirSign) {
    const std::string door = handleOf("D-1");
    ASSERT_TRUE(applyPosition(door, AcGePoint3d(-1200.123456, -830.25, 5)));
    const ReferenceState before = stateOf(door);
    ImportRow row = unedited(door, before);
    row.position[0] = asExported(1200.123456);
    row.position[1] = asExported(830.25);
    ApplyContext context;
    context.ignoreProps = false;
    context.jtsk = true;
    applyRow(row, context);
    EXPECT_EQ(stateOf(door).position, before.position);

    row.position[1] = 840.5;
    applyRow(row, context);
    EXPECT_EQ(stateOf(door).position, AcGePoint3d(before.position.x, -840.5, 5));
}

// A sheet exported without the text format holds "0900" as the number 900: that
// cell is the attribute unedited. Another number is an edit.
TEST_F(RowApplierTest, NumberCellsEqualToTheTextAreUnedited) {
    const std::string door = handleOf("D-1");
    ASSERT_TRUE(applyAttributes(door, std::vector<std::string>{"WIDTH"}, std::vector<std::string>{" 0900"}));
    ImportRow row;
    row.handle = door;
    row.tags = {"WIDTH"};
    row.values = {"900"};
    row.valueNumbers = {900};
    EXPECT_EQ(applyRow(row, true), RowOutcome::Applied);
    EXPECT_EQ(textOf(stateOf(door), "WIDTH"), " 0900");
    row.values = {"901"};
    row.valueNumbers = {901};
    applyRow(row, true);
    EXPECT_EQ(textOf(stateOf(door), "WIDTH"), "901");
}

TEST_F(RowApplierTest, OutcomeSaysWhetherTheRowFoundItsReference) {
    const std::string door = handleOf("D-3");  // lacks FIRE
    ImportRow row;
    row.tags = {"NUMBER", "FIRE"};
    row.values = {"D-30", "EI30"};
    const struct {
        std::string handle;
        RowOutcome outcome;
    } cases[] = {
        {door, RowOutcome::Partial},
        {handleOf(kOtherEntity), RowOutcome::NotAReference},
        {"FFFFFFF", RowOutcome::NotFound},
        {"", RowOutcome::NotFound},
        {"not a handle", RowOutcome::NotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handle);
        row.handle = c.handle;
        EXPECT_EQ(applyRow(row, false), c.outcome);
    }
    EXPECT_EQ(textOf(stateOf(door), "NUMBER"), "D-30");
}

// A row naming an entity that is no block reference: only its layer can change.
TEST_F(RowApplierTest, OtherEntitiesTakeNothing) {
    // A workbook of another drawing names lines and attribute definitions by handle:
    // a row is a block reference's, and nothing of it reaches anything else.
    const std::string line = handleOf(kOtherEntity);
    const std::string layerBefore = stateOf(line).layer;
    ImportRow row;
    row.handle = line;
    row.tags = {"NUMBER"};
    row.values = {"x"};
    row.positionCount = 3;
    row.position[0] = 5;
    row.layer = "A-GLAZ";
    EXPECT_EQ(applyRow(row, false), RowOutcome::NotAReference);
    EXPECT_EQ(stateOf(line).layer, layerBefore);
    EXPECT_NE(layerBefore, "A-GLAZ");
}

}  // namespace
}  // namespace tabro::testing
