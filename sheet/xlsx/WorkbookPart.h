// xl/workbook.xml: the sheets in tab order with their names and relationship ids,
// the active tab and the defined names; its other children are kept as read.
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
    std::string extraAttributes;
};

struct WorkbookInfo {
    std::vector<WorkbookSheetEntry> sheets;
    std::size_t activeTab = 0;
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
// writer has filled in for new sheets.
std::string writeWorkbookPart(const Book& book, const PackageCarry* carry);

}  // namespace sheet::xlsx
