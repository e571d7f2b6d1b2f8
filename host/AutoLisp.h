// Layer 5b, on the application context and the documents: AutoLISP functions defined
// by modules, kept per document, the queued expressions that call them and their
// evaluation. What an application defined goes when the context removes it.
#pragma once

#include <deque>
#include <map>
#include <string>

class AcApDocument;

namespace host {
// An AutoLISP function a module defined in one document.
struct LispFunction {
    std::string name;
    int code = 0;
    void* appId = nullptr;      // the module whose kInvkSubrMsg evaluates it
    int (*direct)() = nullptr;  // set by acedRegFunc: called directly instead
};
}  // namespace host

// Defines (or redefines) the external function `name` with `code` in the current
// document for the module whose message is being handled. RTNORM, or RTERROR for an
// empty name, a negative code or no current document.
int acedDefun(const char* name, short code);
// Removes the current document's function with `code` of the running module.
// RTNORM, or RTERROR when there is none.
int acedUndef(const char* name, short code);
// Makes the function with `code` be called directly when evaluated instead of
// through kInvkSubrMsg. RTNORM, or RTERROR when the running module has no such code.
int acedRegFunc(int (*function)(), int code);
// The code of the function being evaluated; RTERROR outside an evaluation.
int acedGetFunCode();
// Queues an expression for evaluation when the current document is ready. RTNORM,
// or RTERROR without a current document.
int ads_queueexpr(const char* expression);

namespace host {

// Evaluates an expression in `document`. The evaluator knows calls of defined
// functions without arguments, "(name)"; the function's module gets kInvkSubrMsg
// with the function's code. Returns false (with a message) for anything else.
// `printResult` prints the result ("nil") as typed expressions show it.
bool evaluateExpression(AcApDocument* document, const std::string& expression, bool printResult);
// Evaluates the document's queued expressions, oldest first.
int runQueuedExpressions(AcApDocument* document);

// The functions defined in `document`, keyed by lower-case name.
std::map<std::string, LispFunction>& lispFunctionsOf(AcApDocument* document);
// The expressions ads_queueexpr queued in `document`, oldest first; the document is
// not quiescent while one waits.
std::deque<std::string>& queuedExpressionsOf(AcApDocument* document);
// Removes every function an application defined, in all documents (the application
// context's unload hook does this when the application goes).
void removeLispFunctionsOf(void* appId);

}  // namespace host
