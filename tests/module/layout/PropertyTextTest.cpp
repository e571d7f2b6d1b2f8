// The text form of property values both ways: what export writes in each unit
// format reads back as the unedited value, exactly; what a user types instead is
// taken as typed; survey coordinates keep their sign; header cells mean what the
// layout says.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcUnits.h"
#include "module/layout/PropertyText.h"
#include "module/layout/SheetLayout.h"
#include "module/spreadsheet/CellValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace tabro {
namespace {

class PropertyTextTest : public ::testing::Test {
protected:
    AcDbDatabase drawing_;
    WorkingDatabaseScope scope_{&drawing_};
};

TEST_F(PropertyTextTest, ExportedDistancesReadBackUnedited) {
    const double values[] = {0, 1, -1200.123456789, 830.25, 1e-7, 123456.789, -0.5, 1.0 / 3};
    for (int units = 1; units <= 5; ++units) {
        for (int precision : {0, 4, 8}) {
            ASSERT_EQ(drawing_.setLunits(units), Acad::eOk);
            ASSERT_EQ(drawing_.setLuprec(precision), Acad::eOk);
            for (double v : values) {
                SCOPED_TRACE(testing::Message() << "units " << units << ", precision " << precision << ", " << v);
                std::string text;
                drawingNumberTexts().distance(v, text);
                double cell = 0;
                ASSERT_EQ(readDistanceText(text, cell), CellNumber::Number) << text;
                EXPECT_EQ(distanceFromCell(cell, v), v) << text;
                // The same cell under another value whose text differs is an edit:
                // the cell's value is taken.
                std::string other;
                drawingNumberTexts().distance(v + 1000, other);
                if (other != text) {
                    EXPECT_EQ(distanceFromCell(cell, v + 1000), cell);
                }
            }
        }
    }
}

TEST_F(PropertyTextTest, ExportedAnglesReadBackUnedited) {
    const double values[] = {0, 0.123456789, std::numbers::pi / 2, 5.5, 2 * std::numbers::pi - 1e-9};
    for (int units = 0; units <= 4; ++units) {
        ASSERT_EQ(drawing_.setAunits(units), Acad::eOk);
        for (double v : values) {
            SCOPED_TRACE(testing::Message() << "units " << units << ", " << v);
            std::string text;
            drawingNumberTexts().angle(v, text);
            double cell = 0;
            ASSERT_EQ(acdbAngToF(text.c_str(), -1, &cell), RTNORM) << text;
            EXPECT_EQ(angleFromCell(cell, v), v) << text;
        }
    }
}

TEST_F(PropertyTextTest, SurveyCoordinatesKeepTheirSign) {
    EXPECT_EQ(surveyCoordinate(-1200.5, true), 1200.5);
    EXPECT_EQ(surveyCoordinate(-1200.5, false), -1200.5);
    EXPECT_EQ(surveyCoordinate(830.25, true), 830.25);
    const double current = -1200.123456789;
    std::string text;
    drawingNumberTexts().distance(surveyCoordinate(current, true), text);
    double cell = 0;
    ASSERT_EQ(readDistanceText(text, cell), CellNumber::Number);
    EXPECT_EQ(coordinateFromCell(cell, current, true), current) << "unedited";
    EXPECT_EQ(coordinateFromCell(1300, current, true), -1300) << "edited";
    EXPECT_EQ(coordinateFromCell(1300, 5, true), 1300) << "a positive coordinate is no survey one";
    EXPECT_EQ(coordinateFromCell(1300, current, false), 1300);
}

TEST_F(PropertyTextTest, CellsReadAsDistancesOnlyWhole) {
    const struct {
        platform::Variant value;
        CellNumber state;
        double number;
    } cases[] = {
        {platform::Variant::r8(12.5), CellNumber::Number, 12.5},
        {platform::Variant::i4(-3), CellNumber::Number, -3},
        {platform::Variant::bstr(u" 12.5 "), CellNumber::Number, 12.5},
        {platform::Variant::bstr(u"12,5"), CellNumber::Unreadable, 0},
        {platform::Variant::bstr(u"n/a"), CellNumber::Unreadable, 0},
        {platform::Variant::bstr(u"1e999"), CellNumber::Unreadable, 0},
        {platform::Variant::r8(INFINITY), CellNumber::Unreadable, 0},
        {platform::Variant::boolean(true), CellNumber::Unreadable, 0},
        {platform::Variant(), CellNumber::Empty, 0},
        {platform::Variant::bstr(u""), CellNumber::Empty, 0},
        {platform::Variant::error(static_cast<SCODE>(0x800A07FAu)), CellNumber::NoValue, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toMultibyte(toText(c.value.vt() == VT_ERROR ? platform::Variant::bstr(u"#N/A") : c.value)));
        double out = 0;
        EXPECT_EQ(readDistanceCell(c.value, out), c.state);
        if (c.state == CellNumber::Number) {
            EXPECT_EQ(out, c.number);
        }
    }
}

TEST(SheetLayout, HeaderCellsMeanWhatTheLayoutSays) {
    ImportMarkers m;
    m.x = u"#x";
    m.scaleY = u"#sy";
    m.layer = u"#layer";
    m.layout = u"#layout";
    m.parameter = u"#parameter";
    m.blockNameTitle = u"Block name";
    using Role = std::optional<ColumnRole>;
    const struct {
        std::optional<std::u16string> comment;
        std::u16string title;
        Role role;
    } cases[] = {
        {u"#x", u"X", ColumnRole::X},
        {u"#x", u"", ColumnRole::X},
        {u"#sy", u"Scale Y", ColumnRole::Scale},
        {u"#layer", u"Layer", ColumnRole::Layer},
        {u"#layout", u"Layout", ColumnRole::Layout},
        {u"#parameter", u"Visibility", ColumnRole::Parameter},
        {u"#parameter", u"", ColumnRole::Parameter},
        {u"#X", u"X", std::nullopt},
        {u"a note", u"NUMBER", std::nullopt},
        {std::nullopt, u"NUMBER", ColumnRole::Attribute},
        {std::nullopt, u"Block name", ColumnRole::BlockName},
        {std::nullopt, u"block name", ColumnRole::Attribute},
        {std::nullopt, u"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toMultibyte(c.title));
        EXPECT_EQ(roleOfHeaderCell(c.comment, c.title, m), c.role);
    }
    EXPECT_TRUE(m.isMarker(u"#layout"));
    EXPECT_TRUE(m.isMarker(u"#parameter")) << "a parameter header's comment is no handle";
    EXPECT_FALSE(m.isMarker(u"#y")) << "an empty marker matches nothing";
}

}  // namespace
}  // namespace tabro
