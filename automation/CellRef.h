// A1-style cell references: column letters and row numbers, counted from 1, within
// the grid of the file format (1,048,576 rows by 16,384 columns).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace automation {

constexpr std::int32_t kMaxRows = 1048576;
constexpr std::int32_t kMaxColumns = 16384;

struct CellRef {
    std::int32_t row = 1;
    std::int32_t column = 1;
    friend bool operator==(const CellRef&, const CellRef&) = default;
};

// "A1", "$B$7" and "xfd1048576" read; anything else (no digits, letters after the
// digits, row 0, beyond the grid) gives no value.
std::optional<CellRef> parseCellRef(std::string_view text);
// "A".."XFD"; column must be within the grid.
std::string columnName(std::int32_t column);
// Appends "B7" for row 7, column 2.
void appendCellRef(std::string& out, std::int32_t row, std::int32_t column);
// The same written at out (at most kMaxCellRefChars), returning its end.
inline constexpr std::size_t kMaxCellRefChars = 3 + 10;
char* putCellRef(char* out, std::int32_t row, std::int32_t column);
std::string cellRefText(std::int32_t row, std::int32_t column);

}  // namespace automation
