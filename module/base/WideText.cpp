// Conversion between UTF-16 text, as the spreadsheet keeps it, and multibyte
// text of the system code page, as the drawing keeps it.
#include "module/base/WideText.h"

#include "platform/ComError.h"
#include "platform/Text.h"

#include <algorithm>
#include <climits>
#include <new>

namespace tabro {
namespace {

[[noreturn]] void throwLastError() {
    DWORD error = GetLastError();
    // A failure that left no error code behind must still read as a failure.
    throw _com_error(error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error));
}

}  // namespace

std::string toMultibyte(std::u16string_view text) {
    try {
        if (text.size() >= static_cast<std::size_t>(INT_MAX)) throw _com_error(E_OUTOFMEMORY);
        // Plain ASCII, which nearly every cell of a long sheet is, reads the same in
        // every code set the drawing side can use; only other text is converted.
        if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
            return std::string(text.begin(), text.end());
        std::u16string source(text);  // terminated, and the terminator is converted too
        const int sourceLength = static_cast<int>(source.size()) + 1;
        int needed = WideCharToMultiByte(CP_ACP, 0, source.c_str(), sourceLength, nullptr, 0, nullptr, nullptr);
        if (needed <= 0) throwLastError();
        std::string out(static_cast<std::size_t>(needed), '\0');
        int written =
            WideCharToMultiByte(CP_ACP, 0, source.c_str(), sourceLength, out.data(), needed, nullptr, nullptr);
        if (written <= 0) throwLastError();
        out.resize(static_cast<std::size_t>(written) - 1);
        return out;
    } catch (const std::bad_alloc&) {
        throw _com_error(E_OUTOFMEMORY);
    }
}

std::u16string toWide(std::string_view text) {
    try {
        if (text.size() >= static_cast<std::size_t>(INT_MAX)) throw _com_error(E_OUTOFMEMORY);
        std::string source(text);
        const int sourceLength = static_cast<int>(source.size()) + 1;
        int needed = MultiByteToWideChar(CP_ACP, 0, source.c_str(), sourceLength, nullptr, 0);
        if (needed <= 0) throwLastError();
        std::u16string out(static_cast<std::size_t>(needed), u'\0');
        int written = MultiByteToWideChar(CP_ACP, 0, source.c_str(), sourceLength, out.data(), needed);
        if (written <= 0) throwLastError();
        out.resize(static_cast<std::size_t>(written) - 1);
        return out;
    } catch (const std::bad_alloc&) {
        throw _com_error(E_OUTOFMEMORY);
    }
}

}  // namespace tabro
