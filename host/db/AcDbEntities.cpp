#include "host/db/AcDbEntities.h"
#include "host/db/ClassMembers.h"

#include "host/db/AcDbSymbolTables.h"
#include "host/db/ObjectData.h"
#include "host/dxf/DxfTokenizer.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>

using tabdb::Field;
using tabdb::FieldId;
using tabdb::Kind;
using tabdb::ObjectData;
using namespace tabdb;


ACRX_DEFINE_MEMBERS(AcDbEntity, AcDbObject)
ACRX_DEFINE_MEMBERS(AcDbText, AcDbEntity)
ACRX_DEFINE_MEMBERS(AcDbAttributeDefinition, AcDbText)
ACRX_DEFINE_MEMBERS(AcDbAttribute, AcDbText)
ACRX_DEFINE_MEMBERS(AcDbBlockReference, AcDbEntity)

namespace tabdb {

namespace {

struct Slot {
    int code;
    FieldId id;
};

// Group codes each kind owns, in the order a writer puts them; a value that was
// absent is added after the nearest owned tag before it.
const std::vector<Slot>& slotsOf(Kind k) {
    static const std::vector<Slot> insert{{8, fLayer}, {2, fName}, {10, fX}, {20, fY}, {30, fZ},
                                          {41, fWidth}, {42, fScaleY}, {43, fScaleZ}, {50, fRotation}};
    static const std::vector<Slot> text{{8, fLayer}, {10, fX}, {20, fY}, {30, fZ}, {40, fHeight}, {1, fText},
                                        {50, fRotation}, {41, fWidth}, {51, fOblique}, {7, fStyle}, {72, fHMode},
                                        {11, fAX}, {21, fAY}, {31, fAZ}, {73, fVMode}};
    static const std::vector<Slot> attrib{{8, fLayer}, {10, fX}, {20, fY}, {30, fZ}, {40, fHeight}, {1, fText},
                                          {50, fRotation}, {41, fWidth}, {51, fOblique}, {7, fStyle}, {72, fHMode},
                                          {11, fAX}, {21, fAY}, {31, fAZ}, {2, fName}, {70, fFlags},
                                          {73, fFieldLen}, {74, fVMode}};
    static const std::vector<Slot> attdef{{8, fLayer}, {10, fX}, {20, fY}, {30, fZ}, {40, fHeight}, {1, fText},
                                          {50, fRotation}, {41, fWidth}, {51, fOblique}, {7, fStyle}, {72, fHMode},
                                          {11, fAX}, {21, fAY}, {31, fAZ}, {3, fPrompt}, {2, fName}, {70, fFlags},
                                          {73, fFieldLen}, {74, fVMode}};
    static const std::vector<Slot> other{{8, fLayer}};
    switch (k) {
    case Kind::Insert: return insert;
    case Kind::Text: return text;
    case Kind::Attrib: return attrib;
    case Kind::Attdef: return attdef;
    default: return other;
    }
}

// The slot lists turned round, built once: the field each group code fills for a
// kind (the first slot naming the code, as a walk over the list would find it), or -1.
// Decoding looks each tag up here instead of walking the kind's slots.
struct CodeTable {
    std::array<std::int8_t, dxf::kMaxGroupCode + 1> field;
};

const CodeTable& codeTableOf(Kind k) {
    static const Kind kinds[] = {Kind::Insert, Kind::Text, Kind::Attrib, Kind::Attdef, Kind::Entity};
    static const auto tables = [] {
        std::array<CodeTable, std::size(kinds)> t;
        for (std::size_t i = 0; i < t.size(); ++i) {
            t[i].field.fill(-1);
            for (const Slot& s : slotsOf(kinds[i]))
                if (t[i].field[s.code] < 0) t[i].field[s.code] = static_cast<std::int8_t>(s.id);
        }
        return t;
    }();
    switch (k) {
    case Kind::Insert: return tables[0];
    case Kind::Text: return tables[1];
    case Kind::Attrib: return tables[2];
    case Kind::Attdef: return tables[3];
    default: return tables[4];  // the same slots as slotsOf gives every other kind
    }
}

double* doubleOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fX: return &d.pos.x;
    case fY: return &d.pos.y;
    case fZ: return &d.pos.z;
    case fAX: return &d.align.x;
    case fAY: return &d.align.y;
    case fAZ: return &d.align.z;
    case fHeight: return &d.height;
    case fWidth: return d.kind == Kind::Insert ? &d.scale.sx : &d.width;
    case fScaleY: return &d.scale.sy;
    case fScaleZ: return &d.scale.sz;
    case fRotation: return &d.rotation;
    case fOblique: return &d.oblique;
    default: return nullptr;
    }
}

int* intOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fFlags: return &d.flags;
    case fHMode: return &d.hmode;
    case fVMode: return &d.vmode;
    case fFieldLen: return &d.fieldLen;
    default: return nullptr;
    }
}

std::string* stringOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fLayer: return &d.layer;
    case fName: return &d.name;
    case fText: case fMText: return &d.text;
    case fPrompt: return &d.prompt;
    case fStyle: return &d.style;
    default: return nullptr;
    }
}

// Angles are kept in radians; the file holds degrees.
bool isAngle(FieldId f) { return f == fRotation || f == fOblique; }

}  // namespace

TagRange tagAt(std::string_view text, std::uint32_t vBegin) {
    TagRange r{};
    r.vBegin = vBegin;
    // The code line ends with the '\n' just before the value and starts after the
    // line ending before it.
    std::size_t before = vBegin >= 2 ? text.rfind('\n', vBegin - 2) : std::string_view::npos;
    r.tagBegin = before == std::string_view::npos ? 0 : before + 1;
    // The value runs to its line's end, less a '\r' of a "\r\n" ending, as the
    // tokenizer read it.
    std::size_t nl = text.find('\n', vBegin);
    std::size_t lineEnd = nl == std::string_view::npos ? text.size() : nl;
    r.tagEnd = nl == std::string_view::npos ? text.size() : nl + 1;
    r.vEnd = lineEnd > vBegin && text[lineEnd - 1] == '\r' ? lineEnd - 1 : lineEnd;
    return r;
}

void decodeEntity(const DrawingStore& store, const ObjectStub& stub, ObjectData& data) {
    data.kind = stub.kind;
    if (stub.begin == npos) return;
    const CodeTable& table = codeTableOf(stub.kind);
    std::string_view all = std::string_view(store.text()).substr(0, stub.end);
    // The store checked every tag of the text when it read the drawing.
    dxf::Tokenizer tok(all, stub.begin, dxf::ValueCheck::Trust);
    dxf::Tag t;
    if (!tok.next(t)) return;  // the type line
    bool embedded = false;
    std::string mtextRaw;
    // The store refuses texts whose offsets do not fit in 32 bits.
    auto offset = [](std::size_t o) { return static_cast<std::uint32_t>(o); };
    while (tok.next(t)) {
        if (t.code >= 1000) break;
        if (t.code == 101) { embedded = true; continue; }
        if (embedded) {
            if (stub.kind != Kind::Attrib) continue;
            if (t.code == 3) {
                data.mtext = true;
                data.mtextPieces.emplace_back(offset(t.begin), offset(t.end));
                mtextRaw += t.value;
            } else if (t.code == 1 && !data.fields[fMText].present()) {
                data.mtext = true;
                data.fields[fMText].vBegin = offset(t.valueBegin);
                mtextRaw += t.value;
            }
            continue;
        }
        if (stub.kind == Kind::Insert && t.code >= 210 && t.code <= 230) {
            double v = dxf::toDouble(t.value);
            if (t.code == 210) data.normal.x = v;
            if (t.code == 220) data.normal.y = v;
            if (t.code == 230) data.normal.z = v;
            continue;
        }
        if (t.code < 0) continue;  // no slot has a negative code
        int slot = table.field[static_cast<std::size_t>(t.code)];
        if (slot < 0) continue;
        auto id = static_cast<FieldId>(slot);
        Field& f = data.fields[id];
        if (f.present()) continue;  // the first occurrence is the entity's own
        f.vBegin = offset(t.valueBegin);
        if (double* d = doubleOf(data, id)) {
            *d = dxf::toDouble(t.value);
            if (isAngle(id)) *d = *d * std::numbers::pi / 180.0;
        } else if (int* i = intOf(data, id)) {
            *i = static_cast<int>(dxf::toInteger(t.value));
        } else if (std::string* str = stringOf(data, id)) {
            *str = id == fLayer || id == fStyle ? std::string(t.value) : store.codec().decode(t.value);
        }
    }
    if (data.mtext) data.text = store.codec().decode(mtextRaw);
    if (!data.fields[fLayer].present()) data.layer = "0";
    if (data.fields[fLayer].present()) data.layer = store.codec().decode(data.layer);
    if (data.fields[fStyle].present()) data.style = store.codec().decode(data.style);
    else if (stub.kind != Kind::Insert) data.style = "STANDARD";
}

void collectPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& cdata,
                    std::vector<Patch>& out) {
    ObjectData& data = const_cast<ObjectData&>(cdata);
    std::string_view text = store.text();
    if (data.dirty(fMText) && data.fields[fMText].present()) {
        TagRange r = tagAt(text, data.fields[fMText].vBegin);
        for (auto [b, e] : data.mtextPieces) out.push_back({b, e, {}});
        out.push_back({r.vBegin, r.vEnd, store.codec().encode(data.text)});
    }
    const auto& slots = slotsOf(stub.kind);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        FieldId id = slots[i].id;
        if (!data.dirty(id)) continue;
        const Field& f = data.fields[id];
        TagRange r{};
        if (f.present()) r = tagAt(text, f.vBegin);
        std::string value;
        if (double* d = doubleOf(data, id)) {
            value = dxf::formatDouble(isAngle(id) ? *d * 180.0 / std::numbers::pi : *d);
        } else if (int* n = intOf(data, id)) {
            value = std::to_string(*n);
            // Integers are often right-aligned in six columns; keep the file's layout.
            std::string_view old = f.present() ? text.substr(r.vBegin, r.vEnd - r.vBegin) : std::string_view();
            if (!old.empty() && old.front() == ' ' && value.size() < old.size())
                value.insert(0, old.size() - value.size(), ' ');
        } else if (std::string* s = stringOf(data, id)) {
            value = store.codec().encode(*s);
        }
        if (f.present()) {
            out.push_back({r.vBegin, r.vEnd, std::move(value)});
            continue;
        }
        std::size_t at = npos;
        for (std::size_t j = i; j-- > 0;)
            if (const Field& p = data.fields[slots[j].id]; p.present()) { at = tagAt(text, p.vBegin).tagEnd; break; }
        if (at == npos)
            for (std::size_t j = i + 1; j < slots.size(); ++j)
                if (const Field& n = data.fields[slots[j].id]; n.present()) { at = tagAt(text, n.vBegin).tagBegin; break; }
        if (at == npos) {
            std::size_t typeEnd = store.text().find('\n', store.text().find('\n', stub.begin) + 1);
            at = typeEnd == std::string::npos ? store.text().size() : typeEnd + 1;
        }
        out.push_back({at, at, store.tagText(slots[i].code, value)});
    }
}

}  // namespace tabdb

namespace {

ObjectData& dataOf(const AcDbObject* o) { return *tabdb_access::data(o); }

template <class T>
bool setIfChanged(AcDbObject* o, T& member, const T& value, FieldId field) {
    if (member == value) return false;
    member = value;
    dataOf(o).markDirty(field);
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
    switch (tabdb_access::stub(this)->kind) {
    case Kind::Insert: return "INSERT";
    case Kind::Attrib: return "ATTRIB";
    case Kind::Attdef: return "ATTDEF";
    case Kind::Text: return "TEXT";
    case Kind::SeqEnd: return "SEQEND";
    default: return "";
    }
}

char* AcDbEntity::layer() const { return tabdbCopyText(dataOf(this).layer); }

Acad::ErrorStatus AcDbEntity::setLayer(const char* newVal, bool doSubents) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!newVal) return Acad::eInvalidInput;
    ObjectStub* stub = tabdb_access::stub(this);
    ObjectStub* layer = stub->store->findLayer(newVal);
    if (!layer) return Acad::eKeyNotFound;
    const std::string& name = stub->store->layerName(layer);
    if (setIfChanged<std::string>(this, dataOf(this).layer, name, fLayer)) markChanged();
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

char* AcDbText::textString() const { return tabdbCopyText(dataOf(this).text); }

Acad::ErrorStatus AcDbText::setTextString(const char* text) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    // A line break inside a value would split the tag in the file and corrupt it.
    if (!text || hasLineBreak(text)) return Acad::eInvalidInput;
    ObjectData& d = dataOf(this);
    if (setIfChanged<std::string>(this, d.text, text, d.mtext ? fMText : fText)) markChanged();
    return Acad::eOk;
}

AcGePoint3d AcDbText::position() const { return dataOf(this).pos; }
AcGePoint3d AcDbText::alignmentPoint() const { return dataOf(this).align; }
double AcDbText::height() const { return dataOf(this).height; }
double AcDbText::widthFactor() const { return dataOf(this).width; }
double AcDbText::rotation() const { return dataOf(this).rotation; }
double AcDbText::oblique() const { return dataOf(this).oblique; }
int AcDbText::horizontalMode() const { return dataOf(this).hmode; }
int AcDbText::verticalMode() const { return dataOf(this).vmode; }
char* AcDbText::textStyleName() const { return tabdbCopyText(dataOf(this).style); }

static Acad::ErrorStatus setPoint(AcDbObject* o, AcGePoint3d& p, const AcGePoint3d& v, FieldId fx) {
    bool changed = setIfChanged(o, p.x, v.x, fx);
    changed |= setIfChanged(o, p.y, v.y, static_cast<FieldId>(fx + 1));
    changed |= setIfChanged(o, p.z, v.z, static_cast<FieldId>(fx + 2));
    if (changed) tabdb_access::stub(o)->store->noteChanged(tabdb_access::stub(o));
    return Acad::eOk;
}

Acad::ErrorStatus AcDbText::setPosition(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    return setPoint(this, dataOf(this).pos, p, fX);
}
Acad::ErrorStatus AcDbText::setAlignmentPoint(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    return setPoint(this, dataOf(this).align, p, fAX);
}
Acad::ErrorStatus AcDbText::setHeight(double h) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!(h > 0)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this).height, h, fHeight)) markChanged();
    return Acad::eOk;
}
Acad::ErrorStatus AcDbText::setRotation(double r) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(r)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this).rotation, r, fRotation)) markChanged();
    return Acad::eOk;
}

// ---- AcDbAttributeDefinition

char* AcDbAttributeDefinition::tag() const { return tabdbCopyText(dataOf(this).name); }
char* AcDbAttributeDefinition::prompt() const { return tabdbCopyText(dataOf(this).prompt); }
bool AcDbAttributeDefinition::isConstant() const { return dataOf(this).flags & 2; }
bool AcDbAttributeDefinition::isInvisible() const { return dataOf(this).flags & 1; }
bool AcDbAttributeDefinition::isVerifiable() const { return dataOf(this).flags & 4; }
bool AcDbAttributeDefinition::isPreset() const { return dataOf(this).flags & 8; }
int AcDbAttributeDefinition::fieldLength() const { return dataOf(this).fieldLen; }

// ---- AcDbAttribute

char* AcDbAttribute::tag() const { return tabdbCopyText(dataOf(this).name); }
bool AcDbAttribute::isConstant() const { return dataOf(this).flags & 2; }
bool AcDbAttribute::isInvisible() const { return dataOf(this).flags & 1; }
bool AcDbAttribute::isMTextAttribute() const { return dataOf(this).mtext; }
int AcDbAttribute::fieldLength() const { return dataOf(this).fieldLen; }

Acad::ErrorStatus AcDbAttribute::setFieldLength(int length) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (length < 0) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this).fieldLen, length, fFieldLen)) markChanged();
    return Acad::eOk;
}

Acad::ErrorStatus AcDbAttribute::setAttributeFromBlock(const AcDbAttributeDefinition* def, const AcGeMatrix3d& xf) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!def) return Acad::eNullObjectPointer;
    if (!def->isReadEnabled()) return Acad::eNotOpenForRead;
    const ObjectData& d = dataOf(def);
    ObjectData& a = dataOf(this);
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
    changed |= setPoint(this, a.pos, xf.transformPoint(d.pos), fX) != Acad::eOk;
    changed |= setPoint(this, a.align, xf.transformPoint(d.align), fAX) != Acad::eOk;
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
    return AcDbObjectId(tabdb_access::stub(this)->store->findBlock(dataOf(this).name));
}
AcGePoint3d AcDbBlockReference::position() const { return dataOf(this).pos; }
double AcDbBlockReference::rotation() const { return dataOf(this).rotation; }
AcGeScale3d AcDbBlockReference::scaleFactors() const { return dataOf(this).scale; }
AcGeVector3d AcDbBlockReference::normal() const { return dataOf(this).normal; }

AcGeMatrix3d AcDbBlockReference::blockTransform() const {
    const ObjectData& d = dataOf(this);
    AcGePoint3d origin;
    if (ObjectStub* rec = tabdb_access::stub(this)->store->findBlock(d.name))
        origin = rec->store->blockOf(rec).origin;
    return AcGeMatrix3d::translation({d.pos.x, d.pos.y, d.pos.z}) *
           AcGeMatrix3d::rotation(d.rotation, AcGeVector3d::kZAxis, AcGePoint3d::kOrigin) *
           AcGeMatrix3d::scaling(d.scale) * AcGeMatrix3d::translation({-origin.x, -origin.y, -origin.z});
}

Acad::ErrorStatus AcDbBlockReference::setPosition(const AcGePoint3d& p) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return Acad::eInvalidInput;
    return setPoint(this, dataOf(this).pos, p, fX);
}

Acad::ErrorStatus AcDbBlockReference::setRotation(double radians) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    if (!std::isfinite(radians)) return Acad::eInvalidInput;
    if (setIfChanged(this, dataOf(this).rotation, radians, fRotation)) markChanged();
    return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockReference::setScaleFactors(const AcGeScale3d& s) {
    if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
    for (int i = 0; i < 3; ++i)
        if (s[i] == 0 || !std::isfinite(s[i])) return Acad::eInvalidInput;
    ObjectData& d = dataOf(this);
    bool changed = setIfChanged(this, d.scale.sx, s.sx, fWidth);
    changed |= setIfChanged(this, d.scale.sy, s.sy, fScaleY);
    changed |= setIfChanged(this, d.scale.sz, s.sz, fScaleZ);
    if (changed) markChanged();
    return Acad::eOk;
}

AcDbObjectIterator* AcDbBlockReference::attributeIterator() const {
    const ObjectStub* stub = tabdb_access::stub(this);
    std::vector<AcDbObjectId> ids;
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
    if (id.stub()->owner != tabdb_access::stub(this) || id.stub()->kind != Kind::Attrib) return Acad::eInvalidInput;
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, id, mode, openErased);
    if (es == Acad::eOk) att = static_cast<AcDbAttribute*>(obj);
    return es;
}

// ---- the factory

namespace {

// A live object with its decoded values in one allocation: changed objects live as
// long as their drawing, and an import may change hundreds of thousands of them.
template <class T>
class Live final : public T {
public:
    ObjectData values;
};

template <class T>
AcDbObject* makeLive(tabdb::ObjectData*& data) {
    auto* obj = new Live<T>();
    data = &obj->values;
    return obj;
}

}  // namespace

AcDbObject* tabdb_access::create(ObjectStub* stub) {
    AcDbObject* obj = nullptr;
    ObjectData* data = nullptr;
    switch (stub->kind) {
    case Kind::BlockTable: obj = makeLive<AcDbBlockTable>(data); break;
    case Kind::LayerTable: obj = makeLive<AcDbLayerTable>(data); break;
    case Kind::BlockRecord: obj = makeLive<AcDbBlockTableRecord>(data); break;
    case Kind::LayerRecord: obj = makeLive<AcDbLayerTableRecord>(data); break;
    case Kind::BlockBegin:
    case Kind::BlockEnd: obj = makeLive<AcDbObject>(data); break;
    case Kind::Insert: obj = makeLive<AcDbBlockReference>(data); break;
    case Kind::Attrib: obj = makeLive<AcDbAttribute>(data); break;
    case Kind::Attdef: obj = makeLive<AcDbAttributeDefinition>(data); break;
    case Kind::Text: obj = makeLive<AcDbText>(data); break;
    case Kind::SeqEnd:
    case Kind::Entity: obj = makeLive<AcDbEntity>(data); break;
    }
    std::unique_ptr<AcDbObject> held(obj);  // not leaked when decoding throws
    obj->stub_ = stub;
    obj->data_ = data;
    if (isEntityKind(stub->kind)) decodeEntity(*stub->store, *stub, *data);
    return held.release();
}
