#include "module/drawing/BlockReading.h"

#include "host/db/AcDbDynBlockReference.h"
#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "module/drawing/AttributeText.h"
#include "platform/Text.h"

#include <cstring>
#include <memory>

namespace tabro {

bool collectDefinitionRecords(AcDbObjectId blockId, std::vector<AttributeRecord>& records) {
    records.clear();
    AcDbObjectPointer<AcDbBlockTableRecord> block(blockId, AcDb::kForRead);
    if (!block) return false;
    AcDbBlockTableRecordIterator* rawIterator = nullptr;
    if (block->newIterator(rawIterator, true, true) != Acad::eOk || !rawIterator) return false;
    std::unique_ptr<AcDbBlockTableRecordIterator> it(rawIterator);
    for (; !it->done(); it->step()) {
        AcDbObjectId id;
        if (it->getEntityId(id) != Acad::eOk) continue;
        AcDbObjectPointer<AcDbAttributeDefinition> definition(id, AcDb::kForRead);
        if (!definition) continue;
        AttributeRecord& r = records.emplace_back();
        AcutString tag(definition->tag());
        AcutString prompt(definition->prompt());
        AcutString text(definition->textString());
        r.tag = tag.get();
        r.prompt = prompt.get();
        r.text = text.get();
        r.isConstant = definition->isConstant();
    }
    return true;
}

bool readReferenceAttributes(const AcDbBlockReference& reference, std::vector<ReferenceAttribute>& attributes,
                             std::size_t& count) {
    count = 0;
    std::unique_ptr<AcDbObjectIterator> it(reference.attributeIterator());
    if (!it) return false;
    for (it->start(); !it->done(); it->step()) {
        AcDbObjectPointer<AcDbAttribute> attribute(it->objectId(), AcDb::kForRead);
        if (!attribute) continue;
        if (count == attributes.size()) attributes.emplace_back();
        ReferenceAttribute& a = attributes[count++];
        AcutString tag(attribute->tag());
        a.tag.assign(tag.get());
        a.hasText = readAttributeText(*attribute.get(), a.text);
    }
    return true;
}

bool collectAttributeRecords(const AcDbBlockReference& reference, std::vector<AttributeRecord>& records) {
    if (!collectDefinitionRecords(placedBlockOf(reference), records)) return false;
    std::vector<ReferenceAttribute> attributes;
    std::size_t count = 0;
    if (!readReferenceAttributes(reference, attributes, count)) return false;
    overlayReferenceAttributes(records, std::span<const ReferenceAttribute>(attributes.data(), count));
    return true;
}

AcDbObjectId placedBlockOf(const AcDbBlockReference& reference) {
    const AcDbObjectId own = reference.blockTableRecord();
    AcDbDynBlockReference dynamic(reference.objectId());
    if (!dynamic.isDynamicBlock()) return own;
    const AcDbObjectId placed = dynamic.dynamicBlockTableRecord();
    return placed.isNull() ? own : placed;
}

bool blockNameOf(AcDbObjectId blockId, std::string& name) {
    AcDbObjectPointer<AcDbBlockTableRecord> block(blockId, AcDb::kForRead);
    if (!block) return false;
    const char* text = nullptr;
    if (block->getName(text) != Acad::eOk || !text) return false;
    name.assign(text);
    return true;
}

bool isLayoutBlockName(const char* name) {
    if (!name || std::strlen(name) < 12) return false;
    char prefix[13];
    std::memcpy(prefix, name, 12);
    prefix[12] = '\0';
    auto same = [&](const char* layout) {
        return _mbsicmp(reinterpret_cast<const unsigned char*>(prefix),
                        reinterpret_cast<const unsigned char*>(layout)) == 0;
    };
    return same("*MODEL_SPACE") || same("*PAPER_SPACE");
}

}  // namespace tabro
