// The companion resource module: every text the user sees, by number. The module
// refuses to start without it.
#include "platform/Resources.h"

#include <cstddef>
#include <iterator>

namespace {

constexpr ResourceString kStrings[] = {
    {4, "Tablora live link"},
    {5, "Tablora"},
    {6,
     "The command could not be completed because of an unexpected error. "
     "Work done before the error has been kept."},
    // The keyword list: local names (capitals mark the shortest abbreviation;
    // EXPORT2 and IMPORT2 must be typed in full so that "Export" and "Import" keep
    // their one-letter abbreviations), then "_" and the global names.
    {7,
     "Export EXPORT2 Import Options Connect Disconnect IMPORT2 Toolbar Help "
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
    {31, "\n%ld reference exported."},
    {32, "\n%ld references exported."},
    {33, "\nExporting %s: %d references."},
    {34, "\n  %d of %d (%d%%)"},
    {35, "The active sheet has no blank row left; nothing was exported."},
    {36, "\n%ld rows read..."},
    {37, "%ld row"},
    {38, "%ld rows"},
    {39, "%ld sheet"},
    {40, "%ld sheets"},
    {41, "%ld reference"},
    {42, "%ld references"},
    {43, "\nImported %s from %s; %s changed."},
    {44, "\n%ld value could not be applied and was left as it is."},
    {45, "\n%ld values could not be applied and were left as they are."},
    {46, "\n%ld row names no block reference of this drawing."},
    {47, "\n%ld rows name no block reference of this drawing."},
    {48, "\n%ld row stands under no header row and was not read."},
    {49, "\n%ld rows stand under no header row and were not read."},
    {50, "\n  %s!%s: %s"},
    {51, "\n  ... and %ld more."},
    {52, "the cell holds an error value or a formula without a result"},
    {53, "the cell is empty"},
    {54, "the cell holds no distance in the drawing's units"},
    {55, "the cell holds no angle in the drawing's angular units"},
    {56, "the block reference has no attribute %s"},
    {57, "the drawing refused the value"},
    {58, "attribute %s is constant: it is the same in every reference of its block"},
    {59, "a reference's block cannot be changed from the sheet"},
    {90, "no block reference of this drawing has this handle"},
    {91, "no header row stands above this row"},
    {92, "the drawing has no layer %s"},
    {93, "the cell holds no number"},
    // An export refused before it writes: the settings, the workbook, or rows that
    // no worksheet can hold (each such reference named on a line of its own).
    {120,
     "The export settings start at row %ld, which no worksheet has (rows 1 to %ld). "
     "Nothing was exported; choose another start row in the options."},
    {121,
     "The export would add %ld worksheets to a workbook of %ld, more than the %ld a workbook holds. "
     "Nothing was exported: export fewer blocks at a time, or into the active worksheet."},
    {122,
     "The workbook %s is open read-only, so an export could not be kept in it. "
     "Nothing was exported: export into a new workbook, or open this one for writing."},
    {123,
     "%ld block reference was not exported: its row does not fit a worksheet, so the workbook "
     "has no row for it and an import leaves it as it is."},
    {124,
     "%ld block references were not exported: their rows do not fit a worksheet, so the workbook "
     "has no rows for them and an import leaves them as they are."},
    {125, "\n  %s, handle %s: %s"},
    {126, "the cell under %s would hold %ld characters, more than the %ld a cell holds"},
    {127, "the row would need %ld columns, more than the %ld a worksheet has"},
    {128, "the worksheet has no row left for it (the last is row %ld)"},
    // The block selection dialog: the list's column heading and tooltip, then the
    // context menu items in menu order.
    {60, "Block name"},
    {61, "Press the right mouse button for more options."},
    {62, "Select all"},
    {63, "Invert selection"},
    {64, "Select none"},
    {65, "Select all but focused"},
    {66, "Show all blocks"},
    {67, "Show only blocks with attributes"},
    // The dialog on the command line. 68 to 73: the letter shown after each menu
    // item, in menu order; typing it chooses the item. 74, 75 and 79 are printf
    // formats taking exactly one %s (no other conversion, "%%" for a percent sign):
    // the column heading in 74 and 75, the answer as typed in 79. Each printed line
    // starts on a new line of its own; the prompt brings its line break itself.
    {68, "a"},
    {69, "i"},
    {70, "n"},
    {71, "b"},
    {72, "s"},
    {73, "w"},
    {74, "%s (all blocks):"},
    {75, "%s (blocks with attributes):"},
    {76, "(no blocks listed)"},
    {77, "Menu:"},
    {78, "\nItem number toggles, F<number> moves the focus, menu letter, OK (or Enter), Cancel: "},
    {79, "Unknown choice \"%s\"."},
    // A link that could not be opened.
    {100, "Unable to open hyperlink:\n\n"},
    {101, "The operating system is out\nof memory or resources."},
    {102, "The specified file was not found."},
    {103, "The specified path was not found."},
    {104, "The operating system denied\naccess to the specified file."},
    {105, "There was not enough memory to complete the operation."},
    {106, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {107, "A sharing violation occurred. "},
    {108, "The filename association is\nincomplete or invalid."},
    {109, "The DDE transaction could not\nbe completed because the request timed out."},
    {110, "The DDE transaction failed."},
    {111, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
    {112, "There is no application associated\nwith the given filename extension."},
    {113, "The specified dynamic-link library was not found."},
    {114, "Unknown Error (%d) occurred."},
    // A registry file that cannot be used as it is.
    {130,
     "The registry file %s cannot be read: %s\n"
     "The options are at their defaults, and changes to them cannot be saved."},
    {131,
     "The registry file %s cannot be read: %s\n"
     "The live link's event handler cannot be registered there."},
    {132,
     "The registry file %s cannot be read in full: %s\n"
     "What could not be read is left out, and kept in a copy beside the file when it is next saved."},
    // The options dialog.
    {800, "Tablora Options"},
    {801, "Export"},
    {802, "Import"},
    {803, "About"},
    {804, "&Reset"},
    {805, "&Settings"},
    {806, "OK"},
    {807, "Cancel"},
    {810, "&Block names"},
    {811, "&X coordinate"},
    {812, "&Y coordinate"},
    {813, "&Z coordinate"},
    {814, "R&otation"},
    {815, "Sc&ale factors"},
    {816, "&Layer names"},
    {817, "La&yout names"},
    {818, "Write into:"},
    {819, "A &new worksheet for each block"},
    {820, "The active &worksheet"},
    {821, "Start &row:"},
    {822, "Start at the next &blank row"},
    {823, "Add a &header row"},
    {824, "Workbook:"},
    {825, "A new work&book"},
    {826, "The active workbook"},
    {827, "Sor&t attributes by tag"},
    {828, "Leave a blank row before each &data row"},
    {829, "Export negative coordinates as positive (&JTSK)"},
    {830, "Write cells as te&xt"},
    {831, "Do not &fit the column widths"},
    {832, "Include &constant attributes"},
    {833, "Export attribute &prompts"},
    {834, "Connect the live &link after export"},
    {840, "Import from:"},
    {841, "The active &sheet only"},
    {842, "&Every worksheet of the active workbook"},
    {843, "Change attribute values &only (keep position, scale, layer and rotation)"},
    {844, "Start &column:"},
    {845, "Start &row:"},
    {880, "When the drawing changed too:"},
    {881, "&Keep the drawing's value"},
    {882, "&Take the sheet's value"},
    {883, "Show the changes &before applying them"},
    {850, "Tablora: block attributes and spreadsheets, linked."},
    {851, "Version:"},
    {852, "Tablora on the web"},
    {853, "https://www.morvik.example/tablora/"},
    {860,
     "X, Y and Z are not all chosen: the exported rows will hold only part of each "
     "insertion point, and an import will set only the coordinates they hold."},
    {861, "Tablora Options"},
    {862,
     "Reset the export and import options to their defaults?\n"
     "\"Include constant attributes\" and \"Export attribute prompts\" keep their choice."},
    {863, "Reset options"},
    {864, "The options could not be saved to %s: %s\nThey apply until the program ends."},
    {870, "&Load settings from file..."},
    {871, "&Save settings to file..."},
    {872, "Tablora settings (*.ini)|*.ini|All files (*.*)|*.*||"},
    {873, "ini"},
    {874, "tablora.ini"},
    {875, "The settings could not be saved to %s: %s"},
    {890,
     "\nThe workbook keeps no record of this export: importing it takes every cell that differs from the drawing as an "
     "edit."},
    {891, "\nThe workbook was exported from %s. Import into %s anyway? [Yes/No] <No>: "},
    {892, "Yes No"},
    {893, "\nEdits in workbook %s are not applied: it was exported from %s, not from %s."},
    {894, "the row is of block %s, the handle names a reference of block %s: nothing of the row is applied"},
    {895, "the handle names an object that is no block reference: nothing of the row is applied"},
    {896,
     "the drawing changed too (at export \"%s\", in the sheet \"%s\", in the drawing \"%s\"): the drawing's value is "
     "kept"},
    {897, "%s"},
    {898, "other rows name the same reference with other values (%s): none is applied"},
    {899,
     "\nThe workbook's record is of another drawing: every cell that differs from the drawing is taken as an edit."},
    {900, "\nThe workbook's record cannot be read (%s): every cell that differs from the drawing is taken as an edit."},
    {901, "\nChanges to apply:"},
    {902, "\n  %s (%s) %s: \"%s\" -> \"%s\""},
    {903, "\nApply %ld changes to %ld references? [Yes/No] <Yes>: "},
    {904, "\nNothing was changed."},
    {905, " (the drawing changed too: at export \"%s\", in the drawing \"%s\"; the sheet's value is taken)"},
    {906, "\n  %s!%s: %s"},
    {907, "%s!%s \"%s\""},
    {908, "\nNo cell asks for a change."},
    {909, "the same reference's row %s!%s is applied"},
    {911, "the drawing holds \"%s\" again after an import wrote \"%s\" (undone?): the cell is not applied again"},
    {910, "the row's columns are not those of block %s, which has no attribute %s: nothing of the row is applied"},
    // The comment of an exported header row's first cell. Like the property markers
    // it contains blanks, which no handle or tag can.
    {912, "Tablora header row: the rows below keep their handles in the comments of this column"},
    {913, "the row holds values but no handle (the comment of its first cell): it is not imported"},
    {914, "the row is above row %ld, where import starts reading: it is not imported"},
    {915,
     "every cell of the row was cleared: the row is taken as removed from the sheet, and nothing of it is applied"},
    {916, "the column's header cell is empty (export titled it %s): the edit is not applied"},
    {917,
     "%s titles %s, more columns than the reference has attributes of that tag (%ld): none of these columns is "
     "applied"},
    {918,
     "the cell is covered by the merged cells %s, which show the value of their first cell only: it is not applied"},
    {919,
     "%ld edits in this column are not applied: a reference moves to another layout in the drawing, not from the "
     "sheet"},
    {920, "%ld edits in this column are not applied: a reference's block cannot be changed from the sheet"},
    {921, "\nThe whole list (%ld cells) is in %s."},
    {922, "\nThe whole list could not be written to %s: %s."},
    {923, "\n%ld row holding values was not imported."},
    {924, "\n%ld rows holding values were not imported."},
    {926,
     "the edit in this column is not applied: a reference moves to another layout in the drawing, not from the sheet"},
    {927, "the edit in this column is not applied: a reference's block cannot be changed from the sheet"},
    {925, "Import of workbook %s into drawing %s: cells not applied and rows not imported"},
    // The comment of a dynamic block parameter's header cell. Like the property
    // markers it contains blanks, which no handle or tag can.
    {930, "Tablora dynamic block parameter: the value the drawing has; edits here are not applied"},
    {931, "dynamic parameters are read-only"},
    {932, "\n%ld attribute held a field; its field was replaced by the imported text"},
    {933, "\n%ld attributes held fields; their fields were replaced by the imported text"},
    {934,
     "\nReference %s came with an anonymous block of %s, but its own data names another block: it is not "
     "exported."},
    // The drawing column of a register; the marker contains blanks, as the property
    // markers do, so no handle or tag can be taken for it.
    {935, "Drawing"},
    {936, "Tablora property: drawing; the file the row belongs to, relative to this workbook"},
    {937, "\n%ld row names another drawing and was left for it."},
    {938, "\n%ld rows name other drawings and were left for them."},
    {939,
     "\nThe workbook keeps no record of what was exported from %s: its rows are imported as rows of a workbook "
     "without one."},
    {940, "the row names no drawing: its drawing cell is empty"},
    {941, "the settings file %s cannot be read: %s"},
    {942, "the settings file %s has [%s] %s=%s, which is not a whole number"},
    {944, "exporting %s"},
    {945, "reading sheet %s"},
    {946, "applying the rows"},
    {947, "\nNo block named \"%s\" in this drawing; it is not exported."},
    {943, "\nThe workbook was exported from %s, not from %s: its rows are not imported into this drawing."},
    {950,
     "\nEdits in the position, rotation, scale and layer columns are not applied: the import option \"Change attribute "
     "values only\" is on (Options, Import)."},
    {960, "the drawing holds only the first %s characters of this text: the rest is cut"},
    {961, "the drawing's file cannot carry %s of this text: each is replaced by U+FFFD"},
};

// Texts are found by number: of two with one number, the second would never be
// shown (texts added on two branches at once met that way).
constexpr bool hasUniqueNumbers() {
    for (std::size_t i = 0; i < std::size(kStrings); ++i)
        for (std::size_t j = i + 1; j < std::size(kStrings); ++j)
            if (kStrings[i].id == kStrings[j].id) return false;
    return true;
}
static_assert(hasUniqueNumbers(), "two texts of the resource module share a number");

const ResourceTable kTable = {RESOURCE_TABLE_VERSION, sizeof(ResourceTable), kStrings, std::size(kStrings), nullptr, 0};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceTable* ResourceModuleTable() { return &kTable; }
