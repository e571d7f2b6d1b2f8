// Drawings made to break the reader or the writer: code pages that do not keep ASCII,
// values whose bytes would hold a line break, and the refusals that name the line.
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/EntityCodec.h"
#include "host/dxf/DxfTokenizer.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string lines(std::initializer_list<std::string> ls) {
    std::string s;
    for (const std::string& l : ls) (s += l) += '\n';
    return s;
}

// An R2000 drawing in `codePage` with layers 0 and `layer` (as the file spells it) and
// one reference (handle 40) to block DOOR on layer 0.
std::string drawingIn(const std::string& codePage, const std::string& layer = "Walls") {
    return lines({"0",  "SECTION", "2",  "HEADER",    "9",  "$ACADVER", "1",  "AC1015",  "9",  "$DWGCODEPAGE",
                  "3",  codePage,  "9",  "$HANDSEED", "5",  "100",      "0",  "ENDSEC",  "0",  "SECTION",
                  "2",  "TABLES",  "0",  "TABLE",     "2",  "LAYER",    "0",  "LAYER",   "5",  "20",
                  "2",  "0",       "70", "0",         "0",  "LAYER",    "5",  "21",      "2",  layer,
                  "70", "0",       "0",  "ENDTAB",    "0",  "ENDSEC",   "0",  "SECTION", "2",  "BLOCKS",
                  "0",  "BLOCK",   "5",  "30",        "2",  "DOOR",     "70", "0",       "10", "0.0",
                  "20", "0.0",     "30", "0.0",       "0",  "ENDBLK",   "5",  "31",      "0",  "ENDSEC",
                  "0",  "SECTION", "2",  "ENTITIES",  "0",  "INSERT",   "5",  "40",      "8",  "0",
                  "2",  "DOOR",    "10", "1.0",       "20", "2.0",      "30", "0.0",     "0",  "ENDSEC",
                  "0",  "EOF"});
}

AcDbObjectId idOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << std::hex << handle;
    return id;
}

}  // namespace

TEST(DxfHostile, CodePagesThatDoNotKeepAsciiAreRefusedNamingThem) {
    // In EBCDIC a text's bytes can hold a line end (U+008E is 0x0A in code page 037),
    // which would write new tags into the drawing; its group codes are not even ASCII.
    for (const char* page : {"ANSI_037", "ANSI_1026", "DOS500", "dos500"}) {
        SCOPED_TRACE(page);
        auto r = openDrawingText(drawingIn(page), "ebcdic.dxf");
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find("ebcdic.dxf: line 12: "), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(std::string("'") + page + "'"), std::string::npos) << r.error;
    }
    for (const char* page : {"ANSI_1252", "ANSI_1250", "ANSI_1251", "ANSI_932", "ANSI_936", "ANSI_949", "DOS437", ""}) {
        SCOPED_TRACE(page);
        auto r = openDrawingText(drawingIn(page), "fine.dxf");
        EXPECT_TRUE(r) << r.error;
    }
}

TEST(DxfHostile, AValueThatWouldHoldALineBreakFailsTheSaveNamingTheObject) {
    // The file spells a line break in a layer's name as an escape; moving a reference
    // onto that layer would write the break itself.
    auto r = openDrawingText(drawingIn("ANSI_1252", "A\\U+000AB"), "escape.dxf");
    ASSERT_TRUE(r) << r.error;
    {
        AcDbObjectPointer<AcDbBlockReference> ref(idOf(*r.database, 0x40), AcDb::kForWrite);
        ASSERT_TRUE(ref);
        ASSERT_EQ(ref->setLayer("A\nB"), Acad::eOk);
    }
    fs::path dir = fs::temp_directory_path() / ("tablora-hostile-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path file = dir / "escape.dxf";
    DrawingSaveResult saved = saveDrawingAs(*r.database, file.string());
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.error.find("INSERT 40"), std::string::npos) << saved.error;
    EXPECT_NE(saved.error.find("group code 8"), std::string::npos) << saved.error;
    EXPECT_NE(saved.error.find("previous file is unchanged"), std::string::npos) << saved.error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(dir)) << "no temporary file is left behind";
    EXPECT_THROW(writeDrawingText(*r.database), hostdb::UnwritableValue);
    fs::remove_all(dir);
}

TEST(DxfHostile, RealsMustBeFiniteNumbersADoubleHolds) {
    auto withValue = [](const std::string& value) {
        return "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n" + value + "\n0\nENDSEC\n0\nEOF\n";
    };
    for (const char* bad :
         {"nan", "NaN", "-nan", "inf", "-inf", "infinity", "1e999", "-1e999", "1e309", "\t1e400", "923456789e300"}) {
        SCOPED_TRACE(bad);
        auto r = openDrawingText(withValue(bad), "bad.dxf");
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find("bad.dxf: line 8: group code 10 expects a number"), std::string::npos) << r.error;
    }
    // The largest double, and values so small that they are zero, are numbers.
    for (const char* fine :
         {"1.7976931348623157e308", "-1.7976931348623157E+308", "1e-999", "0e999", "1.5", " 2.", "\t3"}) {
        SCOPED_TRACE(fine);
        auto r = openDrawingText(withValue(fine), "fine.dxf");
        EXPECT_TRUE(r) << r.error;
    }
}

namespace {

// Counts what the file layer reads while it lives.
class ReadCounter {
public:
    ReadCounter() {
        bytes_ = 0;
        platform::fileSystemCalls().read = [](int fd, void* buffer, std::size_t size) -> ssize_t {
            ssize_t got = platform::systemFileCalls().read.load()(fd, buffer, size);
            if (got > 0) bytes_ += static_cast<std::uint64_t>(got);
            return got;
        };
    }
    ~ReadCounter() { platform::fileSystemCalls().read = platform::systemFileCalls().read.load(); }
    std::uint64_t bytes() const { return bytes_; }

private:
    static inline std::atomic<std::uint64_t> bytes_{0};
};

}  // namespace

TEST(DxfHostile, ALineLongerThanAnyDrawingHasIsRefusedWithoutReadingTheRest) {
    const std::string head = "0\nSECTION\n2\nENTITIES\n0\nLINE\n1\n";
    // In memory: the reader looks no further than the bound.
    auto r = openDrawingText(head + std::string(dxf::kMaxLineBytes + 1, 'x') + "\n0\nENDSEC\n0\nEOF\n", "long.dxf");
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("long.dxf: line 8: the line is longer than"), std::string::npos) << r.error;
    // Exactly at the bound, with either line ending, a line is read.
    for (const char* eol : {"\n", "\r\n"}) {
        std::string text = head + std::string(dxf::kMaxLineBytes, 'x') + eol + "0\nENDSEC\n0\nEOF\n";
        EXPECT_TRUE(openDrawingText(text, "bound.dxf")) << (eol[0] == '\r' ? "CR LF" : "LF");
    }

    // On disk: a gigabyte on one line (a sparse file) is refused after about a
    // megabyte has been read.
    fs::path dir = fs::temp_directory_path() / ("tablora-long-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path file = dir / "long.dxf";
    std::ofstream(file, std::ios::binary) << head;
    fs::resize_file(file, std::uint64_t{1} << 30);
    DrawingOpenResult opened;
    std::uint64_t read = 0;
    {
        ReadCounter counter;
        opened = openDrawingFile(file.string());
        read = counter.bytes();
    }
    EXPECT_FALSE(opened);
    EXPECT_NE(opened.error.find(file.string() + ": line 8: the line is longer than"), std::string::npos)
        << opened.error;
    EXPECT_LT(read, std::uint64_t{4} << 20);
    fs::remove_all(dir);
}
