// The menu check of every drawing, the toolbar keyword and the help keyword, run
// against the real host menus and help libraries found where the platform finds
// them: a module folder of the test's own, and a system folder holding the real
// help library, a recording stand-in or none.
#include "host/AcEdCommandStack.h"
#include "host/AcedMenu.h"
#include "host/MenuGroups.h"
#include "module/LinkApp.h"
#include "module/cmd/cmdhelp.h"
#include "module/cmd/cmdinit.h"
#include "platform/HtmlHelp.h"
#include "platform/LastError.h"
#include "tests/common/HelpRecord.h"
#include "tests/common/TestFiles.h"
#include "tests/module/ModuleTestSupport.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const std::string kModules = TABLORA_TEST_MODULES_DIR;

class MenuHelpTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host::unloadAllMenuGroups();
        fs::create_directories(folder_ / "module");
        fs::create_directories(folder_ / "system");
        // Any library does as the module: its folder is what the module looks in.
        fs::copy_file(kModules + "/AttachCounter.so", folder_ / "module" / "tabro.so");
        module_ = LoadLibraryA((folder_ / "module" / "tabro.so").c_str());
        ASSERT_NE(module_, nullptr);
        linkApp()->moduleHandle = module_;
        linkApp()->helpLibrary = nullptr;
        savedSystemFolder_ = platform::setSystemFolder((folder_ / "system").string());
        // CMDECHO as the user left it, every value set on it recorded.
        host::registerSystemVariable("CMDECHO", host::SystemVariable{[this](resbuf& rb) {
                                                                         rb.restype = RTSHORT;
                                                                         rb.resval.rint = cmdecho_;
                                                                         return true;
                                                                     },
                                                                     [this](const resbuf& rb) {
                                                                         if (rb.restype != RTSHORT) return false;
                                                                         cmdecho_ = rb.resval.rint;
                                                                         cmdechoSets_.push_back(cmdecho_);
                                                                         return true;
                                                                     }});
    }
    void TearDown() override {
        host::registerShortVariable("CMDECHO", 1, 0, 1);
        host::unloadAllMenuGroups();
        if (linkApp()->helpLibrary) FreeLibrary(linkApp()->helpLibrary);
        linkApp()->helpLibrary = nullptr;
        linkApp()->moduleHandle = nullptr;
        platform::setSystemFolder(savedSystemFolder_);
        if (module_) FreeLibrary(module_);
        ModuleTest::TearDown();
    }
    static tabro::LinkApp* linkApp() { return tabro::linkApp(); }
    void putMenu(const std::string& text) { tabro::testing::writeFile(folder_ / "module" / "tbmenu.mnu", text); }
    void putShippedMenu() { fs::copy_file(kBinDir + "/tbmenu.mnu", folder_ / "module" / "tbmenu.mnu"); }
    void putSystemLibrary(const std::string& from) {
        fs::copy_file(from, folder_ / "system" / HTMLHELP_LIBRARY, fs::copy_options::overwrite_existing);
    }

    tabro::testing::TempDir scratch_{"menuhelp"};
    const fs::path folder_ = scratch_.path();
    HMODULE module_ = nullptr;
    short cmdecho_ = 1;
    std::vector<short> cmdechoSets_;

private:
    std::string savedSystemFolder_;
};

TEST_F(MenuHelpTest, MenuLoadsQuietlyAndCmdechoIsTheUsersAfterwards) {
    putShippedMenu();
    for (short user : {1, 0}) {
        SCOPED_TRACE(user);
        host::unloadAllMenuGroups();
        cmdecho_ = user;
        cmdechoSets_.clear();
        output_.clear();
        EXPECT_EQ(tabro::loadMenuIfMissing(), RTNORM);
        EXPECT_TRUE(acedIsMenuGroupLoaded("TABRO"));
        EXPECT_EQ(host::findMenuGroup("TABRO")->path, (folder_ / "module" / "tbmenu.mnu").string());
        EXPECT_EQ(cmdecho_, user);
        EXPECT_EQ(cmdechoSets_, (std::vector<short>{0, user})) << "loaded with CMDECHO 0";
        EXPECT_EQ(output_.text(), "") << "the menu loads without a word";
    }
}

TEST_F(MenuHelpTest, MenuAlreadyLoadedChangesNeitherMenusNorCmdecho) {
    putShippedMenu();
    ASSERT_TRUE(host::loadMenuGroup((folder_ / "module" / "tbmenu.mnu").string()).isLoaded);
    host::LoadedMenuGroup* group = host::findMenuGroup("TABRO");
    group->toolbarShown[0] = true;
    EXPECT_EQ(tabro::loadMenuIfMissing(), RTNORM);
    EXPECT_TRUE(cmdechoSets_.empty());
    ASSERT_EQ(host::loadedMenuGroups().size(), 1u);
    EXPECT_EQ(host::loadedMenuGroups()[0], group) << "the group was not loaded again";
    EXPECT_TRUE(group->toolbarShown[0]);
    EXPECT_EQ(output_.text(), "");
}

TEST_F(MenuHelpTest, MissingOrDamagedMenuIsTriedAgainAtTheNextDrawing) {
    // Missing, then damaged: the group stays missing, the host reports the file
    // in its own box, the module says nothing of its own.
    for (const char* damaged : {static_cast<const char*>(nullptr), "***MENUGROUP=TABRO\n***POP1\n[Tablora\n"}) {
        SCOPED_TRACE(damaged ? damaged : "missing");
        if (damaged) putMenu(damaged);
        boxes_.clear();
        cmdechoSets_.clear();
        EXPECT_EQ(tabro::loadMenuIfMissing(), RTNORM);
        EXPECT_FALSE(acedIsMenuGroupLoaded("TABRO"));
        EXPECT_EQ(cmdecho_, 1);
        EXPECT_EQ(cmdechoSets_, (std::vector<short>{0, 1}));
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().caption, host::hostTitle());
        EXPECT_NE(boxes_.last().text.find((folder_ / "module" / "tbmenu").string()), std::string::npos)
            << boxes_.last().text;
        EXPECT_EQ(output_.text(), "");
    }
    fs::remove(folder_ / "module" / "tbmenu.mnu");
    putShippedMenu();
    EXPECT_EQ(tabro::loadMenuIfMissing(), RTNORM);
    EXPECT_TRUE(acedIsMenuGroupLoaded("TABRO")) << "the next drawing loads the mended file";
}

TEST_F(MenuHelpTest, ToolbarKeywordShowsTheToolbarOnlyWithItsGroup) {
    acedRegCmds->addCommand("MENUHELPTESTS", "showtb", "showtb", ACRX_CMD_MODAL, [] { tabro::showToolbar(); });
    feed({"showtb"});
    host::runCommandLoop();
    EXPECT_TRUE(cmdechoSets_.empty()) << "without the group nothing runs";
    EXPECT_EQ(output_.text().find("toolbar"), std::string::npos) << output_.text();

    putShippedMenu();
    ASSERT_TRUE(host::loadMenuGroup((folder_ / "module" / "tbmenu.mnu").string()).isLoaded);
    output_.clear();
    feed({"showtb", ""});
    host::runCommandLoop();
    acedRegCmds->removeGroup("MENUHELPTESTS");
    EXPECT_TRUE(host::findMenuGroup("TABRO")->toolbarShown[0]);
    EXPECT_EQ(cmdechoSets_, (std::vector<short>{0, 1}));
    std::string out = output_.text();
    EXPECT_NE(out.find("Tablora toolbar (TABRO.TB_TABRO):\n  1  Export blocks"), std::string::npos) << out;
    EXPECT_EQ(out.find("Enter toolbar name"), std::string::npos) << "the command itself runs quietly:\n" << out;
}

TEST_F(MenuHelpTest, HelpTwiceLoadsTheLibraryOnceAndOpensTheDefaultTopic) {
    putSystemLibrary(kModules + "/HelpRecorder.so");
    // Mapped as data first, so that the record is in place when the help loads it
    // for use; its DllMain then counts that load.
    HMODULE data = LoadLibraryExA((folder_ / "system" / HTMLHELP_LIBRARY).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    HelpRecord record;
    reinterpret_cast<void (*)(void*)>(GetProcAddress(data, "setHelpRecord"))(&record);

    tabro::showHelp();
    tabro::showHelp();
    EXPECT_EQ(linkApp()->helpLibrary, data) << "the library is kept";
    EXPECT_EQ(record.attaches, 1);
    EXPECT_EQ(record.calls, 2);
    EXPECT_EQ(record.file, (folder_ / "module" / "tabro.chm").string());
    EXPECT_EQ(record.command, HH_DISPLAY_TOPIC);
    EXPECT_EQ(record.data, 0u);
    EXPECT_EQ(boxes_.count(), 0u);

    // One reference from the help and one of ours: a second load by the help would
    // keep the library mapped after both are freed.
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_TRUE(FreeLibrary(linkApp()->helpLibrary));
    linkApp()->helpLibrary = nullptr;
    EXPECT_EQ(GetProcAddress(data, "setHelpRecord"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(MenuHelpTest, MissingHelpLibraryEntryPointOrFileShowsNothingFromTheModule) {
    tabro::showHelp();
    EXPECT_EQ(linkApp()->helpLibrary, nullptr) << "no library in the system folder";

    putSystemLibrary(kModules + "/AttachCounter.so");  // a library without the help function
    tabro::showHelp();
    EXPECT_NE(linkApp()->helpLibrary, nullptr);
    FreeLibrary(linkApp()->helpLibrary);
    linkApp()->helpLibrary = nullptr;

    // The real library with no help file in the module's folder: only the library's
    // own report, on stderr.
    platform::setSystemFolder("");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    testing::internal::CaptureStderr();
    tabro::showHelp();
    std::string libraryReport = testing::internal::GetCapturedStderr();
    EXPECT_NE(linkApp()->helpLibrary, nullptr);
    EXPECT_NE(libraryReport.find("tabro.chm"), std::string::npos) << libraryReport;
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_EQ(output_.text(), "");
}

}  // namespace
