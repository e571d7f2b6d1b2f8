// Module loading: the platform's library calls and resource strings, and the host's
// loader refusing what is not one of its applications.
#include "host/AcRxDynamicLinker.h"
#include "platform/Module.h"
#include "platform/Text.h"
#include "tests/common/TestFiles.h"
#include "tests/host/HostTestSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

const std::string kBin = TABLORA_BIN_DIR;
const std::string kResources = kBin + "/tabrores.so";

TEST(PlatformModuleTest, LoadingIsCountedAndPathsAreFull) {
    HMODULE first = LoadLibraryA(kResources.c_str());
    ASSERT_NE(first, nullptr);
    HMODULE second = LoadLibraryA((kBin + "/./tabrores.so").c_str());
    EXPECT_EQ(first, second) << "the same file is one module";
    EXPECT_EQ(platform::moduleFileName(first), std::filesystem::canonical(kResources).string());

    char small[8];
    EXPECT_EQ(GetModuleFileNameA(first, small, sizeof small), sizeof small);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    char program[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, program, MAX_PATH);
    EXPECT_GT(n, 0u);
    EXPECT_NE(std::string(program).find("host_tests"), std::string::npos);

    EXPECT_EQ(GetProcAddress(first, "acrxEntryPoint"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_NE(GetProcAddress(first, "ResourceModuleTable"), nullptr);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_NE(GetProcAddress(first, "ResourceModuleTable"), nullptr) << "one reference left";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(PlatformModuleTest, MissingFilesAndNonLibrariesAreRefused) {
    tabro::testing::TempDir scratch("module");
    const std::filesystem::path& folder = scratch.path();
    tabro::testing::writeFile(folder / "text.so", "not a library\n");
    struct {
        std::string path;
        DWORD error;
    } cases[] = {{"", ERROR_INVALID_PARAMETER},
                 {(folder / "missing.so").string(), ERROR_MOD_NOT_FOUND},
                 {(folder / "text.so").string(), ERROR_BAD_EXE_FORMAT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA(c.path.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST(PlatformModuleTest, StringsComeByNumberAndAreCutAtTheBuffer) {
    HMODULE resources = LoadLibraryA(kResources.c_str());
    ASSERT_NE(resources, nullptr);
    auto text = platform::loadResourceString(resources, 12);
    ASSERT_TRUE(text);
    EXPECT_FALSE(text->empty());

    char buffer[256];
    EXPECT_EQ(LoadStringA(resources, 12, buffer, sizeof buffer), static_cast<int>(text->size()));
    EXPECT_EQ(std::string(buffer), *text);
    char tiny[4];
    EXPECT_EQ(LoadStringA(resources, 12, tiny, sizeof tiny), 3);
    EXPECT_EQ(std::string(tiny), text->substr(0, 3));
    EXPECT_EQ(LoadStringA(resources, 9999, buffer, sizeof buffer), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(resources, 12, buffer, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // Every text the module asks for by number is there.
    for (UINT id = 4; id <= 30; ++id) {
        SCOPED_TRACE(id);
        auto t = platform::loadResourceString(resources, id);
        ASSERT_TRUE(t);
        EXPECT_FALSE(t->empty());
    }
    FreeLibrary(resources);
}

class LoaderTest : public HostTest {};

TEST_F(LoaderTest, WhatIsNotAnApplicationIsRefusedWithAReason) {
    tabro::testing::TempDir scratch("loader");
    const std::filesystem::path& folder = scratch.path();
    tabro::testing::writeFile(folder / "notes.so", "plain text\n");
    struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {(folder / "absent.so").string(), "file not found"},
        {(folder / "notes.so").string(), "not a loadable module"},
        {kResources, "acrxEntryPoint missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_FALSE(acrxDynamicLinker->loadModule(c.path.c_str(), false, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(acrxDynamicLinker->loadedModuleNames().empty());
    }
    feed({"ARXLOAD " + (folder / "notes.so").string(), "ARXUNLOAD nothing"});
    host::runCommandLoop();
    EXPECT_NE(output_.text().find("Unable to load"), std::string::npos) << output_.text();
    EXPECT_NE(output_.text().find("nothing is not loaded."), std::string::npos) << output_.text();
}

}  // namespace
