// The stand-in's failure hook for tests: a member call that fails the way the
// application's own failures come back, and a log of the calls that reached the
// object model. Calls come from any thread (marshalled calls run on the owner's,
// events on a subscriber's), so installing, matching and reading are locked.
#pragma once

#include "automation/DispatchIds.h"
#include "platform/Variant.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace automation::testing {

// "Fail the nth call of member on objects of class on with code":
//     InvokeFault(dispid::Add, E_OUTOFMEMORY).on(ObjectClass::Workbooks).atCall(2)
struct InvokeFault {
    // DISP_E_EXCEPTION comes back as the application's own errors do: EXCEPINFO with
    // the application's error code, its source and the description (a general one
    // unless given). Any other failure code is returned as it is. A success code
    // makes the member answer nothing (an empty result) without running, as a server
    // that hands back no object.
    explicit InvokeFault(DISPID member, HRESULT code = DISP_E_EXCEPTION) : member(member), code(code) {}
    // Only calls on objects of that class count; otherwise calls on any class do.
    InvokeFault& on(ObjectClass objectClass) {
        onClass = objectClass;
        return *this;
    }
    // Which of the matching calls fails, counting from 1 (the first unless told); the
    // calls before and after it run as usual.
    InvokeFault& atCall(int n) {
        nth = n;
        return *this;
    }
    InvokeFault& describedAs(std::string text) {
        description = std::move(text);
        return *this;
    }

    DISPID member;
    HRESULT code;
    std::optional<ObjectClass> onClass;
    int nth = 1;
    std::string description;
};

// Installs a fault for its lifetime. Several may be installed at once; each counts
// the calls it matches on its own, and a call fails when any of them says so (the
// one installed first decides the code).
class ScopedInvokeFault {
public:
    explicit ScopedInvokeFault(InvokeFault fault);
    ~ScopedInvokeFault();
    ScopedInvokeFault(const ScopedInvokeFault&) = delete;
    ScopedInvokeFault& operator=(const ScopedInvokeFault&) = delete;

    // Calls that matched so far, the failed one included.
    int matchingCalls() const;
    bool hasFailed() const { return matchingCalls() >= fault_.nth; }

private:
    friend struct HookAccess;
    InvokeFault fault_;
    int matched_ = 0;  // under the hook's lock
};

struct LoggedCall {
    ObjectClass on;
    DISPID member;
    WORD flags;
    std::vector<VARTYPE> argumentTypes;  // in the member's order
};

// Records every call that reaches the object model while it lives, failed ones
// included, before the member runs.
class ScopedInvokeLog {
public:
    ScopedInvokeLog();
    ~ScopedInvokeLog();
    ScopedInvokeLog(const ScopedInvokeLog&) = delete;
    ScopedInvokeLog& operator=(const ScopedInvokeLog&) = delete;

    std::size_t count(DISPID member, std::optional<ObjectClass> on = std::nullopt) const;
    std::vector<LoggedCall> calls() const;
    void clear();

private:
    friend struct HookAccess;
    std::vector<LoggedCall> calls_;  // under the hook's lock
};

}  // namespace automation::testing

namespace automation {

// What the hook says about a call about to run.
struct HookVerdict {
    enum class Action { Run, Fail, AnswerNothing } action = Action::Run;
    HRESULT code = S_OK;
    std::string description;
};

// Cheap enough for every call: true only while a fault or a log is installed.
bool isInvokeHookArmed() noexcept;
// Counts and logs the call; the verdict of the installed faults.
HookVerdict hookInvoke(ObjectClass on, DISPID member, WORD flags, std::span<const platform::Variant> args);

}  // namespace automation
