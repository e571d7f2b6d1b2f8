// OPEN, SAVE, SAVEAS and LIST through the command line.
#include "tests/host/HostTestSupport.h"

#include <unistd.h>
#include <filesystem>
#include <fstream>

namespace {

class DrawingCommandsTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        folder_ = std::filesystem::temp_directory_path() / ("tablora-drawing-commands-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        HostTest::TearDown();
    }
    std::filesystem::path folder_;
};

TEST_F(DrawingCommandsTest, SavedDrawingOpensAsANewCurrentDocument) {
    std::string path = (folder_ / "plan one.dxf").string();
    feed({"SAVE", path, "OPEN", path, "LIST", "SAVE"});
    host::runCommandLoop();
    std::string out = output_.text();
    EXPECT_TRUE(std::filesystem::exists(path)) << out;
    EXPECT_NE(out.find("Saved " + path + "."), std::string::npos) << out;
    EXPECT_NE(out.find("Opened " + path + "."), std::string::npos) << out;
    EXPECT_EQ(acDocManager->documentCount(), 2);
    ASSERT_NE(acDocManager->curDocument(), document_);
    EXPECT_EQ(std::string(acDocManager->curDocument()->fileName()), path);
    EXPECT_TRUE(std::filesystem::exists(folder_ / "plan one.bak")) << "the second save keeps the first";
}

TEST_F(DrawingCommandsTest, FilesThatAreNoDrawingsAreRefusedWithAMessage) {
    std::ofstream(folder_ / "broken.dxf") << "  0\nSECTION\n  2\nENTITIES\n 10\nabc\n";
    std::size_t before = static_cast<std::size_t>(acDocManager->documentCount());
    feed({"OPEN", (folder_ / "broken.dxf").string(), "OPEN", (folder_ / "absent.dxf").string(), "OPEN", ""});
    host::runCommandLoop();
    EXPECT_EQ(static_cast<std::size_t>(acDocManager->documentCount()), before);
    EXPECT_EQ(acDocManager->curDocument(), document_);
    EXPECT_NE(output_.text().find("broken.dxf"), std::string::npos) << output_.text();
    EXPECT_NE(output_.text().find("absent.dxf"), std::string::npos) << output_.text();
}

}  // namespace
