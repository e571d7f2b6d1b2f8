// Large drawings are mapped from their file rather than copied: what the drawing
// reads stays what the file held when it was opened, whoever writes the file
// afterwards, and pages dropped (MADV_DONTNEED) read the same when faulted in again.
#include "host/bytes/DrawingBytes.h"
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/dxf/DxfTokenizer.h"
#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <tuple>

namespace fs = std::filesystem;
using platform::test::FileCall;
using platform::test::FileFault;

namespace {

using tabro::testing::readFile;

// A drawing of `count` references to DOOR, each with its NUMBER attribute "D-i";
// reference i has handle 1000 + 3i, its attribute the next one. Over a megabyte
// for 10,000, so that it is mapped.
std::string manyDoors(int count) {
    std::ostringstream s;
    s << "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$HANDSEED\n5\nFFFFF\n0\nENDSEC\n"
         "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nBLOCK_RECORD\n5\n1\n"
         "0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n0\nBLOCK_RECORD\n5\n11\n2\n*Paper_Space\n"
         "0\nBLOCK_RECORD\n5\n12\n2\nDOOR\n0\nENDTAB\n0\nENDSEC\n"
         "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n5\n30\n2\n*Model_Space\n0\nENDBLK\n5\n31\n"
         "0\nBLOCK\n5\n32\n67\n1\n2\n*Paper_Space\n0\nENDBLK\n5\n33\n"
         "0\nBLOCK\n5\n34\n2\nDOOR\n70\n2\n10\n0.0\n20\n0.0\n30\n0.0\n"
         "0\nATTDEF\n5\n35\n10\n0.0\n20\n0.0\n40\n1.0\n1\n\n3\nNumber\n2\nNUMBER\n70\n0\n0\nENDBLK\n5\n36\n"
         "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n";
    for (int i = 0; i < count; ++i) {
        s << std::hex << std::uppercase;
        s << "0\nINSERT\n5\n" << 1000 + 3 * i << "\n8\nDOORS\n2\nDOOR\n66\n1\n";
        s << std::dec << "10\n" << i << ".5\n20\n" << 2 * i << ".25\n30\n0.0\n";
        s << std::hex << "0\nATTRIB\n5\n" << 1001 + 3 * i << "\n8\nDOORS\n";
        s << std::dec << "10\n"
          << i << ".5\n20\n"
          << 2 * i << ".25\n30\n0.0\n40\n1.0\n1\nD-" << i << "\n2\nNUMBER\n70\n0\n";
        s << std::hex << "0\nSEQEND\n5\n" << 1002 + 3 * i << "\n" << std::dec;
    }
    s << "0\nENDSEC\n0\nEOF\n";
    return s.str();
}

constexpr int kDoors = 10000;

std::string textOfAttribute(AcDbDatabase& db, int reference) {
    AcDbObjectId id;
    if (db.getAcDbObjectId(id, false, AcDbHandle(1001 + 3 * reference)) != Acad::eOk) return "(no object)";
    AcDbObjectPointer<AcDbAttribute> attribute(id, AcDb::kForRead);
    if (!attribute) return "(not an attribute)";
    AcutString text(attribute->textString());
    return text.get();
}

class MappedDrawingTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_ / "doors.dxf";
        text_ = manyDoors(kDoors);
        ASSERT_GT(text_.size(), hostbytes::DrawingBytes::kMinMappedBytes);
        std::ofstream(file_, std::ios::binary) << text_;
    }
    tabro::testing::TempDir scratch_{"drawing-mapped"};
    const fs::path dir_ = scratch_.path();
    fs::path file_;
    std::string text_;
};

}  // namespace

TEST_F(MappedDrawingTest, AWriterOfTheFileWaitsUntilTheDrawingHasItsOwnCopy) {
    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    const hostbytes::DrawingBytes& bytes = db.store().bytes();
    ASSERT_TRUE(bytes.isMapped()) << "a large drawing file of this user is mapped";
    EXPECT_FALSE(bytes.isPrivateCopy());
    EXPECT_EQ(textOfAttribute(db, 17), "D-17");

    // Another program writes the file in place, cutting it short first: without a
    // copy of its own the drawing would read that program's bytes, or fail to
    // read past the new end.
    ASSERT_EQ(std::system(("printf 'not a drawing' > '" + file_.string() + "'").c_str()), 0);
    ASSERT_EQ(readFile(file_), "not a drawing") << "the writer went ahead once the drawing let it";
    EXPECT_TRUE(bytes.isPrivateCopy());
    EXPECT_EQ(textOfAttribute(db, kDoors - 1), "D-" + std::to_string(kDoors - 1));
    EXPECT_EQ(writeDrawingText(db), text_) << "the drawing is still the file as it was read";
}

TEST_F(MappedDrawingTest, AWriterInThisProcessIsHeldBackTheSameWay) {
    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    ASSERT_TRUE(r.database->store().bytes().isMapped());
    // The open below waits in the system for the lease, and the signal that breaks
    // it comes to this very process, maybe to this thread.
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << "short";
    EXPECT_TRUE(r.database->store().bytes().isPrivateCopy());
    EXPECT_EQ(textOfAttribute(*r.database, kDoors - 2), "D-" + std::to_string(kDoors - 2));
    EXPECT_EQ(writeDrawingText(*r.database), text_);
}

TEST_F(MappedDrawingTest, PagesGivenBackReadTheSameAgain) {
    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    ASSERT_TRUE(db.store().bytes().isMapped());
    // Twice over everything, the second time after the pages were dropped, and
    // once more in an order jumping across the file.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kDoors; ++i) ASSERT_EQ(textOfAttribute(db, i), "D-" + std::to_string(i)) << i;
        db.store().bytes().release();
    }
    for (int i = 0; i < kDoors; i += 997)
        EXPECT_EQ(textOfAttribute(db, (i * 7919) % kDoors), "D-" + std::to_string((i * 7919) % kDoors));

    // A change is saved over the mapped text, and the file saved reads back the same.
    {
        AcDbObjectId id;
        ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(1001 + 3 * 4242)), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> attribute(id, AcDb::kForWrite);
        ASSERT_TRUE(attribute);
        ASSERT_EQ(attribute->setTextString("changed"), Acad::eOk);
    }
    ASSERT_TRUE(saveDrawing(db));
    std::string expected = text_;
    const std::string old = "1\nD-4242\n";
    expected.replace(expected.find(old), old.size(), "1\nchanged\n");
    EXPECT_EQ(readFile(file_), expected);
    EXPECT_EQ(textOfAttribute(db, kDoors / 2), "D-" + std::to_string(kDoors / 2)) << "the .bak is still mapped";
}

TEST_F(MappedDrawingTest, AFileOpenForWritingIsReadInstead) {
    // Someone has the file open to write it: it could change at any time, and no
    // lease is given, so its bytes are copied as they are now.
    const int writer = ::open(file_.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    auto r = openDrawingFile(file_.string());
    ::close(writer);
    ASSERT_TRUE(r) << r.error;
    EXPECT_FALSE(r.database->store().bytes().isMapped());
    EXPECT_EQ(textOfAttribute(*r.database, 123), "D-123");
    EXPECT_EQ(writeDrawingText(*r.database), text_);
}

TEST_F(MappedDrawingTest, AFaultyLargeFileIsRefusedAsWhenRead) {
    // A fault near the end, and a line too long for any drawing in the middle.
    std::string faulty = text_;
    faulty.replace(faulty.rfind("20\n"), 3, "20\nabc\n20\n");
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << faulty;
    auto mapped = openDrawingFile(file_.string());
    EXPECT_FALSE(mapped);
    EXPECT_EQ(mapped.error, openDrawingText(faulty, file_.string()).error);
    EXPECT_NE(mapped.error.find("expects a number, got 'abc'"), std::string::npos) << mapped.error;

    std::string tooLong = text_;
    tooLong.insert(tooLong.size() / 2, std::string(dxf::kMaxLineBytes + 10, 'x'));
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << tooLong;
    auto refused = openDrawingFile(file_.string());
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.error.find("longer than"), std::string::npos) << refused.error;
}

// A save copies what did not change from the file itself while the drawing holds it
// unchanged, and from the drawing's own copy once another program has written it.
TEST_F(MappedDrawingTest, ASaveWritesTheDrawingAsReadWhoeverWroteTheFileSince) {
    auto setText = [](AcDbDatabase& db, int reference, const char* value) {
        AcDbObjectId id;
        ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(1001 + 3 * reference)), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> attribute(id, AcDb::kForWrite);
        ASSERT_TRUE(attribute);
        ASSERT_EQ(attribute->setTextString(value), Acad::eOk);
    };
    std::string expected = text_;
    const std::string old = "1\nD-5000\n";
    expected.replace(expected.find(old), old.size(), "1\nchanged\n");

    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    ASSERT_TRUE(r.database->store().bytes().isMapped());
    setText(*r.database, 5000, "changed");
    const fs::path copy = dir_ / "copy.dxf";
    DrawingSaveResult saved = saveDrawingAs(*r.database, copy.string());
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(readFile(copy), expected);

    // Now the file is rewritten, as long as before but with other bytes throughout.
    std::string other(text_.size(), 'x');
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << other;
    ASSERT_TRUE(r.database->store().bytes().isPrivateCopy());
    saved = saveDrawingAs(*r.database, (dir_ / "again.dxf").string());
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(readFile(dir_ / "again.dxf"), expected);
}

// The lease, the mapping and the kernel's copy made to fail through the file call
// table: the drawing is read or written from memory instead, or the save fails
// saying why, and the drawing and the file on disk stay as they were.
class MappedDrawingFaultTest : public MappedDrawingTest {
protected:
    static std::size_t openDescriptors() {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
    }
    static void setText(AcDbDatabase& db, int reference, const char* value) {
        AcDbObjectId id;
        ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(1001 + 3 * reference)), Acad::eOk);
        AcDbObjectPointer<AcDbAttribute> attribute(id, AcDb::kForWrite);
        ASSERT_TRUE(attribute);
        ASSERT_EQ(attribute->setTextString(value), Acad::eOk);
    }
    // The file's text with these references' attributes saying what is given.
    std::string textWith(std::initializer_list<std::pair<int, std::string>> values) const {
        std::string text = text_;
        for (const auto& [reference, value] : values) {
            const std::string old = "1\nD-" + std::to_string(reference) + "\n";
            text.replace(text.find(old), old.size(), "1\n" + value + "\n");
        }
        return text;
    }
};

TEST_F(MappedDrawingFaultTest, ALeaseOrMappingRefusedReadsTheFileInstead) {
    // What is refused, the call that fails and its errno.
    const std::tuple<const char*, FileCall, int> cases[] = {
        {"the lease (someone has the file open to write)", FileCall::lease, EAGAIN},
        {"the signal of a lease break", FileCall::fcntl, EINVAL},
        {"the mapping", FileCall::mmap, ENOMEM},
    };
    const std::size_t descriptorsBefore = openDescriptors();
    for (const auto& [what, call, error] : cases) {
        SCOPED_TRACE(what);
        {
            FileFault fault(call, error);
            auto r = openDrawingFile(file_.string());
            ASSERT_EQ(fault.failures(), 1) << "the call went through the file call table";
            ASSERT_TRUE(r) << r.error;
            EXPECT_FALSE(r.database->store().bytes().isMapped());
            EXPECT_EQ(textOfAttribute(*r.database, kDoors - 1), "D-" + std::to_string(kDoors - 1));
            EXPECT_EQ(writeDrawingText(*r.database), text_);
        }
        // What the refused attempt took (the descriptor, its place in the lease-break
        // handler's table) is free again: the next open maps the file.
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
        auto again = openDrawingFile(file_.string());
        ASSERT_TRUE(again) << again.error;
        EXPECT_TRUE(again.database->store().bytes().isMapped());
    }

    // With the read failing after the lease, the open fails naming the file and why.
    FileFault lease(FileCall::lease, EAGAIN);
    FileFault read(FileCall::read, EIO, 0, -1);
    auto r = openDrawingFile(file_.string());
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, file_.string() + ": Input/output error");
    EXPECT_EQ(readFile(file_), text_);
}

TEST_F(MappedDrawingFaultTest, ACopyThatFailsFailsTheSaveAndKeepsThePreviousFile) {
    const fs::path copy = dir_ / "copy.dxf";
    std::ofstream(copy, std::ios::binary) << "previous copy";
    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    ASSERT_TRUE(db.store().bytes().isMapped());
    setText(db, 5000, "changed");
    {
        // The second stretch copied inside the kernel fails, after the first went.
        FileFault fault(FileCall::copyFileRange, EIO, 1);
        DrawingSaveResult saved = saveDrawingAs(db, copy.string());
        ASSERT_EQ(fault.failures(), 1) << "the save copied from the file through the file call table";
        EXPECT_FALSE(saved);
        EXPECT_EQ(saved.error, "could not save " + copy.string() +
                                   ": write failed: Input/output error; the previous file is unchanged");
    }
    EXPECT_EQ(readFile(copy), "previous copy");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << "no temporary or backup is left";
    EXPECT_TRUE(db.isModified());
    EXPECT_EQ(db.fileName(), file_.string());
    EXPECT_EQ(readFile(file_), text_);

    // The drawing is intact: the next save writes it whole.
    DrawingSaveResult saved = saveDrawingAs(db, copy.string());
    ASSERT_TRUE(saved) << saved.error;
    EXPECT_EQ(readFile(copy), textWith({{5000, "changed"}}));
}

TEST_F(MappedDrawingFaultTest, ACopyTheKernelRefusesAndResidencyHintsThatFailWriteTheSameBytes) {
    auto r = openDrawingFile(file_.string());
    ASSERT_TRUE(r) << r.error;
    AcDbDatabase& db = *r.database;
    ASSERT_TRUE(db.store().bytes().isMapped());
    // Two unchanged stretches large enough to come from the file, between three changes.
    setText(db, 17, "first");
    setText(db, kDoors / 2, "middle");
    setText(db, kDoors - 17, "last");
    // Another file system (EXDEV): the stretches come from memory, the second one
    // populated ahead (MADV_POPULATE_READ), which fails here too.
    FileFault copy(FileCall::copyFileRange, EXDEV, 0, -1);
    FileFault advice(FileCall::madvise, EINVAL, 0, -1);
    const fs::path saved = dir_ / "saved.dxf";
    DrawingSaveResult result = saveDrawingAs(db, saved.string());
    ASSERT_TRUE(result) << result.error;
    EXPECT_EQ(copy.failures(), 1) << "refused once, the copy is not asked for again";
    EXPECT_EQ(advice.failures(), 1);
    EXPECT_EQ(readFile(saved), textWith({{17, "first"}, {kDoors / 2, "middle"}, {kDoors - 17, "last"}}));
    // Dropping the pages fails as well (MADV_DONTNEED): they stay, and read the same.
    db.store().bytes().release();
    EXPECT_EQ(advice.failures(), 2);
    EXPECT_EQ(textOfAttribute(db, kDoors / 3), "D-" + std::to_string(kDoors / 3));
}
