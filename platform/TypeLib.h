// Type libraries: what an automation server declares about its interfaces and
// classes, read by callers that bind by name, and registered so that others find
// it. A type library here is a small UTF-8 text (a .tlb file, or a "TYPELIB"
// resource of a module, platform/Module.h), one declaration per line:
//
//   library <name> uuid {<guid>} version <major>.<minor> [lcid <number>] [helpstring "<text>"]
//   importlib <file>
//   interface <name> uuid {<guid>} [dual] [oleautomation] base <base> [helpstring "<text>"]
//     method <name> id <dispid> [args <count>] [helpstring "<text>"]
//     propget <name> id <dispid> [args <count>] [helpstring "<text>"]
//     propput <name> id <dispid> [args <count>] [helpstring "<text>"]
//   coclass <name> uuid {<guid>} [helpstring "<text>"] default <interface> [source <interface>]...
//
// The library line comes first and once; members belong to the interface above
// them (indenting them is customary, not required). Blank lines and lines starting
// with '#' are ignored; lines may end in CR LF. Names are identifiers
// ([A-Za-z_][A-Za-z0-9_]*, at most 255 characters), unique among the library's
// types and within an interface (a propget and a propput may share a name and an
// id). <base> is IUnknown, IDispatch or an interface declared above; a dual
// interface derives from IDispatch. Numbers are decimal, or hexadecimal after 0x
// (lcid, id); version parts are decimal up to 65535. A help string is in double
// quotes, with \" and \\ the only escapes. A propput takes at least one argument:
// the value assigned comes last. Anything else (an unknown word, a value missing or
// out of range, a member outside an interface, a coclass naming an interface the
// library does not declare, invalid UTF-8, a description over 1 MiB) refuses the
// whole description with the line and the reason.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Guid.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

using MEMBERID = DISPID;
using HREFTYPE = DWORD;
constexpr MEMBERID MEMBERID_NIL = -1;

enum TYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD = 1,
    TKIND_MODULE = 2,
    TKIND_INTERFACE = 3,
    TKIND_DISPATCH = 4,
    TKIND_COCLASS = 5,
    TKIND_ALIAS = 6,
    TKIND_UNION = 7,
};

enum INVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};

enum SYSKIND {
    SYS_WIN16 = 0,
    SYS_WIN32 = 1,
    SYS_MAC = 2,
    SYS_WIN64 = 3,
};

constexpr WORD TYPEFLAG_FAPPOBJECT = 0x01;
constexpr WORD TYPEFLAG_FCANCREATE = 0x02;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

constexpr int IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr int IMPLTYPEFLAG_FSOURCE = 0x2;

#define TABLORA_HR(x) static_cast<HRESULT>(static_cast<std::uint32_t>(x))
constexpr HRESULT TYPE_E_INVDATAREAD = TABLORA_HR(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = TABLORA_HR(0x80028019);
constexpr HRESULT TYPE_E_REGISTRYACCESS = TABLORA_HR(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = TABLORA_HR(0x8002801D);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = TABLORA_HR(0x8002802B);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = TABLORA_HR(0x80029C4A);
#undef TABLORA_HR

// What GetTypeAttr copies out (the platform hands out an allocated one instead).
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    TYPEKIND typekind;
    WORD cFuncs;        // the type's own members, not those it inherits
    WORD cImplTypes;    // interfaces of a coclass; 1 for an interface whose base the library declares
    WORD wTypeFlags;    // TYPEFLAG_*
    WORD wMajorVerNum;  // the library's version
    WORD wMinorVerNum;
};

// One member as GetFuncDesc copies it out.
struct FUNCDESC {
    MEMBERID memid;
    INVOKEKIND invkind;
    SHORT cParams;
    SHORT oVft;  // its methodIndex (platform::IDescribedMethods), where the platform has a vtable offset
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct ITypeLib;

namespace platform {

// What an object described by a type library implements so that ITypeInfo::Invoke
// can reach its members: C++ has no portable call by vtable slot, so the call comes
// by the member's position instead. methodIndex counts the members of the
// interface's description from 0, those of a base interface of the same library
// first (vtable order).
struct IDescribedMethods {
    virtual HRESULT callDescribedMethod(UINT methodIndex, std::span<const platform::Variant> args,
                                        platform::Variant* result) = 0;

protected:
    ~IDescribedMethods() = default;
};

}  // namespace platform

// One interface or class of a type library. Thread-safe: a description never
// changes once loaded.
struct ITypeInfo : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    virtual HRESULT GetTypeAttr(TYPEATTR* attr) = 0;
    // The index-th own member: TYPE_E_ELEMENTNOTFOUND past the last.
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC* desc) = 0;
    // names[0] is a member (found among inherited ones too), compared without regard
    // to case; further names would be its arguments, which are not described, so
    // they get DISPID_UNKNOWN. DISP_E_UNKNOWNNAME when any name is unknown (ids[i]
    // is then DISPID_UNKNOWN for those).
    virtual HRESULT GetIDsOfNames(const std::u16string* names, UINT count, DISPID* ids) = 0;
    // MEMBERID_NIL: the type's own name and help string; otherwise the member's.
    // Either output may be null. TYPE_E_ELEMENTNOTFOUND for an id no member has.
    virtual HRESULT GetDocumentation(MEMBERID memid, std::u16string* name, std::u16string* docString) = 0;
    // Interfaces of a coclass (the default first), or the base of an interface
    // declared in the same library; TYPE_E_ELEMENTNOTFOUND otherwise.
    virtual HRESULT GetImplTypeFlags(UINT index, int* flags) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* refType) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE refType, ITypeInfo** info) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
    // Calls member dispid of `instance`, which must point to the IDescribedMethods
    // of an object of this interface. Checked against the description first:
    // E_INVALIDARG for a null instance, DISP_E_MEMBERNOTFOUND for an unknown dispid,
    // a coclass, or flags that name no kind the member has (DISPATCH_METHOD for a
    // method, DISPATCH_PROPERTYGET for a propget, DISPATCH_PROPERTYPUT for a
    // propput), DISP_E_BADPARAMCOUNT for another number of arguments than declared.
    // Then the member's own result.
    virtual HRESULT Invoke(void* instance, DISPID dispid, WORD flags, std::span<const platform::Variant> args,
                           platform::Variant* result, EXCEPINFO* excepInfo) = 0;
};
constexpr IID IID_ITypeInfo = ITypeInfo::iid;

struct ITypeLib : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    // Types in the order the description declares them.
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
    // index -1: the library's name and help string.
    virtual HRESULT GetDocumentation(INT index, std::u16string* name, std::u16string* docString) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR* attr) = 0;
};
constexpr IID IID_ITypeLib = ITypeLib::iid;

// Reads a type library. `file` is
//   - a description file (".tlb"), or
//   - a shared library: its "TYPELIB" resource 1, or resource N when the path is
//     followed by "\N" or "/N" (tried when the whole path names no file).
// TYPE_E_CANTLOADLIBRARY when nothing can be read there (no file, a library that
// does not load or has no such resource, a file over 1 MiB); TYPE_E_UNSUPFORMAT
// when it does not start with a library line; TYPE_E_INVDATAREAD for a malformed
// description. A failure leaves error information (GetErrorInfo) saying why, with
// the line.
HRESULT LoadTypeLib(const OLECHAR* file, ITypeLib** lib);

// Registers a library under HKEY_CLASSES_ROOT as the platform does:
//   TypeLib\{LIBID}\<major>.<minor>            (default) the help string, else the name
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS      (default) "0"
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR    (default) helpDir ("" when null)
//   TypeLib\{LIBID}\<major>.<minor>\<lcid>\win32  (default) fullPath
// and for every dual or oleautomation interface
//   Interface\{IID}                            (default) its name
//   Interface\{IID}\ProxyStubClsid, ...\ProxyStubClsid32  {00020424-0000-0000-C000-000000000046}
//   Interface\{IID}\TypeLib                    (default) {LIBID}, "Version" <major>.<minor>
// Versions and the lcid are written in lower-case hexadecimal without leading zeros
// ("1.0", "409"). fullPath must be given (E_INVALIDARG); TYPE_E_REGISTRYACCESS when
// a key cannot be written.
HRESULT RegisterTypeLib(ITypeLib* lib, const OLECHAR* fullPath, const OLECHAR* helpDir);

// Loads a registered library: the version with this major number and the highest
// minor number at least `minor`; within it the path for lcid, else for its primary
// language, else for lcid 0. TYPE_E_LIBNOTREGISTERED when no registration fits;
// otherwise what LoadTypeLib answers for the registered path.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);

// Removes that registration: the lcid's path, then the version's key once it holds
// no other lcid, the library's key once it holds no version, and the Interface keys
// of the library's interfaces that name this library (when the registered file
// still loads). TYPE_E_LIBNOTREGISTERED when it is not registered.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

namespace platform {

// A description read, or why not (line 0 for what concerns the whole text).
struct TypeLibError {
    HRESULT code;  // TYPE_E_UNSUPFORMAT or TYPE_E_INVDATAREAD
    std::size_t line;
    std::string reason;
    std::string message() const;  // "line 3: ..."
};
// The text as LoadTypeLib reads it (for tests and fuzzing without files).
HRESULT loadTypeLibFromText(std::string_view text, platform::ComPtr<ITypeLib>& lib, TypeLibError* error = nullptr);

}  // namespace platform
