// Entity values to and from tags: decoding the values of an entity from its tags in
// the drawing's text, and the patches a save applies to that text for the values
// that changed.
#pragma once

#include "host/db/ObjectData.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
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
// The value beginning at `vBegin` as the file has it: to its line's end, less the '\r'
// of a "\r\n" ending.
std::string_view rawValueAt(std::string_view text, std::uint32_t vBegin);

// Replaces [begin, end) of the source text with `text` (inserts when empty, deletes
// when `text` is).
struct Patch {
    std::size_t begin, end;
    std::string text;
};

// A changed value whose bytes in the file would hold a line end: written, it would end
// its tag early and turn the rest of it into tags of their own. what() names the
// object by type and handle, and the group code.
class UnwritableValue : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file bytes of a text value of the object `who` ("ATTRIB 2F") in group `code`;
// throws UnwritableValue when they would hold a line end, which the module's text
// cannot but a file's "\U+000A" decodes to.
std::string encodeValue(const DrawingStore& store, std::string_view text, const std::string& who, int code);

// Finds where an entity's values sit among its tags (those not known already);
// `stub` must have a source range or the defaults stand. The values are decoded by decodeFields; a multi-line
// text and a reference's normal, which few objects have, are decoded at once.
void locateFields(const DrawingStore& store, const ObjectStub& stub, ObjectData& data);
// Decodes the values of `mask` (bits of FieldId) that are not decoded yet.
void decodeFields(const DrawingStore& store, ObjectData& data, std::uint32_t mask);
// Every value of an entity (locateFields, then decodeFields of all).
void decodeEntity(const DrawingStore& store, const ObjectStub& stub, ObjectData& data);
// The patches that write an entity's changed values. Throws UnwritableValue.
void collectPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& data, std::vector<Patch>& out);

}  // namespace hostdb
