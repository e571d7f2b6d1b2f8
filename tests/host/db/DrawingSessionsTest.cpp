// Drawings shared between sessions and odd files at the name: a save over a file
// another session saved meanwhile keeps theirs and puts ours beside it (in one
// process and between two cadhost runs), a linked drawing gets its .bak beside the
// linked file, special files are refused without waiting on them, and a failed
// save makes cadhost's script run fail, telling it once.
#include "host/db/DrawingFile.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using tabro::testing::readFile;

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct CadhostRun {
    int status = -1;  // the exit status; 124 when it had to be stopped
    std::string output;
};

class DrawingSessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "home");
        file_ = dir_ / "site.dxf";
        fs::copy_file(fs::path(TABLORA_FIXTURES_DIR) / "dxf/tagged_r2000.dxf", file_);
        original_ = readFile(file_);
    }
    std::unique_ptr<AcDbDatabase> openChanged(const fs::path& path, int luprec) {
        auto r = openDrawingFile(path.string());
        EXPECT_TRUE(r) << r.error;
        if (!r) return nullptr;
        EXPECT_EQ(r.database->setLuprec(luprec), Acad::eOk);
        return std::move(r.database);
    }
    std::vector<fs::path> conflictCopies() const {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string().find("(conflict ") != std::string::npos) found.push_back(e.path());
        return found;
    }
    // Starts cadhost on a script in the background, stopped after 60 s.
    std::string command(const std::vector<std::string>& lines, const std::string& arguments, const char* name) {
        const fs::path script = dir_ / name;
        std::ofstream out(script);
        for (const std::string& l : lines) out << l << "\n";
        return "cd '" + dir_.string() + "' && CADHOST_HOME='" + (dir_ / "home").string() + "' timeout 60 '" +
               TABLORA_BIN_DIR + "/cadhost' --script '" + script.string() + "' " + arguments + " </dev/null 2>&1";
    }
    static CadhostRun run(const std::string& command) {
        CadhostRun r;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
            int status = ::pclose(pipe);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return r;
    }
    tabro::testing::TempDir scratch_{"drawing-sessions"};
    const fs::path dir_ = scratch_.path();
    fs::path file_;
    std::string original_;
};

TEST_F(DrawingSessionsTest, ASaveOverAnotherSessionsSaveKeepsTheirsAndPutsOursBeside) {
    auto first = openChanged(file_, 5);
    auto second = openChanged(file_, 7);
    ASSERT_TRUE(first && second);
    auto saved = saveDrawing(*first);
    ASSERT_TRUE(saved) << saved.error;
    const std::string theirs = readFile(file_);

    auto conflicted = saveDrawing(*second);
    ASSERT_FALSE(conflicted);
    EXPECT_EQ(readFile(file_), theirs) << "the other session's save is not overwritten";
    std::vector<fs::path> copies = conflictCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(copies[0].filename().string().starts_with("site (conflict ")) << copies[0];
    EXPECT_EQ(copies[0].extension(), ".dxf");
    EXPECT_EQ(readFile(copies[0]), writeDrawingText(*second));
    EXPECT_NE(conflicted.error.find(file_.string()), std::string::npos) << conflicted.error;
    EXPECT_NE(conflicted.error.find(copies[0].string()), std::string::npos) << conflicted.error;
    EXPECT_TRUE(second->isModified()) << "the drawing is not where it was to be saved";
    EXPECT_EQ(readFile(dir_ / "site.bak"), original_) << "the backup is of the version the first save replaced";

    // The session that saved last goes on saving to its file; so does one that saves
    // again and again on its own.
    EXPECT_EQ(first->setLuprec(3), Acad::eOk);
    ASSERT_TRUE(saveDrawing(*first));
    ASSERT_TRUE(saveDrawing(*first));
    EXPECT_EQ(conflictCopies().size(), 1u);
}

TEST_F(DrawingSessionsTest, TwoCadhostRunsOnOneDrawingLoseNeitherSave) {
    std::ofstream(dir_ / "other.dxf", std::ios::binary) << original_;
    // A: opens the drawing, waits, then saves. B saves over it meanwhile, from another drawing.
    FILE* a = ::popen(command({"DELAY 3000", "SAVE", "QUIT"}, "site.dxf", "a.scr").c_str(), "r");
    ASSERT_NE(a, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    CadhostRun b = run(command({"SAVEAS", file_.string(), "QUIT"}, "other.dxf", "b.scr"));
    EXPECT_EQ(b.status, 0) << b.output;
    const std::string theirs = readFile(file_);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, a)) > 0;) out.append(buffer, n);
    int status = ::pclose(a);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0) << "a save that did not go where asked fails the run\n" << out;
    EXPECT_EQ(readFile(file_), theirs);
    std::vector<fs::path> copies = conflictCopies();
    ASSERT_EQ(copies.size(), 1u) << out;
    // Named as the drawing was given, beside it.
    EXPECT_EQ(count(out, copies[0].filename().string()), 1u) << "said once, naming where A's drawing is\n" << out;
    EXPECT_EQ(count(out, "Saved "), 0u) << out;
}

TEST_F(DrawingSessionsTest, ALinkedDrawingIsSavedThroughTheLinkWithItsBackupBesideTheLinkedFile) {
    fs::create_directories(dir_ / "projects");
    fs::rename(file_, dir_ / "projects" / "real.dxf");
    fs::create_symlink("projects/real.dxf", file_);
    auto db = openChanged(file_, 6);
    ASSERT_TRUE(db);
    auto saved = saveDrawing(*db);
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(readFile(dir_ / "projects" / "real.dxf"), writeDrawingText(*db));
    const fs::path bak = dir_ / "projects" / "real.bak";
    ASSERT_TRUE(fs::exists(fs::symlink_status(bak)));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(bak)));
    EXPECT_EQ(readFile(bak), original_);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "site.bak"))) << "nothing beside the link";
}

TEST_F(DrawingSessionsTest, SpecialFilesAsDrawingWorkbookOrHiveAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo((dir_ / "pipe.dxf").c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] { return openDrawingFile((dir_ / "pipe.dxf").string()); });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "still waiting on the pipe after 5 s";
        int writer = ::open((dir_ / "pipe.dxf").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    DrawingOpenResult r = opened.get();
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("pipe.dxf: not a regular file"), std::string::npos) << r.error;

    ASSERT_EQ(::mkfifo((dir_ / "pipe.xlsx").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string arguments;
        std::string said;
        std::string pipe;  // below dir_
        bool isHive = false;
    };
    const Case cases[] = {
        {"drawing", "pipe.dxf", "pipe.dxf: not a regular file", "pipe.dxf"},
        {"workbook", "--workbook pipe.xlsx site.dxf", "pipe.xlsx: not a regular file", "pipe.xlsx"},
        {"user hive", "site.dxf", "", "home/user.reg", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.isHive) {
            ASSERT_EQ(::mkfifo((dir_ / "home" / "user.reg").c_str(), 0600), 0);
        }
        CadhostRun r = run(command({"QUIT"}, c.arguments, "quit.scr"));
        EXPECT_NE(r.status, 124) << "cadhost waited on the pipe\n" << r.output;
        if (!c.isHive) {
            EXPECT_EQ(r.status, 1) << r.output;
            EXPECT_EQ(count(r.output, c.said), 1u) << r.output;
        }
        EXPECT_TRUE(fs::is_fifo(dir_ / c.pipe)) << "left as it is";
    }
}

TEST_F(DrawingSessionsTest, AFailedSaveFailsTheScriptRunAndIsToldOnce) {
    const std::string nowhere = (dir_ / "no such folder" / "site.dxf").string();
    CadhostRun r = run(command({"SAVEAS", nowhere, "QUIT"}, "site.dxf", "fail.scr"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(count(r.output, "could not save " + nowhere), 1u) << r.output;
    CadhostRun fine = run(command({"SAVE", "QUIT"}, "site.dxf", "fine.scr"));
    EXPECT_EQ(fine.status, 0) << fine.output;
}

}  // namespace
