// TABRO Import and Import2 against the real stand-ins: a sheet laid out as export
// writes it, imported into the fixture drawing; and queued cell edits found again by
// workbook and sheet name.
#include "ImportDrawingFixture.h"
#include "ImportSheetFixture.h"

#include "host/CommandOutput.h"
#include "host/db/AcUnits.h"
#include "module/ModuleState.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/import/Import.h"
#include "module/layout/WorkbookRecord.h"
#include "module/link/ChangeQueue.h"
#include "module/link/LinkNotices.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/CellValue.h"
#include "platform/ComError.h"
#include "platform/Module.h"
#include "tests/common/TestFiles.h"

#include <clocale>
#include <cmath>
#include <functional>

namespace tabro::testing {
namespace {

using platform::Variant;

class ImportCommandTest : public ImportDrawingTest, protected SpreadsheetScratch {
protected:
    void SetUp() override {
        previousLocale_ = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C.UTF-8");
        // The summary's texts come from the resource module beside the module.
        if (!extensionModuleState().resourceHandle) {
            HMODULE resources = LoadLibraryA(TABLORA_BIN_DIR "/tabrores.so");
            ASSERT_NE(resources, nullptr) << "build the tabrores target";
            extensionModuleState().resourceHandle = resources;
        }
        ImportDrawingTest::SetUp();
        start();
        changeQueue().clear();
        // What the link said once is said again, as when it is connected anew.
        forgetLinkNotices();
    }
    void TearDown() override {
        changeQueue().clear();
        stop();
        ImportDrawingTest::TearDown();
        std::setlocale(LC_ALL, previousLocale_.c_str());
    }

    // The sheet export writes for these references: block name, the DOOR tags,
    // the property columns with their markers, the handle as the first cell's comment.
    // The live link reads the markers of the resource module.
    void writeExportedSheet(const std::vector<std::string>& keys, const ImportMarkers& m = testMarkers()) {
        const std::pair<const char16_t*, std::u16string> header[] = {{u"Block name", {}},
                                                                     {u"NUMBER", {}},
                                                                     {u"WIDTH", {}},
                                                                     {u"FIRE", {}},
                                                                     {u"X", m.x},
                                                                     {u"Y", m.y},
                                                                     {u"Z", m.z},
                                                                     {u"Rotation", m.rotation},
                                                                     {u"Scale X", m.scaleX},
                                                                     {u"Scale Y", m.scaleY},
                                                                     {u"Scale Z", m.scaleZ},
                                                                     {u"Layer", m.layer},
                                                                     {u"Layout", m.layout}};
        int c = 1;
        for (const auto& [title, marker] : header) putHeader(c++, title, marker);
        int r = 2;
        for (const std::string& key : keys) {
            const std::string handle = handleOf(key);
            const ReferenceState state = stateOf(handle);
            putComment(r, 1, toWide(handle));
            std::vector<std::string> texts = {"DOOR", textOf(state, "NUMBER"), textOf(state, "WIDTH"),
                                              textOf(state, "FIRE")};
            for (double v : {state.position.x, state.position.y, state.position.z}) texts.push_back(distance(v));
            char angle[512];
            acdbAngToS(state.rotation, -1, -1, angle, sizeof angle);
            texts.push_back(angle);
            for (double v : {state.scale.sx, state.scale.sy, state.scale.sz}) texts.push_back(distance(v));
            texts.push_back(state.layer);
            texts.push_back("Model");
            for (std::string& text : texts)
                if (text == "<none>") text.clear();
            exported_.emplace_back(handle, texts);
            c = 1;
            for (const std::string& text : texts) putText(r, c++, toWide(text));
            ++r;
        }
    }

    static std::string distance(double v) {
        char text[512];
        acdbRToS(v, -1, -1, text, sizeof text);
        return text;
    }

    static ImportOptions withProps(bool ignoreProps) {
        ImportOptions options;
        options.IgnoreProps = ignoreProps;
        return options;
    }

    void queue(std::int32_t column, std::int32_t row, const std::u16string& sheet, const std::u16string& book) {
        changeQueue().append(ChangedCell{column, row, std::make_shared<const std::u16string>(sheet),
                                         std::make_shared<const std::u16string>(book)});
    }
    std::u16string sheetName() const { return xl::name(sheet_.get()); }
    std::u16string bookName() const { return xl::name(book_.get()); }

    // The record an export keeps of the sheet written above, under the drawing
    // identity given (this drawing's by default).
    void keepRecord(std::optional<DrawingIdentity> identity = std::nullopt) {
        WorkbookRecord record;
        record.identity = identity ? *identity : DrawingIdentity::ofWorkingDrawing();
        record.writing = CellWriting::ofWorkingDrawing(false);
        record.beginSection("DOOR", {"block", "@NUMBER", "@WIDTH", "@FIRE", "x", "y", "z", "rotation", "scalex",
                                     "scaley", "scalez", "layer", "layout"});
        for (const auto& [handle, texts] : exported_) record.add(handle, texts);
        ASSERT_TRUE(record.write(book_.get()));
        xl::activate(sheet_.get());
    }

    // Changes the drawing as another program would, after the export.
    void changeInDrawing(const std::string& handle, const std::string& tag, const std::string& text,
                         const AcGePoint3d* position = nullptr) {
        ReferenceEditor editor;
        ASSERT_EQ(editor.open(handle, AcDb::kForWrite), Acad::eOk);
        if (!tag.empty()) {
            const std::string tags[] = {tag}, values[] = {text};
            ASSERT_TRUE(editor.applyAttributes(tags, values));
        }
        if (position) {
            ASSERT_EQ(editor.applyPosition(*position), Acad::eOk);
        }
    }

    // The import settings the live link reads, stored as the user's.
    static void storeImportOptions(const ImportOptions& options) {
        Settings settings;
        settings.importOptions = options;
        ASSERT_TRUE(saveSettings(settings));
    }

    // A cell typed while the link is connected, then the drain the timer starts.
    bool typeLive(std::int32_t row, std::int32_t column, const Variant& value) {
        putAsGiven(row, column, value);
        queue(column, row, sheetName(), bookName());
        return Import2();
    }

    // What the workbook's record holds for a reference's cell.
    std::string recorded(const std::string& handle, const std::string& key) const {
        std::optional<WorkbookRecord> record = WorkbookRecord::read(book_.get());
        if (!record) return "<no record>";
        const WorkbookRecord::Entry* entry = record->find(handle);
        if (!entry) return "<no entry>";
        std::optional<std::string_view> value = record->valueOf(*entry, key, 0);
        return value ? std::string(*value) : "<no cell>";
    }

    std::vector<std::pair<std::string, std::vector<std::string>>> exported_;
    std::string previousLocale_;
    // The user's registry of the test, so that the settings the link reads are the test's.
    TempDir home_{"import-home"};
    ScopedEnv homeVariable_{"CADHOST_HOME", home_.path().string()};
};

// Another program moved D-1 and changed its FIRE after the export; the user edited
// D-2's number, and D-1's FIRE as well.
TEST_F(ImportCommandTest, ARecordKeepsTheDrawingsOwnChangesAndNamesConflicts) {
    for (bool takeSheet : {false, true}) {
        SCOPED_TRACE(takeSheet ? "the sheet's value taken" : "the drawing's value kept");
        exported_.clear();
        writeExportedSheet({"D-1", "D-2"});
        keepRecord();
        const std::string d1 = handleOf("D-1"), d2 = handleOf("D-2");
        const AcGePoint3d original = stateOf(d1).position, moved(777, 888, 0);
        changeInDrawing(d1, "FIRE", "EI90", &moved);
        putText(3, 2, u"D-2 edited");
        putText(2, 4, u"EI120");
        ImportOptions options = withProps(false);
        options.DrawingChangedToo = takeSheet ? kTakeSheetValue : kKeepDrawingValue;
        Import(options, testMarkers());
        EXPECT_EQ(stateOf(d1).position, moved);  // the stale X and Y cells undo nothing
        EXPECT_EQ(textOf(stateOf(d1), "FIRE"), takeSheet ? "EI120" : "EI90");
        EXPECT_EQ(textOf(stateOf(d2), "NUMBER"), "D-2 edited");
        // Put back for the next round.
        changeInDrawing(d1, "FIRE", "EI30", &original);
        changeInDrawing(handleOf("D-2 edited"), "NUMBER", "D-2");
    }
}

// The record follows imports: a copy of a row taken before an edit is no edit
// later on, and two rows asking for different values apply neither.
TEST_F(ImportCommandTest, RowsNamingOneReferenceApplyOnceOrNotAtAll) {
    writeExportedSheet({"D-1", "D-2", "D-1", "D-2"});  // rows 4 and 5: copies of rows 2 and 3
    keepRecord();
    const std::string d1 = handleOf("D-1"), d2 = handleOf("D-2");
    putText(2, 2, u"D-1 new");  // row 4 still says D-1
    putText(3, 3, u"1300");     // and row 5 asks for 1400
    putText(5, 3, u"1400");
    Import(withProps(false), testMarkers());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1 new");
    EXPECT_EQ(textOf(stateOf(d2), "WIDTH"), "1200");
    putText(5, 3, u"1300");  // now they agree
    Import(withProps(false), testMarkers());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1 new");  // the stale copy undid nothing
    EXPECT_EQ(textOf(stateOf(d2), "WIDTH"), "1300");
}

TEST_F(ImportCommandTest, ARowWritesOnlyIntoAReferenceOfItsOwnBlock) {
    writeExportedSheet({"D-1", "D-2"});
    const ReferenceState room = stateOf("4D");
    putComment(2, 1, u"4D");  // the ROOM reference, under a row of block DOOR
    putText(2, 12, u"A-GLAZ");
    putText(2, 5, u"5000");
    Import(withProps(false), testMarkers());
    EXPECT_EQ(stateOf("4D").layer, room.layer);
    EXPECT_EQ(stateOf("4D").position, room.position);
}

bool says(const host::OutputCapture& output, const std::string& text) {
    return output.text().find(text) != std::string::npos;
}

// A user's column titled like a tag (a copy kept as old values): which of the two
// is the real one cannot be told, so neither is applied, and both are named.
TEST_F(ImportCommandTest, ATagTitlingMoreColumnsThanAttributesAppliesNone) {
    writeExportedSheet({"D-1", "D-2"});
    putHeader(14, u"NUMBER");
    putText(2, 14, u"old D-1");
    putText(3, 2, u"D-2 new");
    host::OutputCapture output;
    Import(withProps(true), testMarkers());
    EXPECT_EQ(textOf(stateOf(handleOf("D-1")), "NUMBER"), "D-1");
    EXPECT_EQ(textOf(stateOf(handleOf("D-2")), "NUMBER"), "D-2");
    EXPECT_TRUE(says(output, "!B1: NUMBER titles B1, N1")) << output.text();
    EXPECT_TRUE(says(output, "!N1: NUMBER titles B1, N1")) << output.text();
    EXPECT_EQ(textOf(stateOf(handleOf("D-1")), "WIDTH"), "900") << "the row's other columns still apply";
}

// A row whose every cell was cleared keeps its handle comment: it is taken as
// removed from the sheet, not as a request to empty the reference.
TEST_F(ImportCommandTest, ARowClearedWholeEmptiesNothing) {
    writeExportedSheet({"D-1", "D-2"});
    const ReferenceState before = stateOf(handleOf("D-1"));
    for (int c = 1; c <= 13; ++c) put(2, c, Variant());
    host::OutputCapture output;
    Import(withProps(false), testMarkers());
    const ReferenceState after = stateOf(handleOf("D-1"));
    for (const char* tag : {"NUMBER", "WIDTH", "FIRE"}) EXPECT_EQ(textOf(after, tag), textOf(before, tag)) << tag;
    EXPECT_EQ(after.layer, before.layer);
    EXPECT_TRUE(says(output, "every cell of the row was cleared")) << output.text();
    EXPECT_TRUE(says(output, "1 row holding values was not imported")) << output.text();
}

// With the export's record: an edit under a title the user cleared is named with
// the title export gave it; edits in the layout and block-name columns are said
// once for the sheet, and the rows' other edits still apply.
TEST_F(ImportCommandTest, EditsNoColumnTakesAreSaidOnce) {
    writeExportedSheet({"D-1", "D-2"});
    keepRecord();
    put(1, 3, Variant());  // the WIDTH title cleared
    putText(2, 3, u"950");
    putText(2, 13, u"Sheet A");
    putText(3, 13, u"Sheet B");
    putText(3, 1, u"WINDOW");
    putText(3, 2, u"D-2 new");
    host::OutputCapture output;
    Import(withProps(false), testMarkers());
    EXPECT_EQ(textOf(stateOf(handleOf("D-1")), "WIDTH"), "900");
    EXPECT_EQ(textOf(stateOf(handleOf("D-2 new")), "NUMBER"), "D-2 new");
    EXPECT_TRUE(says(output, "!C2: the column's header cell is empty (export titled it WIDTH)")) << output.text();
    EXPECT_TRUE(says(output, "!M1: 2 edits in this column are not applied")) << output.text();
    EXPECT_TRUE(says(output, "!A1: the edit in this column is not applied: a reference's block")) << output.text();
}

TEST_F(ImportCommandTest, LiveEditsReachOnlyTheDrawingTheirWorkbookCameFrom) {
    writeExportedSheet({"D-1", "D-2"});
    DrawingIdentity other;
    other.fingerprint = "{11111111-2222-3333-4444-555555555555}";
    other.fileName = "other.dxf";
    keepRecord(other);
    const std::string d1 = handleOf("D-1");
    putText(2, 2, u"typed live");
    queue(2, 2, sheetName(), bookName());
    EXPECT_FALSE(Import2());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1");

    // This drawing's record: an edit is applied unless the drawing changed the cell.
    keepRecord();
    changeInDrawing(d1, "FIRE", "EI90");
    putText(2, 4, u"EI120");
    queue(4, 2, sheetName(), bookName());
    EXPECT_FALSE(Import2());
    EXPECT_EQ(textOf(stateOf(d1), "FIRE"), "EI90");
    queue(2, 2, sheetName(), bookName());
    EXPECT_TRUE(Import2());
    EXPECT_EQ(textOf(stateOf(handleOf("typed live")), "NUMBER"), "typed live");
}

// The house property: importing what export wrote changes nothing a user sees.
TEST_F(ImportCommandTest, UneditedExportedSheetChangesNothing) {
    ASSERT_TRUE(applyPosition(handleOf("D-1"), AcGePoint3d(10.123456789, 20.5, 0.25)));
    const std::vector<std::string> keys = {"D-1", "D-2", "D-3"};
    writeExportedSheet(keys);
    std::vector<ReferenceState> before;
    for (const std::string& key : keys) before.push_back(stateOf(handleOf(key)));

    for (bool ignoreProps : {true, false}) {
        SCOPED_TRACE(ignoreProps ? "attributes only" : "with properties");
        Import(withProps(ignoreProps), testMarkers());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            SCOPED_TRACE(keys[i]);
            const ReferenceState after = stateOf(handleOf(keys[i]));
            EXPECT_EQ(after.position, before[i].position);
            EXPECT_EQ(after.rotation, before[i].rotation);
            EXPECT_EQ(after.scale, before[i].scale);
            EXPECT_EQ(after.layer, before[i].layer);
            ASSERT_EQ(after.attributes.size(), before[i].attributes.size());
            for (std::size_t k = 0; k < after.attributes.size(); ++k) {
                EXPECT_EQ(after.attributes[k].text, before[i].attributes[k].text) << after.attributes[k].tag;
                EXPECT_EQ(after.attributes[k].position, before[i].attributes[k].position);
            }
        }
    }
}

TEST_F(ImportCommandTest, EditedSheetReachesTheDrawing) {
    writeExportedSheet({"D-1", "D-2"});
    putText(2, 2, u"D-1 edited");  // NUMBER of D-1
    putText(2, 4, u"");            // FIRE of D-1 emptied
    putText(3, 5, u"150");         // X of D-2
    putText(3, 12, u"A-GLAZ");     // layer of D-2
    Import(withProps(false), testMarkers());

    const ReferenceState d1 = stateOf(handleOf("D-1 edited"));
    EXPECT_EQ(textOf(d1, "FIRE"), "");
    EXPECT_EQ(textOf(d1, "WIDTH"), "900");
    const ReferenceState d2 = stateOf(handleOf("D-2"));
    EXPECT_EQ(d2.position, AcGePoint3d(150, 0, 0));
    EXPECT_EQ(d2.layer, "A-GLAZ");
}

// With attributes only, an edited property cell is left and said once in the
// summary; an import whose property cells say what the drawing has says nothing.
TEST_F(ImportCommandTest, IgnoredPropertyEditsAreSaidOnceByImport) {
    writeExportedSheet({"D-1", "D-2"});
    const std::string notice = "are not applied: the import option \"Change attribute values only\" is on";
    const std::string d1 = handleOf("D-1"), d2 = handleOf("D-2");
    const ReferenceState before = stateOf(d2);
    host::OutputCapture output;
    putText(2, 2, u"D-1 edited");
    Import(withProps(true), testMarkers());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1 edited");
    EXPECT_FALSE(says(output, notice)) << output.text();

    output.clear();
    putText(3, 5, u"150");      // X of D-2
    putText(2, 12, u"A-GLAZ");  // layer of D-1
    putText(3, 2, u"D-2 edited");
    Import(withProps(true), testMarkers());
    EXPECT_EQ(textOf(stateOf(d2), "NUMBER"), "D-2 edited");
    EXPECT_EQ(stateOf(d2).position, before.position);
    EXPECT_NE(stateOf(d1).layer, "A-GLAZ");
    const std::string text = output.text();
    const std::size_t first = text.find(notice);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(notice, first + 1), std::string::npos) << "said once: " << text;
}

TEST_F(ImportCommandTest, EveryWorksheetOrTheActiveOne) {
    writeExportedSheet({"D-1"});
    putText(2, 2, u"from the first sheet");
    // A second sheet, now the active one, editing D-2.
    DispatchPtr second = xl::addWorksheet(xl::worksheets(book_.get()).get());
    xl::activate(second.get());
    DispatchPtr cells = xl::cells(second.get());
    auto put2 = [&](int r, int c, const std::u16string& text) {
        DispatchPtr cell = xl::cell(cells.get(), r, c);
        xl::setNumberFormat(cell.get(), u"@");
        xl::setValue(cell.get(), Variant::bstr(text));
    };
    put2(1, 1, u"NUMBER");
    put2(2, 1, u"from the second sheet");
    (void)xl::addComment(xl::cell(cells.get(), 2, 1).get(), toWide(handleOf("D-2")));
    const std::string d1 = handleOf("D-1"), d2 = handleOf("D-2");

    ImportOptions options = withProps(true);
    Import(options, testMarkers());  // the active sheet only
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1");
    EXPECT_EQ(textOf(stateOf(d2), "NUMBER"), "from the second sheet");

    options.ImportSettings = 1;
    Import(options, testMarkers());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "from the first sheet");
}

TEST_F(ImportCommandTest, WithoutARunningApplicationNothingHappens) {
    writeExportedSheet({"D-1"});
    putText(2, 2, u"changed");
    const std::u16string sheet = sheetName(), book = bookName();
    queue(2, 2, sheet, book);
    stop();
    const std::string d1 = handleOf("D-1");
    Import(withProps(false), testMarkers());
    EXPECT_FALSE(Import2());
    EXPECT_EQ(textOf(stateOf(d1), "NUMBER"), "D-1");
    start();  // for TearDown
}

TEST_F(ImportCommandTest, Import2TakesTheQueueNewestFirst) {
    writeExportedSheet({"D-1", "D-2"});
    const std::u16string sheet = sheetName(), book = bookName();
    const struct {
        const char* name;
        std::vector<ChangedCell> records;  // appended in this order
        bool result;                       // of the last handled, the oldest
    } cases[] = {
        {"empty queue", {}, false},
        {"attribute cell", {{2, 2, nullptr, nullptr}}, true},
        {"a column import does not read: nothing missing", {{5, 2, nullptr, nullptr}}, true},
        {"row without handle", {{2, 9, nullptr, nullptr}}, false},
        {"oldest decides", {{2, 2, nullptr, nullptr}, {2, 9, nullptr, nullptr}}, true},
        {"oldest decides, failing", {{2, 9, nullptr, nullptr}, {2, 2, nullptr, nullptr}}, false},
    };
    putText(2, 2, u"queued");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (ChangedCell record : c.records) queue(record.column, record.row, sheet, book);
        EXPECT_EQ(Import2(), c.result);
        EXPECT_EQ(changeQueue().count(), 0u);
    }
    EXPECT_EQ(textOf(stateOf(handleOf("D-2")), "NUMBER"), "D-2");
    EXPECT_NE(handleOf("queued"), "");
}

TEST_F(ImportCommandTest, ChangedCellIsFoundByExactNames) {
    writeExportedSheet({"D-1"});
    putText(2, 3, u"1000");
    const std::u16string sheet = sheetName(), book = bookName();
    std::u16string upperSheet = sheet;
    for (char16_t& ch : upperSheet) ch = static_cast<char16_t>(ch >= u'a' && ch <= u'z' ? ch - 32 : ch);
    // Another workbook active: the edited one is still found through Workbooks.
    DispatchPtr other = xl::addWorkbook(xl::workbooks(app_.get()).get());
    xl::activate(other.get());
    const struct {
        const char* name;
        ChangedCell change;
        bool result;
    } cases[] = {
        {"found though not active",
         {3, 2, std::make_shared<const std::u16string>(sheet), std::make_shared<const std::u16string>(book)},
         true},
        {"sheet name in other case",
         {3, 2, std::make_shared<const std::u16string>(upperSheet), std::make_shared<const std::u16string>(book)},
         false},
        {"workbook gone",
         {3, 2, std::make_shared<const std::u16string>(sheet), std::make_shared<const std::u16string>(u"Nowhere.xlsx")},
         false},
        {"no names", {3, 2, nullptr, nullptr}, false},
        {"row 0",
         {3, 0, std::make_shared<const std::u16string>(sheet), std::make_shared<const std::u16string>(book)},
         false},
    };
    ASSERT_NE(upperSheet, sheet);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(importChangedCell(c.change), c.result);
    }
    EXPECT_EQ(textOf(stateOf(handleOf("D-1")), "WIDTH"), "1000");
}

// A changed cell under the second of two columns with one tag (ROOM's NOTE and
// Note) goes to the second attribute with that tag, not to both.
TEST_F(ImportCommandTest, ChangedCellUnderANamesakeColumnKeepsToItsAttribute) {
    putHeader(1, u"NAME");
    putHeader(2, u"NOTE");
    putHeader(3, u"Note");
    const std::string room = handleOf("R-1");
    putComment(2, 1, toWide(room));
    putText(2, 1, u"R-1");
    putText(2, 2, u"first");
    putText(2, 3, u"edited second");
    EXPECT_TRUE(importChangedCell(ChangedCell{3, 2, std::make_shared<const std::u16string>(sheetName()),
                                              std::make_shared<const std::u16string>(bookName())}));
    const ReferenceState state = stateOf(room);
    ASSERT_EQ(state.attributes.size(), 3u);
    EXPECT_EQ(state.attributes[1].text, "first");
    EXPECT_EQ(state.attributes[2].text, "edited second");
}

// A changed cell whose value is not known (an error, a formula without a result)
// leaves its attribute alone: it is not an empty text.
TEST_F(ImportCommandTest, ChangedCellWithoutAValueLeavesTheAttribute) {
    writeExportedSheet({"D-1"});
    put(2, 3, Variant::error(static_cast<SCODE>(0x800A07D7u)));
    EXPECT_FALSE(importChangedCell(ChangedCell{3, 2, std::make_shared<const std::u16string>(sheetName()),
                                               std::make_shared<const std::u16string>(bookName())}));
    EXPECT_EQ(textOf(stateOf(handleOf("D-1")), "WIDTH"), "900");
}

// Columns of the exported sheet (writeExportedSheet).
constexpr std::int32_t kLayerColumn = 12, kLayoutColumn = 13;
constexpr std::int32_t kXColumn = 5, kRotationColumn = 8, kScaleXColumn = 9;

// With properties applied, a property cell typed live changes its reference as
// Import would: a number or a text in the drawing's units, an angle in degrees, one
// scale factor of three, a layer the drawing has. The reference's attributes go
// along with it, and the reference's other properties stay.
TEST_F(ImportCommandTest, LivePropertyEditsMoveRotateScaleAndRelayer) {
    writeExportedSheet({"D-1", "D-2"}, ImportMarkers::load());
    keepRecord();
    storeImportOptions(withProps(false));
    const std::string d1 = handleOf("D-1");
    const ReferenceState before = stateOf(d1);  // at (10, 20, 0), not rotated, scale 1, layer 0
    const struct {
        const char* name;
        std::int32_t column;
        Variant value;
        std::function<void(const ReferenceState&)> check;
    } cases[] = {
        {"X as a number", kXColumn, Variant::r8(150),
         [&](const ReferenceState& s) {
             EXPECT_EQ(s.position, AcGePoint3d(150, 20, 0));
             ASSERT_EQ(s.attributes.size(), before.attributes.size());
             for (std::size_t k = 0; k < s.attributes.size(); ++k)
                 EXPECT_NEAR(s.attributes[k].position.x - before.attributes[k].position.x, 140, 1e-9)
                     << s.attributes[k].tag;
         }},
        {"Y as text", kXColumn + 1, Variant::bstr(u"-35.25"),
         [](const ReferenceState& s) { EXPECT_EQ(s.position, AcGePoint3d(150, -35.25, 0)); }},
        {"rotation in degrees", kRotationColumn, Variant::bstr(u"45"),
         [](const ReferenceState& s) { EXPECT_DOUBLE_EQ(s.rotation, std::atan(1.0)); }},
        {"scale X alone", kScaleXColumn, Variant::bstr(u"2.5"),
         [](const ReferenceState& s) { EXPECT_EQ(s.scale, AcGeScale3d(2.5, 1, 1)); }},
        {"an existing layer", kLayerColumn, Variant::bstr(u"A-GLAZ"),
         [](const ReferenceState& s) { EXPECT_EQ(s.layer, "A-GLAZ"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::OutputCapture output;
        EXPECT_TRUE(typeLive(2, c.column, c.value)) << output.text();
        c.check(stateOf(d1));
        EXPECT_FALSE(says(output, toMultibyte(sheetName()) + "!")) << "nothing named: " << output.text();
    }
    const ReferenceState after = stateOf(d1);
    EXPECT_EQ(after.position, AcGePoint3d(150, -35.25, 0));
    EXPECT_DOUBLE_EQ(after.rotation, std::atan(1.0));
    EXPECT_EQ(after.scale, AcGeScale3d(2.5, 1, 1));
    EXPECT_EQ(textOf(after, "NUMBER"), "D-1");
    const ReferenceState d2 = stateOf(handleOf("D-2"));
    EXPECT_EQ(d2.position, AcGePoint3d(100, 0, 0)) << "another row's reference stays";
    EXPECT_EQ(d2.layer, "A-DOOR");
}

// What Import refuses in a property cell, the live link refuses too, naming the cell
// with Import's reason; the reference keeps its value.
TEST_F(ImportCommandTest, LivePropertyCellsImportWouldRefuseAreNamed) {
    writeExportedSheet({"D-1", "D-2"}, ImportMarkers::load());
    keepRecord();
    storeImportOptions(withProps(false));
    const std::string d1 = handleOf("D-1");
    const ReferenceState before = stateOf(d1);
    const struct {
        const char* name;
        std::int32_t column;
        Variant value;
        const char* named;
    } cases[] = {
        {"a word under X", kXColumn, Variant::bstr(u"abc"), "!E2: the cell holds no distance in the drawing's units"},
        {"X emptied", kXColumn, Variant(), "!E2: the cell is empty"},
        {"a word under rotation", kRotationColumn, Variant::bstr(u"left"),
         "!H2: the cell holds no angle in the drawing's angular units"},
        {"a scale of zero", kScaleXColumn, Variant::r8(0), "!I2: the drawing refused the value"},
        {"a layer the drawing lacks", kLayerColumn, Variant::bstr(u"NO-SUCH"), "!L2: the drawing has no layer NO-SUCH"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::OutputCapture output;
        EXPECT_FALSE(typeLive(2, c.column, c.value));
        EXPECT_TRUE(says(output, c.named)) << output.text();
        const ReferenceState after = stateOf(d1);
        EXPECT_EQ(after.position, before.position);
        EXPECT_EQ(after.rotation, before.rotation);
        EXPECT_EQ(after.scale, before.scale);
        EXPECT_EQ(after.layer, before.layer);
    }
}

// The handle of a row must be of the block its block-name cell names: a ROOM's
// handle under a DOOR row gets nothing, and the row is named.
TEST_F(ImportCommandTest, LivePropertyEditReachesOnlyAReferenceOfTheRowsBlock) {
    writeExportedSheet({"D-1"}, ImportMarkers::load());
    storeImportOptions(withProps(false));
    const std::string room = handleOf("R-1");
    const ReferenceState before = stateOf(room);
    putComment(2, 1, toWide(room));
    host::OutputCapture output;
    EXPECT_FALSE(typeLive(2, kXColumn, Variant::r8(555)));
    EXPECT_EQ(stateOf(room).position, before.position);
    EXPECT_TRUE(says(output, "the row is of block DOOR, the handle names a reference of block ROOM")) << output.text();
}

// Attributes only (the default): property cells typed live change nothing, and the
// user is told once while the link is connected, not at every cell; connecting
// again tells it again. Attribute cells still apply.
TEST_F(ImportCommandTest, IgnoredPropertiesAreLeftAloneLiveAndSaidOnce) {
    writeExportedSheet({"D-1", "D-2"}, ImportMarkers::load());
    keepRecord();
    storeImportOptions(withProps(true));
    const std::string d1 = handleOf("D-1"), d2 = handleOf("D-2");
    const ReferenceState before = stateOf(d1);
    const double d2Rotation = stateOf(d2).rotation;
    const std::string notice = "are not applied: the import option \"Change attribute values only\" is on";
    host::OutputCapture output;
    typeLive(2, kXColumn, Variant::r8(150));
    typeLive(2, kLayerColumn, Variant::bstr(u"A-GLAZ"));
    typeLive(3, kRotationColumn, Variant::bstr(u"10"));
    EXPECT_TRUE(typeLive(2, 2, Variant::bstr(u"D-1 live")));
    const ReferenceState after = stateOf(d1);
    EXPECT_EQ(after.position, before.position);
    EXPECT_EQ(after.layer, before.layer);
    EXPECT_EQ(stateOf(d2).rotation, d2Rotation);
    EXPECT_EQ(textOf(after, "NUMBER"), "D-1 live");
    std::string text = output.text();
    const std::size_t first = text.find(notice);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(notice, first + 1), std::string::npos) << "said once: " << text;
    EXPECT_EQ(recorded(d1, "x"), distance(10)) << "the record keeps what export wrote";

    forgetLinkNotices();  // as connecting again does
    output.clear();
    typeLive(2, kXColumn, Variant::r8(160));
    EXPECT_TRUE(says(output, notice)) << output.text();
    EXPECT_EQ(stateOf(d1).position, before.position);
}

// A layout or block-name cell is never applied, properties or not; it is named as
// Import names it, at the column's title.
TEST_F(ImportCommandTest, LiveLayoutAndBlockNameEditsAreNamedNotApplied) {
    writeExportedSheet({"D-1"}, ImportMarkers::load());
    keepRecord();
    const std::string d1 = handleOf("D-1");
    const ReferenceState before = stateOf(d1);
    for (bool ignoreProps : {true, false}) {
        SCOPED_TRACE(ignoreProps ? "attributes only" : "with properties");
        storeImportOptions(withProps(ignoreProps));
        host::OutputCapture output;
        EXPECT_FALSE(typeLive(2, kLayoutColumn, Variant::bstr(ignoreProps ? u"Sheet A" : u"Sheet B")));
        EXPECT_TRUE(says(output, "!M1: the edit in this column is not applied: a reference moves to another layout"))
            << output.text();
        EXPECT_FALSE(typeLive(2, 1, Variant::bstr(ignoreProps ? u"WINDOW" : u"SHUTTER")));
        EXPECT_TRUE(says(output, "!A1: the edit in this column is not applied: a reference's block cannot be changed"))
            << output.text();
        EXPECT_EQ(output.text().find("Change attribute values only"), std::string::npos) << output.text();
        const ReferenceState after = stateOf(d1);
        EXPECT_EQ(after.position, before.position);
        EXPECT_EQ(after.layer, before.layer);
        EXPECT_EQ(textOf(after, "NUMBER"), "D-1");
    }
}

// A property the drawing changed since the export and the sheet changed too: the
// drawing's value is kept and the cell named with the three values, unless the
// settings take the sheet's.
TEST_F(ImportCommandTest, LivePropertyEditTheDrawingChangedTooIsAConflict) {
    for (bool takeSheet : {false, true}) {
        SCOPED_TRACE(takeSheet ? "the sheet's value taken" : "the drawing's value kept");
        exported_.clear();
        writeExportedSheet({"D-1"}, ImportMarkers::load());
        keepRecord();
        ImportOptions options = withProps(false);
        options.DrawingChangedToo = takeSheet ? kTakeSheetValue : kKeepDrawingValue;
        storeImportOptions(options);
        const std::string d1 = handleOf("D-1");
        const AcGePoint3d original = stateOf(d1).position, moved(777, 888, 0);
        changeInDrawing(d1, "", "", &moved);
        host::OutputCapture output;
        EXPECT_EQ(typeLive(2, kXColumn, Variant::r8(150)), takeSheet);
        if (takeSheet) {
            EXPECT_EQ(stateOf(d1).position, AcGePoint3d(150, 888, 0));
        } else {
            EXPECT_EQ(stateOf(d1).position, moved);
            const std::string reason = "!E2: the drawing changed too (at export \"" + distance(10) +
                                       "\", in the sheet \"" + distance(150) + "\", in the drawing \"" + distance(777) +
                                       "\")";
            EXPECT_TRUE(says(output, reason)) << output.text();
        }
        changeInDrawing(d1, "", "", &original);  // put back for the next round
    }
}

// Each applied cell brings the record up to date: the next edit of the cell is
// judged against what the link wrote, not against what export wrote, and applies.
TEST_F(ImportCommandTest, LivePropertyEditBringsTheRecordUpToDate) {
    writeExportedSheet({"D-1"}, ImportMarkers::load());
    keepRecord();
    storeImportOptions(withProps(false));
    const std::string d1 = handleOf("D-1");
    EXPECT_TRUE(typeLive(2, kXColumn, Variant::r8(150)));
    EXPECT_EQ(recorded(d1, "x"), distance(150));
    EXPECT_TRUE(typeLive(2, kLayerColumn, Variant::bstr(u"A-GLAZ")));
    EXPECT_EQ(recorded(d1, "layer"), "A-GLAZ");
    host::OutputCapture output;
    EXPECT_TRUE(typeLive(2, kXColumn, Variant::r8(160))) << output.text();
    EXPECT_TRUE(typeLive(2, kLayerColumn, Variant::bstr(u"A-DOOR"))) << output.text();
    const ReferenceState after = stateOf(d1);
    EXPECT_EQ(after.position, AcGePoint3d(160, 20, 0));
    EXPECT_EQ(after.layer, "A-DOOR");
    EXPECT_EQ(recorded(d1, "x"), distance(160));
}

}  // namespace
}  // namespace tabro::testing
