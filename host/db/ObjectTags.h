// Reading objects the database does not model from the drawing's text: their tags,
// their extension dictionary, a dictionary's entries. The host reads dynamic block
// data, fields and extended data this way, only when asked, so that drawings
// without them cost nothing.
#pragma once

#include "host/db/DrawingStore.h"
#include "host/dxf/DxfTokenizer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostdb {

// The tags of the object at `range` (its type tag first); values point into the
// store's text.
std::vector<dxf::Tag> tagsIn(const DrawingStore& store, DrawingStore::TextRange range);
// The tags of the object with this handle; empty when the drawing has none.
std::vector<dxf::Tag> objectTags(const DrawingStore& store, std::uint64_t handle);

// A handle value; 0 for one that is no handle.
std::uint64_t handleValue(std::string_view value);

// The handle of the object's extension dictionary (its {ACAD_XDICTIONARY group);
// 0 when it has none.
std::uint64_t extensionDictionaryOf(const std::vector<dxf::Tag>& tags);

// A DICTIONARY's entries in stored order: each name (group 3) with the handle of
// its object (the 350 or 360 that follows).
struct DictionaryEntry {
    std::string_view name;
    std::uint64_t handle = 0;
    std::size_t nameTag = 0, handleTag = 0;  // indices into the dictionary's tags
};
std::vector<DictionaryEntry> dictionaryEntries(const std::vector<dxf::Tag>& tags);
// The entry of that name (exact, as the dictionary spells it); 0 when absent.
std::uint64_t dictionaryEntry(const DrawingStore& store, std::uint64_t dictionary, std::string_view name);

// The extended data of one application (1001 group of that name, case-insensitive)
// up to the next application's: the tags after its 1001; empty when absent.
std::vector<dxf::Tag> extendedDataOf(const std::vector<dxf::Tag>& tags, std::string_view application);

}  // namespace hostdb
