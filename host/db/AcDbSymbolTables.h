// Symbol tables: the block table with its records (model space, paper space layouts,
// block definitions) and the layer table.
#pragma once

#include "host/db/AcDbObject.h"
#include "host/db/AcGe.h"

#include <memory>

class AcDbBlockTableRecord;
class AcDbLayerTableRecord;

class AcDbSymbolTableRecord : public AcDbObject {
public:
    ACRX_DECLARE_MEMBERS(AcDbSymbolTableRecord);
    // A copy of the name, freed with acutDelString.
    [[nodiscard]] Acad::ErrorStatus getName(char*& name) const;
    // The record's own text, valid while the record is open.
    [[nodiscard]] Acad::ErrorStatus getName(const char*& name) const;

protected:
    AcDbSymbolTableRecord() = default;
    friend class hostdb::ObjectAccess;
};

// Walks the entities of one block definition (or layout) in stored order.
class AcDbBlockTableRecordIterator {
public:
    explicit AcDbBlockTableRecordIterator(std::vector<AcDbObjectId> ids, bool skipErased)
        : ids_(std::move(ids)), skipErased_(skipErased) {
        start();
    }
    void start(bool atBeginning = true);
    void step(bool forward = true, bool skipDeleted = true);
    bool done() const { return pos_ >= ids_.size(); }
    [[nodiscard]] Acad::ErrorStatus getEntityId(AcDbObjectId& id) const;
    [[nodiscard]] Acad::ErrorStatus getEntity(AcDbEntity*& ent, AcDb::OpenMode mode, bool openErased = false) const;

private:
    void skip(bool forward);
    std::vector<AcDbObjectId> ids_;
    std::size_t pos_ = 0;
    bool skipErased_;
};

class AcDbBlockTableRecord : public AcDbSymbolTableRecord {
public:
    ACRX_DECLARE_MEMBERS(AcDbBlockTableRecord);
    bool isAnonymous() const;
    bool isLayout() const;
    bool hasAttributeDefinitions() const;
    AcGePoint3d origin() const;
    // References of this block itself (not of blocks nesting it), in file order.
    [[nodiscard]] Acad::ErrorStatus getBlockReferenceIds(AcDbObjectIdArray& ids, bool directOnly = true,
                                                         bool forceValidity = false) const;
    [[nodiscard]] Acad::ErrorStatus newIterator(AcDbBlockTableRecordIterator*& it, bool atBeginning = true,
                                                bool skipDeleted = true) const;

protected:
    AcDbBlockTableRecord() = default;
    friend class hostdb::ObjectAccess;
};

class AcDbBlockTableIterator {
public:
    explicit AcDbBlockTableIterator(std::vector<AcDbObjectId> ids, bool skipErased)
        : ids_(std::move(ids)), skipErased_(skipErased) {
        start();
    }
    void start(bool atBeginning = true);
    void step(bool forward = true, bool skipDeleted = true);
    bool done() const { return pos_ >= ids_.size(); }
    [[nodiscard]] Acad::ErrorStatus getRecordId(AcDbObjectId& id) const;
    [[nodiscard]] Acad::ErrorStatus getRecord(AcDbBlockTableRecord*& rec, AcDb::OpenMode mode,
                                              bool openErased = false) const;

private:
    void skip(bool forward);
    std::vector<AcDbObjectId> ids_;
    std::size_t pos_ = 0;
    bool skipErased_;
};

class AcDbSymbolTable : public AcDbObject {
public:
    ACRX_DECLARE_MEMBERS(AcDbSymbolTable);
    // Name lookup is case-insensitive; erased records are not found.
    bool has(const char* name) const;
    [[nodiscard]] Acad::ErrorStatus getAt(const char* name, AcDbObjectId& id, bool getErased = false) const;

protected:
    AcDbSymbolTable() = default;
    friend class hostdb::ObjectAccess;
};

class AcDbBlockTable : public AcDbSymbolTable {
public:
    ACRX_DECLARE_MEMBERS(AcDbBlockTable);
    using AcDbSymbolTable::getAt;
    [[nodiscard]] Acad::ErrorStatus getAt(const char* name, AcDbBlockTableRecord*& rec, AcDb::OpenMode mode,
                                          bool openErased = false) const;
    [[nodiscard]] Acad::ErrorStatus newIterator(AcDbBlockTableIterator*& it, bool atBeginning = true,
                                                bool skipDeleted = true) const;

protected:
    AcDbBlockTable() = default;
    friend class hostdb::ObjectAccess;
};

class AcDbLayerTableRecord : public AcDbSymbolTableRecord {
public:
    ACRX_DECLARE_MEMBERS(AcDbLayerTableRecord);

protected:
    AcDbLayerTableRecord() = default;
    friend class hostdb::ObjectAccess;
};

class AcDbLayerTable : public AcDbSymbolTable {
public:
    ACRX_DECLARE_MEMBERS(AcDbLayerTable);

protected:
    AcDbLayerTable() = default;
    friend class hostdb::ObjectAccess;
};

// Names of the two spaces every drawing has.
#define ACDB_MODEL_SPACE "*Model_Space"
#define ACDB_PAPER_SPACE "*Paper_Space"
