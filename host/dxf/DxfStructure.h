// The DXF layer above the tags: the sections of a file and, inside them, where each
// object (entity, table, table entry, BLOCK, ENDBLK, object) begins and ends, with the
// facts every object carries (name, handle, space). It refuses text that breaks the
// file's structure and names the line; what an object means is left to its reader.
#pragma once

#include "host/dxf/DxfTokenizer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dxf {

enum class SectionKind : std::uint8_t { Header, Tables, Blocks, Entities, Objects, Other };

struct Section {
    SectionKind kind = SectionKind::Other;
    std::string_view name;      // its group 2 ("ENTITIES")
    std::size_t begin = 0;      // offset of its SECTION tag
    std::size_t bodyBegin = 0;  // just past its name tag
    std::size_t line = 0;       // line of its SECTION code
    // Known once the section's last object was given:
    std::size_t endsecBegin = 0;  // offset of its ENDSEC tag
    std::size_t endsecLine = 0;   // line of its ENDSEC code
};

// The group codes whose first value StructureReader notes in ATTRIBs and INSERTs:
// an attribute's text and tag, a reference's layer, block, position, scale and
// rotation.
enum NotedCode : std::uint8_t {
    nText,
    nName,
    nLayer,
    nX,
    nY,
    nZ,
    nScaleX,
    nScaleY,
    nScaleZ,
    nRotation,
    kNotedCodeCount
};
// The NotedCode of a group code, or -1.
constexpr int notedCodeOf(int code) {
    switch (code) {
    case 1:
        return nText;
    case 2:
        return nName;
    case 8:
        return nLayer;
    case 10:
        return nX;
    case 20:
        return nY;
    case 30:
        return nZ;
    case 41:
        return nScaleX;
    case 42:
        return nScaleY;
    case 43:
        return nScaleZ;
    case 50:
        return nRotation;
    default:
        return -1;
    }
}

// One object: its group 0 and every tag up to the next group 0. (StructureReader
// sets or clears each field for each object: a field added here is cleared there.)
struct ObjectRange {
    std::string_view type;      // the value of its group 0 without blanks ("INSERT", "LAYER", "TABLE")
    std::size_t begin = 0;      // offset of its group 0 code line
    std::size_t bodyBegin = 0;  // just past its type tag
    std::size_t headEnd = 0;    // where a tag added to it may go: past its type (a TABLE's: past its name)
    std::size_t end = 0;        // just past its last tag, where the next group 0 begins
    std::size_t firstLine = 0;  // line of its group 0 code
    std::size_t lastLine = 0;   // line of its last tag's value
    // Read from its own tags (see OwnTags). A TABLE's name is the group 2 that must
    // follow its type; for any other object it is the first group 2: an entry's or a
    // block's name, the block an INSERT refers to.
    std::optional<std::string_view> name;
    // Its first group 5 (105 in DIMSTYLE entries) that is not the null handle 0, with
    // the offset and line of that tag's value.
    std::uint64_t handle = 0;
    std::size_t handleValueBegin = 0;
    std::size_t handleLine = 0;
    // A group 5 or 105 before that one which is no hexadecimal handle. Only the
    // reader of the object knows whether it needs the handle, so it decides to refuse.
    std::optional<Tag> malformedHandle;
    bool paperSpace = false;  // a group 67 of 1: an entity of a paper space layout
    // ATTRIB and INSERT only: where the values of their first tag of each code of
    // NotedCode begin among their own tags (before embedded object data, 101, and
    // extended data, 1000 and up), counted from `begin`, 0 for a code they lack (no
    // value begins an object); whether embedded data comes before extended data; and
    // whether they have an extrusion direction (210, 220, 230) there. Attributes and
    // references are opened by the hundred thousand: noted on the way, their values
    // need no second pass over their tags. Values beyond 4 GB into an object are not
    // noted.
    std::array<std::uint32_t, kNotedCodeCount> valueAt{};
    bool embeddedData = false;
    bool extrusion = false;
};

// Reads a file's sections and objects in order, one object at a time, so that the
// structure of a drawing of millions of objects costs no memory of its own. Values
// are checked against their group codes as the tags are read.
//
//     StructureReader reader(text);
//     while (reader.nextSection())
//         for (ObjectRange object; reader.nextObject(object);) ...
//
// Every call throws DxfError for malformed text.
class StructureReader {
public:
    // Refuses binary DXF (which is read into text first) and UTF-16 text. A UTF-8
    // byte-order mark at the start is passed over. Values are checked unless the text
    // was made by a reader that checked them (binary DXF converted to text).
    explicit StructureReader(std::string_view text, ValueCheck check = ValueCheck::Check);
    // A text whose tags `index` lists, values trusted.
    StructureReader(std::string_view text, const TagIndex& index);

    // Moves to the next section (skipping what is left of the current one). False
    // after EOF, or at the end of a text that stops between sections.
    bool nextSection();
    const Section& section() const { return section_; }
    // The next object of the current section; false at its ENDSEC, whose place then
    // completes section(). The section's own tags before its first object (a
    // HEADER's variables) are skipped; read them again from bodyBegin.
    bool nextObject(ObjectRange& object);

    // The last line read. While an object just given is being handled, that is the
    // type line of the object after it: the reader has just learnt where it ends.
    std::size_t line() const { return tok_.line(); }
    // Whether the text ended with its 0/EOF; a text without one may have been cut off
    // between sections. And whether it had a section at all.
    bool sawEof() const { return sawEof_; }
    bool sawSection() const { return sawSection_; }
    // Text after the 0/EOF other than blank lines, end-of-file bytes and zero bytes,
    // which is no part of the drawing and not read: where it begins and its line.
    // npos when there is none.
    std::size_t trailingAt() const { return trailingAt_; }
    std::size_t trailingLine() const { return trailingLine_; }
    // Where the first tag of the text begins (past a byte-order mark).
    std::size_t firstTagAt() const { return firstTagAt_; }

private:
    bool take(Tag& tag);
    bool nextSkippingComments(Tag& tag);
    void readObject(const Tag& head, ObjectRange& object);
    std::string inSectionText() const;

    std::string_view text_;
    Tokenizer tok_;
    Section section_;
    Tag lookahead_;  // the group 0 that ended the last object
    bool haveLookahead_ = false;
    bool inSection_ = false;
    bool done_ = false;
    bool sawEof_ = false;
    bool sawSection_ = false;
    std::size_t trailingAt_ = static_cast<std::size_t>(-1);
    std::size_t trailingLine_ = 0;
    std::size_t firstTagAt_ = 0;
};

// Walks the tags that are an object's own: those after its type, up to embedded
// object data (group 101, in which an attribute carries its multi-line text) and
// without extended data (1000 and up) that applications attach. The object's text
// must have been read by a StructureReader, so values are not checked again.
class OwnTags {
public:
    OwnTags(std::string_view text, const ObjectRange& object);
    bool next(Tag& tag);

    // Whether `tag`, the next of an object's tags after its type, is one of its own;
    // the filter remembers the start of embedded data.
    class Filter {
    public:
        bool accepts(const Tag& tag) {
            if (tag.code == 101) embedded_ = true;
            return !embedded_ && tag.code < 1000;
        }

    private:
        bool embedded_ = false;
    };

private:
    Tokenizer tok_;
    Filter filter_;
};

}  // namespace dxf
