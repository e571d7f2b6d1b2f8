// Layer 3, the editor: keyword and string prompts on command input, printing on
// command output, the main window and the framework message box.
#include "host/Editor.h"

#include "host/CommandInput.h"
#include "host/KeywordList.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace host {
namespace {

struct PendingInitGet {
    int flags = 0;
    std::string keywords;
    bool set = false;
};

// acedInitGet applies to the next input call only.
PendingInitGet& initGetSlot() {
    static PendingInitGet slot;
    return slot;
}

// Copies `text` into a ADS_INPUT_BUFFER result buffer.
void copyResult(char* result, const std::string& text) {
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(ADS_INPUT_BUFFER - 1));
    std::memcpy(result, text.data(), n);
    result[n] = '\0';
}

}  // namespace

const char* hostTitle() { return "Cadhost"; }

}  // namespace host

int acedInitGet(int flags, const char* keywords) {
    host::PendingInitGet& slot = host::initGetSlot();
    slot = host::PendingInitGet{flags, keywords ? keywords : "", true};
    if (!host::parseKeywordList(slot.keywords)) {
        slot = host::PendingInitGet{};
        return RTERROR;
    }
    return RTNORM;
}

int acedGetKword(const char* prompt, char* result) {
    host::PendingInitGet init = std::exchange(host::initGetSlot(), host::PendingInitGet{});
    if (!result) return RTERROR;
    result[0] = '\0';
    std::vector<host::Keyword> keywords = host::parseKeywordList(init.keywords).value_or(std::vector<host::Keyword>{});
    for (;;) {
        host::InputLine line = host::readInputLine(prompt ? prompt : "");
        if (line.kind != host::InputLine::Kind::Text) return RTCAN;
        std::string text = std::string(platform::trim(line.text));
        if (text.empty()) {
            if (init.flags & RSG_NONULL) {
                host::writeOutput("\nRequires a keyword.");
                continue;
            }
            return RTNONE;
        }
        if (const host::Keyword* k = host::matchKeyword(keywords, text)) {
            host::copyResult(result, k->global);
            return RTNORM;
        }
        if (init.flags & RSG_OTHER) {
            if (text.size() >= ADS_INPUT_BUFFER) {
                host::writeOutput("\nInput too long.");
                continue;
            }
            host::copyResult(result, text);
            return RTNORM;
        }
        host::writeOutput("\nInvalid option keyword.");
    }
}

int acedGetString(int cronly, const char* prompt, char* result) {
    // acedInitGet does not apply to string input, but it is used up all the same.
    host::initGetSlot() = host::PendingInitGet{};
    if (!result) return RTERROR;
    result[0] = '\0';
    for (;;) {
        host::InputLine line = host::readInputLine(prompt ? prompt : "");
        if (line.kind != host::InputLine::Kind::Text) return RTCAN;
        std::string text = line.text;
        if (!cronly) {
            std::size_t start = text.find_first_not_of(' ');
            text = start == std::string::npos ? std::string() : text.substr(start, text.find(' ', start) - start);
        }
        if (text.size() >= static_cast<std::size_t>(ADS_INPUT_BUFFER)) {
            // Cutting the answer would pass on something the user did not type.
            host::writeOutput("\nInput too long: at most 131 characters.");
            continue;
        }
        host::copyResult(result, text);
        return RTNORM;
    }
}

int acutPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        va_end(args);
        return 0;
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<std::size_t>(n));
    host::writeOutput(text);
    return n;
}

void acdbFail(const char* text) {
    host::writeOutput("\n");
    host::writeOutput(text ? text : "");
}

HWND adsw_acadMainWnd() {
    // The stand-in has no windows; a fixed non-null handle lets owners be told apart
    // from "no owner".
    static char mainWindow;
    return reinterpret_cast<HWND>(&mainWindow);
}

int AfxMessageBox(const char* text, UINT type, UINT) {
    // As the framework does: a box without an icon gets the one its buttons call for,
    // the exclamation mark for a plain OK box (an error report) and the question mark
    // for a choice.
    if ((type & MB_ICONMASK) == 0) {
        switch (type & MB_TYPEMASK) {
            case MB_OK:
            case MB_OKCANCEL:
                type |= MB_ICONEXCLAMATION;
                break;
            case MB_YESNO:
            case MB_YESNOCANCEL:
                type |= MB_ICONQUESTION;
                break;
            default:
                break;
        }
    }
    return MessageBoxA(adsw_acadMainWnd(), text, host::hostTitle(), type);
}
