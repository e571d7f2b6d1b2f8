// Globally unique identifiers of classes and interfaces, and their "{...}" text.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace platform {

// "{00024500-0000-0000-C000-000000000046}" in upper case hexadecimal.
std::string guidToString(const GUID& guid);
// Reads the braced form; anything else (missing braces, bad digits, trailing text)
// gives no value.
std::optional<GUID> guidFromString(std::string_view text);

}  // namespace platform
