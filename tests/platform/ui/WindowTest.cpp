// Windows as state: geometry through the parent chain, the road of reflected
// notifications, capture, and the spin button's arrow step.
#include "platform/ui/SpinButton.h"
#include "platform/ui/Window.h"

#include "platform/Module.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(WindowTest, RectanglesConvertThroughEveryParent) {
    CWnd dialog, page;
    CStatic label;
    ASSERT_TRUE(dialog.CreateEx(0, "Dialog", 0, RECT{100, 50, 500, 400}, nullptr, 0));
    ASSERT_TRUE(page.CreateEx(0, "", WS_CHILD, RECT{10, 30, 390, 340}, &dialog, 1));
    ASSERT_TRUE(label.Create("x", WS_CHILD, RECT{5, 6, 65, 26}, &page, 2));
    RECT screen;
    label.GetWindowRect(&screen);
    EXPECT_EQ(screen, (RECT{115, 86, 175, 106}));
    page.ScreenToClient(&screen);
    EXPECT_EQ(screen, (RECT{5, 6, 65, 26}));
    RECT client;
    label.GetClientRect(&client);
    EXPECT_EQ(client, (RECT{0, 0, 60, 20}));
    EXPECT_EQ(page.GetDlgItem(2), &label);
    EXPECT_EQ(CWnd::FromHandle(label.m_hWnd), &label);
    EXPECT_FALSE(label.Create("again", 0, RECT{}, &page, 3));
}

TEST(WindowTest, SetWindowPosKeepsWhatItsFlagsName) {
    CWnd w;
    w.CreateEx(0, "", 0, RECT{10, 10, 50, 30}, nullptr, 0);
    w.SetWindowPos(nullptr, 0, 0, 100, 100, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(w.rectInParent(), (RECT{10, 10, 110, 110}));
    w.SetWindowPos(nullptr, 1, 2, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    EXPECT_EQ(w.rectInParent(), (RECT{1, 2, 101, 102}));
    w.SetWindowPos(nullptr, 1, 2, -5, 3, SWP_NOZORDER);
    EXPECT_EQ(w.rectInParent(), (RECT{1, 2, 1, 5})) << "a negative size is none";
}

TEST(WindowTest, DestroyingAWindowDestroysItsChildrenAndReleasesTheCapture) {
    auto parent = std::make_unique<CWnd>();
    CWnd child;
    parent->CreateEx(0, "", 0, RECT{0, 0, 10, 10}, nullptr, 0);
    child.CreateEx(0, "", WS_CHILD, RECT{0, 0, 5, 5}, parent.get(), 7);
    child.SetCapture();
    EXPECT_EQ(GetCapture(), child.m_hWnd);
    HWND handle = child.m_hWnd;
    parent.reset();
    EXPECT_EQ(child.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandle(handle), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST(WindowTest, EnablingReportsThePreviousState) {
    CButton b;
    b.Create("OK", WS_CHILD | WS_DISABLED, RECT{}, nullptr, 1);
    EXPECT_FALSE(b.IsWindowEnabled());
    EXPECT_TRUE(b.EnableWindow(TRUE)) << "it was disabled";
    EXPECT_TRUE(b.IsWindowEnabled());
    EXPECT_FALSE(b.EnableWindow(FALSE));
    EXPECT_FALSE(b.IsWindowEnabled());
}

class RecordingParent : public CWnd {
public:
    BOOL OnNotify(UINT id, NMHDR* header, LRESULT* result) override {
        notified = id;
        code = header->code;
        *result = answer;
        return TRUE;
    }
    BOOL OnCommand(UINT id, UINT c) override {
        commanded = id;
        code = c;
        return TRUE;
    }
    UINT notified = 0, commanded = 0, code = 0xFFFF;
    LRESULT answer = 0;
};

class RefusingSpin : public CSpinButtonCtrl {
public:
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* result) override {
        if (!isRefusing) return FALSE;
        *result = header->code == UDN_DELTAPOS ? 1 : 0;
        return TRUE;
    }
    bool isRefusing = false;
};

TEST(SpinButtonTest, AStepThatNobodyHandlesMovesWithinTheRange) {
    RecordingParent parent;
    parent.CreateEx(0, "", 0, RECT{0, 0, 100, 100}, nullptr, 0);
    CSpinButtonCtrl spin;
    spin.Create(WS_CHILD, RECT{}, &parent, 42);
    spin.SetRange32(0, 3);
    spin.SetPos32(2);
    EXPECT_TRUE(spin.stepArrow(+1));
    EXPECT_EQ(parent.notified, 42u);
    EXPECT_EQ(parent.code, UDN_DELTAPOS);
    EXPECT_EQ(spin.GetPos32(), 3);
    EXPECT_TRUE(spin.stepArrow(+1));
    EXPECT_EQ(spin.GetPos32(), 3) << "no wrap: the top holds";
    parent.answer = 1;
    EXPECT_FALSE(spin.stepArrow(-1)) << "a nonzero result refuses the step";
    EXPECT_EQ(spin.GetPos32(), 3);
}

TEST(SpinButtonTest, AReflectedHandlerKeepsTheNotificationFromTheParent) {
    RecordingParent parent;
    parent.CreateEx(0, "", 0, RECT{0, 0, 100, 100}, nullptr, 0);
    RefusingSpin spin;
    spin.Create(WS_CHILD, RECT{}, &parent, 9);
    spin.SetRange32(0, 10);
    spin.isRefusing = true;
    EXPECT_FALSE(spin.stepArrow(+1));
    EXPECT_EQ(parent.notified, 0u);
    EXPECT_EQ(spin.GetPos32(), 0);
    CButton button;
    button.Create("b", WS_CHILD, RECT{}, &parent, 5);
    button.sendCommand(BN_CLICKED);
    EXPECT_EQ(parent.commanded, 5u);
}

TEST(SpinButtonTest, OnlyDecimalAndHexadecimalBases) {
    CSpinButtonCtrl spin;
    EXPECT_EQ(spin.SetBase(16), 10);
    EXPECT_EQ(spin.SetBase(8), 0);
    EXPECT_EQ(spin.GetBase(), 16);
}

TEST(CursorTest, CopiesAreOwnedSystemCursorsAreNot) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    HCURSOR copy = CopyCursor(arrow);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, arrow);
    EXPECT_TRUE(DestroyCursor(copy));
    EXPECT_FALSE(DestroyCursor(copy));
    EXPECT_FALSE(DestroyCursor(arrow));
    HCURSOR before = SetCursor(copy);
    EXPECT_EQ(GetCursor(), copy);
    SetCursor(before);
    char folder[MAX_PATH] = "x";
    EXPECT_EQ(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    EXPECT_EQ(folder[0], '\0');
}

}  // namespace
