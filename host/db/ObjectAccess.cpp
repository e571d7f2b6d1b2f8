#include "host/db/ObjectAccess.h"

#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "host/db/EntityCodec.h"

#include <iterator>
#include <memory>

namespace hostdb {

namespace {

// A live object with its decoded values in one allocation: changed objects live as
// long as their drawing, and an import may change hundreds of thousands of them.
template <class T>
class Live final : public T {
public:
    ObjectData values;
};

template <class T>
AcDbObject* makeLive(ObjectData*& data) {
    // Default-initialised: every member starts as its declaration says. Value-
    // initialised ("()"), the whole object would be cleared first, hundreds of bytes
    // an open.
    auto* obj = new Live<T>;
    data = &obj->values;
    return obj;
}

static_assert(std::size(kReferenceFields) == ReferencePlaces::kCount);

// The live object of a stub of this kind, its values not read yet.
AcDbObject* makeOfKind(Kind kind, ObjectData*& data) {
    switch (kind) {
    case Kind::BlockTable:
        return makeLive<AcDbBlockTable>(data);
    case Kind::LayerTable:
        return makeLive<AcDbLayerTable>(data);
    case Kind::BlockRecord:
        return makeLive<AcDbBlockTableRecord>(data);
    case Kind::LayerRecord:
        return makeLive<AcDbLayerTableRecord>(data);
    case Kind::BlockBegin:
    case Kind::BlockEnd:
    case Kind::Object:
        return makeLive<AcDbObject>(data);
    case Kind::Insert:
        return makeLive<AcDbBlockReference>(data);
    case Kind::Attrib:
        return makeLive<AcDbAttribute>(data);
    case Kind::Attdef:
        return makeLive<AcDbAttributeDefinition>(data);
    case Kind::Text:
        return makeLive<AcDbText>(data);
    case Kind::SeqEnd:
    case Kind::Entity:
        break;
    }
    return makeLive<AcDbEntity>(data);
}

}  // namespace

std::unique_ptr<AcDbObject> ObjectAccess::copyOf(const AcDbObject& live) {
    ObjectData* data = nullptr;
    std::unique_ptr<AcDbObject> copy(makeOfKind(live.stub_->kind, data));
    copy->stub_ = live.stub_;
    copy->data_ = data;
    *data = *live.data_;
    return copy;
}

AcDbObject* ObjectAccess::create(ObjectStub* stub) {
    ObjectData* data = nullptr;
    AcDbObject* obj = makeOfKind(stub->kind, data);
    std::unique_ptr<AcDbObject> held(obj);  // not leaked when decoding throws
    obj->stub_ = stub;
    obj->data_ = data;
    if (stub->preLocated) {
        data->kind = stub->kind;
        auto at = [stub](std::uint16_t delta) {
            return delta == ObjectStub::kNotAt ? kNoOffset : static_cast<std::uint32_t>(stub->begin + delta);
        };
        if (stub->kind == Kind::Insert) {
            // Every place of a reference's values is where the reading of the file saw it.
            const ReferencePlaces& places = stub->store->referencePlaces(stub->placesIndex());
            for (std::size_t i = 0; i < ReferencePlaces::kCount; ++i)
                data->fields[kReferenceFields[i]].vBegin = at(places.at[i]);
            data->located = true;
            stub->store->bytes().noteRead(stub->begin, stub->end - stub->begin);
            stub->store->prefetchAfter(*stub);
        } else {
            // An attribute's text and tag are where the reading of the file saw them;
            // the rest is located when asked for.
            data->fields[fText].vBegin = at(stub->textAt);
            data->fields[fName].vBegin = at(stub->tagAt);
        }
    } else if (isEntityKind(stub->kind)) {
        locateFields(*stub->store, *stub, *data);
        if (stub->begin != npos) stub->store->bytes().noteRead(stub->begin, stub->end - stub->begin);
    }
    return held.release();
}

}  // namespace hostdb
