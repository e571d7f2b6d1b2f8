// Cell formats of a workbook: number formats, fonts and the cell format records
// (xf) that cells point to. Formats read from a file keep their indices; a format
// asked for that does not exist yet is appended, so cells of unchanged sheets keep
// pointing at the right record.
#pragma once

#include "sheet/XmlPiece.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sheet {

constexpr std::uint32_t kTextFormatId = 49;  // the built-in "@" format

struct CellFormat {
    std::uint32_t numFmtId = 0;
    std::uint32_t fontId = 0;
    std::uint32_t fillId = 0;
    std::uint32_t borderId = 0;
    std::uint32_t xfId = 0;
    // Other attributes (apply*, quotePrefix, ...), kept as read.
    std::string extraAttributes;
    // The <alignment> child whole, as read or as changed here (only the attribute
    // changed), empty when the format has none; the schema puts it first.
    std::string alignment;
    bool wrapsText = false;  // the alignment's wrapText
    // The other children (protection, extensions), kept as read.
    std::string innerXml;

    bool operator==(const CellFormat&) const = default;
};

class Styles {
public:
    // One default font (Calibri 11), two fills, one border, one format: what a new
    // workbook starts with.
    Styles();

    // The format code of a cell format: "General", "@", "0.00", ...
    std::string formatCode(std::uint32_t xf) const;
    bool isTextFormat(std::uint32_t xf) const;
    // Whether the format shows numbers as dates or times.
    bool isDateFormat(std::uint32_t xf) const;
    bool isBold(std::uint32_t xf) const;
    // Whether the cell's text is wrapped onto several lines in its column's width.
    bool wrapsText(std::uint32_t xf) const;

    // The index of a format like xf but with the given number format code / bold
    // flag / text wrapping, appending records as needed.
    std::uint32_t withFormatCode(std::uint32_t xf, std::string_view code);
    std::uint32_t withBold(std::uint32_t xf, bool bold);
    std::uint32_t withWrapText(std::uint32_t xf, bool wrap);

    std::size_t formatCount() const noexcept { return formats_.size(); }
    bool isValidFormat(std::uint32_t xf) const noexcept { return xf < formats_.size(); }

    // For the package reader and writer.
    std::map<std::uint32_t, std::string> customFormats;  // id (>= 164) -> code
    // A <font> element as a tree of one level: its start tag as read, each child
    // element whole (under the namespaces of the stylesheet's root), and the prefix
    // of its name ("x:" or empty), which a child made here takes too.
    struct Font {
        std::string startTag = "<font>";
        std::vector<XmlPiece> children;
        std::string prefix;
        bool isBold = false;
        std::string xml() const;
        void putChildrenInOrder();
    };
    std::vector<Font> fonts;
    std::vector<CellFormat>& formats() noexcept { return formats_; }
    const std::vector<CellFormat>& formats() const noexcept { return formats_; }
    // The stylesheet's root start tag and children when read from a file; empty for
    // a new workbook (the writer then produces its own).
    std::string rootStartTag;
    // The prefix of the root's name ("x:" in a part whose elements all carry one):
    // the elements the writer generates take it too.
    std::string mainPrefix;
    std::vector<XmlPiece> pieces;
    void clearCaches() { cache_.clear(); }

private:
    std::uint32_t findOrAdd(const CellFormat& format);
    std::uint32_t numFmtIdFor(std::string_view code);

    std::vector<CellFormat> formats_;
    std::unordered_map<std::uint64_t, std::uint32_t> cache_;  // (xf, operation) -> xf
};

// The built-in format code for an id, empty when the id has none.
std::string_view builtinFormatCode(std::uint32_t id);

}  // namespace sheet
