// AutoLISP functions defined by modules, per document, and the queued expressions
// that call them.
#pragma once

#include <string>

class AcApDocument;

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
// Removes every function an unloaded module defined, in all documents.
void removeLispFunctionsOf(void* appId);

}  // namespace host
