// Command-line input and output, system variables, the main window and the
// framework message box.
#include "host/Editor.h"

#include "host/CommandLine.h"
#include "host/KeywordList.h"
#include "platform/MessageBox.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include "host/AcApDocManager.h"
#include <strings.h>
#include <vector>

namespace host {
namespace {

std::mutex& outputMutex() {
    static std::mutex m;
    return m;
}

OutputSink& sinkSlot() {
    static OutputSink sink;
    return sink;
}

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

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const { return ::strcasecmp(a.c_str(), b.c_str()) < 0; }
};

std::map<std::string, SystemVariable, CaseInsensitiveLess>& variables() {
    static std::map<std::string, SystemVariable, CaseInsensitiveLess> vars;
    static std::once_flag builtins;
    std::call_once(builtins, [] {
        // CMDECHO: whether commands run by modules echo their prompts; 0 or 1.
        auto value = std::make_shared<short>(1);
        vars["CMDECHO"] = SystemVariable{
            [value](resbuf& rb) {
                rb.restype = RTSHORT;
                rb.resval.rint = *value;
                return true;
            },
            [value](const resbuf& rb) {
                if (rb.restype != RTSHORT || rb.resval.rint < 0 || rb.resval.rint > 1) return false;
                *value = rb.resval.rint;
                return true;
            }};
    });
    return vars;
}

// Copies `text` into a ADS_INPUT_BUFFER result buffer.
void copyResult(char* result, const std::string& text) {
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(ADS_INPUT_BUFFER - 1));
    std::memcpy(result, text.data(), n);
    result[n] = '\0';
}

std::string trimmed(const std::string& s) {
    auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

const char* hostTitle() { return "Cadhost"; }

OutputSink setOutputSink(OutputSink sink) {
    std::lock_guard lock(outputMutex());
    return std::exchange(sinkSlot(), std::move(sink));
}

namespace {
bool cursorAtLineStart = false;
int muted = 0;
}  // namespace

OutputMute::OutputMute() {
    std::lock_guard lock(outputMutex());
    ++muted;
}

OutputMute::~OutputMute() {
    std::lock_guard lock(outputMutex());
    --muted;
}

void noteCursorAtLineStart() {
    std::lock_guard lock(outputMutex());
    cursorAtLineStart = true;
}

void writeOutput(std::string_view text) {
    std::lock_guard lock(outputMutex());
    if (text.empty() || muted > 0) return;
    if (std::exchange(cursorAtLineStart, false) && text.front() == '\n') text.remove_prefix(1);
    if (OutputSink& sink = sinkSlot()) {
        sink(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

struct OutputCapture::State {
    std::mutex mutex;
    std::string text;
};

OutputCapture::OutputCapture() : state_(std::make_shared<State>()) {
    previous_ = setOutputSink([state = state_](std::string_view text) {
        std::lock_guard lock(state->mutex);
        state->text.append(text);
    });
}

OutputCapture::~OutputCapture() { setOutputSink(std::move(previous_)); }

std::string OutputCapture::text() const {
    std::lock_guard lock(state_->mutex);
    return state_->text;
}

void OutputCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->text.clear();
}

void registerSystemVariable(const std::string& name, SystemVariable variable) {
    variables()[name] = std::move(variable);
}

void registerShortVariable(const std::string& name, short initial, short minimum, short maximum) {
    auto value = std::make_shared<short>(initial);
    registerSystemVariable(name, SystemVariable{[value](resbuf& rb) {
                                                    rb.restype = RTSHORT;
                                                    rb.resval.rint = *value;
                                                    return true;
                                                },
                                                [value, minimum, maximum](const resbuf& rb) {
                                                    if (rb.restype != RTSHORT || rb.resval.rint < minimum ||
                                                        rb.resval.rint > maximum)
                                                        return false;
                                                    *value = rb.resval.rint;
                                                    return true;
                                                }});
}

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
        std::string text = host::trimmed(line.text);
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

int acedCommand(int type, ...) {
    AcApDocument* document = acDocManager->curDocument();
    std::vector<host::InputLine> answers;
    bool wellFormed = true;
    va_list args;
    va_start(args, type);
    for (int t = type; t != 0; t = va_arg(args, int)) {
        char number[64];
        switch (t) {
        case RTSTR: {
            const char* value = va_arg(args, const char*);
            answers.push_back({host::InputLine::Kind::Text, value ? value : "", true});
            break;
        }
        case RTSHORT:
            std::snprintf(number, sizeof number, "%d", va_arg(args, int));
            answers.push_back({host::InputLine::Kind::Text, number, true});
            break;
        case RTREAL:
            std::snprintf(number, sizeof number, "%.17g", va_arg(args, double));
            answers.push_back({host::InputLine::Kind::Text, number, true});
            break;
        case RTNONE:
            answers.push_back({host::InputLine::Kind::Text, "", true});
            break;
        default:
            wellFormed = false;
        }
        if (!wellFormed) break;
    }
    va_end(args);
    if (!wellFormed || !document || answers.empty() || answers.front().text.empty()) return RTERROR;

    resbuf echo{};
    bool quiet = acedGetVar("CMDECHO", &echo) == RTNORM && echo.resval.rint == 0;
    std::optional<host::OutputMute> mute;
    if (quiet) mute.emplace();
    // The command reads only these answers; what the document had queued waits.
    std::deque<host::InputLine> saved;
    saved.swap(document->activeInput());
    document->activeInput().assign(answers.begin() + 1, answers.end());
    ++document->answersOnly();
    bool known = false;
    try {
        known = host::executeCommand(answers.front().text);
    } catch (...) {
        --document->answersOnly();
        document->activeInput().swap(saved);
        throw;
    }
    --document->answersOnly();
    document->activeInput().swap(saved);
    return known ? RTNORM : RTERROR;
}

void acdbFail(const char* text) {
    host::writeOutput("\n");
    host::writeOutput(text ? text : "");
}

int acedGetVar(const char* name, resbuf* result) {
    if (!name || !result) return RTERROR;
    auto& vars = host::variables();
    auto it = vars.find(name);
    if (it == vars.end() || !it->second.get) return RTERROR;
    result->rbnext = nullptr;
    return it->second.get(*result) ? RTNORM : RTERROR;
}

int acedSetVar(const char* name, const resbuf* value) {
    if (!name || !value) return RTERROR;
    auto& vars = host::variables();
    auto it = vars.find(name);
    if (it == vars.end() || !it->second.set) return RTERROR;
    return it->second.set(*value) ? RTNORM : RTERROR;
}

HWND adsw_acadMainWnd() {
    // The stand-in has no windows; a fixed non-null handle lets owners be told apart
    // from "no owner".
    static char mainWindow;
    return reinterpret_cast<HWND>(&mainWindow);
}

int AfxMessageBox(const char* text, UINT type, UINT) {
    return MessageBoxA(adsw_acadMainWnd(), text, host::hostTitle(), type);
}
