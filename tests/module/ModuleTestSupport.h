// Fixtures for module tests: the host stand-in with one drawing, and the resource
// module attached the way the module's mapping attaches it (for tests that drive
// the module's code linked in rather than loaded).
#pragma once

#include "module/ModuleState.h"
#include "platform/Module.h"
#include "tests/host/HostTestSupport.h"

#include <string>

inline const std::string kBinDir = TABLORA_BIN_DIR;

class ModuleTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        resources_ = LoadLibraryA((kBinDir + "/tabrores.so").c_str());
        ASSERT_NE(resources_, nullptr) << "tabrores.so must be built beside the module";
        saved_ = tabro::extensionModuleState();
        tabro::extensionModuleState() = {1, resources_};
    }
    void TearDown() override {
        tabro::extensionModuleState() = saved_;
        if (resources_) FreeLibrary(resources_);
        HostTest::TearDown();
    }
    std::string text(UINT id) const { return platform::loadResourceString(resources_, id).value_or("<missing>"); }

    HMODULE resources_ = nullptr;

private:
    tabro::ExtensionModuleState saved_;
};
