// Fields: a value the CAD program computes (a date, a property of another object)
// kept as the text of a property of an object. The link lives in the OBJECTS
// section, which the database does not model, and is read from the drawing's text
// when asked for: the object's extension dictionary has an entry ACAD_FIELD, a
// dictionary naming each property ("TEXT") with its FIELD object; a FIELD owns the
// fields its value is made of (its 360 groups), and the FIELDLIST of the named
// object dictionary (its entry ACAD_FIELDLIST) lists every field of the drawing.
//
// Unlinking a property's field is kept with the object (ObjectData::removedFields),
// so that undo and redo take it along with the object's other values; a save
// takes out of the text what an edit of the text in the CAD program does: the
// property's entry (or the whole ACAD_FIELD entry and its dictionary, when no
// other property keeps a field), the FIELD objects with all they own, and their
// places in the FIELDLIST, whose count follows.
#pragma once

#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostdb {

struct FieldEntry {
    std::string name;         // the property, as the field dictionary spells it
    std::uint64_t field = 0;  // its FIELD object
};

// The object's fields as its text links them, in the field dictionary's order, but
// for the properties of `removed`: entries that name a FIELD object the drawing has.
std::vector<FieldEntry> fieldsOf(const DrawingStore& store, const ObjectStub& stub,
                                 const std::vector<std::string>& removed);

// Whether two property names are the same key, as dictionary keys are compared:
// without regard to case.
bool isSameProperty(std::string_view a, std::string_view b);

// The patches that take the fields of the properties `removed` out of the text:
// their dictionary entries, and their FIELD objects with what those own.
void collectFieldRemovals(const DrawingStore& store, const ObjectStub& stub, const std::vector<std::string>& removed,
                          std::vector<Patch>& out);

// The FIELDLIST's 330 tags that name objects `patches` delete whole, and its count
// (its group 90) less as many, added to them; nothing when they delete none.
void collectFieldList(const DrawingStore& store, std::vector<Patch>& patches);

}  // namespace hostdb
