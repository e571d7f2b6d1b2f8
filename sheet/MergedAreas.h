// The merged areas of a sheet: rectangles that show as one cell, as the sheet's file
// lists them. They are only read; the file's own list is written back as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sheet {

struct CellRect {
    std::int32_t top = 1, left = 1, bottom = 1, right = 1;
    friend bool operator==(const CellRect&, const CellRect&) = default;
};

class MergedAreas {
public:
    // How much of a rectangle merged areas cover: none of its cells, all of them
    // (by one area or several), or some.
    enum class Coverage { None, All, Some };

    // Loading: areas in any order; finishLoad orders them and drops any that
    // overlaps one before it (the format's programs drop such an area too).
    void add(const CellRect& area) { areas_.push_back(area); }
    void finishLoad();

    bool empty() const noexcept { return areas_.empty(); }
    const std::vector<CellRect>& areas() const noexcept { return areas_; }
    // Costs a step per area that starts in the rows the rectangle spans (or above
    // it by less than the tallest area's height), nothing for a sheet without any.
    Coverage coverage(const CellRect& rect) const;
    // The merged area that holds all of rect; none when no single area does.
    std::optional<CellRect> containing(const CellRect& rect) const;

private:
    template <class Visit>
    void forEachMeeting(const CellRect& rect, Visit&& visit) const;

    std::vector<CellRect> areas_;  // by top row, then left column
    std::int32_t tallest_ = 0;     // rows of the tallest area
};

}  // namespace sheet
