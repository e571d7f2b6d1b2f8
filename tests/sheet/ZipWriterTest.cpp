// The archive writer: entries compressed on a second thread come back through an
// independent reader (libzip, and Python's zipfile) exactly, in the order asked for;
// the same entries give the same bytes; a writer dropped early leaves nothing running.
#include "sheet/xlsx/Zip.h"

#include "SheetTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace sheet::xlsx {
namespace {

std::string noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

TEST(ZipWriterTest, EntriesReadBackExactlyInTheOrderAsked) {
    std::map<std::string, std::string> entries{
        {"[Content_Types].xml", "<Types/>"},
        {"empty.xml", ""},
        {"xl/worksheets/sheet1.xml", std::string(3'000'000, 'x') + "<row/>"},
        {"noise.bin", noise(200'000, 7)},  // incompressible: deflate makes it a little larger
        {"xl/\xc5\xa1kola.xml", "UTF-8 name"},
    };
    for (int i = 0; i < 200; ++i) entries["many/" + std::to_string(i)] = std::to_string(i * i);
    const std::vector<std::string> order{"xl/worksheets/sheet1.xml", "[Content_Types].xml", "noise.bin", "empty.xml",
                                         "xl/\xc5\xa1kola.xml"};

    ZipWriter zip;
    for (const auto& [name, bytes] : entries) zip.add(name, bytes);
    zip.add("empty.xml", "replaced");  // the later bytes win
    const std::string archive = zip.finish(order);

    ZipReader reader(archive, ReadLimits{});
    EXPECT_EQ(reader.names(), order);
    for (const std::string& name : order) {
        SCOPED_TRACE(name);
        EXPECT_EQ(reader.read(name), name == "empty.xml" ? "replaced" : entries[name]);
    }

    // Another reader, and its integrity check of every entry.
    if (!sheet::test::hasOpenpyxl()) return;  // the same Python brings zipfile
    tabro::testing::TempDir folder("zip-writer");
    tabro::testing::writeFile(folder.file("a.zip"), archive);
    EXPECT_EQ(sheet::test::runPython(folder.path().string(),
                                     "import zipfile, sys\n"
                                     "z = zipfile.ZipFile('a.zip')\n"
                                     "sys.exit(1 if z.testzip() else 0 if len(z.namelist()) == 5 else 2)\n"),
              0);
}

TEST(ZipWriterTest, PiecesOfAnEntryArriveInOrderBesideWholeEntries) {
    // More than the writer queues before it makes the caller wait, in pieces of
    // uneven sizes, with whole entries added in between.
    std::string expected;
    ZipWriter zip;
    const std::size_t big = zip.beginEntry("xl/worksheets/sheet1.xml");
    zip.add("before.xml", "whole, before");
    const std::size_t small = zip.beginEntry("xl/drawings/vmlDrawing1.vml");
    for (int i = 0; i < 400; ++i) {
        std::string piece = noise(1000 + i * 97, static_cast<unsigned>(i)) + std::string(50'000, 'a' + i % 26);
        expected += piece;
        zip.write(big, std::move(piece));
        if (i == 200) zip.add("between.xml", "whole, between");
        if (i % 100 == 0) zip.write(small, "<v:shape/>");
    }
    zip.endEntry(big, "</worksheet>");
    expected += "</worksheet>";
    zip.endEntry(small);
    const std::size_t unended = zip.beginEntry("never ended");
    zip.write(unended, "half");
    EXPECT_THROW(zip.finish({"never ended"}), XlsxError);
    const std::string archive =
        zip.finish({"before.xml", "xl/worksheets/sheet1.xml", "between.xml", "xl/drawings/vmlDrawing1.vml"});

    ReadLimits limits;
    ZipReader reader(archive, limits);
    EXPECT_TRUE(reader.read("xl/worksheets/sheet1.xml") == expected);
    EXPECT_EQ(reader.read("xl/drawings/vmlDrawing1.vml"), "<v:shape/><v:shape/><v:shape/><v:shape/>");
    EXPECT_EQ(reader.read("between.xml"), "whole, between");
}

TEST(ZipWriterTest, SameEntriesGiveTheSameBytes) {
    auto build = [] {
        ZipWriter zip;
        zip.add("a.xml", std::string(100'000, 'a'));
        zip.add("b.xml", noise(50'000, 3));
        return zip.finish();
    };
    EXPECT_EQ(build(), build());
}

TEST(ZipWriterTest, RefusesNamesItWasNotGivenAndStopsWhenDroppedEarly) {
    {
        ZipWriter zip;
        zip.add("a", "1");
        EXPECT_THROW(zip.finish({"a", "b"}), XlsxError);
    }
    // Work still queued when the writer goes is dropped, not waited for in vain.
    ZipWriter zip;
    for (int i = 0; i < 50; ++i) zip.add(std::to_string(i), std::string(1'000'000, static_cast<char>('a' + i % 26)));
}

TEST(ZipWriterTest, EmptyEntriesAreFinishedBeforeTheArchiveIs) {
    // An empty part adds no bytes to the queue: the archive must still wait for the
    // worker that took it. Many rounds, as the worker's timing varies.
    for (int round = 0; round < 2000; ++round) {
        ZipWriter zip;
        zip.add("a.xml", "");
        zip.add("b.xml", "");
        ASSERT_NO_THROW(zip.finish()) << "round " << round;
    }
}

}  // namespace
}  // namespace sheet::xlsx
