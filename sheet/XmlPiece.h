// One child element of a package part's root, kept as its original XML so that what
// the stand-in does not model is written back unchanged. An empty raw text marks a
// child that the writer generates from the model instead.
#pragma once

#include <string>

namespace sheet {

struct XmlPiece {
    std::string name;  // local name, e.g. "sheetData", "mergeCells"
    std::string raw;
};

}  // namespace sheet
