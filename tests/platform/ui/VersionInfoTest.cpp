// Version resources: built, queried, and refused when malformed.
#include "platform/Module.h"
#include "platform/ui/Gdi.h"
#include "platform/ui/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> sample() {
    return platform::buildVersionResource(
        platform::fixedFileInfo(2, 7, 31, 65535),
        {{"040904b0", "ProductName", "Tablora"}, {"040904b0", "Empty", ""}, {"040704b0", "ProductName", "Tablora DE"}});
}

std::optional<std::string> stringValue(const std::vector<unsigned char>& block, const char* query) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, &value, &length)) return std::nullopt;
    return std::string(static_cast<const char*>(value), length - 1);
}

TEST(VersionInfoTest, TheFixedInformationHoldsTheFourNumbers) {
    const auto block = sample();
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO f;
    std::memcpy(&f, value, sizeof f);
    EXPECT_EQ(f.dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(HIWORD(f.dwFileVersionMS), 2);
    EXPECT_EQ(LOWORD(f.dwFileVersionMS), 7);
    EXPECT_EQ(HIWORD(f.dwFileVersionLS), 31);
    EXPECT_EQ(LOWORD(f.dwFileVersionLS), 65535);
    EXPECT_EQ(f.dwProductVersionMS, f.dwFileVersionMS);
}

TEST(VersionInfoTest, StringsAreFoundByBlockAndName) {
    const auto block = sample();
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040904b0\\ProductName"), "Tablora");
    EXPECT_EQ(stringValue(block, "\\stringfileinfo\\040904B0\\productname"), "Tablora");
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040704b0\\ProductName"), "Tablora DE");
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040904b0\\Empty"), "");
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040904b0\\Missing"), std::nullopt);
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040904b0"), std::nullopt);
    EXPECT_EQ(stringValue(block, "\\VarFileInfo\\Translation"), std::nullopt);
}

TEST(VersionInfoTest, ABlockWhoseTextsRunPastItsEndIsRefused) {
    auto block = sample();
    // Drop the terminator of the last value and claim the shorter size: the last
    // text now ends outside the block.
    block.pop_back();
    const DWORD size = static_cast<DWORD>(block.size());
    std::memcpy(block.data(), &size, sizeof size);
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040704b0\\ProductName"), std::nullopt);
    EXPECT_EQ(stringValue(block, "\\StringFileInfo\\040904b0\\ProductName"), "Tablora") << "earlier entries still read";

    std::vector<unsigned char> tiny(8, 0);
    void* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueA(tiny.data(), "\\", &value, &length));
}

TEST(VersionInfoTest, AModuleWithoutAVersionResourceHasNone) {
    const std::string modules = TABLORA_TEST_MODULES_DIR;
    DWORD handle = 1;
    EXPECT_EQ(GetFileVersionInfoSizeA((modules + "/ResourceTableV2.so").c_str(), &handle), 0u);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA((modules + "/no-such-module.so").c_str(), &handle), 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, &handle), 0u);
    unsigned char buffer[64];
    EXPECT_FALSE(GetFileVersionInfoA((modules + "/ResourceTableV2.so").c_str(), 0, sizeof buffer, buffer));
}

}  // namespace
