// The tbtest connection test: its trace lines on the command line and its error box.
#include "module/cmd/cmdtest.h"

#include "StandInFixture.h"
#include "automation/InvokeHook.h"
#include "host/Editor.h"
#include "platform/ComError.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tabro::testing {
namespace {

using automation::ObjectClass;
using automation::testing::InvokeFault;
using automation::testing::ScopedInvokeFault;
using automation::testing::ScopedInvokeLog;
namespace dispid = automation::dispid;

std::string traces(std::initializer_list<int> points) {
    std::string out;
    for (int p : points) out += "\nDEBUG: cmd/cmdtest (" + std::to_string(p) + ")";
    return out;
}

class ConnectionTestCommand : public StandInTest {};

TEST_F(ConnectionTestCommand, NotRegisteredShowsTheErrorBox) {
    host::OutputCapture output;
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 50}));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, "ERROR: Failed to to obtain Excel object.");
    EXPECT_EQ(boxes.last().caption, "Error");
    EXPECT_EQ(boxes.last().owner, adsw_acadMainWnd());
    EXPECT_EQ(boxes.last().type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_FALSE(running());
}

TEST_F(ConnectionTestCommand, NotRunningStartsOneAndAddsAWorkbook) {
    registerClass();
    host::OutputCapture output;
    platform::MessageBoxRecorder boxes;
    ScopedInvokeLog log;
    EXPECT_TRUE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 50, 64, 66, 68, 72, 74}));
    EXPECT_EQ(boxes.count(), 0u);
    ASSERT_TRUE(running()) << "the application was started";
    EXPECT_TRUE(isVisible());
    // A new application is interactive by itself; the command sets it all the same.
    EXPECT_EQ(log.count(dispid::Interactive, ObjectClass::Application), 1u);
    EXPECT_TRUE(get(running().get(), dispid::Interactive).boolVal());
    EXPECT_EQ(workbookCount(), 1);
    EXPECT_EQ(activeWorkbookName(), u"Book1");
}

TEST_F(ConnectionTestCommand, RunningWithAWorkbookAddsNothing) {
    registerClass();
    DispatchPtr started = start();
    DispatchPtr first = addWorkbook();
    DispatchPtr second = addWorkbook();
    platform::invoke(first.get(), dispid::Activate, DISPATCH_METHOD);
    host::OutputCapture output;
    EXPECT_TRUE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 64, 66, 68, 72, 74}));
    EXPECT_EQ(workbookCount(), 2);
    EXPECT_EQ(activeWorkbookName(), nameOf(first.get()));
    EXPECT_EQ(running().get(), started.get()) << "no second application";
}

TEST_F(ConnectionTestCommand, AFailingMemberStopsTheTraceAndIsRaised) {
    registerClass();
    DispatchPtr started = start();
    ScopedInvokeFault fault(InvokeFault(dispid::Visible).on(ObjectClass::Application).describedAs("Not now."));
    host::OutputCapture output;
    try {
        runConnectionTest();
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800A03ECu);
        EXPECT_EQ(e.Description(), u"Not now.");
    }
    EXPECT_EQ(output.text(), traces({48, 64}));
    EXPECT_EQ(workbookCount(), 0) << "nothing after the failed member ran";
}

}  // namespace
}  // namespace tabro::testing
