// The HTML help library's interface as its callers see it: the library "hhctrl.ocx"
// is loaded by name from the system folder and its help function found by ordinal,
// so nothing here links it.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>

using DWORD_PTR = std::uintptr_t;

// Ordinal of the ANSI help function in the help library.
constexpr WORD HTMLHELP_ORDINAL_ANSI = 14;
constexpr const char* HTMLHELP_LIBRARY = "hhctrl.ocx";

// Commands of the help function.
constexpr UINT HH_DISPLAY_TOPIC = 0x0000;  // data: a topic path inside the file, or 0 for its default topic

// HtmlHelpA(owner, file, command, data): `file` is a compiled help file, optionally
// followed by "::/topic.html". Answers a non-null handle when the topic was shown,
// null when the file or topic could not be read or the command is not known.
using HtmlHelpAFunction = HWND (*)(HWND owner, const char* file, UINT command, DWORD_PTR data);
