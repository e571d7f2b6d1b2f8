// The worksheet layout export writes and import reads back: the property columns in
// their fixed order, their titles and markers (from the resource module), and what
// a header cell means. The one owner of the layout: export and import both use it,
// so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tabro {

// The property columns in their fixed order.
enum class PropertyColumn { X, Y, Z, Rotation, ScaleX, ScaleY, ScaleZ, Layer, Layout, Count };

// Texts of the header row, read from the resource module once per export.
struct ExportTexts {
    std::string blockNameTitle;                                    // text 12
    std::string titles[static_cast<int>(PropertyColumn::Count)];   // texts 13, 15, ... 29
    std::string markers[static_cast<int>(PropertyColumn::Count)];  // texts 14, 16, ... 30
    // The comment of a header row's first cell, unless a property marker is there
    // already: what tells export's header rows from a user's bold rows.
    std::string headerRowMarker;
    // The comment of every dynamic block parameter's header cell (text 930).
    std::string parameterMarker;
    // The drawing column of a register of several drawings (texts 935, 936).
    std::string drawingTitle, drawingMarker;

    static ExportTexts load();
    const std::string& title(PropertyColumn c) const { return titles[static_cast<int>(c)]; }
    const std::string& marker(PropertyColumn c) const { return markers[static_cast<int>(c)]; }
};

// The header comments that name property columns, as export writes them (resource
// texts 14, 16, ..., 30), and the block-name column's title (text 12), as the
// spreadsheet gives them back. Compared exactly: same UTF-16 code units, same case.
struct ImportMarkers {
    std::u16string x, y, z, rotation, scaleX, scaleY, scaleZ, layer, layout;
    std::u16string headerRow;
    std::u16string parameter;
    std::u16string drawing;
    std::u16string blockNameTitle;
    static ImportMarkers load();
    // Whether a comment is one of the markers, so it is no handle. In a row's first
    // cell it says export wrote the row as a header row: the header-row marker, or a
    // property marker when the first column is a property.
    bool isMarker(const std::u16string& comment) const;
};

// What a header cell makes of its column.
// Drawing: the file a row of a register of several drawings belongs to.
enum class ColumnRole : std::uint8_t {
    Attribute,
    X,
    Y,
    Z,
    Rotation,
    Scale,
    Layer,
    BlockName,
    Layout,
    Parameter,
    Drawing
};

// A header cell with a comment is a property column when the comment is one of the
// markers (the layout and parameter columns are read only to tell the user that
// their edits are not applied), else ignored (no value); without a comment, or with
// the header-row marker, a non-empty title names an attribute, or the block-name
// column when it is the block-name title; an empty title is no column (no value).
std::optional<ColumnRole> roleOfHeaderCell(const std::optional<std::u16string>& comment, const std::u16string& title,
                                           const ImportMarkers& markers);

}  // namespace tabro
