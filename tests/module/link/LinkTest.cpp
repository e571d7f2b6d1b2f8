// The live link with its real thread: connecting, reconnecting and disconnecting,
// events reaching the queue from another thread, the timer that sends the import
// to an idle drawing only, a proxy whose thread is gone, and how the thread ends.
#include "host/AcEdCommandStack.h"
#include "module/LinkApp.h"
#include "module/link/AppEventHandler.h"
#include "module/link/ChangeQueue.h"
#include "module/link/ComServer.h"
#include "module/link/LinkControl.h"
#include "module/link/LinkThread.h"
#include "module/link/LinkTimer.h"
#include "platform/Apartment.h"
#include "platform/ConnectionPointImpl.h"
#include "platform/Event.h"
#include "platform/Marshal.h"
#include "platform/MessageQueue.h"
#include "platform/Messages.h"
#include "platform/Thread.h"
#include "sheet/BookLifecycle.h"
#include "tests/common/TestFiles.h"
#include "tests/module/ModuleTestSupport.h"
#include "tests/module/spreadsheet/StandInFixture.h"

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Variant;
using tabro::DispatchPtr;

HMODULE loadedModule() {
    static HMODULE module = LoadLibraryA((kBinDir + "/tabro.so").c_str());
    return module;
}

// Pumps the main thread's queue (timers included) until done() or the time is up.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        platform::MessageQueue::main().waitAndPump(5ms);
    }
    return true;
}

class LinkTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        platform::markMainThread();
        ASSERT_NE(loadedModule(), nullptr);
        tabro::initComModule(loadedModule());
        tabro::changeQueue().clear();
        threadsAtStart_ = platform::liveThreads();
        ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK);
        app_ = sheet::startSpreadsheetApplication();
        DispatchPtr book = tabro::xl::addWorkbook(tabro::xl::workbooks(app_.get()).get());
        sheet_ = tabro::xl::activeSheet(book.get());
        tabro::xl::setValue(tabro::xl::cell(tabro::xl::cells(sheet_.get()).get(), 1, 1).get(), Variant::r8(1.0));
    }
    void TearDown() override {
        // What unloading does: the timer goes, the thread is told to end and waited for.
        tabro::linkApp()->onUnloadApp();
        tabro::linkApp()->linkHandler.reset();
        EXPECT_EQ(platform::liveThreads(), threadsAtStart_) << "the link thread ended";
        tabro::changeQueue().clear();
        app_.reset();
        sheet_.reset();
        sheet::stopSpreadsheetApplication();
        (void)sheet::revokeSpreadsheetApplication();
        ModuleTest::TearDown();
    }

    std::size_t subscribers() const {
        auto front = sheet::runningFront();
        return front ? front->events().connectionCount() : 0;
    }
    // What a typed cell does in the application: the event goes to every subscriber,
    // in its own apartment.
    void typeInto(const char16_t* cell) {
        DispatchPtr range = tabro::xl::range(sheet_.get(), cell);
        sheet::runningFront()->events().fire(tabro::kDispidSheetChange,
                                             {Variant::dispatch(sheet_.get()), Variant::dispatch(range.get())});
    }
    static bool queueHolds(std::size_t n) {
        return pumpUntil([n] { return tabro::changeQueue().count() >= n; }, 2000ms) &&
               tabro::changeQueue().count() == n;
    }

    // A new workbook reserves its name as Book<N>.xlsx in the working directory.
    tabro::testing::TempWorkingDir scratch_{"link"};
    DispatchPtr app_, sheet_;
    std::size_t threadsAtStart_ = 0;
};

TEST_F(LinkTest, ConnectStartsOneThreadAndEditsAreQueuedFromIt) {
    ASSERT_TRUE(tabro::connectLink());
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_ + 1);
    EXPECT_TRUE(platform::isProxy(tabro::linkApp()->linkHandler.get())) << "the main thread holds a proxy only";
    EXPECT_EQ(subscribers(), 1u);

    typeInto(u"B2");
    typeInto(u"C3");
    typeInto(u"D4");
    ASSERT_TRUE(queueHolds(3));
    auto newest = tabro::changeQueue().takeNewest();
    EXPECT_EQ(newest->column, 4);
    EXPECT_EQ(newest->row, 4);
    EXPECT_EQ(*newest->sheetName, u"Sheet1");
}

TEST_F(LinkTest, ConnectAgainKeepsOneThreadAndOneSubscription) {
    ASSERT_TRUE(tabro::connectLink());
    for (int i = 0; i < 3; ++i) {
        tabro::disconnectLink();  // as the Connect keyword does
        ASSERT_TRUE(tabro::connectLink());
    }
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_ + 1);
    EXPECT_EQ(subscribers(), 1u);
    typeInto(u"B2");
    EXPECT_TRUE(queueHolds(1)) << "each edit queued once";
}

TEST_F(LinkTest, AfterDisconnectEditsAreNotQueuedUntilConnectResumes) {
    ASSERT_TRUE(tabro::connectLink());
    tabro::disconnectLink();
    EXPECT_EQ(subscribers(), 0u);
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_ + 1) << "the thread keeps running, idle";
    typeInto(u"B2");
    pumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(tabro::changeQueue().count(), 0u);

    ASSERT_TRUE(tabro::connectLink());
    typeInto(u"B3");
    EXPECT_TRUE(queueHolds(1));
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_ + 1);
}

TEST_F(LinkTest, ConnectWithoutARunningApplicationFailsQuietlyAndCanBeRetried) {
    sheet::stopSpreadsheetApplication();
    EXPECT_FALSE(tabro::connectLink());
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_ + 1) << "the thread stays up";
    EXPECT_TRUE(boxes_.boxes().empty());
    app_ = sheet::startSpreadsheetApplication();
    EXPECT_TRUE(tabro::connectLink());
}

TEST_F(LinkTest, AProxyWhoseThreadIsGoneIsDroppedAtDisconnect) {
    ASSERT_TRUE(tabro::connectLink());
    tabro::LinkApp& app = *tabro::linkApp();
    SetEvent(app.linkStop.get());
    ASSERT_EQ(WaitForSingleObject(app.linkThread.get(), 2000), WAIT_OBJECT_0);

    tabro::disconnectLink();
    EXPECT_EQ(app.linkHandler.get(), nullptr);
    EXPECT_FALSE(tabro::connectLink()) << "the thread is not started twice in one load";
    EXPECT_EQ(platform::liveThreads(), threadsAtStart_);
}

TEST_F(LinkTest, TheTimerSendsTheImportOnlyToAnIdleDrawingWithWorkQueued) {
    tabro::linkTimerProc(nullptr, WM_TIMER, 1, 0);
    EXPECT_FALSE(document_->hasSentStrings()) << "nothing queued";

    tabro::changeQueue().append(tabro::ChangedCell{2, 2, std::make_shared<const std::u16string>(u"Sheet1"),
                                                   std::make_shared<const std::u16string>(u"Book1")});
    tabro::linkTimerProc(nullptr, WM_TIMER, 1, 0);
    ASSERT_TRUE(document_->hasSentStrings());
    EXPECT_EQ(document_->takeSentString(), "tabro\n_import2\n");

    // A second tick before the string ran sends nothing more: the drawing is busy
    // with it.
    tabro::linkTimerProc(nullptr, WM_TIMER, 1, 0);
    tabro::linkTimerProc(nullptr, WM_TIMER, 1, 0);
    ASSERT_TRUE(document_->hasSentStrings());
    document_->takeSentString();
    EXPECT_FALSE(document_->hasSentStrings());
}

TEST_F(LinkTest, AnEditDuringACommandWaitsUntilTheCommandEnds) {
    ASSERT_TRUE(tabro::connectLink());
    tabro::linkApp()->onInitApp();  // the one-second timer
    bool sentWhileBusy = true;
    static std::function<void()> body;
    body = [&] {
        typeInto(u"B2");
        pumpUntil([] { return false; }, 1500ms);  // more than one tick
        sentWhileBusy = document_->hasSentStrings();
    };
    acedRegCmds->addCommand("LinkTest", "BUSY", "BUSY", ACRX_CMD_MODAL, [] { body(); });
    host::executeCommand("BUSY");
    acedRegCmds->removeGroup("LinkTest");
    EXPECT_FALSE(sentWhileBusy);
    EXPECT_EQ(tabro::changeQueue().count(), 1u) << "the edit waits in the queue";

    EXPECT_TRUE(pumpUntil([this] { return document_->hasSentStrings(); }, 2000ms)) << "sent once the drawing is idle";
    EXPECT_EQ(document_->takeSentString(), "tabro\n_import2\n");
}

// The thread procedure by itself: the stop event ends it with 0, WM_QUIT with 1.
class LinkThreadProcTest : public LinkTest {
protected:
    HANDLE start(DWORD* threadId) {
        tabro::LinkApp& app = *tabro::linkApp();
        app.linkStarted.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        app.linkStop.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        stream_ = nullptr;
        HANDLE thread = CreateThread(nullptr, 0, tabro::linkThreadProc, &stream_, 0, threadId);
        EXPECT_EQ(WaitForSingleObject(app.linkStarted.get(), 2000), WAIT_OBJECT_0);
        return thread;
    }
    void TearDown() override {
        if (stream_) stream_->Release();
        tabro::linkApp()->linkStarted.reset();
        tabro::linkApp()->linkStop.reset();
        LinkTest::TearDown();
    }
    IStream* stream_ = nullptr;
};

TEST_F(LinkThreadProcTest, TheStopEventEndsTheThreadWithZero) {
    DWORD id = 0;
    platform::UniqueHandle thread(start(&id));
    ASSERT_NE(stream_, nullptr) << "the handler is in the stream before linkStarted";
    SetEvent(tabro::linkApp()->linkStop.get());
    ASSERT_EQ(WaitForSingleObject(thread.get(), 2000), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread.get(), &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(LinkThreadProcTest, AQuitMessageEndsTheThreadWithOne) {
    DWORD id = 0;
    platform::UniqueHandle thread(start(&id));
    ASSERT_TRUE(PostThreadMessageA(id, WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread.get(), 2000), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread.get(), &code);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(tabro::moduleLockCount(), 0) << "the handler went with its thread";
}

}  // namespace
