#include "sheet/MergedAreas.h"

#include <algorithm>

namespace sheet {
namespace {

bool meets(const CellRect& a, const CellRect& b) {
    return a.top <= b.bottom && b.top <= a.bottom && a.left <= b.right && b.left <= a.right;
}

std::int64_t cellsOf(const CellRect& r) {
    return static_cast<std::int64_t>(r.bottom - r.top + 1) * (r.right - r.left + 1);
}

}  // namespace

template <class Visit>
void MergedAreas::forEachMeeting(const CellRect& rect, Visit&& visit) const {
    if (areas_.empty()) return;
    // An area that meets rect starts at most tallest_ - 1 rows above it.
    const std::int64_t firstTop = static_cast<std::int64_t>(rect.top) - tallest_ + 1;
    auto it = std::lower_bound(areas_.begin(), areas_.end(), firstTop,
                               [](const CellRect& a, std::int64_t top) { return a.top < top; });
    for (; it != areas_.end() && it->top <= rect.bottom; ++it)
        if (meets(*it, rect)) visit(*it);
}

void MergedAreas::finishLoad() {
    std::vector<CellRect> loaded;
    loaded.swap(areas_);
    std::sort(loaded.begin(), loaded.end(),
              [](const CellRect& a, const CellRect& b) { return a.top != b.top ? a.top < b.top : a.left < b.left; });
    tallest_ = 0;
    for (const CellRect& area : loaded) {
        bool overlaps = false;
        forEachMeeting(area, [&](const CellRect&) { overlaps = true; });
        if (overlaps) continue;
        // Kept in order: the areas before it start no lower.
        areas_.push_back(area);
        tallest_ = std::max(tallest_, area.bottom - area.top + 1);
    }
}

MergedAreas::Coverage MergedAreas::coverage(const CellRect& rect) const {
    // The areas do not overlap, so the cells they cover add up.
    std::int64_t covered = 0;
    forEachMeeting(rect, [&](const CellRect& a) {
        const CellRect common{std::max(a.top, rect.top), std::max(a.left, rect.left), std::min(a.bottom, rect.bottom),
                              std::min(a.right, rect.right)};
        covered += cellsOf(common);
    });
    if (covered == 0) return Coverage::None;
    return covered == cellsOf(rect) ? Coverage::All : Coverage::Some;
}

std::optional<CellRect> MergedAreas::containing(const CellRect& rect) const {
    std::optional<CellRect> found;
    forEachMeeting(rect, [&](const CellRect& a) {
        if (a.top <= rect.top && a.left <= rect.left && a.bottom >= rect.bottom && a.right >= rect.right) found = a;
    });
    return found;
}

}  // namespace sheet
