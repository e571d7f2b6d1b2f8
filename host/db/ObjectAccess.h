// The database's own access to the private parts of its objects, and the factory
// that makes the live object of a stub when it is opened.
#pragma once

#include "host/db/AcDbObject.h"
#include "host/db/ObjectData.h"

#include <memory>

namespace hostdb {

class ObjectAccess {
public:
    static ObjectData* data(const AcDbObject* o) { return o->data_; }
    static ObjectStub* stub(const AcDbObject* o) { return o->stub_; }
    // Makes the live object of the stub's class, with where its values sit found
    // (they are decoded as asked for). Nothing is left behind when that throws.
    static AcDbObject* create(ObjectStub* stub);
    // A closed live object of the same stub holding a copy of `live`'s values (the
    // state undo keeps of an object that holds changes).
    static std::unique_ptr<AcDbObject> copyOf(const AcDbObject& live);
    static AcDb::OpenMode& mode(AcDbObject* o) { return o->openMode_; }
    static int& openCount(AcDbObject* o) { return o->openCount_; }
};

}  // namespace hostdb
