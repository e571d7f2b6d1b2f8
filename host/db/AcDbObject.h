// Database objects as the module sees them: ids, class descriptors, the open/close
// discipline (several readers or one writer, erased objects refuse to open, every
// open needs its close) and the text copies callers free with acutDelString.
#pragma once

#include "host/db/AcDbHandle.h"
#include "host/db/AcadErrorStatus.h"

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

class AcDbDatabase;
class AcDbObject;
class AcDbEntity;
namespace hostdb {
struct ObjectStub;
struct ObjectData;
class ObjectAccess;
}  // namespace hostdb

// Runtime class descriptor: one per class, compared by address.
class AcRxClass {
public:
    constexpr AcRxClass(const char* name, const AcRxClass* parent) : name_(name), parent_(parent) {}
    const char* name() const { return name_; }
    const AcRxClass* myParent() const { return parent_; }
    bool isDerivedFrom(const AcRxClass* other) const;

private:
    const char* name_;
    const AcRxClass* parent_;
};

// Names one object of one database; the null id names nothing. Ids stay valid for
// the life of their database, erased objects included.
class AcDbObjectId {
public:
    AcDbObjectId() = default;
    explicit AcDbObjectId(hostdb::ObjectStub* stub) : stub_(stub) {}
    static const AcDbObjectId kNull;
    bool isNull() const { return stub_ == nullptr; }
    bool isErased() const;
    bool isValid() const { return stub_ != nullptr; }
    AcDbHandle handle() const;
    AcDbDatabase* database() const;
    hostdb::ObjectStub* stub() const { return stub_; }
    bool operator==(const AcDbObjectId&) const = default;

private:
    hostdb::ObjectStub* stub_ = nullptr;
};
inline const AcDbObjectId AcDbObjectId::kNull{};

class AcDbObjectIdArray : public std::vector<AcDbObjectId> {
public:
    int length() const { return static_cast<int>(size()); }
    int logicalLength() const { return length(); }
    void append(const AcDbObjectId& id) { push_back(id); }
    bool isEmpty() const { return empty(); }
};

#define ACRX_DECLARE_MEMBERS(CLASS)    \
    static const AcRxClass* desc();    \
    static CLASS* cast(AcDbObject* p); \
    const AcRxClass* isA() const override

class AcDbObject {
public:
    virtual ~AcDbObject();
    AcDbObject(const AcDbObject&) = delete;
    AcDbObject& operator=(const AcDbObject&) = delete;

    static const AcRxClass* desc();
    virtual const AcRxClass* isA() const;
    bool isKindOf(const AcRxClass* cls) const { return isA()->isDerivedFrom(cls); }

    AcDbObjectId objectId() const;
    AcDbObjectId ownerId() const;
    AcDbDatabase* database() const;
    void getAcDbHandle(AcDbHandle& handle) const;
    AcDbHandle handle() const;

    bool isReadEnabled() const { return openMode_ == AcDb::kForRead || openMode_ == AcDb::kForWrite; }
    bool isWriteEnabled() const { return openMode_ == AcDb::kForWrite; }
    bool isErased() const;
    // Ends this open. After close the pointer must not be used again.
    [[nodiscard]] Acad::ErrorStatus close();
    // Marks the object erased (open for write); it is dropped from the file when
    // saved and no longer opens. An erased block reference takes its attributes along.
    [[nodiscard]] Acad::ErrorStatus erase(bool erasing = true);
    [[nodiscard]] Acad::ErrorStatus upgradeOpen();

    // Fields: a value the host computes (a date, a property of another object) kept
    // as the text of a property of this object, "TEXT" for a text or attribute. The
    // link lives in the object's extension dictionary (ACAD_FIELD).
    bool hasFields() const;
    // eKeyNotFound when the property has no field.
    [[nodiscard]] Acad::ErrorStatus getField(const char* propName, AcDbObjectId& fieldId) const;
    // Unlinks the property's field (open for write): the text stays as it is, and a
    // later update of fields no longer changes it. eKeyNotFound when it has none.
    [[nodiscard]] Acad::ErrorStatus removeField(const char* propName);

protected:
    AcDbObject() = default;
    // The class's own check before a change: open for write.
    Acad::ErrorStatus assertWriteEnabled() const;
    void markChanged();

private:
    friend class hostdb::ObjectAccess;
    hostdb::ObjectStub* stub_ = nullptr;
    hostdb::ObjectData* data_ = nullptr;  // decoded values, made in the same allocation as the object
    AcDb::OpenMode openMode_ = AcDb::kNotOpen;
    int openCount_ = 0;  // readers that share this object, or 1 writer
};

// Any drawing entity; entities the database does not model are plain AcDbEntity.
class AcDbEntity : public AcDbObject {
public:
    ACRX_DECLARE_MEMBERS(AcDbEntity);
    // The DXF type name ("LINE", "INSERT").
    const char* dxfName() const;
    AcDbObjectId blockId() const { return ownerId(); }
    // A copy of the layer name, freed with acutDelString.
    char* layer() const;
    // Refuses (eKeyNotFound) a layer the drawing does not have.
    [[nodiscard]] Acad::ErrorStatus setLayer(const char* newVal, bool doSubents = true);

protected:
    AcDbEntity() = default;
    friend class hostdb::ObjectAccess;
};

// Opening by id. Statuses: eNullObjectId, eWasErased (unless openErased), eWasOpenedForRead
// (write asked while readers hold it), eWasOpenedForWrite (anything asked while a
// writer holds it), eAtMaxReaders, eNotThatKindOfClass (acdbOpenAcDbEntity on a
// non-entity), eInvalidOpenState (an unknown mode).
[[nodiscard]] Acad::ErrorStatus acdbOpenAcDbObject(AcDbObject*& obj, AcDbObjectId id, AcDb::OpenMode mode,
                                                   bool openErased = false);
[[nodiscard]] Acad::ErrorStatus acdbOpenAcDbEntity(AcDbEntity*& ent, AcDbObjectId id, AcDb::OpenMode mode,
                                                   bool openErased = false);
[[nodiscard]] Acad::ErrorStatus acdbOpenObject(AcDbObject*& obj, AcDbObjectId id, AcDb::OpenMode mode,
                                               bool openErased = false);

// Frees a text copy handed out by the database (tag, prompt, textString, layer,
// getName) and nulls the pointer; a null pointer is harmless.
void acutDelString(char*& str);

// Owns one text copy from the database; frees it on every way out.
class AcutString {
public:
    AcutString() = default;
    explicit AcutString(char* s) : s_(s) {}
    ~AcutString() { acutDelString(s_); }
    AcutString(const AcutString&) = delete;
    AcutString& operator=(const AcutString&) = delete;
    AcutString(AcutString&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    const char* get() const { return s_ ? s_ : ""; }
    bool isNull() const { return s_ == nullptr; }
    char*& out() {
        acutDelString(s_);
        return s_;
    }

private:
    char* s_ = nullptr;
};

// Holds one open object and closes it on every way out. The close status of the
// destructor is lost; call close() where it matters.
template <class T>
class AcDbObjectPointer {
public:
    AcDbObjectPointer() = default;
    AcDbObjectPointer(AcDbObjectId id, AcDb::OpenMode mode, bool openErased = false) { open(id, mode, openErased); }
    ~AcDbObjectPointer() { (void)close(); }
    AcDbObjectPointer(const AcDbObjectPointer&) = delete;
    AcDbObjectPointer& operator=(const AcDbObjectPointer&) = delete;

    // Opens as T: a wrong class is closed again and answers eNotThatKindOfClass.
    Acad::ErrorStatus open(AcDbObjectId id, AcDb::OpenMode mode, bool openErased = false) {
        (void)close();
        AcDbObject* obj = nullptr;
        status_ = acdbOpenAcDbObject(obj, id, mode, openErased);
        if (status_ != Acad::eOk) return status_;
        if (!obj->isKindOf(T::desc())) {
            (void)obj->close();
            return status_ = Acad::eNotThatKindOfClass;
        }
        p_ = static_cast<T*>(obj);
        return status_;
    }
    Acad::ErrorStatus openStatus() const { return status_; }
    Acad::ErrorStatus close() {
        if (!p_) return Acad::eOk;
        return std::exchange(p_, nullptr)->close();
    }
    // Takes ownership of an object the caller opened.
    void adopt(T* p) {
        (void)close();
        p_ = p;
        status_ = p ? Acad::eOk : Acad::eNullObjectPointer;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
    Acad::ErrorStatus status_ = Acad::eNullObjectId;
};

// Test seam: the next `count` calls of AcDbObject::close() answer `es` (the object is
// closed all the same, so nothing stays open behind the failure).
void acdbTestFailNextClose(Acad::ErrorStatus es, int count = 1);
