// Multi-line text: what a reader sees of MText contents, the pieces a DXF file
// holds them in, and multi-line attributes read, changed, saved in ASCII and binary
// DXF (every other tag kept, the attribute's own group 1 in the file's form),
// undone and redone.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/db/MTextContents.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"
#include "tests/host/db/DrawingLookup.h"
#include "tests/host/db/DxfTextTags.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using tabro::testing::attributesOf;
using tabro::testing::hexOf;
using tabro::testing::objectsByHandle;
using tabro::testing::sameText;
using tabro::testing::tagLines;
using tabro::testing::TextObject;
using tabro::testing::TextTag;

std::string fixturePath() { return std::string(TABLORA_FIXTURES_DIR) + "/dxf/mtext_fields.dxf"; }

std::string plain(const std::string& contents) {
    AcDbMText m;
    EXPECT_EQ(m.setContents(contents.c_str()), Acad::eOk);
    return AcutString(m.text()).get();
}

std::string contentsOf(AcDbObjectId id) {
    AcDbObjectPointer<AcDbAttribute> att(id, AcDb::kForRead);
    if (!att) return "(does not open)";
    std::unique_ptr<AcDbMText> m(att->getMTextAttribute());
    return m ? AcutString(m->contents()).get() : "(no MText)";
}

Acad::ErrorStatus setContents(AcDbObjectId id, const std::string& contents) {
    AcDbObjectPointer<AcDbAttribute> att(id, AcDb::kForWrite);
    if (!att) return att.openStatus();
    AcDbMText m(contents);
    return att->setMTextAttribute(&m);
}

// The tags of an object after its embedded object's marker (101), and before.
struct Split {
    std::vector<TextTag> own, embedded;
};
Split splitAtEmbedded(const std::vector<TextTag>& tags) {
    Split s;
    bool in = false;
    for (const TextTag& t : tags) {
        if (t.code == 101) in = true;
        (in ? s.embedded : s.own).push_back(t);
    }
    return s;
}

std::vector<TextTag> without(const std::vector<TextTag>& tags, std::initializer_list<int> codes) {
    std::vector<TextTag> kept;
    for (const TextTag& t : tags)
        if (std::find(codes.begin(), codes.end(), t.code) == codes.end()) kept.push_back(t);
    return kept;
}

// A multi-line attribute as saved: its tags outside its embedded text (and outside
// its own group 1 when `outerChanges`) are the ones read, and its text is group 3
// pieces of at most 250 bytes, then group 1, together `contents`.
void expectOnlyTheTextChanged(const TextObject& old, const TextObject& saved, const std::string& contents,
                              bool outerChanges) {
    const Split o = splitAtEmbedded(old.tags), n = splitAtEmbedded(saved.tags);
    if (outerChanges)
        EXPECT_EQ(tagLines(without(o.own, {1})), tagLines(without(n.own, {1})));
    else
        EXPECT_EQ(tagLines(o.own), tagLines(n.own));
    EXPECT_EQ(tagLines(without(o.embedded, {1, 3})), tagLines(without(n.embedded, {1, 3})))
        << "frame, style, attachment, direction and spacing are kept";
    std::string joined;
    std::vector<int> codes;
    for (const TextTag& t : n.embedded) {
        if (t.code != 1 && t.code != 3) continue;
        codes.push_back(t.code);
        EXPECT_LE(t.value.size(), hostdb::kMTextPieceBytes);
        joined += t.value;
    }
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 1), 1) << "one group 1, after every group 3";
    EXPECT_EQ(joined, contents);
}

// The same of the one attribute a save changed, and every byte before and after it
// is the one read.
void expectOnlyTheTextChanged(const std::string& before, const std::string& after, const std::string& handle,
                              const std::string& contents, bool outerChanges = false) {
    const auto a = objectsByHandle(before), b = objectsByHandle(after);
    ASSERT_TRUE(a.count(handle) && b.count(handle)) << handle;
    const TextObject& old = a.at(handle);
    const TextObject& saved = b.at(handle);
    EXPECT_TRUE(sameText(before.substr(0, old.begin), after.substr(0, saved.begin)))
        << "the bytes before the attribute";
    EXPECT_TRUE(sameText(before.substr(old.end), after.substr(saved.end))) << "the bytes after the attribute";
    expectOnlyTheTextChanged(old, saved, contents, outerChanges);
}

std::string outerTextOf(const std::string& text, const std::string& handle) {
    const auto objects = objectsByHandle(text);
    for (const TextTag& t : splitAtEmbedded(objects.at(handle).tags).own)
        if (t.code == 1) return t.value;
    return "(none)";
}

// A text long enough for several pieces, with two-byte characters, breaks and codes
// where pieces end.
std::string longContents() {
    std::string s = "{\\fArial|b1;Neue Hinweise}\\P";
    for (int i = 0; s.size() < 700; ++i) s += "Prüfung " + std::to_string(i) + " bestätigt\\P\\~";
    return s;
}

class MTextAttributeTest : public ::testing::Test {
protected:
    void SetUp() override {
        original = tabro::testing::readFile(fixturePath());
        open(original);
    }
    void TearDown() override {
        if (db) {
            EXPECT_EQ(db->openObjectCount(), 0u);
        }
    }
    void open(const std::string& text) {
        auto r = openDrawingText(text, "mtext_fields.dxf");
        ASSERT_TRUE(r) << r.error;
        db = std::move(r.database);
    }
    std::string save(dxf::DxfFormat format = dxf::DxfFormat::Ascii) {
        db->store().setSaveFormat(format);
        return writeDrawingText(*db);
    }
    std::string original;
    std::unique_ptr<AcDbDatabase> db;
};

}  // namespace

// ---- the text a reader sees

TEST(MTextText, FormatCodesGoAndWhatTheyStandForStays) {
    struct Case {
        const char* contents;
        const char* text;
    };
    const Case cases[] = {
        {"", ""},
        {"Plain text, 100% so", "Plain text, 100% so"},
        {"First\\PSecond\\P\\PFourth", "First\nSecond\n\nFourth"},
        {"Column one\\NColumn two", "Column one\nColumn two"},
        {"no\\~break", "no\u00A0break"},
        {"\\\\server\\{share\\}", "\\server{share}"},
        {"{\\fArial|b1|i0|c0|p34;Bold} and {\\FromanS.shx;shape}", "Bold and shape"},
        {"{\\H2.5x;big}{\\H3;fixed}{\\W0.8;narrow}{\\Q15;slanted}{\\T1.2;tracked}", "bigfixednarrowslantedtracked"},
        {"\\A1;\\C1;\\c16711680;\\pxi-3,l3,t3;\\pxqc;body", "body"},
        {"\\Lunder\\l \\Oover\\o \\Kstruck\\k \\Xbelow", "under over struck below"},
        {"{{nested {groups}} vanish}", "nested groups vanish"},
        {"\\S1/2;", "1/2"},
        {"\\S1^2;", "1/2"},
        {"\\S+0.1^ -0.2;", "+0.1/-0.2"},  // the divider in caret notation, as files hold it
        {"\\S3#4;", "3/4"},
        {"\\S12;", "12"},
        {"\\S1\\/4/2;", "1/4/2"},  // an escaped divider is text
        {"{\\H0.7x;\\S%%p1/2;} in", "\u00B11/2 in"},
        {"%%d %%p %%c %%% %%D%%P%%C", "\u00B0 \u00B1 \u00D8 % \u00B0\u00B1\u00D8"},
        {"%%x %% %", "%%x %% %"},
        {"line^Jbreak^Itab^M^Jx^ y x^2 x^^z", "line\nbreak\ttab\nx^y x^2 x^^z"},
        {"\\U+00B0 \\U+D83D\\U+DE00 \\u+00e9", "\u00B0 \U0001F600 \u00E9"},
        {"\\M+182A0\\M+5B0A1", "\u3042\u554A"},  // double-byte characters of code pages 932 and 936
        {"Größe \u2300 12", "Größe \u2300 12"},
        // Not codes: the characters stay.
        {"\\Zunknown \\9 \\\u00E9", "\\Zunknown \\9 \\\u00E9"},
        {"ends with\\", "ends with\\"},
        {"\\fArial never ended", "\\fArial never ended"},
        {"\\S1/2 never ended", "\\S1/2 never ended"},
        {"\\U+0000 \\U+D83D alone \\U+12 \\M+9FFFF \\M+1", "\\U+0000 \\U+D83D alone \\U+12 \\M+9FFFF \\M+1"},
        {"{never closed \\H2x;brace", "never closed brace"},
        {"closed}} twice", "closed twice"},
    };
    for (const Case& c : cases) EXPECT_EQ(plain(c.contents), c.text) << "contents: " << c.contents;
}

TEST(MTextText, TheContentsAreKeptAsGivenAndTheTextIsACopy) {
    AcDbMText m;
    EXPECT_EQ(m.setContents(nullptr), Acad::eNullObjectPointer);
    ASSERT_EQ(m.setContents("{\\fArial;A}\\PB"), Acad::eOk);
    char* contents = m.contents();
    char* text = m.text();
    EXPECT_STREQ(contents, "{\\fArial;A}\\PB");
    EXPECT_STREQ(text, "A\nB");
    acutDelString(contents);
    acutDelString(text);
    EXPECT_EQ(text, nullptr);
}

// Hostile contents end, in time proportional to their length: codes whose ';' never
// comes, stacks, braces and escapes by the hundred thousand.
TEST(MTextText, MalformedContentsOfAnyLengthEnd) {
    for (const char* unit : {"\\f", "\\S", "\\S1^", "\\U+D83D", "\\M+1", "^"}) {
        std::string contents;
        while (contents.size() < 600'000) contents += unit;
        EXPECT_EQ(plain(contents), contents) << "nothing is a code: " << unit;
    }
    struct Shrinking {
        const char* unit;
        std::size_t textBytes;  // of 600,000 bytes of them
    };
    for (const Shrinking& s :
         {Shrinking{"{", 0}, Shrinking{"%%", 200'000}, Shrinking{"\\", 300'000}, Shrinking{"^^J", 400'000}}) {
        std::string contents;
        while (contents.size() < 600'000) contents += s.unit;
        EXPECT_EQ(plain(contents).size(), s.textBytes) << s.unit;
    }
    std::string stacks;
    while (stacks.size() < 600'000) stacks += "\\S1/2;";
    EXPECT_EQ(plain(stacks).size(), stacks.size() / 6 * 3);
}

// Random contents built of the characters that matter never make a text longer than
// they are (every code stands for fewer bytes, or as many), and text without any of
// them is itself.
TEST(MTextText, RandomContentsNeverGrow) {
    const std::string alphabet = "\\\\\\{}^%;/#PSNfHUM+0123456789ABCDEF~ a\xC3\xA4";
    std::mt19937 random(20260115);
    for (int n = 0; n < 20000; ++n) {
        std::string s(random() % 40, ' ');
        for (char& c : s) c = alphabet[random() % alphabet.size()];
        EXPECT_LE(plain(s).size(), s.size()) << s;
    }
    EXPECT_EQ(plain("Nothing special: 1 + 2 = 3 (\u00E4\u00F6\u00FC)"),
              "Nothing special: 1 + 2 = 3 (\u00E4\u00F6\u00FC)");
}

// ---- the pieces of a file

TEST(MTextPieces, PiecesHoldAtMost250BytesAndEndBetweenCharactersAndEscapes) {
    const dxf::TextCodec utf8("AC1032", "ANSI_1252");
    const dxf::TextCodec latin("AC1015", "ANSI_1252");
    struct Case {
        const char* name;
        const dxf::TextCodec& codec;
        std::string contents;
        std::vector<std::size_t> sizes;  // of the pieces, in bytes
    };
    const std::string a249(249, 'a');
    const Case cases[] = {
        {"empty", utf8, "", {0}},
        {"exactly one piece", utf8, std::string(250, 'a'), {250}},
        {"one byte more", utf8, std::string(251, 'a'), {250, 1}},
        {"two-byte character across the end", utf8, a249 + "\u00E9x", {249, 3}},
        {"three-byte character", utf8, std::string(248, 'a') + "\u2300", {248, 3}},
        {"paragraph break", utf8, a249 + "\\P", {249, 2}},
        {"escaped backslash", utf8, a249 + "\\\\", {249, 2}},
        {"caret notation", utf8, a249 + "^J", {249, 2}},
        {"unicode escape", utf8, std::string(245, 'a') + "\\U+00E9", {245, 7}},
        {"escapes of a pair of surrogates", utf8, std::string(240, 'a') + "\\U+D83D\\U+DE00", {240, 14}},
        {"double-byte escape", utf8, std::string(245, 'a') + "\\M+182A0", {245, 8}},
        {"a character the code page lacks", latin, std::string(245, 'a') + "\u4E2D", {245, 7}},
        {"a character the code page has", latin, a249 + "\u00E9\u00E9", {250, 1}},
        {"several pieces", utf8, std::string(600, 'a'), {250, 250, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> pieces = hostdb::mtextPieces(c.codec, c.contents);
        std::vector<std::size_t> sizes;
        std::string joined;
        for (const std::string& p : pieces) {
            sizes.push_back(p.size());
            joined += p;
        }
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(joined, c.codec.encode(c.contents)) << "together the pieces are the file's bytes of the contents";
    }
}

TEST(MTextPieces, RandomContentsSplitIntoTheirBytes) {
    const dxf::TextCodec utf8("AC1032", "");
    const std::string alphabet[] = {"a", "\\", "^", "\u00E9", "\u2300", "\U0001F600", "\\U+00E9", "\\P", " "};
    std::mt19937 random(7);
    for (int n = 0; n < 300; ++n) {
        std::string s;
        for (std::size_t k = random() % 400; k > 0; --k) s += alphabet[random() % std::size(alphabet)];
        std::string joined;
        for (const std::string& p : hostdb::mtextPieces(utf8, s)) {
            EXPECT_LE(p.size(), hostdb::kMTextPieceBytes);
            ASSERT_FALSE(!p.empty() && (static_cast<unsigned char>(p.front()) & 0xC0) == 0x80)
                << "a piece begins inside a character";
            joined += p;
        }
        EXPECT_EQ(joined, s);
    }
}

// ---- multi-line attributes

TEST_F(MTextAttributeTest, AMultiLineAttributeGivesItsContentsAndSingleLineOnesNone) {
    auto a101 = attributesOf(*db, "A-101");
    AcDbObjectPointer<AcDbAttribute> notes(a101["NOTES"], AcDb::kForRead);
    ASSERT_TRUE(notes);
    EXPECT_TRUE(notes->isMTextAttribute());
    std::unique_ptr<AcDbMText> m(notes->getMTextAttribute());
    ASSERT_TRUE(m);
    EXPECT_EQ(AcutString(m->contents()).get(),
              std::string("{\\fArial|b1|i0|c0|p34;General notes:}\\PSee \\LDetail 4\\l on sheet %%c12"
                          " {\\H0.7x;\\S1/2;}\\P\\C1;Check\\~all dimensions on site\\P"
                          "Tolerance \\S+0.1^ -0.2; mm, angles %%p0.5%%d"));
    EXPECT_EQ(AcutString(m->text()).get(),
              std::string("General notes:\nSee Detail 4 on sheet \u00D812 1/2\nCheck\u00A0all dimensions on site\n"
                          "Tolerance +0.1/-0.2 mm, angles \u00B10.5\u00B0"));
    EXPECT_EQ(std::string(AcutString(notes->textString()).get()), AcutString(m->contents()).get())
        << "the text of a multi-line attribute is its contents";

    // Held in group 3 pieces before its group 1: the pieces together, decoded.
    const std::string a102 = contentsOf(attributesOf(*db, "A-102")["NOTES"]);
    EXPECT_GT(a102.size(), 2 * hostdb::kMTextPieceBytes);
    EXPECT_EQ(a102.rfind("Ausf\u00FChrung gem\u00E4\u00DF Pr\u00FCfbericht", 0), 0u);
    EXPECT_NE(a102.find("Schritt 4: Ma\u00DFe"), std::string::npos) << "the piece ended inside 'Schritt'";
    EXPECT_EQ(a102.substr(a102.size() - 31), "\\PAbnahme durch die Bauleitung.");

    for (const char* tag : {"NUMBER", "REV", "DATE"}) {
        AcDbObjectPointer<AcDbAttribute> single(a101[tag], AcDb::kForWrite);
        ASSERT_TRUE(single) << tag;
        EXPECT_FALSE(single->isMTextAttribute()) << tag;
        EXPECT_EQ(single->getMTextAttribute(), nullptr) << tag;
        AcDbMText mtext("x\\Py");
        EXPECT_EQ(single->setMTextAttribute(&mtext), Acad::eNotApplicable) << tag;
    }
    EXPECT_TRUE(sameText(save(), original)) << "nothing was changed";
}

TEST_F(MTextAttributeTest, SettingContentsChecksTheOpenAndTheValue) {
    const AcDbObjectId notes = attributesOf(*db, "A-101")["NOTES"];
    {
        AcDbObjectPointer<AcDbAttribute> read(notes, AcDb::kForRead);
        AcDbMText m("new");
        EXPECT_EQ(read->setMTextAttribute(&m), Acad::eNotOpenForWrite);
    }
    AcDbObjectPointer<AcDbAttribute> att(notes, AcDb::kForWrite);
    EXPECT_EQ(att->setMTextAttribute(nullptr), Acad::eNullObjectPointer);
    AcDbMText broken("two\nlines");
    EXPECT_EQ(att->setMTextAttribute(&broken), Acad::eInvalidInput) << "a line feed would split the tag in the file";
    (void)att.close();
    EXPECT_TRUE(sameText(save(), original));
}

// A new text is saved in pieces in ASCII and in binary DXF, with every other tag of
// the attribute and of its embedded object as it was, and reads back whole.
TEST_F(MTextAttributeTest, NewContentsAreSavedInPiecesAndEverythingElseAsItWas) {
    const std::string contents = longContents();
    struct Case {
        const char* number;
        std::string contents;
    };
    const Case cases[] = {{"A-101", contents},                    // one piece, then several
                          {"A-102", "Short now\\Pin one piece"},  // several pieces, then one
                          {"A-102", contents + contents},         // several, then more
                          {"A-101", ""}};                         // nothing at all
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.number) + ": " + c.contents.substr(0, 30));
        open(original);
        const AcDbObjectId notes = attributesOf(*db, c.number)["NOTES"];
        ASSERT_EQ(setContents(notes, c.contents), Acad::eOk);
        EXPECT_EQ(contentsOf(notes), c.contents);
        const std::string ascii = save(dxf::DxfFormat::Ascii);
        expectOnlyTheTextChanged(original, ascii, hexOf(notes), c.contents);
        EXPECT_EQ(outerTextOf(ascii, hexOf(notes)), "") << "an empty group 1 stays empty";
        const std::string binary = save(dxf::DxfFormat::Binary);

        for (const std::string* saved : {&ascii, &binary}) {
            open(*saved);
            EXPECT_EQ(contentsOf(attributesOf(*db, c.number)["NOTES"]), c.contents);
        }
        // The binary file holds the same tags as the ASCII one.
        tabro::testing::TempDir dir("host-mtext");
        tabro::testing::writeFile(dir.file("a.dxf"), ascii);
        tabro::testing::writeFile(dir.file("b.dxf"), binary);
        const std::string compare = tabro::testing::toolCommand("dxf_compare.py") + " '" + dir.file("a.dxf") + "' '" +
                                    dir.file("b.dxf") + "' >/dev/null";
        EXPECT_EQ(std::system(compare.c_str()), 0) << "the binary save differs from the ASCII one";
    }
}

// A drawing with CR LF line ends and right-aligned codes gets its new pieces in that
// layout.
TEST_F(MTextAttributeTest, PiecesAddedToACrLfDrawingEndTheirLinesAsItDoes) {
    std::string crlf;
    for (char c : original) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    open(crlf);
    const AcDbObjectId notes = attributesOf(*db, "A-101")["NOTES"];
    ASSERT_EQ(setContents(notes, longContents()), Acad::eOk);
    const std::string saved = save();
    std::size_t bareLineFeeds = 0;
    for (std::size_t i = 0; i < saved.size(); ++i)
        if (saved[i] == '\n' && (i == 0 || saved[i - 1] != '\r')) ++bareLineFeeds;
    EXPECT_EQ(bareLineFeeds, 0u);
    EXPECT_NE(saved.find("\r\n  3\r\n{\\fArial|b1;Neue Hinweise}"), std::string::npos) << "a padded group 3 code";
    expectOnlyTheTextChanged(crlf, saved, hexOf(notes), longContents());
    open(saved);
    EXPECT_EQ(contentsOf(attributesOf(*db, "A-101")["NOTES"]), longContents());
}

// The attribute's own group 1: writers leave it empty, repeat the contents there, or
// put the first line a reader sees; a save keeps the form it found.
TEST_F(MTextAttributeTest, TheAttributesOwnTextKeepsTheFormTheFileGaveIt) {
    const std::string handle = hexOf(attributesOf(*db, "A-101")["NOTES"]);
    const std::string oldContents = contentsOf(attributesOf(*db, "A-101")["NOTES"]);
    TextTag outer;
    const auto objects = objectsByHandle(original);
    for (const TextTag& t : objects.at(handle).tags)
        if (t.code == 1) {
            outer = t;
            break;
        }
    ASSERT_EQ(outer.code, 1);
    ASSERT_EQ(outer.value, "") << "the fixture's group 1 is empty, as the CAD program leaves it";
    struct Case {
        const char* form;
        std::string outer;     // as read
        std::string expected;  // saved
    };
    const char* contents = "{\\fArial;New} notes\\Pline two";
    const Case cases[] = {
        {"empty", "", ""},
        {"the whole contents", oldContents, contents},
        {"the first line shown", "General notes:", "New notes"},
        {"something else", "Title block notes", "Title block notes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form);
        std::string before = original;
        before.replace(outer.begin, outer.end - outer.begin, "  1\n" + c.outer + "\n");
        open(before);
        ASSERT_EQ(setContents(attributesOf(*db, "A-101")["NOTES"], contents), Acad::eOk);
        const std::string after = save();
        EXPECT_EQ(outerTextOf(after, handle), c.expected);
        expectOnlyTheTextChanged(before, after, handle, contents, true);
    }

    // A-103 repeats its contents in its group 1, as the fixture has it.
    open(original);
    const AcDbObjectId a103 = attributesOf(*db, "A-103")["NOTES"];
    ASSERT_EQ(outerTextOf(original, hexOf(a103)), contentsOf(a103));
    ASSERT_EQ(setContents(a103, "Smoke door\\PE 30"), Acad::eOk);
    const std::string after = save();
    EXPECT_EQ(outerTextOf(after, hexOf(a103)), "Smoke door\\PE 30");
    expectOnlyTheTextChanged(original, after, hexOf(a103), "Smoke door\\PE 30", true);
}

TEST_F(MTextAttributeTest, UndoGivesBackTheTextAndRedoTheNewOne) {
    hostdb::UndoHistory& history = db->store().undoHistory();
    const AcDbObjectId notes = attributesOf(*db, "A-102")["NOTES"];
    const std::string binaryBefore = save(dxf::DxfFormat::Binary);
    history.beginGroup("EDIT");
    ASSERT_EQ(setContents(notes, longContents()), Acad::eOk);
    history.endGroup();
    const std::string after = save(), binaryAfter = save(dxf::DxfFormat::Binary);
    ASSERT_NE(after, original);
    std::vector<std::string> names;
    ASSERT_EQ(history.undo(1, names), Acad::eOk);
    EXPECT_EQ(names, std::vector<std::string>{"EDIT"});
    EXPECT_TRUE(sameText(save(), original));
    EXPECT_TRUE(sameText(save(dxf::DxfFormat::Binary), binaryBefore));
    EXPECT_NE(contentsOf(notes), longContents());
    ASSERT_EQ(history.redo(names), Acad::eOk);
    EXPECT_TRUE(sameText(save(), after));
    EXPECT_TRUE(sameText(save(dxf::DxfFormat::Binary), binaryAfter));
    EXPECT_EQ(contentsOf(notes), longContents());
}

// Read and saved unchanged, the fixture comes back byte for byte, and so does its
// binary form.
TEST_F(MTextAttributeTest, AnUnchangedDrawingSavesAsItWasRead) {
    EXPECT_TRUE(sameText(save(), original));
    const std::string contents = contentsOf(attributesOf(*db, "A-102")["NOTES"]);
    const std::string binary = save(dxf::DxfFormat::Binary);
    open(binary);
    EXPECT_TRUE(sameText(save(dxf::DxfFormat::Binary), binary));
    EXPECT_EQ(contentsOf(attributesOf(*db, "A-102")["NOTES"]), contents);
}

// Every multi-line attribute of the real drawings takes a text of several pieces;
// saved and read again, it has that text and nothing else of the drawing changed.
TEST(MTextAttributeCorpus, EveryMultiLineAttributeTakesANewText) {
    namespace fs = std::filesystem;
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    std::size_t changed = 0;
    for (const fs::path& drawing : tabro::testing::corpusFiles("corpus/dxf", ".dxf")) {
        SCOPED_TRACE(drawing.filename().string());
        auto r = openDrawingFile(drawing.string());
        if (!r) continue;  // the corpus holds drawings refused on purpose too
        AcDbDatabase& db = *r.database;
        hostdb::DrawingStore& store = db.store();
        std::map<std::string, std::string> expected;  // handle -> contents
        for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
            hostdb::ObjectStub* stub = store.stubAt(i);
            if (stub->kind != hostdb::Kind::Attrib) continue;
            AcDbObjectPointer<AcDbAttribute> att(AcDbObjectId(stub), AcDb::kForWrite);
            if (!att || !att->isMTextAttribute()) continue;
            std::unique_ptr<AcDbMText> m(att->getMTextAttribute());
            const std::string contents = AcutString(m->contents()).get() + std::string("\\P") + longContents();
            AcDbMText next(contents);
            ASSERT_EQ(att->setMTextAttribute(&next), Acad::eOk);
            expected[hexOf(AcDbObjectId(stub))] = contents;
        }
        if (expected.empty()) continue;
        changed += expected.size();
        const std::string before(store.text());
        store.setSaveFormat(dxf::DxfFormat::Ascii);
        const std::string saved = writeDrawingText(db);
        auto again = openDrawingText(saved);
        ASSERT_TRUE(again) << again.error;
        const auto a = objectsByHandle(before), b = objectsByHandle(saved);
        ASSERT_EQ(a.size(), b.size());
        for (const auto& [handle, old] : a) {
            SCOPED_TRACE(handle);
            ASSERT_TRUE(b.count(handle));
            auto it = expected.find(handle);
            if (it == expected.end()) {
                EXPECT_EQ(tagLines(old.tags), tagLines(b.at(handle).tags));
                continue;
            }
            expectOnlyTheTextChanged(old, b.at(handle), it->second, true);
            AcDbObjectId id;
            ASSERT_EQ(again.database->getAcDbObjectId(id, false, AcDbHandle(handle.c_str())), Acad::eOk);
            EXPECT_EQ(contentsOf(id), it->second);
        }
    }
    if (changed == 0) GTEST_SKIP() << "no multi-line attribute in the corpus";
}
