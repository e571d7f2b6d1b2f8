// Binary DXF: the same tags as ASCII DXF, each a group code of one or two bytes and a
// value typed by its group code (zero-terminated text, little-endian numbers, counted
// bytes). The database works on tag text, so a binary file is read into the text an
// ASCII file of the same tags would have and written back from it; every value has
// exactly one text (reals in their shortest round-trip form), so a drawing read and
// written this way comes back byte for byte.
#pragma once

#include "host/dxf/DxfTokenizer.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dxf {

// The 22 bytes every binary DXF file begins with.
inline constexpr std::string_view kBinarySentinel{"AutoCAD Binary DXF\r\n\x1a\0", 22};

enum class DxfFormat : std::uint8_t { Ascii, Binary };

// How a group code's value is stored in binary DXF.
enum class BinaryValue : std::uint8_t { Text, Real, Int16, Int32, Int64, Byte, Bytes };
BinaryValue binaryValueOf(int code);

// A binary file as read: what its tags became and what is needed to write them as
// they were.
struct BinarySource {
    std::string bytes;  // the file as read
    int codeBytes = 2;  // 1 before R13 (255 escapes a two-byte code), 2 after
    // Where each group 0 of the file went: its offset in the text, then in `bytes`.
    // Unchanged stretches of objects are copied from `bytes` on save.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> objects;
    std::size_t trailingAt = 0;  // bytes after the 0/EOF tag start here (kept as they are)
    // Every tag of the text, while the drawing is being read.
    TagIndex tags;

    // The offset in `bytes` of the tag on `line` (1-based) of `text`, for messages.
    std::size_t byteOfLine(std::string_view text, std::size_t line) const;
    // `message` with every "line N" of `text` said as "byte B" of the file.
    std::string placesInBytes(std::string_view text, std::string message) const;
};

// The tag text of binary DXF `bytes` (which begin with the sentinel): LF line ends,
// codes unpadded, binary data as upper-case hex. Fills `source` except `bytes`.
// Throws DxfError naming the byte offset for a malformed or hostile file: values past
// the end of the file, a text longer than kMaxLineBytes, a
// real that is not a finite number, a group code out of range. A line break in a
// text becomes \U+000A (\U+000D), as ASCII DXF spells it, and a byte again on
// writing; a backslash that would begin such an escape becomes \U+005C.
std::string binaryToText(std::string_view bytes, BinarySource& source);

// The group code width a binary file of a drawing of version `acadVer` has.
int binaryCodeBytesFor(std::string_view acadVer);

// A value binary DXF cannot hold.
class BinaryWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes tag text as binary DXF to a sink, from pieces in any size. Pieces that lie
// inside the text made from `source` are copied from its bytes object by object; the
// rest is converted tag by tag. Throws DxfError (with no line) for a value binary DXF
// cannot hold: a number out of its group code's range, text that is not one.
class BinaryWriter {
public:
    using Sink = std::function<void(std::string_view)>;
    BinaryWriter(Sink sink, int codeBytes, const BinarySource* source = nullptr, std::string_view sourceText = {});
    void put(std::string_view text);
    // Ends the output: the last line, then the bytes the source had after its 0/EOF.
    void finish();

private:
    void convert(std::string_view text);
    void line(std::string_view l);
    void tag(int code, std::string_view value);
    void emit(std::string_view bytes);
    void flush();

    Sink sink_;
    int codeBytes_;
    const BinarySource* source_;
    std::string_view sourceText_;
    std::string out_;
    std::string partial_;  // a line not yet ended
    int code_ = 0;
    bool haveCode_ = false;
    bool started_ = false;  // past a byte-order mark the text may begin with
    bool ended_ = false;    // past 0/EOF: nothing more is a tag
};

}  // namespace dxf
