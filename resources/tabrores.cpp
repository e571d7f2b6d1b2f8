// The companion resource module: every text the user sees, by number. The module
// refuses to start without it.
#include "platform/Resources.h"

#include <iterator>

namespace {

const ResourceString kStrings[] = {
    {4, "Tablora live link"},
    {5, "Tablora"},
    {6, "The command could not be completed because of an unexpected error. "
        "Work done before the error has been kept."},
    // The keyword list: local names (capitals mark the shortest abbreviation;
    // EXPORT2 and IMPORT2 must be typed in full so that "Export" and "Import" keep
    // their one-letter abbreviations), then "_" and the global names.
    {7, "Export EXPORT2 Import Options Connect Disconnect IMPORT2 Toolbar Help "
        "_Export Export2 Import Options Connect Disconnect Import2 Toolbar Help"},
    {8, "\nTablora [Export/Export2/Import/Options/Connect/Disconnect/Import2/Toolbar/Help] <Export>: "},
    {9, "\nBlock names to export, separated by commas <all blocks>: "},
    {10, "The spreadsheet application could not be started or reached."},
    {11, "This drawing holds no blocks that could be exported."},
    {12, "Block name"},
    // Property columns: the title heads the column, the marker (the header cell's
    // comment) tells import which property the column holds. Markers contain blanks,
    // which an attribute tag cannot, so no tag is ever taken for a marker.
    {13, "X"},
    {14, "Tablora property: insertion point X"},
    {15, "Y"},
    {16, "Tablora property: insertion point Y"},
    {17, "Z"},
    {18, "Tablora property: insertion point Z"},
    {19, "Rotation"},
    {20, "Tablora property: rotation"},
    {21, "Scale X"},
    {22, "Tablora property: scale factor X"},
    {23, "Scale Y"},
    {24, "Tablora property: scale factor Y"},
    {25, "Scale Z"},
    {26, "Tablora property: scale factor Z"},
    {27, "Layer"},
    {28, "Tablora property: layer"},
    {29, "Layout"},
    {30, "Tablora property: layout"},
};

const ResourceTable kTable = {RESOURCE_TABLE_VERSION, sizeof(ResourceTable), kStrings, std::size(kStrings)};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceTable* ResourceModuleTable() { return &kTable; }
