#include "sheet/xlsx/CommentsPart.h"

#include "sheet/Automation.h"
#include "sheet/xlsx/XmlReader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>

namespace sheet::xlsx {
namespace {

class CommentsReader : public XmlReader {
public:
    explicit CommentsReader(Sheet& sheet) : sheet_(sheet) {}

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "comments")
            fail("the root element is <" + std::string(e.name) + ">, not <comments>");
        if (e.depth == 3 && e.name == "author") {
            text_.clear();
            collectText = true;
        } else if (e.depth == 3 && e.name == "comment") {
            const auto* ref = e.attr("ref");
            if (!ref) fail("a comment has no cell reference");
            // A comment may name a range; it belongs to the range's first cell.
            std::string_view first = *ref;
            first = first.substr(0, first.find(':'));
            auto cell = parseCellRef(first);
            if (!cell) fail("comment reference " + quotedInput(*ref) + " is not a cell of the sheet");
            cell_ = *cell;
            author_ = -1;
            if (const auto* a = e.attr("authorId")) {
                std::uint32_t v = 0;
                auto [end, ec] = std::from_chars(a->data(), a->data() + a->size(), v);
                if (ec != std::errc() || end != a->data() + a->size() || v >= authors_.size())
                    fail("comment " + std::string(*ref) + " names author " + quotedInput(*a) + " of " +
                         std::to_string(authors_.size()));
                author_ = static_cast<int>(v);
            }
            text_.clear();
            inComment_ = true;
        } else if (inComment_ && e.name == "rPh") {
            skipDepth_ = e.depth;
        } else if (inComment_ && e.name == "t" && skipDepth_ == 0) {
            collectText = true;
        }
    }
    void onEnd(std::string_view, std::string_view name, int depth, std::size_t) override {
        if (depth == skipDepth_) skipDepth_ = 0;
        if (depth == 3 && name == "author") {
            collectText = false;
            decodeEscapes(text_);
            authors_.push_back(utf8ToUtf16(text_));
        } else if (name == "t") {
            collectText = false;
        } else if (depth == 3 && name == "comment") {
            inComment_ = false;
            decodeEscapes(text_);
            Comment c{utf8ToUtf16(text_), author_ >= 0 ? authors_[author_] : std::u16string()};
            sheet_.setCommentForLoad(cell_.row, cell_.column, std::move(c));
        }
    }
    void onText(std::string_view text) override {
        if (text_.size() + text.size() > kMaxTextBytes) fail("a comment is too long");
        text_.append(text);
    }

    Sheet& sheet_;
    std::vector<std::u16string> authors_;
    std::string text_;
    CellRef cell_;
    int author_ = -1;
    bool inComment_ = false;
    int skipDepth_ = 0;
};

}  // namespace

void readComments(std::string_view xml, const std::string& partName, Sheet& sheet, const ReadLimits& limits) {
    CommentsReader reader(sheet);
    reader.parse(xml, partName, limits.maxXmlDepth);
}

std::string writeComments(const Sheet& sheet) {
    const auto comments = sheet.sortedComments();
    std::map<std::u16string, std::size_t> authorIds;
    std::vector<const std::u16string*> authors;
    for (const auto& [key, note] : comments)
        if (authorIds.emplace(note->author, authors.size()).second) authors.push_back(&note->author);
    std::string out;
    out.reserve(comments.size() * 96 + 512);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<comments xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><authors>";
    for (const auto* a : authors) {
        out += "<author>";
        appendEscaped(out, utf16ToUtf8(*a));
        out += "</author>";
    }
    out += "</authors><commentList>";
    // Notes mostly share their author: the last one's number is reused.
    const std::u16string* lastAuthor = nullptr;
    std::size_t lastAuthorId = 0;
    for (const auto& [key, note] : comments) {
        auto row = static_cast<std::int32_t>(key >> 16);
        auto column = static_cast<std::int32_t>(key & 0xFFFF);
        if (!lastAuthor || note->author != *lastAuthor) {
            lastAuthor = &note->author;
            lastAuthorId = authorIds[note->author];
        }
        char head[96];
        char* p = head;
        auto put = [&p](std::string_view s) {
            std::memcpy(p, s.data(), s.size());
            p += s.size();
        };
        put("<comment ref=\"");
        p = putCellRef(p, row, column);
        put("\" authorId=\"");
        p = std::to_chars(p, p + 20, lastAuthorId).ptr;
        put("\"><text><t xml:space=\"preserve\">");
        out.append(head, p);
        const std::size_t textStart = out.size();
        appendEscapedText(out, note->text);
        if (out.size() - textStart > kMaxTextBytes)
            throw XlsxError("the note of cell " + cellRefText(row, column) + " of sheet '" + utf16ToUtf8(sheet.name()) +
                            "' is longer than the " + std::to_string(kMaxTextBytes >> 20) +
                            " MB a note may be to be read again");
        out += "</t></text></comment>";
    }
    out += "</commentList></comments>";
    return out;
}

}  // namespace sheet::xlsx
