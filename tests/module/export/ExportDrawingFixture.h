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
#include "platform/MessageBox.h"
#include "platform/Module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tabro::testing {

// This folder, found from the fixtures folder the build names: __FILE__ may be a
// path relative to the compiler's folder (a compiler cache hands such paths over),
// and the tests change the current folder before they open their drawings.
inline const std::filesystem::path kTestSourceDir =
    std::filesystem::path(TABLORA_FIXTURES_DIR).parent_path() / "module" / "export";

class ExportDrawingTest : public ::testing::Test {
protected:
    static std::string fixturePath() { return (kTestSourceDir / "export_blocks.dxf").string(); }

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

}  // namespace tabro::testing
