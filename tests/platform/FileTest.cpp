// The file layer: a replacement that fails at any step leaves the previous file and
// no temporary, modes and backups, the read limit, symbolic links at the target,
// exclusive creation, special files, writers killed mid-save and versions changed
// on disk by someone else.
#include "platform/File.h"

#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::FileStep;
using platform::test::FileCall;
using platform::test::FileFault;

namespace {

using tabro::testing::readFile;
using tabro::testing::writeFile;

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

mode_t currentUmask() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

class FileTest : public ::testing::Test {
protected:
    // Every name in the folder (and its subfolders), sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            out.push_back(e.path().lexically_relative(dir_).string());
        std::sort(out.begin(), out.end());
        return out;
    }
    tabro::testing::TempDir scratch_{"file"};
    const fs::path dir_ = scratch_.path();
};

using Names = std::vector<std::string>;

TEST_F(FileTest, AFailedReplacementLeavesThePreviousFileAndNoTemporary) {
    struct Case {
        const char* name;
        FileCall call;
        int error;
        int skip;
        FileStep step;
    };
    const Case cases[] = {
        {"no random name", FileCall::getrandom, EIO, 0, FileStep::createTemporary},
        {"temporary refused", FileCall::open, EACCES, 0, FileStep::createTemporary},
        {"first write", FileCall::write, ENOSPC, 0, FileStep::write},
        {"sync of the temporary", FileCall::fsync, EIO, 0, FileStep::write},
        {"close of the temporary", FileCall::close, EIO, 0, FileStep::write},
        {"old backup not removable", FileCall::unlink, EACCES, 0, FileStep::backup},
        {"rename across devices", FileCall::rename, EXDEV, 0, FileStep::rename},
    };
    const fs::path target = dir_ / "data.txt";
    const std::string bak = (dir_ / "data.bak").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(bak);
        writeFile(target, "old content");
        platform::WriteOptions options;
        options.backupPath = bak;
        platform::FileStatus status;
        {
            FileFault fault(c.call, c.error, c.skip);
            status = platform::writeFileAtomically(target.string(), std::string(100000, 'n'), options);
            EXPECT_EQ(fault.failures(), 1);
        }
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().step, c.step);
        EXPECT_EQ(status.error().code, c.error);
        EXPECT_NE(status.error().message().find(std::strerror(c.error)), std::string::npos) << status.error().message();
        EXPECT_EQ(readFile(target), "old content");
        // A backup made before the failing step holds the old content too.
        for (const std::string& n : names()) {
            EXPECT_TRUE(n == "data.txt" || n == "data.bak") << n << " left behind";
            if (n == "data.bak") {
                EXPECT_EQ(readFile(bak), "old content");
            }
        }
    }
}

TEST_F(FileTest, WritesCutShortAreResumedAndFailuresAfterThemClean) {
    const fs::path target = dir_ / "data.txt";
    writeFile(target, "old");
    const std::string content(200000, 'x');
    {
        // The kernel may write less than asked; a loop that took a short write for
        // the whole would leave a truncated file.
        FileFault shortWrites(FileFault::AfterBytes{4096}, ENOSPC);
        platform::FileStatus s = platform::writeFileAtomically(target.string(), content);
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::write);
        EXPECT_EQ(s.error().code, ENOSPC);
    }
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(names(), Names{"data.txt"});

    // Every write made short by one byte still adds up to all of it.
    struct OneShort {
        static ssize_t write(int fd, const void* b, std::size_t n) {
            return platform::systemFileCalls().write.load()(fd, b, n > 1 ? n - 1 : n);
        }
    };
    platform::fileSystemCalls().write = &OneShort::write;
    platform::FileStatus s = platform::writeFileAtomically(target.string(), content);
    platform::fileSystemCalls().write = platform::systemFileCalls().write.load();
    ASSERT_TRUE(s) << s.error().message();
    EXPECT_EQ(readFile(target), content);
}

TEST_F(FileTest, AFailedFolderSyncIsReportedAfterTheFileIsReplaced) {
    const fs::path target = dir_ / "data.txt";
    writeFile(target, "old");
    FileFault folderSync(FileCall::fsync, EIO, 1);  // the first fsync is the temporary's
    platform::FileStatus s = platform::writeFileAtomically(target.string(), "new");
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().step, FileStep::syncFolder);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(names(), Names{"data.txt"});
}

TEST_F(FileTest, AReplacedFileKeepsItsModeAndANewOneGetsTheModeAskedFor) {
    struct Case {
        const char* name;
        std::optional<mode_t> existing;  // no value: the file is new
        std::optional<mode_t> newFileMode;
        mode_t expected;
    };
    const mode_t ordinary = 0666 & ~currentUmask();
    const Case cases[] = {
        {"private file stays private", 0600, 0644, 0600},
        {"group readable", 0640, std::nullopt, 0640},
        {"executable", 0755, 0600, 0755},
        {"new, mode given", std::nullopt, 0600, 0600},
        {"new, wider than the umask", std::nullopt, 0664, 0664},
        {"new, ordinary", std::nullopt, std::nullopt, ordinary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir_ / "data.txt";
        fs::remove(target);
        if (c.existing) {
            writeFile(target, "old");
            ASSERT_EQ(::chmod(target.c_str(), *c.existing), 0);
        }
        platform::WriteOptions options;
        options.newFileMode = c.newFileMode;
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "new", options));
        EXPECT_EQ(modeOf(target), c.expected);
        EXPECT_EQ(readFile(target), "new");

        fs::remove(target);
        if (!c.existing) {
            ASSERT_TRUE(platform::createFileExclusively(target.string(), "new", options));
            EXPECT_EQ(modeOf(target), c.expected) << "created exclusively";
        }
    }
}

// A file of someone else's in a shared folder, saved by us, stays theirs: owner and
// group as far as the system lets them be given away, the group alone where only
// that is allowed. Giving files away needs the superuser, so does this test.
TEST_F(FileTest, AReplacedFileKeepsItsOwnerAndGroupWhereTheSystemAllows) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    constexpr uid_t kOwner = 12345;
    constexpr gid_t kGroup = 23456;
    struct Case {
        const char* name;
        int ownerRefusals;  // fchown calls refused with EPERM, as for a user who is not root
        uid_t expectedOwner;
        bool backupByCopy;
    };
    const Case cases[] = {
        {"owner and group kept", 0, kOwner, false},
        {"giving it away refused: the group is kept on its own", 1, 0, false},
        {"a backup made by copying keeps them too", 0, kOwner, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir_ / "shared.dxf";
        const fs::path bak = dir_ / "shared.bak";
        fs::remove(target);
        fs::remove(bak);
        writeFile(target, "theirs");
        ASSERT_EQ(::chown(target.c_str(), kOwner, kGroup), 0);
        ASSERT_EQ(::chmod(target.c_str(), 02664), 0);
        std::optional<FileFault> refused;
        if (c.ownerRefusals) refused.emplace(FileCall::fchown, EPERM, 0, c.ownerRefusals);
        std::optional<FileFault> noLinks;
        if (c.backupByCopy) noLinks.emplace(FileCall::link, EPERM, 0, -1);
        platform::WriteOptions options;
        options.backupPath = bak.string();
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "ours", options));
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.expectedOwner);
        EXPECT_EQ(st.st_gid, kGroup);
        EXPECT_EQ(st.st_mode & 07777, 02664u) << "the set-group-ID bit survives the change of owner";
        EXPECT_EQ(readFile(target), "ours");
        struct stat kept {};
        ASSERT_EQ(::stat(bak.c_str(), &kept), 0);
        EXPECT_EQ(kept.st_uid, kOwner);
        EXPECT_EQ(kept.st_gid, kGroup);
    }
}

TEST_F(FileTest, TheBackupHoldsWhatTheFileHeldBefore) {
    struct Case {
        const char* name;
        bool hardLinksRefused;
    };
    for (const Case c : {Case{"hard link", false}, Case{"copy where hard links are refused", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir_ / "site.dxf";
        const fs::path bak = dir_ / "site.bak";
        fs::remove(target);
        fs::remove(bak);
        platform::WriteOptions options;
        options.backupPath = bak.string();
        std::optional<FileFault> noLinks;
        if (c.hardLinksRefused) noLinks.emplace(FileCall::link, EPERM, 0, -1);
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "one", options));
        EXPECT_FALSE(fs::exists(bak)) << "a new file has nothing to keep";
        ::chmod(target.c_str(), 0640);
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "two", options));
        EXPECT_EQ(readFile(bak), "one");
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "three", options));
        EXPECT_EQ(readFile(bak), "two") << "an older backup is replaced";
        EXPECT_EQ(readFile(target), "three");
        EXPECT_EQ(modeOf(bak), 0640u);
        if (noLinks) {
            EXPECT_GT(noLinks->failures(), 0);
        }
        EXPECT_EQ(names(), (Names{"site.bak", "site.dxf"}));
    }
}

TEST_F(FileTest, ReadingKeepsToTheLimit) {
    struct Case {
        std::size_t size;
        std::uint64_t limit;
        bool ok;
    };
    const Case cases[] = {
        {0, 0, true}, {10, 10, true}, {11, 10, false}, {200000, 199999, false}, {200000, 1u << 20, true}};
    const fs::path file = dir_ / "data.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, limit " + std::to_string(c.limit));
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 31);
        writeFile(file, content);
        std::string out = "stale";
        platform::FileStatus s = platform::readFile(file.string(), out, c.limit);
        EXPECT_EQ(s.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, content);
        } else {
            EXPECT_TRUE(out.empty());
            EXPECT_EQ(s.error().step, FileStep::tooLarge);
            EXPECT_EQ(s.error().fileBytes, c.size);
            EXPECT_NE(s.error().reason().find(std::to_string(c.size) + " bytes"), std::string::npos)
                << s.error().reason();
            EXPECT_EQ(platform::systemErrorCode(s.error(), ERROR_READ_FAULT), ERROR_NOT_ENOUGH_MEMORY);
        }
        bool cut = true;
        ASSERT_TRUE(platform::readFilePrefix(file.string(), out, c.limit, cut));
        EXPECT_EQ(cut, !c.ok);
        EXPECT_EQ(out, content.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(c.size, c.limit))));
    }
}

TEST_F(FileTest, ReadingRefusesWhatIsNoFile) {
    std::string out;
    platform::FileStatus folder = platform::readFile(dir_.string(), out, 1000);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().step, FileStep::notRegular);

    platform::FileStatus missing = platform::readFile((dir_ / "none").string(), out, 1000);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(platform::systemErrorCode(missing.error(), ERROR_READ_FAULT), ERROR_FILE_NOT_FOUND);

    platform::FileStatus inMissingFolder = platform::writeFileAtomically((dir_ / "no" / "file").string(), "x");
    ASSERT_FALSE(inMissingFolder);
    EXPECT_EQ(platform::systemErrorCode(inMissingFolder.error(), ERROR_WRITE_FAULT), ERROR_PATH_NOT_FOUND);

    writeFile(dir_ / "data.txt", "abc");
    FileFault readFails(FileCall::read, EIO);
    platform::FileStatus failed = platform::readFile((dir_ / "data.txt").string(), out, 1000);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().step, FileStep::read);
    EXPECT_EQ(platform::systemErrorCode(failed.error(), ERROR_READ_FAULT), ERROR_READ_FAULT);
}

TEST_F(FileTest, ASymbolicLinkAtTheNameStaysAndItsTargetIsReplaced) {
    fs::create_directories(dir_ / "real");
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // name -> what it points at
        const char* target;
        bool targetExists;
    };
    const Case cases[] = {
        {"relative link into a folder", {{"name.txt", "real/file.txt"}}, "real/file.txt", true},
        {"absolute link", {{"name.txt", (dir_ / "real/file.txt").string()}}, "real/file.txt", true},
        {"chain of two", {{"name.txt", "middle.txt"}, {"middle.txt", "real/file.txt"}}, "real/file.txt", true},
        {"dangling link", {{"name.txt", "real/new.txt"}}, "real/new.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(dir_ / "real")) fs::remove(e.path());
        for (const auto& [name, to] : c.links) {
            fs::remove(dir_ / name);
            fs::create_symlink(to, dir_ / name);
        }
        if (c.targetExists) {
            writeFile(dir_ / c.target, "old");
            ::chmod((dir_ / c.target).c_str(), 0600);
        }
        platform::AtomicFile file;
        ASSERT_TRUE(file.open((dir_ / "name.txt").string()));
        EXPECT_EQ(fs::path(file.target()).lexically_normal(), (dir_ / c.target).lexically_normal());
        ASSERT_TRUE(file.write("new"));
        ASSERT_TRUE(file.commit());
        for (const auto& [name, to] : c.links) EXPECT_TRUE(fs::is_symlink(dir_ / name)) << name;
        EXPECT_EQ(readFile(dir_ / c.target), "new");
        if (c.targetExists) {
            EXPECT_EQ(modeOf(dir_ / c.target), 0600u);
        }
        for (const std::string& n : names()) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
        for (const auto& [name, to] : c.links) fs::remove(dir_ / name);
    }

    // A loop of links has no target; nothing is written.
    fs::create_symlink("b", dir_ / "a");
    fs::create_symlink("a", dir_ / "b");
    platform::FileStatus loop = platform::writeFileAtomically((dir_ / "a").string(), "x");
    ASSERT_FALSE(loop);
    EXPECT_EQ(loop.error().step, FileStep::followLink);
    EXPECT_EQ(loop.error().code, ELOOP);
}

TEST_F(FileTest, ExclusiveCreationNeverReplacesAnything) {
    const fs::path file = dir_ / "Book1.xlsx";
    ASSERT_TRUE(platform::createFileExclusively(file.string(), "mine"));
    EXPECT_EQ(readFile(file), "mine");

    struct Case {
        const char* name;
        std::function<void()> occupy;
    };
    const Case cases[] = {
        {"a file", [&] { writeFile(file, "theirs"); }},
        {"a dangling link", [&] { fs::create_symlink(dir_ / "elsewhere.xlsx", file); }},
        {"a folder", [&] { fs::create_directory(file); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(file);
        c.occupy();
        Names before = names();
        std::string contentBefore = fs::is_regular_file(file) ? readFile(file) : "";
        platform::FileStatus s = platform::createFileExclusively(file.string(), "mine");
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::create);
        EXPECT_EQ(s.error().code, EEXIST);
        EXPECT_EQ(names(), before) << "nothing created, no temporary left";
        if (fs::is_regular_file(file)) {
            EXPECT_EQ(readFile(file), contentBefore);
        }
    }

    fs::remove_all(file);
    {
        FileFault full(FileCall::write, ENOSPC);
        ASSERT_FALSE(platform::createFileExclusively(file.string(), "mine"));
    }
    EXPECT_TRUE(names().empty()) << "a failed creation leaves nothing";
}

TEST_F(FileTest, FaultsCountOnlyTheirOwnCallAndStack) {
    writeFile(dir_ / "data.txt", "old");
    FileFault secondRename(FileCall::rename, EIO, 1);
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "one"));
    EXPECT_FALSE(platform::writeFileAtomically((dir_ / "data.txt").string(), "two"));
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "three"));
    EXPECT_EQ(secondRename.calls(), 3);
    EXPECT_EQ(secondRename.failures(), 1);
    EXPECT_EQ(readFile(dir_ / "data.txt"), "three");
    {
        FileFault alsoRename(FileCall::rename, EXDEV, 0, -1);
        EXPECT_FALSE(platform::writeFileAtomically((dir_ / "data.txt").string(), "four"));
    }
    // The inner fault is gone; the outer one still sees renames, and fails no more.
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "five"));
    EXPECT_EQ(secondRename.calls(), 5);
    EXPECT_EQ(readFile(dir_ / "data.txt"), "five");
}

TEST_F(FileTest, FoldersAreCreatedWithTheirParents) {
    const fs::path deep = dir_ / "a" / "b" / "c";
    ASSERT_TRUE(platform::createFolders(deep.string()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(platform::createFolders(deep.string())) << "a folder already there is fine";
    writeFile(dir_ / "file", "x");
    platform::FileStatus blocked = platform::createFolders((dir_ / "file" / "sub").string());
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().step, FileStep::createFolder);
}

TEST_F(FileTest, SpecialFilesAreRefusedWithoutWaitingOnThem) {
    const fs::path pipe = dir_ / "site.dxf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_symlink("site.dxf", dir_ / "link.dxf");
    struct Case {
        const char* name;
        std::function<platform::FileStatus()> run;
    };
    std::string out;
    const Case cases[] = {
        {"read", [&] { return platform::readFile(pipe.string(), out, 1000); }},
        {"read through a link", [&] { return platform::readFile((dir_ / "link.dxf").string(), out, 1000); }},
        {"read a prefix",
         [&] {
             bool cut = false;
             return platform::readFilePrefix(pipe.string(), out, 1000, cut);
         }},
        {"read in pieces",
         [&] { return platform::readFilePieces(pipe.string(), 1000, [](std::string_view) { return true; }); }},
        {"replace", [&] { return platform::writeFileAtomically(pipe.string(), "new"); }},
        {"replace through a link", [&] { return platform::writeFileAtomically((dir_ / "link.dxf").string(), "new"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto done = std::async(std::launch::async, c.run);
        if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "still waiting on the pipe after 5 s";
            // Let the waiting open through, so that the test can end.
            int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
        }
        platform::FileStatus s = done.get();
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::notRegular);
        EXPECT_TRUE(fs::is_fifo(pipe)) << "the pipe is still there";
    }
    EXPECT_EQ(names(), (Names{"link.dxf", "site.dxf"}));
}

// A child that saves a large file over and over until it is killed.
pid_t startSaving(const fs::path& target, const std::string& content, bool unnamedTemporaries) {
    pid_t child = ::fork();
    if (child != 0) return child;
    if (!unnamedTemporaries) {
        // As on a file system without unnamed files.
        platform::fileSystemCalls().open = [](const char* p, int flags, mode_t mode) {
            if ((flags & O_TMPFILE) == O_TMPFILE) {
                errno = EOPNOTSUPP;
                return -1;
            }
            return platform::systemFileCalls().open.load()(p, flags, mode);
        };
    }
    platform::WriteOptions options;
    options.backupPath = target.string() + ".bak";
    for (;;)
        if (!platform::writeFileAtomically(target.string(), content, options)) ::_exit(3);
}

TEST_F(FileTest, AWriterKilledAnywhereInASaveLeavesTheFileWholeAndNothingBehind) {
    const fs::path target = dir_ / "site.dxf";
    const std::string oldContent(8 << 20, 'o');
    const std::string newContent(8 << 20, 'n');
    std::mt19937 random(20261209);
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporaries" : "named temporaries");
        writeFile(target, oldContent);
        for (int kill = 0; kill < 12; ++kill) {
            pid_t child = startSaving(target, kill % 2 ? oldContent : newContent, unnamed);
            ASSERT_GT(child, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
            ::kill(child, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed on its own: " << WEXITSTATUS(status);
            std::string now = readFile(target);
            ASSERT_TRUE(now == oldContent || now == newContent) << "the file holds " << now.size() << " bytes";
        }
        // The next save, of this file, clears what killed writers left.
        platform::WriteOptions options;
        options.backupPath = target.string() + ".bak";
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), oldContent, options));
        EXPECT_EQ(names(), (Names{"site.dxf", "site.dxf.bak"}));
    }
}

TEST_F(FileTest, TemporariesOfOthersAndOfLiveWritersAreLeftAlone) {
    const fs::path target = dir_ / "data.txt";
    writeFile(target, "old");
    // Names close to a temporary's that are not ours, or not of this file.
    const Names foreign = {".data.txt.abc.tmp", ".data.txt.ABCDEFGHIJKL.tmp", ".other.txt.abcdefghijkl.tmp",
                           "data.txt.abcdefghijkl.tmp"};
    for (const std::string& n : foreign) writeFile(dir_ / n, "keep");
    // A live writer's temporary: locked while it is being written.
    platform::AtomicFile live;
    ASSERT_TRUE(live.open(target.string()));
    ASSERT_TRUE(live.write("live"));
    const fs::path stale = dir_ / ".data.txt.abcdefghijkl.tmp";
    writeFile(stale, "stale");
    ASSERT_TRUE(platform::writeFileAtomically(target.string(), "other"));
    EXPECT_FALSE(fs::exists(stale)) << "an unlocked temporary of this file is taken";
    for (const std::string& n : foreign) EXPECT_EQ(readFile(dir_ / n), "keep") << n;
    ASSERT_TRUE(live.commit()) << "the live writer's temporary survived";
    EXPECT_EQ(readFile(target), "live");
}

TEST_F(FileTest, AFileChangedOnDiskIsLeftAsItIsAndTheNewVersionSavedBesideIt) {
    const fs::path target = dir_ / "site.dxf";
    writeFile(target, "read");
    std::string text;
    platform::FileStamp read;
    ASSERT_TRUE(platform::readFile(target.string(), text, 1000, &read));
    EXPECT_EQ(platform::fileStamp(target.string()), read);

    platform::WriteOptions options;
    options.unchangedSince = read;
    options.backupPath = (dir_ / "site.bak").string();
    platform::FileStamp written;
    ASSERT_TRUE(platform::writeFileAtomically(target.string(), "mine 1", options, &written));
    EXPECT_EQ(platform::fileStamp(target.string()), written) << "the version written is the one on disk";
    EXPECT_EQ(readFile(dir_ / "site.bak"), "read");

    // Someone else saves, replacing the file or writing into it.
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"replaced", [&] { ASSERT_TRUE(platform::writeFileAtomically(target.string(), "theirs")); }},
        {"written in place", [&] { std::ofstream(target, std::ios::binary | std::ios::app) << " and more"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& n : names())
            if (n.find("conflict") != std::string::npos) fs::remove(dir_ / n);
        writeFile(target, "mine 1");
        ASSERT_TRUE(platform::readFile(target.string(), text, 1000, &read));
        c.change();
        const std::string theirs = readFile(target);
        options.unchangedSince = read;
        platform::FileStatus s = platform::writeFileAtomically(target.string(), "mine 2", options);
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::changedOnDisk);
        EXPECT_EQ(readFile(target), theirs);
        const fs::path kept = s.error().path;
        EXPECT_EQ(kept.parent_path(), dir_);
        EXPECT_TRUE(kept.filename().string().starts_with("site (conflict ")) << kept;
        EXPECT_EQ(kept.extension(), ".dxf");
        EXPECT_EQ(readFile(kept), "mine 2");
        EXPECT_NE(s.error().message().find(kept.string()), std::string::npos) << s.error().message();
        for (const std::string& n : names()) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
    }

    // A second conflict in the same second gets a name of its own.
    platform::FileStatus again = platform::writeFileAtomically(target.string(), "mine 3", options);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().step, FileStep::changedOnDisk);
    std::size_t conflicts = 0;
    for (const std::string& n : names()) conflicts += n.find("conflict") != std::string::npos;
    EXPECT_EQ(conflicts, 2u);

    // A file removed meanwhile loses nothing when written.
    fs::remove(target);
    ASSERT_TRUE(platform::writeFileAtomically(target.string(), "mine 4", options));
    EXPECT_EQ(readFile(target), "mine 4");
}

TEST_F(FileTest, OfTwoProcessesHoldingTheSameVersionOnlyOneReplacesIt) {
    const fs::path target = dir_ / "Book1.xlsx";
    writeFile(target, "start");
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        std::string text;
        platform::FileStamp read;
        ASSERT_TRUE(platform::readFile(target.string(), text, 1 << 20, &read));
        pid_t children[2];
        for (int p = 0; p < 2; ++p) {
            children[p] = ::fork();
            ASSERT_GE(children[p], 0);
            if (children[p] == 0) {
                platform::WriteOptions options;
                options.unchangedSince = read;
                platform::FileStatus s =
                    platform::writeFileAtomically(target.string(), std::string(1 << 20, char('a' + p)), options);
                ::_exit(s ? 0 : s.error().step == FileStep::changedOnDisk && !s.error().path.empty() ? 1 : 2);
            }
        }
        int outcome[2] = {};
        for (int p = 0; p < 2; ++p) {
            int status = 0;
            ASSERT_EQ(::waitpid(children[p], &status, 0), children[p]);
            ASSERT_TRUE(WIFEXITED(status));
            outcome[p] = WEXITSTATUS(status);
        }
        EXPECT_EQ(outcome[0] + outcome[1], 1) << "one replaces, the other keeps its version beside";
        const char winner = outcome[0] == 0 ? 'a' : 'b';
        EXPECT_EQ(readFile(target), std::string(1 << 20, winner));
        for (const std::string& n : names()) {
            if (n.find("conflict") == std::string::npos) continue;
            EXPECT_EQ(readFile(dir_ / n), std::string(1 << 20, winner == 'a' ? 'b' : 'a'));
            fs::remove(dir_ / n);
        }
        EXPECT_EQ(names(), Names{"Book1.xlsx"});
    }
}

TEST_F(FileTest, LongNamesGetShortTemporariesAndConflictNamesWithinTheLimit) {
    for (std::size_t length : {200u, 248u, 251u, 255u}) {
        SCOPED_TRACE(length);
        std::string name = std::string(length - 5, 'w') + ".xlsx";
        const fs::path target = dir_ / name;
        ASSERT_TRUE(platform::createFileExclusively(target.string(), "one"));
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "two"));
        EXPECT_EQ(readFile(target), "two");
        for (int attempt : {0, 1, 99}) {
            fs::path conflict = platform::conflictPathFor(target.string(), 1765275300, attempt);
            EXPECT_EQ(conflict.parent_path(), dir_);
            EXPECT_LE(conflict.filename().string().size(), std::size_t{NAME_MAX});
            EXPECT_EQ(conflict.extension(), ".xlsx");
            EXPECT_NE(conflict.filename().string().find(" (conflict "), std::string::npos);
        }
        fs::remove(target);
    }
    // A name in several bytes a letter is shortened at a letter's start.
    std::string wide;
    while (wide.size() < 250) wide += "\xC3\xA9";
    fs::path conflict = platform::conflictPathFor((dir_ / (wide + ".dxf")).string(), 1765275300);
    std::string stem = conflict.filename().string();
    stem = stem.substr(0, stem.find(" (conflict"));
    EXPECT_EQ(stem.size() % 2, 0u) << "no letter cut in half";
}

}  // namespace

TEST_F(FileTest, CopiedStretchesComeFromTheSourceOrFromMemoryWhenItCannotBeTrusted) {
    // The source file and the bytes in memory differ on purpose, to tell which one a
    // stretch came from; in use they are the same bytes.
    const fs::path source = dir_ / "source.txt";
    writeFile(source, "0123456789abcdefghij");
    const std::string same = "3456789ABCDEFG";  // in memory: what offset 3 holds, in capitals
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto copyInto = [&](const char* name, std::string_view bytes, const std::function<bool()>& unchanged) {
        platform::AtomicFile file;
        EXPECT_TRUE(file.open((dir_ / name).string()));
        EXPECT_TRUE(file.write("<"));
        platform::FileStatus s = file.copyFrom(fd, 3, bytes, unchanged);
        EXPECT_TRUE(s) << s.error().message();
        EXPECT_TRUE(file.write(">"));
        EXPECT_TRUE(file.commit());
        return readFile(dir_ / name);
    };
    EXPECT_EQ(copyInto("kernel.txt", same, [] { return true; }), "<3456789abcdefg>") << "copied from the file";
    EXPECT_EQ(copyInto("private.txt", same, [] { return false; }), "<3456789ABCDEFG>")
        << "a source that may have changed is not read";
    int asked = 0;
    EXPECT_EQ(copyInto("changed.txt", same, [&] { return ++asked == 1; }), "<3456789ABCDEFG>")
        << "a stretch copied while the source changed is written again from memory";
    // A source cut shorter than the bytes asked for: the rest from memory.
    EXPECT_EQ(copyInto("short.txt", "3456789ABCDEFGHIJKLM", [] { return true; }), "<3456789abcdefghijKLM>");

    // A kernel that cannot copy between the files: written from memory, and not
    // asked again.
    static int refusals = 0;
    struct Refuse {
        static ssize_t call(int, off_t*, int, off_t*, std::size_t, unsigned) {
            ++refusals;
            errno = EXDEV;
            return -1;
        }
    };
    platform::fileSystemCalls().copyFileRange = &Refuse::call;
    {
        platform::AtomicFile file;
        ASSERT_TRUE(file.open((dir_ / "refused.txt").string()));
        EXPECT_TRUE(file.copyFrom(fd, 3, same, [] { return true; }));
        EXPECT_FALSE(file.copiesInKernel());
        EXPECT_TRUE(file.copyFrom(fd, 3, same, [] { return true; }));
        EXPECT_TRUE(file.commit());
    }
    // Any other failure is the write's.
    struct Fail {
        static ssize_t call(int, off_t*, int, off_t*, std::size_t, unsigned) {
            errno = EIO;
            return -1;
        }
    };
    platform::fileSystemCalls().copyFileRange = &Fail::call;
    {
        platform::AtomicFile file;
        ASSERT_TRUE(file.open((dir_ / "failed.txt").string()));
        platform::FileStatus s = file.copyFrom(fd, 3, same, [] { return true; });
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::write);
        EXPECT_EQ(s.error().code, EIO);
        EXPECT_FALSE(file.commit()) << "the file is spoilt";
    }
    platform::fileSystemCalls().copyFileRange = platform::systemFileCalls().copyFileRange.load();
    ::close(fd);
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(readFile(dir_ / "refused.txt"), same + same);
    EXPECT_FALSE(fs::exists(dir_ / "failed.txt"));
}
