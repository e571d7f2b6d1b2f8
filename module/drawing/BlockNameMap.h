// The blocks an export may offer: block name -> whether the block has attribute
// definitions. Kept in the order the names were entered (the block table's order),
// so that "every block" means the same sequence on every run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tabro {

class BlockNameMap {
public:
    struct Entry {
        std::string name;
        bool hasAttributes = false;
    };

    // Enters name once; a name already present keeps its place and takes the new flag.
    void set(std::string name, bool hasAttributes);

    // Exact (case-sensitive) key lookup, as the table spells the name. Null when absent.
    const Entry* find(std::string_view name) const;
    // The entry whose name equals `name` without regard to case (multibyte aware);
    // null when none does. Block names are unique ignoring case in a drawing, so at
    // most one entry can match.
    const Entry* findNoCase(std::string_view name) const;

    bool empty() const noexcept { return entries_.empty(); }
    std::size_t size() const noexcept { return entries_.size(); }
    auto begin() const noexcept { return entries_.begin(); }
    auto end() const noexcept { return entries_.end(); }

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace tabro
