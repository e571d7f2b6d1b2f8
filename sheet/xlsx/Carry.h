// What a workbook read from a file carries through to its next save besides the
// model: the package's entries as they were, and the structure of the parts the
// writer patches (their root tags and the child elements it does not model).
#pragma once

#include "sheet/XmlPiece.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace sheet {

class Sheet;

struct Relationship {
    std::string id;
    std::string type;
    std::string target;
    std::string targetMode;  // "External" or empty
};

struct SheetCarry {
    std::string partName;  // "xl/worksheets/sheet1.xml"
    std::string relId;     // its id in the workbook's relationships
    std::string sheetId;   // the sheetId attribute in workbook.xml
    // Attributes of <sheet> in workbook.xml other than name, sheetId, state and r:id
    // (another program's own), already in XML form: ` x:mine="1"`.
    std::string extraSheetAttributes;
    std::string rootStartTag;      // "<worksheet ...>" as read
    std::vector<XmlPiece> pieces;  // children of <worksheet>; empty raw = generated
    std::vector<Relationship> rels;
    std::string legacyRelId;   // relationship id of the comments' drawing, empty when none
    std::string commentsPart;  // as read, empty when none
    std::string vmlPart;
    // Set when the sheet's comments cannot be rewritten without losing content
    // (threaded comments, VML shapes other than notes).
    std::string commentsLockedReason;
    bool isDrawingChecked = true;  // false until the drawing was looked at
};

struct DefinedName {
    std::string attributes;  // everything but localSheetId, XML form
    std::string text;        // unescaped
    std::weak_ptr<Sheet> localSheet;
    bool isLocal = false;
    long localIndex = -1;  // the sheet's index as read
};

struct PackageCarry {
    // The package as last read or written (compressed, as on disk), from which
    // entries are copied; empty for a workbook made here, whose parts are all
    // generated.
    std::string archive;
    std::vector<std::string> order;  // its entry names in archive order
    bool has(const std::string& name) const;
    std::string workbookPart = "xl/workbook.xml";
    std::string sharedStringsPart;
    std::string stylesPart;
    std::string workbookRootStartTag;
    std::vector<XmlPiece> workbookPieces;  // sheets, bookViews, definedNames generated
    std::vector<std::pair<std::string, std::string>> workbookViewAttributes;  // qualified name, value
    // The sheet the tab bar starts at (firstSheet), as read; followed to wherever
    // that sheet moves, and past it while it is hidden.
    std::weak_ptr<Sheet> firstTab;
    std::string extraWorkbookViews;  // further <workbookView> elements, raw
    std::vector<DefinedName> definedNames;
    std::vector<Relationship> workbookRels;
    std::vector<std::pair<std::string, std::string>> defaultTypes;   // extension, content type
    std::vector<std::pair<std::string, std::string>> overrideTypes;  // part name, content type
};

}  // namespace sheet
