// Malformed, truncated and hostile drawings are refused with the line at fault, and a
// save that fails leaves the previous file as it was.
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/dxf/DxfTokenizer.h"
#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* kHead = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n";

using tabro::testing::readFile;

}  // namespace

TEST(DxfRefusal, BadInputNamesTheLine) {
    struct Case {
        std::string text;
        const char* expected;  // part of the message
    } cases[] = {
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\nabc\n0\nENDSEC\n0\nEOF\n",
         "line 18: group code 10 expects a number, got 'abc'"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n70\n1.5\n0\nENDSEC\n0\nEOF\n",
         "line 18: group code 70 expects an integer"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\nxx\nLINE\n", "line 15: expected a group code, got 'xx'"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n", "line 17: the file ends after group code 8"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n",
         "the file ends inside the section that began at line 11"},
        {std::string(kHead) + "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n0\nLINE\n0\nENDSEC\n0\nEOF\n",
         "block 'B' has no ENDBLK"},
        {std::string(kHead) +
             "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n0\nENDBLK\n0\nBLOCK\n2\nb\n0\nENDBLK\n0\nENDSEC\n0\nEOF\n",
         "block 'b' is defined twice"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n5\nZZ\n0\nENDSEC\n0\nEOF\n",
         "line 17: group code 5 expects a hexadecimal handle"},
        {std::string(kHead) + "0\nLINE\n", "line 11: group 0 'LINE' outside a section"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nINSERT\n2\nB\n0\nATTRIB\n1\nx\n0\nENDSEC\n0\nEOF\n",
         "without SEQEND"},
        {"AutoCAD Binary DXF\r\n\x1a", "byte 0: the file begins like a binary DXF file but its first 22 bytes"},
        {std::string("\xFF\xFE"
                     "0\0\n\0",
                     6),
         "line 1: the file is UTF-16 text"},
        // Input quoted in a message shows what cannot be seen.
        {std::string(kHead) + "0\nSECTION\n\xEF\xBB\xBF"
                              "2\nENTITIES\n",
         "got '<U+FEFF>2'"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n\xC2\xA0"
                              "10\n",
         "line 17: expected a group code, got '<U+00A0>10'"},
        {std::string(kHead) + "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n1\t\x01\xFF\n", "got '1\\x09\\x01\\xFF'"},
        {"99999\nx\n", "line 1: expected a group code, got '99999'"},
        {std::string("0\nSECTION\n2\nENTITIES\n0\nLINE\n1\n\xff\xfe\n0\nENDSEC\n\nnot blank\n0\nEOF\n"),
         "after a blank line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        auto r = openDrawingText(c.text, "bad.dxf");
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
        EXPECT_EQ(r.error.rfind("bad.dxf: ", 0), 0u) << r.error;
    }
    // Arbitrary bytes never crash or hang the reader.
    std::string noise;
    for (int i = 0; i < 20000; ++i) noise += static_cast<char>((i * 7919) % 251);
    EXPECT_FALSE(openDrawingText(noise));
    EXPECT_FALSE(openDrawingFile("/nonexistent/drawing.dxf").error.empty());
}

// Decoded objects keep 32-bit offsets into the text with one value meaning "absent":
// the longest text allowed is one byte shorter than that value.
TEST(DxfRefusal, TextTooLongForTheOffsetsIsRefused) {
    EXPECT_NO_THROW(hostdb::checkTextSize(std::uint64_t{UINT32_MAX} - 1));
    for (std::uint64_t size : {std::uint64_t{UINT32_MAX}, std::uint64_t{1} << 32, std::uint64_t{5} << 30}) {
        SCOPED_TRACE(size);
        try {
            hostdb::checkTextSize(size);
            ADD_FAILURE() << "not refused";
        } catch (const dxf::DxfError& e) {
            EXPECT_EQ(std::string(e.what()), "line 1: the file has " + std::to_string(size) +
                                                 " bytes; a drawing must be smaller than 4 GB (4294967295 bytes)");
        }
    }
}

TEST(DxfRefusal, FailedSaveKeepsThePreviousFile) {
    tabro::testing::TempDir scratch("dxf-save");
    const fs::path& dir = scratch.path();
    fs::path file = dir / "site.dxf";
    fs::copy_file(fs::path(TABLORA_FIXTURES_DIR) / "dxf/tagged_r2000.dxf", file, fs::copy_options::overwrite_existing);
    std::string before = readFile(file);
    auto r = openDrawingFile(file.string());
    ASSERT_TRUE(r) << r.error;
    ASSERT_EQ(r.database->setLuprec(6), Acad::eOk);

    DrawingSaveResult failed;
    {
        platform::test::FileFault full(platform::test::FileCall::write, ENOSPC);
        failed = saveDrawing(*r.database);
    }
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.error.find("No space left on device"), std::string::npos) << failed.error;
    EXPECT_NE(failed.error.find("previous file is unchanged"), std::string::npos) << failed.error;
    EXPECT_EQ(readFile(file), before);
    EXPECT_TRUE(r.database->isModified());
    std::size_t leftovers = 0;
    for (auto& e : fs::directory_iterator(dir)) leftovers += e.path() != file;
    EXPECT_EQ(leftovers, 0u) << "no temporary file is left behind";

    auto ok = saveDrawing(*r.database);
    ASSERT_TRUE(ok) << ok.error;
    EXPECT_FALSE(r.database->isModified());
    EXPECT_EQ(readFile(dir / "site.bak"), before) << "the previous file is kept as .bak";
    auto again = openDrawingFile(file.string());
    ASSERT_TRUE(again) << again.error;
    EXPECT_EQ(again.database->luprec(), 6);

    auto as = saveDrawingAs(*r.database, (dir / "copy.dxf").string());
    ASSERT_TRUE(as) << as.error;
    EXPECT_EQ(r.database->fileName(), (dir / "copy.dxf").string());
}
