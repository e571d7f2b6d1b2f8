// Entity values to and from tags: decoding the values of an entity from its tags in
// the drawing's text, and the patches a save applies to that text for the values
// that changed.
#pragma once

#include "host/db/ObjectData.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostdb {

// One tag of the source text found again from its value's offset.
struct TagRange {
    std::size_t tagBegin;      // its code line
    std::size_t vBegin, vEnd;  // the value, without the line ending
    std::size_t tagEnd;        // just past the value's line ending ("\n", "\r\n" or the end of the text)
};
TagRange tagAt(std::string_view text, std::uint32_t vBegin);

// Replaces [begin, end) of the source text with `text` (inserts when empty, deletes
// when `text` is).
struct Patch {
    std::size_t begin, end;
    std::string text;
};

// Decodes an entity's tags; `stub` must have a source range or the defaults stand.
void decodeEntity(const DrawingStore& store, const ObjectStub& stub, ObjectData& data);
// The patches that write an entity's changed values.
void collectPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& data, std::vector<Patch>& out);

}  // namespace hostdb
