#include "host/db/AcDbDynBlockReference.h"

// To be completed: every block reads as a plain block for now.

AcDbDynBlockReference::AcDbDynBlockReference(AcDbObjectId blockRefId) : ref_(blockRefId) {}

bool AcDbDynBlockReference::isDynamicBlock(AcDbObjectId) { return false; }
bool AcDbDynBlockReference::isDynamicBlock() const { return false; }
AcDbObjectId AcDbDynBlockReference::dynamicBlockTableRecord() const { return {}; }
AcDbObjectId AcDbDynBlockReference::anonymousBlockTableRecord() const { return {}; }
void AcDbDynBlockReference::getBlockProperties(AcDbDynBlockReferencePropertyArray& properties) const {
    properties.clear();
}

AcDbDynBlockTableRecord::AcDbDynBlockTableRecord(AcDbObjectId blockTableRecordId) : record_(blockTableRecordId) {}
bool AcDbDynBlockTableRecord::isDynamicBlock() const { return false; }
Acad::ErrorStatus AcDbDynBlockTableRecord::getAnonymousBlockIds(AcDbObjectIdArray& anonymousIds) const {
    anonymousIds.clear();
    return Acad::eOk;
}
