// Inside the database: the values of one entity decoded from its tags, with where
// each value sits in the source text so that a save rewrites only what changed.
#pragma once

#include "host/db/DrawingStore.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hostdb {

enum FieldId {
    fLayer,
    fName,
    fText,
    fPrompt,
    fStyle,
    fX,
    fY,
    fZ,
    fAX,
    fAY,
    fAZ,
    fHeight,
    fWidth,
    fScaleY,
    fScaleZ,
    fRotation,
    fOblique,
    fFlags,
    fHMode,
    fVMode,
    fFieldLen,
    fMText,
    fFieldCount
};

// Where an entity's value sits in the source text: the offset of its value line, or
// kNoOffset when the entity lacks the tag. The rest of the tag (its code line, where
// the value ends, the line ending) is found again in the text by tagAt when a save
// needs it; hundreds of thousands of changed objects may stay alive, so each keeps
// only what cannot be read back from the text.
struct Field {
    std::uint32_t vBegin = kNoOffset;
    bool present() const { return vBegin != kNoOffset; }
};

constexpr std::uint32_t bit(FieldId f) { return 1u << f; }

// An object's values are decoded from the text as its getters and setters ask for
// them: opening is the common case and most callers read two or three values of an
// object (an export asks an attribute for its tag and text only). An object opened
// finds where its values sit (one pass over its tags, nothing converted);
// decodedMask says which values have been read from there since (or set). Every
// member has its initial value in its declaration: objects are made default-
// initialised (ObjectAccess::create).
struct ObjectData {
    std::string layer, name, text, prompt, style;
    AcGePoint3d pos, align;
    AcGeScale3d scale;
    AcGeVector3d normal{0, 0, 1};
    double height = 0, width = 1, rotation = 0, oblique = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> mtextPieces;  // its 3 tags (whole ranges)
    // Properties whose field was unlinked (AcDbObject::removeField), as the object's
    // field dictionary names them: a save takes their links and field objects out.
    std::vector<std::string> removedFields;
    int flags = 0, hmode = 0, vmode = 0, fieldLen = 0;
    Field fields[fFieldCount];
    std::uint32_t dirtyMask = 0;    // one bit per FieldId: values a save writes
    std::uint32_t decodedMask = 0;  // one bit per FieldId: values that hold what the object has
    Kind kind = Kind::Entity;
    bool mtext = false;  // multi-line attribute
    // Whether every field's place is known (locateFields ran); before, only those of
    // kPreLocated are, from the reading of the file.
    bool located = false;

    bool dirty(FieldId f) const { return dirtyMask >> f & 1u; }
    void markDirty(FieldId f) { dirtyMask |= 1u << f; }
};
// The fields an attribute's places are known of before it is located.
constexpr std::uint32_t kPreLocated = 1u << fText | 1u << fName;
// The fields of a reference whose places the reading of the file noted
// (ReferencePlaces, in this order): all that its decoder looks for but the extrusion.
constexpr FieldId kReferenceFields[] = {fLayer, fName, fX, fY, fZ, fWidth, fScaleY, fScaleZ, fRotation};
static_assert(fFieldCount <= 32, "the dirty mask holds one bit per field");

}  // namespace hostdb
