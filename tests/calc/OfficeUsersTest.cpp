// The users' folder of an office's pipe and the reaper that reads it: which programs
// count as using an office when some of them died without a word, and when the
// reaper of a dead program ends the office. Programs are stood in for by child
// processes, so that a lock really goes with a process's death; no office is
// started (the "office" is a child process in a group of its own).
#include "calc/reaper/OfficeUsers.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace users = calc::users;

std::string nameOf(long pid, unsigned n = 0) {
    char name[users::kNameSize];
    users::entryName(name, pid, n);
    return name;
}

// A process that enters the folder under its own pid, says it uses `group` and
// waits to be killed, as a program connected to an office does. Returns once it
// has joined.
pid_t startUser(const std::string& folderPath, long group) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        int folder = users::openFolder(folderPath.c_str(), false);
        char name[users::kNameSize];
        users::entryName(name, ::getpid(), 0);
        int entry = folder >= 0 ? users::join(folder, name) : -1;
        if (entry >= 0) users::setUsedGroup(entry, group);
        char ok = entry >= 0 ? 1 : 0;
        ssize_t written = ::write(ready[1], &ok, 1);
        (void)written;
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ssize_t got = ::read(ready[0], &ok, 1);
    ::close(ready[0]);
    if (got != 1 || !ok) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

// Kills the process at once, as a crash ends it: its entry stays behind.
void crash(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// An "office": a process sleeping in a process group of its own.
pid_t startOfficeGroup() {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        for (;;) ::pause();
    }
    ::setpgid(pid, pid);
    return pid;
}

class OfficeUsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("office-users");
        path_ = (scratch_->path() / "users").string();
        folder_ = users::openFolder(path_.c_str(), true);
        ASSERT_GE(folder_, 0) << path_;
    }
    void TearDown() override {
        for (pid_t pid : children_) crash(pid);
        if (folder_ >= 0) ::close(folder_);
        scratch_.reset();
    }
    pid_t user(long group) {
        pid_t pid = startUser(path_, group);
        EXPECT_GT(pid, 0);
        children_.push_back(pid);
        return pid;
    }
    void forget(pid_t pid) { std::erase(children_, pid); }
    bool hasEntry(long pid) {
        struct stat st {};
        return ::fstatat(folder_, nameOf(pid).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
    std::vector<long> liveUsers(long group, const char* except = nullptr) {
        std::vector<long> pids(8);
        int n = users::live(folder_, except, group, pids.data(), static_cast<int>(pids.size()));
        pids.resize(static_cast<std::size_t>(n));
        return pids;
    }

    std::optional<tabro::testing::TempDir> scratch_;
    std::string path_;
    int folder_ = -1;
    std::vector<pid_t> children_;
};

TEST_F(OfficeUsersTest, AFolderOthersCouldWriteToOrALinkToOneIsRefused) {
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A folder someone made open to others: its entries could be forged.
    const std::string open = (scratch_->path() / "open").string();
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0733), 0);
    EXPECT_EQ(users::openFolder(open.c_str(), true), -1);
    // A link planted where the folder goes, to a folder that would pass.
    const std::string link = (scratch_->path() / "link").string();
    ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
    EXPECT_EQ(users::openFolder(link.c_str(), true), -1);
    // Not there and not to be made.
    EXPECT_EQ(users::openFolder((scratch_->path() / "absent").c_str(), false), -1);
}

TEST_F(OfficeUsersTest, ADeadProgramsEntryIsRemovedAndALiveOneIsSeen) {
    const pid_t alive = user(100);
    const pid_t dead = user(100);
    crash(dead);
    forget(dead);
    ASSERT_TRUE(hasEntry(dead)) << "a crash leaves its entry";
    EXPECT_EQ(liveUsers(100), std::vector<long>{alive});
    EXPECT_FALSE(hasEntry(dead));
    EXPECT_TRUE(hasEntry(alive));
    // Once it is gone too, nobody is left, whoever asks.
    crash(alive);
    forget(alive);
    EXPECT_TRUE(liveUsers(0).empty());
    EXPECT_FALSE(hasEntry(alive));
}

TEST_F(OfficeUsersTest, OnlyProgramsOfTheSameOfficeCountAndTheAskerLeavesItselfOut) {
    const pid_t same = user(100);
    const pid_t other = user(200);
    const pid_t none = user(0);
    EXPECT_EQ(liveUsers(100), std::vector<long>{same});
    EXPECT_EQ(liveUsers(200), std::vector<long>{other});
    EXPECT_EQ(liveUsers(0).size(), 3u) << none;
    // This process's own entry, and a second connection of it under another name:
    // itself it leaves out by name, its other connection it counts.
    const std::string mine = nameOf(::getpid()), second = nameOf(::getpid(), 1);
    int entry = users::join(folder_, mine.c_str());
    int entry2 = users::join(folder_, second.c_str());
    ASSERT_GE(entry, 0);
    ASSERT_GE(entry2, 0);
    users::setUsedGroup(entry, 100);
    users::setUsedGroup(entry2, 100);
    EXPECT_EQ(liveUsers(100, mine.c_str()).size(), 2u);
    users::leave(folder_, second.c_str(), entry2);
    EXPECT_EQ(liveUsers(100, mine.c_str()), std::vector<long>{same});
    EXPECT_EQ(users::entryPid(second.c_str()), ::getpid());
    users::leave(folder_, mine.c_str(), entry);
    EXPECT_FALSE(hasEntry(::getpid()));
}

TEST_F(OfficeUsersTest, TheRecordOfAStartedOfficeIsForgottenOnlyForThatOffice) {
    EXPECT_EQ(users::startedGroup(folder_), 0);
    ASSERT_TRUE(users::recordStarted(folder_, 4321));
    EXPECT_EQ(users::startedGroup(folder_), 4321);
    // An office started since keeps its record.
    users::forgetStarted(folder_, 1234);
    EXPECT_EQ(users::startedGroup(folder_), 4321);
    users::forgetStarted(folder_, 4321);
    EXPECT_EQ(users::startedGroup(folder_), 0);
    // A damaged record names no office.
    for (const char* text : {"12x\n", "", "99999999999999999999\n", "1\n"}) {
        int fd = ::openat(folder_, users::kRecordName, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
        ::close(fd);
        EXPECT_EQ(users::startedGroup(folder_), 0) << text;
    }
}

TEST_F(OfficeUsersTest, TheLastUserRemovesTheFolderAndALaterOneMakesItAgain) {
    const pid_t alive = user(100);
    int lock = users::lockFolder(folder_, 1000);
    ASSERT_GE(lock, 0);
    // A second lock of the folder waits for the first.
    int other = users::openFolder(path_.c_str(), false);
    EXPECT_EQ(users::lockFolder(other, 100), -1);
    EXPECT_FALSE(users::removeIfUnused(folder_, path_.c_str()));
    crash(alive);
    forget(alive);
    ASSERT_TRUE(users::recordStarted(folder_, 100));
    EXPECT_FALSE(users::removeIfUnused(folder_, path_.c_str())) << "an office is recorded";
    users::forgetStarted(folder_, 100);
    EXPECT_TRUE(users::removeIfUnused(folder_, path_.c_str()));
    ::close(lock);
    struct stat st {};
    EXPECT_NE(::stat(path_.c_str(), &st), 0);
    // Whoever still has the removed folder open learns that it is gone.
    errno = 0;
    EXPECT_EQ(users::lockFolder(other, 100), -1);
    EXPECT_EQ(errno, ENOENT);
    ::close(other);
    ::close(folder_);
    folder_ = users::openFolder(path_.c_str(), true);
    EXPECT_GE(users::lockFolder(folder_, 100), 0);
}

// The reaper program of a program that used the office of `group`: `letGo` writes
// the byte that tells it to let go before its pipe closes. True when it ended the
// group within a few seconds.
class ReaperTest : public OfficeUsersTest {
protected:
    bool reaperEnds(pid_t office, const std::string& deadEntry, bool letGo) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_adddup2(&files, fds[0], 3);
        posix_spawn_file_actions_addclose(&files, fds[1]);
        const std::string group = std::to_string(office);
        char* argv[] = {const_cast<char*>("tabcalc-reaper"), const_cast<char*>(group.c_str()), path_.data(),
                        const_cast<char*>(deadEntry.c_str()), nullptr};
        pid_t reaper = -1;
        EXPECT_EQ(::posix_spawn(&reaper, TABLORA_REAPER_PROGRAM, &files, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&files);
        ::close(fds[0]);
        if (letGo) {
            EXPECT_EQ(::write(fds[1], "x", 1), 1);
        }
        ::close(fds[1]);
        // The office is waited for here, as its launcher's parent would, so that the
        // reaper sees it gone as soon as it ends.
        bool ended = false;
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(office, &status, WNOHANG) == office) {
                ended = true;
                forget(office);
                break;
            }
            if (::waitpid(reaper, nullptr, WNOHANG) == reaper) {
                reaper = -1;
                // Gone without ending it: once more, for an end that raced its exit.
                ended = ::waitpid(office, &status, WNOHANG) == office;
                if (ended) forget(office);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (reaper > 0) ::waitpid(reaper, nullptr, 0);
        return ended;
    }
    pid_t office() {
        pid_t pid = startOfficeGroup();
        children_.push_back(pid);
        return pid;
    }
};

TEST_F(ReaperTest, ADeadProgramsOfficeEndsOnlyWhenNoOtherLivingProgramUsesIt) {
    // Another program of the same office lives: it stays.
    pid_t shared = office();
    ASSERT_TRUE(users::recordStarted(folder_, shared));
    const pid_t dead = user(shared);
    const pid_t survivor = user(shared);
    crash(dead);
    forget(dead);
    EXPECT_FALSE(reaperEnds(shared, nameOf(dead), false));
    EXPECT_FALSE(hasEntry(dead));
    // That one dies too: now it goes, and its record and the folder with it.
    crash(survivor);
    forget(survivor);
    EXPECT_TRUE(reaperEnds(shared, nameOf(survivor), false));
    EXPECT_EQ(users::startedGroup(folder_), 0);
    struct stat st {};
    EXPECT_NE(::stat(path_.c_str(), &st), 0) << "the folder of nobody's office was left";
    ::close(folder_);
    folder_ = users::openFolder(path_.c_str(), true);
    ASSERT_GE(folder_, 0);

    // A living program of another office does not keep this one.
    pid_t alone = office();
    ASSERT_TRUE(users::recordStarted(folder_, alone));
    user(alone + 1);
    EXPECT_TRUE(reaperEnds(alone, nameOf(1), false));
}

TEST_F(ReaperTest, AnOfficeLetGoOrNotRecordedAsStartedHereIsLeftRunning) {
    pid_t running = office();
    ASSERT_TRUE(users::recordStarted(folder_, running));
    EXPECT_FALSE(reaperEnds(running, nameOf(1), true)) << "its program let go";
    // The record names the office started since: the old group is not the reaper's
    // to end any more (it may be a process that reuses its number).
    ASSERT_TRUE(users::recordStarted(folder_, running + 1));
    EXPECT_FALSE(reaperEnds(running, nameOf(1), false));
    // Without a folder to ask, the office goes with its program, as it always did.
    const std::string gone = path_;
    path_ = (scratch_->path() / "absent").string();
    EXPECT_TRUE(reaperEnds(running, nameOf(1), false));
    path_ = gone;
}

}  // namespace
