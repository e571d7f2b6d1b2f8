// Resources of loaded modules: strings from tables of either version, data resources
// found by type and number, and what a module without them answers.
#include "platform/Module.h"

#include "platform/LastError.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const std::string kModules = TABLORA_TEST_MODULES_DIR;

// Loads a library for the test and frees it on every way out.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
    ~LoadedLibrary() {
        if (module_) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

class ResourcesTest : public ::testing::Test {
protected:
    LoadedLibrary v1_{kModules + "/ResourceTableV1.so"};
    LoadedLibrary v2_{kModules + "/ResourceTableV2.so"};
    LoadedLibrary noTable_{std::string(TABLORA_BIN_DIR) + "/libplatform.so"};

    void SetUp() override {
        ASSERT_NE(v1_.get(), nullptr) << "build the ResourceTableV1 target";
        ASSERT_NE(v2_.get(), nullptr) << "build the ResourceTableV2 target";
        ASSERT_NE(noTable_.get(), nullptr);
    }
};

TEST_F(ResourcesTest, StringsAreReadFromTablesOfEitherVersion) {
    EXPECT_EQ(platform::loadResourceString(v1_.get(), 7), "seven, from a version 1 table");
    EXPECT_EQ(platform::loadResourceString(v1_.get(), 1), "one");
    EXPECT_EQ(platform::loadResourceString(v2_.get(), 7), "seven, from a version 2 table");
    EXPECT_FALSE(platform::loadResourceString(v2_.get(), 1));
    char buffer[8];
    EXPECT_EQ(LoadStringA(v1_.get(), 7, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "seven, ");
}

TEST_F(ResourcesTest, DataIsFoundByTypeAndNumberSpeltEitherWay) {
    auto script = platform::findResourceData(v2_.get(), "REGISTRY", 1016);
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->starts_with("HKCR\n{"));
    EXPECT_TRUE(script->ends_with("}\n"));

    struct Case {
        const char* name;
        const char* type;
        unsigned id;
    };
    const Case cases[] = {
        {"#1016", "REGISTRY", 1016},
        {MAKEINTRESOURCEA(1016), "REGISTRY", 1016},
        {"#1016", "registry", 1016},  // types compare without regard to case
        {MAKEINTRESOURCEA(1), "TypeLib", 1},
        {"#2", "TYPELIB", 2},
        {MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(10), 3},  // a numbered type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + (IS_INTRESOURCE(c.type) ? "#10" : c.type));
        HRSRC found = FindResourceA(v2_.get(), c.name, c.type);
        ASSERT_NE(found, nullptr);
        HGLOBAL loaded = LoadResource(v2_.get(), found);
        ASSERT_NE(loaded, nullptr);
        auto expected = platform::findResourceData(v2_.get(), IS_INTRESOURCE(c.type) ? "#10" : c.type, c.id);
        ASSERT_TRUE(expected);
        EXPECT_EQ(LockResource(loaded), static_cast<const void*>(expected->data()));
        EXPECT_EQ(SizeofResource(v2_.get(), found), expected->size());
    }
    auto raw = platform::findResourceData(v2_.get(), "#10", 3);
    EXPECT_EQ(*raw, std::string_view("\x00\xFF\x10", 3));

    // An empty resource is there, with a non-null pointer and no bytes.
    HRSRC empty = FindResourceA(v2_.get(), "#5", "EMPTY");
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(LoadResource(v2_.get(), empty), nullptr);
    EXPECT_EQ(SizeofResource(v2_.get(), empty), 0u);
    EXPECT_EQ(platform::findResourceData(v2_.get(), "EMPTY", 5), std::string_view());
}

TEST_F(ResourcesTest, MissingResourcesSayWhatIsMissing) {
    struct Case {
        const char* what;
        HMODULE module;
        const char* name;
        const char* type;
        DWORD error;
    };
    const HMODULE v1 = v1_.get(), v2 = v2_.get();
    const Case cases[] = {
        {"unknown type", v2, "#1", "DIALOG", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"unknown number", v2, "#4", "TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"a name that is no number", v2, "TYPELIB1", "TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"a number with trailing text", v2, "#1x", "TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"a bare #", v2, "#", "TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"a number beyond 32 bits", v2, "#4294967297", "TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"an entry without its bytes", v2, "#1", "BROKEN", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"version 1 table", v1, "#1", "TYPELIB", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"no table at all", noTable_.get(), "#1", "TYPELIB", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"the program", nullptr, "#1", "TYPELIB", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"a handle never given out", reinterpret_cast<HMODULE>(0x4321), "#1", "TYPELIB", ERROR_INVALID_HANDLE},
        {"null name", v2, nullptr, "TYPELIB", ERROR_INVALID_PARAMETER},
        {"null type", v2, "#1", nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(FindResourceA(c.module, c.name, c.type), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_FALSE(platform::findResourceData(v1, "TYPELIB", 1));
    EXPECT_FALSE(platform::findResourceData(v2, "TYPELIB", 4));

    // A resource handle belongs to its module: another module's, or a made-up one, is refused.
    HRSRC script = FindResourceA(v2, "#1016", "REGISTRY");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(LoadResource(v1, script), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SizeofResource(v1, script), 0u);
    HRSRC inside = reinterpret_cast<HRSRC>(reinterpret_cast<char*>(script) + 1);
    EXPECT_EQ(LoadResource(v2, inside), nullptr);
    EXPECT_EQ(LoadResource(v2, nullptr), nullptr);
}

TEST_F(ResourcesTest, ALibraryMappedAsDataKeepsItsResourcesAndCountsReferences) {
    const std::string path = kModules + "/ResourceTableV2.so";
    HMODULE again = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(again, v2_.get()) << "a loaded library is the same module";
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_TRUE(platform::findResourceData(v2_.get(), "TYPELIB", 1)) << "still loaded for the fixture";
    EXPECT_EQ(LoadLibraryExA(path.c_str(), reinterpret_cast<HANDLE>(1), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ModuleLoading, ALibraryMappedAsDataIsAttachedOnlyWhenLoadedForUse) {
    const std::string path = kModules + "/AttachCounter.so";
    HMODULE data = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    int attaches = 0, detaches = 0;
    auto setCounters = reinterpret_cast<void (*)(int*, int*)>(GetProcAddress(data, "setCounters"));
    ASSERT_NE(setCounters, nullptr);
    setCounters(&attaches, &detaches);
    HMODULE used = LoadLibraryA(path.c_str());
    EXPECT_EQ(used, data);
    EXPECT_EQ(attaches, 1) << "the first load for use attaches it";
    HMODULE third = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(LoadLibraryA(path.c_str()), used);
    EXPECT_EQ(attaches, 1) << "once";
    EXPECT_TRUE(FreeLibrary(third));
    EXPECT_TRUE(FreeLibrary(used));
    EXPECT_TRUE(FreeLibrary(used));
    EXPECT_EQ(detaches, 0);
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_EQ(detaches, 1) << "the last reference detaches what was attached";

    // Mapped as data only, it is never attached nor detached.
    attaches = detaches = 0;
    data = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    reinterpret_cast<void (*)(int*, int*)>(GetProcAddress(data, "setCounters"))(&attaches, &detaches);
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_EQ(attaches + detaches, 0);
}

}  // namespace
