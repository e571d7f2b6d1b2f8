// The module's life through the real host loader: mapping with and without its
// resource module, the application messages, the AutoLISP function per drawing,
// commands, the link timer, unloading.
#include "host/AcEdCommandStack.h"
#include "host/AcRxDynamicLinker.h"
#include "host/AutoLisp.h"
#include "platform/Registry.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "sheet/Spreadsheet.h"
#include "tests/common/TestFiles.h"
#include "tests/module/ModuleTestSupport.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {

const std::string kModule = kBinDir + "/tabro.so";

// The default value (name empty) or a named value of a key under HKEY_CLASSES_ROOT.
std::optional<std::string> classesValue(const std::string& key, const char* name = "") {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::nullopt;
    char data[1024];
    DWORD size = sizeof data, type = 0;
    LONG status = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS || type != REG_SZ || size == 0) return std::nullopt;
    return std::string(data, size - 1);
}

bool classesKeyExists(const std::string& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

void createClassesKey(const std::string& key) {
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
}

std::vector<std::string> commandNames(const char* group) {
    std::vector<std::string> names;
    for (const AcEdCommand& c : acedRegCmds->commandsOfGroup(group)) names.push_back(c.globalName);
    return names;
}

class LifecycleTest : public HostTest {
protected:
    void TearDown() override {
        acrxDynamicLinker->unloadAll();
        HostTest::TearDown();
    }
    void* load() {
        std::string error;
        EXPECT_TRUE(acrxDynamicLinker->loadModule(kModule.c_str(), false, &error)) << error;
        return acrxDynamicLinker->appIdOf("tabro");
    }
};

TEST_F(LifecycleTest, LoadingRegistersCommandsTimerAndTheLispFunction) {
    std::size_t timersBefore = platform::liveTimers();
    void* app = load();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(commandNames("Tablora"), (std::vector<std::string>{"tabro", "tbtest"}));
    EXPECT_FALSE(acrxDynamicLinker->isApplicationLocked("tabro"));
    EXPECT_TRUE(acrxDynamicLinker->isAppMDIAware("tabro"));
    EXPECT_EQ(platform::liveTimers(), timersBefore + 1) << "the link timer";
    ASSERT_EQ(host::lispFunctionsOf(document_).count("init_tabro"), 1u);
    EXPECT_EQ(host::lispFunctionsOf(document_)["init_tabro"].code, 0);
    EXPECT_EQ(host::queuedExpressionsOf(document_), (std::deque<std::string>{"(init_tabro)"}));
    EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u);

    // The queued call reaches the module and ends quietly.
    output_.clear();
    EXPECT_EQ(host::runPendingWork(), 1);
    EXPECT_EQ(output_.text().find("error"), std::string::npos) << output_.text();
    EXPECT_TRUE(document_->isQuiescent());

    std::string error;
    ASSERT_TRUE(acrxDynamicLinker->unloadModule("TABRO", false, &error)) << error;
    EXPECT_TRUE(commandNames("Tablora").empty());
    EXPECT_EQ(platform::liveTimers(), timersBefore);
    EXPECT_EQ(host::lispFunctionsOf(document_).count("init_tabro"), 0u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(LifecycleTest, EveryDrawingGetsTheFunctionAndTheQueuedCallAgain) {
    void* app = load();
    ASSERT_NE(app, nullptr);
    host::runPendingWork();
    AcApDocument* second = acDocManager->newDocument();
    EXPECT_EQ(host::lispFunctionsOf(second).count("init_tabro"), 1u);
    EXPECT_EQ(host::queuedExpressionsOf(second), (std::deque<std::string>{"(init_tabro)"}));
    EXPECT_TRUE(host::queuedExpressionsOf(document_).empty()) << "the first drawing is not asked again";

    // Unloading a drawing undefines the function there only.
    acrxDynamicLinker->sendMessage(app, AcRx::kUnloadDwgMsg);
    EXPECT_EQ(host::lispFunctionsOf(second).count("init_tabro"), 0u);
    EXPECT_EQ(host::lispFunctionsOf(document_).count("init_tabro"), 1u);
}

TEST_F(LifecycleTest, UnknownMessageCodesChangeNothing) {
    void* app = load();
    ASSERT_NE(app, nullptr);
    host::runPendingWork();
    auto functions = host::lispFunctionsOf(document_).size();
    for (int code : {0, 16, 99, -1}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(acrxDynamicLinker->sendMessage(app, static_cast<AcRx::AppMsgCode>(code)), AcRx::kRetOK);
        EXPECT_EQ(commandNames("Tablora").size(), 2u);
        EXPECT_EQ(host::lispFunctionsOf(document_).size(), functions);
        EXPECT_TRUE(host::queuedExpressionsOf(document_).empty());
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(LifecycleTest, OtherFunctionCodesAreReportedToTheHost) {
    void* app = load();
    ASSERT_NE(app, nullptr);
    host::runPendingWork();
    for (int code : {1, 7}) {
        SCOPED_TRACE(code);
        host::lispFunctionsOf(document_)["stray"] = host::LispFunction{"stray", code, app, nullptr};
        output_.clear();
        EXPECT_TRUE(host::evaluateExpression(document_, "(stray)", false));
        EXPECT_NE(output_.text().find("Received nonexistent function code."), std::string::npos) << output_.text();
    }
}

TEST_F(LifecycleTest, TheCommandsRunThroughTheCommandLine) {
    ASSERT_NE(load(), nullptr);
    feed({"tabro", "^C", "TABRO", "nothing", "^C", "tabro", "Disconnect", "(init_tabro)"});
    host::runCommandLoop();
    std::string out = output_.text();
    EXPECT_NE(out.find("Invalid option keyword."), std::string::npos) << out;
    EXPECT_EQ(out.find("Unknown command"), std::string::npos) << out;
    EXPECT_NE(out.find("(init_tabro)\nnil"), std::string::npos) << out;
    EXPECT_TRUE(boxes_.boxes().empty()) << "Escape and a quiet keyword end silently";
    EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u);
}

TEST_F(LifecycleTest, LoadingRegistersTheEventHandlerClassAndItsTypeLibrary) {
    const std::string clsid = "CLSID\\{BF62E005-EC31-11D3-BAA0-002018640C96}";
    // Left by an older registration: the class's key is replaced whole, the other
    // classes stay.
    createClassesKey(clsid + "\\Stale");
    createClassesKey("CLSID\\{00000000-1111-2222-3333-444444444444}");
    ASSERT_NE(load(), nullptr);
    const std::string path = std::filesystem::canonical(kModule).string();

    EXPECT_EQ(classesValue("Tabro.AppEventHandler.1"), "AppEventHandler Class");
    EXPECT_EQ(classesValue("Tabro.AppEventHandler.1\\CLSID"), "{BF62E005-EC31-11D3-BAA0-002018640C96}");
    EXPECT_EQ(classesValue("Tabro.AppEventHandler"), "AppEventHandler Class");
    EXPECT_EQ(classesValue("Tabro.AppEventHandler\\CLSID"), "{BF62E005-EC31-11D3-BAA0-002018640C96}");
    EXPECT_EQ(classesValue("Tabro.AppEventHandler\\CurVer"), "Tabro.AppEventHandler.1");
    EXPECT_EQ(classesValue(clsid), "AppEventHandler Class");
    EXPECT_EQ(classesValue(clsid + "\\ProgID"), "Tabro.AppEventHandler.1");
    EXPECT_EQ(classesValue(clsid + "\\VersionIndependentProgID"), "Tabro.AppEventHandler");
    EXPECT_TRUE(classesKeyExists(clsid + "\\Programmable"));
    EXPECT_EQ(std::filesystem::canonical(classesValue(clsid + "\\InprocServer32").value_or("/nonexistent")), path);
    EXPECT_EQ(classesValue(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(classesValue(clsid + "\\TypeLib"), "{1867BCA3-EA1B-11D3-BA98-002018640C96}");
    EXPECT_FALSE(classesKeyExists(clsid + "\\Stale"));
    EXPECT_TRUE(classesKeyExists("CLSID\\{00000000-1111-2222-3333-444444444444}"));

    const std::string lib = "TypeLib\\{1867BCA3-EA1B-11D3-BA98-002018640C96}\\1.0";
    EXPECT_EQ(classesValue(lib), "Tabro 1.0 Type Library");
    EXPECT_EQ(std::filesystem::canonical(classesValue(lib + "\\409\\win32").value_or("/nonexistent")), path);
    EXPECT_EQ(classesValue("Interface\\{BF62E004-EC31-11D3-BAA0-002018640C96}"), "IAppEventHandler");

    // What the registry holds is on disk, where another process finds it.
    const char* home = std::getenv("CADHOST_HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(home) / "classes.reg"));
    EXPECT_TRUE(boxes_.boxes().empty()) << "registering says nothing";
}

// A classes.reg the registration could not read is told of as the module starts,
// once; a broken user.reg waits for the first command, which reads it anyway.
TEST_F(LifecycleTest, ABrokenClassesHiveIsToldOfWhenTheModuleStarts) {
    tabro::testing::TempDir scratch("lifecycle-home");
    const std::filesystem::path& home = scratch.path();
    tabro::testing::ScopedEnv homeVariable("CADHOST_HOME", home.string());
    ASSERT_EQ(::mkfifo((home / "classes.reg").c_str(), 0600), 0);
    std::filesystem::create_directory(home / "user.reg");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first load" : "loaded again");
        boxes_.clear();
        ASSERT_NE(load(), nullptr);
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, "The registry file " + (home / "classes.reg").string() +
                                          " cannot be read: not a regular file.\nThe live link's event handler "
                                          "cannot be registered there.");
        EXPECT_TRUE(platform::isFailureBox(boxes_.last().type));
        acrxDynamicLinker->unloadAll();
    }
}

TEST_F(LifecycleTest, UnloadingWhileConnectedEndsTheLinkThread) {
    ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK);
    sheet::startSpreadsheetApplication();
    const std::size_t threadsBefore = platform::liveThreads();
    ASSERT_NE(load(), nullptr);
    feed({"tabro", "Connect", "tabro", "Connect"});
    host::runCommandLoop();
    EXPECT_EQ(platform::liveThreads(), threadsBefore + 1) << "one link thread however often one connects";

    std::string error;
    ASSERT_TRUE(acrxDynamicLinker->unloadModule("tabro", false, &error)) << error;
    EXPECT_EQ(platform::liveThreads(), threadsBefore) << "the thread ended before the module went";
    EXPECT_TRUE(boxes_.boxes().empty());
    sheet::stopSpreadsheetApplication();
    (void)sheet::revokeSpreadsheetApplication();
}

TEST_F(LifecycleTest, WithoutItsResourceModuleTheModuleIsRefused) {
    tabro::testing::TempDir scratch("no-resources");
    const std::filesystem::path& folder = scratch.path();
    std::filesystem::copy_file(kModule, folder / "tabro.so");
    std::size_t timersBefore = platform::liveTimers();
    std::string error;
    EXPECT_FALSE(acrxDynamicLinker->loadModule((folder / "tabro.so").c_str(), false, &error));
    EXPECT_NE(error.find("refused to start"), std::string::npos) << error;
    EXPECT_TRUE(commandNames("Tablora").empty());
    EXPECT_TRUE(acrxDynamicLinker->loadedModuleNames().empty());
    EXPECT_EQ(platform::liveTimers(), timersBefore);
    EXPECT_EQ(host::lispFunctionsOf(document_).count("init_tabro"), 0u);
    EXPECT_TRUE(boxes_.boxes().empty()) << "the host says why, not the module";

    // The host keeps running, and the module loads from its own folder afterwards.
    EXPECT_NE(load(), nullptr);
}

}  // namespace
