// The system message table: the platform's English texts, word for word, for the
// codes this program can meet.
#include "platform/SystemMessages.h"

#include "platform/Text.h"

#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

struct Entry {
    std::uint32_t code;
    const char* text;
};

// System error codes (FACILITY_WIN32 results map here by their low word).
constexpr Entry systemErrors[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_HANDLE_DISK_FULL, "The disk is full.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {ERROR_DLL_INIT_FAILED, "A dynamic link library (DLL) initialization routine failed.\r\n"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, "The specified resource name cannot be found in the image file.\r\n"},
    {ERROR_BADDB, "The configuration registry database is corrupt.\r\n"},
    {ERROR_BADKEY, "The configuration registry key is invalid.\r\n"},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened.\r\n"},
    {ERROR_CANTREAD, "The configuration registry key could not be read.\r\n"},
    {ERROR_CANTWRITE, "The configuration registry key could not be written.\r\n"},
};

// Result codes of the other facilities.
constexpr Entry resultCodes[] = {
    {0x80004001u, "Not implemented\r\n"},
    {0x80004002u, "No such interface supported\r\n"},
    {0x80004003u, "Invalid pointer\r\n"},
    {0x80004004u, "Operation aborted\r\n"},
    {0x80004005u, "Unspecified error\r\n"},
    {0x8000FFFFu, "Catastrophic failure\r\n"},
    {0x80020001u, "Unknown interface.\r\n"},
    {0x80020003u, "Member not found.\r\n"},
    {0x80020004u, "Parameter not found.\r\n"},
    {0x80020005u, "Type mismatch.\r\n"},
    {0x80020006u, "Unknown name.\r\n"},
    {0x80020007u, "No named arguments.\r\n"},
    {0x80020008u, "Bad variable type.\r\n"},
    {0x80020009u, "Exception occurred.\r\n"},
    {0x8002000Au, "Out of present range.\r\n"},
    {0x8002000Bu, "Invalid index.\r\n"},
    {0x8002000Cu, "Unknown language.\r\n"},
    {0x8002000Du, "Memory is locked.\r\n"},
    {0x8002000Eu, "Invalid number of parameters.\r\n"},
    {0x8002000Fu, "Parameter not optional.\r\n"},
    {0x80020010u, "Invalid callee.\r\n"},
    {0x80020011u, "Does not support a collection.\r\n"},
    {0x80020012u, "Division by zero.\r\n"},
    {0x80020013u, "Buffer too small\r\n"},
    {0x80010001u, "Call was rejected by callee.\r\n"},
    {0x80010108u, "The object invoked has disconnected from its clients.\r\n"},
    {0x8001010Eu, "The application called an interface that was marshalled for a different thread.\r\n"},
    {0x80040110u, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111u, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154u, "Class not registered\r\n"},
    {0x800401E3u, "Operation unavailable\r\n"},
    {0x800401F0u, "CoInitialize has not been called.\r\n"},
    {0x800401F3u, "Invalid class string\r\n"},
};

const char* lookup(std::uint32_t code) {
    if (code >= 0x80040200u && code <= 0x8004FFFFu) return nullptr;
    bool isSystemError = code < 0x10000u || (code & 0xFFFF0000u) == 0x80070000u;
    if (isSystemError) {
        for (const Entry& e : systemErrors)
            if (e.code == (code & 0xFFFFu)) return e.text;
        return nullptr;
    }
    for (const Entry& e : resultCodes)
        if (e.code == code) return e.text;
    return nullptr;
}

}  // namespace

std::optional<std::string> systemMessage(HRESULT hr) {
    const char* text = lookup(static_cast<std::uint32_t>(hr));
    if (!text) return std::nullopt;
    return std::string(text);
}

bool systemMessage(HRESULT hr, std::string& text) {
    const char* found = lookup(static_cast<std::uint32_t>(hr));
    if (!found) return false;
    text = found;
    return true;
}

}  // namespace platform

DWORD FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD, char* buffer, DWORD size, void*) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) ||
        !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text;
    if (!platform::systemMessage(static_cast<HRESULT>(messageId), text)) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* copy = static_cast<char*>(std::malloc(text.size() + 1));
        if (!copy) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(copy, text.c_str(), text.size() + 1);
        *reinterpret_cast<char**>(buffer) = copy;
        return static_cast<DWORD>(text.size());
    }
    if (text.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

void* LocalFree(void* memory) {
    std::free(memory);
    return nullptr;
}
