// The archive reader inflating entries itself: damaged compressed data, checksums
// and sizes that do not match the directory, and data cut short each fail with a
// message naming the entry; no damage crashes it or keeps it reading.
#include "sheet/xlsx/Zip.h"

#include <gtest/gtest.h>

#include <random>

namespace sheet::xlsx {
namespace {

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
std::uint32_t get32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

// An archive of one entry as the writer makes it, with where its fields stand.
struct OneEntry {
    std::string archive;
    std::string content;
    std::size_t dataStart = 0, dataSize = 0, central = 0;

    OneEntry() {
        std::mt19937 random(11);
        for (int row = 1; content.size() < 600'000; ++row)
            content += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\"><v>" +
                       std::to_string(random() % 100000) + "</v></c></row>";
        ZipWriter zip;
        zip.add("xl/worksheets/sheet1.xml", content);
        archive = zip.finish();
        const std::size_t nameLength = 24;
        dataStart = 30 + nameLength;
        dataSize = get32(archive, 18);
        central = get32(archive, archive.size() - 22 + 16);
    }
    // Sets a field of the local header and its copy in the central directory.
    void set(std::size_t localAt, std::size_t centralAt, std::uint32_t value) {
        put32(archive, localAt, value);
        put32(archive, central + centralAt, value);
    }
};

std::string failureOf(const std::string& archive) {
    try {
        ZipReader reader(archive, ReadLimits{});
        reader.read("xl/worksheets/sheet1.xml");
    } catch (const XlsxError& e) {
        return e.what();
    }
    return "";
}

TEST(ZipReaderTest, EntriesThatDoNotMatchTheirDirectoryFailNamingTheEntry) {
    const OneEntry good;
    {
        ZipReader reader(good.archive, ReadLimits{});
        EXPECT_TRUE(reader.read("xl/worksheets/sheet1.xml") == good.content);
    }
    struct Case {
        const char* what;
        std::size_t localAt, centralAt;
        std::uint32_t value;
    } cases[] = {
        {"checksum", 14, 16, get32(good.archive, 14) ^ 1},
        {"size declared smaller", 22, 24, static_cast<std::uint32_t>(good.content.size() - 1)},
        {"size declared larger", 22, 24, static_cast<std::uint32_t>(good.content.size() + 1)},
        {"compressed data cut short", 18, 20, static_cast<std::uint32_t>(good.dataSize / 2)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        OneEntry bad;
        bad.set(k.localAt, k.centralAt, k.value);
        const std::string message = failureOf(bad.archive);
        EXPECT_NE(message.find("sheet1.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("damaged"), std::string::npos) << message;
    }
}

TEST(ZipReaderTest, AnEmptyEntryStoredAsNoCompressedBytesReadsAsEmpty) {
    ZipWriter zip;
    zip.add("xl/worksheets/sheet1.xml", "");
    zip.add("next.xml", "<next/>");
    std::string archive = zip.finish();
    // The empty entry's compressed size, in its local header and the directory.
    const std::size_t central = get32(archive, archive.size() - 22 + 16);
    ASSERT_LE(get32(archive, 18), 2u);
    put32(archive, 18, 0);
    put32(archive, central + 20, 0);
    ZipReader reader(archive, ReadLimits{});
    EXPECT_EQ(reader.read("xl/worksheets/sheet1.xml"), "");
    EXPECT_EQ(reader.read("next.xml"), "<next/>");
    // Declared to hold something, no bytes are damage.
    put32(archive, 22, 5);
    put32(archive, central + 24, 5);
    EXPECT_NE(failureOf(archive).find("damaged"), std::string::npos);
}

TEST(ZipReaderTest, DamagedCompressedDataFailsOrReadsBackNeverAnythingElse) {
    const OneEntry good;
    std::mt19937 random(5);
    int failed = 0;
    for (int round = 0; round < 200; ++round) {
        std::string archive = good.archive;
        // A few bytes anywhere in the compressed data, or a run of them cleared.
        if (round % 4 == 3) {
            const std::size_t at = good.dataStart + random() % (good.dataSize - 64);
            std::fill(archive.begin() + static_cast<std::ptrdiff_t>(at),
                      archive.begin() + static_cast<std::ptrdiff_t>(at + 64), '\0');
        } else {
            for (int i = 0; i < 1 + round % 3; ++i)
                archive[good.dataStart + random() % good.dataSize] ^= static_cast<char>(1 + random() % 255);
        }
        try {
            ZipReader reader(archive, ReadLimits{});
            const std::string back = reader.read("xl/worksheets/sheet1.xml");
            EXPECT_TRUE(back == good.content) << "round " << round;
        } catch (const XlsxError& e) {
            ++failed;
            EXPECT_NE(std::string(e.what()).find("sheet1.xml"), std::string::npos) << e.what();
        }
    }
    // Nearly every change is caught (by the stream's structure or its checksum).
    EXPECT_GT(failed, 190);
}

}  // namespace
}  // namespace sheet::xlsx
