// Starting programs without a shell: command lines split and quoted the platform's
// way, and the opener's outcomes turned into the shell's result codes.
#include "platform/ui/Shell.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

using platform::ProcessOutcome;
using platform::ProcessRequest;

class StandInStarter {
public:
    explicit StandInStarter(ProcessOutcome outcome) : outcome_(outcome) {
        previous_ = platform::setProcessStarter([this](const ProcessRequest& r) {
            requests.push_back(r);
            return outcome_;
        });
    }
    ~StandInStarter() { platform::setProcessStarter(std::move(previous_)); }
    std::vector<ProcessRequest> requests;

private:
    ProcessOutcome outcome_;
    platform::ProcessStarter previous_;
};

int shellResult(const char* verb, const char* file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, verb, file, nullptr, nullptr, 5)));
}

TEST(CommandLineTest, SplitsAsThePlatformDoes) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"\"C:\\Program Files\\b.exe\" -url", {"C:\\Program Files\\b.exe", "-url"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"\"", {""}},
        {"a\\\\b", {"a\\\\b"}},
        {"\"a\\\"b\"", {"a\"b"}},
        {"\"a\\\\\" b", {"a\\", "b"}},
        {"; rm -rf ~", {";", "rm", "-rf", "~"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(platform::splitCommandLine(c.line), c.args);
    }
}

TEST(CommandLineTest, AQuotedArgumentSplitsBackToItself) {
    for (const char* arg : {"plain", "", "two words", "tab\there", "say \"hi\"", "ends\\", "mid\\\"q", "C:\\x y\\",
                            "http://example.org/a?b=1&c=$(x)"}) {
        SCOPED_TRACE(arg);
        const std::string line = "prog " + platform::quoteCommandLineArgument(arg) + " next";
        EXPECT_EQ(platform::splitCommandLine(line), (std::vector<std::string>{"prog", arg, "next"}));
    }
    EXPECT_EQ(platform::quoteCommandLineArgument("http://x/"), "http://x/") << "plain targets stay as they are";
}

TEST(ShellExecuteTest, OpensThroughTheDesktopOpenerWithoutAShell) {
    StandInStarter starter({0, 0});
    EXPECT_GT(shellResult("open", "http://example.org/a b"), 32);
    ASSERT_EQ(starter.requests.size(), 1u);
    EXPECT_EQ(starter.requests[0].argv, (std::vector<std::string>{"xdg-open", "http://example.org/a b"}));
    EXPECT_TRUE(starter.requests[0].waitForExit);
    EXPECT_GT(shellResult(nullptr, "x"), 32) << "no verb is the default verb, open";
}

TEST(ShellExecuteTest, OpenerOutcomesBecomeShellResults) {
    struct Case {
        ProcessOutcome outcome;
        int result;
    } cases[] = {
        {{0, 2}, SE_ERR_FNF},
        {{0, 3}, SE_ERR_NOASSOC},
        {{0, 1}, SE_ERR_ASSOCINCOMPLETE},
        {{0, 4}, SE_ERR_ASSOCINCOMPLETE},
        {{0, 137}, SE_ERR_ASSOCINCOMPLETE},
        {{ENOENT, 0}, SE_ERR_NOASSOC},
        {{EACCES, 0}, SE_ERR_ACCESSDENIED},
        {{EAGAIN, 0}, SE_ERR_OOM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "errno " << c.outcome.startError << " status " << c.outcome.exitStatus);
        StandInStarter starter(c.outcome);
        EXPECT_EQ(shellResult("open", "target"), c.result);
    }
}

TEST(ShellExecuteTest, RefusesWhatItCannotOpenBeforeStartingAnything) {
    StandInStarter starter({0, 0});
    EXPECT_EQ(shellResult("print", "target"), SE_ERR_NOASSOC);
    EXPECT_EQ(shellResult("open", ""), SE_ERR_FNF);
    EXPECT_EQ(shellResult("open", nullptr), SE_ERR_FNF);
    EXPECT_TRUE(starter.requests.empty());
}

TEST(WinExecTest, StartsTheSplitLineWithoutWaiting) {
    StandInStarter starter({0, 0});
    EXPECT_GT(WinExec("\"/opt/my browser/run\" -new http://x", 5), 31u);
    ASSERT_EQ(starter.requests.size(), 1u);
    EXPECT_EQ(starter.requests[0].argv, (std::vector<std::string>{"/opt/my browser/run", "-new", "http://x"}));
    EXPECT_FALSE(starter.requests[0].waitForExit);
    EXPECT_EQ(WinExec("   ", 5), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WinExec(nullptr, 5), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(starter.requests.size(), 1u);
}

TEST(WinExecTest, StartFailuresBecomeSystemErrors) {
    struct Case {
        int error;
        UINT result;
    } cases[] = {{ENOENT, ERROR_FILE_NOT_FOUND},
                 {ENOTDIR, ERROR_PATH_NOT_FOUND},
                 {EACCES, ERROR_ACCESS_DENIED},
                 {ENOEXEC, ERROR_BAD_FORMAT},
                 {ENOMEM, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        StandInStarter starter({c.error, 0});
        EXPECT_EQ(WinExec("prog", 5), c.result);
    }
}

TEST(WinExecTest, TheRealStarterReportsAMissingProgram) {
    EXPECT_EQ(WinExec("/nonexistent/tablora-no-such-program arg", 5), ERROR_FILE_NOT_FOUND);
    EXPECT_GT(WinExec("true", 5), 31u);
}

}  // namespace
