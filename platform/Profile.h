// Profile (INI) files: reading and writing one string entry, spelt and behaving as
// the platform's profile calls do.
#pragma once

#include "platform/WinTypes.h"

// Copies the entry's text into buf (size characters including the terminating NUL)
// and returns the number of characters copied, without the NUL. Sections and keys
// compare without regard to ASCII case, and blanks around the names asked for do not
// count (names in the file are read trimmed); the first matching section and, within it,
// the first matching key count. The text is the part after '=', with blanks (spaces,
// tabs) trimmed at both ends and one pair of matching surrounding quotes (" or ')
// removed. When the file, section or key is missing, `defaultValue` (null: empty,
// its trailing blanks trimmed) is copied instead. A longer text is cut to size - 1
// characters and NUL-terminated; size 0 copies nothing.
// With key null, buf receives every key of the section; with section null, every
// section name: each NUL-terminated, the list ending in a second NUL; a list cut
// short returns size - 2.
// A path without a folder is taken relative to the current folder.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buf, DWORD size,
                               const char* fileName);

// Sets the entry to `value`, creating the file and the section when missing; every
// other line of the file (comments, blank lines, unknown lines, line endings) is kept
// byte for byte. A key already present has its line replaced; a new key goes after
// the last entry of the section. value null removes the entry; key null removes the
// whole section. The file is replaced atomically. Returns FALSE with the error in
// GetLastError() when the file cannot be read or written, or when the section, key or
// value holds a line break (or the key an '=' or a leading '[' or ';'), which the
// file could not give back.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* fileName);
