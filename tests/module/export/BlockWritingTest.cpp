// Rows written a block of cells per call must leave the same workbook as rows
// written cell by cell, which is what an application that refuses arrays gets: the
// saved parts (cells, shared texts, formats, comments, column widths) are compared
// byte for byte.
#include "ExportDrawingFixture.h"

#include "automation/InvokeHook.h"
#include "module/export/Export.h"
#include "module/export/SheetWriter.h"
#include "module/settings/Settings.h"
#include "platform/ComError.h"
#include "platform/LiveObjects.h"
#include "sheet/Spreadsheet.h"
#include "sheet/xlsx/Zip.h"
#include "tests/common/SharedData.h"

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace tabro::testing {
namespace {

using automation::ObjectClass;
using automation::testing::InvokeFault;
using automation::testing::ScopedInvokeFault;
using automation::testing::ScopedInvokeLog;
using Parts = std::map<std::string, std::string>;

class BlockWriting : public SpreadsheetExportTest {
protected:
    // Export2 of every block into a fresh application, saved; the workbook's parts.
    // `valueCalls` counts the Value assignments that reached the application.
    // With `failingComment`, that AddComment call fails and ends the export.
    Parts exportEveryBlock(const ExportOptions& options, bool refuseArrays, std::size_t& valueCalls,
                           int failingComment = 0) {
        Settings settings;
        settings.exportOptions = options;
        EXPECT_TRUE(saveSettings(settings));
        nextExportRow = 1;
        feed({""});
        {
            ScopedInvokeLog log;
            // The application answers an array as one that knows only single values.
            std::optional<ScopedInvokeFault> refusal;
            if (refuseArrays)
                refusal.emplace(InvokeFault(xl::dispid::Value, DISP_E_TYPEMISMATCH).on(ObjectClass::Range));
            std::optional<ScopedInvokeFault> failure;
            if (failingComment)
                failure.emplace(InvokeFault(xl::dispid::AddComment).on(ObjectClass::Range).atCall(failingComment));
            if (failingComment)
                EXPECT_THROW(Export2(), _com_error);
            else
                EXPECT_TRUE(Export2());
            valueCalls = log.count(xl::dispid::Value, ObjectClass::Range);
            allCalls_ = log.calls().size();
            if (refusal && valueCalls > 0) {
                EXPECT_TRUE(refusal->hasFailed()) << "no array was offered";
            }
        }
        EXPECT_TRUE(sheet::flushChangedWorkbooks().empty());
        sheet::stopSpreadsheetApplication();
        Parts parts;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            if (entry.path().extension() != ".xlsx") continue;
            const std::string archive = tabro::testing::readFile(entry.path());  // the reader keeps a view of it
            sheet::xlsx::ZipReader zip(archive, sheet::xlsx::ReadLimits{});
            for (const std::string& name : zip.names())
                if (name.rfind("xl/", 0) == 0) parts[name] = zip.read(name);
            std::filesystem::remove(entry.path());
        }
        EXPECT_FALSE(parts.empty()) << "no workbook saved";
        return parts;
    }

    // Exports the drawing both ways; the saved parts must be the same bytes.
    void expectSameWorkbooks(const ExportOptions& options, std::size_t minimumRows, int failingComment = 0) {
        std::size_t blockCalls = 0, cellCalls = 0;
        const Parts blocks = exportEveryBlock(options, false, blockCalls, failingComment);
        const Parts cells = exportEveryBlock(options, true, cellCalls, failingComment);
        ASSERT_EQ(blocks.size(), cells.size());
        for (const auto& [name, bytes] : blocks) {
            SCOPED_TRACE(name);
            auto other = cells.find(name);
            ASSERT_NE(other, cells.end());
            EXPECT_TRUE(bytes == other->second) << "the part differs between the two ways of writing";
        }
        if (failingComment) return;
        // Blocks must actually be written as blocks: far fewer calls than cells.
        EXPECT_GT(cellCalls, minimumRows);
        EXPECT_LT(blockCalls * 8, cellCalls) << blockCalls << " value calls for blocks, " << cellCalls << " for cells";
    }

    std::size_t allCalls_ = 0;  // of the last export
};

struct Case {
    const char* name;
    void (*set)(ExportOptions&);
};
const Case kCases[] = {
    {"a sheet per block, every column", [](ExportOptions&) {}},
    {"one sheet, headers, prompts, odd lines, from row 3",
     [](ExportOptions& o) {
         o.WorksheetSettings = 1;
         o.StartRow = 3;
         o.AddHeader = true;
         o.ExportAttPrompts = true;
         o.OddLine = true;
         o.LayoutNames = true;
     }},
    {"General format, constants, sorted, no fitting",
     [](ExportOptions& o) {
         o.AsText = false;
         o.IncludeConstant = true;
         o.Sort = true;
         o.NoAutofit = true;
     }},
};

TEST_F(BlockWriting, FixtureDrawingComesOutTheSameEitherWay) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ExportOptions options;
        c.set(options);
        expectSameWorkbooks(options, 6);
    }
}

// An export that fails part way leaves what it wrote before the failure, the
// rows held back for a block included, and the columns fitted as far as it got.
TEST_F(BlockWriting, AFailureLeavesWhatCellByCellWritingLeaves) {
    for (int failingComment : {2, 10, 13}) {
        SCOPED_TRACE(failingComment);
        expectSameWorkbooks(ExportOptions{}, 0, failingComment);
    }
}

// A generated drawing: more rows than one block holds, references out of step with
// their definition (rows of other widths, extra columns), texts that look like
// numbers, dates and formulas, a block name no sheet may carry.
TEST_F(BlockWriting, GeneratedDrawingComesOutTheSameEitherWay) {
    const std::string drawing = (folder_ / "generated.dxf").string();
    if (std::system((toolCommand("make_drawing.py") + " 1300 '" + drawing + "' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "tools/make_drawing.py made no drawing (is python3-ezdxf installed?)";
    openDrawing(drawing);
    std::filesystem::remove(drawing);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ExportOptions options;
        c.set(options);
        expectSameWorkbooks(options, SheetWriter::kRowsPerBlock * 2);
    }
    // Each call is a round trip for a real application: with every row the same
    // width, a reference costs its handle comment's three calls and little more.
    std::size_t valueCalls = 0;
    exportEveryBlock(ExportOptions{}, false, valueCalls);
    EXPECT_LT(allCalls_, 1300u * 4) << allCalls_ << " calls for 1300 references";
    // Past the first block of rows of the first sheet.
    expectSameWorkbooks(ExportOptions{}, SheetWriter::kRowsPerBlock, SheetWriter::kRowsPerBlock + 100);
}

}  // namespace
}  // namespace tabro::testing
