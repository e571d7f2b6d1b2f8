// A sheet's values as last seen, and what differs between two of them.
#include "calc/SheetSnapshot.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace calc {

SheetValues::SheetValues(std::int32_t top, std::int32_t left, std::int32_t rows, std::int32_t columns)
    : top_(top), left_(left), rows_(std::max(rows, 0)), columns_(std::max(columns, 0)) {
    if (isEmpty()) {
        rows_ = columns_ = 0;
        return;
    }
    cells_.resize(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_));
}

const SheetValues::Cell* SheetValues::cellAt(std::int32_t row, std::int32_t column) const noexcept {
    if (!contains(row, column)) return nullptr;
    return &cells_[static_cast<std::size_t>(row - top_) * static_cast<std::size_t>(columns_) +
                   static_cast<std::size_t>(column - left_)];
}

SheetValues::Cell& SheetValues::own(std::int32_t row, std::int32_t column) {
    if (!contains(row, column)) throw std::out_of_range("a cell outside the block's rectangle");
    return cells_[static_cast<std::size_t>(row - top_) * static_cast<std::size_t>(columns_) +
                  static_cast<std::size_t>(column - left_)];
}

void SheetValues::forgetText(Cell& cell) noexcept {
    if (cell.kind == Kind::Text) unusedText_ += cell.length;
}

void SheetValues::setNumber(std::int32_t row, std::int32_t column, double number) {
    Cell& cell = own(row, column);
    forgetText(cell);
    cell.kind = Kind::Number;
    cell.length = 0;
    cell.number = number;
}

void SheetValues::setText(std::int32_t row, std::int32_t column, std::u16string_view text) {
    if (text.empty()) return setEmpty(row, column);
    Cell& cell = own(row, column);
    forgetText(cell);
    cell.kind = Kind::Text;
    cell.length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
    cell.offset = texts_.size();
    texts_.append(text.substr(0, cell.length));
}

void SheetValues::setError(std::int32_t row, std::int32_t column) {
    Cell& cell = own(row, column);
    forgetText(cell);
    cell.kind = Kind::Error;
    cell.length = 0;
    cell.number = 0;
}

void SheetValues::setEmpty(std::int32_t row, std::int32_t column) {
    Cell& cell = own(row, column);
    forgetText(cell);
    cell = Cell{};
}

SheetValues::Kind SheetValues::kindAt(std::int32_t row, std::int32_t column) const noexcept {
    const Cell* cell = cellAt(row, column);
    return cell ? cell->kind : Kind::Empty;
}

double SheetValues::numberAt(std::int32_t row, std::int32_t column) const noexcept {
    const Cell* cell = cellAt(row, column);
    return cell && cell->kind == Kind::Number ? cell->number : 0;
}

std::u16string_view SheetValues::textAt(std::int32_t row, std::int32_t column) const noexcept {
    const Cell* cell = cellAt(row, column);
    if (!cell || cell->kind != Kind::Text) return {};
    return std::u16string_view(texts_).substr(static_cast<std::size_t>(cell->offset), cell->length);
}

bool SheetValues::isSameAt(const SheetValues& other, std::int32_t row, std::int32_t column) const noexcept {
    const Cell* a = cellAt(row, column);
    const Cell* b = other.cellAt(row, column);
    const Kind ka = a ? a->kind : Kind::Empty, kb = b ? b->kind : Kind::Empty;
    if (ka != kb) return false;
    switch (ka) {
    case Kind::Number:
        // The office gives no NaN, but a comparison that calls a value unequal to
        // itself would announce the cell at every look.
        return a->number == b->number || (std::isnan(a->number) && std::isnan(b->number));
    case Kind::Text:
        return textAt(row, column) == other.textAt(row, column);
    case Kind::Empty:
    case Kind::Error:
        return true;
    }
    return true;
}

void SheetValues::copyCell(std::int32_t row, std::int32_t column, const SheetValues& from, std::int32_t fromRow,
                           std::int32_t fromColumn) {
    switch (from.kindAt(fromRow, fromColumn)) {
    case Kind::Empty:
        setEmpty(row, column);
        break;
    case Kind::Number:
        setNumber(row, column, from.numberAt(fromRow, fromColumn));
        break;
    case Kind::Text:
        setText(row, column, from.textAt(fromRow, fromColumn));
        break;
    case Kind::Error:
        setError(row, column);
        break;
    }
}

template <class RowMap, class ColumnMap>
SheetValues SheetValues::remapped(std::int32_t top, std::int32_t left, std::int32_t rows, std::int32_t columns,
                                  RowMap rowMap, ColumnMap columnMap) const {
    SheetValues moved(top, left, rows, columns);
    if (moved.isEmpty()) return moved;
    moved.texts_.reserve(texts_.size() - std::min(unusedText_, texts_.size()));
    for (std::int32_t r = top_; r <= bottom(); ++r) {
        const std::int32_t to = rowMap(r);
        if (to == 0) continue;
        for (std::int32_t c = left_; c <= right(); ++c) {
            const std::int32_t across = columnMap(c);
            if (across == 0 || kindAt(r, c) == Kind::Empty || !moved.contains(to, across)) continue;
            moved.copyCell(to, across, *this, r, c);
        }
    }
    return moved;
}

void SheetValues::update(const SheetValues& fresher) {
    if (fresher.isEmpty()) return;
    if (isEmpty()) {
        *this = fresher;
        return;
    }
    if (!(contains(fresher.top(), fresher.left()) && contains(fresher.bottom(), fresher.right()))) {
        const std::int32_t top = std::min(top_, fresher.top()), left = std::min(left_, fresher.left());
        const std::int32_t bottom = std::max(this->bottom(), fresher.bottom());
        const std::int32_t right = std::max(this->right(), fresher.right());
        auto same = [](std::int32_t at) { return at; };
        *this = remapped(top, left, bottom - top + 1, right - left + 1, same, same);
    }
    for (std::int32_t r = fresher.top(); r <= fresher.bottom(); ++r)
        for (std::int32_t c = fresher.left(); c <= fresher.right(); ++c) copyCell(r, c, fresher, r, c);
    // Texts replaced leave their characters behind; once they are most of the
    // buffer, the block is laid anew.
    if (unusedText_ > 4096 && unusedText_ > texts_.size() / 2) {
        auto same = [](std::int32_t at) { return at; };
        *this = remapped(top_, left_, rows_, columns_, same, same);
    }
}

void SheetValues::insertRows(std::int32_t at, std::int32_t count) {
    if (isEmpty() || count <= 0 || at > bottom()) return;
    if (at <= top_) {
        top_ += count;
        return;
    }
    auto down = [&](std::int32_t row) { return row < at ? row : row + count; };
    auto same = [](std::int32_t column) { return column; };
    *this = remapped(top_, left_, rows_ + count, columns_, down, same);
}

void SheetValues::removeRows(std::int32_t at, std::int32_t count) {
    if (isEmpty() || count <= 0 || at > bottom()) return;
    const std::int32_t end = at + count;  // the first row kept after the removed ones
    if (end <= top_) {
        top_ -= count;
        return;
    }
    const std::int32_t kept = std::max(0, std::min(bottom(), at - 1) - top_ + 1) + std::max(0, bottom() - end + 1);
    auto up = [&](std::int32_t row) { return row < at ? row : row >= end ? row - count : 0; };
    auto same = [](std::int32_t column) { return column; };
    *this = remapped(std::min(top_, at), left_, kept, columns_, up, same);
}

void SheetValues::insertColumns(std::int32_t at, std::int32_t count) {
    if (isEmpty() || count <= 0 || at > right()) return;
    if (at <= left_) {
        left_ += count;
        return;
    }
    auto same = [](std::int32_t row) { return row; };
    auto across = [&](std::int32_t column) { return column < at ? column : column + count; };
    *this = remapped(top_, left_, rows_, columns_ + count, same, across);
}

void SheetValues::removeColumns(std::int32_t at, std::int32_t count) {
    if (isEmpty() || count <= 0 || at > right()) return;
    const std::int32_t end = at + count;
    if (end <= left_) {
        left_ -= count;
        return;
    }
    const std::int32_t kept = std::max(0, std::min(right(), at - 1) - left_ + 1) + std::max(0, right() - end + 1);
    auto same = [](std::int32_t row) { return row; };
    auto back = [&](std::int32_t column) { return column < at ? column : column >= end ? column - count : 0; };
    *this = remapped(top_, std::min(left_, at), rows_, kept, same, back);
}

std::size_t SheetValues::bytes() const noexcept {
    return sizeof(*this) + cells_.capacity() * sizeof(Cell) + texts_.capacity() * sizeof(char16_t);
}

std::vector<automation::CellRef> changedCells(const SheetValues& before, const SheetValues& after) {
    std::vector<automation::CellRef> changed;
    if (before.isEmpty() && after.isEmpty()) return changed;
    const SheetValues& any = before.isEmpty() ? after : before;
    std::int32_t top = any.top(), left = any.left(), bottom = any.bottom(), right = any.right();
    if (!after.isEmpty()) {
        top = std::min(top, after.top());
        left = std::min(left, after.left());
        bottom = std::max(bottom, after.bottom());
        right = std::max(right, after.right());
    }
    for (std::int32_t r = top; r <= bottom; ++r)
        for (std::int32_t c = left; c <= right; ++c)
            if (!before.isSameAt(after, r, c)) changed.push_back({r, c});
    return changed;
}

}  // namespace calc
