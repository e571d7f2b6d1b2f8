// The platform's basic scalar types and result codes, spelt as the platform spells
// them so that code written against it reads the same here as on the real system.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using HRESULT = std::int32_t;
using SCODE = HRESULT;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT_FAIL(DWORD facility, DWORD code) {
    return static_cast<HRESULT>(0x80000000u | (facility << 16) | (code & 0xFFFFu));
}
constexpr DWORD FACILITY_WIN32 = 7;
// Folds a system error code into a failure code, as the platform macro does
// (0 stays success).
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
    return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error) : MAKE_HRESULT_FAIL(FACILITY_WIN32, error);
}
constexpr DWORD HRESULT_CODE(HRESULT hr) { return static_cast<DWORD>(hr) & 0xFFFFu; }

#define TABLORA_HR(x) static_cast<HRESULT>(static_cast<std::uint32_t>(x))
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = TABLORA_HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = TABLORA_HR(0x80004002);
constexpr HRESULT E_POINTER = TABLORA_HR(0x80004003);
constexpr HRESULT E_ABORT = TABLORA_HR(0x80004004);
constexpr HRESULT E_FAIL = TABLORA_HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = TABLORA_HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = TABLORA_HR(0x80070005);
constexpr HRESULT E_HANDLE = TABLORA_HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = TABLORA_HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = TABLORA_HR(0x80070057);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = TABLORA_HR(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = TABLORA_HR(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = TABLORA_HR(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = TABLORA_HR(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = TABLORA_HR(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = TABLORA_HR(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = TABLORA_HR(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = TABLORA_HR(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = TABLORA_HR(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = TABLORA_HR(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = TABLORA_HR(0x8002000C);
constexpr HRESULT DISP_E_ARRAYISLOCKED = TABLORA_HR(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = TABLORA_HR(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = TABLORA_HR(0x8002000F);
constexpr HRESULT CLASS_E_NOAGGREGATION = TABLORA_HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = TABLORA_HR(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = TABLORA_HR(0x80040154);
constexpr HRESULT CONNECT_E_NOCONNECTION = TABLORA_HR(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = TABLORA_HR(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = TABLORA_HR(0x80040202);
constexpr HRESULT MK_E_UNAVAILABLE = TABLORA_HR(0x800401E3);
constexpr HRESULT CO_E_NOTINITIALIZED = TABLORA_HR(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = TABLORA_HR(0x800401F3);
constexpr HRESULT RPC_E_DISCONNECTED = TABLORA_HR(0x80010108);
constexpr HRESULT RPC_E_WRONG_THREAD = TABLORA_HR(0x8001010E);
constexpr HRESULT RPC_E_CALL_REJECTED = TABLORA_HR(0x80010001);
#undef TABLORA_HR

// System error codes (the low word of HRESULT_FROM_WIN32 failures).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTREAD = 1012;
constexpr DWORD ERROR_CANTWRITE = 1013;

using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
// Message parameters and results are pointer-sized, as on the 64-bit platform.
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
// Opaque handles. A window handle only identifies an owner here; module handles are
// what the module loader hands out.
using HWND = struct HWND__*;
using HINSTANCE = struct HINSTANCE__*;
using HMODULE = HINSTANCE;
using HANDLE = void*;
