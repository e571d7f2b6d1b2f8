// Drawings on disk: a save failing at any step keeps the previous file and its .bak,
// the previous file becomes the .bak, a linked drawing is saved through the link,
// and a file too large for the database is refused in the database's words.
#include "host/db/DrawingFile.h"

#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using platform::test::FileCall;
using platform::test::FileFault;

namespace {

using tabro::testing::readFile;

class DrawingFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_ / "site.dxf";
        fs::copy_file(fs::path(TABLORA_FIXTURES_DIR) / "dxf/tagged_r2000.dxf", file_);
        original_ = readFile(file_);
    }
    // The drawing at `path`, opened and changed so that a save writes something new.
    std::unique_ptr<AcDbDatabase> openChanged(const fs::path& path) {
        auto r = openDrawingFile(path.string());
        EXPECT_TRUE(r) << r.error;
        if (!r) return nullptr;
        EXPECT_EQ(r.database->setLuprec(6), Acad::eOk);
        return std::move(r.database);
    }
    tabro::testing::TempDir scratch_{"drawing-save"};
    const fs::path dir_ = scratch_.path();
    fs::path file_;
    std::string original_;
};

TEST_F(DrawingFileTest, AFailedSaveKeepsThePreviousFileAndItsBackup) {
    std::ofstream(dir_ / "site.bak", std::ios::binary) << "older backup";
    struct Case {
        const char* name;
        FileCall call;
        int error;
        const char* what;  // in the message
    };
    const Case cases[] = {
        {"no temporary", FileCall::open, EACCES, "cannot create a temporary file"},
        {"disk full", FileCall::write, ENOSPC, "write failed"},
        {"sync", FileCall::fsync, EIO, "write failed"},
        {"backup", FileCall::unlink, EACCES, "cannot keep the previous file as"},
        {"rename", FileCall::rename, EXDEV, "cannot replace the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto db = openChanged(file_);
        ASSERT_TRUE(db);
        DrawingSaveResult r;
        {
            FileFault fault(c.call, c.error);
            r = saveDrawing(*db);
        }
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find(c.what), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(std::strerror(c.error)), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("the previous file is unchanged"), std::string::npos) << r.error;
        EXPECT_TRUE(db->isModified());
        EXPECT_EQ(readFile(file_), original_);
        std::size_t files = 0;
        for (const auto& e : fs::directory_iterator(dir_)) {
            ++files;
            EXPECT_TRUE(e.path() == file_ || e.path() == dir_ / "site.bak") << e.path() << " left behind";
        }
        EXPECT_EQ(files, 2u);
        // The rename is the last step: only there has the backup been made already.
        EXPECT_EQ(readFile(dir_ / "site.bak"), c.call == FileCall::rename ? original_ : "older backup");
        std::ofstream(dir_ / "site.bak", std::ios::binary) << "older backup";
    }
}

TEST_F(DrawingFileTest, TheSavedFileKeepsItsModeAndThePreviousOneIsTheBackup) {
    ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
    auto db = openChanged(file_);
    ASSERT_TRUE(db);
    auto r = saveDrawing(*db);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(readFile(dir_ / "site.bak"), original_);
    EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    auto again = openDrawingFile(file_.string());
    ASSERT_TRUE(again) << again.error;
    EXPECT_EQ(again.database->luprec(), 6);

    // Saved under a new name, there is nothing to keep; the new file is 0644.
    auto as = saveDrawingAs(*db, (dir_ / "copy.dxf").string());
    ASSERT_TRUE(as) << as.error;
    EXPECT_FALSE(fs::exists(dir_ / "copy.bak"));
    EXPECT_EQ(fs::status(dir_ / "copy.dxf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(DrawingFileTest, ALinkedDrawingIsSavedThroughTheLink) {
    fs::create_directories(dir_ / "project");
    fs::rename(file_, dir_ / "project" / "real.dxf");
    fs::create_symlink("project/real.dxf", file_);
    auto db = openChanged(file_);
    ASSERT_TRUE(db);
    auto r = saveDrawing(*db);
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(fs::is_symlink(file_)) << "the link is not replaced by a copy";
    EXPECT_NE(readFile(dir_ / "project" / "real.dxf"), original_);
    // The backup sits beside the file the link leads to, named after it, as a file of
    // its own; nothing is left beside the link.
    EXPECT_FALSE(fs::is_symlink(dir_ / "project" / "real.bak"));
    EXPECT_EQ(readFile(dir_ / "project" / "real.bak"), original_);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "site.bak")));
    EXPECT_EQ(db->fileName(), file_.string());
}

TEST_F(DrawingFileTest, AFileTooLargeForTheDatabaseIsRefusedUnread) {
    const fs::path huge = dir_ / "huge.dxf";
    const std::uint64_t size = (std::uint64_t{1} << 32) + 10;
    std::error_code ec;
    { std::ofstream create(huge); }
    // A sparse file: the size is all that matters, nothing is read.
    fs::resize_file(huge, size, ec);
    if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
    auto r = openDrawingFile(huge.string());
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, huge.string() + ": line 1: the file has " + std::to_string(size) +
                           " bytes; a drawing must be smaller than 4 GB (4294967295 bytes)");
}

}  // namespace
