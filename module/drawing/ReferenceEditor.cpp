// Changing block references found by handle.
#include "module/drawing/ReferenceEditor.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbSymbolTables.h"
#include "host/db/AcUnits.h"
#include "module/base/ErrorReports.h"
#include "module/base/OpenAs.h"
#include "module/base/WideText.h"
#include "module/drawing/AttributeText.h"
#include "module/drawing/TagText.h"
#include "platform/ComError.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tabro {

namespace {

// The k-th of each tag among tags added one after another. A reference's usual
// handful of tags is compared each with each; past a few dozen they are found by
// key, as a reference may hold thousands and comparing each with each would take
// quadratic time.
class TagOccurrences {
public:
    // Adds the next tag; how many tags added before it are the same tag.
    int add(std::string tag) {
        if (byKey_.empty() && tags_.size() < kCompared) {
            int k = 0;
            for (const std::string& earlier : tags_)
                if (sameTagText(earlier, tag)) ++k;
            tags_.push_back(std::move(tag));
            return k;
        }
        if (byKey_.empty())
            for (std::size_t i = 0; i < tags_.size(); ++i) byKey_[tagKey(tags_[i])].push_back(i);
        std::vector<std::size_t>& same = byKey_[tagKey(tag)];
        same.push_back(tags_.size());
        tags_.push_back(std::move(tag));
        return static_cast<int>(same.size()) - 1;
    }
    // The place (in the order of adding) of the k-th tag equal to `tag`; none when
    // fewer were added.
    std::optional<std::size_t> find(const char* tag, int k) const {
        if (k < 0) return std::nullopt;
        if (byKey_.empty()) {
            for (std::size_t i = 0; i < tags_.size(); ++i)
                if (sameTagText(tags_[i].c_str(), tag) && k-- == 0) return i;
            return std::nullopt;
        }
        auto it = byKey_.find(tagKey(tag));
        if (it == byKey_.end() || static_cast<std::size_t>(k) >= it->second.size()) return std::nullopt;
        return it->second[static_cast<std::size_t>(k)];
    }
    const std::string& operator[](std::size_t i) const { return tags_[i]; }

private:
    static constexpr std::size_t kCompared = 32;
    std::vector<std::string> tags_;
    std::unordered_map<std::string, std::vector<std::size_t>> byKey_;  // once past kCompared
};

// Holds the attributes of one reference open for read and closes them all on every
// way out, so that pairs can be matched against the whole set before writing. An
// attribute is opened for write only when its text is to change.
class OpenAttributes {
public:
    OpenAttributes() = default;
    OpenAttributes(const OpenAttributes&) = delete;
    OpenAttributes& operator=(const OpenAttributes&) = delete;
    ~OpenAttributes() {
        for (AcDbAttribute* attribute : attributes_) (void)attribute->close();
    }

    void open(const AcDbBlockReference& reference) {
        std::unique_ptr<AcDbObjectIterator> it(reference.attributeIterator());
        if (!it) return;
        for (it->start(); !it->done(); it->step()) {
            AcDbAttribute* attribute = nullptr;
            if (reference.openAttribute(attribute, it->objectId(), AcDb::kForRead) != Acad::eOk) continue;
            try {
                attributes_.push_back(attribute);
            } catch (...) {
                (void)attribute->close();
                throw;
            }
            AcutString tag(attribute->tag());
            (void)tags_.add(tag.get());
        }
    }

    // The k-th attribute with `tag` (counting from 0), or null when there are fewer.
    AcDbAttribute* find(const std::string& tag, int k) {
        std::optional<std::size_t> i = tags_.find(tag.c_str(), k);
        return i ? attributes_[*i] : nullptr;
    }

private:
    std::vector<AcDbAttribute*> attributes_;
    TagOccurrences tags_;
};

// The typed open, its object held so that it is closed on every way out.
template <class T>
bool openHeld(AcDbObjectPointer<T>& held, AcDbObjectId id, AcDb::OpenMode mode) {
    T* object = nullptr;
    if (openAs(object, id, mode) != Acad::eOk) return false;
    held.adopt(object);
    return true;
}

bool isFinite(const AcGePoint3d& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The attribute definitions of one block, each with its tag, in the block's order.
struct DefinitionTags {
    std::vector<AcDbObjectId> ids;
    TagOccurrences tags;

    // Walks the block's entities (erased ones skipped) and stops at the first
    // definition whose tag is `stopAt`, when given.
    bool read(const AcDbBlockReference& reference, const char* stopAt) {
        AcDbObjectPointer<AcDbBlockTableRecord> block;
        if (!openHeld(block, reference.blockTableRecord(), AcDb::kForRead)) return false;
        AcDbBlockTableRecordIterator* raw = nullptr;
        if (block->newIterator(raw) != Acad::eOk || !raw) return false;
        std::unique_ptr<AcDbBlockTableRecordIterator> it(raw);
        for (; !it->done(); it->step()) {
            AcDbEntity* entity = nullptr;
            if (it->getEntity(entity, AcDb::kForRead) != Acad::eOk) continue;
            AcDbObjectPointer<AcDbEntity> held;
            held.adopt(entity);
            auto* definition = AcDbAttributeDefinition::cast(entity);
            if (!definition) continue;
            AcutString tag(definition->tag());
            ids.push_back(entity->objectId());
            (void)tags.add(tag.get());
            if (stopAt && sameTagText(tag.get(), stopAt)) break;
        }
        return true;
    }

    // The k-th definition with `tag` (counting from 0), or null.
    AcDbObjectId find(const char* tag, int k = 0) const {
        std::optional<std::size_t> i = tags.find(tag, k);
        return i ? ids[*i] : AcDbObjectId::kNull;
    }
};

// Places one attribute from its definition, keeping its text (a multi-line one's
// contents are not touched by placing).
void placeFromDefinition(AcDbAttribute& attribute, const AcDbAttributeDefinition& definition,
                         const AcGeMatrix3d& transform) {
    AcutString text(attribute.textString());
    if (attribute.setAttributeFromBlock(&definition, transform) != Acad::eOk) return;
    if (attribute.isMTextAttribute()) return;
    std::string_view kept = text.get();
    (void)attribute.setFieldLength(static_cast<int>(kept.size()) + 1);
    (void)attribute.setTextString(text.get());
}

// Whether a text reads, as a whole, as this number (a decimal number with "." as
// its point, blanks around it allowed).
bool sameNumber(const char* text, double number) {
    if (std::isnan(number)) return false;
    double read = 0;
    return acdbDisToF(text, 2, &read) == RTNORM && read == number;
}

// Whether the cell still holds what export wrote for a drawing text that reads
// back otherwise: text the system code page cannot decode (invalid UTF-8 in a
// drawing of R2007 or later, say) went out with U+FFFD for each byte that does not
// decode, and comes back as that character. Such a cell is unedited, and writing it
// would replace the drawing's bytes.
bool isExportedForm(const std::string& cell, const char* current) {
    const std::string_view text(current);
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return false;
    if (platform::toWide(text)) return false;  // decodes: export wrote it as it is
    try {
        return toMultibyte(toWide(text)) == cell;
    } catch (const _com_error&) {
        return false;
    }
}

}  // namespace

Acad::ErrorStatus openByHandle(std::string_view handleText, AcDb::OpenMode mode,
                               AcDbObjectPointer<AcDbEntity>& entity) {
    (void)entity.close();
    // A spreadsheet program may keep blanks or a line break around a comment's text.
    handleText = trimBlanks(handleText);
    char text[17];
    if (handleText.empty() || handleText.size() >= sizeof text) return Acad::eNullHandle;
    handleText.copy(text, handleText.size());
    text[handleText.size()] = '\0';
    AcDbHandle handle(text);
    if (handle.isNull()) return Acad::eNullHandle;

    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    if (!db) return Acad::eNullObjectPointer;
    AcDbObjectId id;
    if (Acad::ErrorStatus es = db->getAcDbObjectId(id, false, handle); es != Acad::eOk) return es;
    AcDbEntity* opened = nullptr;
    if (Acad::ErrorStatus es = acdbOpenAcDbEntity(opened, id, mode); es != Acad::eOk) return es;
    entity.adopt(opened);
    return Acad::eOk;
}

bool isAttributeUnedited(const std::string& cell, double cellNumber, const char* current) {
    return cell == current || sameNumber(current, cellNumber) || isExportedForm(cell, current);
}

bool writeAttributes(const AcDbBlockReference& reference, std::span<const std::string> tags,
                     std::span<const std::string> values, int firstOccurrence, AttributeWriteResult* result,
                     std::span<const double> cellNumbers, std::span<const int> occurrences) {
    if (tags.size() != values.size()) return false;
    OpenAttributes open;
    open.open(reference);
    std::size_t written = 0;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        int k = 0;
        if (i < occurrences.size()) {
            k = occurrences[i];
        } else {
            for (std::size_t j = 0; j < i; ++j)
                if (sameTagText(tags[j].c_str(), tags[i].c_str())) ++k;
            if (sameTagText(tags[0].c_str(), tags[i].c_str())) k += firstOccurrence;
        }
        AcDbAttribute* attribute = open.find(tags[i], k);
        if (!attribute) {
            if (result) result->missing.push_back(i);
            continue;
        }
        {
            // An unchanged text leaves the attribute untouched: not even its field
            // length changes, so an unedited row changes nothing in the drawing.
            std::string current;
            (void)readAttributeText(*attribute, current);
            if (isAttributeUnedited(values[i], i < cellNumbers.size() ? cellNumbers[i] : std::nan(""),
                                    current.c_str())) {
                ++written;
                continue;
            }
        }
        if (!attribute->isWriteEnabled() && attribute->upgradeOpen() != Acad::eOk) {
            if (result) result->refused.push_back(i);
            continue;
        }
        if (!writeAttributeText(*attribute, values[i])) {
            if (result) result->refused.push_back(i);
            continue;
        }
        // A field would put its own value back at the next update of fields: the
        // imported text replaces it, as typing over a field does.
        if (attribute->hasFields() && attribute->removeField("TEXT") == Acad::eOk && result) ++result->fieldsReplaced;
        if (!attribute->isMTextAttribute()) (void)attribute->setFieldLength(static_cast<int>(values[i].size()));
        ++written;
        if (result) ++result->changed;
    }
    return written == tags.size();
}

Acad::ErrorStatus ReferenceEditor::open(std::string_view handleText, AcDb::OpenMode mode) {
    close();
    Acad::ErrorStatus es = openByHandle(handleText, mode, entity_);
    if (es == Acad::eOk) reference_ = AcDbBlockReference::cast(entity_.get());
    return es;
}

void ReferenceEditor::close() {
    (void)entity_.close();
    reference_ = nullptr;
    moved_ = changed_ = false;
}

bool ReferenceEditor::applyAttributes(std::span<const std::string> tags, std::span<const std::string> values,
                                      int firstOccurrence, AttributeWriteResult* result,
                                      std::span<const double> cellNumbers, std::span<const int> occurrences) {
    if (!reference_) return false;
    AttributeWriteResult local;
    AttributeWriteResult& write = result ? *result : local;
    const std::size_t changedBefore = write.changed;
    const bool complete = writeAttributes(*reference_, tags, values, firstOccurrence, &write, cellNumbers, occurrences);
    changed_ |= write.changed > changedBefore;
    return complete;
}

Acad::ErrorStatus ReferenceEditor::applyPosition(const AcGePoint3d& position) {
    if (!reference_) return Acad::eNotApplicable;
    if (!isFinite(position)) return Acad::eInvalidInput;
    if (reference_->position() == position) return Acad::eOk;
    Acad::ErrorStatus es = reference_->setPosition(position);
    if (es == Acad::eOk) moved_ = changed_ = true;
    return es;
}

Acad::ErrorStatus ReferenceEditor::applyScale(const AcGeScale3d& scale) {
    if (!reference_) return Acad::eNotApplicable;
    if (!isFinite({scale.sx, scale.sy, scale.sz})) return Acad::eInvalidInput;
    if (reference_->scaleFactors() == scale) return Acad::eOk;
    Acad::ErrorStatus es = reference_->setScaleFactors(scale);
    if (es == Acad::eOk) moved_ = changed_ = true;
    return es;
}

Acad::ErrorStatus ReferenceEditor::applyRotation(double radians) {
    if (!reference_) return Acad::eNotApplicable;
    if (!std::isfinite(radians)) return Acad::eInvalidInput;
    if (reference_->rotation() == radians) return Acad::eOk;
    Acad::ErrorStatus es = reference_->setRotation(radians);
    if (es == Acad::eOk) moved_ = changed_ = true;
    return es;
}

Acad::ErrorStatus ReferenceEditor::applyLayer(const char* layer) {
    if (!entity_) return Acad::eNullObjectPointer;
    if (!layer) return Acad::eInvalidInput;
    AcutString before(entity_->layer());
    Acad::ErrorStatus es = entity_->setLayer(layer, true);
    if (es != Acad::eOk) return es;
    AcutString after(entity_->layer());
    changed_ |= std::strcmp(before.get(), after.get()) != 0;
    return Acad::eOk;
}

bool ReferenceEditor::finish() {
    if (!moved_) return true;
    moved_ = false;
    return refreshAttributes(reference_);
}

bool refreshAttributes(AcDbBlockReference* pRef) {
    AcDbBlockReference* reference = pRef;
    if (!reference) {
        assertReport("drawing/ReferenceEditing", __LINE__, "pRef != NULL");
        return false;
    }
    if (!reference->isReadEnabled()) return false;
    std::unique_ptr<AcDbObjectIterator> it(reference->attributeIterator());
    if (!it) return true;
    const AcGeMatrix3d transform = reference->blockTransform();
    // The block's definitions are read once for all attributes of the reference.
    DefinitionTags definitions;
    bool haveDefinitions = false;
    TagOccurrences seenTags;
    for (it->start(); !it->done(); it->step()) {
        AcDbObjectPointer<AcDbAttribute> attribute;
        if (!openHeld(attribute, it->objectId(), AcDb::kForWrite)) continue;
        if (!haveDefinitions) {
            if (!definitions.read(*reference, nullptr)) return true;
            haveDefinitions = true;
        }
        AcutString tag(attribute->tag());
        // The k-th attribute of a tag stands where the k-th definition of it puts it,
        // as the texts pair; one beyond the definitions keeps its place.
        const int k = seenTags.add(tag.get());
        AcDbObjectPointer<AcDbAttributeDefinition> definition;
        if (definition.open(definitions.find(tag.get(), k), AcDb::kForRead) != Acad::eOk) continue;
        placeFromDefinition(*attribute.get(), *definition.get(), transform);
    }
    return true;
}

bool findAttributeDefinition(const AcDbBlockReference* pRef, const AcDbAttribute* pAtt,
                             AcDbObjectPointer<AcDbAttributeDefinition>& definition) {
    const AcDbBlockReference* reference = pRef;
    const AcDbAttribute* attribute = pAtt;
    (void)definition.close();
    if (!reference) {
        assertReport("drawing/ReferenceEditing", __LINE__, "pRef != NULL");
        return false;
    }
    if (!attribute) {
        assertReport("drawing/ReferenceEditing", __LINE__, "pAtt != NULL");
        return false;
    }
    AcutString tag(attribute->tag());
    DefinitionTags definitions;
    if (!definitions.read(*reference, tag.get())) return false;
    AcDbObjectId id = definitions.find(tag.get());
    return !id.isNull() && definition.open(id, AcDb::kForRead) == Acad::eOk;
}

}  // namespace tabro
