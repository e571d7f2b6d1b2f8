#include "host/db/EntityCodec.h"

#include "host/db/FieldLinks.h"
#include "host/db/MTextContents.h"

#include "host/dxf/DxfTokenizer.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>

namespace hostdb {

namespace {

struct Slot {
    int code;
    FieldId id;
};

// Group codes each kind owns, in the order a writer puts them; a value that was
// absent is added after the nearest owned tag before it.
const std::vector<Slot>& slotsOf(Kind k) {
    static const std::vector<Slot> insert{{8, fLayer},  {2, fName},    {10, fX},      {20, fY},       {30, fZ},
                                          {41, fWidth}, {42, fScaleY}, {43, fScaleZ}, {50, fRotation}};
    static const std::vector<Slot> text{{8, fLayer},  {10, fX},        {20, fY},     {30, fZ},       {40, fHeight},
                                        {1, fText},   {50, fRotation}, {41, fWidth}, {51, fOblique}, {7, fStyle},
                                        {72, fHMode}, {11, fAX},       {21, fAY},    {31, fAZ},      {73, fVMode}};
    static const std::vector<Slot> attrib{{8, fLayer},  {10, fX},        {20, fY},     {30, fZ},       {40, fHeight},
                                          {1, fText},   {50, fRotation}, {41, fWidth}, {51, fOblique}, {7, fStyle},
                                          {72, fHMode}, {11, fAX},       {21, fAY},    {31, fAZ},      {2, fName},
                                          {70, fFlags}, {73, fFieldLen}, {74, fVMode}};
    static const std::vector<Slot> attdef{{8, fLayer},  {10, fX},        {20, fY},        {30, fZ},       {40, fHeight},
                                          {1, fText},   {50, fRotation}, {41, fWidth},    {51, fOblique}, {7, fStyle},
                                          {72, fHMode}, {11, fAX},       {21, fAY},       {31, fAZ},      {3, fPrompt},
                                          {2, fName},   {70, fFlags},    {73, fFieldLen}, {74, fVMode}};
    static const std::vector<Slot> other{{8, fLayer}};
    switch (k) {
    case Kind::Insert:
        return insert;
    case Kind::Text:
        return text;
    case Kind::Attrib:
        return attrib;
    case Kind::Attdef:
        return attdef;
    default:
        return other;
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
    case Kind::Insert:
        return tables[0];
    case Kind::Text:
        return tables[1];
    case Kind::Attrib:
        return tables[2];
    case Kind::Attdef:
        return tables[3];
    default:
        return tables[4];  // the same slots as slotsOf gives every other kind
    }
}

double* doubleOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fX:
        return &d.pos.x;
    case fY:
        return &d.pos.y;
    case fZ:
        return &d.pos.z;
    case fAX:
        return &d.align.x;
    case fAY:
        return &d.align.y;
    case fAZ:
        return &d.align.z;
    case fHeight:
        return &d.height;
    case fWidth:
        return d.kind == Kind::Insert ? &d.scale.sx : &d.width;
    case fScaleY:
        return &d.scale.sy;
    case fScaleZ:
        return &d.scale.sz;
    case fRotation:
        return &d.rotation;
    case fOblique:
        return &d.oblique;
    default:
        return nullptr;
    }
}

int* intOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fFlags:
        return &d.flags;
    case fHMode:
        return &d.hmode;
    case fVMode:
        return &d.vmode;
    case fFieldLen:
        return &d.fieldLen;
    default:
        return nullptr;
    }
}

std::string* stringOf(ObjectData& d, FieldId f) {
    switch (f) {
    case fLayer:
        return &d.layer;
    case fName:
        return &d.name;
    case fText:
    case fMText:
        return &d.text;
    case fPrompt:
        return &d.prompt;
    case fStyle:
        return &d.style;
    default:
        return nullptr;
    }
}

// Angles are kept in radians; the file holds degrees.
bool isAngle(FieldId f) { return f == fRotation || f == fOblique; }

// "ATTRIB 2F": the object's type as its group 0 gives it, and its handle.
std::string objectName(const DrawingStore& store, const ObjectStub& stub) {
    std::string type = "object";
    std::string_view text = store.text();
    if (stub.begin != npos) {
        if (std::size_t nl = text.find('\n', stub.begin); nl != std::string_view::npos) {
            TagRange r = tagAt(text, static_cast<std::uint32_t>(nl + 1));
            std::string_view value = text.substr(r.vBegin, r.vEnd - r.vBegin);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
            if (!value.empty()) type = std::string(value.substr(0, 40));
        }
    }
    char handle[24];
    std::snprintf(handle, sizeof handle, "%llX", static_cast<unsigned long long>(stub.handle));
    return type + " " + handle;
}

void checkWritable(std::string_view bytes, const std::string& who, int code) {
    if (bytes.find_first_of("\r\n") != std::string::npos)
        throw UnwritableValue(who + ": the value of group code " + std::to_string(code) +
                              " would hold a line break in the file, which would end the value early and make "
                              "the rest of it tags of their own");
}

// The value of the tag whose code line begins at `tagBegin`.
std::string_view valueOfTag(std::string_view text, std::size_t tagBegin) {
    const std::size_t nl = text.find('\n', tagBegin);
    return nl == std::string_view::npos ? std::string_view() : rawValueAt(text, static_cast<std::uint32_t>(nl + 1));
}

std::string_view firstLine(std::string_view s) { return s.substr(0, s.find('\n')); }

// A multi-line attribute's text, written as DXF holds multi-line text: in its
// embedded object, pieces of at most 250 bytes in group 3 before the last in group
// 1, where the old pieces were. The attribute's own group 1 keeps the form the file
// gave it: writers leave it empty (as the CAD program's own files have it), or
// repeat the whole contents there, or the first line of what they show; it is
// written again in that form, and left as it is when it is none of those.
void collectMTextPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& data,
                         std::vector<Patch>& out) {
    const std::string_view text = store.text();
    const std::string who = objectName(store, stub);
    const std::vector<std::string> pieces = mtextPieces(store.codec(), data.text);
    std::string groups3;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        checkWritable(pieces[i], who, 3);
        groups3 += store.tagText(3, pieces[i]);
    }
    checkWritable(pieces.back(), who, 1);
    std::string oldRaw;
    for (auto [b, e] : data.mtextPieces) {
        oldRaw += valueOfTag(text, b);
        out.push_back({b, e, {}});
    }
    if (data.fields[fMText].present()) {
        const TagRange r = tagAt(text, data.fields[fMText].vBegin);
        oldRaw += text.substr(r.vBegin, r.vEnd - r.vBegin);
        if (!groups3.empty()) out.push_back({r.tagBegin, r.tagBegin, std::move(groups3)});
        out.push_back({r.vBegin, r.vEnd, pieces.back()});
    } else if (!data.mtextPieces.empty()) {
        // Pieces without the group 1 that ends them: it is added after the last.
        const std::size_t at = data.mtextPieces.back().second;
        out.push_back({at, at, groups3 + store.tagText(1, pieces.back())});
    }
    if (!data.fields[fText].present()) return;
    const TagRange r = tagAt(text, data.fields[fText].vBegin);
    const std::string_view outer = text.substr(r.vBegin, r.vEnd - r.vBegin);
    if (outer.empty()) return;
    if (outer == oldRaw) {
        out.push_back({r.vBegin, r.vEnd, encodeValue(store, data.text, who, 1)});
        return;
    }
    const std::string oldPlain = mtextPlainText(store.codec().decode(oldRaw));
    if (store.codec().decode(outer) == firstLine(oldPlain)) {
        const std::string newPlain = mtextPlainText(data.text);
        out.push_back({r.vBegin, r.vEnd, encodeValue(store, firstLine(newPlain), who, 1)});
    }
}

}  // namespace

std::string encodeValue(const DrawingStore& store, std::string_view text, const std::string& who, int code) {
    std::string bytes = store.codec().encode(text);
    checkWritable(bytes, who, code);
    return bytes;
}

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

std::string_view rawValueAt(std::string_view text, std::uint32_t vBegin) {
    std::size_t nl = text.find('\n', vBegin);
    if (nl == std::string_view::npos) nl = text.size();
    const std::size_t vEnd = nl > vBegin && text[nl - 1] == '\r' ? nl - 1 : nl;
    return text.substr(vBegin, vEnd - vBegin);
}

void locateFields(const DrawingStore& store, const ObjectStub& stub, ObjectData& data) {
    data.kind = stub.kind;
    data.located = true;
    if (stub.begin == npos) {
        // Nothing to read: the defaults are its values.
        data.decodedMask = ~0u;
        return;
    }
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
        if (t.code == 101) {
            embedded = true;
            continue;
        }
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
        Field& f = data.fields[slot];
        if (!f.present()) f.vBegin = offset(t.valueBegin);  // the first occurrence is the entity's own
    }
    if (data.mtext) {
        // The whole text is its pieces together, whatever its group 1 outside says.
        data.text = store.codec().decode(mtextRaw);
        data.decodedMask |= bit(fText) | bit(fMText);
    }
}

void decodeFields(const DrawingStore& store, ObjectData& data, std::uint32_t mask) {
    mask &= ~data.decodedMask & ((1u << fFieldCount) - 1);
    const std::string_view text = store.text();
    while (mask) {
        const auto id = static_cast<FieldId>(std::countr_zero(mask));
        mask &= mask - 1;
        data.decodedMask |= bit(id);
        const Field& f = data.fields[id];
        if (!f.present()) {
            // What an entity without the tag has; the rest start as ObjectData does.
            if (id == fLayer) data.layer = "0";
            if (id == fStyle && data.kind != Kind::Insert) data.style = "STANDARD";
            continue;
        }
        const std::string_view value = rawValueAt(text, f.vBegin);
        if (double* d = doubleOf(data, id)) {
            *d = dxf::toDouble(value);
            if (isAngle(id)) *d = *d * std::numbers::pi / 180.0;
        } else if (int* i = intOf(data, id)) {
            *i = static_cast<int>(dxf::toInteger(value));
        } else if (std::string* str = stringOf(data, id)) {
            *str = store.codec().decode(value);
        }
    }
}

void decodeEntity(const DrawingStore& store, const ObjectStub& stub, ObjectData& data) {
    locateFields(store, stub, data);
    decodeFields(store, data, ~0u);
}

void collectPatches(const DrawingStore& store, const ObjectStub& stub, const ObjectData& cdata,
                    std::vector<Patch>& out) {
    ObjectData& data = const_cast<ObjectData&>(cdata);
    // Where an absent value goes depends on the places of the others.
    if (!data.located) locateFields(store, stub, data);
    std::string_view text = store.text();
    if (!data.removedFields.empty()) collectFieldRemovals(store, stub, data.removedFields, out);
    if (data.dirty(fMText)) collectMTextPatches(store, stub, data, out);
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
            value = encodeValue(store, *s, objectName(store, stub), slots[i].code);
        }
        if (f.present()) {
            out.push_back({r.vBegin, r.vEnd, std::move(value)});
            continue;
        }
        std::size_t at = npos;
        for (std::size_t j = i; j-- > 0;)
            if (const Field& p = data.fields[slots[j].id]; p.present()) {
                at = tagAt(text, p.vBegin).tagEnd;
                break;
            }
        if (at == npos)
            for (std::size_t j = i + 1; j < slots.size(); ++j)
                if (const Field& n = data.fields[slots[j].id]; n.present()) {
                    at = tagAt(text, n.vBegin).tagBegin;
                    break;
                }
        if (at == npos) {
            std::size_t typeEnd = store.text().find('\n', store.text().find('\n', stub.begin) + 1);
            at = typeEnd == std::string::npos ? store.text().size() : typeEnd + 1;
        }
        out.push_back({at, at, store.tagText(slots[i].code, value)});
    }
}

}  // namespace hostdb
