// Drawings made to break the reader or the writer: code pages that do not keep ASCII,
// values whose bytes would hold a line break, and the refusals that name the line.
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/EntityCodec.h"
#include "host/dxf/DxfTokenizer.h"
#include "platform/File.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

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
    tabro::testing::TempDir scratch("dxf-hostile");
    const fs::path& dir = scratch.path();
    fs::path file = dir / "escape.dxf";
    DrawingSaveResult saved = saveDrawingAs(*r.database, file.string());
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.error.find("INSERT 40"), std::string::npos) << saved.error;
    EXPECT_NE(saved.error.find("group code 8"), std::string::npos) << saved.error;
    EXPECT_NE(saved.error.find("previous file is unchanged"), std::string::npos) << saved.error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(dir)) << "no temporary file is left behind";
    EXPECT_THROW(writeDrawingText(*r.database), hostdb::UnwritableValue);
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
    tabro::testing::TempDir scratch("dxf-long");
    fs::path file = scratch.path() / "long.dxf";
    tabro::testing::writeFile(file, head);
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
}

namespace {

std::size_t lineAt(const std::string& text, std::size_t offset) {
    return static_cast<std::size_t>(
               std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n')) +
           1;
}

double xOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectPointer<AcDbBlockReference> ref(idOf(db, handle), AcDb::kForRead);
    return ref ? ref->position().x : -1;
}

}  // namespace

TEST(DxfHostile, RepeatedHandlesAreRenumberedAboveTheSeedAndSaidSo) {
    // A reference copied by hand with its attributes and SEQEND, handles and all (in a
    // file with CR LF line ends).
    const std::string original = tabro::testing::readFile(fs::path(TABLORA_FIXTURES_DIR) / "dxf/tagged_r2000.dxf");
    const std::size_t from = original.find("  0\r\nINSERT\r\n  5\r\n2F4\r\n"),
                      to = original.find("  0\r\nINSERT\r\n  5\r\n2F8\r\n");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    std::string copy = original.substr(from, to - from);
    copy.replace(copy.find(" 10\r\n10.0\r\n"), 11, " 10\r\n20.0\r\n");
    const std::size_t at = original.find("  0\r\nENDSEC\r\n", to);
    const std::string text = original.substr(0, at) + copy + original.substr(at);
    const std::size_t copyLine = lineAt(text, at + copy.find("2F4")), firstLine = lineAt(text, from + 18);

    auto r = openDrawingText(text, "copied.dxf");
    ASSERT_TRUE(r) << r.error;
    ASSERT_EQ(r.warnings.size(), 4u);
    EXPECT_EQ(r.warnings[0], "copied.dxf: line " + std::to_string(copyLine) +
                                 ": the INSERT has handle 2F4, which the INSERT at line " + std::to_string(firstLine) +
                                 " has; it now has handle 300 (what refers to 2F4 keeps meaning the INSERT)");
    EXPECT_NE(r.warnings[3].find("the SEQEND has handle 2F7"), std::string::npos) << r.warnings[3];
    EXPECT_NE(r.warnings[3].find("it now has handle 303"), std::string::npos) << r.warnings[3];

    // Edits reach the object they name: the first keeps its handle, the copy has its own.
    EXPECT_EQ(xOf(*r.database, 0x2F4), 10.0);
    EXPECT_EQ(xOf(*r.database, 0x300), 20.0);
    {
        AcDbObjectPointer<AcDbBlockReference> ref(idOf(*r.database, 0x300), AcDb::kForWrite);
        ASSERT_TRUE(ref);
        ASSERT_EQ(ref->setPosition(AcGePoint3d(25.0, 5.0, 0.0)), Acad::eOk);
        std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
        std::vector<std::uint64_t> attributes;
        for (it->start(); !it->done(); it->step()) attributes.push_back(it->objectId().handle().value());
        EXPECT_EQ(attributes, (std::vector<std::uint64_t>{0x301, 0x302}));
    }
    const std::string written = writeDrawingText(*r.database);
    EXPECT_NE(written.find("$HANDSEED\r\n  5\r\n304\r\n"), std::string::npos);

    auto again = openDrawingText(written, "copied.dxf");
    ASSERT_TRUE(again) << again.error;
    EXPECT_TRUE(again.warnings.empty()) << again.warnings.front();
    EXPECT_EQ(xOf(*again.database, 0x2F4), 10.0);
    EXPECT_EQ(xOf(*again.database, 0x300), 25.0);

    // A reader we did not write finds every handle once and nothing to repair.
    if (std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ezdxf";
    tabro::testing::TempDir scratch("dxf-handles");
    const fs::path& dir = scratch.path();
    tabro::testing::writeFile(dir / "copied.dxf", written);
    const std::string check =
        "import ezdxf, sys\n"
        "doc = ezdxf.readfile(sys.argv[1])\n"
        "auditor = doc.audit()\n"
        "handles = [e.dxf.handle for e in doc.modelspace()] + [a.dxf.handle for i in doc.modelspace().query('INSERT')"
        " for a in i.attribs]\n"
        "sys.exit(0 if not auditor.has_errors and len(handles) == len(set(handles)) == 7 else 1)\n";
    tabro::testing::writeFile(dir / "check.py", check);
    const std::string command =
        "/usr/bin/python3 " + (dir / "check.py").string() + " " + (dir / "copied.dxf").string() + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(DxfHostile, AnEmptyFileIsRefusedAndOneWithoutEofOpensWithAWarning) {
    for (const char* empty : {"", "\n\n  \r\n"}) {
        auto r = openDrawingText(empty, "empty.dxf");
        EXPECT_FALSE(r);
        EXPECT_EQ(r.error.rfind("empty.dxf: line 1: the file ", 0), 0u) << r.error;
    }
    const std::string whole = tabro::testing::readFile(fs::path(TABLORA_FIXTURES_DIR) / "dxf/tagged_r2000.dxf");
    auto complete = openDrawingText(whole, "whole.dxf");
    ASSERT_TRUE(complete) << complete.error;
    EXPECT_TRUE(complete.warnings.empty());

    // Cut right after each ENDSEC, with the line end, without it, or with blank lines.
    const std::string endsec = "  0\r\nENDSEC\r\n";
    for (std::size_t at = whole.find(endsec); at != std::string::npos; at = whole.find(endsec, at + 1)) {
        const std::string cut = whole.substr(0, at + endsec.size());
        for (const std::string& text : {cut, cut.substr(0, cut.size() - 2), cut + "\r\n\r\n"}) {
            SCOPED_TRACE("cut at line " + std::to_string(lineAt(whole, at)) + ", " + std::to_string(text.size()) +
                         " bytes");
            auto r = openDrawingText(text, "cut.dxf");
            ASSERT_TRUE(r) << r.error;
            ASSERT_EQ(r.warnings.size(), 1u);
            EXPECT_NE(r.warnings[0].find("cut.dxf: line "), std::string::npos) << r.warnings[0];
            EXPECT_NE(r.warnings[0].find("after the ENDSEC at line " + std::to_string(lineAt(whole, at))),
                      std::string::npos)
                << r.warnings[0];
            EXPECT_NE(r.warnings[0].find("may be truncated"), std::string::npos) << r.warnings[0];
            // What is written is a whole drawing.
            auto again = openDrawingText(writeDrawingText(*r.database), "written.dxf");
            ASSERT_TRUE(again) << again.error;
            EXPECT_TRUE(again.warnings.empty()) << again.warnings.front();
        }
    }
}
