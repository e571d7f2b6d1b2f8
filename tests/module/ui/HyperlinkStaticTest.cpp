// The link static: its setup when subclassed (text, font, size, tooltip, cursor),
// its colours and hovering, and what a click does when the target opens or not.
#include "module/base/ResourceStrings.h"
#include "module/ui/HyperlinkStatic.h"
#include "platform/MessageBox.h"
#include "tests/module/ModuleTestSupport.h"
#include "tests/module/ui/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using platform::ui::kCharWidth;
using platform::ui::kDefaultTextHeight;

class HyperlinkTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ASSERT_TRUE(page_.CreateEx(0, "", 0, RECT{20, 20, 420, 320}, nullptr, 0));
        platform::ui::clearBeeps();
    }
    void create(const char* text, DWORD style = 0, RECT rect = RECT{10, 40, 210, 70}) {
        ASSERT_TRUE(link_.Create(text, WS_CHILD | style, rect, &page_, 1010));
    }
    void click() { link_.sendCommand(STN_CLICKED); }

    CWnd page_;
    HyperlinkStatic link_;
};

TEST_F(HyperlinkTest, SubclassingMakesANotifyingUnderlinedLinkOfItsText) {
    create("Project page");
    EXPECT_TRUE(link_.GetStyle() & SS_NOTIFY);
    EXPECT_EQ(link_.url(), "Project page") << "without a target the text is the target";
    EXPECT_EQ(link_.GetFont(), &link_.font());
    LOGFONTA lf;
    ASSERT_TRUE(link_.font().GetLogFont(&lf));
    EXPECT_EQ(lf.lfUnderline, 1);
    LOGFONTA base;
    platform::ui::defaultGuiFont().GetLogFont(&base);
    EXPECT_STREQ(lf.lfFaceName, base.lfFaceName) << "a copy of the window's font";
    EXPECT_EQ(link_.rectInParent(), (RECT{10, 40, 10 + 12 * kCharWidth, 40 + kDefaultTextHeight}));
    EXPECT_EQ(link_.toolTip().textFor(&link_, HyperlinkStatic::kToolId), "Project page");
    EXPECT_EQ(link_.toolTip().toolRect(&link_, HyperlinkStatic::kToolId),
              (RECT{0, 0, 12 * kCharWidth, kDefaultTextHeight}));
}

TEST_F(HyperlinkTest, AnEmptyTextShowsTheTarget) {
    link_.setUrl("http://example.org/");
    create("");
    EXPECT_EQ(link_.windowText(), "http://example.org/");
    EXPECT_EQ(link_.rectInParent().Width(), 19 * kCharWidth);
}

TEST_F(HyperlinkTest, WithoutUnderlineOrFittingTheLinkKeepsThose) {
    link_.setUnderline(false);
    link_.setAdjustToFit(false);
    create("About");
    LOGFONTA lf;
    ASSERT_TRUE(link_.font().GetLogFont(&lf));
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(link_.rectInParent(), (RECT{10, 40, 210, 70}));
}

TEST_F(HyperlinkTest, ResizingFollowsTheAlignment) {
    // Text "abcd": 28 x 13 in a 200 x 30 box at (10, 40).
    struct Case {
        DWORD style;
        RECT expected;
    } cases[] = {
        {SS_LEFT, {10, 40, 38, 53}},
        {SS_RIGHT, {182, 40, 210, 53}},
        {SS_CENTER, {96, 40, 124, 53}},
        {SS_CENTERIMAGE, {10, 48, 38, 61}},
        {SS_RIGHT | SS_CENTERIMAGE, {182, 48, 210, 61}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        HyperlinkStatic link;
        ASSERT_TRUE(link.Create("abcd", WS_CHILD | c.style, RECT{10, 40, 210, 70}, &page_, 1011));
        EXPECT_EQ(link.rectInParent(), c.expected);
    }
}

TEST_F(HyperlinkTest, ANewTargetReachesTheTooltip) {
    create("Home");
    link_.setUrl("http://example.org/home");
    EXPECT_EQ(link_.toolTip().textFor(&link_, HyperlinkStatic::kToolId), "http://example.org/home");
    EXPECT_EQ(link_.windowText(), "Home");
}

TEST_F(HyperlinkTest, TheTextColourFollowsHoverThenVisited) {
    create("x");
    CDC dc;
    EXPECT_EQ(link_.sendCtlColor(dc, CTLCOLOR_STATIC), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(dc.GetTextColor(), RGB(0, 0, 238));
    EXPECT_EQ(dc.GetBkMode(), TRANSPARENT);
    link_.setVisited(true);
    link_.sendCtlColor(dc, CTLCOLOR_STATIC);
    EXPECT_EQ(dc.GetTextColor(), RGB(85, 26, 139));
    link_.OnMouseMove(0, POINT{1, 1});
    link_.sendCtlColor(dc, CTLCOLOR_STATIC);
    EXPECT_EQ(dc.GetTextColor(), GetSysColor(COLOR_HIGHLIGHT));
}

TEST_F(HyperlinkTest, HoveringCapturesTheMouseUntilItLeaves) {
    create("abcd");
    const unsigned painted = link_.updates();
    link_.OnMouseMove(0, POINT{2, 2});
    EXPECT_TRUE(link_.isHovering());
    EXPECT_EQ(GetCapture(), link_.m_hWnd);
    EXPECT_EQ(link_.updates(), painted + 1) << "repainted at once";
    link_.OnMouseMove(0, POINT{27, 12});
    EXPECT_TRUE(link_.isHovering());
    EXPECT_EQ(link_.updates(), painted + 1);
    link_.OnMouseMove(0, POINT{28, 5});
    EXPECT_FALSE(link_.isHovering());
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(link_.updates(), painted + 2);
    EXPECT_TRUE(link_.lastInvalidateErased());
}

TEST_F(HyperlinkTest, WithoutTheHelpProgramsCursorTheDefaultApplies) {
    create("x");
    EXPECT_EQ(link_.cursor(), nullptr);
    EXPECT_FALSE(link_.OnSetCursor(&link_, HTCLIENT, WM_MOUSEMOVE));
}

TEST_F(HyperlinkTest, MessagesAreRelayedToTheTooltip) {
    create("x");
    MSG msg{link_.m_hWnd, WM_MOUSEMOVE, 0, 0, 0};
    link_.PreTranslateMessage(&msg);
    link_.PreTranslateMessage(&msg);
    EXPECT_EQ(link_.toolTip().relayedCount(), 2u);
}

TEST_F(HyperlinkTest, AnOpenedLinkIsVisited) {
    create("x");
    link_.setUrl("http://example.org/");
    StandInOpener opener(0);
    const unsigned invalidated = link_.invalidations();
    click();
    EXPECT_TRUE(link_.isVisited());
    EXPECT_GT(link_.invalidations(), invalidated);
    EXPECT_EQ(opener.started, (std::vector<std::vector<std::string>>{{"xdg-open", "http://example.org/"}}));
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_TRUE(platform::ui::beeps().empty());
}

// The click's verdict for shell results around the success boundary, through a
// registered browser whose start reports the result.
TEST_F(HyperlinkTest, ResultsAboveThirtyTwoAreSuccessOthersBeepAndSayWhy) {
    struct Case {
        int startError;  // errno of the registered browser's start
        bool isOpened;
        std::string reason;
    } cases[] = {
        {0, true, ""},  // WinExec's 33
        {ENOENT, false, "The specified file was not found."},
        {ENOEXEC, false, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {ENOMEM, false, "The operating system is out\nof memory or resources."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startError);
        ScopedClassesRoot classes;
        ScopedClassesRoot::registerBrowser("browser \"%1\"");
        StandInOpener opener(3, c.startError);
        HyperlinkStatic link;
        ASSERT_TRUE(link.Create("x", WS_CHILD, RECT{}, &page_, 1012));
        link.setVisited(true);
        boxes_.clear();
        platform::ui::clearBeeps();
        link.sendCommand(STN_CLICKED);
        EXPECT_EQ(link.isVisited(), c.isOpened);
        if (c.isOpened) {
            EXPECT_EQ(boxes_.count(), 0u);
            continue;
        }
        EXPECT_EQ(platform::ui::beeps(), (std::vector<UINT>{MB_ICONEXCLAMATION}));
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, "Unable to open hyperlink:\n\n" + c.reason);
        EXPECT_EQ(boxes_.last().type & MB_ICONMASK, MB_ICONEXCLAMATION);
        EXPECT_EQ(boxes_.last().caption, text(tabro::kTextErrorCaption));
    }
}

TEST_F(HyperlinkTest, EveryTableResultHasItsText) {
    create("x");
    link_.setUrl("http://example.org/");
    // The opener's statuses reach the box as the shell's codes 2, 31 and 27.
    struct Case {
        int openerStatus;
        std::string reason;
    } cases[] = {
        {2, "The specified file was not found."},
        {3, "There is no application associated\nwith the given filename extension."},
        {1, "The filename association is\nincomplete or invalid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openerStatus);
        ScopedClassesRoot classes;  // no browser registered: the opener's result stands
        StandInOpener opener(c.openerStatus);
        boxes_.clear();
        click();
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, "Unable to open hyperlink:\n\n" + c.reason);
    }
}

// A link whose opening gives a chosen shell result.
class ScriptedLink : public HyperlinkStatic {
public:
    int result = 0;

protected:
    int openTarget(const std::string&, int) override { return result; }
};

TEST_F(HyperlinkTest, EachShellResultGetsItsMessage) {
    struct Case {
        int result;
        const char* reason;  // null: success
    } cases[] = {
        {33, nullptr},
        {42, nullptr},
        {32, "The specified dynamic-link library was not found."},
        {1, "Unknown Error (1) occurred."},
        {4, "Unknown Error (4) occurred."},
        {26, "A sharing violation occurred. "},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {-7, "Unknown Error (-7) occurred."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ScriptedLink link;
        ASSERT_TRUE(link.Create("x", WS_CHILD, RECT{}, &page_, 1013));
        link.result = c.result;
        boxes_.clear();
        platform::ui::clearBeeps();
        link.sendCommand(STN_CLICKED);
        EXPECT_EQ(link.isVisited(), c.reason == nullptr);
        if (!c.reason) {
            EXPECT_EQ(boxes_.count(), 0u);
            EXPECT_TRUE(platform::ui::beeps().empty());
            continue;
        }
        EXPECT_EQ(platform::ui::beeps().size(), 1u);
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, std::string("Unable to open hyperlink:\n\n") + c.reason);
    }
}

}  // namespace
