// The record an export keeps in its workbook, written into and read back from the
// spreadsheet stand-in: what a user (or another program) may do to it, and what
// import then gets.
#include "../import/ImportSheetFixture.h"

#include "module/layout/WorkbookRecord.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"

#include <gtest/gtest.h>

#include <clocale>

namespace tabro::testing {
namespace {

using platform::Variant;

class WorkbookRecordTest : public ::testing::Test, protected SpreadsheetScratch {
protected:
    void SetUp() override {
        previousLocale_ = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C.UTF-8");
        start();
    }
    void TearDown() override {
        stop();
        std::setlocale(LC_ALL, previousLocale_.c_str());
    }
    std::string previousLocale_;

    static WorkbookRecord sample() {
        WorkbookRecord record;
        record.identity.fingerprint = "{0B1A1440-DC9A-4607-8ED6-320A3AE4740A}";
        record.identity.fileName = "site.dxf";
        record.writing.jtsk = true;
        record.writing.lunits = 4;
        record.writing.luprec = 3;
        record.beginSection("DOOR", {"block", "@NUMBER", "@Note", "@NOTE", "x"});
        const std::vector<std::string> first{"DOOR", "007", "tab\there", "line\nbreak \\ back", "12.5"};
        record.add("3e", first);
        record.addKey("@LATE");
        const std::vector<std::string> second{"DOOR", "", "=SUM(A1)", "", "-0", "late"};
        record.add("43", second);
        record.beginSection("ROOM", {"@NAME"});
        const std::vector<std::string> third{"R-1 Ü"};
        record.add("4D", third);
        return record;
    }

    Variant recordCell(LONG row, LONG column) {
        DispatchPtr sheet = findRecordSheet(book_.get());
        return xl::value(xl::cell(xl::cells(sheet.get()).get(), row, column).get());
    }
};

TEST_F(WorkbookRecordTest, WhatIsWrittenReadsBackHiddenAndExact) {
    WorkbookRecord written = sample();
    ASSERT_TRUE(written.write(book_.get()));
    // The user's sheet stays the active one; the record is out of sight.
    EXPECT_TRUE(sameText(xl::name(xl::activeSheet(book_.get()).get()), xl::name(sheet_.get())));
    DispatchPtr sheet = findRecordSheet(book_.get());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(xl::sheetVisibility(sheet.get()), xl::kSheetHidden);

    std::optional<WorkbookRecord> read = WorkbookRecord::read(book_.get());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->identity.fingerprint, written.identity.fingerprint);
    EXPECT_EQ(read->identity.fileName, "site.dxf");
    EXPECT_TRUE(read->writing.jtsk);
    EXPECT_EQ(read->writing.lunits, 4);
    EXPECT_EQ(read->writing.luprec, 3);
    ASSERT_EQ(read->size(), 3u);
    const WorkbookRecord::Entry* door = read->find(" 3E ");  // found as a comment's text may hold it
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(read->sectionOf(*door).block, "DOOR");
    EXPECT_EQ(read->valueOf(*door, "@number", 0), "007");  // a tag is found without regard to case
    EXPECT_EQ(read->valueOf(*door, "@NOTE", 0), "tab\there");
    EXPECT_EQ(read->valueOf(*door, "@NOTE", 1), "line\nbreak \\ back");
    EXPECT_EQ(read->valueOf(*door, "@NOTE", 2), std::nullopt);
    EXPECT_EQ(read->valueOf(*door, "@LATE", 0), "");  // a column added after its row
    const WorkbookRecord::Entry* second = read->find("43");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(read->valueOf(*second, "@NOTE", 0), "=SUM(A1)");  // text, never a formula
    EXPECT_EQ(read->valueOf(*second, "x", 0), "-0");
    EXPECT_EQ(read->valueOf(*second, "@LATE", 0), "late");
    EXPECT_EQ(read->valueOf(*read->find("4d"), "@NAME", 0), "R-1 Ü");
    EXPECT_EQ(read->find("99"), nullptr);
}

TEST_F(WorkbookRecordTest, UpdatesKeepWhatTheyReplacedAcrossSaves) {
    WorkbookRecord record = sample();
    ASSERT_TRUE(record.write(book_.get()));
    DispatchPtr sheet = findRecordSheet(book_.get());
    record.update("3E", "@NUMBER", 0, "008");
    record.update("3E", "@NUMBER", 0, "009");
    record.update("3E", "@MISSING", 0, "x");  // no such column: nothing
    record.update("4D", "@NAME", 0, "R-9");
    record.writeUpdates(sheet.get());
    std::optional<WorkbookRecord> read = WorkbookRecord::read(book_.get());
    ASSERT_TRUE(read);
    const WorkbookRecord::Entry* door = read->find("3E");
    EXPECT_EQ(read->valueOf(*door, "@NUMBER", 0), "009");
    const std::vector<std::string_view> earlier = read->earlierValuesOf(*door, "@NUMBER", 0);
    EXPECT_EQ(earlier, (std::vector<std::string_view>{"007", "008"}));
    EXPECT_TRUE(read->earlierValuesOf(*door, "@NOTE", 0).empty());
    EXPECT_EQ(read->valueOf(*read->find("4D"), "@NAME", 0), "R-9");
    EXPECT_EQ(read->valueOf(*read->find("43"), "@NOTE", 0), "=SUM(A1)");  // the row between, untouched

    // A later export of some references keeps the others' entries and history.
    WorkbookRecord later;
    later.identity = record.identity;
    later.beginSection("ROOM", {"@NAME"});
    const std::vector<std::string> renamed{"R-2"};
    later.add("4D", renamed);
    later.keepOthers(*read);
    ASSERT_TRUE(later.write(book_.get()));
    std::optional<WorkbookRecord> merged = WorkbookRecord::read(book_.get());
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->size(), 3u);
    EXPECT_EQ(merged->valueOf(*merged->find("4D"), "@NAME", 0), "R-2");
    EXPECT_EQ(merged->earlierValuesOf(*merged->find("3E"), "@NUMBER", 0).size(), 2u);
}

TEST_F(WorkbookRecordTest, ARecordAUserBrokeIsNoRecord) {
    ASSERT_TRUE(sample().write(book_.get()));
    DispatchPtr sheet = findRecordSheet(book_.get());
    DispatchPtr cells = xl::cells(sheet.get());
    auto put = [&](LONG row, LONG column, const char16_t* text) {
        xl::setValue(xl::cell(cells.get(), row, column).get(), Variant::bstr(text));
    };
    struct Case {
        const char* what;
        LONG row, column;
        const char16_t* text;
    } cases[] = {
        {"another format", 1, 2, u"2"},
        {"JTSK neither on nor off", 4, 2, u"yes"},
        {"units out of range", 5, 2, u"9"},
        {"a reference before any block", 10, 1, u"3E\tDOOR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(sample().write(book_.get()));
        put(c.row, c.column, c.text);
        std::string problem;
        EXPECT_FALSE(WorkbookRecord::read(book_.get(), &problem));
        EXPECT_FALSE(problem.empty());
    }
    // A sheet of that name the user made for something else is not written over.
    ASSERT_TRUE(sample().write(book_.get()));
    put(1, 1, u"my notes");
    put(20, 3, u"keep me");
    EXPECT_FALSE(sample().write(book_.get()));
    EXPECT_EQ(toText(recordCell(20, 3)), u"keep me");
}

TEST_F(WorkbookRecordTest, DrawingsAreTheSameByFingerprintElseByFileName) {
    DrawingIdentity a{"{0B1A1440-DC9A-4607-8ED6-320A3AE4740A}", "site.dxf", ""};
    DrawingIdentity renamed{"{0b1a1440-dc9a-4607-8ed6-320a3ae4740a}", "site-v2.dxf", ""};
    DrawingIdentity other{"{11111111-2222-3333-4444-555555555555}", "site.dxf", ""};
    DrawingIdentity noFingerprint{"", "SITE.DXF", ""};
    EXPECT_TRUE(a.isSameDrawing(renamed));
    EXPECT_FALSE(a.isSameDrawing(other));
    EXPECT_TRUE(a.isSameDrawing(noFingerprint));
    EXPECT_FALSE(noFingerprint.isSameDrawing(DrawingIdentity{"", "other.dxf", ""}));
    EXPECT_EQ(noFingerprint.shownName(), "SITE.DXF");
}

// The drawings of a register are often copies of one template: the same
// fingerprint, told apart by their paths; a drawing replaced under its path by
// another (its fingerprint differs) is not the one the record was made from.
TEST_F(WorkbookRecordTest, RegisterDrawingsAreTheSameByPath) {
    const std::string guid = "{0B1A1440-DC9A-4607-8ED6-320A3AE4740A}";
    DrawingIdentity a{guid, "a.dxf", "set/a.dxf"};
    DrawingIdentity copy{guid, "a.dxf", "other/a.dxf"};
    DrawingIdentity replaced{"{11111111-2222-3333-4444-555555555555}", "a.dxf", "set/a.dxf"};
    DrawingIdentity unsaved{"", "a.dxf", "set/a.dxf"};
    EXPECT_FALSE(a.isSameDrawing(copy));
    EXPECT_FALSE(a.isSameDrawing(replaced));
    EXPECT_TRUE(a.isSameDrawing(unsaved));
    // Against a record of one drawing's export (no path) the old rule holds.
    EXPECT_TRUE(a.isSameDrawing(DrawingIdentity{guid, "renamed.dxf", ""}));

    // One record sheet a drawing, each found by its drawing, the others kept.
    WorkbookRecord first = sample();
    first.identity = a;
    ASSERT_TRUE(first.write(book_.get(), true));
    WorkbookRecord second = sample();
    second.identity = copy;
    ASSERT_TRUE(second.write(book_.get(), true));
    ASSERT_TRUE(second.write(book_.get(), true));  // written again: into its own sheet
    std::vector<DispatchPtr> sheets = recordSheets(book_.get());
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(xl::name(sheets[1].get()), u"Tablora record 2");
    bool hasOthers = true;
    std::optional<WorkbookRecord> found = WorkbookRecord::readOf(book_.get(), copy, nullptr, true, &hasOthers);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->identity.path, "other/a.dxf");
    EXPECT_EQ(found->size(), sample().size());
    EXPECT_FALSE(WorkbookRecord::readOf(book_.get(), replaced, nullptr, true, &hasOthers));
    EXPECT_TRUE(hasOthers);
    EXPECT_TRUE(isRecordSheetName(u"Tablora record 12"));
    EXPECT_FALSE(isRecordSheetName(u"Tablora record notes"));
    EXPECT_FALSE(isRecordSheetName(u"Tablora record "));
}

TEST(RegisterPaths, CellsNameDrawingsRelativeToTheWorkbook) {
    EXPECT_EQ(registerPathOf("/p/set/a.dxf", "/p/register.xlsx"), "set/a.dxf");
    EXPECT_EQ(registerPathOf("/p/a.dxf", "/p/books/r.xlsx"), "../a.dxf");
    EXPECT_EQ(registerPathOf("/p/./set/../a.dxf", "/p/r.xlsx"), "a.dxf");
    EXPECT_EQ(registerPathOf("/p/a.dxf", "Book1"), "a.dxf");
    EXPECT_TRUE(namesDrawing("set/a.dxf", "/p/set/a.dxf", "/p/r.xlsx"));
    EXPECT_TRUE(namesDrawing(" set\\a.dxf ", "/p/set/a.dxf", "/p/r.xlsx"));
    EXPECT_TRUE(namesDrawing("/p/set/a.dxf", "/p/set/a.dxf", "/q/r.xlsx"));
    EXPECT_FALSE(namesDrawing("set/b.dxf", "/p/set/a.dxf", "/p/r.xlsx"));
    EXPECT_FALSE(namesDrawing("a.dxf", "/p/set/a.dxf", "/p/r.xlsx"));
    EXPECT_FALSE(namesDrawing("", "/p/set/a.dxf", "/p/r.xlsx"));
    EXPECT_EQ(resolveRegisterPath("set/a.dxf", "/p/r.xlsx"), "/p/set/a.dxf");
}

// The keys an export's header gives its columns: a parameter's is its label, apart
// from an attribute of the same name, and titles its column again.
TEST(RecordKeys, ParameterColumnsAreKeyedByLabelApartFromAttributes) {
    ExportTexts texts;
    texts.blockNameTitle = "Block";
    texts.markers[0] = "#x";
    texts.titles[0] = "X";
    texts.parameterMarker = "#param";
    const std::vector<std::string> titles{"Block", "State", "X", "State"};
    const std::vector<std::string> markers{"", "", "#x", "#param"};
    const std::vector<std::string> keys = recordKeysOf(titles, markers, texts, true);
    EXPECT_EQ(keys, (std::vector<std::string>{"block", "@State", "x", "%State"}));
    EXPECT_EQ(keys[3], recordKeyOf(ColumnRole::Parameter, 0, "State"));
    EXPECT_EQ(titleOfRecordKey(keys[3], texts), "State");
}

}  // namespace
}  // namespace tabro::testing
