// Reading exported worksheets back into ImportRows.
#include "module/import/SheetReader.h"

#include "host/db/AcUnits.h"
#include "module/ResourceStrings.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportReport.h"
#include "module/layout/PropertyText.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

namespace tabro {

namespace {

using platform::Variant;

void noteProblem(ImportRow& row, std::int32_t column, CellNumber state) {
    UINT reason = state == CellNumber::Empty     ? kTextReasonEmpty
                  : state == CellNumber::NoValue ? kTextReasonNoValue
                                                 : kTextReasonNotADistance;
    row.problems.push_back(CellProblem{column, reason, {}, true});
}

}  // namespace

std::optional<std::u16string> cellCommentText(IDispatch* cell) {
    DispatchPtr comment = xl::comment(cell);
    if (!comment) return std::nullopt;
    return xl::commentText(comment.get());
}

SheetHeader readSheetHeader(IDispatch* cells, std::int32_t headerRow, std::int32_t startColumn,
                            const ImportMarkers& markers) {
    SheetHeader header;
    header.row = headerRow;
    int emptyHeaders = 0;
    for (std::int32_t c = std::max(startColumn, 1); c <= kLastImportColumn; ++c) {
        DispatchPtr headerCell = xl::cell(cells, headerRow, c);
        std::optional<std::u16string> comment = cellCommentText(headerCell.get());
        std::u16string title = toText(xl::text(headerCell.get()));
        if (title.empty() && ++emptyHeaders == 2) break;
        std::optional<ColumnRole> role = roleOfHeaderCell(comment, title, markers);
        if (!role) continue;
        header.columns.push_back(
            ImportColumn{c, *role, *role == ColumnRole::Attribute ? toMultibyte(title) : std::string()});
    }
    // Each attribute column's place among the columns of its tag, found by key: a
    // header may hold thousands of tags.
    std::unordered_map<std::string, int> seen;
    for (ImportColumn& column : header.columns)
        if (column.role == ColumnRole::Attribute) column.occurrence = seen[tagKey(column.tag)]++;
    return header;
}

SheetValues::SheetValues(IDispatch* worksheet, IDispatch* cells, std::int32_t lastRow)
    : worksheet_(worksheet), cells_(cells), lastRow_(lastRow) {}

Variant SheetValues::value(std::int32_t r, std::int32_t c, const SheetHeader& header) {
    if (block_ && r >= top_ && r <= bottom_ && c >= left_ && c <= right_)
        return block_->at(r - top_ + 1, c - left_ + 1);
    if (isCellByCell_ || header.columns.empty() || r > lastRow_) return xl::value(xl::cell(cells_, r, c).get());
    block_.reset();
    top_ = r;
    bottom_ = std::min(lastRow_, r + kRowsPerBlock - 1);
    left_ = std::min(c, header.columns.front().column);
    right_ = std::max(c, header.columns.back().column);
    DispatchPtr area = xl::area(worksheet_, top_, left_, bottom_, right_);
    block_ = CellValues::from(xl::value(area.get()), bottom_ - top_ + 1, right_ - left_ + 1);
    if (!block_) {
        // An application that answers a block without an array is asked cell by
        // cell from now on.
        isCellByCell_ = true;
        return xl::value(xl::cell(cells_, r, c).get());
    }
    return block_->at(r - top_ + 1, c - left_ + 1);
}

void readRowCells(SheetValues& values, std::int32_t r, const SheetHeader& header, ImportRow& row) {
    row.sheetRow = r;
    for (const ImportColumn& column : header.columns) {
        Variant value = values.value(r, column.column, header);
        const std::int32_t c = column.column;
        switch (column.role) {
        case ColumnRole::Attribute:
            // A value the cell does not know (an error, a formula without a result)
            // leaves the attribute alone: it is not an empty text.
            if (value.vt() == VT_ERROR) {
                row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}});
                break;
            }
            {
                double number = std::numeric_limits<double>::quiet_NaN();
                if (value.vt() == VT_R8 || value.vt() == VT_R4 || value.vt() == VT_I2 || value.vt() == VT_I4)
                    toNumber(value, number);
                if (!toTextInPlace(value)) {
                    row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}});
                    break;
                }
                row.valueNumbers.push_back(number);
            }
            row.occurrences.push_back(column.occurrence);
            row.tags.push_back(column.tag);
            row.values.push_back(toMultibyte(value.bstrVal()));
            row.valueColumns.push_back(c);
            break;
        case ColumnRole::BlockName:
            if (value.vt() != VT_ERROR && toTextInPlace(value)) {
                row.blockName = toMultibyte(value.bstrVal());
                row.blockNameColumn = c;
            }
            break;
        case ColumnRole::X:
        case ColumnRole::Y:
        case ColumnRole::Z: {
            const int i = static_cast<int>(column.role) - static_cast<int>(ColumnRole::X);
            ++row.positionCount;
            row.coordinateColumn[i] = c;
            if (value.vt() == VT_BSTR) row.positionText[i] = toMultibyte(value.bstrVal());
            double number = 0;
            CellNumber state = readDistanceCell(value, number);
            if (state == CellNumber::Number) {
                row.position[i] = number;
                row.hasCoordinate[i] = true;
            } else {
                row.hasCoordinate[i] = false;
                noteProblem(row, c, state);
            }
            break;
        }
        case ColumnRole::Scale: {
            // The slots follow the order the columns stand in; a scale has three.
            if (row.scaleCount >= 3) break;
            const int i = row.scaleCount++;
            row.scaleColumn[i] = c;
            if (value.vt() == VT_BSTR) row.scaleText[i] = toMultibyte(value.bstrVal());
            double number = 0;
            CellNumber state = readDistanceCell(value, number);
            if (state == CellNumber::Number) {
                row.scale[i] = number;
                row.hasScale[i] = true;
            } else {
                noteProblem(row, c, state);
            }
            break;
        }
        case ColumnRole::Rotation: {
            row.rotationColumn = c;
            if (value.vt() == VT_EMPTY) {
                row.problems.push_back(CellProblem{c, kTextReasonEmpty, {}, true});
                break;
            }
            if (value.vt() == VT_ERROR || !toTextInPlace(value)) {
                row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}, true});
                break;
            }
            const std::string text(trimBlanks(toMultibyte(value.bstrVal())));
            row.rotationText = text;
            double radians = 0;
            if (!text.empty() && acdbAngToF(text.c_str(), -1, &radians) == RTNORM && std::isfinite(radians)) {
                row.rotation = radians;
                row.hasRotation = true;
            } else {
                row.problems.push_back(
                    CellProblem{c, text.empty() ? kTextReasonEmpty : kTextReasonNotAnAngle, {}, true});
            }
            break;
        }
        case ColumnRole::Layer:
            row.layerColumn = c;
            if (value.vt() == VT_ERROR || !toTextInPlace(value)) {
                row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}, true});
            } else if (value.bstrVal().empty()) {
                row.problems.push_back(CellProblem{c, kTextReasonEmpty, {}, true});
            } else {
                row.layer = toMultibyte(value.bstrVal());
            }
            break;
        }
    }
}

namespace {

// Whether a row without a handle is a header row that export wrote: bold (export
// writes its header rows bold) or carrying a marker in its first cell, and not empty.
bool looksLikeHeaderRow(IDispatch* cells, std::int32_t r, const std::optional<std::u16string>& firstComment,
                        const ImportMarkers& markers) {
    if (firstComment && markers.isMarker(*firstComment)) return true;
    DispatchPtr first = xl::cell(cells, r, 1);
    if (toText(xl::text(first.get())).empty()) return false;
    return xl::isBold(xl::font(first.get()).get());
}

}  // namespace

HeaderTracker::HeaderTracker(IDispatch* cells, std::int32_t startColumn, const ImportMarkers& markers)
    : cells_(cells), startColumn_(startColumn), markers_(markers) {}

// Rows without a handle come in runs between data rows. The first header-like row
// of a run heads the data rows after it (the prompt row export may write under a
// header is bold too, but comes second); a run without one keeps the header in
// force. At the top of the sheet, row 1 heads the rows when no row of the first
// run looks like a header, as long as row 1 is no data row.
std::optional<std::u16string> HeaderTracker::feed(std::int32_t r) {
    std::optional<std::u16string> comment = cellCommentText(xl::cell(cells_, r, 1).get());
    if (!comment || markers_.isMarker(*comment)) {
        inRun_ = true;
        if (!runHeader_ && looksLikeHeaderRow(cells_, r, comment, markers_)) runHeader_ = r;
        return std::nullopt;
    }
    if (inRun_) {
        if (runHeader_) {
            header_ = readSheetHeader(cells_, *runHeader_, startColumn_, markers_);
            ++headerGeneration_;
        } else if (inFirstRun_) {
            header_ = readSheetHeader(cells_, 1, startColumn_, markers_);
            ++headerGeneration_;
        }
        runHeader_.reset();
        inRun_ = false;
    }
    inFirstRun_ = false;
    return comment;
}

SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply,
                         ImportReport* report) {
    SheetTally tally;
    DispatchPtr cells = xl::cells(worksheet);
    const std::int32_t lastRow = std::clamp<LONG>(xl::lastUsedRow(worksheet), 1, kLastSheetRow);
    // Settings come from the registry unchecked; row 0 does not exist.
    startRow = std::max(startRow, 1);
    HeaderTracker headers(cells.get(), startColumn, markers);
    SheetValues values(worksheet, cells.get(), lastRow);
    ImportRow row;
    for (std::int32_t r = 1; r <= lastRow; ++r) {
        std::optional<std::u16string> handle = headers.feed(r);
        if (r < startRow) continue;
        if (!handle) {
            ++tally.rowsWithoutHandle;
            continue;
        }
        if (!headers.header()) {
            ++tally.rowsWithoutHeader;
            if (report) report->rowWithoutHeader(r);
            continue;
        }
        row.clear();
        row.handle = toMultibyte(*handle);
        readRowCells(values, r, *headers.header(), row);
        ++tally.rows;
        apply(row);
    }
    return tally;
}

}  // namespace tabro
