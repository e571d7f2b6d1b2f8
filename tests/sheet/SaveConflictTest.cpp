// Saving a workbook that another program changed on disk since it was read: their
// file stays, this session's version goes beside it under a name that says so, and
// the user hears of it once; a save that keeps failing is told once too.
#include "sheet/Book.h"
#include "sheet/xlsx/Package.h"
#include "tests/common/FileFault.h"
#include "tests/sheet/SheetTestSupport.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace sheet::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SaveConflictTest : public SheetTest {
protected:
    // Another session's save: read, change, written back atomically as ours are.
    void saveElsewhere(const std::string& path, const std::function<void(Book&)>& edit) {
        auto book = xlsx::readPackage(readFile(path), u"elsewhere");
        edit(*book);
        std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(platform::writeFileAtomically(path, xlsx::writePackage(*book)));
    }
    std::vector<std::u16string> sheetNames(const fs::path& path) {
        std::vector<std::u16string> names;
        auto book = xlsx::readPackage(readFile(path), u"check");  // kept while its sheets are looked at
        for (const auto& s : book->sheets()) names.push_back(s->name());
        return names;
    }
    std::vector<fs::path> conflictCopies() {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(folder()))
            if (e.path().filename().string().find("conflict") != std::string::npos) found.push_back(e.path());
        return found;
    }
};

TEST_F(SaveConflictTest, BothSidesChangedTheirFileStaysOursGoesBesideItAndItIsToldOnce) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("start"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    const fs::path file = fs::path(folder()) / "Book1.xlsx";

    // The other session adds a sheet and saves; this one, not knowing, edits a cell.
    saveElsewhere(file.string(), [](Book& book) { book.insertSheet(1, u"Theirs"); });
    put(cell(sheet.get(), 2, 1).get(), id::Value, bstr("mine"));

    std::vector<std::string> problems = flushChangedWorkbooks();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(sheetNames(file), (std::vector<std::u16string>{u"Sheet1", u"Theirs"})) << "their sheet is not lost";
    std::vector<fs::path> copies = conflictCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(copies[0].filename().string().starts_with("Book1 (conflict ")) << copies[0];
    EXPECT_EQ(copies[0].extension(), ".xlsx");
    auto ours = xlsx::readPackage(readFile(copies[0]), u"ours");
    EXPECT_EQ(ours->strings.text(ours->sheets()[0]->find(2, 1)->text), u"mine");
    EXPECT_NE(problems[0].find(file.string()), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find(copies[0].string()), std::string::npos) << problems[0];

    // Said once: the next command's end has nothing more to say or to write.
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(conflictCopies().size(), 1u);
    // And the workbook here now shows what the file holds.
    reloadChangedWorkbooks();
    auto book = getObject(app.get(), id::ActiveWorkbook);
    auto sheets = getObject(book.get(), id::Worksheets);
    EXPECT_EQ(call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).lVal(), 2);

    // Later edits are saved over their file as usual, keeping both sheets.
    auto active = getObject(app.get(), id::ActiveSheet);
    put(cell(active.get(), 3, 1).get(), id::Value, bstr("later"));
    EXPECT_TRUE(flushChangedWorkbooks().empty());
    EXPECT_EQ(sheetNames(file), (std::vector<std::u16string>{u"Sheet1", u"Theirs"}));
    EXPECT_EQ(conflictCopies().size(), 1u);
}

TEST_F(SaveConflictTest, ASaveThatKeepsFailingIsToldOnceAndAgainOnlyOnceItWorkedInBetween) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("one"));
    {
        platform::test::FileFault full(platform::test::FileCall::write, ENOSPC, 0, -1);
        std::vector<std::string> first = flushChangedWorkbooks();
        ASSERT_EQ(first.size(), 1u);
        EXPECT_NE(first[0].find("Book1.xlsx"), std::string::npos) << first[0];
        EXPECT_TRUE(flushChangedWorkbooks().empty()) << "the same failure again is not told again";
        put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("two"));
        EXPECT_TRUE(flushChangedWorkbooks().empty());
    }
    EXPECT_TRUE(flushChangedWorkbooks().empty()) << "saved once the disk has room";
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("three"));
    platform::test::FileFault full(platform::test::FileCall::write, ENOSPC, 0, -1);
    EXPECT_EQ(flushChangedWorkbooks().size(), 1u) << "a new failure after a good save is told";
}

}  // namespace
}  // namespace sheet::test
