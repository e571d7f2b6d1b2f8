#include "sheet/Sheet.h"

#include "sheet/Automation.h"
#include "sheet/Book.h"
#include "sheet/DateFormat.h"
#include "sheet/xlsx/Carry.h"

#include <algorithm>

namespace sheet {
namespace {

constexpr std::uint32_t kWidestCounted = 255;

std::uint32_t cappedWidth(std::size_t characters) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(characters, kWidestCounted));
}

}  // namespace

bool Formula::isAnchor() const {
    for (const auto& [name, value] : attributes) {
        if (name == "ref") return true;  // master of a shared or array formula
        if (name == "t" && value == "array") return true;
    }
    return false;
}

Sheet::~Sheet() = default;

std::size_t Sheet::rowSlot(std::int32_t row) const {
    // Row numbers ascend from 1, so row r stands at index r - 1 or before: exactly
    // there in a sheet filled from the top, and exactly as far from the end as from
    // the last row when the gaps are all above it (one gap between two tables finds
    // every row one way or the other). Only other sheets need a search.
    const std::size_t n = rows_.size();
    if (row >= 1 && static_cast<std::size_t>(row) <= n && rows_[row - 1].row == row) return row - 1;
    if (n == 0 || rows_.back().row < row) return n;
    const auto fromEnd = static_cast<std::uint64_t>(rows_.back().row - row);
    if (fromEnd < n && rows_[n - 1 - fromEnd].row == row) return n - 1 - fromEnd;
    // Evenly spaced rows (every third, say) are where their spacing puts them.
    const std::int64_t first = rows_.front().row, span = rows_.back().row - first;
    if (row <= first) return 0;
    const auto guess = static_cast<std::size_t>((row - first) * static_cast<std::int64_t>(n - 1) / span);
    if (rows_[guess].row == row) return guess;
    const std::size_t limit = std::min<std::size_t>(n, static_cast<std::size_t>(std::max(row, 1)));
    auto it = std::lower_bound(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(limit), row,
                               [](const RowCells& r, std::int32_t number) { return r.row < number; });
    return static_cast<std::size_t>(it - rows_.begin());
}

const Sheet::Row* Sheet::findRow(std::int32_t row) const {
    if (row < 1) return nullptr;
    const std::size_t i = rowSlot(row);
    return i < rows_.size() && rows_[i].row == row ? &rows_[i].cells : nullptr;
}

const Cell* Sheet::find(std::int32_t row, std::int32_t column) const {
    const Row* found = findRow(row);
    if (!found) return nullptr;
    const Row& r = *found;
    auto it =
        std::lower_bound(r.begin(), r.end(), column, [](const Cell& c, std::int32_t col) { return c.column < col; });
    return it != r.end() && it->column == column ? &*it : nullptr;
}

std::uint32_t Sheet::styleAt(std::int32_t row, std::int32_t column) const {
    if (const Cell* c = find(row, column)) return c->style;
    if (auto it = rowFormats_.find(row); it != rowFormats_.end() && it->second.hasStyle) return it->second.style;
    return columnStyle(column);
}

Cell& Sheet::cellAt(std::int32_t row, std::int32_t column) { return RowCursor(*this, row).cell(column); }

std::uint32_t Sheet::widthOf(const Cell& cell) const {
    switch (cell.kind) {
    case CellKind::Empty:
        return 0;
    case CellKind::Text:
        return cappedWidth(codePointCount(book_->strings.text(cell.text)));
    case CellKind::Boolean:
        return cell.number != 0 ? 4 : 5;
    default:
        return cappedWidth(codePointCount(displayText(cell)));
    }
}

void Sheet::countWidth(std::int32_t column, const Cell& cell, int delta) {
    // Loaded cells not counted yet are counted as they then are, this one included.
    if (areWidthsPending_ || cell.kind == CellKind::Empty) return;
    countWidth(column, widthOf(cell), delta);
}

void Sheet::countWidth(std::int32_t column, std::uint32_t w, int delta) {
    if (areWidthsPending_) return;
    if (static_cast<std::size_t>(column) > widths_.size()) widths_.resize(column);
    WidthCount& wc = widths_[column - 1];
    if (wc.counts.empty()) wc.counts.assign(kWidestCounted + 1, 0);
    if (delta > 0) {
        ++wc.counts[w];
        wc.widest = std::max(wc.widest, w);
    } else if (wc.counts[w] > 0) {
        --wc.counts[w];
        while (wc.widest > 0 && wc.counts[wc.widest] == 0) --wc.widest;
    }
}

void Sheet::beforeAssign(std::int32_t row, std::int32_t column, Cell& cell) {
    countWidth(column, cell, -1);
    if (cell.flags & Cell::kHasFormula) {
        formulas_.erase(key(row, column));
        cell.flags &= static_cast<std::uint8_t>(~Cell::kHasFormula);
    }
    cellsChanged_ = true;
}

Sheet::RowCursor::RowCursor(Sheet& sheet, std::int32_t row) : sheet_(sheet), row_(row), slot_(sheet.rowSlot(row)) {
    isPresent_ = slot_ < sheet.rows_.size() && sheet.rows_[slot_].row == row;
    if (auto it = sheet.rowFormats_.find(row); it != sheet.rowFormats_.end() && it->second.hasStyle) {
        rowStyle_ = it->second.style;
        hasRowStyle_ = true;
    }
}

Cell* Sheet::RowCursor::search(std::int32_t column) {
    if (!isPresent_) return nullptr;
    Row& r = sheet_.rows_[slot_].cells;
    // A column left of the last one asked (which callers do not do) starts over.
    if (at_ > 0 && at_ <= r.size() && r[at_ - 1].column >= column) at_ = 0;
    // The next column is the next cell in a block; a jump searches what is left.
    if (at_ < r.size() && r[at_].column < column) {
        ++at_;
        if (at_ < r.size() && r[at_].column < column)
            at_ = static_cast<std::size_t>(
                std::lower_bound(r.begin() + static_cast<std::ptrdiff_t>(at_), r.end(), column,
                                 [](const Cell& c, std::int32_t col) { return c.column < col; }) -
                r.begin());
    }
    return at_ < r.size() && r[at_].column == column ? &r[at_] : nullptr;
}

std::uint32_t Sheet::RowCursor::styleAt(std::int32_t column) {
    if (const Cell* c = find(column)) return c->style;
    return hasRowStyle_ ? rowStyle_ : sheet_.columnStyle(column);
}

Cell& Sheet::RowCursor::cell(std::int32_t column) {
    if (Cell* c = find(column)) return *c;
    const std::uint32_t style = hasRowStyle_ ? rowStyle_ : sheet_.columnStyle(column);
    if (!isPresent_) {
        sheet_.rows_.insert(sheet_.rows_.begin() + static_cast<std::ptrdiff_t>(slot_), RowCells{row_, {}});
        isPresent_ = true;
        at_ = 0;
    }
    Row& r = sheet_.rows_[slot_].cells;
    Cell& c = *r.emplace(r.begin() + static_cast<std::ptrdiff_t>(at_));
    c.column = static_cast<std::uint16_t>(column);
    c.style = style;
    return c;
}

Cell& Sheet::RowCursor::assigned(std::int32_t column) {
    Cell& c = cell(column);
    sheet_.beforeAssign(row_, column, c);
    return c;
}

void Sheet::RowCursor::setNumber(std::int32_t column, double value) {
    Cell& c = assigned(column);
    c.kind = CellKind::Number;
    c.number = value;
    sheet_.countWidth(column, c, 1);
}

void Sheet::RowCursor::setText(std::int32_t column, std::u16string_view text) {
    // The text is entered first, as before a cell is looked at: the table numbers
    // texts in the order they come, and the file keeps that order.
    std::size_t characters = 0;
    const std::uint32_t id = sheet_.book_->strings.add(text, characters);
    Cell& c = assigned(column);
    c.kind = CellKind::Text;
    c.text = id;
    sheet_.countWidth(column, cappedWidth(characters), 1);
}

void Sheet::RowCursor::setBoolean(std::int32_t column, bool value) {
    Cell& c = assigned(column);
    c.kind = CellKind::Boolean;
    c.number = value ? 1 : 0;
    sheet_.countWidth(column, c, 1);
}

void Sheet::RowCursor::setError(std::int32_t column, std::int32_t errorNumber) {
    Cell& c = assigned(column);
    c.kind = CellKind::Error;
    c.error = errorNumber;
    sheet_.countWidth(column, c, 1);
}

void Sheet::RowCursor::setStyle(std::int32_t column, std::uint32_t style) {
    Cell& c = cell(column);
    if (c.style == style) return;
    sheet_.restyleCell(column, c, style);
    sheet_.cellsChanged_ = true;
}

void Sheet::RowCursor::clearValue(std::int32_t column) {
    // Clearing a cell that does not exist creates none.
    Cell* c = find(column);
    if (!c) return;
    sheet_.beforeAssign(row_, column, *c);
    c->kind = CellKind::Empty;
    c->number = 0;
}

void Sheet::setStyle(std::int32_t row, std::int32_t column, std::uint32_t style) {
    Cell& c = cellAt(row, column);
    if (c.style != style) {
        restyleCell(column, c, style);
        cellsChanged_ = true;
    }
}

void Sheet::restyleCell(std::int32_t column, Cell& cell, std::uint32_t style) {
    const Styles& styles = book_->styles;
    const bool recount = cell.kind == CellKind::Number && !areWidthsPending_ && cell.style != style &&
                         (styles.isDateFormat(cell.style) || styles.isDateFormat(style));
    if (recount) countWidth(column, cell, -1);
    cell.style = style;
    if (recount) countWidth(column, cell, 1);
}

const Formula* Sheet::formula(std::int32_t row, std::int32_t column) const {
    auto it = formulas_.find(key(row, column));
    return it == formulas_.end() ? nullptr : &it->second;
}

std::u16string Sheet::displayText(const Cell& cell) const {
    switch (cell.kind) {
    case CellKind::Empty:
        return {};
    case CellKind::Text:
        return std::u16string(book_->strings.text(cell.text));
    case CellKind::Boolean:
        return cell.number != 0 ? u"TRUE" : u"FALSE";
    case CellKind::Error:
        if (auto e = errorByNumber(cell.error)) return utf8ToUtf16(e->text);
        return u"#VALUE!";
    case CellKind::Number: {
        const Styles& styles = book_->styles;
        // A date format shows only the dates its system has; other numbers in it
        // show as General numbers here.
        if (styles.isDateFormat(cell.style))
            if (auto shown = formatDateTime(cell.number, styles.formatCode(cell.style), book_->isDate1904))
                return utf8ToUtf16(*shown);
        std::string s = displayNumber(cell.number);
        return std::u16string(s.begin(), s.end());
    }
    }
    return {};
}

std::u16string Sheet::displayText(std::int32_t row, std::int32_t column) const {
    const Cell* c = find(row, column);
    return c ? displayText(*c) : std::u16string{};
}

const Comment* Sheet::comment(std::int32_t row, std::int32_t column) const {
    auto it = comments_.find(key(row, column));
    return it == comments_.end() ? nullptr : &it->second;
}

void Sheet::setComment(std::int32_t row, std::int32_t column, Comment comment) {
    comments_[key(row, column)] = std::move(comment);
    commentsChanged_ = true;
}

std::vector<std::pair<std::uint64_t, const Comment*>> Sheet::sortedComments() const {
    std::vector<std::pair<std::uint64_t, const Comment*>> sorted;
    sorted.reserve(comments_.size());
    for (const auto& [k, c] : comments_) sorted.emplace_back(k, &c);
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return sorted;
}

void Sheet::removeComment(std::int32_t row, std::int32_t column) {
    if (comments_.erase(key(row, column))) commentsChanged_ = true;
}

const LineFormat* Sheet::rowFormat(std::int32_t row) const {
    auto it = rowFormats_.find(row);
    return it == rowFormats_.end() ? nullptr : &it->second;
}

const LineFormat* Sheet::columnFormat(std::int32_t column) const {
    return column >= 1 && static_cast<std::size_t>(column) <= columns_.size() ? &columns_[column - 1] : nullptr;
}

LineFormat& Sheet::columnFormatForLoad(std::int32_t column) {
    if (static_cast<std::size_t>(column) > columns_.size()) columns_.resize(column);
    return columns_[column - 1];
}

void Sheet::restyle(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right, bool isWholeRows,
                    bool isWholeColumns, const std::function<std::uint32_t(std::uint32_t)>& change) {
    cellsChanged_ = true;
    // The cells of a block share a few formats: each distinct one goes through
    // change once (it is a function of the old format), not every cell.
    struct Seen {
        std::uint32_t from, to;
    };
    constexpr std::size_t kRemembered = 8;
    Seen seen[kRemembered];
    std::size_t seenCount = 0, last = 0;
    auto changed = [&](std::uint32_t old) {
        if (seenCount > 0 && seen[last].from == old) return seen[last].to;
        for (std::size_t i = 0; i < seenCount; ++i)
            if (seen[i].from == old) {
                last = i;
                return seen[i].to;
            }
        const std::uint32_t to = change(old);
        if (seenCount < kRemembered) {
            seen[seenCount] = Seen{old, to};
            last = seenCount++;
        }
        return to;
    };
    if (isWholeColumns) {
        for (std::int32_t c = left; c <= right; ++c) {
            LineFormat& f = columnFormatForLoad(c);
            f.style = changed(f.hasStyle ? f.style : 0);
            f.hasStyle = true;
        }
    } else if (isWholeRows) {
        for (std::int32_t r = top; r <= bottom; ++r) {
            LineFormat& f = rowFormats_[r];
            f.style = changed(f.hasStyle ? f.style : 0);
            f.hasStyle = true;
        }
    }
    if (isWholeColumns || isWholeRows) {
        for (auto it = rows_.begin() + static_cast<std::ptrdiff_t>(rowSlot(top));
             it != rows_.end() && it->row <= bottom; ++it)
            for (Cell& c : it->cells)
                if (c.column >= left && c.column <= right) restyleCell(c.column, c, changed(c.style));
        return;
    }
    for (std::int32_t r = top; r <= bottom; ++r) {
        RowCursor cursor(*this, r);
        for (std::int32_t c = left; c <= right; ++c) {
            Cell& cell = cursor.cell(c);
            restyleCell(c, cell, changed(cell.style));
        }
    }
}

void Sheet::autoFit(std::int32_t firstColumn, std::int32_t lastColumn) {
    if (areWidthsPending_) countLoadedWidths();
    std::int32_t last = std::min<std::int32_t>(lastColumn, static_cast<std::int32_t>(widths_.size()));
    for (std::int32_t col = std::max(firstColumn, 1); col <= last; ++col) {
        const WidthCount& wc = widths_[col - 1];
        if (wc.counts.empty()) continue;
        LineFormat& f = columnFormatForLoad(col);
        double width = -1;
        // Characters of the default font are about 7 pixels wide plus 5 pixels of
        // padding; widths are stored in characters to 1/256.
        if (wc.widest > 0) width = static_cast<int>((wc.widest * 7.0 + 5.0) / 7.0 * 256.0) / 256.0;
        // A column is at most 255 characters wide, as files have it (and as the
        // reader holds them to): a longer text is fitted that far.
        width = std::min(width, 255.0);
        if (f.width != width || f.isCustomWidth != (width >= 0)) {
            f.width = width;
            f.isCustomWidth = width >= 0;
            cellsChanged_ = true;
        }
    }
}

std::int32_t Sheet::maxRow() const {
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it)
        if (!it->cells.empty()) return it->row;
    return 0;
}

std::int32_t Sheet::maxColumn() const {
    std::int32_t m = 0;
    for (const RowCells& r : rows_)
        if (!r.cells.empty()) m = std::max<std::int32_t>(m, r.cells.back().column);
    return m;
}

void Sheet::usedArea(std::int32_t& top, std::int32_t& left, std::int32_t& bottom, std::int32_t& right) const {
    std::int32_t t = 0, l = 0, b = 0, r = 0;
    auto take = [&](std::int32_t row, std::int32_t column) {
        if (b == 0) {
            t = b = row;
            l = r = column;
            return;
        }
        t = std::min(t, row);
        b = std::max(b, row);
        l = std::min(l, column);
        r = std::max(r, column);
    };
    for (const RowCells& r : rows_) {
        if (r.cells.empty()) continue;
        take(r.row, r.cells.front().column);
        take(r.row, r.cells.back().column);
    }
    for (const auto& [k, comment] : comments_)
        take(static_cast<std::int32_t>(k >> 16), static_cast<std::int32_t>(k & 0xFFFF));
    if (b == 0) t = l = b = r = 1;
    top = t;
    left = l;
    bottom = b;
    right = r;
}

Cell& Sheet::cellForLoad(std::int32_t row, std::int32_t column) {
    // Files list their cells in order, so each one goes after the last: no search,
    // and no look for a row or column format the reader sets the cell's own over.
    if (!rows_.empty() && rows_.back().row == row) {
        Row& r = rows_.back().cells;
        if (r.empty() || r.back().column < column) {
            Cell& c = r.emplace_back();
            c.column = static_cast<std::uint16_t>(column);
            return c;
        }
    } else if (rows_.empty() || rows_.back().row < row) {
        Cell& c = rows_.emplace_back(RowCells{row, {}}).cells.emplace_back();
        c.column = static_cast<std::uint16_t>(column);
        return c;
    }
    return cellAt(row, column);
}

void Sheet::setFormulaForLoad(std::int32_t row, std::int32_t column, Formula formula) {
    cellAt(row, column).flags |= Cell::kHasFormula;
    formulas_[key(row, column)] = std::move(formula);
}

void Sheet::setCommentForLoad(std::int32_t row, std::int32_t column, Comment comment) {
    comments_[key(row, column)] = std::move(comment);
}

void Sheet::markUsedTexts(std::uint32_t firstAdded, std::vector<bool>& used) const {
    for (const RowCells& r : rows_)
        for (const Cell& c : r.cells)
            if (c.kind == CellKind::Text && c.text >= firstAdded) used[c.text - firstAdded] = true;
}

void Sheet::renumberTexts(std::uint32_t firstAdded, const std::vector<std::uint32_t>& indexOf) {
    for (RowCells& r : rows_)
        for (Cell& c : r.cells)
            if (c.kind == CellKind::Text && c.text >= firstAdded) c.text = indexOf[c.text - firstAdded];
}

void Sheet::swapContent(Sheet& other) {
    std::swap(visibility_, other.visibility_);
    rows_.swap(other.rows_);
    formulas_.swap(other.formulas_);
    comments_.swap(other.comments_);
    rowFormats_.swap(other.rowFormats_);
    columns_.swap(other.columns_);
    std::swap(merged_, other.merged_);
    widths_.swap(other.widths_);
    std::swap(areWidthsPending_, other.areWidthsPending_);
    std::swap(cellsChanged_, other.cellsChanged_);
    std::swap(commentsChanged_, other.commentsChanged_);
    carry.swap(other.carry);
}

void Sheet::finishLoad() {
    // The widths are counted when a column is first fitted: a workbook read only to
    // be read (an import) never needs them, and the reading runs while the command
    // waits for it.
    widths_.clear();
    areWidthsPending_ = true;
    merged_.finishLoad();
    cellsChanged_ = commentsChanged_ = false;
}

void Sheet::countLoadedWidths() {
    areWidthsPending_ = false;
    widths_.clear();
    for (const RowCells& r : rows_)
        for (const Cell& c : r.cells) countWidth(c.column, c, 1);
}

std::uint64_t Sheet::footprintBytes() const {
    // Hash map entries cost about a node and a bucket each beyond their values.
    constexpr std::uint64_t kMapEntry = 48;
    std::uint64_t bytes = rows_.capacity() * sizeof(RowCells) + columns_.capacity() * sizeof(LineFormat) +
                          widths_.capacity() * sizeof(WidthCount);
    for (const RowCells& r : rows_) bytes += r.cells.capacity() * sizeof(Cell);
    bytes += merged_.areas().capacity() * sizeof(CellRect);
    for (const WidthCount& w : widths_) bytes += w.counts.capacity() * sizeof(std::uint32_t);
    if (areWidthsPending_) {
        // What counting the loaded cells will take: a count per width for every
        // column that holds a value, up to the last such column.
        std::vector<bool> holds(std::size_t{0xFFFF} + 1, false);
        std::int32_t last = 0, columns = 0;
        for (const RowCells& r : rows_)
            for (const Cell& c : r.cells)
                if (c.kind != CellKind::Empty && !holds[c.column]) {
                    holds[c.column] = true;
                    ++columns;
                    last = std::max<std::int32_t>(last, c.column);
                }
        bytes += static_cast<std::uint64_t>(last) * sizeof(WidthCount) +
                 static_cast<std::uint64_t>(columns) * (kWidestCounted + 1) * sizeof(std::uint32_t);
    }
    for (const auto& [k, f] : formulas_) bytes += kMapEntry + sizeof(Formula) + f.text.capacity();
    for (const auto& [k, c] : comments_)
        bytes += kMapEntry + sizeof(Comment) + 2 * (c.text.capacity() + c.author.capacity());
    bytes += rowFormats_.size() * (kMapEntry + sizeof(LineFormat));
    return bytes;
}

}  // namespace sheet
