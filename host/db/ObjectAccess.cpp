#include "host/db/ObjectAccess.h"

#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "host/db/EntityCodec.h"

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
    auto* obj = new Live<T>();
    data = &obj->values;
    return obj;
}

}  // namespace

AcDbObject* ObjectAccess::create(ObjectStub* stub) {
    AcDbObject* obj = nullptr;
    ObjectData* data = nullptr;
    switch (stub->kind) {
    case Kind::BlockTable:
        obj = makeLive<AcDbBlockTable>(data);
        break;
    case Kind::LayerTable:
        obj = makeLive<AcDbLayerTable>(data);
        break;
    case Kind::BlockRecord:
        obj = makeLive<AcDbBlockTableRecord>(data);
        break;
    case Kind::LayerRecord:
        obj = makeLive<AcDbLayerTableRecord>(data);
        break;
    case Kind::BlockBegin:
    case Kind::BlockEnd:
        obj = makeLive<AcDbObject>(data);
        break;
    case Kind::Insert:
        obj = makeLive<AcDbBlockReference>(data);
        break;
    case Kind::Attrib:
        obj = makeLive<AcDbAttribute>(data);
        break;
    case Kind::Attdef:
        obj = makeLive<AcDbAttributeDefinition>(data);
        break;
    case Kind::Text:
        obj = makeLive<AcDbText>(data);
        break;
    case Kind::SeqEnd:
    case Kind::Entity:
        obj = makeLive<AcDbEntity>(data);
        break;
    }
    std::unique_ptr<AcDbObject> held(obj);  // not leaked when decoding throws
    obj->stub_ = stub;
    obj->data_ = data;
    if (stub->preLocated) {
        // An attribute's text and tag are where the reading of the file saw them;
        // the rest is located when asked for.
        data->kind = stub->kind;
        auto at = [stub](std::uint16_t delta) {
            return delta == ObjectStub::kNotAt ? kNoOffset : static_cast<std::uint32_t>(stub->begin + delta);
        };
        data->fields[fText].vBegin = at(stub->textAt);
        data->fields[fName].vBegin = at(stub->tagAt);
    } else if (isEntityKind(stub->kind)) {
        locateFields(*stub->store, *stub, *data);
        if (stub->begin != npos) stub->store->noteTextRead(stub->begin, stub->end - stub->begin);
    }
    return held.release();
}

}  // namespace hostdb
