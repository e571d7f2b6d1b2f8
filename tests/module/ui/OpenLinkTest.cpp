// Opening a link: the desktop opener first, then the browser registered for .htm
// with the target in place of its %1, never through a shell and never cut.
#include "module/ui/OpenLink.h"
#include "tests/module/ui/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using tabro::ui::openLink;
using Argv = std::vector<std::string>;

TEST(OpenLinkTest, TheOpenersSuccessEndsIt) {
    ScopedClassesRoot classes;
    ScopedClassesRoot::registerBrowser("browser \"%1\"");
    StandInOpener opener(0);
    EXPECT_GT(openLink("http://example.org/", SW_SHOW), 32);
    EXPECT_EQ(opener.started, (std::vector<Argv>{{"xdg-open", "http://example.org/"}}));
}

TEST(OpenLinkTest, TheRegisteredCommandTakesTheTargetInPlaceOfItsPlaceholder) {
    struct Case {
        const char* command;
        Argv argv;
    } cases[] = {
        {"\"/opt/web browser/run\" -url \"%1\"", {"/opt/web browser/run", "-url", "http://x/?a=1&b=2"}},
        {"/usr/bin/browser %1 --new-tab", {"/usr/bin/browser", "http://x/?a=1&b=2"}},
        {"/usr/bin/browser", {"/usr/bin/browser", "http://x/?a=1&b=2"}},
        // Only the first placeholder counts; what follows it is cut with it.
        {"b \"%1\" \"%1\"", {"b", "http://x/?a=1&b=2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ScopedClassesRoot classes;
        ScopedClassesRoot::registerBrowser(c.command);
        StandInOpener opener(3);
        EXPECT_EQ(openLink("http://x/?a=1&b=2", SW_SHOW), 33);
        ASSERT_EQ(opener.started.size(), 2u);
        EXPECT_EQ(opener.started[1], c.argv);
    }
}

TEST(OpenLinkTest, ATargetIsOneArgumentAndNeverCommands) {
    ScopedClassesRoot classes;
    ScopedClassesRoot::registerBrowser("browser \"%1\"");
    StandInOpener opener(4);
    const std::string target = "/home/u/My Page.htm\" ; rm -rf ~ ; \"";
    EXPECT_EQ(openLink(target, SW_SHOW), 33);
    ASSERT_EQ(opener.started.size(), 2u);
    EXPECT_EQ(opener.started[1], (Argv{"browser", target}));
}

TEST(OpenLinkTest, WithoutARegisteredBrowserTheOpenersResultStands) {
    {
        ScopedClassesRoot classes;
        StandInOpener opener(2);
        EXPECT_EQ(openLink("missing.htm", SW_SHOW), 2);
        EXPECT_EQ(opener.started.size(), 1u);
    }
    {
        ScopedClassesRoot classes;
        ScopedClassesRoot::setDefault(".htm", "htmlfile");  // a class without its command
        StandInOpener opener(3);
        EXPECT_EQ(openLink("x", SW_SHOW), 31);
        EXPECT_EQ(opener.started.size(), 1u);
    }
}

TEST(OpenLinkTest, TheStartedCommandsFailureIsTheResult) {
    ScopedClassesRoot classes;
    ScopedClassesRoot::registerBrowser("/gone/browser \"%1\"");
    StandInOpener opener(3, ENOENT);
    EXPECT_EQ(openLink("http://x/", SW_SHOW), 2);
}

TEST(OpenLinkTest, ACommandLineThatDoesNotFitIsRefusedNotCut) {
    const std::string command = "browser \"%1\"";  // "browser " kept, then " " and the target
    const std::size_t room = tabro::ui::kLinkCommandLineLimit - 1 - std::string("browser  ").size();
    for (std::size_t length : {room, room + 1}) {
        SCOPED_TRACE(length);
        ScopedClassesRoot classes;
        ScopedClassesRoot::registerBrowser(command);
        StandInOpener opener(3);
        const std::string target(length, 'a');
        const int result = openLink(target, SW_SHOW);
        if (length == room) {
            EXPECT_EQ(result, 33);
            ASSERT_EQ(opener.started.size(), 2u);
            EXPECT_EQ(opener.started[1][1], target);
        } else {
            EXPECT_EQ(result, SE_ERR_OOM);
            EXPECT_EQ(opener.started.size(), 1u) << "nothing was started with a cut line";
        }
    }
}

}  // namespace
