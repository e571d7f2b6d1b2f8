#include "host/db/AcDbEntities.h"
#include "host/db/ClassMembers.h"

#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"
#include "host/db/MTextContents.h"
#include "host/db/ObjectAccess.h"
#include "host/db/ObjectData.h"

#include <cmath>
#include <cstdint>
#include <numbers>

using namespace hostdb;

ACRX_DEFINE_MEMBERS(AcDbEntity, AcDbObject)
ACRX_DEFINE_MEMBERS(AcDbText, AcDbEntity)
ACRX_DEFINE_MEMBERS(AcDbAttributeDefinition, AcDbText)
ACRX_DEFINE_MEMBERS(AcDbAttribute, AcDbText)
ACRX_DEFINE_MEMBERS(AcDbBlockReference, AcDbEntity)

namespace {

// The object's values, those of `need` (bits of FieldId) decoded.
ObjectData& dataOf(const AcDbObject* o, std::uint32_t need) {
    ObjectData& d = *ObjectAccess::data(o);
    if (need & ~d.decodedMask) {
        const ObjectStub& stub = *ObjectAccess::stub(o);
        if (!d.located && (need & ~kPreLocated)) locateFields(*stub.store, stub, d);
        decodeFields(*stub.store, d, need);
    }
    return d;
}

// A text value of the object copied out for the caller. One not decoded yet whose
// bytes decode to themselves (most do) is copied from the file's text directly,
// without being kept: an export reads the text and tag of every attribute once.
char* copyValue(const AcDbObject* o, FieldId id, std::string ObjectData::*member) {
    const ObjectData& d = *ObjectAccess::data(o);
    const ObjectStub& stub = *ObjectAccess::stub(o);
    const bool placeKnown = d.located || (stub.preLocated && (bit(id) & kPreLocated));
    if (!(d.decodedMask & bit(id)) && placeKnown && d.fields[id].present()) {
        const std::string_view raw = rawValueAt(stub.store->text(), d.fields[id].vBegin);
        if (dxf::TextCodec::decodesToItself(raw)) return copyText(raw);
    }
    return copyText(dataOf(o, bit(id)).*member);
}

// What setAttributeFromBlock reads of a definition and sets of an attribute.
constexpr std::uint32_t kPlacement = bit(fX) | bit(fY) | bit(fZ) | bit(fAX) | bit(fAY) | bit(fAZ) | bit(fHeight) |
                                     bit(fWidth) | bit(fRotation) | bit(fOblique) | bit(fStyle) | bit(fHMode) |
                                     bit(fVMode);

template <class T>
bool setIfChanged(AcDbObject* o, T& member, const T& value, FieldId field) {
    if (member == value) return false;
    member = value;
    ObjectAccess::data(o)->markDirty(field);
    return true;
}

bool hasLineBreak(const char* s) {
    for (; *s; ++s)
        if (*s == '\n' || *s == '\r') return true;
    return false;
}

}  // namespace

// ---- AcDbEntity

const char* AcDbEntity::dxfName() const {
    switch (ObjectAccess::stub(this)->kind) {
    case Kind::Insert:
        return "INSERT";
    case Kind::Attrib:
        return "ATTRIB";
    case Kind::Attdef:
        return "ATTDEF";
    case Kind::Text:
        return "TEXT";
    case Kind::SeqEnd:
        return "SEQEND";
    default:
        return "";
    }
}

char* AcDbEntity::layer() const { return copyValue(this, fLayer, &ObjectData::layer); }

Acad::ErrorStatus AcDbEntity::setLayer(const char* newVal, bool doSubents) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!newVal) return Acad::eInvalidInput;
    ObjectStub* stub = ObjectAccess::stub(this);
    ObjectStub* layer = stub->store->findLayer(newVal);
    if (!layer) return Acad::eKeyNotFound;
    const std::string& name = stub->store->layerName(layer);
    if (setIfChanged<std::string>(this, dataOf(this, bit(fLayer)).layer, name, fLayer)) markChanged();
    if (!doSubents) return Acad::eOk;
    // Attributes follow their reference onto the layer (those open elsewhere are left).
    for (std::uint32_t i = 0; i < stub->childCount; ++i) {
        ObjectStub* child = stub->store->stubAt(stub->firstChild + i);
        if (child->kind != Kind::Attrib || child->erased) continue;
        AcDbObject* obj = nullptr;
        if (acdbOpenAcDbObject(obj, AcDbObjectId(child), AcDb::kForWrite) != Acad::eOk) continue;
        (void)static_cast<AcDbEntity*>(obj)->setLayer(newVal, false);
        (void)obj->close();
    }
    return Acad::eOk;
}

// ---- AcDbText

char* AcDbText::textString() const { return copyValue(this, fText, &ObjectData::text); }

Acad::ErrorStatus AcDbText::setTextString(const char* text) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    // A line break inside a value would split the tag in the file and corrupt it.
    if (!text || hasLineBreak(text)) return Acad::eInvalidInput;
    ObjectData& d = dataOf(this, bit(fText) | bit(fMText));
    if (setIfChanged<std::string>(this, d.text, text, d.mtext ? fMText : fText)) markChanged();
    return Acad::eOk;
}

AcGePoint3d AcDbText::position() const { return dataOf(this, bit(fX) | bit(fY) | bit(fZ)).pos; }
AcGePoint3d AcDbText::alignmentPoint() const { return dataOf(this, bit(fAX) | bit(fAY) | bit(fAZ)).align; }
double AcDbText::height() const { return dataOf(this, bit(fHeight)).height; }
double AcDbText::widthFactor() const { return dataOf(this, bit(fWidth)).width; }
double AcDbText::rotation() const { return dataOf(this, bit(fRotation)).rotation; }
double AcDbText::oblique() const { return dataOf(this, bit(fOblique)).oblique; }
int AcDbText::horizontalMode() const { return dataOf(this, bit(fHMode)).hmode; }
int AcDbText::verticalMode() const { return dataOf(this, bit(fVMode)).vmode; }
char* AcDbText::textStyleName() const { return copyText(dataOf(this, bit(fStyle)).style); }

// True when any coordinate changed.
static bool setPoint(AcDbObject* o, AcGePoint3d& p, const AcGePoint3d& v, FieldId fx) {
    bool changed = setIfChanged(o, p.x, v.x, fx);
    changed |= setIfChanged(o, p.y, v.y, static_cast<FieldId>(fx + 1));
    changed |= setIfChanged(o, p.z, v.z, static_cast<FieldId>(fx + 2));
    if (changed) ObjectAccess::stub(o)->store->noteChanged(ObjectAccess::stub(o));
    return changed;
}

Acad::ErrorStatus AcDbText::setPosition(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    setPoint(this, dataOf(this, bit(fX) | bit(fY) | bit(fZ)).pos, p, fX);
    return Acad::eOk;
}
Acad::ErrorStatus AcDbText::setAlignmentPoint(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    setPoint(this, dataOf(this, bit(fAX) | bit(fAY) | bit(fAZ)).align, p, fAX);
    return Acad::eOk;
}
Acad::ErrorStatus AcDbText::setHeight(double h) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!(h > 0)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this, bit(fHeight)).height, h, fHeight)) markChanged();
    return Acad::eOk;
}
Acad::ErrorStatus AcDbText::setRotation(double r) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(r)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this, bit(fRotation)).rotation, r, fRotation)) markChanged();
    return Acad::eOk;
}

// ---- AcDbAttributeDefinition

char* AcDbAttributeDefinition::tag() const { return copyValue(this, fName, &ObjectData::name); }
char* AcDbAttributeDefinition::prompt() const { return copyText(dataOf(this, bit(fPrompt)).prompt); }
bool AcDbAttributeDefinition::isConstant() const { return dataOf(this, bit(fFlags)).flags & 2; }
bool AcDbAttributeDefinition::isInvisible() const { return dataOf(this, bit(fFlags)).flags & 1; }
bool AcDbAttributeDefinition::isVerifiable() const { return dataOf(this, bit(fFlags)).flags & 4; }
bool AcDbAttributeDefinition::isPreset() const { return dataOf(this, bit(fFlags)).flags & 8; }
int AcDbAttributeDefinition::fieldLength() const { return dataOf(this, bit(fFieldLen)).fieldLen; }

// ---- AcDbAttribute

char* AcDbAttribute::tag() const { return copyValue(this, fName, &ObjectData::name); }
bool AcDbAttribute::isConstant() const { return dataOf(this, bit(fFlags)).flags & 2; }
bool AcDbAttribute::isInvisible() const { return dataOf(this, bit(fFlags)).flags & 1; }
bool AcDbAttribute::isMTextAttribute() const { return dataOf(this, 0).mtext; }
int AcDbAttribute::fieldLength() const { return dataOf(this, bit(fFieldLen)).fieldLen; }

Acad::ErrorStatus AcDbAttribute::setFieldLength(int length) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (length < 0) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this, bit(fFieldLen)).fieldLen, length, fFieldLen)) markChanged();
    return Acad::eOk;
}

Acad::ErrorStatus AcDbAttribute::setAttributeFromBlock(const AcDbAttributeDefinition* def, const AcGeMatrix3d& xf) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!def) return Acad::eNullObjectPointer;
    if (!def->isReadEnabled()) return Acad::eNotOpenForRead;
    const ObjectData& d = dataOf(def, kPlacement);
    ObjectData& a = dataOf(this, kPlacement);
    AcGeVector3d vx = xf.transformVector(AcGeVector3d::kXAxis);
    AcGeVector3d vy = xf.transformVector(AcGeVector3d::kYAxis);
    double sx = std::hypot(vx.x, vx.y), sy = std::hypot(vy.x, vy.y);
    if (sx == 0 || sy == 0) return Acad::eInvalidInput;
    // Under a mirroring transform the text keeps reading left to right: its
    // direction is that of the mirrored X axis turned back.
    double turn = xf.det() < 0 ? std::atan2(-vx.y, -vx.x) : std::atan2(vx.y, vx.x);
    double rotation = std::fmod(d.rotation + turn, 2 * std::numbers::pi);
    if (rotation < 0) rotation += 2 * std::numbers::pi;
    bool changed = false;
    changed |= setPoint(this, a.pos, xf.transformPoint(d.pos), fX);
    changed |= setPoint(this, a.align, xf.transformPoint(d.align), fAX);
    changed |= setIfChanged(this, a.height, d.height * sy, fHeight);
    changed |= setIfChanged(this, a.width, d.width * sx / sy, fWidth);
    changed |= setIfChanged(this, a.rotation, rotation, fRotation);
    changed |= setIfChanged(this, a.oblique, d.oblique, fOblique);
    changed |= setIfChanged(this, a.style, d.style, fStyle);
    changed |= setIfChanged(this, a.hmode, d.hmode, fHMode);
    changed |= setIfChanged(this, a.vmode, d.vmode, fVMode);
    if (changed) markChanged();
    return Acad::eOk;
}

// ---- AcDbBlockReference

AcDbObjectId AcDbBlockReference::blockTableRecord() const {
    const ObjectStub& stub = *ObjectAccess::stub(this);
    if (stub.preLocated)
        if (ObjectStub* record = stub.store->blockOfReference(stub)) return AcDbObjectId(record);
    return AcDbObjectId(stub.store->findBlock(dataOf(this, bit(fName)).name));
}
AcGePoint3d AcDbBlockReference::position() const { return dataOf(this, bit(fX) | bit(fY) | bit(fZ)).pos; }
double AcDbBlockReference::rotation() const { return dataOf(this, bit(fRotation)).rotation; }
AcGeScale3d AcDbBlockReference::scaleFactors() const {
    return dataOf(this, bit(fWidth) | bit(fScaleY) | bit(fScaleZ)).scale;
}
AcGeVector3d AcDbBlockReference::normal() const { return dataOf(this, 0).normal; }

AcGeMatrix3d AcDbBlockReference::blockTransform() const {
    const ObjectData& d = dataOf(
        this, bit(fName) | bit(fX) | bit(fY) | bit(fZ) | bit(fRotation) | bit(fWidth) | bit(fScaleY) | bit(fScaleZ));
    AcGePoint3d origin;
    if (ObjectStub* rec = ObjectAccess::stub(this)->store->findBlock(d.name)) origin = rec->store->blockOf(rec).origin;
    return AcGeMatrix3d::translation({d.pos.x, d.pos.y, d.pos.z}) *
           AcGeMatrix3d::rotation(d.rotation, AcGeVector3d::kZAxis, AcGePoint3d::kOrigin) *
           AcGeMatrix3d::scaling(d.scale) * AcGeMatrix3d::translation({-origin.x, -origin.y, -origin.z});
}

Acad::ErrorStatus AcDbBlockReference::setPosition(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return Acad::eInvalidInput;
    setPoint(this, dataOf(this, bit(fX) | bit(fY) | bit(fZ)).pos, p, fX);
    return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockReference::setRotation(double radians) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(radians)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this, bit(fRotation)).rotation, radians, fRotation)) markChanged();
    return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockReference::setScaleFactors(const AcGeScale3d& s) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    for (int i = 0; i < 3; ++i)
        if (s[i] == 0 || !std::isfinite(s[i])) return Acad::eInvalidInput;
    ObjectData& d = dataOf(this, bit(fWidth) | bit(fScaleY) | bit(fScaleZ));
    bool changed = setIfChanged(this, d.scale.sx, s.sx, fWidth);
    changed |= setIfChanged(this, d.scale.sy, s.sy, fScaleY);
    changed |= setIfChanged(this, d.scale.sz, s.sz, fScaleZ);
    if (changed) markChanged();
    return Acad::eOk;
}

AcDbObjectIterator* AcDbBlockReference::attributeIterator() const {
    const ObjectStub* stub = ObjectAccess::stub(this);
    std::vector<AcDbObjectId> ids;
    ids.reserve(stub->childCount);
    for (std::uint32_t i = 0; i < stub->childCount; ++i) {
        ObjectStub* child = stub->store->stubAt(stub->firstChild + i);
        if (child->kind == Kind::Attrib && !child->erased) ids.emplace_back(child);
    }
    return new AcDbObjectIterator(std::move(ids));
}

Acad::ErrorStatus AcDbBlockReference::openAttribute(AcDbAttribute*& att, AcDbObjectId id, AcDb::OpenMode mode,
                                                    bool openErased) const {
    att = nullptr;
    if (id.isNull()) return Acad::eNullObjectId;
    if (id.stub()->owner != ObjectAccess::stub(this) || id.stub()->kind != Kind::Attrib) return Acad::eInvalidInput;
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, id, mode, openErased);
    if (es == Acad::eOk) att = static_cast<AcDbAttribute*>(obj);
    return es;
}

// ---- AcDbMText and multi-line attributes

char* AcDbMText::contents() const { return hostdb::copyText(contents_); }
Acad::ErrorStatus AcDbMText::setContents(const char* contents) {
    if (!contents) return Acad::eNullObjectPointer;
    contents_ = contents;
    return Acad::eOk;
}
char* AcDbMText::text() const { return hostdb::copyText(mtextPlainText(contents_)); }

AcDbMText* AcDbAttribute::getMTextAttribute() const {
    if (!isMTextAttribute()) return nullptr;
    return new AcDbMText(dataOf(this, bit(fText) | bit(fMText)).text);
}

// The contents replace the embedded object's text; a save writes them in the pieces
// the format gives multi-line text, every other tag of the attribute and of its
// embedded object (frame, style, attachment, direction, spacing) as it was.
Acad::ErrorStatus AcDbAttribute::setMTextAttribute(const AcDbMText* mtext) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!mtext) return Acad::eNullObjectPointer;
    if (!isMTextAttribute()) return Acad::eNotApplicable;
    AcutString contents(mtext->contents());
    return setTextString(contents.get());
}
