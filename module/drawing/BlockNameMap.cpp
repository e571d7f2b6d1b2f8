#include "module/drawing/BlockNameMap.h"

#include "platform/Text.h"

namespace tabro {

void BlockNameMap::set(std::string name, bool hasAttributes) {
    auto [it, isNew] = index_.try_emplace(name, entries_.size());
    if (isNew)
        entries_.push_back(Entry{std::move(name), hasAttributes});
    else
        entries_[it->second].hasAttributes = hasAttributes;
}

const BlockNameMap::Entry* BlockNameMap::find(std::string_view name) const {
    auto it = index_.find(std::string(name));
    return it == index_.end() ? nullptr : &entries_[it->second];
}

const BlockNameMap::Entry* BlockNameMap::findNoCase(std::string_view name) const {
    const std::string key(name);
    if (const Entry* exact = find(key)) return exact;
    for (const Entry& e : entries_)
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(e.name.c_str()),
                     reinterpret_cast<const unsigned char*>(key.c_str())) == 0)
            return &e;
    return nullptr;
}

}  // namespace tabro
