#include "sheet/xlsx/VmlDrawingPart.h"

#include "sheet/xlsx/CommentsPart.h"

namespace sheet::xlsx {

namespace {
constexpr std::string_view kTypeKey = "ObjectType=\"";
constexpr std::size_t kLongestType = 64;
}  // namespace

void VmlShapeScanner::feed(std::string_view piece) {
    // VML written by desktop programs is often not well-formed XML (bare <br>), so
    // it is scanned rather than parsed.
    if (!other_.empty()) return;
    pending_.append(piece);
    std::string_view text = pending_;
    std::size_t keepFrom = text.size() > kTypeKey.size() ? text.size() - kTypeKey.size() : 0;
    for (auto pos = text.find(kTypeKey); pos != std::string_view::npos; pos = text.find(kTypeKey, pos + 1)) {
        auto start = pos + kTypeKey.size();
        auto end = text.find('"', start);
        if (end == std::string_view::npos) {
            if (text.size() - start > kLongestType) {
                other_ = "an unreadable shape";
                return;
            }
            keepFrom = pos;  // the type continues in the next piece
            break;
        }
        auto type = text.substr(start, end - start);
        if (type != "Note") {
            other_ = "a drawing object of type " + std::string(type.substr(0, 40));
            return;
        }
    }
    pending_.erase(0, keepFrom);
}

std::string VmlShapeScanner::finish() {
    if (other_.empty() && pending_.find(kTypeKey) != std::string::npos) other_ = "an unreadable shape";
    return other_;
}

std::string writeVmlDrawing(const Sheet& sheet, int& nextBlock, const PartSink& sink) {
    auto keys = sortedCommentKeys(sheet);
    // Shape ids are unique across the workbook: each drawing owns blocks of 1024
    // ids, listed in its id map.
    int firstBlock = nextBlock;
    int blocks = static_cast<int>(keys.size() / 1024) + 1;
    nextBlock += blocks;
    std::string idmap;
    for (int b = 0; b < blocks; ++b) idmap += (b ? "," : "") + std::to_string(firstBlock + b);
    std::string out;
    out.reserve(sink ? kPartPieceBytes + 4096 : keys.size() * 200 + 1024);
    // What every note box shares (its path, stroke, fill and shadow) is said once, in
    // the shape type; each shape says only where it is. A sheet can hold a million
    // notes, and spelling it all out for each (about 600 bytes) made such a drawing
    // larger than a part may be to be read again.
    out +=
        "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
        "xmlns:x=\"urn:schemas-microsoft-com:office:excel\">"
        "<o:shapelayout v:ext=\"edit\"><o:idmap v:ext=\"edit\" data=\"" +
        idmap +
        "\"/></o:shapelayout>"
        "<v:shapetype id=\"_x0000_t202\" coordsize=\"21600,21600\" o:spt=\"202\" path=\"m,l,21600r21600,l21600,xe\" "
        "fillcolor=\"#ffffe1\"><v:stroke joinstyle=\"miter\"/><v:fill color2=\"#ffffe1\"/>"
        "<v:shadow on=\"t\" color=\"black\" obscured=\"t\"/>"
        "<v:path gradientshapeok=\"t\" o:connecttype=\"rect\"/></v:shapetype>";
    std::size_t shapeId = 1024 * static_cast<std::size_t>(firstBlock) + 1;
    for (auto key : keys) {
        if (sink && out.size() >= kPartPieceBytes) sink(out);
        auto row = static_cast<std::int64_t>(key >> 16) - 1;
        auto column = static_cast<std::int64_t>(key & 0xFFFF) - 1;
        out += "<v:shape id=\"_x0000_s";
        out += std::to_string(shapeId++);
        out +=
            "\" type=\"#_x0000_t202\" style=\"position:absolute;width:108pt;height:59.25pt;visibility:hidden\" "
            "fillcolor=\"#ffffe1\"><x:ClientData ObjectType=\"Note\"><x:Anchor>";
        // Column and row offsets of the box: right of the cell, a little above it.
        out += std::to_string(column + 1) + ",15," + std::to_string(row > 0 ? row - 1 : 0) + ",2," +
               std::to_string(column + 3) + ",15," + std::to_string(row + 3) + ",16";
        out += "</x:Anchor><x:Row>" + std::to_string(row) + "</x:Row><x:Column>" + std::to_string(column) +
               "</x:Column></x:ClientData></v:shape>";
    }
    out += "</xml>";
    return out;
}

}  // namespace sheet::xlsx
