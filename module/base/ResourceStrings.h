// Texts of the resource module by number.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace tabro {

// Numbers of the texts the module uses.
enum ResourceText : UINT {
    kTextHandlerErrorCaption = 4,
    kTextErrorCaption = 5,
    kTextCommandFailed = 6,
    kTextKeywordList = 7,
    kTextKeywordPrompt = 8,
    kTextBlockNamePrompt = 9,
    kTextNoSpreadsheet = 10,
    kTextNoBlocks = 11,
    kTextBlockNameTitle = 12,
    // 13 to 30: title and marker of each property column, in column order.
    kTextXTitle = 13,
    kTextXMarker = 14,
    kTextYTitle = 15,
    kTextYMarker = 16,
    kTextZTitle = 17,
    kTextZMarker = 18,
    kTextRotationTitle = 19,
    kTextRotationMarker = 20,
    kTextScaleXTitle = 21,
    kTextScaleXMarker = 22,
    kTextScaleYTitle = 23,
    kTextScaleYMarker = 24,
    kTextScaleZTitle = 25,
    kTextScaleZMarker = 26,
    kTextLayerTitle = 27,
    kTextLayerMarker = 28,
    kTextLayoutTitle = 29,
    kTextLayoutMarker = 30,
    // 31 to 59 and 90 to 99: command line texts of export and import. A pair
    // "One"/"Many" is the singular and plural form of the same text. Arguments are
    // printf's and fixed per number, as noted.
    kTextReferencesExportedOne = 31,   // %ld
    kTextReferencesExportedMany = 32,  // %ld
    kTextExportingBlock = 33,          // %s block name, %d references
    kTextExportProgress = 34,          // %d done, %d in all, %d percent
    kTextNoBlankRow = 35,
    kTextImportProgress = 36,  // %ld rows read so far
    kTextRowsOne = 37,         // %ld
    kTextRowsMany = 38,        // %ld
    kTextSheetsOne = 39,       // %ld
    kTextSheetsMany = 40,      // %ld
    kTextReferencesOne = 41,   // %ld
    kTextReferencesMany = 42,  // %ld
    kTextImportSummary = 43,   // %s rows, %s sheets, %s references (texts 37 to 42)
    kTextNotAppliedOne = 44,   // %ld
    kTextNotAppliedMany = 45,  // %ld
    kTextNotFoundOne = 46,     // %ld
    kTextNotFoundMany = 47,    // %ld
    kTextNoHeaderOne = 48,     // %ld
    kTextNoHeaderMany = 49,    // %ld
    kTextProblemLine = 50,     // %s sheet, %s cell, %s reason
    kTextMoreProblems = 51,    // %ld not listed
    // Why a cell was not applied (the reason of text 50).
    kTextReasonNoValue = 52,
    kTextReasonEmpty = 53,
    kTextReasonNotADistance = 54,
    kTextReasonNotAnAngle = 55,
    kTextReasonNoSuchAttribute = 56,  // %s tag
    kTextReasonRefused = 57,
    kTextReasonConstant = 58,  // %s tag
    kTextReasonBlockName = 59,
    kTextReasonNoReference = 90,
    kTextReasonNoHeader = 91,
    kTextReasonNoSuchLayer = 92,  // %s layer
    kTextReasonNotANumber = 93,
    // 120 to 128: an export refused, before it writes, in an error box.
    kTextBadStartRow = 120,           // %ld the row, %ld the last row
    kTextTooManySheets = 121,         // %ld sheets to add, %ld the workbook has, %ld the most
    kTextReadOnlyWorkbook = 122,      // %s workbook name
    kTextNotExportedOne = 123,        // %ld
    kTextNotExportedMany = 124,       // %ld
    kTextNotExportedLine = 125,       // %s block name, %s handle, %s reason (126 to 128)
    kTextReasonCellTooLong = 126,     // %s column title, %ld characters, %ld the most
    kTextReasonTooManyColumns = 127,  // %ld columns, %ld the most
    kTextReasonNoRowLeft = 128,       // %ld the last row
    // The block selection dialog.
    kTextBlockListHeading = 60,
    kTextBlockListToolTip = 61,
    // 62 to 67: the context menu items, in menu order.
    kTextMenuSelectAll = 62,
    kTextMenuInvertSelection = 63,
    kTextMenuSelectNone = 64,
    kTextMenuSelectAllButFocused = 65,
    kTextMenuShowAll = 66,
    kTextMenuShowAttributed = 67,
    // 68 to 73: on the command line, the letter that chooses each menu item, in menu order.
    kTextMenuLetterSelectAll = 68,
    kTextMenuLetterInvertSelection = 69,
    kTextMenuLetterSelectNone = 70,
    kTextMenuLetterSelectAllButFocused = 71,
    kTextMenuLetterShowAll = 72,
    kTextMenuLetterShowAttributed = 73,
    // The command-line dialog's list heading: printf format, one %s (the column heading).
    kTextTerminalHeadingAll = 74,
    kTextTerminalHeadingAttributed = 75,
    kTextTerminalEmptyList = 76,
    kTextTerminalMenu = 77,
    kTextTerminalPrompt = 78,
    // printf format, one %s: the answer as typed.
    kTextTerminalUnknownChoice = 79,

    // A link that could not be opened: the lead-in, then the reason for the result
    // the shell gave.
    kTextLinkFailed = 100,
    kTextLinkOutOfResources = 101,
    kTextLinkFileNotFound = 102,
    kTextLinkPathNotFound = 103,
    kTextLinkAccessDenied = 104,
    kTextLinkOutOfMemory = 105,
    kTextLinkBadExe = 106,
    kTextLinkSharingViolation = 107,
    kTextLinkAssociationIncomplete = 108,
    kTextLinkDdeTimeout = 109,
    kTextLinkDdeFailed = 110,
    kTextLinkDdeBusy = 111,
    kTextLinkNoAssociation = 112,
    kTextLinkDllNotFound = 113,
    // printf format, one %d: the result code.
    kTextLinkUnknownError = 114,

    // A registry file that cannot be used as it is. printf formats, two %s: the
    // file's path and the reason, as a sentence.
    kTextUserHiveUnreadable = 130,
    kTextClassesHiveUnreadable = 131,
    kTextHiveReadInPart = 132,

    // The options dialog: caption, tab titles and the main dialog's buttons.
    kTextOptionsCaption = 800,
    kTextTabExport = 801,
    kTextTabImport = 802,
    kTextTabAbout = 803,
    kTextButtonReset = 804,
    kTextButtonSettings = 805,
    kTextButtonOk = 806,
    kTextButtonCancel = 807,
    // 810 to 834: the export page's controls, in page order.
    kTextExportBlockNames = 810,
    kTextExportXCoord = 811,
    kTextExportYCoord = 812,
    kTextExportZCoord = 813,
    kTextExportRotation = 814,
    kTextExportScale = 815,
    kTextExportLayerNames = 816,
    kTextExportLayoutNames = 817,
    kTextExportWorksheetLabel = 818,
    kTextExportNewWorksheet = 819,
    kTextExportActiveWorksheet = 820,
    kTextExportStartRow = 821,
    kTextExportFindNextBlankLine = 822,
    kTextExportAddHeader = 823,
    kTextExportWorkbookLabel = 824,
    kTextExportNewWorkbook = 825,
    kTextExportActiveWorkbook = 826,
    kTextExportSort = 827,
    kTextExportOddLine = 828,
    kTextExportJTSK = 829,
    kTextExportAsText = 830,
    kTextExportNoAutofit = 831,
    kTextExportIncludeConstant = 832,
    kTextExportAttPrompts = 833,
    kTextExportAutoConnect = 834,
    // 840 to 845: the import page's controls, in page order.
    kTextImportSheetsLabel = 840,
    kTextImportActiveSheet = 841,
    kTextImportAllSheets = 842,
    kTextImportIgnoreProps = 843,
    kTextImportStartCol = 844,
    kTextImportStartRow = 845,
    // 880 to 883: the import page's controls below the start row, in page order:
    // the label and the two choices for a cell whose drawing value changed too, the
    // preview box.
    kTextImportDrawingChangedLabel = 880,
    kTextImportKeepDrawingValue = 881,
    kTextImportTakeSheetValue = 882,
    kTextImportPreview = 883,
    // 850 to 853: the about page: product line, version label, the link's text and target.
    kTextAboutProduct = 850,
    kTextAboutVersion = 851,
    kTextAboutLinkText = 852,
    kTextAboutLinkTarget = 853,
    // Boxes of the options dialog.
    kTextPartialPointText = 860,
    kTextPartialPointCaption = 861,
    kTextResetQuestion = 862,
    kTextResetCaption = 863,
    // printf format, two %s: the registry file's path and the system's reason.
    kTextOptionsNotSaved = 864,
    // The settings menu and its file dialogs.
    kTextMenuLoadSettings = 870,
    kTextMenuSaveSettings = 871,
    kTextSettingsFileFilter = 872,
    kTextSettingsFileExtension = 873,
    kTextSettingsFileName = 874,
    // printf format, two %s: the settings file's path and the system's reason.
    kTextSettingsFileNotSaved = 875,
    // 890 to 909: import's record of an export, the other drawing's workbook, rows that
    // disagree and the preview.
    kTextRecordNotKept = 890,
    kTextOtherDrawingQuestion = 891,  // %s the workbook's drawing, %s this drawing
    kTextYesNoKeywords = 892,
    kTextLinkOtherDrawing = 893,  // %s workbook, %s its drawing, %s this drawing
    kTextReasonNotOfBlock = 894,  // %s the row's block, %s the reference's block
    kTextReasonNotAReference = 895,
    kTextReasonConflict = 896,  // %s at export, %s the sheet, %s the drawing
    kTextReasonAsGiven = 897,   // %s: a reason composed already
    kTextReasonDisagree = 898,  // %s the other rows and their values
    kTextRecordOtherDrawing = 899,
    kTextRecordUnreadable = 900,  // %s why
    kTextPreviewHeading = 901,
    kTextPreviewLine = 902,      // %s handle, %s block, %s column, %s old, %s new
    kTextPreviewQuestion = 903,  // %ld changes, %ld references
    kTextImportNothingChanged = 904,
    kTextConflictTaken = 905,     // %s at export, %s the drawing: the sheet's value taken
    kTextLinkConflict = 906,      // %s sheet, %s cell, %s reason
    kTextRowAsDisagreeing = 907,  // %s sheet, %s cell, %s value
    kTextPreviewNone = 908,
    kTextReasonRowElsewhere = 909,         // %s sheet, %s cell: the row that was applied
    kTextReasonNotTheBlocksColumns = 910,  // %s the reference's block, %s a tag it lacks
    kTextReasonWentBack = 911,             // %s what the drawing holds again, %s what an import wrote
    kTextHeaderRowMarker = 912,
    kTextReasonNoHandle = 913,
    kTextReasonAboveStartRow = 914,  // %ld StartRow
    kTextReasonEmptiedRow = 915,
    kTextReasonUntitledColumn = 916,  // %s the column's title at export
    kTextReasonSameTitle = 917,       // %s tag, %s the columns, %ld the reference's attributes of it
    kTextReasonMergedCell = 918,      // %s the merged range
    kTextReasonLayoutEdits = 919,     // %ld edits
    kTextReasonBlockNameEdits = 920,  // %ld edits
    kTextReasonLayoutEdit = 926,      // one edit
    kTextReasonBlockNameEdit = 927,   // one edit
    kTextListWritten = 921,           // %ld cells, %s file
    kTextListNotWritten = 922,        // %s file, %s why
    kTextRowsNotImportedOne = 923,    // %ld
    kTextRowsNotImportedMany = 924,   // %ld
    kTextListHeading = 925,           // %s workbook, %s drawing
    // 950 to 959: the live link.
    kTextParameterMarker = 930,
    kTextReasonParameterReadOnly = 931,
    kTextFieldsReplacedOne = 932,   // %ld
    kTextFieldsReplacedMany = 933,  // %ld
    kTextOtherDynamicBlock = 934,   // %s handle, %s block
    // A register of several drawings: the drawing column and the rows of other drawings.
    kTextDrawingTitle = 935,
    kTextDrawingMarker = 936,
    kTextRowsOfOtherDrawingsOne = 937,   // %ld
    kTextRowsOfOtherDrawingsMany = 938,  // %ld
    kTextNoRecordOfDrawing = 939,        // %s this drawing
    kTextDrawingNotNamed = 940,          // the reason of a row whose drawing cell is empty
    kTextSettingsFileUnreadable = 941,   // %s file, %s why
    kTextSettingsFileBadValue = 942,     // %s file, %s section, %s name, %s text
    kTextOtherDrawingInRun = 943,        // %s the workbook's drawing, %s this drawing
    // The status bar's progress meter.
    kTextMeterExporting = 944,  // %s block
    kTextMeterReading = 945,    // %s sheet
    kTextMeterApplying = 946,
    kTextNoSuchBlock = 947,  // %s the name as typed
    kTextPropertiesIgnored = 950,
    kTextReasonTextCut = 960,       // %s the characters the drawing keeps (TextFit::keptCharacters)
    kTextReasonTextReplaced = 961,  // %s the characters it replaces (TextFit::replaced)
};

class ResourceStrings {
public:
    virtual ~ResourceStrings() = default;
    // The text of string `id` from the resource module, loaded inside a resource
    // scope; empty when the module has no such text (or is not loaded).
    virtual std::string load(UINT id);
};

ResourceStrings& resourceStrings();

// Text `id` used as a printf format with the arguments its number takes (noted at
// the number above). A text the resource module lacks formats as nothing.
std::string formatText(UINT id, ...);
// The singular text for a count of one, else the plural.
constexpr UINT pluralText(long count, UINT one, UINT many) { return count == 1 ? one : many; }

}  // namespace tabro
