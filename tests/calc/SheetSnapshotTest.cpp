// The kept values of a sheet and the cells found changed between two of them: what
// the Calc backend announces for edits the office tells only as "modified". No
// office is needed: the values are built here as the office's data arrays give them.
#include "calc/SheetSnapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

using automation::CellRef;
using calc::changedCells;
using calc::SheetValues;

namespace {

// A block from rows of cells written as: "" empty, "=n" the number n, "!" an error
// value, anything else a text.
SheetValues block(std::int32_t top, std::int32_t left, const std::vector<std::vector<std::u16string>>& rows) {
    std::size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.size());
    SheetValues values(top, left, static_cast<std::int32_t>(rows.size()), static_cast<std::int32_t>(width));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const std::u16string& cell = rows[r][c];
            const auto row = top + static_cast<std::int32_t>(r), column = left + static_cast<std::int32_t>(c);
            if (cell.empty()) continue;
            if (cell == u"!")
                values.setError(row, column);
            else if (cell[0] == u'=')
                values.setNumber(row, column, std::stod(std::string(cell.begin() + 1, cell.end())));
            else
                values.setText(row, column, cell);
        }
    return values;
}

std::vector<CellRef> cells(std::initializer_list<std::pair<std::int32_t, std::int32_t>> list) {
    std::vector<CellRef> out;
    for (auto [row, column] : list) out.push_back({row, column});
    return out;
}

// The sheet as a map of its non-empty cells, each written as in block().
using Grid = std::map<std::pair<std::int32_t, std::int32_t>, std::u16string>;

Grid gridOf(const SheetValues& v) {
    Grid grid;
    if (v.isEmpty()) return grid;
    for (std::int32_t r = v.top(); r <= v.bottom(); ++r)
        for (std::int32_t c = v.left(); c <= v.right(); ++c) switch (v.kindAt(r, c)) {
            case SheetValues::Kind::Empty:
                break;
            case SheetValues::Kind::Number: {
                const std::string number = std::to_string(static_cast<long long>(v.numberAt(r, c)));
                grid[{r, c}] = u"=" + std::u16string(number.begin(), number.end());
                break;
            }
            case SheetValues::Kind::Text:
                grid[{r, c}] = std::u16string(v.textAt(r, c));
                break;
            case SheetValues::Kind::Error:
                grid[{r, c}] = u"!";
                break;
            }
    return grid;
}

TEST(SheetSnapshotTest, ACellDiffersByKindAndByValue) {
    const SheetValues before = block(1, 1, {{u"a", u"=1", u"", u"!", u"42"}});
    EXPECT_TRUE(changedCells(before, before).empty());
    // Text for text, number for number, empty for empty, error for error: the same.
    EXPECT_TRUE(changedCells(before, block(1, 1, {{u"a", u"=1", u"", u"!", u"42"}})).empty());
    // The text "42" and the number 42 are different values; so are an error and an
    // empty cell, and a cleared text.
    EXPECT_EQ(changedCells(before, block(1, 1, {{u"", u"=1", u"!", u"!", u"=42"}})), cells({{1, 1}, {1, 3}, {1, 5}}));
    EXPECT_EQ(changedCells(before, block(1, 1, {{u"A", u"=1.5", u"", u"", u"42"}})), cells({{1, 1}, {1, 2}, {1, 4}}));
}

TEST(SheetSnapshotTest, CellsOutsideABlockAreEmptyOnEitherSide) {
    const SheetValues before = block(2, 2, {{u"a", u"b"}, {u"c", u"d"}});
    // The used area grew by a row and a column: only the filled new cells differ.
    EXPECT_EQ(changedCells(before, block(2, 2, {{u"a", u"b", u""}, {u"c", u"d", u"x"}, {u"", u"y", u""}})),
              cells({{3, 4}, {4, 3}}));
    // It shrank (a cut of the last row): the emptied cells differ, rows first.
    EXPECT_EQ(changedCells(before, block(2, 2, {{u"a", u"b"}})), cells({{3, 2}, {3, 3}}));
    // Nothing on one side.
    EXPECT_EQ(changedCells(SheetValues(), block(5, 1, {{u"", u"=3"}})), cells({{5, 2}}));
    EXPECT_EQ(changedCells(block(5, 1, {{u"t"}}), SheetValues()), cells({{5, 1}}));
    EXPECT_TRUE(changedCells(SheetValues(), SheetValues()).empty());
    // Blocks placed apart compare over the rectangle holding both.
    EXPECT_EQ(changedCells(block(1, 1, {{u"a"}}), block(3, 3, {{u"a"}})), cells({{1, 1}, {3, 3}}));
}

TEST(SheetSnapshotTest, UpdatesTakeTheFresherCellsAndGrowTheBlock) {
    SheetValues kept = block(2, 2, {{u"a", u"b"}, {u"c", u"d"}});
    // Inside: only the cells given change.
    kept.update(block(3, 3, {{u"D"}}));
    EXPECT_EQ(gridOf(kept), (Grid{{{2, 2}, u"a"}, {{2, 3}, u"b"}, {{3, 2}, u"c"}, {{3, 3}, u"D"}}));
    // Overlapping the edge: the rectangle grows to hold both, and an empty cell
    // written empties the kept one.
    kept.update(block(1, 3, {{u"up"}, {u""}}));
    EXPECT_EQ(kept.top(), 1);
    EXPECT_EQ(kept.left(), 2);
    EXPECT_EQ(kept.bottom(), 3);
    EXPECT_EQ(kept.right(), 3);
    EXPECT_EQ(gridOf(kept), (Grid{{{1, 3}, u"up"}, {{2, 2}, u"a"}, {{3, 2}, u"c"}, {{3, 3}, u"D"}}));
    // Into nothing.
    SheetValues none;
    none.update(block(4, 4, {{u"=7"}}));
    EXPECT_EQ(gridOf(none), (Grid{{{4, 4}, u"=7"}}));
}

TEST(SheetSnapshotTest, TextsWrittenOverAndOverKeepTheirValuesAndTheirMemoryBounded) {
    SheetValues kept(1, 1, 10, 10);
    std::u16string longText(200, u'x');
    for (int round = 0; round < 200; ++round) {
        SheetValues fresh(1, 1, 10, 10);
        for (std::int32_t r = 1; r <= 10; ++r)
            for (std::int32_t c = 1; c <= 10; ++c)
                fresh.setText(r, c, longText + static_cast<char16_t>(u'a' + (round + r * c) % 26));
        kept.update(fresh);
    }
    EXPECT_EQ(kept.textAt(3, 4), longText + static_cast<char16_t>(u'a' + (199 + 12) % 26));
    EXPECT_TRUE(changedCells(kept, kept).empty());
    // One round of texts is 100 × 201 characters; the replaced ones are let go.
    EXPECT_LT(kept.bytes(), std::size_t{4} * 100 * 201 * sizeof(char16_t));
}

// The sheet's own rows and columns moved the same way as the kept ones: a moved
// cell shows no change, and only what the user changed besides does.
TEST(SheetSnapshotTest, RowsAndColumnsInsertedOrRemovedMoveTheKeptCellsAsTheSheetsOwn) {
    const SheetValues sheet = block(2, 1, {{u"h1", u"=1"}, {u"h2", u"=2"}, {u"h3", u"=3"}, {u"h4", u"=4"}});

    SheetValues kept = sheet;
    kept.insertRows(3, 2);  // two rows before h2
    EXPECT_TRUE(
        changedCells(kept, block(2, 1, {{u"h1", u"=1"}, {}, {}, {u"h2", u"=2"}, {u"h3", u"=3"}, {u"h4", u"=4"}}))
            .empty());
    kept = sheet;
    kept.insertRows(1, 1);  // above the block: it moves whole
    EXPECT_EQ(kept.top(), 3);
    EXPECT_EQ(gridOf(kept).at({3, 1}), u"h1");
    kept = sheet;
    kept.insertRows(9, 3);  // below: nothing moves
    EXPECT_EQ(gridOf(kept), gridOf(sheet));

    kept = sheet;
    kept.removeRows(3, 2);  // h2 and h3
    EXPECT_EQ(gridOf(kept), (Grid{{{2, 1}, u"h1"}, {{2, 2}, u"=1"}, {{3, 1}, u"h4"}, {{3, 2}, u"=4"}}));
    kept = sheet;
    kept.removeRows(1, 2);  // the row above and h1
    EXPECT_EQ(
        gridOf(kept),
        (Grid{{{1, 1}, u"h2"}, {{1, 2}, u"=2"}, {{2, 1}, u"h3"}, {{2, 2}, u"=3"}, {{3, 1}, u"h4"}, {{3, 2}, u"=4"}}));
    kept = sheet;
    kept.removeRows(1, 10);  // all of them
    EXPECT_TRUE(kept.isEmpty());

    kept = sheet;
    kept.insertColumns(2, 1);
    EXPECT_EQ(gridOf(kept).at({2, 3}), u"=1");
    EXPECT_EQ(gridOf(kept).count({2, 2}), 0u);
    kept.removeColumns(1, 2);
    EXPECT_EQ(gridOf(kept), (Grid{{{2, 1}, u"=1"}, {{3, 1}, u"=2"}, {{4, 1}, u"=3"}, {{5, 1}, u"=4"}}));
    kept = sheet;
    kept.insertColumns(1, 3);
    EXPECT_EQ(kept.left(), 4);
    kept.removeColumns(1, 2);
    EXPECT_EQ(kept.left(), 2);
    EXPECT_EQ(gridOf(kept).at({5, 3}), u"=4");
}

// Against a plain model of a sheet, over many random edits: after every move the
// kept cells are where the sheet's are, and a diff against the sheet finds exactly
// the cells written since.
TEST(SheetSnapshotTest, RandomMovesAndWritesKeepTheKeptCellsWhereTheSheetHasThem) {
    std::mt19937 random(20240611);
    auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    Grid sheet;
    for (int i = 0; i < 60; ++i)
        sheet[{pick(1, 12), pick(1, 6)}] = pick(0, 1) ? u"t" + std::u16string(1, u'a' + i % 26) : u"!";
    auto valuesOf = [](const Grid& grid) {
        std::int32_t top = 1 << 20, left = 1 << 20, bottom = 0, right = 0;
        for (const auto& [at, _] : grid) {
            top = std::min(top, at.first), bottom = std::max(bottom, at.first);
            left = std::min(left, at.second), right = std::max(right, at.second);
        }
        if (grid.empty()) return SheetValues();
        SheetValues v(top, left, bottom - top + 1, right - left + 1);
        for (const auto& [at, text] : grid)
            text == u"!" ? v.setError(at.first, at.second) : v.setText(at.first, at.second, text);
        return v;
    };
    auto moved = [](const Grid& grid, auto map) {
        Grid out;
        for (const auto& [at, text] : grid)
            if (auto to = map(at); to.first > 0 && to.second > 0) out[to] = text;
        return out;
    };
    SheetValues kept = valuesOf(sheet);
    for (int step = 0; step < 400; ++step) {
        const int at = pick(1, 14), count = pick(1, 3);
        switch (pick(0, 4)) {
        case 0:
            kept.insertRows(at, count);
            sheet = moved(sheet, [&](auto p) { return p.first >= at ? std::pair(p.first + count, p.second) : p; });
            break;
        case 1:
            kept.removeRows(at, count);
            sheet = moved(sheet, [&](auto p) {
                if (p.first >= at && p.first < at + count) return std::pair(0, 0);
                return p.first >= at + count ? std::pair(p.first - count, p.second) : p;
            });
            break;
        case 2:
            kept.insertColumns(at, count);
            sheet = moved(sheet, [&](auto p) { return p.second >= at ? std::pair(p.first, p.second + count) : p; });
            break;
        case 3:
            kept.removeColumns(at, count);
            sheet = moved(sheet, [&](auto p) {
                if (p.second >= at && p.second < at + count) return std::pair(0, 0);
                return p.second >= at + count ? std::pair(p.first, p.second - count) : p;
            });
            break;
        default: {
            // The user writes a few cells: exactly those are found, then taken in.
            std::vector<CellRef> written;
            Grid after = sheet;
            for (int i = pick(1, 3); i > 0; --i) {
                const std::pair<std::int32_t, std::int32_t> cell{pick(1, 16), pick(1, 8)};
                std::u16string text = u"w" + std::u16string(1, u'a' + step % 26);
                if (sheet.count(cell) && sheet.at(cell) == text) continue;
                after[cell] = text;
                written.push_back({cell.first, cell.second});
            }
            std::sort(written.begin(), written.end(), [](const CellRef& a, const CellRef& b) {
                return std::pair(a.row, a.column) < std::pair(b.row, b.column);
            });
            written.erase(std::unique(written.begin(), written.end()), written.end());
            const SheetValues fresh = valuesOf(after);
            ASSERT_EQ(changedCells(kept, fresh), written) << "step " << step;
            kept.update(fresh);
            sheet = after;
            break;
        }
        }
        ASSERT_EQ(gridOf(kept), sheet) << "step " << step;
    }
}

}  // namespace
