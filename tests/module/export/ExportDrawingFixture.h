// The drawing the export tests start from (export_blocks.dxf, see
// make_export_fixture.py) as the working database, with the module's texts loaded,
// one open document for command-line input, captured output and recorded boxes.
#pragma once

#include "host/AcApDocManager.h"
#include "host/CommandLine.h"
#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "host/db/DrawingFile.h"
#include "module/ModuleState.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "platform/LiveObjects.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "sheet/Spreadsheet.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tabro::testing {

class ExportDrawingTest : public ::testing::Test {
protected:
    static std::string fixturePath() {
        return (std::filesystem::path(TABLORA_TESTS_DIR) / "module/export/export_blocks.dxf").string();
    }

    void SetUp() override {
        // The texts come from the resource module beside the module, as when loaded.
        if (!extensionModuleState().resourceHandle) {
            HMODULE resources = LoadLibraryA(TABLORA_BIN_DIR "/tabrores.so");
            ASSERT_NE(resources, nullptr) << "build the tabrores target";
            extensionModuleState().resourceHandle = resources;
        }
        document_ = acDocManager->newDocument();
        openDrawing(fixturePath());
    }

    void openDrawing(const std::string& path) {
        scope_.reset();
        DrawingOpenResult opened = openDrawingFile(path);
        ASSERT_TRUE(opened) << opened.error;
        db_ = std::move(opened.database);
        scope_.emplace(db_.get());
    }
    void useEmptyDrawing() {
        scope_.reset();
        db_ = std::make_unique<AcDbDatabase>();
        scope_.emplace(db_.get());
    }

    // No step may leave an object open or a resource scope pushed, whatever its outcome.
    void TearDown() override {
        if (db_) {
            EXPECT_EQ(db_->openObjectCount(), 0u) << "a drawing object was left open";
        }
        EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u) << "a resource scope was left open";
        host::setInputSource(nullptr);
        scope_.reset();
        acDocManager->closeAll();
    }

    // The lines the command line reads next; "^C" cancels.
    void feed(std::vector<std::string> lines) {
        script_ = std::make_unique<host::ScriptInput>(std::move(lines));
        host::setInputSource(script_.get());
    }

    AcDbObjectId idOf(const char* handle) const {
        AcDbObjectId id;
        EXPECT_EQ(db_->getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << handle;
        return id;
    }

    host::OutputCapture output_;
    platform::MessageBoxRecorder boxes_;
    std::unique_ptr<AcDbDatabase> db_;
    AcApDocument* document_ = nullptr;

private:
    std::optional<WorkingDatabaseScope> scope_;
    std::unique_ptr<host::ScriptInput> script_;
};

// The same drawing exported into the spreadsheet stand-in, registered for the test
// and working in a folder of its own (the workbooks it saves land there); every
// automation reference taken must be released by the end.
class SpreadsheetExportTest : public ExportDrawingTest {
protected:
    void SetUp() override {
        if (!std::getenv("CADHOST_HOME")) {
            home_.emplace("export-home");
            homeVariable_.emplace("CADHOST_HOME", home_->path().string());
        }
        scratch_.emplace("export");
        folder_ = scratch_->path();
        liveBefore_ = platform::liveComObjects();
        ExportDrawingTest::SetUp();
        ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK);
    }
    void TearDown() override {
        sheet::stopSpreadsheetApplication();
        (void)sheet::revokeSpreadsheetApplication();
        ExportDrawingTest::TearDown();
        EXPECT_EQ(platform::liveComObjects(), liveBefore_) << "an automation reference was not released";
        scratch_.reset();
        homeVariable_.reset();
        home_.reset();
    }

    std::filesystem::path folder_;  // the test's own folder, current while it runs

    // What the spreadsheet holds, read through its own members.
    static DispatchPtr app() { return sheet::runningSpreadsheetApplication(); }
    static DispatchPtr sheetNamed(const std::string& name) {
        DispatchPtr book = xl::activeWorkbook(app().get());
        DispatchPtr sheets = xl::worksheets(book.get());
        for (LONG i = 1; i <= xl::count(sheets.get()); ++i) {
            DispatchPtr s = xl::item(sheets.get(), i);
            if (toMultibyte(xl::name(s.get())) == name) return s;
        }
        ADD_FAILURE() << "no sheet " << name;
        return {};
    }
    static DispatchPtr cellOf(IDispatch* sheet, LONG r, LONG c) { return xl::cell(xl::cells(sheet).get(), r, c); }
    static std::string value(IDispatch* sheet, LONG r, LONG c) {
        return toMultibyte(toText(xl::value(cellOf(sheet, r, c).get())));
    }
    static std::string comment(IDispatch* sheet, LONG r, LONG c) {
        DispatchPtr note = xl::comment(cellOf(sheet, r, c).get());
        return note ? toMultibyte(xl::commentText(note.get())) : "<none>";
    }

private:
    std::optional<tabro::testing::TempDir> home_;
    std::optional<tabro::testing::ScopedEnv> homeVariable_;
    std::optional<tabro::testing::TempWorkingDir> scratch_;
    std::size_t liveBefore_ = 0;
};

}  // namespace tabro::testing
