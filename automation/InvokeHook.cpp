// The installed faults and logs, behind one lock of their own: never the
// application's, so that a call is judged before it takes that lock and a test may
// read the log while another thread calls in.
#include "automation/InvokeHook.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace automation {

namespace testing {
struct HookAccess {
    static const InvokeFault& fault(const ScopedInvokeFault& f) { return f.fault_; }
    static int& matched(ScopedInvokeFault& f) { return f.matched_; }
    static std::vector<LoggedCall>& calls(ScopedInvokeLog& log) { return log.calls_; }
};
}  // namespace testing

namespace {

using testing::HookAccess;
using testing::ScopedInvokeFault;
using testing::ScopedInvokeLog;

struct Hook {
    std::mutex mutex;
    std::vector<ScopedInvokeFault*> faults;  // in the order installed
    std::vector<ScopedInvokeLog*> logs;
    // Faults plus logs; read without the lock on every call.
    std::atomic<int> installed{0};
};

// Never destroyed: a call on another thread may still arrive while the process exits.
Hook& hook() {
    static Hook* h = new Hook;
    return *h;
}

constexpr char kDefaultDescription[] = "The application could not carry out the call.";

template <class T>
void install(std::vector<T*>& list, T* item) {
    Hook& h = hook();
    std::lock_guard lock(h.mutex);
    list.push_back(item);
    h.installed.fetch_add(1, std::memory_order_release);
}

template <class T>
void remove(std::vector<T*>& list, T* item) {
    Hook& h = hook();
    std::lock_guard lock(h.mutex);
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
    h.installed.fetch_sub(1, std::memory_order_release);
}

}  // namespace

bool isInvokeHookArmed() noexcept { return hook().installed.load(std::memory_order_acquire) != 0; }

HookVerdict hookInvoke(ObjectClass on, DISPID member, WORD flags, std::span<const platform::Variant> args) {
    Hook& h = hook();
    std::lock_guard lock(h.mutex);
    if (!h.logs.empty()) {
        testing::LoggedCall call{on, member, flags, {}};
        call.argumentTypes.reserve(args.size());
        for (const auto& a : args) call.argumentTypes.push_back(a.vt());
        for (ScopedInvokeLog* log : h.logs) HookAccess::calls(*log).push_back(call);
    }
    HookVerdict verdict;
    for (ScopedInvokeFault* f : h.faults) {
        const testing::InvokeFault& fault = HookAccess::fault(*f);
        if (fault.member != member || (fault.onClass && *fault.onClass != on)) continue;
        // Every matching fault counts the call, also when an earlier one fails it.
        if (++HookAccess::matched(*f) != fault.nth || verdict.action != HookVerdict::Action::Run) continue;
        verdict.action = SUCCEEDED(fault.code) ? HookVerdict::Action::AnswerNothing : HookVerdict::Action::Fail;
        verdict.code = fault.code;
        // Only an application error carries a description; other codes come back bare.
        if (fault.code == DISP_E_EXCEPTION)
            verdict.description = fault.description.empty() ? kDefaultDescription : fault.description;
    }
    return verdict;
}

namespace testing {

ScopedInvokeFault::ScopedInvokeFault(InvokeFault fault) : fault_(std::move(fault)) { install(hook().faults, this); }
ScopedInvokeFault::~ScopedInvokeFault() { remove(hook().faults, this); }

int ScopedInvokeFault::matchingCalls() const {
    std::lock_guard lock(hook().mutex);
    return matched_;
}

ScopedInvokeLog::ScopedInvokeLog() { install(hook().logs, this); }
ScopedInvokeLog::~ScopedInvokeLog() { remove(hook().logs, this); }

std::size_t ScopedInvokeLog::count(DISPID member, std::optional<ObjectClass> on) const {
    std::lock_guard lock(hook().mutex);
    return static_cast<std::size_t>(std::count_if(
        calls_.begin(), calls_.end(), [&](const LoggedCall& c) { return c.member == member && (!on || c.on == *on); }));
}

std::vector<LoggedCall> ScopedInvokeLog::calls() const {
    std::lock_guard lock(hook().mutex);
    return calls_;
}

void ScopedInvokeLog::clear() {
    std::lock_guard lock(hook().mutex);
    calls_.clear();
}

}  // namespace testing
}  // namespace automation
