// Finding what a test works on in a drawing: an object's handle as the file writes
// it, and the attributes of a reference by the text of its NUMBER attribute.
#pragma once

#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingStore.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace tabro::testing {

inline std::string hexOf(AcDbObjectId id) {
    char buf[17];
    id.handle().getIntoAsciiBuffer(buf);
    return buf;
}

// The attributes of the reference whose NUMBER is `number`, by tag.
inline std::map<std::string, AcDbObjectId> attributesOf(AcDbDatabase& db, const std::string& number) {
    hostdb::DrawingStore& store = db.store();
    for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
        hostdb::ObjectStub* stub = store.stubAt(i);
        if (stub->kind != hostdb::Kind::Insert || stub->erased) continue;
        AcDbObjectPointer<AcDbBlockReference> ref(AcDbObjectId(stub), AcDb::kForRead);
        if (!ref) continue;
        std::map<std::string, AcDbObjectId> byTag;
        std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
        for (it->start(); !it->done(); it->step()) {
            AcDbObjectPointer<AcDbAttribute> att(it->objectId(), AcDb::kForRead);
            if (att) byTag[AcutString(att->tag()).get()] = it->objectId();
        }
        AcDbObjectPointer<AcDbAttribute> numberAtt(byTag["NUMBER"], AcDb::kForRead);
        if (numberAtt && AcutString(numberAtt->textString()).get() == number) return byTag;
    }
    ADD_FAILURE() << "no reference numbered " << number;
    return {};
}

}  // namespace tabro::testing
