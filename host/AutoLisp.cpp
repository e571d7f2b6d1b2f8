// Layer 5b, on the application context and the documents: AutoLISP functions of
// modules and the evaluation of calls to them.
#include "host/AutoLisp.h"

#include "host/AcApDocManager.h"
#include "host/Ads.h"
#include "host/ApplicationContext.h"
#include "host/Editor.h"

#include <cctype>
#include <optional>
#include <vector>

namespace {

// What the AutoLISP functions keep in each document.
struct LispState final : host::DocumentData {
    std::map<std::string, host::LispFunction> functions;  // keyed by lower-case name
    std::deque<std::string> queuedExpressions;
    int evaluating = 0;  // evaluations running in the document
    bool isIdle() const override { return evaluating == 0 && queuedExpressions.empty(); }
};

LispState& stateOf(AcApDocument* document) {
    // Functions are only ever added through this state, so subscribing on its first
    // use is in time for every application that defines one.
    [[maybe_unused]] static const int unloadHook = host::addAppUnloadHook(host::removeLispFunctionsOf);
    return host::documentData<LispState>(*document);
}

// The function code being evaluated, per nesting level; empty outside evaluation.
std::vector<int>& evaluationStack() {
    static std::vector<int> stack;
    return stack;
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "(name)" with optional blanks inside; no value for anything else.
std::optional<std::string> calledFunctionName(const std::string& expression) {
    std::size_t i = expression.find_first_not_of(" \t");
    if (i == std::string::npos || expression[i] != '(') return std::nullopt;
    std::size_t begin = expression.find_first_not_of(" \t", i + 1);
    if (begin == std::string::npos) return std::nullopt;
    std::size_t end = begin;
    while (end < expression.size() && !std::isspace(static_cast<unsigned char>(expression[end])) &&
           expression[end] != '(' && expression[end] != ')')
        ++end;
    if (end == begin) return std::nullopt;
    std::size_t close = expression.find_first_not_of(" \t", end);
    if (close == std::string::npos || expression[close] != ')') return std::nullopt;
    if (expression.find_first_not_of(" \t", close + 1) != std::string::npos) return std::nullopt;
    return expression.substr(begin, end - begin);
}

// Pops the evaluation level on every way out of an evaluation.
class EvaluationLevel {
public:
    EvaluationLevel(AcApDocument* document, int code) : document_(document) {
        evaluationStack().push_back(code);
        ++stateOf(document_).evaluating;
    }
    ~EvaluationLevel() {
        evaluationStack().pop_back();
        // The function may have closed its own document.
        if (acDocManager->isOpen(document_)) --stateOf(document_).evaluating;
    }
    EvaluationLevel(const EvaluationLevel&) = delete;
    EvaluationLevel& operator=(const EvaluationLevel&) = delete;

private:
    AcApDocument* document_;
};

}  // namespace

int acedDefun(const char* name, short code) {
    AcApDocument* document = acDocManager->curDocument();
    if (!name || !*name || code < 0 || !document) return RTERROR;
    host::LispFunction& f = stateOf(document).functions[lowerCase(name)];
    f = host::LispFunction{name, code, host::currentApp(), nullptr};
    return RTNORM;
}

int acedUndef(const char* name, short code) {
    AcApDocument* document = acDocManager->curDocument();
    if (!document) return RTERROR;
    void* app = host::currentApp();
    auto& functions = stateOf(document).functions;
    for (auto it = functions.begin(); it != functions.end(); ++it) {
        bool sameName = !name || lowerCase(name) == it->first;
        if (it->second.code == code && it->second.appId == app && sameName) {
            functions.erase(it);
            return RTNORM;
        }
    }
    return RTERROR;
}

int acedRegFunc(int (*function)(), int code) {
    AcApDocument* document = acDocManager->curDocument();
    if (!document) return RTERROR;
    void* app = host::currentApp();
    for (auto& [key, f] : stateOf(document).functions) {
        if (f.code == code && f.appId == app) {
            f.direct = function;
            return RTNORM;
        }
    }
    return RTERROR;
}

int acedGetFunCode() { return evaluationStack().empty() ? RTERROR : evaluationStack().back(); }

int ads_queueexpr(const char* expression) {
    AcApDocument* document = acDocManager->curDocument();
    if (!document || !expression) return RTERROR;
    stateOf(document).queuedExpressions.emplace_back(expression);
    return RTNORM;
}

namespace host {

bool evaluateExpression(AcApDocument* document, const std::string& expression, bool printResult) {
    std::optional<std::string> name = calledFunctionName(expression);
    if (!name) {
        acutPrintf("\n; error: this command line evaluates only calls like (name) without arguments");
        return false;
    }
    auto& functions = stateOf(document).functions;
    auto it = functions.find(lowerCase(*name));
    if (it == functions.end()) {
        acutPrintf("\n; error: no function definition: %s", name->c_str());
        return false;
    }
    LispFunction function = it->second;  // the call may redefine or remove it
    {
        CurrentDocumentScope scope(document);
        EvaluationLevel level(document, function.code);
        if (function.direct)
            function.direct();
        else
            sendApplicationMessage(function.appId, AcRx::kInvkSubrMsg);
    }
    if (printResult) acutPrintf("\nnil");
    return true;
}

int runQueuedExpressions(AcApDocument* document) {
    int count = 0;
    while (document && acDocManager->isOpen(document) && !stateOf(document).queuedExpressions.empty()) {
        auto& queued = stateOf(document).queuedExpressions;
        std::string expression = std::move(queued.front());
        queued.pop_front();
        evaluateExpression(document, expression, false);
        ++count;
    }
    return count;
}

std::map<std::string, LispFunction>& lispFunctionsOf(AcApDocument* document) { return stateOf(document).functions; }

std::deque<std::string>& queuedExpressionsOf(AcApDocument* document) { return stateOf(document).queuedExpressions; }

void removeLispFunctionsOf(void* appId) {
    for (AcApDocument* document : acDocManager->documents())
        std::erase_if(stateOf(document).functions, [&](const auto& entry) { return entry.second.appId == appId; });
}

}  // namespace host
