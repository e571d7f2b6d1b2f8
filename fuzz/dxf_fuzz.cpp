// libFuzzer target for the DXF readers, ASCII and binary: any bytes either open or
// are refused with a message; an opened drawing lists and writes back without fault,
// in its own form and in the other, and what it writes reads back as the same
// references. Every reference answers what dynamic block it belongs to, whatever
// that block's data hold; with its texts' fields unlinked and its multi-line texts
// changed, it writes a drawing that reads back without those fields. Seeds:
// fuzz/seeds/dxf (small drawings in both forms and code widths, one with dynamic
// blocks).
#include "host/db/AcDbDynBlockReference.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string listing(AcDbDatabase& db) {
    std::ostringstream list;
    listBlockReferences(db, list);
    return list.str();
}

// Whatever a drawing's dynamic block data hold, each reference reads as a dynamic
// block's with its parameters, or as a plain block's without any, and nothing stays
// open.
void askDynamicBlocks(AcDbDatabase& db) {
    for (const hostdb::BlockInfo& b : db.store().blocks())
        for (hostdb::ObjectStub* e : b.entities) {
            if (e->kind != hostdb::Kind::Insert) continue;
            AcDbDynBlockReference ref{AcDbObjectId(e)};
            AcDbDynBlockReferencePropertyArray properties;
            ref.getBlockProperties(properties);
            const bool isDynamic = ref.isDynamicBlock();
            if (!isDynamic && (!properties.empty() || !ref.anonymousBlockTableRecord().isNull())) __builtin_trap();
            const AcDbObjectId block = ref.dynamicBlockTableRecord();
            if (isDynamic && !AcDbDynBlockReference::isDynamicBlock(block)) __builtin_trap();
            AcDbObjectIdArray anonymous;
            (void)AcDbDynBlockTableRecord(block).getAnonymousBlockIds(anonymous);
        }
    if (db.openObjectCount() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto r = openDrawingText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.dxf");
    if (!r) {
        if (r.error.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    (void)listing(*r.database);
    askDynamicBlocks(*r.database);
    hostdb::DrawingStore& store = r.database->store();
    const bool isBinary = store.sourceFormat() == dxf::DxfFormat::Binary;
    std::string written, other;
    try {
        written = writeDrawingText(*r.database);
        store.setSaveFormat(isBinary ? dxf::DxfFormat::Ascii : dxf::DxfFormat::Binary);
        other = writeDrawingText(*r.database);
    } catch (const hostdb::UnwritableValue&) {
        return 0;  // a value the other form cannot hold (ASCII allows wider integers)
    }
    // What we write must read back, and both forms as the same references.
    auto again = openDrawingText(written);
    auto converted = openDrawingText(other);
    if (!again || !converted) __builtin_trap();
    if (listing(*again.database) != listing(*converted.database)) __builtin_trap();
    // Once written, a drawing comes back byte for byte.
    if (writeDrawingText(*again.database) != written) __builtin_trap();

    // Every text's field unlinked and every multi-line text made longer: what it
    // writes reads back, with no text's field left.
    for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
        AcDbObjectPointer<AcDbObject> object(AcDbObjectId(store.stubAt(i)), AcDb::kForWrite);
        if (!object) continue;
        if (object->hasFields()) {
            (void)object->removeField("TEXT");
            if (object->removeField("TEXT") == Acad::eOk) __builtin_trap();  // one property, one field
        }
        AcDbAttribute* attribute = AcDbAttribute::cast(object.get());
        if (!attribute || !attribute->isMTextAttribute()) continue;
        std::unique_ptr<AcDbMText> mtext(attribute->getMTextAttribute());
        AcDbMText longer(AcutString(mtext->contents()).get() + std::string("\\P") + std::string(300, 'x'));
        (void)attribute->setMTextAttribute(&longer);
    }
    std::string edited;
    try {
        edited = writeDrawingText(*r.database);
    } catch (const hostdb::UnwritableValue&) {
        return 0;
    }
    auto unlinked = openDrawingText(edited);
    if (!unlinked) __builtin_trap();
    hostdb::DrawingStore& read = unlinked.database->store();
    for (std::uint32_t i = 0; i < read.stubCount(); ++i) {
        AcDbObjectPointer<AcDbObject> object(AcDbObjectId(read.stubAt(i)), AcDb::kForRead);
        AcDbObjectId field;
        if (object && object->getField("TEXT", field) == Acad::eOk) __builtin_trap();
    }
    return 0;
}
