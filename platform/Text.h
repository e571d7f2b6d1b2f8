// Multibyte <-> UTF-16 text conversion and multibyte comparison, spelt as the
// platform spells them. "Multibyte" is the process locale's code set (what
// nl_langinfo(CODESET) reports after the program's setlocale), the stand-in for the
// system code page; all conversions go through iconv.
#pragma once

#include "platform/LastError.h"
#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

// Code pages. CP_ACP, CP_OEMCP and CP_THREAD_ACP all mean the locale's code set;
// any other number n is handed to iconv as "CPn" (1252, 1250, 932, 437, ...) and
// fails with ERROR_INVALID_PARAMETER when iconv does not know it.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

// Flags. Others are accepted and ignored.
constexpr DWORD MB_PRECOMPOSED = 0x01;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Multibyte to UTF-16. srcLen -1 means NUL-terminated, and the count then includes
// the terminator. dstLen 0 asks for the size needed. Returns the number of UTF-16
// units written (or needed); 0 on failure with GetLastError():
//   ERROR_INVALID_PARAMETER  null src, srcLen 0 or < -1, dstLen < 0, unknown code page
//   ERROR_INSUFFICIENT_BUFFER  dst too small (dst contents then unspecified)
//   ERROR_NO_UNICODE_TRANSLATION  invalid input with MB_ERR_INVALID_CHARS
// Without MB_ERR_INVALID_CHARS each byte that does not start a valid sequence (a
// stray continuation byte, a truncated sequence at the end) becomes U+FFFD and
// conversion resumes at the next byte, as the platform does for UTF-8.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, OLECHAR* dst, int dstLen);

// UTF-16 to multibyte, same size conventions (srcLen -1 includes the terminator).
// A character the target code set lacks becomes defaultChar (or '?' when null) and
// sets *usedDefault; a lone surrogate counts as such a character. For CP_UTF8,
// defaultChar and usedDefault must be null (ERROR_INVALID_PARAMETER otherwise) and a
// lone surrogate becomes U+FFFD, unless WC_ERR_INVALID_CHARS asks for
// ERROR_NO_UNICODE_TRANSLATION instead.
int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault);

// Case-insensitive comparison of two NUL-terminated multibyte strings: decoded
// under the locale (LC_CTYPE), each character folded with towlower, compared by
// code point. <0, 0, >0. A byte that does not decode compares as the code point
// 0xDC00 + byte, above every character of the Basic Multilingual Plane below the
// surrogates, so invalid text still has a total order.
int _mbsicmp(const unsigned char* a, const unsigned char* b);

namespace platform {

// The locale's code set name as iconv takes it ("UTF-8", "ANSI_X3.4-1968", ...).
std::string localeCodeSet();

// Strict C++ forms of the two conversions under the locale's code set.
// toWide: no value when src holds a byte sequence the code set does not define.
// toMultiByte: characters the code set lacks become '?'; no value only for a lone
// surrogate, which no code set can hold.
std::optional<std::u16string> toWide(std::string_view src);
std::optional<std::string> toMultiByte(std::u16string_view src);

// UTF-8 <-> UTF-16 regardless of the locale (files and tests that know their
// encoding). Same failure rules as above.
std::optional<std::u16string> utf8ToWide(std::string_view src);
std::optional<std::string> wideToUtf8(std::u16string_view src);

// Appends code point cp (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// `s` without the characters of `blanks` at either end (blanks and tabs unless
// told otherwise: readers of lines pass " \t\r" or " \t\r\n").
std::string_view trim(std::string_view s, std::string_view blanks = " \t");
// `s` with every byte upper-cased as std::toupper does in the current C locale.
std::string upper(std::string_view s);

}  // namespace platform
