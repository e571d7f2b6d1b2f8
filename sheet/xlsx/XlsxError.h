// The one failure of the package layer: a file that cannot be read (or written),
// with a message naming the part and, for XML, the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sheet::xlsx {

class XlsxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Input a message repeats, in quotes, cut past kQuotedInputBytes at a whole UTF-8
// character with "..." marking the cut: a value of a hundred thousand digits is not
// repeated whole.
constexpr std::size_t kQuotedInputBytes = 60;
inline std::string quotedInput(std::string_view text) {
    if (text.size() <= kQuotedInputBytes) return "'" + std::string(text) + "'";
    std::size_t cut = kQuotedInputBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return "'" + std::string(text.substr(0, cut)) + "...'";
}

// The longest text of a cell, note or shared string the readers take, as it stands
// in the XML (escaped).
constexpr std::size_t kMaxTextBytes = 32u << 20;

// The most sheets a workbook has here: Worksheets.Add refuses more, and the reader
// takes no more.
constexpr std::uint64_t kMostSheets = 4096;
// The parts a saved sheet may bring: the worksheet, and with notes its
// relationships, the notes and their drawing.
constexpr std::uint64_t kPartsPerSheet = 4;
// Parts of the package besides the sheets' (workbook, styles, texts, content types,
// relationships, properties, themes, and what other programs wrote and a save keeps).
constexpr std::uint64_t kOtherParts = 1024;

// Limits on what a file may make the reader allocate; a file beyond them is refused
// rather than read. The defaults fit the largest workbooks the module produces
// (a 100,000-row export is about 150 MB of XML) with room to spare.
struct ReadLimits {
    std::uint64_t maxFileBytes = 512ull << 20;
    // As many parts as the most sheets bring: a workbook the stand-in makes always
    // opens again. The sizes below, not the count, are what keep a crafted archive
    // from taking the memory.
    std::uint64_t maxEntries = kMostSheets * kPartsPerSheet + kOtherParts;
    std::uint64_t maxEntryBytes = 512ull << 20;
    std::uint64_t maxTotalBytes = 1536ull << 20;
    int maxXmlDepth = 128;
    std::uint64_t maxSheets = kMostSheets;
    // What the sheets may take in memory together once read; column formats and
    // widths are kept per column, so a small file could otherwise ask for much more.
    std::uint64_t maxBookMemoryBytes = 1024ull << 20;
};

}  // namespace sheet::xlsx
