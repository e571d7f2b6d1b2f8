#include "host/db/FieldLinks.h"

#include "host/db/ObjectTags.h"
#include "platform/Text.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <utility>

namespace hostdb {

namespace {

bool isType(const std::vector<dxf::Tag>& tags, std::string_view type) {
    return !tags.empty() && tags.front().code == 0 && platform::trim(tags.front().value) == type;
}

// The tags of an object of the OBJECTS section; none for a handle of an object the
// database models (an entity named where a field or dictionary should be), which a
// change of fields never touches.
std::vector<dxf::Tag> unmodelledTags(const DrawingStore& store, std::uint64_t h) {
    if (h == 0) return {};
    if (const ObjectStub* s = store.byHandle(h); s && s->kind != Kind::Object) return {};
    return objectTags(store, h);
}

bool isField(const DrawingStore& store, std::uint64_t h) { return isType(unmodelledTags(store, h), "FIELD"); }

// The owner an object's tags name: its 330 outside the application groups (102)
// and before its class data; 0 for none.
std::uint64_t ownerOf(const std::vector<dxf::Tag>& tags) {
    bool inGroup = false;
    for (std::size_t i = 1; i < tags.size(); ++i) {
        const dxf::Tag& t = tags[i];
        if (t.code == 102) inGroup = !inGroup && t.value.starts_with('{');
        if (t.code == 100) break;
        if (!inGroup && t.code == 330) return handleValue(t.value);
    }
    return 0;
}

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return isSameProperty(n, name); });
}

// How an object's text links its fields.
struct Links {
    std::vector<dxf::Tag> xdictTags;      // its extension dictionary
    DictionaryEntry fieldEntry;           // ACAD_FIELD there
    std::uint64_t fieldDict = 0;          // the dictionary that entry names
    std::vector<dxf::Tag> fieldDictTags;  // its tags
    std::vector<DictionaryEntry> entries;
};

bool readLinks(const DrawingStore& store, const ObjectStub& stub, Links& links) {
    if (stub.begin == npos || stub.end == npos) return false;
    const std::vector<dxf::Tag> own = tagsIn(store, {stub.begin, stub.end});
    links.xdictTags = unmodelledTags(store, extensionDictionaryOf(own));
    if (!isType(links.xdictTags, "DICTIONARY")) return false;
    for (const DictionaryEntry& e : dictionaryEntries(links.xdictTags)) {
        if (!isSameProperty(e.name, "ACAD_FIELD")) continue;
        links.fieldEntry = e;
        links.fieldDict = e.handle;
        break;
    }
    links.fieldDictTags = unmodelledTags(store, links.fieldDict);
    if (!isType(links.fieldDictTags, "DICTIONARY")) return false;
    links.entries = dictionaryEntries(links.fieldDictTags);
    return true;
}

// The tags between two tags of a dictionary entry, both included, as one patch.
Patch deleteTags(const std::vector<dxf::Tag>& tags, std::size_t first, std::size_t last) {
    return {tags[first].begin, tags[last].end, {}};
}

// The FIELDLIST and the tags of it that name fields (330 after its first subclass
// marker, the owner's 330 coming before it).
struct FieldList {
    std::vector<dxf::Tag> tags;
    std::vector<std::size_t> members;
    std::size_t count = 0;  // its group 90 (0: none; the type tag is never it)
};

FieldList readFieldList(const DrawingStore& store) {
    FieldList list;
    list.tags = unmodelledTags(store, dictionaryEntry(store, store.namedObjectDictionary(), "ACAD_FIELDLIST"));
    if (!isType(list.tags, "FIELDLIST")) return {};
    bool inData = false;
    for (std::size_t i = 0; i < list.tags.size(); ++i) {
        const dxf::Tag& t = list.tags[i];
        if (t.code == 100) inData = true;
        if (!inData) continue;
        if (t.code == 90 && list.count == 0 && list.members.empty()) list.count = i;
        if (t.code == 330) list.members.push_back(i);
    }
    return list;
}

}  // namespace

bool isSameProperty(std::string_view a, std::string_view b) { return platform::upper(a) == platform::upper(b); }

std::vector<FieldEntry> fieldsOf(const DrawingStore& store, const ObjectStub& stub,
                                 const std::vector<std::string>& removed) {
    std::vector<FieldEntry> fields;
    Links links;
    if (!readLinks(store, stub, links)) return fields;
    for (const DictionaryEntry& e : links.entries)
        if (!contains(removed, e.name) && isField(store, e.handle)) fields.push_back({std::string(e.name), e.handle});
    return fields;
}

void collectFieldRemovals(const DrawingStore& store, const ObjectStub& stub, const std::vector<std::string>& removed,
                          std::vector<Patch>& out) {
    Links links;
    if (!readLinks(store, stub, links)) return;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pending;  // an object and the one it belongs to
    bool anyKept = false;
    std::vector<Patch> entries;
    for (const DictionaryEntry& e : links.entries) {
        if (!contains(removed, e.name)) {
            anyKept = true;
            continue;
        }
        entries.push_back(deleteTags(links.fieldDictTags, e.nameTag, e.handleTag));
        if (isField(store, e.handle)) pending.emplace_back(e.handle, links.fieldDict);
    }
    if (entries.empty()) return;
    if (anyKept) {
        out.insert(out.end(), entries.begin(), entries.end());
    } else {
        // No field left: the ACAD_FIELD entry goes, and its dictionary with it. The
        // extension dictionary stays, empty or not, as the CAD program leaves it.
        out.push_back(deleteTags(links.xdictTags, links.fieldEntry.nameTag, links.fieldEntry.handleTag));
        if (auto range = store.objectRange(links.fieldDict)) out.push_back({range->begin, range->end, {}});
    }
    // The fields and all they own (their child fields, an extension dictionary),
    // each once: what a 360 names and names its namer as its owner in turn, so that
    // a faulty file cannot make the save drop an object something else owns.
    std::unordered_set<std::uint64_t> gone;
    while (!pending.empty()) {
        const auto [h, owner] = pending.back();
        pending.pop_back();
        if (h == 0 || gone.count(h)) continue;
        const std::vector<dxf::Tag> tags = unmodelledTags(store, h);
        if (tags.empty() || ownerOf(tags) != owner) continue;  // not in the drawing, or not owned so
        gone.insert(h);
        if (auto range = store.objectRange(h)) out.push_back({range->begin, range->end, {}});
        for (const dxf::Tag& t : tags)
            if (t.code == 360) pending.emplace_back(handleValue(t.value), h);
    }
}

void collectFieldList(const DrawingStore& store, std::vector<Patch>& patches) {
    const FieldList list = readFieldList(store);
    if (list.members.empty()) return;
    // The objects the patches delete whole, by where they lie: the list is read once
    // for them all, however many fields went (a drawing may list a field for every
    // attribute).
    std::set<std::pair<std::size_t, std::size_t>> deleted;
    for (const Patch& p : patches)
        if (p.text.empty() && p.end > p.begin) deleted.emplace(p.begin, p.end);
    std::int64_t dropped = 0;
    for (std::size_t i : list.members) {
        const auto range = store.objectRange(handleValue(list.tags[i].value));
        if (!range || !deleted.count({range->begin, range->end})) continue;
        patches.push_back(deleteTags(list.tags, i, i));
        ++dropped;
    }
    if (dropped == 0 || list.count == 0) return;
    const dxf::Tag& count = list.tags[list.count];
    std::string value = std::to_string(std::max<std::int64_t>(0, dxf::toInteger(count.value) - dropped));
    // Integers are often right-aligned in nine columns; the file's layout is kept.
    if (!count.value.empty() && count.value.front() == ' ' && value.size() < count.value.size())
        value.insert(0, count.value.size() - value.size(), ' ');
    patches.push_back({count.valueBegin, count.valueBegin + count.value.size(), std::move(value)});
}

}  // namespace hostdb
