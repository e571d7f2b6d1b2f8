#include "sheet/StringPool.h"

namespace sheet {

std::uint32_t StringPool::add(std::u16string_view text) {
    auto id = static_cast<std::uint32_t>(size());
    chars_.insert(chars_.end(), text.begin(), text.end());
    starts_.push_back(chars_.size());
    return id;
}

std::uint32_t StringPool::addFromFile(std::u16string_view text, std::string richXml) {
    auto id = add(text);
    if (!richXml.empty()) rich_.emplace(id, std::move(richXml));
    return id;
}

const std::string& StringPool::richXml(std::uint32_t id) const {
    static const std::string kNone;
    auto it = rich_.find(id);
    return it == rich_.end() ? kNone : it->second;
}

StringPool::Layout StringPool::layout(const std::vector<bool>& used) const {
    Layout l;
    std::size_t added = size() - fileCount_;
    l.indexOf.assign(added, UINT32_MAX);
    std::unordered_map<std::u16string_view, std::uint32_t> seen;
    bool anyUsed = false;
    for (std::size_t i = 0; i < added && i < used.size() && !anyUsed; ++i) anyUsed = used[i];
    if (!anyUsed) return l;
    seen.reserve(fileCount_ + added / 2 + 16);
    // A text the file's table holds already is written as a reference to it.
    for (std::uint32_t id = 0; id < fileCount_; ++id)
        if (!rich_.count(id)) seen.emplace(text(id), id);
    for (std::size_t i = 0; i < added && i < used.size(); ++i) {
        if (!used[i]) continue;
        auto id = static_cast<std::uint32_t>(fileCount_ + i);
        auto next = static_cast<std::uint32_t>(fileCount_ + l.written.size());
        // A rich entry brings its formatting; it is never folded into another.
        if (rich_.count(id)) {
            l.indexOf[i] = next;
            l.written.push_back(id);
            continue;
        }
        auto [it, isNew] = seen.emplace(text(id), next);
        l.indexOf[i] = it->second;
        if (isNew) l.written.push_back(id);
    }
    return l;
}

void StringPool::compact(const Layout& layout) {
    StringPool next;
    for (std::uint32_t id = 0; id < fileCount_; ++id) next.addFromFile(text(id), richXml(id));
    for (std::uint32_t id : layout.written) next.addFromFile(text(id), richXml(id));
    next.markAllFromFile();
    *this = std::move(next);
}

}  // namespace sheet
