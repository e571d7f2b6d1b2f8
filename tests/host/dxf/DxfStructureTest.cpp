// The structure of a file: sections, the range and lines of each object, the facts
// read from an object's own tags, and structural faults refused with their line.
#include "host/dxf/DxfStructure.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string withEol(std::string_view lf, std::string_view eol) {
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += eol;
        else
            out += c;
    }
    return out;
}

// The `n`th tag (from 0) read from `offset` on.
dxf::Tag tagAt(std::string_view text, std::size_t offset, int n = 0) {
    dxf::Tokenizer tok(text, offset, dxf::ValueCheck::Trust);
    dxf::Tag t;
    for (int i = 0; i <= n; ++i) EXPECT_TRUE(tok.next(t));
    return t;
}

std::string refusal(const std::string& text) {
    try {
        dxf::StructureReader reader(text);
        while (reader.nextSection())
            for (dxf::ObjectRange o; reader.nextObject(o);) {
            }
    } catch (const dxf::DxfError& e) {
        return e.what();
    }
    return "not refused";
}

}  // namespace

TEST(DxfStructure, SectionsAndObjectsWithTheirRangesAndLines) {
    const char* lf =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n"  // lines 1-10
        "0\nSECTION\n2\nTABLES\n"                                     // 11-14
        "0\nTABLE\n2\nLAYER\n5\n2\n"                                  // 15-20
        "0\nLAYER\n2\nWalls\n70\n0\n"                                 // 21-26
        "0\nENDTAB\n0\nENDSEC\n"                                      // 27-30
        "0\nSECTION\n2\nENTITIES\n"                                   // 31-34
        "0\nTEXT\n5\n2A\n1\nhello\n"                                  // 35-40
        "0\nENDSEC\n0\nEOF\n";                                        // 41-44
    for (std::string eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol.size() == 1 ? "LF" : "CRLF");
        std::string text = withEol(lf, eol);
        struct Seen {
            std::string section, type;
            std::size_t firstLine, lastLine;
        };
        std::vector<Seen> seen;
        std::vector<std::pair<std::size_t, std::size_t>> sectionLines;  // SECTION, ENDSEC
        dxf::StructureReader reader(text);
        while (reader.nextSection()) {
            const dxf::Section& s = reader.section();
            EXPECT_EQ(tagAt(text, s.begin).value, "SECTION");
            EXPECT_EQ(tagAt(text, s.begin, 1).end, s.bodyBegin) << "the body starts after the name";
            std::size_t expectedBegin = 0;
            for (dxf::ObjectRange o; reader.nextObject(o);) {
                seen.push_back({std::string(s.name), std::string(o.type), o.firstLine, o.lastLine});
                dxf::Tag head = tagAt(text, o.begin);
                EXPECT_EQ(head.code, 0);
                EXPECT_EQ(head.value, o.type);
                EXPECT_EQ(head.end, o.bodyBegin);
                if (expectedBegin) {
                    EXPECT_EQ(o.begin, expectedBegin) << "objects follow each other without a gap";
                }
                expectedBegin = o.end;
            }
            EXPECT_EQ(tagAt(text, s.endsecBegin).value, "ENDSEC");
            if (expectedBegin) {
                EXPECT_EQ(s.endsecBegin, expectedBegin) << "the last object ends at ENDSEC";
            }
            sectionLines.emplace_back(s.line, s.endsecLine);
        }
        std::vector<std::pair<std::size_t, std::size_t>> expectedSections{{1, 9}, {11, 29}, {31, 41}};
        EXPECT_EQ(sectionLines, expectedSections);
        ASSERT_EQ(seen.size(), 4u);
        const Seen expected[] = {{"TABLES", "TABLE", 15, 20},
                                 {"TABLES", "LAYER", 21, 26},
                                 {"TABLES", "ENDTAB", 27, 28},
                                 {"ENTITIES", "TEXT", 35, 40}};
        for (std::size_t i = 0; i < seen.size(); ++i) {
            SCOPED_TRACE(expected[i].type);
            EXPECT_EQ(seen[i].section, expected[i].section);
            EXPECT_EQ(seen[i].type, expected[i].type);
            EXPECT_EQ(seen[i].firstLine, expected[i].firstLine);
            EXPECT_EQ(seen[i].lastLine, expected[i].lastLine);
        }
    }
}

// Name, handle and space come from an object's own tags only: not from embedded
// object data, not from extended data.
TEST(DxfStructure, FactsComeFromTheObjectsOwnTags) {
    struct Case {
        const char* what;
        std::string body;  // tags after "0\nINSERT\n"
        std::optional<std::string> name;
        std::uint64_t handle;
        bool paperSpace;
        std::size_t malformedLine;  // 0: none
        const char* ownCodes;
    } cases[] = {
        {"plain", "5\n2F\n67\n1\n2\nDOOR\n", "DOOR", 0x2F, true, 0, "5 67 2 "},
        {"the first group 2 names it", "2\n\n2\nDOOR\n", "", 0, false, 0, "2 2 "},
        {"the null handle does not count", "5\n0\n5\n1A\n", std::nullopt, 0x1A, false, 0, "5 5 "},
        {"105 as DIMSTYLE entries give it", "105\n3B\n", std::nullopt, 0x3B, false, 0, "105 "},
        {"embedded data is not the object's", "8\n0\n101\nEmbedded Object\n2\nX\n5\n77\n67\n1\n", std::nullopt, 0,
         false, 0, "8 "},
        {"extended data is not the object's", "1001\nAPP\n1000\nx\n5\nAA\n", std::nullopt, 0xAA, false, 0, "5 "},
        {"67 of 0 is model space", "67\n0\n", std::nullopt, 0, false, 0, "67 "},
        {"a malformed handle before the handle", "5\nZZ\n5\n1A\n", std::nullopt, 0, false, 7, "5 5 "},
        {"a malformed handle after it is not looked at", "5\n1A\n5\nZZ\n", std::nullopt, 0x1A, false, 0, "5 5 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = "0\nSECTION\n2\nENTITIES\n0\nINSERT\n" + c.body + "0\nENDSEC\n0\nEOF\n";
        dxf::StructureReader reader(text);
        ASSERT_TRUE(reader.nextSection());
        dxf::ObjectRange o;
        ASSERT_TRUE(reader.nextObject(o));
        EXPECT_EQ(o.name, c.name);
        EXPECT_EQ(o.handle, c.handle);
        EXPECT_EQ(o.paperSpace, c.paperSpace);
        EXPECT_EQ(o.malformedHandle ? o.malformedHandle->line : 0u, c.malformedLine);
        // The same tags walked again.
        std::string own;
        dxf::OwnTags tags(text, o);
        for (dxf::Tag t; tags.next(t);) own += std::to_string(t.code) + " ";
        EXPECT_EQ(own, c.ownCodes);
        EXPECT_FALSE(reader.nextObject(o));
    }
}

TEST(DxfStructure, StructuralFaultsNameTheirLine) {
    struct Case {
        std::string text;
        const char* expected;
    } cases[] = {
        {"0\nSECTION\n2\nENTITIES\n0\nLINE\n0\nSECTION\n2\nX\n",
         "line 7: SECTION inside the section that began at line 1"},
        {"0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nENDSEC\n", "line 7: ENDSEC without SECTION"},
        {"0\nSECTION\n2\nBLOCKS\n0\nEOF\n", "line 5: EOF inside the section that began at line 1"},
        {"0\nSECTION\n8\nX\n", "line 4: SECTION without its name (group code 2)"},
        {"0\nSECTION\n", "line 2: SECTION without its name (group code 2)"},
        {"0\nSECTION\n2\nTABLES\n0\nTABLE\n70\n1\n", "line 8: TABLE without its name (group code 2)"},
        {"0\nSECTION\n2\nHEADER\n0\nENDSEC\n9\n$X\n", "line 7: group code 9 outside a section"},
        {"0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n", "line 8: the file ends inside the section that began at line 1"},
        {"0\nSECTION\n2\nTHUMBNAILIMAGE\n0\nENDSEC\n0\nX\n", "line 7: group 0 'X' outside a section"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(refusal(c.text), c.expected);
    }
    // A TABLE outside TABLES is an object like any other; a text may stop between
    // sections without EOF.
    EXPECT_EQ(refusal("0\nSECTION\n2\nOBJECTS\n0\nTABLE\n70\n1\n0\nENDSEC\n"), "not refused");
}

// Over every drawing of the corpus: the objects of each section follow one another
// without a gap from its first group 0 to its ENDSEC, and every group 0 inside a
// section other than ENDSEC begins an object.
TEST(DxfStructure, ObjectsTileEverySectionOfTheCorpus) {
    std::vector<fs::path> files = tabro::testing::corpusFiles("corpus/dxf", ".dxf");
    for (fs::path& fixture : tabro::testing::filesIn(fs::path(TABLORA_FIXTURES_DIR) / "dxf", ".dxf"))
        files.push_back(std::move(fixture));
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        std::string text = tabro::testing::readFile(f);
        if (dxf::isBinaryDxf(text)) continue;
        std::size_t groupZeros = 0;  // inside sections, SECTION and ENDSEC excepted
        {
            dxf::Tokenizer tok(text);
            bool inSection = false;
            for (dxf::Tag t; tok.next(t);) {
                if (t.code != 0) continue;
                if (t.value == "SECTION")
                    inSection = true;
                else if (t.value == "ENDSEC")
                    inSection = false;
                else
                    groupZeros += inSection;
            }
        }
        std::size_t objects = 0;
        dxf::StructureReader reader(text);
        while (reader.nextSection()) {
            std::size_t next = 0, nextLine = 0;
            for (dxf::ObjectRange o; reader.nextObject(o);) {
                ++objects;
                if (next) {
                    ASSERT_EQ(o.begin, next);
                    ASSERT_EQ(o.firstLine, nextLine);
                }
                ASSERT_LT(o.begin, o.bodyBegin);
                ASSERT_LE(o.bodyBegin, o.end);
                next = o.end;
                nextLine = o.lastLine + 1;
            }
            if (next) {
                EXPECT_EQ(reader.section().endsecBegin, next);
                EXPECT_EQ(reader.section().endsecLine, nextLine);
            }
        }
        EXPECT_EQ(objects, groupZeros);
    }
}

// Objects read one after another into the same range keep nothing of the one before,
// and an attribute's or reference's noted values are those of its own first tags of
// each code (an attribute: its text and tag only), as a walk over its own tags finds.
TEST(DxfStructure, NotedValuesAreTheOwnTagsAndNothingCarriesOver) {
    const std::string bodies[] = {
        "INSERT\n5\n2F\n67\n1\n8\nL\n2\nDOOR\n10\n1\n20\n2\n30\n3\n41\n2\n42\n3\n43\n4\n50\n90\n",
        "LINE\n8\n0\n10\n0\n",
        "INSERT\n2\nB\n10\n1\n10\n9\n210\n0\n220\n0\n230\n-1\n101\nEmbedded Object\n8\nX\n",
        "ATTRIB\n5\nZZ\n8\nL\n10\n1\n1\nvalue\n2\nTAG\n1\nsecond\n1001\nAPP\n1000\nx\n",
        "INSERT\n1001\nAPP\n1000\n2\n",
        "ATTRIB\n2\nT\n101\nEmbedded Object\n1\nnot the outer text\n",
        "SEQEND\n",
    };
    std::string text = "0\nSECTION\n2\nENTITIES\n";
    for (const std::string& b : bodies) text += "0\n" + b;
    text += "0\nENDSEC\n0\nEOF\n";
    dxf::StructureReader reader(text);
    ASSERT_TRUE(reader.nextSection());
    dxf::ObjectRange o;
    for (const std::string& b : bodies) {
        SCOPED_TRACE(b.substr(0, b.find('\n')) + " at " + std::to_string(&b - bodies));
        ASSERT_TRUE(reader.nextObject(o));
        const bool reference = o.type == "INSERT", attribute = o.type == "ATTRIB";
        std::array<std::uint32_t, dxf::kNotedCodeCount> expected{};
        bool extrusion = false, embedded = false, handle = false, name = false, paper = false;
        dxf::OwnTags tags(text, o);
        for (dxf::Tag t; tags.next(t);) {
            const int n = dxf::notedCodeOf(t.code);
            if (n >= 0 && (reference || (attribute && (n == dxf::nText || n == dxf::nName))) && expected[n] == 0)
                expected[n] = static_cast<std::uint32_t>(t.valueBegin - o.begin);
            extrusion |= reference && (t.code == 210 || t.code == 220 || t.code == 230);
            handle |= t.code == 5 && t.value != "ZZ";
            name |= t.code == 2;
            paper |= t.code == 67;
        }
        dxf::Tokenizer all(std::string_view(text).substr(0, o.end), o.bodyBegin);
        for (dxf::Tag t; all.next(t) && t.code < 1000;) embedded |= (reference || attribute) && t.code == 101;
        EXPECT_EQ(o.valueAt, expected);
        EXPECT_EQ(o.extrusion, extrusion);
        EXPECT_EQ(o.embeddedData, embedded);
        EXPECT_EQ(o.handle != 0, handle);
        EXPECT_EQ(o.malformedHandle.has_value(), b.find("ZZ") != std::string::npos);
        EXPECT_EQ(o.name.has_value(), name);
        EXPECT_EQ(o.paperSpace, paper);
    }
    EXPECT_FALSE(reader.nextObject(o));
}
