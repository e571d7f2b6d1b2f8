// Tags as the tokenizer splits them, whatever the layout of their two lines, and the
// text values the code page decoder gives for plain ASCII, escapes and other bytes
// wherever they stand in a value.
#include "host/dxf/DxfCodePage.h"
#include "host/dxf/DxfTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Read {
    std::vector<dxf::Tag> tags;
    std::string error;
    std::size_t errorLine = 0;
};

Read readAll(std::string_view text) {
    Read r;
    try {
        dxf::Tokenizer tok(text);
        for (dxf::Tag t; tok.next(t);) r.tags.push_back(t);
    } catch (const dxf::DxfError& e) {
        r.error = e.what();
        r.errorLine = e.line();
    }
    return r;
}

}  // namespace

TEST(DxfTokenizer, EveryLayoutOfATagReadsTheSame) {
    const char* codeLines[] = {"10", "  10", "10 ", "10\t", " 10 \t ", "000010", "               10"};
    const std::string values[] = {"", "1.5", " 2.5 ", "12345678.25", std::string(40, '7') + ".5"};
    for (const char* eol : {"\n", "\r\n"}) {
        for (const char* code : codeLines) {
            for (const std::string& value : values) {
                const std::string first = std::string(code) + eol + value + eol;
                const std::string text = first + "  0" + eol + "EOF" + eol;
                SCOPED_TRACE("code '" + std::string(code) + "' value '" + value + "' eol " + (eol[1] ? "CRLF" : "LF"));
                Read r = readAll(text);
                if (value.empty()) {
                    // An empty value is no real number.
                    EXPECT_EQ(r.errorLine, 2u) << r.error;
                    continue;
                }
                ASSERT_EQ(r.tags.size(), 2u) << r.error;
                const dxf::Tag& t = r.tags[0];
                EXPECT_EQ(t.code, 10);
                EXPECT_EQ(t.value, value);
                EXPECT_EQ(t.begin, 0u);
                EXPECT_EQ(t.valueBegin, std::string(code).size() + std::string(eol).size());
                EXPECT_EQ(t.end, first.size());
                EXPECT_EQ(t.line, 1u);
                EXPECT_EQ(r.tags[1].code, 0);
                EXPECT_EQ(r.tags[1].value, "EOF");
                EXPECT_EQ(r.tags[1].line, 3u);
                EXPECT_EQ(r.tags[1].begin, first.size());
            }
        }
    }
    // Negative codes, a carriage return inside a value, a last value without its line end.
    Read r = readAll("-5\n{ACAD_REACTORS\n1\na\rb\r\n1\nlast");
    ASSERT_EQ(r.tags.size(), 3u) << r.error;
    EXPECT_EQ(r.tags[0].code, -5);
    EXPECT_EQ(r.tags[1].value, "a\rb");
    EXPECT_EQ(r.tags[2].value, "last");
    EXPECT_EQ(r.tags[2].end, std::string_view("-5\n{ACAD_REACTORS\n1\na\rb\r\n1\nlast").size());
}

// Every group code a file may use reads as itself however it is laid out: with any
// number of blanks before it, leading zeros to six digits, either line end, and a
// following tag in the same eight bytes or not.
TEST(DxfTokenizer, EveryCodeReadsAsItselfInEveryLayout) {
    for (int code = dxf::kMinGroupCode; code <= dxf::kMaxGroupCode; ++code) {
        const std::string digits = std::to_string(code < 0 ? -code : code);
        for (std::size_t width = digits.size(); width <= 6; ++width) {
            const std::string number = (code < 0 ? "-" : "") + std::string(width - digits.size(), '0') + digits;
            for (std::size_t blanks = 0; blanks <= 8; ++blanks) {
                for (const char* eol : {"\n", "\r\n"}) {
                    const std::string line = std::string(blanks, ' ') + number + eol;
                    const std::string text = line + "7" + eol + line + "x" + eol;
                    dxf::Tokenizer tok(text, 0, dxf::ValueCheck::Trust);
                    dxf::Tag t;
                    ASSERT_TRUE(tok.next(t)) << line;
                    ASSERT_EQ(t.code, code) << '\'' << line << '\'';
                    ASSERT_EQ(t.valueBegin, line.size()) << line;
                    ASSERT_EQ(t.value, "7");
                    ASSERT_TRUE(tok.next(t)) << line;
                    ASSERT_EQ(t.code, code) << line;
                    ASSERT_EQ(t.value, "x");
                }
            }
        }
    }
}

TEST(DxfTokenizer, MalformedCodeLinesAreRefusedOnTheirLine) {
    // (Bytes next to the digits: '/' and ':'.)
    for (const char* code : {"1234567", "1072", "-6", "1 0", "\t10", "10\r\r", "x", "+10", "10-", "1:", "/1", "  1/0",
                             "00:10", "9999999"}) {
        SCOPED_TRACE(code);
        Read r = readAll(std::string("0\nSECTION\n") + code + "\n1.0\n");
        EXPECT_EQ(r.errorLine, 3u) << r.error;
        EXPECT_NE(r.error.find("expected a group code"), std::string::npos) << r.error;
    }
    // A value as long as a line may be is read; one byte more is refused.
    const std::string longest(dxf::kMaxLineBytes, 'a');
    for (const char* eol : {"\n", "\r\n"}) {
        Read ok = readAll("1\n" + longest + eol + "0\nEOF\n");
        ASSERT_EQ(ok.tags.size(), 2u) << ok.error;
        EXPECT_EQ(ok.tags[0].value.size(), dxf::kMaxLineBytes);
        Read refused = readAll("0\nSECTION\n1\n" + longest + "a" + eol + "0\nEOF\n");
        EXPECT_EQ(refused.errorLine, 4u) << refused.error;
    }
}

// A drawing before R2007 carries a character its code page lacks as an escape of
// one UTF-16 unit: beyond the BMP, as the escapes of its two surrogates. Every such
// character goes out and comes back as itself; only bytes that are no UTF-8 do not.
TEST(DxfTextCodec, CharactersBeyondTheCodePageTravelAsEscapesAndComeBackWhole) {
    dxf::TextCodec cp1252("AC1015", "ANSI_1252");
    dxf::TextCodec utf8("AC1032", "ANSI_1252");
    const std::string grin = "\xF0\x9F\x98\x80";  // U+1F600
    const std::string text = "a " + grin + " \xE2\x82\xAC \xE4\xB8\xAD" + grin + grin;
    EXPECT_EQ(cp1252.encode(text), "a \\U+D83D\\U+DE00 \x80 \\U+4E2D\\U+D83D\\U+DE00\\U+D83D\\U+DE00");
    EXPECT_EQ(cp1252.decode(cp1252.encode(text)), text);
    EXPECT_EQ(utf8.encode(text), text);
    // The last plane's last character, and escapes in lower case as some writers use.
    EXPECT_EQ(cp1252.encode("\xF4\x8F\xBF\xBF"), "\\U+DBFF\\U+DFFF");
    EXPECT_EQ(cp1252.decode("\\u+d83d\\u+de00"), grin);
    // A surrogate without its partner is no character: its escape stays as written.
    EXPECT_EQ(cp1252.decode("\\U+D83D x \\U+DE00"), "\\U+D83D x \\U+DE00");
    EXPECT_EQ(cp1252.decode("\\U+DE00\\U+D83D"), "\\U+DE00\\U+D83D");
    EXPECT_EQ(cp1252.encode("a\xFF"
                            "b"),
              "a\\U+FFFDb");
}

TEST(DxfTextCodec, PlainAsciiIsCopiedAndEscapesAndOtherBytesAreDecodedWhereverTheyStand) {
    dxf::TextCodec cp1252("AC1015", "ANSI_1252");
    dxf::TextCodec utf8("AC1021", "");
    for (std::size_t length = 0; length <= 20; ++length) {
        std::string plain;
        for (std::size_t i = 0; i < length; ++i) plain += static_cast<char>('!' + (i * 7) % 90);
        if (plain.find('\\') != std::string::npos) continue;
        EXPECT_EQ(cp1252.decode(plain), plain);
        EXPECT_EQ(utf8.decode(plain), plain);
        // Eight bytes are looked at a time: an escape or a byte above ASCII in any
        // place of any word, or in the bytes after the last whole word, is seen.
        for (std::size_t at = 0; at <= length; ++at) {
            SCOPED_TRACE("length " + std::to_string(length) + " at " + std::to_string(at));
            const std::string expected = plain.substr(0, at) + "\xC3\xA9" + plain.substr(at);
            EXPECT_EQ(cp1252.decode(plain.substr(0, at) + "\\U+00E9" + plain.substr(at)), expected);
            EXPECT_EQ(utf8.decode(plain.substr(0, at) + "\\U+00E9" + plain.substr(at)), expected);
            EXPECT_EQ(cp1252.decode(plain.substr(0, at) + "\xE9" + plain.substr(at)), expected);
            EXPECT_EQ(utf8.decode(plain.substr(0, at) + "\xC3\xA9" + plain.substr(at)), expected);
            // A backslash that begins no escape stays as it is.
            const std::string backslash = plain.substr(0, at) + "\\P" + plain.substr(at);
            EXPECT_EQ(cp1252.decode(backslash), backslash);
        }
    }
}
