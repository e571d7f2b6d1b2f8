// The registry-script component: a server registers its classes by applying a
// script of keys and values (usually a "REGISTRY" resource of its module) and
// unregisters them by running the same script backwards. The class is known to
// the class registry from process start: CoCreateInstance(CLSID_Registrar, ...,
// IRegistrar::iid) makes one.
//
// The script:
//
//   HKCR                                   a root: HKCR or HKEY_CLASSES_ROOT,
//   {                                      HKCU or HKEY_CURRENT_USER
//       Name = s 'default text'            a key with its default value
//       {                                  its subkeys and values
//           val Count = d '12'             a named value: s text, d number
//           val Data = b '00FF10'          (decimal or 0x hex), b hex bytes
//           NoRemove Keep { ... }          never deleted by unregistering
//           ForceRemove Fresh = s 'x'      deleted whole before it is written
//           Delete Old                     deleted when registering
//       }
//   }
//
// Words are separated by blanks or line breaks; a name may be bare (any characters
// but blanks, quotes and '=') or quoted ('Programmable'), and a quoted text writes a
// quote as ''. Keywords (val, NoRemove, ForceRemove, Delete, the roots, the value
// types) are compared without regard to case; quote a key that is named like one.
// %NAME% in a name or value is replaced by the item AddReplacement gave for NAME
// (names compared without regard to case) and %% is a percent sign; an unknown
// %NAME% is an error. Key names hold no backslash (nest the keys instead); values
// stand only inside a key's block, and a Delete key takes neither a value nor a
// block. Blocks nest at most 64 deep, a script is at most 1 MiB.
//
// The whole script is read before anything is written: a malformed one fails with
// DISP_E_EXCEPTION, leaves error information naming the line and the reason, and
// writes nothing. Registering creates or opens each key, sets its values and goes
// on with its block. Unregistering removes what registering would have written: a
// ForceRemove key whole; a plain key's listed values (its default value if the
// script sets one), then the key itself unless it still holds subkeys or values
// the script does not name; a NoRemove key stays with its values while its block
// is unregistered; Delete keys and keys that are not there are passed over. A
// registry failure ends the run with HRESULT_FROM_WIN32 of its code.
#pragma once

#include "platform/Unknown.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr CLSID CLSID_Registrar{0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

// One object is used by one thread at a time.
struct IRegistrar : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0x44EC053B, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

    // E_INVALIDARG for a null or empty key, a key holding '%', or a null item. The
    // same key again replaces its item.
    virtual HRESULT AddReplacement(const OLECHAR* key, const OLECHAR* item) = 0;
    virtual HRESULT ClearReplacements() = 0;
    // The script is resource resourceId of type resourceType (UTF-8) in the module;
    // the module is mapped as data if it is not loaded. HRESULT_FROM_WIN32 of the
    // loader's or FindResourceA's error when there is no such module or resource.
    virtual HRESULT ResourceRegister(const OLECHAR* moduleFileName, UINT resourceId, const OLECHAR* resourceType) = 0;
    virtual HRESULT ResourceUnregister(const OLECHAR* moduleFileName, UINT resourceId, const OLECHAR* resourceType) = 0;
    virtual HRESULT StringRegister(const OLECHAR* script) = 0;
    virtual HRESULT StringUnregister(const OLECHAR* script) = 0;
};
constexpr IID IID_IRegistrar = IRegistrar::iid;

namespace platform {

using RegistryReplacements = std::vector<std::pair<std::u16string, std::u16string>>;

struct RegistryScriptError {
    std::size_t line = 0;
    std::string reason;
    std::string message() const;  // "line 4: ..."
};

// Reads a script as StringRegister does, touching no registry: S_OK, or
// DISP_E_EXCEPTION with what is wrong (for tests and fuzzing).
HRESULT checkRegistryScript(std::u16string_view script, const RegistryReplacements& replacements,
                            RegistryScriptError* error = nullptr);

}  // namespace platform
