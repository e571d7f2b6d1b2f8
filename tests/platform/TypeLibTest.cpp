// Type libraries: reading descriptions (and refusing malformed ones), what the
// library and its types answer, calls checked against the description, and
// registration under HKEY_CLASSES_ROOT.
#include "platform/TypeLib.h"

#include "platform/ErrorInfo.h"
#include "platform/Text.h"
#include "tests/platform/TempRegistryHome.h"

#include <gtest/gtest.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

using platform::ComPtr;
using platform::Variant;

constexpr GUID LIBID_TabroLib{0x1867BCA3, 0xEA1B, 0x11D3, {0xBA, 0x98, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
constexpr IID IID_IAppEventHandler{0xBF62E004, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
constexpr CLSID CLSID_AppEventHandler{0xBF62E005, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
constexpr GUID LIBID_SecondLib{0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};

const std::string kModule = std::string(TABLORA_TEST_MODULES_DIR) + "/ResourceTableV2.so";

std::u16string wide(const std::string& text) { return platform::utf8ToWide(text).value(); }

ComPtr<ITypeLib> load(const std::string& file, HRESULT expected = S_OK) {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(wide(file).c_str(), lib.put()), expected) << file;
    return lib;
}

ComPtr<ITypeLib> fromText(const std::string& text) {
    ComPtr<ITypeLib> lib;
    platform::TypeLibError error{};
    EXPECT_EQ(platform::loadTypeLibFromText(text, lib, &error), S_OK) << error.message();
    return lib;
}

ComPtr<ITypeInfo> typeOf(ITypeLib* lib, REFGUID guid) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, info.put()), S_OK);
    return info;
}

// What GetErrorInfo holds after a failed load; empty when nothing.
std::string lastErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    std::u16string description;
    info->GetDescription(&description);
    return platform::wideToUtf8(description).value_or("?");
}

const char kHead[] = "library L uuid {00000001-0000-0000-0000-000000000001} version 1.0\n";

class TypeLibTest : public platform::test::TempRegistryHome {};

TEST_F(TypeLibTest, TheModulesLibraryDescribesItsInterfaceAndClass) {
    ComPtr<ITypeLib> lib = load(kModule);
    ASSERT_TRUE(lib);
    TLIBATTR libAttr{};
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr.guid, LIBID_TabroLib);
    EXPECT_EQ(libAttr.lcid, 0x0409u);
    EXPECT_EQ(libAttr.wMajorVerNum, 1);
    EXPECT_EQ(libAttr.wMinorVerNum, 0);
    std::u16string name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc), S_OK);
    EXPECT_EQ(name, u"TabroLib");
    EXPECT_EQ(doc, u"Tabro 1.0 Type Library");
    ASSERT_EQ(lib->GetTypeInfoCount(), 2u);
    ASSERT_EQ(lib->GetDocumentation(1, &name, &doc), S_OK);
    EXPECT_EQ(name, u"AppEventHandler");
    EXPECT_EQ(doc, u"AppEventHandler Class");
    TYPEKIND kind{};
    EXPECT_EQ(lib->GetTypeInfoType(0, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_DISPATCH);

    ComPtr<ITypeInfo> handler = typeOf(lib.get(), IID_IAppEventHandler);
    TYPEATTR attr{};
    ASSERT_EQ(handler->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr.guid, IID_IAppEventHandler);
    EXPECT_EQ(attr.typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr.cFuncs, 2);
    EXPECT_EQ(attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    FUNCDESC func{};
    ASSERT_EQ(handler->GetFuncDesc(1, &func), S_OK);
    EXPECT_EQ(func.memid, 2);
    EXPECT_EQ(func.invkind, INVOKE_FUNC);
    EXPECT_EQ(func.cParams, 0);
    EXPECT_EQ(handler->GetFuncDesc(2, &func), TYPE_E_ELEMENTNOTFOUND);

    // The class names its default interface, which leads back to the same type.
    ComPtr<ITypeInfo> coclass = typeOf(lib.get(), CLSID_AppEventHandler);
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr.typekind, TKIND_COCLASS);
    EXPECT_EQ(attr.cImplTypes, 1);
    EXPECT_TRUE(attr.wTypeFlags & TYPEFLAG_FCANCREATE);
    int implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, implemented.put()), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr.guid, IID_IAppEventHandler);
    EXPECT_EQ(coclass->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);

    ComPtr<ITypeLib> container;
    UINT index = 99;
    ASSERT_EQ(implemented->GetContainingTypeLib(container.put(), &index), S_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(container->GetTypeInfoCount(), 2u);

    // What the library does not hold.
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(LIBID_TabroLib, none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetTypeInfo(2, none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetDocumentation(2, &name, &doc), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetDocumentation(-2, &name, &doc), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeLibTest, LibrariesAreReadFromModulesResourcesAndDescriptionFiles) {
    const auto tlb = home_ / "second.tlb";
    std::ofstream(tlb) << "# written by hand\r\n\r\n"
                       << kHead << "interface I uuid {00000001-0000-0000-0000-000000000002} base IUnknown\r\n";
    const auto text = home_ / "notes.txt";
    std::ofstream(text) << "these are no type library\n";

    struct Case {
        std::string file;
        HRESULT result;
        std::string libraryName;  // when it loads
    };
    const Case cases[] = {
        {kModule, S_OK, "TabroLib"},
        {kModule + "/2", S_OK, "SecondLib"},
        {kModule + "\\2", S_OK, "SecondLib"},
        {kModule + "/1", S_OK, "TabroLib"},
        {tlb.string(), S_OK, "L"},
        {kModule + "/4", TYPE_E_CANTLOADLIBRARY, ""},
        {kModule + "/3", TYPE_E_INVDATAREAD, ""},
        {std::string(TABLORA_TEST_MODULES_DIR) + "/ResourceTableV1.so", TYPE_E_CANTLOADLIBRARY, ""},
        {(home_ / "missing.tlb").string(), TYPE_E_CANTLOADLIBRARY, ""},
        {tlb.string() + "/1", TYPE_E_CANTLOADLIBRARY, ""},  // resource numbers belong to libraries
        {home_.string(), TYPE_E_CANTLOADLIBRARY, ""},       // a folder
        {text.string(), TYPE_E_UNSUPFORMAT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        SetErrorInfo(0, nullptr);
        ComPtr<ITypeLib> lib = load(c.file, c.result);
        if (SUCCEEDED(c.result)) {
            ASSERT_TRUE(lib);
            std::u16string name;
            lib->GetDocumentation(-1, &name, nullptr);
            EXPECT_EQ(name, wide(c.libraryName));
        } else {
            EXPECT_FALSE(lib);
            EXPECT_FALSE(lastErrorDescription().empty()) << "a failed load says why";
        }
    }
    SetErrorInfo(0, nullptr);
    load(kModule + "/3", TYPE_E_INVDATAREAD);
    EXPECT_NE(lastErrorDescription().find("line 1: '{not-a-guid}' is not a {GUID}"), std::string::npos)
        << lastErrorDescription();
    ITypeLib* untouched = reinterpret_cast<ITypeLib*>(0x1);
    EXPECT_EQ(LoadTypeLib(nullptr, &untouched), E_INVALIDARG);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(LoadTypeLib(u"x.tlb", nullptr), E_POINTER);
}

TEST_F(TypeLibTest, MalformedDescriptionsAreRefusedWithLineAndReason) {
    const std::string head = kHead;
    const std::string iface = "interface I uuid {00000001-0000-0000-0000-000000000002} base IDispatch\n";
    struct Case {
        std::string text;
        HRESULT code;
        std::size_t line;
        const char* reason;  // found within the reason given
    };
    const Case cases[] = {
        {"", TYPE_E_UNSUPFORMAT, 0, "no library line"},
        {"# only a comment\n\n", TYPE_E_UNSUPFORMAT, 0, "no library line"},
        {iface, TYPE_E_UNSUPFORMAT, 1, "must start with a library line"},
        {"\x89PNG\r\n", TYPE_E_UNSUPFORMAT, 0, "not UTF-8"},
        {head + std::string("\0", 1), TYPE_E_UNSUPFORMAT, 0, "NUL"},
        {"library L version 1.0\n", TYPE_E_INVDATAREAD, 1, "no uuid"},
        {"library L uuid {00000001-0000-0000-0000-000000000001}\n", TYPE_E_INVDATAREAD, 1, "no version"},
        {"library L uuid 00000001-0000-0000-0000-000000000001 version 1.0\n", TYPE_E_INVDATAREAD, 1, "not a {GUID}"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1\n", TYPE_E_INVDATAREAD, 1, "not a version"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0.0\n", TYPE_E_INVDATAREAD, 1,
         "not a version"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 65536.0\n", TYPE_E_INVDATAREAD, 1,
         "out of range"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 lcid 0x100000000\n", TYPE_E_INVDATAREAD, 1,
         "out of range"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 lcid\n", TYPE_E_INVDATAREAD, 1,
         "missing a locale id"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} uuid {00000001-0000-0000-0000-000000000001} "
         "version 1.0\n",
         TYPE_E_INVDATAREAD, 1, "'uuid' given twice"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 colour red\n", TYPE_E_INVDATAREAD, 1,
         "unknown library attribute 'colour'"},
        {"library 9L uuid {00000001-0000-0000-0000-000000000001} version 1.0\n", TYPE_E_INVDATAREAD, 1,
         "is not a name"},
        {"library " + std::string(256, 'L') + " uuid {00000001-0000-0000-0000-000000000001} version 1.0\n",
         TYPE_E_INVDATAREAD, 1, "is not a name"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 helpstring text\n", TYPE_E_INVDATAREAD, 1,
         "double quotes"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 helpstring \"open\n", TYPE_E_INVDATAREAD, 1,
         "closing quote"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 helpstring \"a\\nb\"\n", TYPE_E_INVDATAREAD,
         1, "backslash"},
        {"library L uuid {00000001-0000-0000-0000-000000000001} version 1.0 helpstring \"a\"b\n", TYPE_E_INVDATAREAD, 1,
         "right after a closing quote"},
        {head + "library M uuid {00000001-0000-0000-0000-000000000009} version 1.0\n", TYPE_E_INVDATAREAD, 2,
         "second library"},
        {head + "importlib\n", TYPE_E_INVDATAREAD, 2, "missing the file imported"},
        {head + "typedef int X\n", TYPE_E_INVDATAREAD, 2, "unknown keyword 'typedef'"},
        {head + "  method M id 1\n", TYPE_E_INVDATAREAD, 2, "outside an interface"},
        {head + "interface I base IDispatch\n", TYPE_E_INVDATAREAD, 2, "no uuid"},
        {head + "interface I uuid {00000001-0000-0000-0000-000000000002}\n", TYPE_E_INVDATAREAD, 2, "no base"},
        {head + "interface I uuid {00000001-0000-0000-0000-000000000002} dual base IUnknown\n", TYPE_E_INVDATAREAD, 2,
         "must derive from IDispatch"},
        {head + "interface I uuid {00000001-0000-0000-0000-000000000002} base IOther\n", TYPE_E_INVDATAREAD, 2,
         "no interface declared above"},
        {head + "interface IDispatch uuid {00000001-0000-0000-0000-000000000002} base IUnknown\n", TYPE_E_INVDATAREAD,
         2, "taken by the platform"},
        {head + "interface I uuid {00000001-0000-0000-0000-000000000001} base IUnknown\n", TYPE_E_INVDATAREAD, 2,
         "the library's own uuid"},
        {head + iface + "  method M\n", TYPE_E_INVDATAREAD, 3, "no id"},
        {head + iface + "  method M id -1\n", TYPE_E_INVDATAREAD, 3, "MEMBERID_NIL"},
        {head + iface + "  method M id 12x\n", TYPE_E_INVDATAREAD, 3, "is not a dispatch id"},
        {head + iface + "  method M id 0x100000000\n", TYPE_E_INVDATAREAD, 3, "out of range"},
        {head + iface + "  method M id 1 args 256\n", TYPE_E_INVDATAREAD, 3, "out of range"},
        {head + iface + "  propput P id 1\n", TYPE_E_INVDATAREAD, 3, "takes the value assigned"},
        {head + iface + "  method M id 1\n  method m id 2\n", TYPE_E_INVDATAREAD, 4, "a second member named 'm'"},
        {head + iface + "  method M id 1\n  method N id 1\n", TYPE_E_INVDATAREAD, 4, "has the id of 'M'"},
        {head + iface + "  propget P id 1\n  propget P id 1\n", TYPE_E_INVDATAREAD, 4, "a second member"},
        {head + iface + "  propget P id 1\n  propput P id 2 args 1\n", TYPE_E_INVDATAREAD, 4, "a second member"},
        {head + iface + "  method M id 1 extra\n", TYPE_E_INVDATAREAD, 3, "unknown member attribute 'extra'"},
        {head + iface + "  method M id 1\ninterface J uuid {00000001-0000-0000-0000-000000000003} base I\n" +
             "  method M id 5\n",
         TYPE_E_INVDATAREAD, 5, "a second member named 'M'"},
        {head + iface + "interface i uuid {00000001-0000-0000-0000-000000000003} base IUnknown\n", TYPE_E_INVDATAREAD,
         3, "a second type named 'i'"},
        {head + iface + "interface J uuid {00000001-0000-0000-0000-000000000002} base IUnknown\n", TYPE_E_INVDATAREAD,
         3, "has the uuid of 'I'"},
        {head + "coclass C uuid {00000001-0000-0000-0000-000000000004}\n", TYPE_E_INVDATAREAD, 2, "no default"},
        {head + "coclass C uuid {00000001-0000-0000-0000-000000000004} default J\n", TYPE_E_INVDATAREAD, 2,
         "'J' is no interface of this library"},
        {head + iface + "coclass C uuid {00000001-0000-0000-0000-000000000004} default I source I\n",
         TYPE_E_INVDATAREAD, 3, "'I' named twice"},
        {head + iface + "coclass C uuid {00000001-0000-0000-0000-000000000004} default I default I\n",
         TYPE_E_INVDATAREAD, 3, "'default' given twice"},
        {head + iface + "coclass C uuid {00000001-0000-0000-0000-000000000004} default I\n" +
             "coclass D uuid {00000001-0000-0000-0000-000000000005} default C\n",
         TYPE_E_INVDATAREAD, 4, "'C' is no interface"},
        {head + iface + "coclass C uuid {00000001-0000-0000-0000-000000000004} default I\n  method M id 1\n",
         TYPE_E_INVDATAREAD, 4, "outside an interface"},
        {head + "interface I uuid {00000001-0000-0000-0000-000000000002} base IUnknown helpstring \"\x01\"\n",
         TYPE_E_INVDATAREAD, 2, "control character"},
        {head + std::string(1u << 20, '#'), TYPE_E_INVDATAREAD, 0, "larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 200));
        ComPtr<ITypeLib> lib;
        platform::TypeLibError error{};
        EXPECT_EQ(platform::loadTypeLibFromText(c.text, lib, &error), c.code);
        EXPECT_FALSE(lib);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.line, c.line);
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.message();
    }
}

TEST_F(TypeLibTest, WhatTheGrammarAllowsReadsAsWritten) {
    ComPtr<ITypeLib> lib = fromText(
        "# a comment, then a blank line\r\n"
        "\r\n"
        "library\tL uuid {00000001-0000-0000-0000-000000000001} lcid 1031 version 3.12 "
        "helpstring \"Gr\xC3\xBC\xC3\x9F"
        "e \\\"quoted\\\" \\\\ back\"\r\n"
        "importlib stdole2.tlb\n"
        "coclass C uuid {00000001-0000-0000-0000-000000000004} source IEvents default IBase\n"
        "interface IBase uuid {00000001-0000-0000-0000-000000000002} oleautomation base IDispatch\n"
        "method First id 0x60020000\n"
        "  propget Value id 0 helpstring \"get\"\n"
        "  propput Value id 0 args 1 helpstring \"put\"\n"
        "interface IEvents uuid {00000001-0000-0000-0000-000000000003} base IBase\n"
        "  method Changed id -5 args 3\n");
    ASSERT_TRUE(lib);
    TLIBATTR libAttr{};
    lib->GetLibAttr(&libAttr);
    EXPECT_EQ(libAttr.lcid, 1031u);
    EXPECT_EQ(libAttr.wMajorVerNum, 3);
    EXPECT_EQ(libAttr.wMinorVerNum, 12);
    std::u16string doc;
    lib->GetDocumentation(-1, nullptr, &doc);
    EXPECT_EQ(doc, u"Grüße \"quoted\" \\ back");

    // The class names an interface declared after it; the default comes first.
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfo(0, coclass.put()), S_OK);
    int flags = 0;
    coclass->GetImplTypeFlags(0, &flags);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    coclass->GetImplTypeFlags(1, &flags);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FSOURCE);

    ComPtr<ITypeInfo> base;
    ASSERT_EQ(lib->GetTypeInfo(1, base.put()), S_OK);
    TYPEATTR attr{};
    base->GetTypeAttr(&attr);
    EXPECT_EQ(attr.typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr.wTypeFlags, TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr.cImplTypes, 0) << "IDispatch is not this library's to hand out";
    FUNCDESC func{};
    base->GetFuncDesc(0, &func);
    EXPECT_EQ(func.memid, static_cast<MEMBERID>(0x60020000));

    // The derived interface answers its base's members before its own.
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(lib->GetTypeInfo(2, events.put()), S_OK);
    events->GetTypeAttr(&attr);
    EXPECT_EQ(attr.cFuncs, 1);
    EXPECT_EQ(attr.cImplTypes, 1);
    EXPECT_EQ(attr.wTypeFlags, TYPEFLAG_FDISPATCHABLE);
    events->GetFuncDesc(0, &func);
    EXPECT_EQ(func.memid, -5);
    EXPECT_EQ(func.cParams, 3);
    EXPECT_EQ(func.oVft, 3);
    std::u16string name;
    EXPECT_EQ(events->GetDocumentation(0, &name, &doc), S_OK);
    EXPECT_EQ(name, u"Value");
    EXPECT_EQ(doc, u"get") << "the first member with the id";
}

TEST_F(TypeLibTest, NamesAndDocumentationAreLookedUpWithoutRegardToCase) {
    ComPtr<ITypeLib> lib = load(kModule);
    ComPtr<ITypeInfo> handler = typeOf(lib.get(), IID_IAppEventHandler);
    struct Case {
        std::u16string name;
        HRESULT result;
        DISPID id;
    };
    const Case cases[] = {
        {u"Enable", S_OK, 1},
        {u"enable", S_OK, 1},
        {u"DISABLE", S_OK, 2},
        {u"Enabled", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {u"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {u"\u00C9nable", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::wideToUtf8(c.name).value_or("?"));
        DISPID id = 77;
        EXPECT_EQ(handler->GetIDsOfNames(&c.name, 1, &id), c.result);
        EXPECT_EQ(id, c.id);
    }
    // Arguments are not described: their names are unknown, the member's id is given.
    const std::u16string withArgument[] = {u"Enable", u"how"};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(handler->GetIDsOfNames(withArgument, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);

    std::u16string name, doc;
    ASSERT_EQ(handler->GetDocumentation(2, &name, &doc), S_OK);
    EXPECT_EQ(name, u"Disable");
    EXPECT_EQ(doc, u"method Disable");
    ASSERT_EQ(handler->GetDocumentation(MEMBERID_NIL, &name, &doc), S_OK);
    EXPECT_EQ(name, u"IAppEventHandler");
    EXPECT_EQ(doc, u"IAppEventHandler Interface");
    EXPECT_EQ(handler->GetDocumentation(3, &name, &doc), TYPE_E_ELEMENTNOTFOUND);
}

// An object reached through the description: records which member was called.
struct Recorder : platform::IDescribedMethods {
    std::vector<UINT> calls;
    std::size_t lastArgumentCount = 0;
    HRESULT answer = S_OK;
    HRESULT callDescribedMethod(UINT methodIndex, std::span<const Variant> args, Variant* result) override {
        calls.push_back(methodIndex);
        lastArgumentCount = args.size();
        *result = Variant::i4(100 + static_cast<LONG>(methodIndex));
        return answer;
    }
};

TEST_F(TypeLibTest, InvokeChecksTheCallAgainstTheDescriptionBeforeCallingTheObject) {
    ComPtr<ITypeLib> lib = fromText(std::string(kHead) +
                                    "interface IBase uuid {00000001-0000-0000-0000-000000000002} base IDispatch\n"
                                    "  method Reset id 9\n"
                                    "interface I uuid {00000001-0000-0000-0000-000000000003} dual base IBase\n"
                                    "  method Add id 1 args 2\n"
                                    "  propget Size id 2\n"
                                    "  propput Size id 2 args 1\n"
                                    "coclass C uuid {00000001-0000-0000-0000-000000000004} default I\n");
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(1, info.put()), S_OK);
    Recorder object;
    void* instance = static_cast<platform::IDescribedMethods*>(&object);
    const Variant two[] = {Variant::i4(1), Variant::i4(2)};
    const Variant one[] = {Variant::i4(7)};
    struct Case {
        const char* what;
        DISPID dispid;
        WORD flags;
        std::span<const Variant> args;
        HRESULT result;
        int index;  // called, -1 for not
    };
    const Case cases[] = {
        {"a method", 1, DISPATCH_METHOD, two, S_OK, 1},
        {"a method called as a method or property", 1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, two, S_OK, 1},
        {"the base's member, first in vtable order", 9, DISPATCH_METHOD, {}, S_OK, 0},
        {"a property read", 2, DISPATCH_PROPERTYGET, {}, S_OK, 2},
        {"a property assigned", 2, DISPATCH_PROPERTYPUT, one, S_OK, 3},
        {"too few arguments", 1, DISPATCH_METHOD, one, DISP_E_BADPARAMCOUNT, -1},
        {"too many arguments", 9, DISPATCH_METHOD, one, DISP_E_BADPARAMCOUNT, -1},
        {"an assignment without the value", 2, DISPATCH_PROPERTYPUT, {}, DISP_E_BADPARAMCOUNT, -1},
        {"a method assigned", 1, DISPATCH_PROPERTYPUT, two, DISP_E_MEMBERNOTFOUND, -1},
        {"a property called as a method", 2, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, -1},
        {"an unknown dispid", 3, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        object.calls.clear();
        Variant result;
        EXPECT_EQ(info->Invoke(instance, c.dispid, c.flags, c.args, &result, nullptr), c.result);
        if (c.index < 0) {
            EXPECT_TRUE(object.calls.empty());
        } else {
            EXPECT_EQ(object.calls, std::vector<UINT>{static_cast<UINT>(c.index)});
            EXPECT_EQ(object.lastArgumentCount, c.args.size());
            EXPECT_EQ(result.lVal(), 100 + c.index);
        }
    }
    // The member's own failure comes back as it is; a null result is no trouble.
    object.answer = E_ACCESSDENIED;
    EXPECT_EQ(info->Invoke(instance, 9, DISPATCH_METHOD, {}, nullptr, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(info->Invoke(nullptr, 9, DISPATCH_METHOD, {}, nullptr, nullptr), E_INVALIDARG);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfo(2, coclass.put()), S_OK);
    object.calls.clear();
    EXPECT_EQ(coclass->Invoke(instance, 1, DISPATCH_METHOD, two, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(object.calls.empty());
}

TEST_F(TypeLibTest, RegistrationWritesWhatThePlatformWritesAndLoadsBack) {
    ComPtr<ITypeLib> lib = load(kModule);
    ASSERT_TRUE(lib);
    const std::u16string path = wide(kModule);
    ASSERT_EQ(RegisterTypeLib(lib.get(), path.c_str(), u"/opt/tabro"), S_OK);
    const std::string libKey = "TypeLib\\{1867BCA3-EA1B-11D3-BA98-002018640C96}";
    const std::string ifKey = "Interface\\{BF62E004-EC31-11D3-BAA0-002018640C96}";
    const std::string ps = "{00020424-0000-0000-C000-000000000046}";
    EXPECT_EQ(classesBelow("TypeLib"), (std::vector<std::string>{
                                           "TypeLib",
                                           libKey,
                                           libKey + "\\1.0",
                                           libKey + "\\1.0\\409",
                                           libKey + "\\1.0\\409\\win32",
                                           libKey + "\\1.0\\409\\win32\\[@] = " + kModule,
                                           libKey + "\\1.0\\FLAGS",
                                           libKey + "\\1.0\\FLAGS\\[@] = 0",
                                           libKey + "\\1.0\\HELPDIR",
                                           libKey + "\\1.0\\HELPDIR\\[@] = /opt/tabro",
                                           libKey + "\\1.0\\[@] = Tabro 1.0 Type Library",
                                       }));
    EXPECT_EQ(classesBelow("Interface"), (std::vector<std::string>{
                                             "Interface",
                                             ifKey,
                                             ifKey + "\\ProxyStubClsid",
                                             ifKey + "\\ProxyStubClsid32",
                                             ifKey + "\\ProxyStubClsid32\\[@] = " + ps,
                                             ifKey + "\\ProxyStubClsid\\[@] = " + ps,
                                             ifKey + "\\TypeLib",
                                             ifKey + "\\TypeLib\\[@] = {1867BCA3-EA1B-11D3-BA98-002018640C96}",
                                             ifKey + "\\TypeLib\\[Version] = 1.0",
                                             ifKey + "\\[@] = IAppEventHandler",
                                         }));

    // Found again by its number, version and locale.
    struct Case {
        WORD major, minor;
        LCID lcid;
        HRESULT result;
    };
    const Case cases[] = {
        {1, 0, 0x0409, S_OK},
        {1, 0, 0x0009, TYPE_E_LIBNOTREGISTERED},  // registered for 409 only: no fallback upwards
        {1, 1, 0x0409, TYPE_E_LIBNOTREGISTERED},
        {2, 0, 0x0409, TYPE_E_LIBNOTREGISTERED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + " lcid " + std::to_string(c.lcid));
        ComPtr<ITypeLib> found;
        EXPECT_EQ(LoadRegTypeLib(LIBID_TabroLib, c.major, c.minor, c.lcid, found.put()), c.result);
        EXPECT_EQ(bool(found), SUCCEEDED(c.result));
    }

    // A library of the neutral locale serves every locale; versions are hexadecimal.
    ComPtr<ITypeLib> second = load(kModule + "/2");
    const std::u16string secondPath = wide(kModule + "/2");
    ASSERT_EQ(RegisterTypeLib(second.get(), secondPath.c_str(), nullptr), S_OK);
    const std::string secondKey = "TypeLib\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\2.a";
    auto written = classesBelow(secondKey);
    EXPECT_NE(std::find(written.begin(), written.end(), secondKey + "\\0\\win32\\[@] = " + kModule + "/2"),
              written.end());
    EXPECT_NE(std::find(written.begin(), written.end(), secondKey + "\\[@] = SecondLib"), written.end())
        << "without a help string the name is written";
    EXPECT_NE(std::find(written.begin(), written.end(), secondKey + "\\HELPDIR\\[@] = "), written.end());
    for (auto [minor, lcid] : {std::pair<WORD, LCID>{0, 0x0407}, {10, 0}, {9, 0x0409}}) {
        ComPtr<ITypeLib> found;
        EXPECT_EQ(LoadRegTypeLib(LIBID_SecondLib, 2, minor, lcid, found.put()), S_OK);
        ASSERT_TRUE(found);
        TLIBATTR attr{};
        found->GetLibAttr(&attr);
        EXPECT_EQ(attr.guid, LIBID_SecondLib);
    }
    ComPtr<ITypeLib> none;
    EXPECT_EQ(LoadRegTypeLib(LIBID_SecondLib, 2, 11, 0, none.put()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(classesBelow("Interface").size(), 10u) << "a vtable interface is not registered";
    EXPECT_EQ(RegisterTypeLib(nullptr, path.c_str(), nullptr), E_INVALIDARG);
    EXPECT_EQ(RegisterTypeLib(lib.get(), nullptr, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibTest, UnregisteringRemovesOnlyWhatBelongsToTheLibrary) {
    ComPtr<ITypeLib> lib = load(kModule);
    const std::u16string path = wide(kModule);
    ASSERT_EQ(RegisterTypeLib(lib.get(), path.c_str(), u"/opt/tabro"), S_OK);
    // The same library registered for a second locale, and an unrelated interface.
    {
        platform::RegistryKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{1867BCA3-EA1B-11D3-BA98-002018640C96}\\1.0\\407\\win32",
                                  0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(platform::setRegistryString(key.get(), nullptr, kModule), ERROR_SUCCESS);
        platform::RegistryKey other;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Interface\\{00000001-0000-0000-0000-00000000000A}", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, other.put(), nullptr),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(UnRegisterTypeLib(LIBID_TabroLib, 1, 0, 0x0409, SYS_WIN32), S_OK);
    auto left = classesBelow("TypeLib");
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& l) { return l.find("\\409") != l.npos; }),
              0);
    EXPECT_NE(std::find(left.begin(), left.end(), "TypeLib\\{1867BCA3-EA1B-11D3-BA98-002018640C96}\\1.0\\HELPDIR"),
              left.end())
        << "the version stays while another locale is registered";
    EXPECT_EQ(classesBelow("Interface"), (std::vector<std::string>{
                                             "Interface",
                                             "Interface\\{00000001-0000-0000-0000-00000000000A}",
                                         }));

    ASSERT_EQ(UnRegisterTypeLib(LIBID_TabroLib, 1, 0, 0x0407, SYS_WIN32), S_OK);
    EXPECT_EQ(classesBelow("TypeLib"), std::vector<std::string>{"TypeLib"}) << "the library's key goes with its last";
    EXPECT_EQ(UnRegisterTypeLib(LIBID_TabroLib, 1, 0, 0x0407, SYS_WIN32), TYPE_E_LIBNOTREGISTERED);
    ComPtr<ITypeLib> none;
    EXPECT_EQ(LoadRegTypeLib(LIBID_TabroLib, 1, 0, 0x0409, none.put()), TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
