// Drawings made to break the reader or the writer: code pages that do not keep ASCII,
// values whose bytes would hold a line break, and the refusals that name the line.
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/EntityCodec.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
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
