// The file layer: a replacement that fails at any step leaves the previous file and
// no temporary, modes and backups, the read limit, symbolic links at the target and
// exclusive creation.
#include "platform/File.h"

#include "tests/common/FileFault.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::FileStep;
using platform::test::FileCall;
using platform::test::FileFault;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

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
    void SetUp() override {
        char tmpl[] = "/tmp/file-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // Every name in the folder (and its subfolders), sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            out.push_back(fs::relative(e.path(), dir_).string());
        std::sort(out.begin(), out.end());
        return out;
    }
    fs::path dir_;
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
        spit(target, "old content");
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
        EXPECT_EQ(slurp(target), "old content");
        // A backup made before the failing step holds the old content too.
        for (const std::string& n : names()) {
            EXPECT_TRUE(n == "data.txt" || n == "data.bak") << n << " left behind";
            if (n == "data.bak") {
                EXPECT_EQ(slurp(bak), "old content");
            }
        }
    }
}

TEST_F(FileTest, WritesCutShortAreResumedAndFailuresAfterThemClean) {
    const fs::path target = dir_ / "data.txt";
    spit(target, "old");
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
    EXPECT_EQ(slurp(target), "old");
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
    EXPECT_EQ(slurp(target), content);
}

TEST_F(FileTest, AFailedFolderSyncIsReportedAfterTheFileIsReplaced) {
    const fs::path target = dir_ / "data.txt";
    spit(target, "old");
    FileFault folderSync(FileCall::fsync, EIO, 1);  // the first fsync is the temporary's
    platform::FileStatus s = platform::writeFileAtomically(target.string(), "new");
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().step, FileStep::syncFolder);
    EXPECT_EQ(slurp(target), "new");
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
            spit(target, "old");
            ASSERT_EQ(::chmod(target.c_str(), *c.existing), 0);
        }
        platform::WriteOptions options;
        options.newFileMode = c.newFileMode;
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "new", options));
        EXPECT_EQ(modeOf(target), c.expected);
        EXPECT_EQ(slurp(target), "new");

        fs::remove(target);
        if (!c.existing) {
            ASSERT_TRUE(platform::createFileExclusively(target.string(), "new", options));
            EXPECT_EQ(modeOf(target), c.expected) << "created exclusively";
        }
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
        EXPECT_EQ(slurp(bak), "one");
        ASSERT_TRUE(platform::writeFileAtomically(target.string(), "three", options));
        EXPECT_EQ(slurp(bak), "two") << "an older backup is replaced";
        EXPECT_EQ(slurp(target), "three");
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
        spit(file, content);
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

    spit(dir_ / "data.txt", "abc");
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
            spit(dir_ / c.target, "old");
            ::chmod((dir_ / c.target).c_str(), 0600);
        }
        platform::AtomicFile file;
        ASSERT_TRUE(file.open((dir_ / "name.txt").string()));
        EXPECT_EQ(fs::path(file.target()).lexically_normal(), (dir_ / c.target).lexically_normal());
        ASSERT_TRUE(file.write("new"));
        ASSERT_TRUE(file.commit());
        for (const auto& [name, to] : c.links) EXPECT_TRUE(fs::is_symlink(dir_ / name)) << name;
        EXPECT_EQ(slurp(dir_ / c.target), "new");
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
    EXPECT_EQ(slurp(file), "mine");

    struct Case {
        const char* name;
        std::function<void()> occupy;
    };
    const Case cases[] = {
        {"a file", [&] { spit(file, "theirs"); }},
        {"a dangling link", [&] { fs::create_symlink(dir_ / "elsewhere.xlsx", file); }},
        {"a folder", [&] { fs::create_directory(file); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(file);
        c.occupy();
        Names before = names();
        std::string contentBefore = fs::is_regular_file(file) ? slurp(file) : "";
        platform::FileStatus s = platform::createFileExclusively(file.string(), "mine");
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().step, FileStep::create);
        EXPECT_EQ(s.error().code, EEXIST);
        EXPECT_EQ(names(), before) << "nothing created, no temporary left";
        if (fs::is_regular_file(file)) {
            EXPECT_EQ(slurp(file), contentBefore);
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
    spit(dir_ / "data.txt", "old");
    FileFault secondRename(FileCall::rename, EIO, 1);
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "one"));
    EXPECT_FALSE(platform::writeFileAtomically((dir_ / "data.txt").string(), "two"));
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "three"));
    EXPECT_EQ(secondRename.calls(), 3);
    EXPECT_EQ(secondRename.failures(), 1);
    EXPECT_EQ(slurp(dir_ / "data.txt"), "three");
    {
        FileFault alsoRename(FileCall::rename, EXDEV, 0, -1);
        EXPECT_FALSE(platform::writeFileAtomically((dir_ / "data.txt").string(), "four"));
    }
    // The inner fault is gone; the outer one still sees renames, and fails no more.
    EXPECT_TRUE(platform::writeFileAtomically((dir_ / "data.txt").string(), "five"));
    EXPECT_EQ(secondRename.calls(), 5);
    EXPECT_EQ(slurp(dir_ / "data.txt"), "five");
}

TEST_F(FileTest, FoldersAreCreatedWithTheirParents) {
    const fs::path deep = dir_ / "a" / "b" / "c";
    ASSERT_TRUE(platform::createFolders(deep.string()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(platform::createFolders(deep.string())) << "a folder already there is fine";
    spit(dir_ / "file", "x");
    platform::FileStatus blocked = platform::createFolders((dir_ / "file" / "sub").string());
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().step, FileStep::createFolder);
}

}  // namespace
