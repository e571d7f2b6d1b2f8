// OPEN, SAVE, SAVEAS and LIST through the command line.
#include "tests/common/TestFiles.h"
#include "tests/host/HostTestSupport.h"

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using tabro::testing::readFile;
using tabro::testing::writeFile;

class DrawingCommandsTest : public HostTest {
protected:
    tabro::testing::TempDir scratch_{"drawing-commands"};
    const std::filesystem::path folder_ = scratch_.path();
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

TEST_F(DrawingCommandsTest, SavingOverAFileThatMayBeTruncatedAsksFirst) {
    // The drawing as a transfer that broke after a section left it: no 0/EOF.
    const std::string drawing = readFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
    const std::string cut = drawing.substr(0, drawing.rfind("  0\r\nEOF"));
    const std::string path = (folder_ / "cut.dxf").string(), other = (folder_ / "whole.dxf").string();
    writeFile(path, cut);

    // cadhost says so as it opens the drawing.
    std::ofstream(folder_ / "quit.scr") << "QUIT\n";
    const std::string command = "CADHOST_HOME='" + folder_.string() + "' '" + TABLORA_BIN_DIR + "/cadhost' --script '" +
                                (folder_ / "quit.scr").string() + "' '" + path + "' 2>&1";
    std::string printed;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.append(buffer, n);
        EXPECT_EQ(::pclose(pipe), 0) << printed;
    }
    EXPECT_NE(printed.find("cadhost: warning: " + path + ": line "), std::string::npos) << printed;
    EXPECT_NE(printed.find("may be truncated"), std::string::npos) << printed;

    const std::string question = "Save over it anyway? [Yes/No] <No>: ";
    auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };

    feed({"OPEN", path, "SAVE", "", "SAVE", "No", "SAVE", "^C"});
    host::runCommandLoop();
    std::string out = output_.text();
    EXPECT_NE(out.find("Warning: " + path + ": line "), std::string::npos) << out;
    EXPECT_NE(out.find("may be truncated"), std::string::npos) << out;
    EXPECT_EQ(count(out, question), 3u) << out;
    EXPECT_EQ(count(out, "Not saved"), 3u) << out;
    EXPECT_EQ(readFile(path), cut) << "Enter, No and Escape leave the file alone";
    EXPECT_FALSE(std::filesystem::exists(folder_ / "cut.bak"));

    // Under another name nothing is asked, nor when saving to that name again.
    output_.clear();
    feed({"SAVEAS", other, "SAVE"});
    host::runCommandLoop();
    out = output_.text();
    EXPECT_EQ(count(out, question), 0u) << out;
    EXPECT_EQ(count(out, "Saved " + other + "."), 2u) << out;
    EXPECT_EQ(readFile(other).substr(readFile(other).size() - 10), "  0\r\nEOF\r\n");

    // Yes replaces the file; it is whole then, and the next save asks no more.
    output_.clear();
    feed({"OPEN", path, "SAVE", "Yes", "SAVE"});
    host::runCommandLoop();
    out = output_.text();
    EXPECT_EQ(count(out, question), 1u) << out;
    EXPECT_EQ(count(out, "Saved " + path + "."), 2u) << out;
    EXPECT_EQ(readFile(path), cut + "  0\r\nEOF\r\n");
}

}  // namespace
