// The lowest DXF layer: splits ASCII DXF text into group code / value pairs without
// copying (values are views into the caller's buffer) and checks each value against
// its group code's type, reporting the line of anything malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dxf {

// Where in a binary file, which has no lines.
struct BytePlace {
    std::size_t offset;
};

// A malformed file; what() names the line ("line 1402: group code 10 expects a
// number, got 'abc'"), or in a binary file the byte ("byte 5230: ..."; line() is 0).
class DxfError : public std::runtime_error {
public:
    DxfError(std::size_t line, const std::string& message);
    DxfError(BytePlace at, const std::string& message);
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

// Input quoted in a message, up to `limit` bytes and between single quotes, with what
// cannot be seen made visible: control characters and bytes that are no UTF-8 as
// \xNN, invisible characters (a byte-order mark, no-break and zero-width spaces,
// direction marks) as <U+XXXX>.
std::string quoteInput(std::string_view s, std::size_t limit = 40);

// The UTF-8 byte-order mark some editors put at the start of a text file.
inline constexpr std::string_view kUtf8Bom{"\xEF\xBB\xBF"};

// The group codes a file may use.
constexpr int kMinGroupCode = -5;
constexpr int kMaxGroupCode = 1071;

// The longest line a drawing may have, without its line ending. DXF values are a few
// hundred bytes at most; the bound keeps a hostile line from being read whole.
constexpr std::size_t kMaxLineBytes = 1u << 20;
// The refusal of a line longer than that.
DxfError lineTooLongError(std::size_t line);

struct Tag {
    int code = 0;
    std::string_view value;      // without the line ending
    std::size_t begin = 0;       // offset of the code line
    std::size_t valueBegin = 0;  // offset of the value
    std::size_t end = 0;         // offset just past the value's line ending
    std::size_t line = 0;        // 1-based line of the code
};

enum class ValueType { String, Double, Integer, Handle };
ValueType valueType(int code);

// Whether next() checks each value against its group code's type, or takes values as
// they are because the same text was read through a checking tokenizer before (a
// drawing's objects are decoded again from the text the store checked when it opened).
enum class ValueCheck { Check, Trust };

// Where each tag of a text begins, from a reader that made the text tag by tag
// (binary DXF read into text, each code line its digits alone), so that the text
// need not be split again.
struct TagIndex {
    std::vector<std::uint32_t> begins;
};

class Tokenizer {
public:
    explicit Tokenizer(std::string_view text, std::size_t start = 0, ValueCheck check = ValueCheck::Check)
        : text_(text), pos_(start), checkValues_(check == ValueCheck::Check) {}
    // The whole of a text whose tags `index` lists (values are trusted).
    Tokenizer(std::string_view text, const TagIndex& index) : text_(text), checkValues_(false), index_(&index) {}
    // The next pair, its value checked against its type (unless trusted): a real must
    // be a finite number a double holds. False at the end of the text (trailing blank
    // lines and an end-of-file byte are allowed). Throws DxfError, also for a line
    // longer than kMaxLineBytes, found without looking further than that.
    bool next(Tag& tag);
    std::size_t offset() const { return pos_; }
    std::size_t line() const { return line_; }

private:
    bool readLine(std::string_view& line);
    bool nextByLines(Tag& tag);
    bool nextIndexed(Tag& tag);
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 0;  // lines consumed so far
    bool checkValues_ = true;
    const TagIndex* index_ = nullptr;
    std::size_t tag_ = 0;  // of the index
};

// Numbers of a checked value.
double toDouble(std::string_view value);
std::int64_t toInteger(std::string_view value);
// Whether a value is an integer as the reader of ASCII DXF takes one (blanks around
// it and a sign allowed).
bool isIntegerText(std::string_view value);
// A hex handle text; false when it is not 1 to 16 hex digits.
bool parseHandle(std::string_view text, std::uint64_t& handle);

// The shortest text that reads back as exactly `value`, always with a decimal point
// or exponent ("1.0", "0.25", "1e-12").
std::string formatDouble(double value);

// The file starts like a binary DXF.
bool isBinaryDxf(std::string_view text);

}  // namespace dxf
