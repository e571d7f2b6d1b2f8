#include "host/db/AcDbSymbolTables.h"
#include "host/db/ClassMembers.h"

#include "host/db/DrawingStore.h"
#include "host/db/ObjectAccess.h"

using hostdb::Kind;
using hostdb::ObjectAccess;
using hostdb::ObjectStub;

ACRX_DEFINE_MEMBERS(AcDbSymbolTableRecord, AcDbObject)
ACRX_DEFINE_MEMBERS(AcDbBlockTableRecord, AcDbSymbolTableRecord)
ACRX_DEFINE_MEMBERS(AcDbLayerTableRecord, AcDbSymbolTableRecord)
ACRX_DEFINE_MEMBERS(AcDbSymbolTable, AcDbObject)
ACRX_DEFINE_MEMBERS(AcDbBlockTable, AcDbSymbolTable)
ACRX_DEFINE_MEMBERS(AcDbLayerTable, AcDbSymbolTable)

namespace {

const std::string& nameOf(const ObjectStub* s) {
    static const std::string empty;
    if (s->kind == Kind::BlockRecord) return s->store->blockOf(s).name;
    if (s->kind == Kind::LayerRecord) return s->store->layerName(s);
    return empty;
}

}  // namespace

Acad::ErrorStatus AcDbSymbolTableRecord::getName(char*& name) const {
    name = hostdb::copyText(nameOf(ObjectAccess::stub(this)));
    return Acad::eOk;
}

Acad::ErrorStatus AcDbSymbolTableRecord::getName(const char*& name) const {
    name = nameOf(ObjectAccess::stub(this)).c_str();
    return Acad::eOk;
}

bool AcDbBlockTableRecord::isAnonymous() const {
    const auto& b = ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this));
    return (b.flags & 1) != 0 || (b.name.size() > 1 && b.name[0] == '*' && !b.isLayout);
}
bool AcDbBlockTableRecord::isLayout() const {
    return ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this)).isLayout;
}
AcGePoint3d AcDbBlockTableRecord::origin() const {
    return ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this)).origin;
}

bool AcDbBlockTableRecord::hasAttributeDefinitions() const {
    for (const ObjectStub* e : ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this)).entities)
        if (e->kind == Kind::Attdef && !e->erased) return true;
    return false;
}

Acad::ErrorStatus AcDbBlockTableRecord::getBlockReferenceIds(AcDbObjectIdArray& ids, bool, bool) const {
    ids.clear();
    for (ObjectStub* r : ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this)).references)
        if (!r->erased) ids.emplace_back(r);
    return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockTableRecord::newIterator(AcDbBlockTableRecordIterator*& it, bool atBeginning,
                                                    bool skipDeleted) const {
    std::vector<AcDbObjectId> ids;
    for (ObjectStub* e : ObjectAccess::stub(this)->store->blockOf(ObjectAccess::stub(this)).entities)
        ids.emplace_back(e);
    it = new AcDbBlockTableRecordIterator(std::move(ids), skipDeleted);
    it->start(atBeginning);
    return Acad::eOk;
}

void AcDbBlockTableRecordIterator::skip(bool forward) {
    if (!skipErased_) return;
    while (!done() && ids_[pos_].isErased()) step(forward, true);
}
void AcDbBlockTableRecordIterator::start(bool atBeginning) {
    pos_ = atBeginning || ids_.empty() ? 0 : ids_.size() - 1;
    skip(atBeginning);
}
void AcDbBlockTableRecordIterator::step(bool forward, bool) {
    if (done()) return;
    pos_ = forward ? pos_ + 1 : (pos_ == 0 ? ids_.size() : pos_ - 1);
    if (skipErased_)
        while (!done() && ids_[pos_].isErased()) pos_ = forward ? pos_ + 1 : (pos_ == 0 ? ids_.size() : pos_ - 1);
}
Acad::ErrorStatus AcDbBlockTableRecordIterator::getEntityId(AcDbObjectId& id) const {
    if (done()) return Acad::eInvalidInput;
    id = ids_[pos_];
    return Acad::eOk;
}
Acad::ErrorStatus AcDbBlockTableRecordIterator::getEntity(AcDbEntity*& ent, AcDb::OpenMode mode,
                                                          bool openErased) const {
    ent = nullptr;
    if (done()) return Acad::eInvalidInput;
    return acdbOpenAcDbEntity(ent, ids_[pos_], mode, openErased);
}

void AcDbBlockTableIterator::skip(bool forward) {
    if (!skipErased_) return;
    while (!done() && ids_[pos_].isErased()) step(forward, true);
}
void AcDbBlockTableIterator::start(bool atBeginning) {
    pos_ = atBeginning || ids_.empty() ? 0 : ids_.size() - 1;
    skip(atBeginning);
}
void AcDbBlockTableIterator::step(bool forward, bool) {
    if (done()) return;
    pos_ = forward ? pos_ + 1 : (pos_ == 0 ? ids_.size() : pos_ - 1);
    if (skipErased_)
        while (!done() && ids_[pos_].isErased()) pos_ = forward ? pos_ + 1 : (pos_ == 0 ? ids_.size() : pos_ - 1);
}
Acad::ErrorStatus AcDbBlockTableIterator::getRecordId(AcDbObjectId& id) const {
    if (done()) return Acad::eInvalidInput;
    id = ids_[pos_];
    return Acad::eOk;
}
Acad::ErrorStatus AcDbBlockTableIterator::getRecord(AcDbBlockTableRecord*& rec, AcDb::OpenMode mode,
                                                    bool openErased) const {
    rec = nullptr;
    if (done()) return Acad::eInvalidInput;
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, ids_[pos_], mode, openErased);
    if (es == Acad::eOk) rec = static_cast<AcDbBlockTableRecord*>(obj);
    return es;
}

bool AcDbSymbolTable::has(const char* name) const {
    AcDbObjectId id;
    return getAt(name, id) == Acad::eOk;
}

Acad::ErrorStatus AcDbSymbolTable::getAt(const char* name, AcDbObjectId& id, bool) const {
    id = AcDbObjectId();
    if (!name) return Acad::eInvalidInput;
    ObjectStub* self = ObjectAccess::stub(this);
    ObjectStub* found = self->kind == Kind::BlockTable ? self->store->findBlock(name) : self->store->findLayer(name);
    if (!found) return Acad::eKeyNotFound;
    id = AcDbObjectId(found);
    return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockTable::getAt(const char* name, AcDbBlockTableRecord*& rec, AcDb::OpenMode mode,
                                        bool openErased) const {
    rec = nullptr;
    AcDbObjectId id;
    if (Acad::ErrorStatus es = AcDbSymbolTable::getAt(name, id); es != Acad::eOk) return es;
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, id, mode, openErased);
    if (es == Acad::eOk) rec = static_cast<AcDbBlockTableRecord*>(obj);
    return es;
}

Acad::ErrorStatus AcDbBlockTable::newIterator(AcDbBlockTableIterator*& it, bool atBeginning, bool skipDeleted) const {
    std::vector<AcDbObjectId> ids;
    for (auto& b : ObjectAccess::stub(this)->store->blocks()) ids.emplace_back(b.record);
    it = new AcDbBlockTableIterator(std::move(ids), skipDeleted);
    it->start(atBeginning);
    return Acad::eOk;
}
