#include "host/db/ObjectTags.h"

#include "platform/Text.h"

namespace hostdb {

std::vector<dxf::Tag> tagsIn(const DrawingStore& store, DrawingStore::TextRange range) {
    std::vector<dxf::Tag> tags;
    const std::string_view text = store.text().substr(0, range.end);
    // The store checked every tag of its text when it read the drawing.
    dxf::Tokenizer tok(text, range.begin, dxf::ValueCheck::Trust);
    for (dxf::Tag t; tok.next(t);) tags.push_back(t);
    return tags;
}

std::vector<dxf::Tag> objectTags(const DrawingStore& store, std::uint64_t handle) {
    const auto range = store.objectRange(handle);
    return range ? tagsIn(store, *range) : std::vector<dxf::Tag>{};
}

std::uint64_t handleValue(std::string_view value) {
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    std::uint64_t h = 0;
    return dxf::parseHandle(value, h) ? h : 0;
}

std::uint64_t extensionDictionaryOf(const std::vector<dxf::Tag>& tags) {
    bool inGroup = false;
    for (const dxf::Tag& t : tags) {
        if (t.code == 102) {
            inGroup = t.value == "{ACAD_XDICTIONARY";
            continue;
        }
        if (inGroup && t.code == 360) return handleValue(t.value);
        if (t.code == 100 || t.code >= 1000) break;  // the group comes before the object's own data
    }
    return 0;
}

std::vector<DictionaryEntry> dictionaryEntries(const std::vector<dxf::Tag>& tags) {
    std::vector<DictionaryEntry> entries;
    for (std::size_t i = 0; i + 1 < tags.size(); ++i) {
        if (tags[i].code != 3) continue;
        if (tags[i + 1].code != 350 && tags[i + 1].code != 360) continue;
        entries.push_back({tags[i].value, handleValue(tags[i + 1].value), i, i + 1});
        ++i;
    }
    return entries;
}

std::uint64_t dictionaryEntry(const DrawingStore& store, std::uint64_t dictionary, std::string_view name) {
    if (dictionary == 0) return 0;
    const std::vector<dxf::Tag> tags = objectTags(store, dictionary);
    if (tags.empty() || tags.front().value != "DICTIONARY") return 0;
    for (const DictionaryEntry& e : dictionaryEntries(tags))
        if (e.name == name) return e.handle;
    return 0;
}

std::vector<dxf::Tag> extendedDataOf(const std::vector<dxf::Tag>& tags, std::string_view application) {
    std::vector<dxf::Tag> data;
    bool in = false;
    for (const dxf::Tag& t : tags) {
        if (t.code == 1001) {
            if (in) break;
            in = platform::upper(t.value) == platform::upper(application);
            continue;
        }
        if (in) data.push_back(t);
    }
    return data;
}

}  // namespace hostdb
