// The system's message text for result codes and system error codes: the English
// texts the platform gives, each ending in CR LF as the platform returns them.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>

namespace platform {

// hr may be an HRESULT or a plain system error code (below 0x10000, as FormatMessage
// takes both); HRESULT_FROM_WIN32(e) gives e's text. No value for codes the system
// has no text for, which includes all of 0x80040200..0x8004FFFF (the range servers
// use for their own codes).
std::optional<std::string> systemMessage(HRESULT hr);
bool systemMessage(HRESULT hr, std::string& text);

}  // namespace platform

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Only FORMAT_MESSAGE_FROM_SYSTEM is served (with or without IGNORE_INSERTS; inserts
// are never expanded). With ALLOCATE_BUFFER, buffer is a char** that receives a
// malloc'd text to be freed with LocalFree. Returns the length without the
// terminator; 0 with ERROR_MR_MID_NOT_FOUND when there is no text,
// ERROR_INSUFFICIENT_BUFFER when size is too small, ERROR_INVALID_PARAMETER for
// other sources.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                     void* arguments);
// Frees what FormatMessageA allocated; returns null.
void* LocalFree(void* memory);
