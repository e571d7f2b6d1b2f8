// Blocks of cell values as one automation call carries them: a two-dimensional
// array of variants, rows first, as Range.Value gives and takes it.
#pragma once

#include "platform/Variant.h"

#include <optional>

namespace tabro {

// A block being filled for one Range.Value assignment: rows x columns elements,
// counting from 1, every element empty until set. Running out of memory throws
// E_OUTOFMEMORY.
class CellBlock {
public:
    CellBlock(LONG rows, LONG columns);
    platform::Variant& at(LONG row, LONG column);
    // The variant to assign; the block is empty afterwards.
    platform::Variant take() { return std::move(value_); }

private:
    platform::Variant value_;
};

// The values the application gave for a range of rows x columns cells. Elements are
// read by position within the range (from 1), whatever lower bounds the array has.
class CellValues {
public:
    // No value when `value` is not a two-dimensional array of exactly that shape: an
    // application that answers a block with its first cell only, for one.
    static std::optional<CellValues> from(platform::Variant value, LONG rows, LONG columns);
    const platform::Variant& at(LONG row, LONG column) const;

private:
    explicit CellValues(platform::Variant value) : value_(std::move(value)) {}
    platform::Variant value_;
    LONG rowBase_ = 1, columnBase_ = 1;
};

}  // namespace tabro
