#include "host/db/AcDbObject.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/ClassMembers.h"
#include "host/db/DrawingStore.h"
#include "host/db/FieldLinks.h"
#include "host/db/ObjectAccess.h"

#include <cstring>

using hostdb::Kind;
using hostdb::ObjectAccess;
using hostdb::ObjectStub;

namespace {
// A host allows a limited number of simultaneous readers of one object.
constexpr int kMaxReaders = 255;
Acad::ErrorStatus g_failClose = Acad::eOk;
int g_failCloseCount = 0;
}  // namespace

bool AcRxClass::isDerivedFrom(const AcRxClass* other) const {
    for (const AcRxClass* c = this; c; c = c->myParent())
        if (c == other) return true;
    return false;
}

bool AcDbObjectId::isErased() const { return stub_ && stub_->erased; }
AcDbHandle AcDbObjectId::handle() const { return stub_ ? AcDbHandle(stub_->handle) : AcDbHandle(); }
AcDbDatabase* AcDbObjectId::database() const { return stub_ ? stub_->store->database() : nullptr; }

static const AcRxClass kObjectClass{"AcDbObject", nullptr};
const AcRxClass* AcDbObject::desc() { return &kObjectClass; }
const AcRxClass* AcDbObject::isA() const { return &kObjectClass; }

AcDbObject::~AcDbObject() = default;

AcDbObjectId AcDbObject::objectId() const { return AcDbObjectId(stub_); }
AcDbObjectId AcDbObject::ownerId() const { return AcDbObjectId(stub_ ? stub_->owner : nullptr); }
AcDbDatabase* AcDbObject::database() const { return stub_ ? stub_->store->database() : nullptr; }
void AcDbObject::getAcDbHandle(AcDbHandle& handle) const { handle = this->handle(); }
AcDbHandle AcDbObject::handle() const { return AcDbHandle(stub_ ? stub_->handle : 0); }
bool AcDbObject::isErased() const { return stub_ && stub_->erased; }

Acad::ErrorStatus AcDbObject::assertWriteEnabled() const {
    return openMode_ == AcDb::kForWrite ? Acad::eOk : Acad::eNotOpenForWrite;
}

void AcDbObject::markChanged() { stub_->store->noteChanged(stub_); }

Acad::ErrorStatus AcDbObject::close() {
    if (openMode_ == AcDb::kNotOpen || openCount_ <= 0) return Acad::eNotOpenForRead;
    ObjectStub* stub = stub_;
    stub->store->noteOpen(-1);
    if (openMode_ == AcDb::kForWrite)
        stub->writer = false;
    else
        --stub->readers;
    Acad::ErrorStatus result = Acad::eOk;
    if (g_failCloseCount > 0) {
        --g_failCloseCount;
        result = g_failClose;
    }
    if (--openCount_ == 0) {
        openMode_ = AcDb::kNotOpen;
        // An unchanged object is decoded again at its next open; only changes stay.
        if (!stub->changed) {
            stub->live = nullptr;
            delete this;
        }
    }
    return result;
}

Acad::ErrorStatus AcDbObject::erase(bool erasing) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!hostdb::isEntityKind(stub_->kind) || stub_->kind == Kind::SeqEnd) return Acad::eNotApplicable;
    if (stub_->erased == erasing) return erasing ? Acad::eWasErased : Acad::eOk;
    stub_->erased = erasing;
    // A reference's attributes and end marker go with it.
    for (std::uint32_t i = 0; i < stub_->childCount; ++i) {
        ObjectStub* child = stub_->store->stubAt(stub_->firstChild + i);
        stub_->store->noteWrite(*child);
        child->erased = erasing;
    }
    stub_->store->setModified(true);
    return Acad::eOk;
}

Acad::ErrorStatus AcDbObject::upgradeOpen() {
    if (openMode_ == AcDb::kForWrite) return Acad::eWasOpenedForWrite;
    if (openMode_ != AcDb::kForRead) return Acad::eNotOpenForRead;
    if (stub_->readers > 1) return Acad::eWasOpenedForRead;
    stub_->store->noteWrite(*stub_);
    stub_->readers = 0;
    stub_->writer = true;
    openMode_ = AcDb::kForWrite;
    return Acad::eOk;
}

Acad::ErrorStatus acdbOpenAcDbObject(AcDbObject*& obj, AcDbObjectId id, AcDb::OpenMode mode, bool openErased) {
    obj = nullptr;
    ObjectStub* stub = id.stub();
    if (!stub) return Acad::eNullObjectId;
    if (mode == AcDb::kForNotify) mode = AcDb::kForRead;
    if (mode != AcDb::kForRead && mode != AcDb::kForWrite) return Acad::eInvalidOpenState;
    if (stub->erased && !openErased) return Acad::eWasErased;
    if (stub->writer) return Acad::eWasOpenedForWrite;
    if (mode == AcDb::kForWrite && stub->readers > 0) return Acad::eWasOpenedForRead;
    if (mode == AcDb::kForRead && stub->readers >= kMaxReaders) return Acad::eAtMaxReaders;
    if (!stub->live) stub->live = ObjectAccess::create(stub);
    AcDbObject* live = stub->live;
    if (mode == AcDb::kForWrite) {
        stub->store->noteWrite(*stub);
        stub->writer = true;
    } else {
        ++stub->readers;
    }
    ObjectAccess::mode(live) = mode;
    ++ObjectAccess::openCount(live);
    stub->store->noteOpen(+1);
    obj = live;
    return Acad::eOk;
}

Acad::ErrorStatus acdbOpenObject(AcDbObject*& obj, AcDbObjectId id, AcDb::OpenMode mode, bool openErased) {
    return acdbOpenAcDbObject(obj, id, mode, openErased);
}

Acad::ErrorStatus acdbOpenAcDbEntity(AcDbEntity*& ent, AcDbObjectId id, AcDb::OpenMode mode, bool openErased) {
    ent = nullptr;
    if (id.stub() && !hostdb::isEntityKind(id.stub()->kind)) return Acad::eNotThatKindOfClass;
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, id, mode, openErased);
    if (es != Acad::eOk) return es;
    ent = static_cast<AcDbEntity*>(obj);
    return Acad::eOk;
}

void acutDelString(char*& str) {
    delete[] str;
    str = nullptr;
}

void acdbTestFailNextClose(Acad::ErrorStatus es, int count) {
    g_failClose = es;
    g_failCloseCount = count;
}

const char* acadErrorStatusText(Acad::ErrorStatus es) {
    switch (es) {
        // clang-format off
#define NAME(e) case Acad::e: return #e;
        NAME(eOk)
        NAME(eNotImplementedYet) NAME(eNotApplicable) NAME(eInvalidInput) NAME(eOutOfMemory)
        NAME(eBufferTooSmall) NAME(eInvalidOpenState) NAME(eHandleExists) NAME(eNullHandle)
        NAME(eUnknownHandle) NAME(eNullObjectPointer) NAME(eNullObjectId) NAME(eNullBlockName)
        NAME(eNullEntityPointer) NAME(eIllegalEntityType) NAME(eKeyNotFound) NAME(eDuplicateKey)
        NAME(eOutOfDisk) NAME(eInvalidSymbolTableName) NAME(eWrongObjectType) NAME(eWrongDatabase)
        NAME(eEndOfFile) NAME(eNotOpenForRead) NAME(eNotOpenForWrite) NAME(eNotThatKindOfClass)
        NAME(eInvalidBlockName) NAME(eWasErased) NAME(ePermanentlyErased) NAME(eWasOpenedForRead)
        NAME(eWasOpenedForWrite) NAME(eAtMaxReaders) NAME(eFileAccessErr) NAME(eFileSystemErr)
        NAME(eBadDxfSequence) NAME(eInvalidDxfCode) NAME(eInvalidLayer) NAME(eFileNotFound)
        NAME(eDwgNeedsRecovery) NAME(eZeroScaleFactor)
#undef NAME
        // clang-format on
    }
    return "eUnknownStatus";
}

char* hostdb::copyText(std::string_view s) {
    char* p = new char[s.size() + 1];
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

char* hostdb::copyText(const std::string& s) {
    char* p = new char[s.size() + 1];
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// ---- fields

bool AcDbObject::hasFields() const { return !hostdb::fieldsOf(*stub_->store, *stub_, data_->removedFields).empty(); }

// The id of a field is a real one: the FIELD gets a stub of its own when first asked
// for (DrawingStore::stubOfHandle), opens as a plain AcDbObject and names its handle.
Acad::ErrorStatus AcDbObject::getField(const char* propName, AcDbObjectId& fieldId) const {
    fieldId = AcDbObjectId();
    if (!propName) return Acad::eInvalidInput;
    for (const hostdb::FieldEntry& f : hostdb::fieldsOf(*stub_->store, *stub_, data_->removedFields)) {
        if (!hostdb::isSameProperty(f.name, propName)) continue;
        ObjectStub* field = stub_->store->stubOfHandle(f.field);
        if (!field) return Acad::eOutOfMemory;
        fieldId = AcDbObjectId(field);
        return Acad::eOk;
    }
    return Acad::eKeyNotFound;
}

Acad::ErrorStatus AcDbObject::removeField(const char* propName) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!propName) return Acad::eInvalidInput;
    for (const hostdb::FieldEntry& f : hostdb::fieldsOf(*stub_->store, *stub_, data_->removedFields)) {
        if (!hostdb::isSameProperty(f.name, propName)) continue;
        // Kept with the object's values: undo gives the link back with them.
        data_->removedFields.push_back(f.name);
        markChanged();
        return Acad::eOk;
    }
    return Acad::eKeyNotFound;
}
