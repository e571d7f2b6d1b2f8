// xl/workbook.xml: the sheets in tab order with their names, visibility and
// relationship ids, the active and first tabs and the defined names; its other
// children are kept as read.
#pragma once

#include "sheet/Book.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>
#include <vector>

namespace sheet::xlsx {

struct WorkbookSheetEntry {
    std::u16string name;
    std::string sheetId;
    std::string relId;
    Visibility visibility = Visibility::Visible;
    std::string extraAttributes;
};

struct WorkbookInfo {
    std::vector<WorkbookSheetEntry> sheets;
    std::size_t activeTab = 0;
    std::size_t firstSheet = 0;
    bool isDate1904 = false;  // workbookPr's date1904: dates count from 1904-01-01
    struct Name {
        std::string attributes;
        std::string text;
        long localSheetId = -1;
    };
    std::vector<Name> definedNames;
    std::string rootStartTag;
    std::vector<XmlPiece> pieces;
    std::vector<std::pair<std::string, std::string>> workbookViewAttributes;
    std::string extraWorkbookViews;
    std::string unpatchableReason;
};

WorkbookInfo readWorkbookPart(std::string_view xml, const std::string& partName, const ReadLimits& limits);
// Uses each sheet's carry (sheetId, relId, extra attributes), which the package
// writer has filled in for new sheets. Neither the active tab nor the first tab of
// the tab bar names a hidden sheet while a visible one is there: the format's own
// programs take such a file for a damaged one.
std::string writeWorkbookPart(const Book& book, const PackageCarry* carry);

}  // namespace sheet::xlsx
