// Reading then writing a drawing reproduces it: byte for byte when nothing changed,
// and with only the changed values different when something did.
#include "host/db/DrawingFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::vector<fs::path> drawingsIn(const fs::path& dir) {
    std::vector<fs::path> out;
    if (!fs::exists(dir)) return out;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".dxf") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

bool hasPython() { return std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0; }

fs::path tempDir() {
    fs::path d = fs::temp_directory_path() / ("tablora-dxf-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

}  // namespace

TEST(DxfRoundTrip, EveryAsciiDrawingComesBackUnchanged) {
    auto files = drawingsIn(fs::path(TABLORA_SHARED_DIR) / "corpus/dxf");
    auto fixtures = drawingsIn(fs::path(TABLORA_FIXTURES_DIR) / "dxf");
    files.insert(files.end(), fixtures.begin(), fixtures.end());
    ASSERT_FALSE(files.empty());
    fs::path dir = tempDir();
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        std::string original = readFile(f);
        auto r = openDrawingFile(f.string());
        if (original.rfind("AutoCAD Binary DXF", 0) == 0) {
            EXPECT_FALSE(r);
            EXPECT_NE(r.error.find("binary DXF"), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r) << r.error;
        std::ostringstream list;
        listBlockReferences(*r.database, list);
        EXPECT_EQ(r.database->openObjectCount(), 0u);
        std::string written = writeDrawingText(*r.database);
        if (written == original) continue;
        // Only handles given to objects that had none may differ (early drawings).
        fs::path out = dir / f.filename();
        writeFile(out, written);
        std::string cmd = "/usr/bin/python3 " + std::string(TABLORA_SHARED_DIR) + "/tools/dxf_same.py '" +
                          f.string() + "' '" + out.string() + "' >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << "written drawing differs: " << out;
        // And read again, it keeps those handles: a second save is identical.
        auto again = openDrawingText(written);
        ASSERT_TRUE(again) << again.error;
        EXPECT_TRUE(writeDrawingText(*again.database) == written) << "a second save differs";
    }
}

TEST(DxfRoundTrip, EarlyDrawingsGetHandlesThatStay) {
    auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/nohandles_r12.dxf");
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    // Every entity got a handle from the seed upward, and the seed moved past them.
    AcDbObjectIdArray ids;
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(db.getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(bt);
    AcDbObjectId tagId;
    ASSERT_EQ(table->getAt("tag", tagId), Acad::eOk);  // names compare case-insensitively
    AcDbObjectPointer<AcDbBlockTableRecord> rec(tagId, AcDb::kForRead);
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->getBlockReferenceIds(ids), Acad::eOk);
    ASSERT_EQ(ids.length(), 1);
    AcDbHandle h = ids[0].handle();
    EXPECT_GE(h.value(), 0x5Au);
    EXPECT_GT(db.handseed().value(), h.value());
    (void)rec.close();
    (void)table.close();

    std::string written = writeDrawingText(db);
    auto again = openDrawingText(written);
    ASSERT_TRUE(again) << again.error;
    AcDbObjectId same;
    ASSERT_EQ(again.database->getAcDbObjectId(same, false, h), Acad::eOk);
    AcDbObjectPointer<AcDbBlockReference> ref(same, AcDb::kForRead);
    EXPECT_TRUE(ref) << "the handle names the same reference after a save";
}

TEST(DxfRoundTrip, ChangedValuesAreTheOnlyDifference) {
    auto r = openDrawingFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    AcDbObjectId id;
    ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle("2F4")), Acad::eOk);
    {
        AcDbObjectPointer<AcDbBlockReference> ref(id, AcDb::kForWrite);
        ASSERT_TRUE(ref);
        ASSERT_EQ(ref->setPosition({12.5, 5.0, 0.0}), Acad::eOk);
        ASSERT_EQ(ref->setScaleFactors({2.0, 2.0, 1.0}), Acad::eOk);  // 41/42 absent: added
        std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
        AcDbAttribute* att = nullptr;
        ASSERT_EQ(ref->openAttribute(att, it->objectId(), AcDb::kForWrite), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> a;
        a.adopt(att);
        ASSERT_EQ(att->setTextString("D-202 Ž"), Acad::eOk);
    }
    EXPECT_TRUE(db.isModified());
    std::string original = readFile(std::string(TABLORA_FIXTURES_DIR) + "/dxf/tagged_r2000.dxf");
    std::string written = writeDrawingText(db);
    // The Czech letter goes out in the drawing's code page; the rest is untouched.
    EXPECT_NE(written.find("D-202 \x8e\r\n"), std::string::npos);
    EXPECT_NE(written.find(" 10\r\n12.5\r\n"), std::string::npos);
    EXPECT_NE(written.find(" 30\r\n0.0\r\n 41\r\n2.0\r\n 42\r\n2.0\r\n 50\r\n90.0"), std::string::npos);
    EXPECT_EQ(written.size(), original.size() + std::string(" 41\r\n2.0\r\n 42\r\n2.0\r\n").size() + 2);

    if (!hasPython()) GTEST_SKIP() << "python3-ezdxf is not installed";
    fs::path out = tempDir() / "changed.dxf";
    writeFile(out, written);
    std::string cmd = "/usr/bin/python3 -c \""
                      "import ezdxf,sys\n"
                      "d=ezdxf.readfile(sys.argv[1])\n"
                      "i=d.entitydb['2F4']\n"
                      "a={x.dxf.tag:x.dxf.text for x in i.attribs}\n"
                      "ok=i.dxf.insert.x==12.5 and i.dxf.xscale==2.0 and a['NUMBER']=='D-202 \\u017d' and a['FIRE']=='Po\\u017e\\u00e1r'\n"
                      "sys.exit(0 if ok else 1)\" " + out.string();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "ezdxf reads the changed drawing as written";
}

TEST(DxfRoundTrip, NewDrawingIsReadableByEzdxf) {
    AcDbDatabase db;
    EXPECT_EQ(db.lunits(), 2);
    EXPECT_EQ(db.luprec(), 4);
    std::string text = writeDrawingText(db);
    auto again = openDrawingText(text);
    ASSERT_TRUE(again) << again.error;
    AcDbBlockTable* bt = nullptr;
    ASSERT_EQ(again.database->getSymbolTable(bt, AcDb::kForRead), Acad::eOk);
    EXPECT_TRUE(bt->has(ACDB_MODEL_SPACE));
    EXPECT_TRUE(bt->has(ACDB_PAPER_SPACE));
    (void)bt->close();
    if (!hasPython()) GTEST_SKIP() << "python3-ezdxf is not installed";
    fs::path out = tempDir() / "new.dxf";
    writeFile(out, text);
    std::string cmd = "/usr/bin/python3 -c \"import ezdxf,sys; d=ezdxf.readfile(sys.argv[1]); "
                      "sys.exit(0 if '0' in d.layers else 1)\" " + out.string() + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}
