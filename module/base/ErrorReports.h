// The boxes that report a failed automation call, a framework OLE or dispatch
// exception, and a violated assertion. Each shows one modal box and returns.
#pragma once

#include "platform/ComError.h"
#include "platform/WinTypes.h"

#include <string>
#include <string_view>

namespace tabro {

// The text reportComError shows: five lines, "COM error!", the code, its meaning,
// and the error information's source and description ("null" without them).
std::string comErrorText(const _com_error& error);

// Input quoted in a message (a cell's text, a tag, a block name) cut to `limit`
// characters of the system code page, "..." marking the cut: a cell of a hundred
// thousand digits must not make a message of a hundred thousand digits. Whole
// characters only; a byte that does not decode counts as one.
constexpr std::size_t kQuotedInputCharacters = 60;
std::string cutForMessage(std::string_view text, std::size_t limit = kQuotedInputCharacters);

// In the framework box (owner: the host's main window; caption: the host's title).
void reportComError(const _com_error& error);
// "Ole Error : 0x%08lX" with the status code, in the framework box.
void reportOleException(const COleException& exception);
// "Dispatch error : " and the description, in the framework box.
void reportDispatchException(const COleDispatchException& exception);

// The system's text for a system error code, without the line end the platform
// gives it ("Access is denied."); "System error 1234." for a code it has no text for.
std::string systemErrorReason(DWORD code);
// A reason in words of our own ("not a regular file") ended as a sentence.
std::string asSentence(std::string reason);

// A box without owner, caption "Assertion failed", error icon, text
// "Module: <source>\nLine: <line>\nCondition: <condition>". The caller goes on.
void assertReport(const char* source, int line, const char* condition);

}  // namespace tabro
