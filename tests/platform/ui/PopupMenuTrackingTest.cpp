// Popup menus shown through the presenter: returned or sent commands, the point,
// and answers the menu does not hold.
#include "platform/ui/PopupMenuTracking.h"

#include <gtest/gtest.h>

namespace {

using platform::ui::PopupMenuRequest;

class ScopedMenuAnswer {
public:
    explicit ScopedMenuAnswer(int answer) {
        previous_ = platform::ui::setPopupMenuPresenter([this, answer](const PopupMenuRequest& r) {
            seen = r;
            return answer;
        });
    }
    ~ScopedMenuAnswer() { platform::ui::setPopupMenuPresenter(std::move(previous_)); }
    PopupMenuRequest seen{nullptr, {}, 0};

private:
    platform::ui::PopupMenuPresenter previous_;
};

class CommandSink : public CWnd {
public:
    BOOL OnCommand(UINT id, UINT) override {
        received.push_back(id);
        return TRUE;
    }
    std::vector<UINT> received;
};

platform::ui::PopupMenu settingsMenu() {
    platform::ui::PopupMenu menu;
    menu.append(501, "Load");
    menu.append(502, "Save");
    return menu;
}

TEST(PopupMenuTrackingTest, ReturnCmdGivesTheChoiceAndSendsNothing) {
    const auto menu = settingsMenu();
    CommandSink owner;
    ScopedMenuAnswer answer(502);
    EXPECT_EQ(platform::ui::trackPopupMenu(menu, TPM_LEFTALIGN | TPM_RETURNCMD, 40, 70, &owner), 502);
    EXPECT_TRUE(owner.received.empty());
    EXPECT_EQ(answer.seen.menu, &menu);
    EXPECT_EQ(answer.seen.at, (POINT{40, 70}));
}

TEST(PopupMenuTrackingTest, WithoutReturnCmdTheChoiceGoesToTheOwner) {
    const auto menu = settingsMenu();
    CommandSink owner;
    ScopedMenuAnswer answer(501);
    EXPECT_EQ(platform::ui::trackPopupMenu(menu, TPM_LEFTALIGN, 0, 0, &owner), TRUE);
    EXPECT_EQ(owner.received, (std::vector<UINT>{501}));
}

TEST(PopupMenuTrackingTest, DismissedOrForeignAnswersChooseNothing) {
    const auto menu = settingsMenu();
    CommandSink owner;
    for (int answer : {0, 777}) {
        SCOPED_TRACE(answer);
        ScopedMenuAnswer scoped(answer);
        EXPECT_EQ(platform::ui::trackPopupMenu(menu, TPM_RETURNCMD, 0, 0, &owner), 0);
        EXPECT_EQ(platform::ui::trackPopupMenu(menu, 0, 0, 0, &owner), FALSE);
    }
    EXPECT_TRUE(owner.received.empty());
    EXPECT_EQ(platform::ui::trackPopupMenu(menu, TPM_RETURNCMD, 0, 0, &owner), 0) << "no presenter: dismissed";
}

}  // namespace
