// A1 references both ways: every reference written reads back as its cell, at the
// edges of the grid too, and what is not a cell of the grid reads as none.
#include "automation/CellRef.h"

#include <gtest/gtest.h>

namespace automation {
namespace {

TEST(CellRefTest, WrittenReferencesReadBackAtTheEdgesOfTheGrid) {
    for (std::int32_t column : {1, 2, 26, 27, 52, 53, 702, 703, 16383, kMaxColumns})
        for (std::int32_t row : {1, 9, 10, 99, 100, 999999, kMaxRows}) {
            const std::string text = cellRefText(row, column);
            EXPECT_EQ(text, columnName(column) + std::to_string(row));
            EXPECT_EQ(parseCellRef(text), (CellRef{row, column})) << text;
        }
    EXPECT_EQ(cellRefText(7, 2), "B7");
    EXPECT_EQ(cellRefText(1048576, 16384), "XFD1048576");
    EXPECT_EQ(parseCellRef("$AB$12"), (CellRef{12, 28}));
    EXPECT_EQ(parseCellRef("xfd1048576"), (CellRef{kMaxRows, kMaxColumns}));
}

TEST(CellRefTest, WhatIsNotACellOfTheGridReadsAsNone) {
    for (const char* text : {"", "A", "1", "A0", "A01", "A1048577", "XFE1", "AAAA1", "A1B", "A-1", "A+1", "1A", "A 1",
                             "A1 ", "A99999999999", "A4294967297", "$$A1", "A$$1"})
        EXPECT_FALSE(parseCellRef(text)) << text;
}

}  // namespace
}  // namespace automation
