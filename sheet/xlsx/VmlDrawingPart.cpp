#include "sheet/xlsx/VmlDrawingPart.h"

#include "sheet/xlsx/CommentsPart.h"

#include <charconv>
#include <cstring>

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
    const auto comments = sheet.sortedComments();
    // Shape ids are unique across the workbook: each drawing owns blocks of 1024
    // ids, listed in its id map.
    int firstBlock = nextBlock;
    int blocks = static_cast<int>(comments.size() / 1024) + 1;
    nextBlock += blocks;
    std::string idmap;
    for (int b = 0; b < blocks; ++b) idmap += (b ? "," : "") + std::to_string(firstBlock + b);
    std::string out;
    out.reserve(sink ? kPartPieceBytes + 4096 : comments.size() * 200 + 1024);
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
    for (const auto& entry : comments) {
        if (sink && out.size() >= kPartPieceBytes) sink(out);
        const std::uint64_t key = entry.first;
        auto row = static_cast<std::int64_t>(key >> 16) - 1;
        auto column = static_cast<std::int64_t>(key & 0xFFFF) - 1;
        // A shape is put together in a buffer of its own and appended at once: a
        // drawing holds a shape for every note, an export a note for every row.
        char shape[512];
        char* p = shape;
        auto put = [&p](std::string_view s) {
            std::memcpy(p, s.data(), s.size());
            p += s.size();
        };
        auto number = [&p](std::int64_t value) { p = std::to_chars(p, p + 20, value).ptr; };
        put("<v:shape id=\"_x0000_s");
        number(static_cast<std::int64_t>(shapeId++));
        put("\" type=\"#_x0000_t202\" style=\"position:absolute;width:108pt;height:59.25pt;visibility:hidden\" "
            "fillcolor=\"#ffffe1\"><x:ClientData ObjectType=\"Note\"><x:Anchor>");
        // Column and row offsets of the box: right of the cell, a little above it.
        number(column + 1);
        put(",15,");
        number(row > 0 ? row - 1 : 0);
        put(",2,");
        number(column + 3);
        put(",15,");
        number(row + 3);
        put(",16</x:Anchor><x:Row>");
        number(row);
        put("</x:Row><x:Column>");
        number(column);
        put("</x:Column></x:ClientData></v:shape>");
        out.append(shape, p);
    }
    out += "</xml>";
    return out;
}

}  // namespace sheet::xlsx
