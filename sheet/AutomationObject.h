// The one Invoke of every object of the model: the test hook judges the call, work
// that takes the application's lock itself runs next, then the member runs with that
// lock held and its failures become the result code and EXCEPINFO of the call.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Unknown.h"
#include "sheet/AppState.h"
#include "sheet/DispatchSupport.h"
#include "sheet/InvokeHook.h"

#include <memory>
#include <mutex>
#include <span>
#include <utility>

namespace sheet {

template <ObjectClass kClass, class... MoreInterfaces>
class AutomationObject : public platform::ComObject<IDispatch, MoreInterfaces...> {
public:
    HRESULT Invoke(DISPID id, WORD flags, std::span<const platform::Variant> args, platform::Variant* result,
                   EXCEPINFO* excep) final {
        return guardedInvoke(excep, [&] {
            if (isInvokeHookArmed()) {
                HookVerdict verdict = hookInvoke(kClass, id, flags, args);
                if (verdict.action == HookVerdict::Action::Fail)
                    throw DispatchFailure{verdict.code, std::move(verdict.description)};
                if (verdict.action == HookVerdict::Action::AnswerNothing) {
                    if (result) *result = platform::Variant();
                    return;
                }
            }
            beforeLock(id);
            std::lock_guard<std::mutex> lock(app_->mutex);
            platform::Variant r = dispatch(id, flags, Args(args));
            if (result) *result = std::move(r);
        });
    }

protected:
    explicit AutomationObject(std::shared_ptr<AppState> app) : app_(std::move(app)) {}

    // Runs before the lock is taken and may take it itself: reloading workbooks that
    // another program changed, before a member that looks them up.
    virtual void beforeLock(DISPID) {}
    // The member, lock held. An id or a kind of call the class does not answer
    // fails with DISP_E_MEMBERNOTFOUND.
    virtual platform::Variant dispatch(DISPID id, WORD flags, const Args& args) = 0;

    std::shared_ptr<AppState> app_;
};

}  // namespace sheet
