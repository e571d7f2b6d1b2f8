#include "sheet/StringPool.h"

namespace sheet {

std::uint32_t StringPool::intern(std::u16string_view text) {
    if (auto it = index_.find(text); it != index_.end()) return it->second;
    auto id = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back(Entry{std::u16string(text), {}});
    index_.emplace(entries_.back().text, id);
    return id;
}

std::uint32_t StringPool::addFromFile(std::u16string text, std::string richXml) {
    auto id = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back(Entry{std::move(text), std::move(richXml)});
    // Only plain entries may be shared by new cells: a rich one would bring its
    // formatting along.
    if (entries_.back().richXml.empty()) index_.emplace(entries_.back().text, id);
    return id;
}

}  // namespace sheet
