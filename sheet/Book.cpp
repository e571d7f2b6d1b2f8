#include "sheet/Book.h"

#include "sheet/Automation.h"
#include "sheet/xlsx/Carry.h"

#include <algorithm>

namespace sheet {

Book::~Book() = default;

bool PackageCarry::has(const std::string& name) const {
    return !archive.empty() && std::find(order.begin(), order.end(), name) != order.end();
}

void Book::setActiveIndex(std::size_t index) {
    if (index < sheets_.size() && index != active_) {
        active_ = index;
        isStructureChanged = true;
    }
}

std::shared_ptr<Sheet> Book::activeSheet() const { return active_ < sheets_.size() ? sheets_[active_] : nullptr; }

std::string Book::setSheetVisibility(std::size_t index, Visibility visibility) {
    if (index >= sheets_.size()) return "the sheet is no longer part of its workbook";
    Sheet& sheet = *sheets_[index];
    if (sheet.visibility() == visibility) return {};
    if (sheet.isVisible()) {
        // A workbook with no tab to show cannot be shown, and the format's own
        // programs refuse to open such a file.
        auto neighbour = visibleNeighbour(index);
        if (!neighbour) return "a workbook must keep at least one visible sheet";
        if (index == active_) setActiveIndex(*neighbour);
    }
    sheet.setVisibility(visibility);
    isStructureChanged = true;
    return {};
}

std::optional<std::size_t> Book::visibleNeighbour(std::size_t index) const {
    for (std::size_t i = index + 1; i < sheets_.size(); ++i)
        if (sheets_[i]->isVisible()) return i;
    for (std::size_t i = std::min(index, sheets_.size()); i-- > 0;)
        if (sheets_[i]->isVisible()) return i;
    return std::nullopt;
}

std::optional<std::size_t> Book::findSheet(std::u16string_view name) const {
    for (std::size_t i = 0; i < sheets_.size(); ++i)
        if (sameNameIgnoringCase(sheets_[i]->name(), name)) return i;
    return std::nullopt;
}

std::shared_ptr<Sheet> Book::insertSheet(std::size_t index, std::u16string name) {
    index = std::min(index, sheets_.size());
    auto sheet = std::make_shared<Sheet>(*this, std::move(name));
    sheet->markChanged();
    sheets_.insert(sheets_.begin() + static_cast<std::ptrdiff_t>(index), sheet);
    if (sheets_.size() > 1 && active_ >= index) ++active_;
    isStructureChanged = true;
    return sheet;
}

std::u16string Book::nextSheetName() {
    // The counter starts above the highest "SheetN" present, as the application's
    // own numbering does, and skips names taken since.
    for (const auto& s : sheets_) {
        const auto& n = s->name();
        if (n.size() > 5 && sameNameIgnoringCase(n.substr(0, 5), u"Sheet") && n.size() <= 11) {
            int value = 0;
            bool digits = true;
            for (std::size_t i = 5; i < n.size(); ++i) {
                if (n[i] < u'0' || n[i] > u'9') {
                    digits = false;
                    break;
                }
                value = value * 10 + (n[i] - u'0');
            }
            if (digits) sheetCounter_ = std::max(sheetCounter_, value);
        }
    }
    for (;;) {
        std::string candidate = "Sheet" + std::to_string(++sheetCounter_);
        std::u16string name(candidate.begin(), candidate.end());
        if (!findSheet(name)) return name;
    }
}

bool Book::isChanged() const {
    if (isStructureChanged) return true;
    return std::any_of(sheets_.begin(), sheets_.end(), [](const auto& s) { return s->isChanged(); });
}

void Book::markSaved() {
    isStructureChanged = false;
    for (auto& s : sheets_) s->markSaved();
}

}  // namespace sheet
