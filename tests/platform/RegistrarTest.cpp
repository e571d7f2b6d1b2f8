// The registry-script component: what a class's script writes and leaves behind,
// ForceRemove and NoRemove, replacements, value types, and scripts that are refused
// before anything is written.
#include "platform/Registrar.h"

#include "platform/ClassRegistry.h"
#include "platform/ErrorInfo.h"
#include "platform/Text.h"
#include "tests/platform/TempRegistryHome.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::ComPtr;

const std::string kModule = std::string(TABLORA_TEST_MODULES_DIR) + "/ResourceTableV2.so";
const std::string kClass = "CLSID\\{BF62E005-EC31-11D3-BAA0-002018640C96}";

std::u16string wide(const std::string& text) { return platform::utf8ToWide(text).value(); }

class RegistrarTest : public platform::test::TempRegistryHome {
protected:
    void SetUp() override {
        TempRegistryHome::SetUp();
        ASSERT_EQ(
            CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IRegistrar::iid, registrar_.putVoid()),
            S_OK);
    }
    void TearDown() override {
        registrar_.reset();
        SetErrorInfo(0, nullptr);  // what a refused script leaves for its caller
        TempRegistryHome::TearDown();
    }

    HRESULT registerClass() { return registrar_->ResourceRegister(wide(kModule).c_str(), 1016, u"REGISTRY"); }
    HRESULT unregisterClass() { return registrar_->ResourceUnregister(wide(kModule).c_str(), 1016, u"REGISTRY"); }

    void create(const std::string& path, const char* valueName = nullptr, const char* text = nullptr) {
        platform::RegistryKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        if (text) {
            ASSERT_EQ(platform::setRegistryString(key.get(), valueName, text), ERROR_SUCCESS);
        }
    }

    // What the class's script writes with %MODULE% as given.
    static std::vector<std::string> classKeys(const std::string& module) {
        std::vector<std::string> keys = {
            "Tabro.AppEventHandler.1",
            "Tabro.AppEventHandler.1\\[@] = AppEventHandler Class",
            "Tabro.AppEventHandler.1\\CLSID",
            "Tabro.AppEventHandler.1\\CLSID\\[@] = {BF62E005-EC31-11D3-BAA0-002018640C96}",
            "Tabro.AppEventHandler",
            "Tabro.AppEventHandler\\[@] = AppEventHandler Class",
            "Tabro.AppEventHandler\\CLSID",
            "Tabro.AppEventHandler\\CLSID\\[@] = {BF62E005-EC31-11D3-BAA0-002018640C96}",
            "Tabro.AppEventHandler\\CurVer",
            "Tabro.AppEventHandler\\CurVer\\[@] = Tabro.AppEventHandler.1",
            "CLSID",
            kClass,
            kClass + "\\[@] = AppEventHandler Class",
            kClass + "\\ProgID",
            kClass + "\\ProgID\\[@] = Tabro.AppEventHandler.1",
            kClass + "\\VersionIndependentProgID",
            kClass + "\\VersionIndependentProgID\\[@] = Tabro.AppEventHandler",
            kClass + "\\Programmable",
            kClass + "\\InprocServer32",
            kClass + "\\InprocServer32\\[@] = " + module,
            kClass + "\\InprocServer32\\[ThreadingModel] = Apartment",
            kClass + "\\TypeLib",
            kClass + "\\TypeLib\\[@] = {1867BCA3-EA1B-11D3-BA98-002018640C96}",
        };
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    ComPtr<IRegistrar> registrar_;
};

TEST_F(RegistrarTest, TheClassScriptWritesExactlyItsKeysAndUnregisteringLeavesOnlyClsid) {
    ASSERT_EQ(registrar_->AddReplacement(u"MODULE", u"/opt/tabro/tabro.so"), S_OK);
    ASSERT_EQ(registerClass(), S_OK);
    EXPECT_EQ(classesBelow(""), classKeys("/opt/tabro/tabro.so"));
    ASSERT_EQ(registerClass(), S_OK) << "registering again";
    EXPECT_EQ(classesBelow(""), classKeys("/opt/tabro/tabro.so"));

    ASSERT_EQ(unregisterClass(), S_OK);
    EXPECT_EQ(classesBelow(""), std::vector<std::string>{"CLSID"}) << "NoRemove CLSID stays";
    EXPECT_EQ(unregisterClass(), S_OK) << "what is gone already is passed over";
}

TEST_F(RegistrarTest, ForceRemoveReplacesAKeyWholeWhereAPlainKeyKeepsWhatIsThere) {
    registrar_->AddReplacement(u"MODULE", u"/old/tabro.so");
    ASSERT_EQ(registerClass(), S_OK);
    create(kClass + "\\InprocServer32", "Stale", "left by an older build");
    create(kClass + "\\Programmable\\Inner");
    create(kClass + "\\Obsolete", nullptr, "gone on registering");
    create("Tabro.AppEventHandler", "Kept", "someone else's");

    registrar_->AddReplacement(u"module", u"/new/tabro.so");  // replaces the item, whatever the case
    ASSERT_EQ(registerClass(), S_OK);
    std::vector<std::string> expected = classKeys("/new/tabro.so");
    expected.push_back("Tabro.AppEventHandler\\[Kept] = someone else's");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(classesBelow(""), expected);
}

TEST_F(RegistrarTest, UnregisteringKeepsKeysThatHoldWhatTheScriptDidNotWrite) {
    registrar_->AddReplacement(u"MODULE", u"/opt/tabro/tabro.so");
    ASSERT_EQ(registerClass(), S_OK);
    create("CLSID\\{00000001-0000-0000-0000-000000000001}", nullptr, "another class");
    create("Tabro.AppEventHandler", "Extra", "someone else's");
    create("Tabro.AppEventHandler.1\\Shell");
    ASSERT_EQ(unregisterClass(), S_OK);
    EXPECT_EQ(classesBelow(""), (std::vector<std::string>{
                                    "CLSID",
                                    "CLSID\\{00000001-0000-0000-0000-000000000001}",
                                    "CLSID\\{00000001-0000-0000-0000-000000000001}\\[@] = another class",
                                    "Tabro.AppEventHandler",
                                    "Tabro.AppEventHandler.1",
                                    "Tabro.AppEventHandler.1\\Shell",
                                    "Tabro.AppEventHandler\\[Extra] = someone else's",
                                }));
}

TEST_F(RegistrarTest, MalformedScriptsAreRefusedBeforeAnythingIsWritten) {
    registrar_->AddReplacement(u"MODULE", u"/opt/tabro/tabro.so");
    std::u16string deep = u"HKCR\n";
    for (int i = 0; i < 65; ++i) deep += u"{ K ";
    struct Case {
        std::u16string script;
        std::size_t line;
        const char* reason;  // found within the reason given
    };
    const Case cases[] = {
        {u"HKCR\n{\n A = s 'x'\n B = s '%NOPE%'\n}", 4, "unknown replacement %NOPE%"},
        {u"HKCR\n{\n A = s 'x'\n", 3, "without its closing '}'"},
        {u"HKCR { A = s 'x' } HKLM { B }", 1, "not kept by this platform"},
        {u"HKCR { A } Software { B }", 1, "'Software' is no root key"},
        {u"HKCR { A } }", 1, "'}' is no root key"},
        {u"'HKCR' { A }", 1, "bare word"},
        {u"HKCR A", 1, "expected '{' after the root key"},
        {u"HKCR { val X = s 'y' }", 1, "directly under a root key"},
        {u"HKCR { A = s unquoted }", 1, "is quoted"},
        {u"HKCR { A = d 'x12' }", 1, "is not a number"},
        {u"HKCR { A = d '4294967296' }", 1, "does not fit in 32 bits"},
        {u"HKCR { A = b '0F0' }", 1, "two hex digits"},
        {u"HKCR { A = b 'GG' }", 1, "not hex digits"},
        {u"HKCR { A = q 'x' }", 1, "'q' is no value type"},
        {u"HKCR { A = }", 1, "ends where a value belongs"},
        {u"HKCR { A { val } }", 1, "expected value name, got '}'"},
        {u"HKCR { A { val X s 'y' } }", 1, "expected '=' after the value's name"},
        {u"HKCR { NoRemove ForceRemove A }", 1, "one of NoRemove, ForceRemove and Delete"},
        {u"HKCR { Delete A = s 'x' }", 1, "neither a value nor a block"},
        {u"HKCR { Delete A { B } }", 1, "neither a value nor a block"},
        {u"HKCR { 'A\\B' }", 1, "no backslash"},
        {u"HKCR { '' }", 1, "an empty key name"},
        {u"HKCR { A=s 'x' }", 1, "'=' must stand apart"},
        {u"HKCR { A = s 'it's' }", 1, "right after a closing quote"},
        {u"HKCR { A = s 'open }", 1, "without its closing quote"},
        {u"HKCR { A = s 'line\nbreak' }", 1, "line break inside a quoted text"},
        {u"HKCR { A = s '50%' }", 1, "without its closing %"},
        {u"HKCR { A\u0001 }", 1, "control character"},
        {u"HKCR\n{\n\tTabro.Broken = s 'written?'\n\t{\n\t\tval X = q '1'\n", 5, "'q' is no value type"},
        {deep, 2, "more than 64 deep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::wideToUtf8(c.script.substr(0, 80)).value_or("?"));
        platform::RegistryScriptError error;
        EXPECT_EQ(platform::checkRegistryScript(c.script, {{u"MODULE", u"x"}}, &error), DISP_E_EXCEPTION);
        EXPECT_EQ(error.line, c.line);
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.message();

        SetErrorInfo(0, nullptr);
        EXPECT_EQ(registrar_->StringRegister(c.script.c_str()), DISP_E_EXCEPTION);
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK) << "a refused script says why";
        std::u16string description;
        info->GetDescription(&description);
        EXPECT_EQ(platform::wideToUtf8(description), error.message());
        EXPECT_EQ(registrar_->StringUnregister(c.script.c_str()), DISP_E_EXCEPTION);
        EXPECT_FALSE(std::filesystem::exists(home_ / "classes.reg")) << "nothing may be written";
    }
    EXPECT_EQ(registrar_->ResourceRegister(wide(kModule).c_str(), 1017, u"REGISTRY"), DISP_E_EXCEPTION);
    EXPECT_FALSE(std::filesystem::exists(home_ / "classes.reg"));
    EXPECT_EQ(registrar_->StringRegister(nullptr), E_INVALIDARG);
}

TEST_F(RegistrarTest, ReplacementsFillNamesAndValuesWithoutChangingTheScriptsShape) {
    ASSERT_EQ(registrar_->AddReplacement(u"Path", u"/o'brien/} {/tabro.so"), S_OK);
    ASSERT_EQ(registrar_->AddReplacement(u"KEY", u"Named"), S_OK);
    ASSERT_EQ(registrar_->StringRegister(u"HKCR { %key% = s '%PATH%' { val Share = s '100%%' } }"), S_OK);
    EXPECT_EQ(classesBelow(""), (std::vector<std::string>{
                                    "Named",
                                    "Named\\[@] = /o'brien/} {/tabro.so",
                                    "Named\\[Share] = 100%",
                                }));
    ASSERT_EQ(registrar_->ClearReplacements(), S_OK);
    EXPECT_EQ(registrar_->StringUnregister(u"HKCR { %key% = s '%PATH%' }"), DISP_E_EXCEPTION);

    for (auto [key, item] :
         {std::pair<const OLECHAR*, const OLECHAR*>{nullptr, u"x"}, {u"", u"x"}, {u"A%B", u"x"}, {u"A", nullptr}}) {
        EXPECT_EQ(registrar_->AddReplacement(key, item), E_INVALIDARG);
    }
}

TEST_F(RegistrarTest, ValuesAreWrittenWithTheirTypesUnderEitherRoot) {
    ASSERT_EQ(registrar_->StringRegister(u"HKEY_CURRENT_USER\n"
                                         u"{\n"
                                         u"  NoRemove Software\n"
                                         u"  {\n"
                                         u"    Tabro\n"
                                         u"    {\n"
                                         u"      val Count = d '12'\n"
                                         u"      val Mask = d 0xFFFFFFFF\n"
                                         u"      val Bytes = b '00ff10'\n"
                                         u"      'val' = s 'a key named like the keyword'\n"
                                         u"      Delete Old\n"
                                         u"    }\n"
                                         u"  }\n"
                                         u"}\n"),
              S_OK);
    platform::RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tabro", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {"Count", REG_DWORD, {12, 0, 0, 0}},
        {"Mask", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"Bytes", REG_BINARY, {0x00, 0xFF, 0x10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BYTE data[8];
        DWORD size = sizeof data, type = 0;
        ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(std::vector<BYTE>(data, data + size), c.data);
    }
    platform::RegistryKey named;
    EXPECT_EQ(RegOpenKeyExA(key.get(), "val", 0, KEY_READ, named.put()), ERROR_SUCCESS);

    // Delete removes a key when registering, whole.
    platform::RegistryKey old;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tabro\\Old\\Inner", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              old.put(), nullptr),
              ERROR_SUCCESS);
    old.close();
    ASSERT_EQ(registrar_->StringRegister(u"HKCU { NoRemove Software { NoRemove Tabro { Delete Old } } }"), S_OK);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tabro\\Old", 0, KEY_READ, old.put()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistrarTest, ResourceScriptsComeFromTheNamedModuleAndResource) {
    struct Case {
        std::string module;
        UINT id;
        const OLECHAR* type;
        HRESULT result;
    };
    const Case cases[] = {
        {kModule, 1018, u"REGISTRY", HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
        {kModule, 1016, u"SCRIPT", HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND)},
        {kModule + ".missing", 1016, u"REGISTRY", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {std::string(TABLORA_TEST_MODULES_DIR) + "/ResourceTableV1.so", 1016, u"REGISTRY",
         HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module + " " + std::to_string(c.id));
        EXPECT_EQ(registrar_->ResourceRegister(wide(c.module).c_str(), c.id, c.type), c.result);
    }
    EXPECT_FALSE(std::filesystem::exists(home_ / "classes.reg"));
    // The type compares without regard to case; the unreplaced %MODULE% is refused.
    EXPECT_EQ(registrar_->ResourceRegister(wide(kModule).c_str(), 1016, u"registry"), DISP_E_EXCEPTION);

    // The class is served by the class registry from the start, under IUnknown too.
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.putVoid()), S_OK);
    EXPECT_TRUE(unknown.as<IRegistrar>());
}

}  // namespace
