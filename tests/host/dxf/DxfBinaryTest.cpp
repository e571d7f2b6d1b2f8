// Binary DXF: read into the same tags an ASCII file of the drawing has, written back
// byte for byte where nothing changed, changes readable by a reader we did not write,
// and malformed files refused naming the byte.
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/dxf/DxfBinary.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <random>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

using tabro::testing::readFile;
using tabro::testing::writeFile;

bool hasEzdxf() { return std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0; }

// Runs a Python script with ezdxf on `args`; its exit code.
int python(const tabro::testing::TempDir& scratch, const std::string& script, const std::vector<fs::path>& args) {
    writeFile(scratch.file("script.py"), script);
    std::string cmd = "/usr/bin/python3 '" + scratch.file("script.py") + "'";
    for (const fs::path& a : args) cmd += " '" + a.string() + "'";
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string listing(AcDbDatabase& db) {
    std::ostringstream list;
    listBlockReferences(db, list);
    return list.str();
}

std::string corpus(const char* name) { return (tabro::testing::sharedPath("corpus/dxf") / name).string(); }

// Tags as binary DXF with codes of `codeBytes`, for files made to break the reader.
class BinaryFile {
public:
    explicit BinaryFile(int codeBytes) : codeBytes_(codeBytes) { bytes_.assign(dxf::kBinarySentinel); }
    BinaryFile& code(int c) {
        if (codeBytes_ == 1 && c >= 0 && c < 255) {
            bytes_ += static_cast<char>(c);
        } else {
            if (codeBytes_ == 1) bytes_ += '\xff';
            bytes_ += static_cast<char>(c & 0xFF);
            bytes_ += static_cast<char>((c >> 8) & 0xFF);
        }
        return *this;
    }
    BinaryFile& text(int c, std::string_view v) {
        code(c);
        bytes_.append(v);
        bytes_ += '\0';
        return *this;
    }
    BinaryFile& real(int c, double v) {
        code(c);
        char b[8];
        std::memcpy(b, &v, 8);  // the machines that build this are little-endian
        bytes_.append(b, 8);
        return *this;
    }
    BinaryFile& int16(int c, std::int16_t v) {
        code(c);
        bytes_ += static_cast<char>(v & 0xFF);
        bytes_ += static_cast<char>((v >> 8) & 0xFF);
        return *this;
    }
    std::size_t size() const { return bytes_.size(); }
    const std::string& bytes() const { return bytes_; }

private:
    int codeBytes_;
    std::string bytes_;
};

// A drawing with one reference to block B with attribute NUMBER.
BinaryFile referenceDrawing(int codeBytes, std::string_view number, std::string_view layer = "0") {
    BinaryFile f(codeBytes);
    f.text(0, "SECTION").text(2, "HEADER").text(9, "$ACADVER").text(1, codeBytes == 1 ? "AC1009" : "AC1015");
    f.text(9, "$HANDSEED").text(5, "100").text(0, "ENDSEC");
    f.text(0, "SECTION").text(2, "BLOCKS").text(0, "BLOCK").text(5, "20").text(8, "0").text(2, "B").int16(70, 2);
    f.real(10, 0).real(20, 0).real(30, 0).text(0, "ATTDEF").text(5, "21").text(8, "0").real(10, 0).real(20, 0);
    f.real(40, 1).text(1, "").text(3, "Number").text(2, "NUMBER").int16(70, 0).text(0, "ENDBLK").text(5, "22");
    f.text(0, "ENDSEC").text(0, "SECTION").text(2, "ENTITIES").text(0, "INSERT").text(5, "30").text(8, layer);
    f.int16(66, 1).text(2, "B").real(10, 1.5).real(20, -0.0).real(30, 0).text(0, "ATTRIB").text(5, "31");
    f.text(8, "0").real(10, 1.5).real(20, 0).real(40, 1).text(1, number).text(2, "NUMBER").int16(70, 0);
    f.text(0, "SEQEND").text(5, "32").text(0, "ENDSEC").text(0, "EOF");
    return f;
}

AcDbObjectId idOf(AcDbDatabase& db, std::uint64_t handle) {
    AcDbObjectId id;
    EXPECT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk) << std::hex << handle;
    return id;
}

// Moves the reference and gives its first attribute `text`.
void edit(AcDbDatabase& db, std::uint64_t handle, double x, const char* text) {
    AcDbObjectPointer<AcDbBlockReference> ref(idOf(db, handle), AcDb::kForWrite);
    ASSERT_TRUE(ref);
    AcGePoint3d p = ref->position();
    ASSERT_EQ(ref->setPosition(AcGePoint3d(x, p.y, p.z)), Acad::eOk);
    std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
    AcDbAttribute* att = nullptr;
    ASSERT_EQ(ref->openAttribute(att, it->objectId(), AcDb::kForWrite), Acad::eOk);
    AcDbObjectPointer<AcDbAttribute> holder;
    holder.adopt(att);
    ASSERT_EQ(att->setTextString(text), Acad::eOk);
}

}  // namespace

// Both group code widths: the values read are the ones written, a negative zero and a
// line break in a text included, and an unchanged save gives the same bytes.
TEST(DxfBinary, TagsReadAsWrittenAndComeBackByteForByte) {
    for (int codeBytes : {1, 2}) {
        SCOPED_TRACE(codeBytes);
        const BinaryFile file = referenceDrawing(codeBytes, "D-1\nsecond line");
        auto r = openDrawingText(file.bytes(), "ref.dxf");
        ASSERT_TRUE(r) << r.error;
        EXPECT_TRUE(r.warnings.empty());
        const hostdb::DrawingStore& store = r.database->store();
        EXPECT_EQ(store.sourceFormat(), dxf::DxfFormat::Binary);
        EXPECT_NE(store.text().find("20\n-0.0\n"), std::string::npos);
        EXPECT_NE(store.text().find("1\nD-1\\U+000Asecond line\n"), std::string::npos);
        const std::string list = listing(*r.database);
        EXPECT_NE(list.find("Attribute NUMBER: D-1\nsecond line\n"), std::string::npos) << list;
        EXPECT_NE(list.find("X=1.5000"), std::string::npos) << list;
        EXPECT_TRUE(writeDrawingText(*r.database) == file.bytes());
    }
}

TEST(DxfBinary, ChangedValuesAreTheOnlyDifference) {
    for (int codeBytes : {1, 2}) {
        SCOPED_TRACE(codeBytes);
        // The reference's layer is written again from text, with letters that spell
        // escapes there.
        const char* layer = "L\\U+000A\\U+005C\\x\\";
        const BinaryFile file = referenceDrawing(codeBytes, "D-1", layer);
        auto r = openDrawingText(file.bytes(), "ref.dxf");
        ASSERT_TRUE(r) << r.error;
        EXPECT_NE(listing(*r.database).find(std::string("Layer: ") + layer + "\n"), std::string::npos);
        edit(*r.database, 0x30, 7.25, "D-1000");
        const std::string written = writeDrawingText(*r.database);
        EXPECT_EQ(written.size(), file.size() + 3);
        const BinaryFile expected = referenceDrawing(codeBytes, "D-1000", layer);
        std::string moved = expected.bytes();
        const double from = 1.5, to = 7.25;
        const std::string fromBytes(reinterpret_cast<const char*>(&from), 8);
        moved.replace(moved.find(fromBytes), 8, std::string(reinterpret_cast<const char*>(&to), 8));
        EXPECT_TRUE(written == moved);
        // The reader reads its own output.
        auto again = openDrawingText(written, "again.dxf");
        ASSERT_TRUE(again) << again.error;
        EXPECT_NE(listing(*again.database).find("Attribute NUMBER: D-1000\n"), std::string::npos);
    }
}

// Real files: the corpus' binary drawings in both code widths, changed as an import
// changes them, read back by ezdxf.
TEST(DxfBinary, ChangesToARealBinaryDrawingAreWhatAnotherReaderReads) {
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    if (!hasEzdxf()) GTEST_SKIP() << "python3-ezdxf is not installed";
    tabro::testing::TempDir scratch("dxf-binary");
    for (const char* name : {"acadsharp_sample_AC1018_binary.dxf", "acadsharp_sample_AC1009_binary.dxf"}) {
        SCOPED_TRACE(name);
        auto r = openDrawingFile(corpus(name));
        ASSERT_TRUE(r) << r.error;
        edit(*r.database, 0x704, 12.5, "D-202 \xc5\xbd\xc3\xa9");  // "D-202 Žé" in the drawing's ANSI_1252
        const fs::path out = scratch.path() / name;
        ASSERT_TRUE(saveDrawingAs(*r.database, out.string()));
        const std::string written = readFile(out), original = readFile(corpus(name));
        ASSERT_EQ(written.rfind("AutoCAD Binary DXF", 0), 0u);
        EXPECT_EQ(written.size(), original.size() + std::string("D-202 Z\xe9").size() - std::string("17").size());
        const std::string check =
            "import ezdxf, sys\n"
            "d = ezdxf.readfile(sys.argv[1])\n"
            "i = d.entitydb['704']\n"
            "ok = i.dxf.insert.x == 12.5 and [a.dxf.text for a in i.attribs] == ['D-202 \\u017d\\u00e9']\n"
            "j = d.entitydb['79C']\n"
            "ok = ok and [a.dxf.text for a in j.attribs][1:] == ['hello', 'bla bla']\n"
            "ok = ok and len(d.modelspace()) == len(ezdxf.readfile(sys.argv[2]).modelspace())\n"
            "sys.exit(0 if ok else 1)\n";
        EXPECT_EQ(python(scratch, check, {out, corpus(name)}), 0) << "ezdxf reads the change as made";
    }
}

// A drawing ezdxf writes both ways reads the same from either, and each form saved as
// the other is the same drawing tag for tag.
TEST(DxfBinary, AsciiAndBinaryFromAnotherWriterAreTheSameDrawing) {
    if (!hasEzdxf()) GTEST_SKIP() << "python3-ezdxf is not installed";
    tabro::testing::TempDir scratch("dxf-binary");
    for (const char* fixture : {"tagged_r2000.dxf", "nohandles_r12.dxf"}) {
        SCOPED_TRACE(fixture);
        const fs::path ascii = scratch.path() / "ascii.dxf", binary = scratch.path() / "binary.dxf";
        const std::string convert =
            "import ezdxf, sys\n"
            "ezdxf.options.write_fixed_meta_data_for_testing = True  # both saves alike\n"
            "d = ezdxf.readfile(sys.argv[1])\n"
            "d.saveas(sys.argv[2])\n"
            "d.saveas(sys.argv[3], fmt='bin')\n";
        ASSERT_EQ(python(scratch, convert, {fs::path(TABLORA_FIXTURES_DIR) / "dxf" / fixture, ascii, binary}), 0);
        auto a = openDrawingFile(ascii.string());
        auto b = openDrawingFile(binary.string());
        ASSERT_TRUE(a) << a.error;
        ASSERT_TRUE(b) << b.error;
        EXPECT_EQ(listing(*b.database), listing(*a.database));
        auto same = [](const fs::path& x, const fs::path& y) {
            const std::string cmd =
                tabro::testing::toolCommand("dxf_compare.py") + " '" + x.string() + "' '" + y.string() + "' >/dev/null";
            return std::system(cmd.c_str()) == 0;
        };
        const fs::path asText = scratch.path() / "as-text.dxf", ourText = scratch.path() / "our-text.dxf";
        const bool hasHandles = writeDrawingText(*a.database) == readFile(ascii);
        if (hasHandles) {
            EXPECT_TRUE(writeDrawingText(*b.database) == readFile(binary));
            // ASCII written as binary is ezdxf's binary, byte for byte.
            a.database->store().setSaveFormat(dxf::DxfFormat::Binary);
            EXPECT_TRUE(writeDrawingText(*a.database) == readFile(binary));
            a.database->store().setSaveFormat(dxf::DxfFormat::Ascii);
        }
        // Binary written as ASCII is the drawing's ASCII, tag for tag (with the same
        // handles added where it had none).
        b.database->store().setSaveFormat(dxf::DxfFormat::Ascii);
        writeFile(asText, writeDrawingText(*b.database));
        writeFile(ourText, writeDrawingText(*a.database));
        EXPECT_TRUE(same(ourText, asText));
        auto reread = openDrawingFile(asText.string());
        ASSERT_TRUE(reread) << reread.error;
        EXPECT_EQ(listing(*reread.database), listing(*a.database));
    }
}

TEST(DxfBinary, MalformedFilesAreRefusedNamingTheByte) {
    auto refusal = [](const std::string& bytes) {
        auto r = openDrawingText(bytes, "bad.dxf");
        return r ? std::string("opened") : r.error;
    };
    const std::size_t body = dxf::kBinarySentinel.size();
    BinaryFile nan(2);
    nan.text(0, "SECTION").text(2, "ENTITIES").text(0, "LINE");
    const std::size_t nanAt = nan.size();
    nan.real(10, std::numeric_limits<double>::quiet_NaN()).text(0, "ENDSEC").text(0, "EOF");
    EXPECT_EQ(refusal(nan.bytes()),
              "bad.dxf: byte " + std::to_string(nanAt + 2) + ": group code 10 holds a real that is no number");

    BinaryFile wide(2);
    wide.text(0, "SECTION").code(2000);
    EXPECT_EQ(refusal(wide.bytes()), "bad.dxf: byte " + std::to_string(wide.size() - 2) +
                                         ": group code 2000 is out of the range of group codes");

    BinaryFile unended(1);
    unended.text(0, "SECTION").text(2, "ENTITIES").code(1);
    EXPECT_EQ(refusal(unended.bytes() + "no end"),
              "bad.dxf: byte " + std::to_string(unended.size()) + ": the file ends inside the text of group code 1");
    EXPECT_NE(refusal(unended.bytes() + std::string(dxf::kMaxLineBytes + 1, 'x')).find("is longer than"),
              std::string::npos);

    // A fault of the structure names the byte of its tag, in place of a line.
    BinaryFile endsec(1);
    endsec.text(0, "SECTION").text(2, "ENTITIES").text(0, "ENDSEC");
    const std::size_t stray = endsec.size();
    endsec.text(0, "ENDSEC").text(0, "EOF");
    EXPECT_EQ(refusal(endsec.bytes()), "bad.dxf: byte " + std::to_string(stray) + ": ENDSEC without SECTION");
    EXPECT_EQ(refusal(std::string(dxf::kBinarySentinel.substr(0, 20))),
              "bad.dxf: byte 0: the file begins like a binary DXF file but its first 22 bytes are damaged");

    // Cut anywhere, a real file either opens (as possibly truncated) or is refused.
    for (const char* name : {"acadsharp_sample_AC1009_binary.dxf", "acadsharp_sample_AC1018_binary.dxf"}) {
        if (!fs::exists(corpus(name))) continue;
        const std::string whole = readFile(corpus(name));
        for (std::size_t at = body; at < whole.size(); at += 7919) {
            auto r = openDrawingText(whole.substr(0, at), "cut.dxf");
            if (r) {
                ASSERT_FALSE(r.warnings.empty()) << at;
                EXPECT_NE(r.warnings.back().find("may be truncated"), std::string::npos);
                EXPECT_TRUE(openDrawingText(writeDrawingText(*r.database))) << at;
            } else {
                EXPECT_EQ(r.error.rfind("cut.dxf: byte ", 0), 0u) << r.error;
            }
        }
    }
}

// A large file reads as its ASCII form does, a fault near its end names its byte,
// and bytes after an early 0/EOF are kept unread however many they are.
TEST(DxfBinary, ALargeFileReadsAsOne) {
    auto large = [](std::size_t references) {
        BinaryFile f(2);
        f.text(0, "SECTION").text(2, "BLOCKS").text(0, "BLOCK").text(5, "20").text(8, "0").text(2, "B");
        f.int16(70, 0).real(10, 0).real(20, 0).real(30, 0).text(0, "ENDBLK").text(5, "21").text(0, "ENDSEC");
        f.text(0, "SECTION").text(2, "ENTITIES");
        char handle[24];
        for (std::size_t i = 0; i < references; ++i) {
            std::snprintf(handle, sizeof handle, "%zX", 0x100 + i);
            f.text(0, "INSERT").text(5, handle).text(8, "Layer-" + std::to_string(i % 7)).text(2, "B");
            f.real(10, static_cast<double>(i) * 0.25).real(20, -static_cast<double>(i)).real(30, 0);
        }
        f.text(0, "ENDSEC").text(0, "EOF");
        return f;
    };
    const std::size_t count = 17u * 1024 * 1024 / 60;
    const BinaryFile file = large(count);
    ASSERT_GT(file.size(), 16u << 20);
    auto r = openDrawingText(file.bytes(), "large.dxf");
    ASSERT_TRUE(r) << r.error;
    const std::string list = listing(*r.database);
    EXPECT_NE(list.find("\n" + std::to_string(count) + " block references\n"), std::string::npos);
    EXPECT_TRUE(writeDrawingText(*r.database) == file.bytes());
    // Read as ASCII the drawing is the same.
    r.database->store().setSaveFormat(dxf::DxfFormat::Ascii);
    auto ascii = openDrawingText(writeDrawingText(*r.database), "large-ascii.dxf");
    ASSERT_TRUE(ascii) << ascii.error;
    EXPECT_EQ(listing(*ascii.database), list);

    // A real that is no number near the end.
    std::string bad = file.bytes();
    const std::size_t at = bad.size() - 23;                      // before 0/ENDSEC and 0/EOF
    ASSERT_EQ(bad.substr(at - 2, 2), std::string("\x1e\0", 2));  // group code 30, the last reference's Z
    const double nan = std::numeric_limits<double>::quiet_NaN();
    bad.replace(at, 8, reinterpret_cast<const char*>(&nan), 8);
    EXPECT_EQ(openDrawingText(bad, "bad.dxf").error,
              "bad.dxf: byte " + std::to_string(at) + ": group code 30 holds a real that is no number");

    // A small drawing followed by more bytes than it has.
    const BinaryFile small = referenceDrawing(2, "D-1");
    std::string padded = small.bytes() + std::string(17u << 20, '\x7f');
    auto tail = openDrawingText(padded, "tail.dxf");
    ASSERT_TRUE(tail) << tail.error;
    EXPECT_NE(listing(*tail.database).find("1 block reference"), std::string::npos);
    EXPECT_TRUE(writeDrawingText(*tail.database) == padded);
}

// Every finite real reads as text that gives back its bits, and is written as them.
TEST(DxfBinary, RealsComeBackToTheSameBits) {
    std::mt19937_64 random(17);
    std::vector<double> reals = {-0.0,          0.0,
                                 1.0,           -1.5,
                                 0.1,           1e-300,
                                 4.9e-324,      1.7976931348623157e308,
                                 123456789.125, 999999999999999.9,
                                 1e15,          0.30000000000000004};
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        const double any = std::bit_cast<double>(bits);
        if (std::isfinite(any)) reals.push_back(any);
        // Coordinates with a few decimals, as drawings have them.
        const double decimals = static_cast<double>(static_cast<std::int64_t>(bits % 2000000001) - 1000000000) /
                                std::pow(10.0, static_cast<double>(bits % 9));
        reals.push_back(decimals);
    }
    BinaryFile file(2);
    file.text(0, "SECTION").text(2, "ENTITIES").text(0, "LINE");
    for (double r : reals) file.real(10, r);
    file.text(0, "ENDSEC").text(0, "EOF");
    dxf::BinarySource source;
    const std::string text = dxf::binaryToText(file.bytes(), source);
    std::istringstream lines(text);
    std::string code, value;
    std::size_t n = 0;
    while (std::getline(lines, code) && std::getline(lines, value)) {
        if (code != "10") continue;
        double back = 0;
        auto r = std::from_chars(value.data(), value.data() + value.size(), back);
        ASSERT_TRUE(r.ec == std::errc() && r.ptr == value.data() + value.size()) << value;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(reals[n])) << value;
        ASSERT_NE(value.find_first_of(".e"), std::string::npos) << value;
        ++n;
    }
    EXPECT_EQ(n, reals.size());
    std::string written;
    dxf::BinaryWriter writer([&](std::string_view s) { written.append(s); }, 2);
    writer.put(text);
    writer.finish();
    EXPECT_TRUE(written == file.bytes());
}

// Values a save cannot put in binary fail the save, naming the value; the previous
// file stays.
TEST(DxfBinary, AValueBinaryCannotHoldFailsTheSave) {
    std::string out;
    dxf::BinaryWriter writer([&](std::string_view s) { out.append(s); }, 2);
    EXPECT_THROW(writer.put("70\n70000\n"), dxf::BinaryWriteError);
    dxf::BinaryWriter bytes([&](std::string_view s) { out.append(s); }, 2);
    EXPECT_THROW(bytes.put("310\nABC\n"), dxf::BinaryWriteError);
    dxf::BinaryWriter real([&](std::string_view s) { out.append(s); }, 1);
    EXPECT_THROW(real.put("10\n1,5\n"), dxf::BinaryWriteError);
    // Pieces of any size make the same bytes.
    const std::string text =
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n-2.5\n62\n-7\n290\n1\n310\n00FF\n0\nENDSEC\n0\nEOF\n";
    std::string whole, pieces;
    dxf::BinaryWriter a([&](std::string_view s) { whole.append(s); }, 2);
    a.put(text);
    a.finish();
    dxf::BinaryWriter b([&](std::string_view s) { pieces.append(s); }, 2);
    for (char c : text) b.put(std::string_view(&c, 1));
    b.finish();
    EXPECT_TRUE(whole == pieces);
    dxf::BinarySource source;
    EXPECT_EQ(dxf::binaryToText(whole, source), text);
}

// An ASCII drawing whose integer in a group code binary files keep as text is laid out
// as ASCII writers lay integers out (right-aligned, a sign) saves as binary and reads
// back, in either form, as the same drawing; one that is no integer stays refused.
TEST(DxfBinary, PaddedIntegersInCodesBinaryKeepsAsTextSurviveTheConversion) {
    for (const char* value : {"     1", "1", " +12 ", "-3\t"}) {
        SCOPED_TRACE(std::string("'") + value + "'");
        const std::string text = std::string("0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$TILEMODE\n84\n") +
                                 value + "\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";
        auto ascii = openDrawingText(text);
        ASSERT_TRUE(ascii) << ascii.error;
        ascii.database->store().setSaveFormat(dxf::DxfFormat::Binary);
        const std::string binary = writeDrawingText(*ascii.database);
        auto back = openDrawingText(binary, "binary.dxf");
        ASSERT_TRUE(back) << back.error;
        back.database->store().setSaveFormat(dxf::DxfFormat::Ascii);
        EXPECT_EQ(writeDrawingText(*back.database), text);
    }
    const std::string bad =
        "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$X\n84\n1 2\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nENDSEC\n"
        "0\nEOF\n";
    EXPECT_FALSE(openDrawingText(bad));
}
