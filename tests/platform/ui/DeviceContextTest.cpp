// The recording device context: the text metric every drawing test relies on, and
// what each drawing call leaves in the record.
#include "platform/ui/DeviceContext.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using platform::ui::kCharWidth;
using platform::ui::kDefaultTextHeight;

TEST(DeviceContextTest, TextIsMeasuredPerCharacterInTheSelectedFont) {
    CDC dc;
    EXPECT_EQ(dc.GetTextExtent("Options"), (SIZE{7 * kCharWidth, kDefaultTextHeight}));
    EXPECT_EQ(dc.GetTextExtent(""), (SIZE{0, kDefaultTextHeight}));
    // Two bytes, one character.
    EXPECT_EQ(dc.GetTextExtent("\xC3\xA9").cx, kCharWidth);

    LOGFONTA lf;
    lf.lfHeight = -20;
    CFont big;
    ASSERT_TRUE(big.CreateFontIndirect(&lf));
    CFont* previous = dc.SelectObject(&big);
    EXPECT_EQ(previous, &platform::ui::defaultGuiFont());
    EXPECT_EQ(dc.GetTextExtent("ab"), (SIZE{2 * kCharWidth, 20}));
}

TEST(DeviceContextTest, CalcRectMeasuresWithoutDrawing) {
    CDC dc;
    RECT r{10, 20, 0, 0};
    EXPECT_EQ(dc.DrawText("abc", &r, DT_SINGLELINE | DT_CALCRECT), kDefaultTextHeight);
    EXPECT_EQ(r, (RECT{10, 20, 10 + 3 * kCharWidth, 20 + kDefaultTextHeight}));
    EXPECT_TRUE(dc.operations().empty());

    dc.SetTextColor(RGB(1, 2, 3));
    dc.DrawText("abc", &r, DT_SINGLELINE);
    ASSERT_EQ(dc.operations().size(), 1u);
    const CDC::Operation& op = dc.operations()[0];
    EXPECT_EQ(op.kind, CDC::Operation::Text);
    EXPECT_EQ(op.text, "abc");
    EXPECT_EQ(op.rect, r);
    EXPECT_EQ(op.colour, RGB(1, 2, 3));
    EXPECT_EQ(op.type, DT_SINGLELINE);
}

TEST(DeviceContextTest, LinesRunFromTheCurrentPositionInThePensColour) {
    CDC dc;
    CPen red(PS_SOLID, 0, RGB(255, 0, 0));
    CPen* old = dc.SelectObject(&red);
    EXPECT_EQ(old, &platform::ui::defaultPen());
    dc.MoveTo(1, 2);
    dc.LineTo(5, 2);
    dc.LineTo(5, 9);  // continues from where the last line ended
    dc.SelectObject(old);
    ASSERT_EQ(dc.operations().size(), 4u);
    EXPECT_EQ(dc.operations()[0].kind, CDC::Operation::SelectPen);
    EXPECT_EQ(dc.operations()[0].colour, RGB(255, 0, 0));
    EXPECT_EQ(dc.operations()[1].from, (POINT{1, 2}));
    EXPECT_EQ(dc.operations()[1].to, (POINT{5, 2}));
    EXPECT_EQ(dc.operations()[1].colour, RGB(255, 0, 0));
    EXPECT_EQ(dc.operations()[2].from, (POINT{5, 2}));
    EXPECT_EQ(dc.operations()[3].colour, RGB(0, 0, 0));
}

TEST(DeviceContextTest, FrameControlsGoThroughTheHandle) {
    CDC dc;
    RECT r{0, 0, 80, 24};
    EXPECT_TRUE(DrawFrameControl(dc.GetSafeHdc(), &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_PUSHED));
    EXPECT_FALSE(DrawFrameControl(nullptr, &r, DFC_BUTTON, DFCS_BUTTONPUSH));
    ASSERT_EQ(dc.operations().size(), 1u);
    EXPECT_EQ(dc.operations()[0].state, DFCS_BUTTONPUSH | DFCS_PUSHED);
    EXPECT_EQ(dc.operations()[0].rect, r);
}

TEST(GdiObjectTest, AnObjectIsCreatedOnceAndDeletedOnce) {
    CFont font;
    LOGFONTA out;
    EXPECT_FALSE(font.GetLogFont(&out));
    LOGFONTA lf;
    lf.lfUnderline = 1;
    std::strcpy(lf.lfFaceName, "Face");
    ASSERT_TRUE(font.CreateFontIndirect(&lf));
    EXPECT_FALSE(font.CreateFontIndirect(&lf)) << "a second create would leak the first object";
    ASSERT_TRUE(font.GetLogFont(&out));
    EXPECT_EQ(out.lfUnderline, 1);
    EXPECT_STREQ(out.lfFaceName, "Face");
    EXPECT_TRUE(font.DeleteObject());
    EXPECT_FALSE(font.DeleteObject());
}

}  // namespace
