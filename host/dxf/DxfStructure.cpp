#include "host/dxf/DxfStructure.h"

#include <string>

namespace dxf {

namespace {

SectionKind kindOfSection(std::string_view name) {
    if (name == "HEADER") return SectionKind::Header;
    if (name == "TABLES") return SectionKind::Tables;
    if (name == "BLOCKS") return SectionKind::Blocks;
    if (name == "ENTITIES") return SectionKind::Entities;
    if (name == "OBJECTS") return SectionKind::Objects;
    return SectionKind::Other;
}

std::string clipped(std::string_view value) { return std::string(value.substr(0, 40)); }

}  // namespace

StructureReader::StructureReader(std::string_view text) : tok_(text) {
    if (isBinaryDxf(text)) throw DxfError(1, "binary DXF is not supported; save the drawing as ASCII DXF");
}

bool StructureReader::take(Tag& tag) {
    if (haveLookahead_) {
        tag = lookahead_;
        haveLookahead_ = false;
        return true;
    }
    return tok_.next(tag);
}

std::string StructureReader::inSectionText() const {
    return "the section that began at line " + std::to_string(section_.line);
}

bool StructureReader::nextSection() {
    for (ObjectRange skipped; inSection_;) nextObject(skipped);
    if (done_) return false;
    Tag t;
    if (!take(t)) {
        done_ = true;
        return false;
    }
    if (t.code != 0) throw DxfError(t.line, "group code " + std::to_string(t.code) + " outside a section");
    if (t.value == "SECTION") {
        Tag name;
        if (!tok_.next(name) || name.code != 2) throw DxfError(tok_.line(), "SECTION without its name (group code 2)");
        section_ = Section{};
        section_.kind = kindOfSection(name.value);
        section_.name = name.value;
        section_.begin = t.begin;
        section_.bodyBegin = name.end;
        section_.line = t.line;
        inSection_ = true;
        sawSection_ = true;
        return true;
    }
    if (t.value == "ENDSEC") throw DxfError(t.line, "ENDSEC without SECTION");
    if (t.value == "EOF") {
        Tag rest;
        if (tok_.next(rest)) throw DxfError(rest.line, "data after EOF");
        done_ = true;
        sawEof_ = true;
        return false;
    }
    throw DxfError(t.line, "group 0 '" + clipped(t.value) + "' outside a section");
}

bool StructureReader::nextObject(ObjectRange& object) {
    if (!inSection_) return false;
    Tag t;
    do {
        if (!take(t)) throw DxfError(tok_.line(), "the file ends inside " + inSectionText());
    } while (t.code != 0);
    if (t.value == "ENDSEC") {
        section_.endsecBegin = t.begin;
        section_.endsecLine = t.line;
        inSection_ = false;
        return false;
    }
    if (t.value == "SECTION") throw DxfError(t.line, "SECTION inside " + inSectionText());
    if (t.value == "EOF") throw DxfError(t.line, "EOF inside " + inSectionText());
    readObject(t, object);
    return true;
}

void StructureReader::readObject(const Tag& head, ObjectRange& o) {
    o = ObjectRange{};
    o.type = head.value;
    o.begin = head.begin;
    o.bodyBegin = head.end;
    o.firstLine = head.line;
    o.lastLine = head.line + 1;
    Tag t;
    if (section_.kind == SectionKind::Tables && head.value == "TABLE") {
        if (!tok_.next(t) || t.code != 2) throw DxfError(tok_.line(), "TABLE without its name (group code 2)");
        o.name = t.value;
        o.lastLine = t.line + 1;
    }
    OwnTags::Filter own;
    while (tok_.next(t)) {
        if (t.code == 0) {
            lookahead_ = t;
            haveLookahead_ = true;
            o.end = t.begin;
            return;
        }
        o.lastLine = t.line + 1;
        if (!own.accepts(t)) continue;
        switch (t.code) {
        case 2:
            if (!o.name) o.name = t.value;
            break;
        case 5:
        case 105:
            if (o.handle == 0 && !o.malformedHandle) {
                if (!parseHandle(t.value, o.handle)) {
                    o.handle = 0;  // parseHandle may have taken a prefix of the text
                    o.malformedHandle = t;
                } else if (o.handle != 0) {
                    o.handleValueBegin = t.valueBegin;
                    o.handleLine = t.line + 1;
                }
            }
            break;
        case 67:
            if (toInteger(t.value) == 1) o.paperSpace = true;
            break;
        default:
            break;
        }
    }
    o.end = tok_.offset();
}

OwnTags::OwnTags(std::string_view text, const ObjectRange& object)
    : tok_(text.substr(0, object.end), object.bodyBegin, ValueCheck::Trust) {}

bool OwnTags::next(Tag& tag) {
    while (tok_.next(tag))
        if (filter_.accepts(tag)) return true;
    return false;
}

}  // namespace dxf
