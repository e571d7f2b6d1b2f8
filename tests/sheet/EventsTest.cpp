// SheetChange reaches subscribers when a workbook's file was changed by another
// program and reloaded: one event per changed cell, delivered on the subscriber's
// own thread, which can call back into the cell while the main thread works on.
#include "SheetTestSupport.h"

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/ConnectionPoint.h"
#include "sheet/BookLifecycle.h"
#include "sheet/xlsx/Package.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace sheet::test {
namespace {

using namespace std::chrono_literals;

struct Seen {
    std::int32_t row, column;
    std::u16string sheet, book;
    bool onSinkThread;
    friend bool operator<(const Seen& a, const Seen& b) {
        return std::tie(a.sheet, a.row, a.column) < std::tie(b.sheet, b.row, b.column);
    }
};

// The subscriber's event sink: reads the changed cell's address back through the
// objects it is handed, as the module's handler does.
class Sink final : public platform::ComObject<IDispatch> {
public:
    Sink(std::mutex& mutex, std::vector<Seen>& seen, std::thread::id home) : mutex_(mutex), seen_(seen), home_(home) {}
    HRESULT Invoke(DISPID dispid, WORD, std::span<const Variant> args, Variant*, EXCEPINFO*) override {
        if (dispid != id::SheetChange || args.size() != 2) return S_OK;
        try {
            IDispatch* range = args[1].pdispVal();
            auto sheet = getObject(range, id::Worksheet);
            auto book = getObject(sheet.get(), id::Parent);
            Seen s{call(range, id::Row, DISPATCH_PROPERTYGET).lVal(),
                   call(range, id::Column, DISPATCH_PROPERTYGET).lVal(),
                   call(sheet.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(),
                   call(book.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), std::this_thread::get_id() == home_};
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(s);
        } catch (const _com_error&) {
            ADD_FAILURE() << "the sink could not read the changed cell";
        }
        return S_OK;
    }

protected:
    void* queryExtra(REFIID riid) override { return riid == kAppEventsIid ? static_cast<IDispatch*>(this) : nullptr; }

private:
    std::mutex& mutex_;
    std::vector<Seen>& seen_;
    std::thread::id home_;
};

class EventsTest : public SheetTest {
protected:
    // Rewrites the workbook file as another program would: read, change, write.
    void editFileElsewhere(const std::string& path, const std::function<void(Book&)>& edit) {
        auto book = xlsx::readPackage(readFile(path), u"elsewhere");
        edit(*book);
        std::string out = xlsx::writePackage(*book);
        std::this_thread::sleep_for(20ms);  // a later modification time on coarse clocks
        writeFile(path, out);
    }
};

TEST_F(EventsTest, AReloadedFileSendsOneEventPerChangedCellToASubscriberOnItsOwnThread) {
    // The workbook as the module leaves it: written here and saved.
    auto sheet = newSheet();
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c) put(cell(sheet.get(), r, c).get(), id::Value, bstr(std::to_string(r * 10 + c)));
    ASSERT_TRUE(flushChangedWorkbooks().empty());

    std::mutex mutex;
    std::vector<Seen> seen;
    std::atomic<bool> advised{false}, stop{false};
    std::thread link([&] {
        platform::ApartmentScope apartment;
        ComPtr<IUnknown> running;
        ASSERT_EQ(GetActiveObject(kApplicationClsid, nullptr, running.put()), S_OK);
        auto container = running.as<IConnectionPointContainer>();
        ASSERT_TRUE(container);
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(kAppEventsIid, point.put()), S_OK);
        DWORD cookie = 0;
        {
            auto sink = platform::makeCom<Sink>(mutex, seen, std::this_thread::get_id());
            ASSERT_EQ(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie), S_OK);
        }
        advised = true;
        while (!stop) platform::currentApartment()->queue().waitAndPump(2ms);
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    });
    while (!advised) std::this_thread::sleep_for(1ms);

    editFileElsewhere("Book1.xlsx", [](Book& book) {
        auto& s = *book.sheets()[0];
        s.setText(2, 2, u"changed");  // was 22
        s.setNumber(3, 1, 31);        // unchanged value
        s.clearValue(1, 3);           // was 13
        s.setText(5, 4, u"new");      // a new cell
    });
    // Looking the workbook up again reloads it; the main thread keeps using the
    // objects while the subscriber reads them from its thread.
    auto active = getObject(app.get(), id::ActiveSheet);
    EXPECT_EQ(call(cell(active.get(), 2, 2).get(), id::Value, DISPATCH_PROPERTYGET).bstrVal(), u"changed");
    for (int i = 0; i < 3000; ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (seen.size() >= 3) break;
        }
        call(cell(active.get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET);
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    stop = true;
    link.join();

    std::set<Seen> got(seen.begin(), seen.end());
    EXPECT_EQ(seen.size(), 3u);
    std::set<std::tuple<int, int>> cells;
    for (const auto& s : seen) {
        cells.emplace(s.row, s.column);
        EXPECT_EQ(s.sheet, u"Sheet1");
        EXPECT_EQ(s.book, u"Book1");
        EXPECT_TRUE(s.onSinkThread);
    }
    EXPECT_EQ(cells, (std::set<std::tuple<int, int>>{{2, 2}, {1, 3}, {5, 4}}));
    // The sheet object the caller held before the reload sees the new content.
    EXPECT_EQ(call(cell(sheet.get(), 5, 4).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"new");
}

TEST_F(EventsTest, ChangesMadeThroughAutomationSendNoEventAndAreNotReloadedAway) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("mine"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    // Our own save is not taken for a change by another program.
    reloadChangedWorkbooks();
    put(cell(sheet.get(), 1, 2).get(), id::Value, bstr("pending"));
    editFileElsewhere("Book1.xlsx", [](Book& book) { book.sheets()[0]->setText(1, 1, u"theirs"); });
    // Unsaved changes of the running command win over the file until they are saved.
    reloadChangedWorkbooks();
    EXPECT_EQ(call(cell(sheet.get(), 1, 2).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"pending");
    EXPECT_EQ(call(cell(sheet.get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"mine");
}

TEST_F(EventsTest, AFileStillBeingWrittenIsNeitherReadAsEmptyNorLost) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("before"));
    put(cell(sheet.get(), 2, 1).get(), id::Value, bstr("kept"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());

    // A subscriber in this thread's apartment is called during the reload itself.
    platform::ApartmentScope apartment;
    std::mutex mutex;
    std::vector<Seen> seen;
    ComPtr<IUnknown> running;
    ASSERT_EQ(GetActiveObject(kApplicationClsid, nullptr, running.put()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(running.as<IConnectionPointContainer>()->FindConnectionPoint(kAppEventsIid, point.put()), S_OK);
    DWORD cookie = 0;
    {
        auto sink = platform::makeCom<Sink>(mutex, seen, std::this_thread::get_id());
        ASSERT_EQ(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie), S_OK);
    }

    // What the other program will have written once it is done.
    std::string complete;
    {
        auto book = xlsx::readPackage(readFile("Book1.xlsx"), u"elsewhere");
        book->sheets()[0]->setText(1, 1, u"after");
        complete = xlsx::writePackage(*book);
    }
    // Caught half way: the zip does not open yet. Nothing is reloaded, nothing fired.
    for (std::size_t cut : {std::size_t{0}, complete.size() / 2, complete.size() - 1}) {
        std::this_thread::sleep_for(5ms);
        std::ofstream(std::string("Book1.xlsx"), std::ios::binary | std::ios::trunc)
            .write(complete.data(), static_cast<std::streamsize>(cut));
        // Changed again by the next look: no word of it either.
        EXPECT_TRUE(reloadChangedWorkbooks().empty()) << cut << " bytes";
        EXPECT_TRUE(seen.empty()) << cut << " bytes";
        EXPECT_EQ(call(cell(sheet.get(), 2, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"kept")
            << "a partial file is not read as an empty workbook";
    }
    // Finished: tried again at the next look, and the one changed cell is told.
    std::this_thread::sleep_for(5ms);
    std::ofstream(std::string("Book1.xlsx"), std::ios::binary | std::ios::trunc)
        .write(complete.data(), static_cast<std::streamsize>(complete.size()));
    reloadChangedWorkbooks();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].row, 1);
    EXPECT_EQ(seen[0].column, 1);
    EXPECT_EQ(call(cell(sheet.get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"after");
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// A file that stays unreadable is told once, at the look after the one that failed
// (a file still being written has changed by then), and once more for each other
// version that stays unreadable; the workbook keeps what it held.
TEST_F(EventsTest, AFileThatStaysUnreadableIsToldOnce) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("kept"));
    ASSERT_TRUE(flushChangedWorkbooks().empty());
    for (const char* garbage : {"not a workbook", "still not a workbook, longer"}) {
        SCOPED_TRACE(garbage);
        std::this_thread::sleep_for(5ms);
        std::ofstream(std::string("Book1.xlsx"), std::ios::binary | std::ios::trunc) << garbage;
        EXPECT_TRUE(reloadChangedWorkbooks().empty()) << "the look that failed";
        const std::vector<std::string> told = reloadChangedWorkbooks();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_NE(told[0].find("'Book1'"), std::string::npos) << told[0];
        EXPECT_NE(told[0].find("cannot be read"), std::string::npos) << told[0];
        EXPECT_TRUE(reloadChangedWorkbooks().empty()) << "told once";
        EXPECT_EQ(call(cell(sheet.get(), 1, 1).get(), id::Text, DISPATCH_PROPERTYGET).bstrVal(), u"kept");
    }
}

}  // namespace
}  // namespace sheet::test
