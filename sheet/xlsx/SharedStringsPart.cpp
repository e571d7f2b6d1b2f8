#include "sheet/xlsx/SharedStringsPart.h"

#include "sheet/Automation.h"
#include "sheet/xlsx/XmlReader.h"

namespace sheet::xlsx {
namespace {

class SharedStringsReader : public XmlReader {
public:
    explicit SharedStringsReader(StringPool& pool) : pool_(pool) {}

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "sst") fail("the root element is <" + std::string(e.name) + ">, not <sst>");
        if (e.depth == 2 && e.name == "si") {
            text_.clear();
            isRich_ = false;
            itemStart_ = e.startTagEnd;
        } else if (e.depth >= 3) {
            if (e.name == "rPh" || e.name == "phoneticPr") {
                isRich_ = true;
                if (skipDepth_ == 0) skipDepth_ = e.depth;
            } else if (e.name == "r") {
                isRich_ = true;
            } else if (e.name == "t" && skipDepth_ == 0) {
                collectText = true;
            }
        }
    }
    void onEnd(std::string_view, std::string_view name, int depth, std::size_t) override {
        if (depth == skipDepth_) skipDepth_ = 0;
        if (name == "t") collectText = false;
        if (depth == 2 && name == "si") {
            decodeEscapes(text_);
            std::string raw;
            if (isRich_) {
                // The item's runs and phonetic parts, whole, with the namespaces
                // they were written under.
                raw = richItem(prefixDeclarationsInScope(), document().substr(itemStart_, contentEnd() - itemStart_));
            }
            pool_.addFromFile(utf8ToUtf16(text_), std::move(raw));
        }
    }
    void onText(std::string_view text) override {
        if (text_.size() + text.size() > kMaxTextBytes) fail("a shared string is too long");
        text_.append(text);
    }

    StringPool& pool_;
    std::string text_;
    bool isRich_ = false;
    int skipDepth_ = 0;
    std::size_t itemStart_ = 0;
};

}  // namespace

std::string richItem(std::string_view declarations, std::string_view content) {
    std::string item;
    item.reserve(content.size() + declarations.size() + 9);
    item.append("<si").append(declarations).append(">").append(content).append("</si>");
    return item;
}

void readSharedStrings(std::string_view xml, const std::string& partName, StringPool& pool, const ReadLimits& limits) {
    SharedStringsReader reader(pool);
    reader.parse(xml, partName, limits.maxXmlDepth);
}

std::string writeSharedStrings(const StringPool& pool, const StringPool::Layout& layout) {
    std::size_t count = pool.fileCount() + layout.written.size();
    std::string out;
    out.reserve(count * 24 + 256);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"";
    out += std::to_string(count);
    out += "\" uniqueCount=\"";
    out += std::to_string(count);
    out += "\">";
    auto write = [&](std::uint32_t id) {
        const std::string& rich = pool.richXml(id);
        if (!rich.empty()) {
            out += rich;
        } else {
            out += "<si>";
            // Spaces and line breaks are single units in either encoding: looked for
            // in the text as it is kept.
            const std::u16string_view text = pool.text(id);
            bool keepSpace = !text.empty() && (text.front() == u' ' || text.back() == u' ' || text.front() == u'\t' ||
                                               text.back() == u'\t' || text.find(u'\n') != std::u16string_view::npos);
            out += keepSpace ? "<t xml:space=\"preserve\">" : "<t>";
            appendEscapedText(out, text);
            out += "</t></si>";
        }
    };
    for (std::uint32_t id = 0; id < pool.fileCount(); ++id) write(id);
    for (std::uint32_t id : layout.written) write(id);
    out += "</sst>";
    return out;
}

}  // namespace sheet::xlsx
