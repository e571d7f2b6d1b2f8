// The package XML reader on its own: what part readers are handed (namespaces,
// attribute values and text as XML defines them, byte positions of elements) and
// which documents it refuses, with the line.
#include "sheet/xlsx/XlsxError.h"
#include "sheet/xlsx/XmlReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sheet::xlsx {
namespace {

// Writes every event as a line, so a test compares one text.
class Recorder : public XmlReader {
public:
    std::vector<std::string> events;
    bool textEverywhere = true;

    std::string run(std::string_view doc, int maxDepth = 64) {
        parse(doc, "part.xml", maxDepth);
        std::string all;
        for (const auto& e : events) all += e + "\n";
        return all;
    }

private:
    void onStart(const XmlElement& e) override {
        std::string line = "<" + std::string(e.ns) + "|" + std::string(e.name) + "|" + std::string(e.prefix) + " d" +
                           std::to_string(e.depth) + " @" + std::to_string(e.offset) + "-" +
                           std::to_string(e.startTagEnd);
        for (const auto& a : *e.attributes)
            line += " " + std::string(a.ns) + "|" + std::string(a.name) + "=[" + std::string(a.value) + "]";
        flushText();
        events.push_back(line);
        collectText = textEverywhere;
    }
    void onEnd(std::string_view ns, std::string_view name, int depth, std::size_t endOffset) override {
        flushText();
        events.push_back(">" + std::string(ns) + "|" + std::string(name) + " d" + std::to_string(depth) + " @" +
                         std::to_string(endOffset));
    }
    void onText(std::string_view text) override { pending_ += text; }
    void flushText() {
        if (!pending_.empty()) events.push_back("text [" + pending_ + "]");
        pending_.clear();
    }
    std::string pending_;
};

std::string failureOf(std::string_view doc, int maxDepth = 64) {
    Recorder r;
    try {
        r.run(doc, maxDepth);
    } catch (const XlsxError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(XmlReaderTest, ElementsArriveWithNamespacesPositionsAndValuesAsXmlReadsThem) {
    std::string doc =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<!-- a comment before the root -->"
        "<w xmlns=\"urn:main\" xmlns:r=\"urn:rel\" r:id=\"rId1\" plain='a &amp; b&#x41;&#66;'>"
        "<r:x xml:space=\"preserve\" v=\"tab\there\r\nand line\"/>"
        "<y>1 &lt; 2<![CDATA[<raw> & ]]>x\r\ny\rz</y>"
        "<z xmlns=\"\"><?pi data?><!-- c --></z>"
        "</w>\n";
    Recorder r;
    std::string out = r.run(doc);
    std::size_t root = doc.find("<w ");
    std::size_t x = doc.find("<r:x");
    std::size_t y = doc.find("<y>");
    std::size_t z = doc.find("<z ");
    std::string expected = "<urn:main|w| d1 @" + std::to_string(root) + "-" + std::to_string(x) +
                           " urn:rel|id=[rId1] |plain=[a & bAB]\n"
                           "<urn:rel|x|r d2 @" +
                           std::to_string(x) + "-" + std::to_string(y) +
                           " http://www.w3.org/XML/1998/namespace|space=[preserve] |v=[tab here and line]\n"
                           ">urn:rel|x d2 @" +
                           std::to_string(y) +
                           "\n"
                           "<urn:main|y| d2 @" +
                           std::to_string(y) + "-" + std::to_string(y + 3) +
                           "\n"
                           "text [1 < 2<raw> & x\ny\nz]\n"
                           ">urn:main|y d2 @" +
                           std::to_string(z) +
                           "\n"
                           "<|z| d2 @" +
                           std::to_string(z) + "-" + std::to_string(doc.find("<?pi")) +
                           "\n"
                           ">|z d2 @" +
                           std::to_string(doc.find("</w>")) +
                           "\n"
                           ">urn:main|w d1 @" +
                           std::to_string(doc.find("</w>") + 4) + "\n";
    EXPECT_EQ(out, expected);
}

TEST(XmlReaderTest, TextIsHandedOverOnlyWhileAskedFor) {
    Recorder r;
    r.textEverywhere = false;
    EXPECT_EQ(r.run("<a>skipped &amp; all<b/>too</a>"), "<|a| d1 @0-3\n<|b| d2 @20-24\n>|b d2 @24\n>|a d1 @31\n");
}

TEST(XmlReaderTest, MalformedOrRefusedDocumentsFailNamingPartAndLine) {
    struct Case {
        const char* what;
        std::string doc;
        const char* message;
    } cases[] = {
        {"unclosed root", "<a>\n<b>", "part.xml line 2: no element found"},
        {"empty document", "", "line 1: no element found"},
        {"mismatched end tag", "<a>\n\n<b></a></b>", "line 3: mismatched tag"},
        {"duplicate attribute", "<a x='1' x='2'/>", "duplicate attribute"},
        {"same attribute through two prefixes", "<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>", "duplicate attribute"},
        {"unbound prefix", "<p:a/>", "unbound prefix"},
        {"unbound attribute prefix", "<a p:x='1'/>", "unbound prefix"},
        {"undefined entity", "<a>&nbsp;</a>", "undefined entity"},
        {"reference to a control character", "<a>&#1;</a>", "invalid character number"},
        {"reference beyond Unicode", "<a>&#x110000;</a>", "invalid character number"},
        {"bare ampersand", "<a>fish & chips</a>", "line 1"},
        {"less-than in a value", "<a x='<'/>", "invalid token"},
        {"CDATA end in text", "<a>x]]>y</a>", "invalid token"},
        {"control character", std::string("<a>\x01</a>"), "invalid token"},
        {"invalid UTF-8", "<a>\xC3\x28</a>", "invalid token"},
        {"overlong UTF-8", "<a>\xC0\xAF</a>", "invalid token"},
        {"UTF-8 surrogate", "<a>\xED\xA0\x80</a>", "invalid token"},
        {"truncated UTF-8", "<a>\xE2\x82", "invalid token"},
        {"text before the root", "x<a/>", "text outside the root element"},
        {"second root", "<a/><b/>", "junk after document element"},
        {"text after the root", "<a/>\n\nx", "line 3: junk after document element"},
        {"document type", "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", "document type declaration is not allowed"},
        {"document type inside", "<a><!DOCTYPE a></a>", "document type declaration is not allowed"},
        {"unclosed comment", "<a><!-- x</a>", "unclosed token"},
        {"unclosed CDATA", "<a><![CDATA[x</a>", "unclosed CDATA"},
        {"unclosed attribute", "<a x='1/>", "unclosed token"},
        {"attribute without value", "<a x/>", "invalid token"},
        {"attributes run together", "<a x='1'y='2'/>", "invalid token"},
        {"name ending in a colon", "<a x:='1'/>", "invalid token"},
        {"name starting with a colon", "<:a/>", "invalid token"},
        {"name with two colons", "<a:b:c xmlns:a='u'/>", "invalid token"},
        {"name starting with a digit", "<a><1b/></a>", "invalid token"},
        {"name with a quote", "<a\"b/>", "invalid token"},
        {"too deep", "<a><a><a><a></a></a></a></a>", "nested deeper than 3 levels"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        std::string message = failureOf(k.doc, 3);
        EXPECT_NE(message.find(k.message), std::string::npos) << message;
        EXPECT_EQ(message.rfind("part.xml line ", 0), 0u) << message;
    }
}

// An element with very many attributes is read (or refused) in about linear time.
TEST(XmlReaderTest, ManyAttributesAreCheckedForDuplicatesWithoutQuadraticWork) {
    std::string doc = "<a";
    for (int i = 0; i < 200000; ++i) doc += " a" + std::to_string(i) + "='1'";
    Recorder r;
    r.textEverywhere = false;
    EXPECT_NO_THROW(r.run(doc + "/>"));
    EXPECT_NE(failureOf(doc + " a7='2'/>").find("duplicate attribute"), std::string::npos);

    std::string spaces = "<a";
    for (int i = 0; i < 300; ++i) spaces += " xmlns:p" + std::to_string(i) + "='urn:" + std::to_string(i) + "'";
    EXPECT_NE(failureOf(spaces + "/>").find("more than 256 namespace declarations"), std::string::npos);
}

// A reader's own failure names the line of the element it was handed.
TEST(XmlReaderTest, FailuresRaisedByAPartReaderNameTheElementsLine) {
    class Picky : public XmlReader {
    public:
        void onStart(const XmlElement& e) override {
            if (e.name == "bad") fail("no <bad> here");
        }
        void onEnd(std::string_view, std::string_view, int, std::size_t) override {}
    } picky;
    try {
        picky.parse("<a>\n<ok/>\n\n<bad/></a>", "x.xml", 8);
        FAIL() << "no error";
    } catch (const XlsxError& e) {
        EXPECT_STREQ(e.what(), "x.xml line 4: no <bad> here");
    }
}

}  // namespace
}  // namespace sheet::xlsx
