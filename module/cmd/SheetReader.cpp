// Reading exported worksheets back into ImportRows.
#include "module/cmd/SheetReader.h"

#include "host/db/AcUnits.h"
#include "module/cmd/ImportCells.h"
#include "module/ResourceStrings.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace tabro {

namespace {

using namespace importcells;

// Exact comparison: same length, same UTF-16 code units.
bool sameText(const std::u16string& a, const std::u16string& b) { return a == b; }

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
        ComPtr<IDispatch> headerCell = importcells::cell(cells, 1, c);
        std::optional<std::u16string> comment = commentText(headerCell.get());
        std::u16string title = toTextStrict(displayed(headerCell.get()));
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

bool readImportRow(IDispatch* cells, std::int32_t r, const SheetHeader& header, ImportRow& row) {
    row.clear();
    {
        ComPtr<IDispatch> first = cell(cells, r, 1);
        std::optional<std::u16string> handle = commentText(first.get());
        if (!handle) return false;
        row.handle = toMultibyte(*handle);
    }
    for (const ImportColumn& column : header.columns) {
        Variant value = importcells::value(cell(cells, r, column.column).get());
        switch (column.role) {
        case ColumnRole::Attribute: {
            std::u16string text;
            // An error value (a failed formula) leaves the attribute alone.
            if (!toTextLenient(value, text)) break;
            row.tags.push_back(column.tag);
            row.values.push_back(toMultibyte(text));
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
            std::u16string text;
            if (!toTextLenient(value, text)) break;
            double radians = 0;
            if (acdbAngToF(toMultibyte(text).c_str(), -1, &radians) == RTNORM && std::isfinite(radians)) {
                row.rotation = radians;
                row.hasRotation = true;
            }
            break;
        }
        case ColumnRole::Layer:
            row.layer = toMultibyte(toTextStrict(value));
            break;
        }
    }
    return true;
}

SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply) {
    SheetTally tally;
    ComPtr<IDispatch> sheetCells = importcells::cells(worksheet);
    std::optional<SheetHeader> header;  // read when the first row with a handle needs it
    ImportRow row;
    // Settings come from the registry unchecked; row 0 does not exist.
    for (std::int32_t r = std::max(startRow, 1); r <= kLastImportRow; ++r) {
        if (!header) {
            ComPtr<IDispatch> first = cell(sheetCells.get(), r, 1);
            if (!commentText(first.get())) {
                if (++tally.rowsWithoutHandle > kRowsWithoutHandleAllowed) break;
                continue;
            }
            header = readSheetHeader(sheetCells.get(), startColumn, markers);
        }
        if (!readImportRow(sheetCells.get(), r, *header, row)) {
            if (++tally.rowsWithoutHandle > kRowsWithoutHandleAllowed) break;
            continue;
        }
        ++tally.rows;
        apply(row);
    }
    return tally;
}

}  // namespace tabro
