#include "sheet/xlsx/PartPieces.h"

namespace sheet::xlsx {

void PartPiecesReader::trackStart(const XmlElement& e, bool isModelled) {
    if (e.depth == 1) {
        rootStartTag.assign(document().substr(e.offset, e.startTagEnd - e.offset));
        if (!e.prefix.empty())
            unpatchableReason = "its elements use the namespace prefix '" + std::string(e.prefix) + "'";
        // An empty root would otherwise be written back as "<x/>" plus children.
        if (rootStartTag.size() >= 2 && rootStartTag[rootStartTag.size() - 2] == '/') {
            rootStartTag.erase(rootStartTag.size() - 2, 1);
        }
    } else if (e.depth == 2) {
        childStart_ = e.offset;
        childModelled_ = isModelled;
    }
}

void PartPiecesReader::trackEnd(int depth, std::size_t endOffset) {
    if (depth != 2) return;
    XmlPiece piece;
    auto start = childStart_;
    // The name is the element's own; find it again from the start tag.
    std::string_view tag = document().substr(start + 1);
    auto nameEnd = tag.find_first_of(" \t\r\n/>");
    std::string_view qname = tag.substr(0, nameEnd);
    auto colon = qname.find(':');
    piece.name = std::string(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
    if (!childModelled_) piece.raw.assign(document().substr(start, endOffset - start));
    pieces.push_back(std::move(piece));
}

bool declaresRelationshipPrefix(const std::string& rootStartTag) {
    return rootStartTag.find("xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"") !=
           std::string::npos;
}

}  // namespace sheet::xlsx
