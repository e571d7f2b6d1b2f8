// Reading exported worksheets back into ImportRows.
#include "module/import/SheetReader.h"

#include "host/db/AcUnits.h"
#include "module/base/ResourceStrings.h"
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

std::int32_t SheetHeader::firstColumn() const {
    std::int32_t first = columns.empty() ? kLastSheetColumn : columns.front().column;
    if (!untitled.empty()) first = std::min(first, untitled.front());
    return first;
}

std::int32_t SheetHeader::lastColumn() const {
    std::int32_t last = columns.empty() ? 0 : columns.back().column;
    if (!untitled.empty()) last = std::max(last, untitled.back());
    return last;
}

namespace {

bool isEmptyValue(const Variant& v) {
    return v.vt() == VT_EMPTY || v.vt() == VT_NULL || (v.vt() == VT_BSTR && v.bstrVal().empty());
}

}  // namespace

SheetHeader readSheetHeader(IDispatch* worksheet, IDispatch* cells, std::int32_t headerRow, std::int32_t startColumn,
                            std::int32_t lastColumn, const ImportMarkers& markers) {
    SheetHeader header;
    header.row = headerRow;
    const std::int32_t first = std::max(startColumn, 1);
    lastColumn = std::min(lastColumn, kLastSheetColumn);
    // The row's values in one call find where its titles end: a stray cell far to
    // the right of the sheet would otherwise cost a comment and a text call for every
    // column up to it. A title is read as the cell shows it, one call a title.
    std::int32_t last = first - 1;
    std::optional<CellValues> titles;
    if (worksheet && lastColumn >= first) {
        DispatchPtr row = xl::area(worksheet, headerRow, first, headerRow, lastColumn);
        titles = CellValues::from(xl::value(row.get()), 1, lastColumn - first + 1);
    }
    if (titles) {
        for (std::int32_t c = lastColumn; c >= first; --c)
            if (!isEmptyValue(titles->at(1, c - first + 1))) {
                last = c;
                break;
            }
    } else {
        last = std::min(lastColumn, kLastSheetColumn);
    }
    std::vector<std::int32_t> untitled;
    for (std::int32_t c = first; c <= last; ++c) {
        DispatchPtr headerCell = xl::cell(cells, headerRow, c);
        std::optional<std::u16string> comment = cellCommentText(headerCell.get());
        if (c == first && comment && markers.isMarker(*comment)) header.isMarked = true;
        std::u16string title;
        if (!titles || !isEmptyValue(titles->at(1, c - first + 1))) title = toText(xl::text(headerCell.get()));
        std::optional<ColumnRole> role = roleOfHeaderCell(comment, title, markers);
        if (!role) {
            if (title.empty()) untitled.push_back(c);
            continue;
        }
        header.columns.push_back(ImportColumn{
            c, *role,
            *role == ColumnRole::Attribute || *role == ColumnRole::Parameter ? toMultibyte(title) : std::string(), 0,
            1});
    }
    // Only the empty titles left of the last column read can be a title export wrote.
    const std::int32_t lastRead = header.columns.empty() ? 0 : header.columns.back().column;
    for (std::int32_t c : untitled)
        if (c < lastRead) header.untitled.push_back(c);
    // Each attribute column's place among the columns of its tag, found by key: a
    // header may hold thousands of tags.
    std::unordered_map<std::string, int> seen;
    for (ImportColumn& column : header.columns)
        if (column.role == ColumnRole::Attribute) column.occurrence = seen[tagKey(column.tag)]++;
    for (ImportColumn& column : header.columns)
        if (column.role == ColumnRole::Attribute) column.tagColumns = seen[tagKey(column.tag)];
    // A scale column's slot is its place among the scale columns, whichever marker
    // it carries.
    int scales = 0;
    for (ImportColumn& column : header.columns)
        if (column.role == ColumnRole::Scale) column.occurrence = scales++;
    std::unordered_map<std::string, int> labels;
    for (ImportColumn& column : header.columns)
        if (column.role == ColumnRole::Parameter) column.occurrence = labels[column.tag]++;
    return header;
}

SheetValues::SheetValues(IDispatch* worksheet, IDispatch* cells, std::int32_t lastRow)
    : worksheet_(worksheet), cells_(cells), lastRow_(lastRow) {}

Variant SheetValues::value(std::int32_t r, std::int32_t c, const SheetHeader& header) {
    if (block_ && r >= top_ && r <= bottom_ && c >= left_ && c <= right_)
        return block_->at(r - top_ + 1, c - left_ + 1);
    if (isCellByCell_ || header.columns.empty() || r > lastRow_) {
        top_ = bottom_ = r;
        left_ = right_ = c;
        block_.reset();
        blockHasMerges_.reset();
        return xl::value(xl::cell(cells_, r, c).get());
    }
    block_.reset();
    blockHasMerges_.reset();
    left_ = std::min(c, header.firstColumn());
    right_ = std::max(c, header.lastColumn());
    const std::int64_t width = right_ - left_ + 1;
    const auto rows = static_cast<std::int32_t>(std::clamp<std::int64_t>(kCellsPerBlock / width, 1, kRowsPerBlock));
    top_ = r;
    bottom_ = std::min(lastRow_, r + rows - 1);
    DispatchPtr area = xl::area(worksheet_, top_, left_, bottom_, right_);
    block_ = CellValues::from(xl::value(area.get()), bottom_ - top_ + 1, right_ - left_ + 1);
    if (!block_) {
        // An application that answers a block without an array is asked cell by
        // cell from now on.
        isCellByCell_ = true;
        top_ = bottom_ = r;
        left_ = right_ = c;
        return xl::value(xl::cell(cells_, r, c).get());
    }
    return block_->at(r - top_ + 1, c - left_ + 1);
}

std::u16string SheetValues::shownText(std::int32_t r, std::int32_t c) {
    return toText(xl::text(xl::cell(cells_, r, c).get()));
}

std::optional<std::string> SheetValues::coveringMerge(std::int32_t r, std::int32_t c) {
    if (!blockHasMerges_) {
        DispatchPtr area = xl::area(worksheet_, top_, left_, bottom_, right_);
        blockHasMerges_ = xl::mergeState(area.get()) != xl::MergeState::None;
    }
    if (!*blockHasMerges_) return std::nullopt;
    DispatchPtr merged = xl::mergeArea(xl::cell(cells_, r, c).get());
    if (!merged) return std::nullopt;
    const LONG top = xl::row(merged.get()), left = xl::column(merged.get());
    if (top == r && left == c) return std::nullopt;
    const LONG bottom = top + xl::count(xl::rows(merged.get()).get()) - 1;
    const LONG right = left + xl::count(xl::columns(merged.get()).get()) - 1;
    return cellAddress(top, left) + ":" + cellAddress(bottom, right);
}

void readPropertyCell(Variant value, const ImportColumn& column, ImportRow& row) {
    const std::int32_t c = column.column;
    switch (column.role) {
    case ColumnRole::Attribute:
        break;
    case ColumnRole::Layout:
        if (value.vt() != VT_ERROR && toTextInPlace(value)) {
            row.layout = toMultibyte(value.bstrVal());
            row.layoutColumn = c;
        }
        break;
    case ColumnRole::Parameter: {
        if (value.vt() == VT_ERROR) break;
        const double number = value.vt() == VT_R8 ? value.dblVal() : std::nan("");
        if (!toTextInPlace(value)) break;
        row.parameters.push_back({column.tag, toMultibyte(value.bstrVal()), number, c, column.occurrence});
        break;
    }
    case ColumnRole::BlockName:
        if (value.vt() != VT_ERROR && toTextInPlace(value)) {
            row.blockName = toMultibyte(value.bstrVal());
            row.blockNameColumn = c;
        }
        break;
    case ColumnRole::Drawing:
        // An error or an empty cell names no drawing: the row is then no drawing's.
        row.drawingColumn = c;
        row.drawing = value.vt() != VT_ERROR && toTextInPlace(value) ? toMultibyte(value.bstrVal()) : std::string();
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
        if (column.occurrence >= 3) break;
        const int i = column.occurrence;
        ++row.scaleCount;
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
            row.problems.push_back(CellProblem{c, text.empty() ? kTextReasonEmpty : kTextReasonNotAnAngle, {}, true});
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

namespace {

// An attribute cell into the row: its text (what a date, a time or a yes/no value
// shows) and the number it held.
void readAttributeCell(SheetValues& values, std::int32_t r, Variant value, const ImportColumn& column, ImportRow& row) {
    const std::int32_t c = column.column;
    // A value the cell does not know (an error, a formula without a result) leaves
    // the attribute alone: it is not an empty text.
    if (value.vt() == VT_ERROR) {
        row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}});
        return;
    }
    double number = std::numeric_limits<double>::quiet_NaN();
    if (value.vt() == VT_DATE || value.vt() == VT_BOOL) {
        // The serial number behind a date and the -1 behind TRUE are not what the
        // user typed: the cell's text is.
        value = Variant::bstr(values.shownText(r, c));
    } else if (value.vt() == VT_R8 || value.vt() == VT_R4 || value.vt() == VT_I2 || value.vt() == VT_I4) {
        toNumber(value, number);
    }
    if (!toTextInPlace(value)) {
        row.problems.push_back(CellProblem{c, kTextReasonNoValue, {}});
        return;
    }
    row.valueNumbers.push_back(number);
    row.occurrences.push_back(column.occurrence);
    row.tagColumns.push_back(column.tagColumns);
    row.tags.push_back(column.tag);
    row.values.push_back(toMultibyte(value.bstrVal()));
    row.valueColumns.push_back(c);
}

}  // namespace

void readRowCells(SheetValues& values, std::int32_t r, const SheetHeader& header, ImportRow& row) {
    row.sheetRow = r;
    row.headerRow = header.row;
    bool holdsAnything = false;
    for (const ImportColumn& column : header.columns) {
        Variant value = values.value(r, column.column, header);
        const std::int32_t c = column.column;
        // A merged range shows the value of its first cell only. The cells it covers
        // read as empty in one program and keep a value nobody sees in another:
        // neither is an edit of the user's.
        if (std::optional<std::string> merge = values.coveringMerge(r, c)) {
            row.problems.push_back(CellProblem{c, kTextReasonMergedCell, *merge, column.role != ColumnRole::Attribute});
            continue;
        }
        if (!isEmptyValue(value)) holdsAnything = true;
        if (column.role == ColumnRole::Attribute)
            readAttributeCell(values, r, std::move(value), column, row);
        else
            readPropertyCell(std::move(value), column, row);
    }
    row.isEmptied = !header.columns.empty() && !holdsAnything;
    for (std::int32_t c : header.untitled) {
        Variant value = values.value(r, c, header);
        if (isEmptyValue(value) || value.vt() == VT_ERROR) continue;
        if (value.vt() == VT_DATE || value.vt() == VT_BOOL) value = Variant::bstr(values.shownText(r, c));
        if (toTextInPlace(value)) row.untitledCells.emplace_back(c, toMultibyte(value.bstrVal()));
    }
}

namespace {

// Rows and columns looked at for export's marks when the first column holds none.
constexpr std::int32_t kRowsProbed = 64;
constexpr std::int32_t kColumnsProbed = 16;

bool isBoldRow(IDispatch* cells, std::int32_t r, std::int32_t column) {
    DispatchPtr first = xl::cell(cells, r, column);
    if (toText(xl::text(first.get())).empty()) return false;
    return xl::isBold(xl::font(first.get()).get());
}

}  // namespace

std::int32_t findHandleColumn(IDispatch* cells, std::int32_t lastRow, std::int32_t lastColumn,
                              const ImportMarkers& markers) {
    const std::int32_t rows = std::min(lastRow, kRowsProbed);
    for (std::int32_t r = 1; r <= rows; ++r)
        if (cellCommentText(xl::cell(cells, r, 1).get())) return 1;
    // No comment in the first column: columns inserted before export's first column
    // moved the header's marker and the handles to the right.
    const std::int32_t columns = std::min(lastColumn, kColumnsProbed);
    for (std::int32_t r = 1; r <= rows; ++r)
        for (std::int32_t c = 2; c <= columns; ++c)
            if (std::optional<std::u16string> comment = cellCommentText(xl::cell(cells, r, c).get());
                comment && !markers.headerRow.empty() && sameText(*comment, markers.headerRow))
                return c;
    return 1;
}

HeaderTracker::HeaderTracker(IDispatch* worksheet, IDispatch* cells, std::int32_t startColumn,
                             const ImportMarkers& markers, std::int32_t lastRow, std::int32_t lastColumn)
    : worksheet_(worksheet), cells_(cells), startColumn_(startColumn), lastColumn_(lastColumn), markers_(markers) {
    handleColumn_ = findHandleColumn(cells_, lastRow, lastColumn, markers_);
    // The user's columns before export's first one are no part of the table.
    startColumn_ = std::max(startColumn_, handleColumn_);
}

void HeaderTracker::take(std::int32_t r, bool isMarked) {
    replacedAGuess_ = isMarked && header_ && !header_->isMarked;
    header_ = readSheetHeader(worksheet_, cells_, r, startColumn_, lastColumn_, markers_);
    header_->isMarked = header_->isMarked || isMarked;
    ++headerGeneration_;
    isMarkedSheet_ = isMarkedSheet_ || isMarked;
    runHasHeader_ = true;
    lastWasHeader_ = true;
    kind_ = RowKind::Header;
}

// A marked row is a header wherever it stands. Until one has come, the rules of
// workbooks written before the marker hold: rows without a handle come in runs
// between data rows, and the first bold row of a run heads the data rows after it
// (the prompt row export writes under a header is bold too, but comes second); a
// run without one keeps the header in force. At the top of the sheet, row 1 heads
// the rows when no row before the first data row is bold.
std::optional<std::u16string> HeaderTracker::feed(std::int32_t r) {
    replacedAGuess_ = false;
    const bool afterHeader = lastWasHeader_;
    lastWasHeader_ = false;
    std::optional<std::u16string> comment = cellCommentText(xl::cell(cells_, r, handleColumn_).get());
    if (comment && !markers_.isMarker(*comment)) {
        if (!sawData_ && !header_ && r > 1) {
            // A first run without a bold row: row 1 heads it, as before the marker.
            take(1, false);
            lastWasHeader_ = false;
        }
        sawData_ = true;
        inRun_ = false;
        runHasHeader_ = false;
        kind_ = RowKind::Data;
        return comment;
    }
    if (!inRun_) {
        inRun_ = true;
        runHasHeader_ = false;
    }
    if (comment) {
        take(r, true);
        return std::nullopt;
    }
    if (!isMarkedSheet_ && !runHasHeader_ && isBoldRow(cells_, r, handleColumn_)) {
        take(r, false);
        return std::nullopt;
    }
    // The prompt row's first cell is empty under a block-name column; its format
    // (export makes the whole row bold) still tells it.
    kind_ = afterHeader && xl::isBold(xl::font(xl::cell(cells_, r, handleColumn_).get()).get()) ? RowKind::Prompt
                                                                                                : RowKind::Other;
    return std::nullopt;
}

SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply,
                         ImportReport* report) {
    return readSheetRowsWithHeaders(
        worksheet, startRow, startColumn, markers, [&](const ImportRow& row, const SheetHeader&) { apply(row); },
        report);
}

SheetTally readSheetRowsWithHeaders(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                                    const ImportMarkers& markers,
                                    const std::function<void(const ImportRow&, const SheetHeader&)>& apply,
                                    ImportReport* report) {
    SheetTally tally;
    DispatchPtr cells = xl::cells(worksheet);
    const std::int32_t lastRow = std::clamp<LONG>(xl::lastUsedRow(worksheet), 1, kLastSheetRow);
    const std::int32_t lastColumn = std::clamp<LONG>(xl::lastUsedColumn(worksheet), 1, kLastSheetColumn);
    // Settings come from the registry unchecked; row 0 does not exist.
    startRow = std::max(startRow, 1);
    HeaderTracker headers(worksheet, cells.get(), startColumn, markers, lastRow, lastColumn);
    SheetValues values(worksheet, cells.get(), lastRow);
    // Rows without a handle judged under a header that a marked header row then
    // showed to be none: named only once the header they stand under is sure.
    std::vector<std::int32_t> pending;
    auto settle = [&] {
        for (std::int32_t r : pending) {
            ++tally.rowsNotImported;
            if (report) report->rowNotImported(r, headers.handleColumn(), kTextReasonNoHandle);
        }
        pending.clear();
    };
    ImportRow row;
    for (std::int32_t r = 1; r <= lastRow; ++r) {
        std::optional<std::u16string> handle = headers.feed(r);
        if (headers.replacedAGuess()) pending.clear();
        if (!handle) {
            if (r >= startRow) ++tally.rowsWithoutHandle;
            if (headers.kind() != HeaderTracker::RowKind::Other || !headers.header() || r < startRow) continue;
            // A row under a header that holds values but no handle: a subtotal, a row
            // typed in, a row whose handle went with a deleted first column.
            row.clear();
            readRowCells(values, r, *headers.header(), row);
            if (!row.isEmptied || !row.untitledCells.empty()) {
                pending.push_back(r);
                if (headers.header()->isMarked) settle();
            }
            continue;
        }
        settle();
        if (r < startRow) {
            ++tally.rowsNotImported;
            if (report) report->rowNotImported(r, headers.handleColumn(), kTextReasonAboveStartRow, startRow);
            continue;
        }
        if (!headers.header()) {
            ++tally.rowsWithoutHeader;
            if (report) report->rowWithoutHeader(r);
            continue;
        }
        row.clear();
        row.handle = toMultibyte(*handle);
        row.handleColumn = headers.handleColumn();
        readRowCells(values, r, *headers.header(), row);
        ++tally.rows;
        apply(row, *headers.header());
    }
    settle();
    return tally;
}

}  // namespace tabro
