// Report texts and boxes.
#include "module/base/ErrorReports.h"

#include "host/Editor.h"
#include "platform/MessageBox.h"
#include "platform/SystemMessages.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

namespace tabro {
namespace {

// Each line of a report is formatted in a buffer of this size, longer text is cut.
constexpr std::size_t kLineBuffer = 1024;

std::string errorInfoText(const _com_error& error, std::u16string (_com_error::*part)() const) {
    if (!error.ErrorInfo()) return "null";
    std::u16string wide = (error.*part)();
    if (wide.empty()) return "null";
    return platform::toMultiByte(wide).value_or("null");
}

void appendLine(std::string& text, const char* format, const char* value) {
    char line[kLineBuffer];
    std::snprintf(line, sizeof line, format, value);
    text += line;
}

}  // namespace

std::string cutForMessage(std::string_view text, std::size_t limit) {
    std::mbstate_t state{};
    std::size_t at = 0;
    for (std::size_t characters = 0; at < text.size(); ++characters) {
        if (characters == limit) return std::string(text.substr(0, at)) + "...";
        const std::size_t n = std::mbrlen(text.data() + at, text.size() - at, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
            state = std::mbstate_t{};
            ++at;
        } else {
            at += n;
        }
    }
    return std::string(text);
}

std::string comErrorText(const _com_error& error) {
    std::string text;
    char line[kLineBuffer];
    std::snprintf(line, sizeof line, "COM error!\n");
    text += line;
    std::snprintf(line, sizeof line, "Code = %08lx\n",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(error.Error())));
    text += line;
    appendLine(text, "Code meaning = %s\n", error.ErrorMessage());
    appendLine(text, "Source = %s\n", errorInfoText(error, &_com_error::Source).c_str());
    appendLine(text, "Description = %s\n", errorInfoText(error, &_com_error::Description).c_str());
    return text;
}

void reportComError(const _com_error& error) { AfxMessageBox(comErrorText(error).c_str(), MB_OK); }

void reportOleException(const COleException& exception) {
    char text[64];
    std::snprintf(text, sizeof text, "Ole Error : 0x%08lX",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(exception.m_sc)));
    AfxMessageBox(text, MB_OK);
}

void reportDispatchException(const COleDispatchException& exception) {
    std::string text = "Dispatch error : " + exception.m_strDescription;
    AfxMessageBox(text.c_str(), MB_OK);
}

std::string systemErrorReason(DWORD code) {
    std::optional<std::string> text = platform::systemMessage(static_cast<HRESULT>(code));
    if (!text) return "System error " + std::to_string(code) + ".";
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
    return *text;
}

std::string asSentence(std::string reason) {
    if (!reason.empty() && reason.back() != '.') reason += '.';
    return reason;
}

void assertReport(const char* source, int line, const char* condition) {
    char text[kLineBuffer];
    std::snprintf(text, sizeof text, "Module: %s\nLine: %d\nCondition: %s", source ? source : "", line,
                  condition ? condition : "");
    MessageBoxA(nullptr, text, "Assertion failed", MB_OK | MB_ICONERROR);
}

}  // namespace tabro
