// Streaming reader for the package's XML parts: elements arrive with their
// namespace, local name, attributes and byte position, so a part reader can keep
// child elements it does not model as their original text. Documents with a
// document type declaration, and nesting deeper than the limit, are refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sheet::xlsx {

class XmlScanner;

namespace ns {
constexpr std::string_view main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view packageRel = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view contentTypes = "http://schemas.openxmlformats.org/package/2006/content-types";
}  // namespace ns

struct XmlAttribute {
    std::string_view ns;
    std::string_view name;
    std::string_view prefix;
    std::string_view value;
};

struct XmlElement {
    std::string_view ns;
    std::string_view name;
    std::string_view prefix;
    const std::vector<XmlAttribute>* attributes;
    int depth;                // the root is 1
    std::size_t offset;       // of '<' in the document
    std::size_t startTagEnd;  // one past the start tag's '>'

    // The value of an attribute without namespace (or in namespace attrNs); null
    // when absent.
    const std::string_view* attr(std::string_view attrName, std::string_view attrNs = {}) const;
};

class XmlReader {
public:
    virtual ~XmlReader() = default;

    // Parses a whole document. Throws XlsxError "part line N: message" for malformed
    // XML, a refused construct, or a failure raised by a handler through fail().
    void parse(std::string_view document, const std::string& partName, int maxDepth);

protected:
    virtual void onStart(const XmlElement& element) = 0;
    // endOffset is one past the element's last byte.
    virtual void onEnd(std::string_view ns, std::string_view name, int depth, std::size_t endOffset) = 0;
    // Text is delivered only while collectText is true (in pieces; append them).
    virtual void onText(std::string_view text) { (void)text; }
    bool collectText = false;

    // Stops the parse with a message for the current line.
    [[noreturn]] void fail(const std::string& message);
    std::string_view document() const noexcept { return document_; }
    // In onEnd: where the element's content ends, the '<' of its end tag (the end of
    // its start tag for an empty-element tag). What lies between the start tag's end
    // and this offset is the element's content, whole and well-formed.
    std::size_t contentEnd() const noexcept { return contentEnd_; }
    // The prefixed namespace declarations in scope at the current element (in
    // onEnd too: an element's own declarations last until its end), as
    // attributes (` xmlns:x="..."`): what a fragment copied out of this document
    // needs to mean the same under another root. (Its unprefixed names keep to the
    // default namespace of wherever it is put: the spreadsheet's own, as here.)
    std::string prefixDeclarationsInScope() const;

private:
    friend class XmlScanner;
    std::string_view document_;
    std::string partName_;
    XmlScanner* scanner_ = nullptr;
    std::size_t contentEnd_ = 0;
};

// XML text escaping for the writers.
// Element text; control characters become the file format's _xHHHH_ escapes.
void appendEscaped(std::string& out, std::string_view text);
// The same for UTF-16 text, written as UTF-8.
void appendEscapedText(std::string& out, std::u16string_view text);
// Undoes those escapes in text read from a string item.
void decodeEscapes(std::string& text);
void appendEscapedAttribute(std::string& out, std::string_view text);  // inside "..."

}  // namespace sheet::xlsx
