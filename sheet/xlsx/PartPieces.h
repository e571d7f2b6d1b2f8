// Reading a part whose root children the writer patches: the root start tag and
// every child element are kept as their original text, except the children the
// part's reader models (those are regenerated on save).
#pragma once

#include "sheet/XmlPiece.h"
#include "sheet/xlsx/XmlReader.h"

#include <string>
#include <vector>

namespace sheet::xlsx {

class PartPiecesReader : public XmlReader {
public:
    std::string rootStartTag;
    std::vector<XmlPiece> pieces;
    // Why the part cannot be patched (its spreadsheet elements use a namespace
    // prefix, so generated children would not match); empty when it can.
    std::string unpatchableReason;

protected:
    // Derived readers call these first in their onStart / onEnd.
    void trackStart(const XmlElement& e, bool isModelled);
    void trackEnd(int depth, std::size_t endOffset);

private:
    std::size_t childStart_ = 0;
    bool childModelled_ = false;
};

// Does the root start tag bind prefix "r" to the relationships namespace?
bool declaresRelationshipPrefix(const std::string& rootStartTag);

}  // namespace sheet::xlsx
