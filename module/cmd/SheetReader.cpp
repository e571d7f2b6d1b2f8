// Reading exported worksheets back into ImportRows.
#include "module/cmd/SheetReader.h"

#include "host/db/AcUnits.h"
#include "module/ResourceStrings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace tabro {

namespace {

using platform::Variant;

ColumnRole roleOfMarker(const std::u16string& comment, const ImportMarkers& m, bool& known) {
    known = true;
    if (sameText(comment, m.x)) return ColumnRole::X;
    if (sameText(comment, m.y)) return ColumnRole::Y;
    if (sameText(comment, m.z)) return ColumnRole::Z;
    if (sameText(comment, m.rotation)) return ColumnRole::Rotation;
    if (sameText(comment, m.scaleX) || sameText(comment, m.scaleY) || sameText(comment, m.scaleZ))
        return ColumnRole::Scale;
    if (sameText(comment, m.layer)) return ColumnRole::Layer;
    known = false;
    return ColumnRole::Attribute;
}

}  // namespace

std::optional<std::u16string> cellCommentText(IDispatch* cell) {
    DispatchPtr comment = xl::comment(cell);
    if (!comment) return std::nullopt;
    return xl::commentText(comment.get());
}

ImportMarkers ImportMarkers::load() {
    ImportMarkers m;
    ResourceStrings& texts = resourceStrings();
    m.x = toWide(texts.load(kTextXMarker));
    m.y = toWide(texts.load(kTextYMarker));
    m.z = toWide(texts.load(kTextZMarker));
    m.rotation = toWide(texts.load(kTextRotationMarker));
    m.scaleX = toWide(texts.load(kTextScaleXMarker));
    m.scaleY = toWide(texts.load(kTextScaleYMarker));
    m.scaleZ = toWide(texts.load(kTextScaleZMarker));
    m.layer = toWide(texts.load(kTextLayerMarker));
    return m;
}

SheetHeader readSheetHeader(IDispatch* cells, std::int32_t startColumn, const ImportMarkers& markers) {
    SheetHeader header;
    int emptyHeaders = 0;
    for (std::int32_t c = std::max(startColumn, 1); c <= kLastImportColumn; ++c) {
        DispatchPtr headerCell = xl::cell(cells, 1, c);
        std::optional<std::u16string> comment = cellCommentText(headerCell.get());
        std::u16string title = toText(xl::text(headerCell.get()));
        if (title.empty() && ++emptyHeaders == 2) break;
        if (comment) {
            bool known = false;
            ColumnRole role = roleOfMarker(*comment, markers, known);
            if (known) header.columns.push_back(ImportColumn{c, role, {}});
        } else if (!title.empty()) {
            header.columns.push_back(ImportColumn{c, ColumnRole::Attribute, toMultibyte(title)});
        }
    }
    return header;
}

namespace {

// The cells of row r under the header, for a row whose handle is known.
void readRowCells(IDispatch* cells, std::int32_t r, const SheetHeader& header, ImportRow& row) {
    for (const ImportColumn& column : header.columns) {
        Variant value = xl::value(xl::cell(cells, r, column.column).get());
        switch (column.role) {
        case ColumnRole::Attribute: {
            // An error value (a failed formula) leaves the attribute alone.
            if (!toTextInPlace(value)) break;
            row.tags.push_back(column.tag);
            row.values.push_back(toMultibyte(value.bstrVal()));
            break;
        }
        case ColumnRole::X:
        case ColumnRole::Y:
        case ColumnRole::Z:
            toNumber(value, row.position[static_cast<int>(column.role) - static_cast<int>(ColumnRole::X)]);
            ++row.positionCount;
            break;
        case ColumnRole::Scale:
            // The slots follow the order the columns stand in; a scale has three.
            if (row.scaleCount < 3) toNumber(value, row.scale[row.scaleCount++]);
            break;
        case ColumnRole::Rotation: {
            if (!toTextInPlace(value)) break;
            double radians = 0;
            if (acdbAngToF(toMultibyte(value.bstrVal()).c_str(), -1, &radians) == RTNORM && std::isfinite(radians)) {
                row.rotation = radians;
                row.hasRotation = true;
            }
            break;
        }
        case ColumnRole::Layer:
            row.layer = toMultibyte(toText(value));
            break;
        }
    }
}

}  // namespace

bool readImportRow(IDispatch* cells, std::int32_t r, const SheetHeader& header, ImportRow& row) {
    row.clear();
    std::optional<std::u16string> handle = cellCommentText(xl::cell(cells, r, 1).get());
    if (!handle) return false;
    row.handle = toMultibyte(*handle);
    readRowCells(cells, r, header, row);
    return true;
}

SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply) {
    SheetTally tally;
    DispatchPtr cells = xl::cells(worksheet);
    std::optional<SheetHeader> header;  // read when the first row with a handle needs it
    ImportRow row;
    // Settings come from the registry unchecked; row 0 does not exist.
    for (std::int32_t r = std::max(startRow, 1); r <= kLastImportRow; ++r) {
        std::optional<std::u16string> handle = cellCommentText(xl::cell(cells.get(), r, 1).get());
        if (!handle) {
            if (++tally.rowsWithoutHandle > kRowsWithoutHandleAllowed) break;
            continue;
        }
        if (!header) header = readSheetHeader(cells.get(), startColumn, markers);
        row.clear();
        row.handle = toMultibyte(*handle);
        readRowCells(cells.get(), r, *header, row);
        ++tally.rows;
        apply(row);
    }
    return tally;
}

}  // namespace tabro
