// Inside the database: the values of one entity decoded from its tags, with where
// each value sits in the source text so that a save rewrites only what changed.
#pragma once

#include "host/db/DrawingStore.h"

#include <string>
#include <vector>

namespace tabdb {

enum FieldId {
    fLayer, fName, fText, fPrompt, fStyle, fX, fY, fZ, fAX, fAY, fAZ, fHeight, fWidth, fScaleY, fScaleZ,
    fRotation, fOblique, fFlags, fHMode, fVMode, fFieldLen, fMText, fFieldCount
};

struct Field {
    std::size_t tagBegin = npos;  // the tag's code line
    std::size_t vBegin = npos, vEnd = npos;
    std::size_t tagEnd = npos;
    bool dirty = false;
    bool present() const { return vBegin != npos; }
};

struct ObjectData {
    Kind kind = Kind::Entity;
    std::string layer, name, text, prompt, style;
    AcGePoint3d pos, align;
    AcGeScale3d scale;
    AcGeVector3d normal{0, 0, 1};
    double height = 0, width = 1, rotation = 0, oblique = 0;
    int flags = 0, hmode = 0, vmode = 0, fieldLen = 0;
    bool mtext = false;                                   // multi-line attribute
    std::vector<std::pair<std::size_t, std::size_t>> mtextPieces;  // its 3 tags (whole ranges)
    Field fields[fFieldCount];
};

struct Patch {
    std::size_t begin, end;
    std::string text;
    bool operator<(const Patch& o) const { return begin != o.begin ? begin < o.begin : end < o.end; }
};

// Decodes an entity's tags; `stub` must have a source range or the defaults stand.
void decodeEntity(const DrawingStore& store, const ObjectStub& stub, ObjectData& data);
// The patches that write an entity's changed values.
void collectPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& data,
                    std::vector<Patch>& out);

}  // namespace tabdb

// The database's own access to the private parts of its objects.
class tabdb_access {
public:
    static tabdb::ObjectData* data(const AcDbObject* o) { return o->data_.get(); }
    static tabdb::ObjectStub* stub(const AcDbObject* o) { return o->stub_; }
    // Makes the live object of the stub's class, its values decoded.
    static AcDbObject* create(tabdb::ObjectStub* stub);
    static AcDb::OpenMode& mode(AcDbObject* o) { return o->openMode_; }
    static int& openCount(AcDbObject* o) { return o->openCount_; }
};
