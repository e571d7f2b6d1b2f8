#include "host/dxf/DxfStructure.h"

#include <array>
#include <cstdint>
#include <limits>
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

std::string clipped(std::string_view value) { return quoteInput(value); }

// Writers pad some values with blanks; a structure word is the same without them.
std::string_view word(std::string_view value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    return value;
}

constexpr int kComment = 999;

std::size_t startOf(std::string_view text) { return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0; }

}  // namespace

StructureReader::StructureReader(std::string_view text, ValueCheck check)
    : text_(text), tok_(text, startOf(text), check), firstTagAt_(startOf(text)) {
    if (isBinaryDxf(text)) throw DxfError(1, "binary DXF must be read into tags before its structure is read");
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
        throw DxfError(1,
                       "the file is UTF-16 text (it begins with a UTF-16 byte-order mark); a DXF file is "
                       "ASCII or UTF-8 text: save it as UTF-8");
}

StructureReader::StructureReader(std::string_view text, const TagIndex& index)
    : text_(text), tok_(text, index), firstTagAt_(0) {}

// The next tag that is no comment: comments (999) may stand anywhere, the first line
// of a file included, and are no part of the structure.
bool StructureReader::nextSkippingComments(Tag& tag) {
    while (tok_.next(tag))
        if (tag.code != kComment) return true;
    return false;
}

bool StructureReader::take(Tag& tag) {
    if (haveLookahead_) {
        tag = lookahead_;
        haveLookahead_ = false;
        return true;
    }
    return nextSkippingComments(tag);
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
    const std::string_view type = word(t.value);
    if (type == "SECTION") {
        Tag name;
        if (!nextSkippingComments(name) || name.code != 2)
            throw DxfError(tok_.line(), "SECTION without its name (group code 2)");
        section_ = Section{};
        section_.kind = kindOfSection(word(name.value));
        section_.name = word(name.value);
        section_.begin = t.begin;
        section_.bodyBegin = name.end;
        section_.line = t.line;
        inSection_ = true;
        sawSection_ = true;
        return true;
    }
    if (type == "ENDSEC") throw DxfError(t.line, "ENDSEC without SECTION");
    if (type == "EOF") {
        // Some writers and transfers leave bytes after the end; they are no drawing.
        const std::size_t after = tok_.offset();
        const std::size_t rest = text_.find_first_not_of(std::string_view(" \t\r\n\x1a\0", 6), after);
        if (rest != std::string_view::npos) {
            trailingAt_ = after;
            trailingLine_ = tok_.line() + 1;
        }
        done_ = true;
        sawEof_ = true;
        return false;
    }
    throw DxfError(t.line, "group 0 " + clipped(t.value) + " outside a section");
}

bool StructureReader::nextObject(ObjectRange& object) {
    if (!inSection_) return false;
    Tag t;
    do {
        if (!take(t)) throw DxfError(tok_.line(), "the file ends inside " + inSectionText());
    } while (t.code != 0);
    const std::string_view type = word(t.value);
    if (type == "ENDSEC") {
        section_.endsecBegin = t.begin;
        section_.endsecLine = t.line;
        inSection_ = false;
        return false;
    }
    if (type == "SECTION") throw DxfError(t.line, "SECTION inside " + inSectionText());
    if (type == "EOF") throw DxfError(t.line, "EOF inside " + inSectionText());
    readObject(t, object);
    return true;
}

namespace {

// notedCodeOf for the codes up to 50, looked up once per tag of every attribute.
constexpr auto kNotedCodes = [] {
    std::array<std::int8_t, 51> t{};
    for (int c = 0; c <= 50; ++c) t[c] = static_cast<std::int8_t>(notedCodeOf(c));
    return t;
}();

}  // namespace

void StructureReader::readObject(const Tag& head, ObjectRange& o) {
    // Field by field: cleared as a whole, the range is cleared with a string store
    // whose start costs as much as reading a short object's tags.
    o.name.reset();
    o.handle = 0;
    o.handleValueBegin = 0;
    o.handleLine = 0;
    o.malformedHandle.reset();
    o.paperSpace = false;
    o.valueAt.fill(0);
    o.embeddedData = false;
    o.extrusion = false;
    o.end = 0;
    o.type = word(head.value);
    o.begin = head.begin;
    o.bodyBegin = head.end;
    o.headEnd = head.end;
    o.firstLine = head.line;
    o.lastLine = head.line + 1;
    Tag t;
    if (section_.kind == SectionKind::Tables && o.type == "TABLE") {
        if (!nextSkippingComments(t) || t.code != 2)
            throw DxfError(tok_.line(), "TABLE without its name (group code 2)");
        o.name = word(t.value);
        o.lastLine = t.line + 1;
        o.headEnd = t.end;
    }
    OwnTags::Filter own;
    // Attributes and references are opened by the hundred thousand; where their
    // values sit is noted on the way, as their decoder would find them.
    // An attribute's text and tag only: there are several to a reference, and their
    // other values are rarely read.
    const bool reference = o.type == "INSERT";
    bool noting = reference || o.type == "ATTRIB";
    const std::uint32_t notedCodes = reference ? ~0u : 1u << nText | 1u << nName;
    while (tok_.next(t)) {
        if (t.code == 0) {
            lookahead_ = t;
            haveLookahead_ = true;
            o.end = t.begin;
            return;
        }
        o.lastLine = t.line + 1;
        if (noting) {
            if (t.code >= 1000) {
                noting = false;
            } else if (t.code == 101) {
                o.embeddedData = true;
                noting = false;
            } else if (t.code <= 50) {
                const int n = kNotedCodes[t.code < 0 ? 0 : t.code];
                if (n >= 0 && (notedCodes >> n & 1u) && o.valueAt[n] == 0 &&
                    t.valueBegin - o.begin <= std::numeric_limits<std::uint32_t>::max())
                    o.valueAt[n] = static_cast<std::uint32_t>(t.valueBegin - o.begin);
            } else if (t.code == 210 || t.code == 220 || t.code == 230) {
                o.extrusion = true;
            }
        }
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
