// The application context: what an application registered goes with it through the
// unload hooks that the command stack and the AutoLISP functions subscribe, and the
// running application seen by whatever registers.
#include "host/AcEdCommandStack.h"
#include "host/ApplicationContext.h"
#include "host/AutoLisp.h"
#include "tests/host/HostTestSupport.h"

namespace {

char firstApp;
char secondApp;

void noop() {}

const char* nameOf(void* appId) { return appId == &firstApp ? "first" : "second"; }

// Registers as a module does: its command on kInitAppMsg, its function in each
// drawing on kLoadDwgMsg.
AcRx::AppRetCode registering(AcRx::AppMsgCode msg, void* appId) {
    if (msg == AcRx::kInitAppMsg) acedRegCmds->addCommand(nameOf(appId), nameOf(appId), nameOf(appId), 0, noop);
    if (msg == AcRx::kLoadDwgMsg) acedDefun(nameOf(appId), 1);
    return AcRx::kRetOK;
}

std::vector<void*> seenRunning;

// Sees itself running, and the other application inside a message it sends it.
AcRx::AppRetCode nesting(AcRx::AppMsgCode msg, void* appId) {
    seenRunning.push_back(host::currentApp());
    if (msg == AcRx::kInitAppMsg && appId == &firstApp) {
        host::sendApplicationMessage(&secondApp, AcRx::kInitAppMsg);
        seenRunning.push_back(host::isAppRunning(&firstApp) ? host::currentApp() : nullptr);
    }
    return AcRx::kRetOK;
}

AcRx::AppRetCode throwing(AcRx::AppMsgCode, void*) { throw std::runtime_error("boom"); }

class ApplicationContextTest : public HostTest {
protected:
    void TearDown() override {
        host::removeApplication(&firstApp);
        host::removeApplication(&secondApp);
        HostTest::TearDown();
    }
    bool hasFunction(AcApDocument* document, const char* name) {
        return host::lispFunctionsOf(document).count(name) > 0;
    }
};

TEST_F(ApplicationContextTest, RemovingAnApplicationRemovesWhatItRegisteredInEveryDrawing) {
    AcApDocument* second = acDocManager->newDocument();
    for (void* app : {static_cast<void*>(&firstApp), static_cast<void*>(&secondApp)}) {
        host::addApplication(app, std::string(nameOf(app)) + ".so", registering);
        EXPECT_EQ(host::sendApplicationMessage(app, AcRx::kInitAppMsg), AcRx::kRetOK);
        for (AcApDocument* document : {document_, second}) {
            host::CurrentDocumentScope scope(document);
            host::sendApplicationMessage(app, AcRx::kLoadDwgMsg);
        }
    }
    ASSERT_NE(acedRegCmds->lookup("first"), nullptr);
    EXPECT_EQ(acedRegCmds->lookup("first")->appId, &firstApp) << "recorded as the running application's";
    EXPECT_EQ(host::lispFunctionsOf(second)["first"].appId, &firstApp);
    std::vector<void*> told;
    int hook = host::addAppUnloadHook([&](void* appId) {
        told.push_back(appId);
        EXPECT_EQ(acedRegCmds->lookup(nameOf(appId)), nullptr) << "told after the command stack, which came first";
    });

    host::removeApplication(&firstApp);
    EXPECT_FALSE(host::isApplication(&firstApp));
    EXPECT_EQ(acedRegCmds->lookup("first"), nullptr);
    EXPECT_FALSE(hasFunction(document_, "first"));
    EXPECT_FALSE(hasFunction(second, "first")) << "in the drawing that is not current too";
    EXPECT_NE(acedRegCmds->lookup("second"), nullptr) << "another application keeps what it registered";
    EXPECT_TRUE(hasFunction(document_, "second"));
    EXPECT_TRUE(hasFunction(second, "second"));
    EXPECT_EQ(host::sendApplicationMessage(&firstApp, AcRx::kInvkSubrMsg), AcRx::kRetError);

    host::removeApplication(&firstApp);
    EXPECT_EQ(told, (std::vector<void*>{&firstApp})) << "an application is removed once";
    host::removeAppUnloadHook(hook);
    host::removeApplication(&secondApp);
    EXPECT_EQ(told.size(), 1u) << "a removed hook is not told";
    EXPECT_EQ(acedRegCmds->lookup("second"), nullptr);
    EXPECT_FALSE(hasFunction(second, "second"));
}

TEST_F(ApplicationContextTest, TheInnermostRunningApplicationIsTheCurrentOne) {
    seenRunning.clear();
    host::addApplication(&firstApp, "first.so", nesting);
    host::addApplication(&secondApp, "second.so", nesting);
    EXPECT_EQ(host::currentApp(), nullptr);
    EXPECT_EQ(host::sendApplicationMessage(&firstApp, AcRx::kInitAppMsg), AcRx::kRetOK);
    EXPECT_EQ(seenRunning, (std::vector<void*>{&firstApp, &secondApp, &firstApp}));
    EXPECT_EQ(host::currentApp(), nullptr);
    EXPECT_FALSE(host::isAppRunning(&firstApp));
}

TEST_F(ApplicationContextTest, AnExceptionFromAnEntryPointIsReportedAndGoesNoFurther) {
    host::addApplication(&firstApp, "first.so", throwing);
    EXPECT_EQ(host::sendApplicationMessage(&firstApp, AcRx::kInvkSubrMsg), AcRx::kRetError);
    EXPECT_NE(output_.text().find("first.so: unhandled exception on application message 5."), std::string::npos)
        << output_.text();
    EXPECT_EQ(host::currentApp(), nullptr) << "no longer marked running";
}

}  // namespace
