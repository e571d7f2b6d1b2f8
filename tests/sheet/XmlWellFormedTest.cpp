// Constructs XML does not allow are refused, and long character references that it
// does allow are read: comments holding "--", processing instructions without a
// target, with a colon in the target, or with the reserved "xml" target elsewhere
// than the start, a malformed XML declaration, a prefix declared twice on one
// element (among few declarations or many), and the reserved namespace prefixes
// bound to other names.
#include "sheet/xlsx/XlsxError.h"
#include "sheet/xlsx/XmlReader.h"

#include <gtest/gtest.h>

#include <string>

namespace sheet::xlsx {
namespace {

class TextOf : public XmlReader {
public:
    TextOf() { collectText = true; }
    std::string text;

private:
    void onStart(const XmlElement&) override {}
    void onEnd(std::string_view, std::string_view, int, std::size_t) override {}
    void onText(std::string_view t) override { text += t; }
};

bool reads(std::string_view doc) {
    TextOf r;
    try {
        r.parse(doc, "part.xml", 64);
    } catch (const XlsxError&) {
        return false;
    }
    return true;
}

TEST(XmlWellFormed, RefusesWhatXmlDoesNotAllow) {
    EXPECT_FALSE(reads("<a><!-- a -- b --></a>"));
    EXPECT_FALSE(reads("<a><!-- a ---></a>"));
    EXPECT_FALSE(
        reads("<?"
              "?><a/>"));
    EXPECT_FALSE(reads("<a/><?xml version=\"1.0\"?>"));
    EXPECT_FALSE(reads("<a><?XML x?></a>"));
    // With namespaces, a target is a name without colons.
    EXPECT_FALSE(reads("<?a:b x?><a/>"));
    EXPECT_FALSE(reads("<a/><?x:?>"));
    EXPECT_FALSE(reads("<?xml .0\"?><a/>"));
    EXPECT_FALSE(reads("<?xml?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"1.0\" encoding= ?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"1.0\" encoding=\r\r?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"1.0\" standalone=?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"1.0\" encoding=\"UTF-8?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"1.0\" standalone=\"maybe\"?><a/>"));
    EXPECT_FALSE(reads("<?xml version=\"9.:\"?><a/>"));
    EXPECT_FALSE(reads("<a xmlns:p=\"http://x\" xmlns:p=\"http://y\"/>"));
    EXPECT_FALSE(reads("<a xmlns=\"http://x\" xmlns=\"http://x\"/>"));
    std::string many = "<a";
    for (int i = 0; i < 40; ++i) many += " xmlns:p" + std::to_string(i) + "=\"http://x\"";
    EXPECT_TRUE(reads(many + "/>"));
    EXPECT_FALSE(reads(many + " xmlns:p7=\"http://y\"/>"));
    EXPECT_FALSE(reads("<a xmlns:xml=\"http://x\"/>"));
    EXPECT_FALSE(reads("<a xmlns:xmlns=\"http://x\"/>"));
    EXPECT_FALSE(reads("<a xmlns:p=\"http://www.w3.org/XML/1998/namespace\"/>"));
}

TEST(XmlWellFormed, ReadsWhatXmlAllows) {
    EXPECT_TRUE(reads("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<a><!----><?pi x?></a>"));
    EXPECT_TRUE(reads("\xEF\xBB\xBF<?xml version='1.0'?><a/>"));
    EXPECT_TRUE(reads("<a xmlns:xml=\"http://www.w3.org/XML/1998/namespace\"/>"));
    TextOf r;
    r.parse("<a>&#x00000000041;&#0000000000066;</a>", "part.xml", 64);
    EXPECT_EQ(r.text, "AB");
}

}  // namespace
}  // namespace sheet::xlsx
