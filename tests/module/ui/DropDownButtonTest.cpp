// The drop-down button's drawing, checked by its geometry: pen, frame, text
// position, the six arrow lines and the focus rectangle.
#include "module/ui/DropDownButton.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Op = CDC::Operation;
using platform::ui::kCharWidth;
using platform::ui::kDefaultTextHeight;

class DropDownButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_.CreateEx(0, "", 0, RECT{0, 0, 300, 200}, nullptr, 0));
        ASSERT_TRUE(button_.Create("Settings", WS_CHILD | BS_OWNERDRAW, RECT{10, 150, 110, 174}, &dialog_, 1020));
    }
    void draw(UINT state) {
        DRAWITEMSTRUCT item{ODT_BUTTON,          1020, 0, ODA_DRAWENTIRE, state, button_.m_hWnd, dc_.GetSafeHdc(),
                            RECT{0, 0, 100, 24}, 0};
        button_.DrawItem(&item);
    }
    std::vector<Op> ofKind(Op::Kind kind) const {
        std::vector<Op> ops;
        for (const Op& op : dc_.operations())
            if (op.kind == kind) ops.push_back(op);
        return ops;
    }

    CWnd dialog_;
    DropDownButton button_;
    CDC dc_;
};

TEST_F(DropDownButtonTest, DrawsFrameTextAndArrowInOrder) {
    draw(0);
    const auto& ops = dc_.operations();
    ASSERT_EQ(ops.size(), 1u + 1u + 1u + 6u + 1u);
    EXPECT_EQ(ops.front().kind, Op::SelectPen);
    EXPECT_EQ(ops.front().colour, GetSysColor(COLOR_BTNTEXT));
    EXPECT_EQ(ops.front().penStyle, PS_SOLID);
    EXPECT_EQ(ops.front().penWidth, 0);
    EXPECT_EQ(ops[1].kind, Op::FrameControl);
    EXPECT_EQ(ops[1].type, DFC_BUTTON);
    EXPECT_EQ(ops[1].state, DFCS_BUTTONPUSH);
    EXPECT_EQ(ops[1].rect, (RECT{0, 0, 100, 24}));
    EXPECT_EQ(ops.back().kind, Op::SelectPen) << "the previous pen is put back";
    EXPECT_EQ(ops.back().colour, platform::ui::defaultPen().colour());
    EXPECT_EQ(dc_.currentPen(), &platform::ui::defaultPen());
}

TEST_F(DropDownButtonTest, TheTextSitsLeftOfTheMiddle) {
    draw(0);
    const auto texts = ofKind(Op::Text);
    ASSERT_EQ(texts.size(), 1u);
    const LONG width = 8 * kCharWidth;  // "Settings"
    const LONG left = 100 / 2 - width / 2 - 5, top = 24 / 2 - kDefaultTextHeight / 2;
    EXPECT_EQ(texts[0].text, "Settings");
    EXPECT_EQ(texts[0].rect, (RECT{left, top, left + width, top + kDefaultTextHeight}));
    EXPECT_TRUE(texts[0].type & DT_SINGLELINE);
}

TEST_F(DropDownButtonTest, TheArrowIsSixShrinkingLinesRightOfTheText) {
    draw(0);
    const auto lines = ofKind(Op::Line);
    ASSERT_EQ(lines.size(), 6u);
    const LONG x0 = 100 / 2 + (8 * kCharWidth) / 2 + 5, y0 = 24 / 2 - 3;
    for (LONG i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].from, (POINT{x0 + i, y0 + i}));
        EXPECT_EQ(lines[i].to, (POINT{x0 + 10 - i, y0 + i}));
    }
}

TEST_F(DropDownButtonTest, StateChoosesPenPushedFrameAndFocus) {
    struct Case {
        UINT state;
        COLORREF pen;
        UINT frame;
        bool hasFocusRect;
    } cases[] = {
        {ODS_DISABLED, GetSysColor(COLOR_GRAYTEXT), DFCS_BUTTONPUSH, false},
        {ODS_SELECTED, GetSysColor(COLOR_BTNTEXT), DFCS_BUTTONPUSH | DFCS_PUSHED, false},
        {ODS_FOCUS, GetSysColor(COLOR_BTNTEXT), DFCS_BUTTONPUSH, true},
        {ODS_SELECTED | ODS_FOCUS | ODS_DISABLED, GetSysColor(COLOR_GRAYTEXT), DFCS_BUTTONPUSH | DFCS_PUSHED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        dc_.clearOperations();
        draw(c.state);
        EXPECT_EQ(dc_.operations().front().colour, c.pen);
        for (const Op& line : ofKind(Op::Line)) {
            EXPECT_EQ(line.colour, c.pen);
        }
        EXPECT_EQ(ofKind(Op::FrameControl).at(0).state, c.frame);
        const auto focus = ofKind(Op::FocusRect);
        ASSERT_EQ(focus.size(), c.hasFocusRect ? 1u : 0u);
        if (c.hasFocusRect) {
            EXPECT_EQ(focus[0].rect, (RECT{3, 3, 97, 21}));
        }
    }
}

}  // namespace
