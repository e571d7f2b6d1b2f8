// The module's version resource, read back from the built module file the way the
// about page reads it.
#include "module/base/VersionResource.h"
#include "module/ui/ModuleVersion.h"
#include "platform/Module.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tabro::ui::getModuleVersionString;
using tabro::ui::ModuleVersion;

const std::string kBin = TABLORA_BIN_DIR;

class LoadedForData {
public:
    explicit LoadedForData(const std::string& path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~LoadedForData() {
        if (module_) FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

std::string expectedVersion() {
    const tabro::VersionNumbers v = tabro::moduleVersionNumbers();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) + "." +
           std::to_string(v.build);
}

TEST(ModuleVersionTest, TheModuleCarriesTheBuildsVersion) {
    LoadedForData module(kBin + "/tabro.so");
    ASSERT_NE(module.get(), nullptr);
    ModuleVersion version;
    getModuleVersionString(version, module.get(), "040904b0", "ProductName");
    EXPECT_EQ(version.fileVersion, expectedVersion());
    EXPECT_EQ(version.productVersion, expectedVersion());
    EXPECT_EQ(version.stringValue, "Tablora");

    ModuleVersion other;
    getModuleVersionString(other, module.get(), "040904b0", "FileVersion");
    EXPECT_EQ(other.stringValue, expectedVersion());
}

TEST(ModuleVersionTest, AStringIsReadOnlyWhenBothKeyAndNameAreGiven) {
    LoadedForData module(kBin + "/tabro.so");
    ASSERT_NE(module.get(), nullptr);
    for (auto [key, name] : {std::pair<const char*, const char*>{nullptr, nullptr},
                             {"040904b0", nullptr},
                             {nullptr, "ProductName"},
                             {"040904b0", "NoSuchValue"}}) {
        ModuleVersion version;
        getModuleVersionString(version, module.get(), key, name);
        EXPECT_EQ(version.fileVersion, expectedVersion());
        EXPECT_EQ(version.stringValue, "");
    }
}

TEST(ModuleVersionTest, WithoutAVersionResourceNothingIsFilled) {
    ModuleVersion version{"kept", "kept", "kept"};
    getModuleVersionString(version, nullptr, "040904b0", "ProductName");
    LoadedForData resources(kBin + "/tabrores.so");
    ASSERT_NE(resources.get(), nullptr);
    getModuleVersionString(version, resources.get(), "040904b0", "ProductName");
    EXPECT_EQ(version.stringValue, "kept");
    EXPECT_EQ(version.fileVersion, "kept");
    EXPECT_EQ(version.productVersion, "kept");
}

}  // namespace
