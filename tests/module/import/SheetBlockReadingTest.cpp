// Import reads a sheet's values a block of rows per call; what it hands on must be
// what reading cell by cell gives, which is what an application that answers a
// block without an array gets.
#include "ImportSheetFixture.h"

#include "automation/InvokeHook.h"
#include "automation/NumberText.h"
#include "module/spreadsheet/CellValue.h"

#include <sstream>

namespace tabro::testing {
namespace {

using automation::ObjectClass;
using automation::testing::InvokeFault;
using automation::testing::ScopedInvokeFault;
using automation::testing::ScopedInvokeLog;
using platform::Variant;

// Everything a row carries, as one comparable text.
std::string describe(const ImportRow& row) {
    std::ostringstream out;
    out.precision(17);
    out << row.handle << "@" << row.sheetRow << ":";
    for (std::size_t i = 0; i < row.tags.size(); ++i)
        out << " " << row.tags[i] << "=" << row.values[i] << "/" << row.valueColumns[i] << "/" << row.valueNumbers[i];
    for (int i = 0; i < 3; ++i)
        out << " p" << i << "=" << row.position[i] << row.hasCoordinate[i] << row.coordinateColumn[i] << " s" << i
            << "=" << row.scale[i] << row.hasScale[i] << row.scaleColumn[i];
    out << " n" << row.positionCount << row.scaleCount << " r=" << row.rotation << row.hasRotation << row.rotationColumn
        << " l=" << row.layer.value_or("-") << row.layerColumn << " b=" << row.blockName.value_or("-")
        << row.blockNameColumn;
    for (const CellProblem& p : row.problems) out << " !" << p.column << "," << p.reason << "," << p.subject;
    return out.str();
}

class SheetBlockReading : public ImportSheetTest {};

TEST_F(SheetBlockReading, BlocksGiveWhatCellByCellReadingGives) {
    const ImportMarkers m = testMarkers();
    // Two blocks on one sheet, the first longer than one block of rows, the second
    // under its own (bold) header row with other columns, further right.
    const std::int32_t firstRows = SheetValues::kRowsPerBlock + 300;
    putHeader(1, u"Block name");
    putHeader(2, u"TAG");
    putHeader(3, u"X", m.x);
    putHeader(4, u"Rotation", m.rotation);
    putHeader(5, u"Layer", m.layer);
    std::int32_t r = 2;
    for (std::int32_t i = 0; i < firstRows; ++i, ++r) {
        if (i % 97 == 13) continue;  // a row without a handle now and then
        putComment(r, 1, toWide(std::to_string(0x100 + i)));
        putText(r, 1, u"DOOR");
        // Texts, numbers, empty cells and error values, as users leave them.
        switch (i % 5) {
        case 0:
            putText(r, 2, toWide("D-" + std::to_string(i)));
            break;
        case 1:
            put(r, 2, Variant::r8(i * 0.5));
            break;
        case 2:
            break;
        case 3:
            put(r, 2, Variant::error(automation::errorScode(2007)));
            break;
        default:
            putText(r, 2, u"007");
            break;
        }
        if (i % 7 != 0) putText(r, 3, toWide(std::to_string(i) + ".25"));
        putText(r, 4, i % 11 == 0 ? u"north" : u"45");
        if (i % 13 != 0) putText(r, 5, u"A-DOOR");
    }
    const std::int32_t secondHeader = r + 1;
    DispatchPtr bold = xl::font(xl::entireRow(xl::cell(cells_.get(), secondHeader, 1).get()).get());
    xl::setBold(bold.get(), true);
    putText(secondHeader, 1, u"Block name");
    putText(secondHeader, 7, u"MARK");
    putText(secondHeader, 9, u"Scale X");
    putComment(secondHeader, 9, m.scaleX);
    for (std::int32_t i = 0; i < 40; ++i) {
        const std::int32_t row = secondHeader + 1 + i;
        putComment(row, 1, toWide(std::to_string(0x9000 + i)));
        putText(row, 1, u"VALVE");
        putText(row, 7, toWide("V" + std::to_string(i)));
        if (i % 3) put(row, 9, Variant::r8(1.5));
    }

    std::vector<std::string> byBlocks, byCells;
    std::size_t blockCalls = 0, cellCalls = 0;
    {
        ScopedInvokeLog log;
        const Read read = readRows();
        blockCalls = log.count(xl::dispid::Value, ObjectClass::Range);
        for (const ImportRow& row : read.rows) byBlocks.push_back(describe(row));
    }
    {
        ScopedInvokeLog log;
        // The first block of rows asked for (after the header row's titles) is
        // answered with nothing, as an application without arrays would answer it.
        ScopedInvokeFault noArray(InvokeFault(xl::dispid::Value, S_OK).on(ObjectClass::Range).atCall(2));
        const Read read = readRows();
        cellCalls = log.count(xl::dispid::Value, ObjectClass::Range);
        for (const ImportRow& row : read.rows) byCells.push_back(describe(row));
    }
    ASSERT_EQ(byBlocks.size(), byCells.size());
    EXPECT_GT(byBlocks.size(), static_cast<std::size_t>(firstRows));
    for (std::size_t i = 0; i < byBlocks.size(); ++i) ASSERT_EQ(byBlocks[i], byCells[i]) << "row " << i;
    EXPECT_LT(blockCalls * 100, cellCalls) << blockCalls << " value calls for blocks, " << cellCalls << " for cells";
}

}  // namespace
}  // namespace tabro::testing
