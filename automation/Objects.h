// The front's objects as they make one another, and the one Invoke they share: the
// test hook judges the call, a member that looks workbooks up first takes in what
// other programs changed, then the member runs through the backend and its failures
// become the result code and EXCEPINFO of the call.
#pragma once

#include "automation/DispatchSupport.h"
#include "automation/Front.h"
#include "automation/InvokeHook.h"

#include <memory>
#include <span>
#include <utility>

namespace automation {

// What the objects read and change of the application's own state.
struct FrontAccess {
    static std::mutex& mutex(Front& f) { return f.mutex_; }
    static IDispatch*& application(Front& f) { return f.application_; }
    static bool& isVisible(Front& f) { return f.isVisible_; }
    static bool& isInteractive(Front& f) { return f.isInteractive_; }
    static std::u16string& userName(Front& f) { return f.userName_; }
    static int& bookCounter(Front& f) { return f.bookCounter_; }
    static platform::ConnectionPoints& points(Front& f) { return f.points_; }
};

template <ObjectClass kClass, class... MoreInterfaces>
class FrontObject : public platform::ComObject<IDispatch, MoreInterfaces...> {
public:
    HRESULT Invoke(DISPID id, WORD flags, std::span<const platform::Variant> args, platform::Variant* result,
                   EXCEPINFO* excep) final {
        Backend& backend = front_->backend();
        return guardedInvoke(excep, backend.errorSource(), [&] {
            if (isInvokeHookArmed()) {
                HookVerdict verdict = hookInvoke(kClass, id, flags, args);
                if (verdict.action == HookVerdict::Action::Fail)
                    throw DispatchFailure{verdict.code, std::move(verdict.description)};
                if (verdict.action == HookVerdict::Action::AnswerNothing) {
                    if (result) *result = platform::Variant();
                    return;
                }
            }
            if (looksUpWorkbooks(id)) front_->announce(backend.refresh());
            backend.run(!isOfOneWorkbook(), [&] {
                platform::Variant r = dispatch(id, flags, Args(args));
                if (result) *result = std::move(r);
            });
        });
    }

protected:
    explicit FrontObject(std::shared_ptr<Front> front) : front_(std::move(front)) {}

    // Members that look workbooks or sheets up, before which the changes other
    // programs made to the workbooks are taken in.
    virtual bool looksUpWorkbooks(DISPID) const { return false; }
    // Objects of one workbook, sheet or range belong to the connection they were
    // made on; the application and its workbooks collection to none.
    virtual bool isOfOneWorkbook() const { return true; }
    // The member, run through the backend. An id or a kind of call the class does
    // not answer fails with DISP_E_MEMBERNOTFOUND.
    virtual platform::Variant dispatch(DISPID id, WORD flags, const Args& args) = 0;

    Backend& backend() const { return front_->backend(); }
    IDispatch* application() const {
        std::lock_guard lock(FrontAccess::mutex(*front_));
        return FrontAccess::application(*front_);
    }

    std::shared_ptr<Front> front_;
};

platform::ComPtr<IDispatch> makeApplicationObject(const std::shared_ptr<Front>& front);
platform::ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<Front>& front);
platform::ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<Front>& front, const BookPtr& book);
platform::ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<Front>& front, const BookPtr& book);
platform::ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<Front>& front, const SheetPtr& sheet);
platform::ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<Front>& front, const SheetPtr& sheet, Area area);

// The sheet of a worksheet object, and the sheet and area of a range object, made
// here; null / false for any other object.
SheetPtr sheetOf(IDispatch* object);
bool rangeOf(IDispatch* object, SheetPtr& sheet, Area& area);

// Throws the application's error for a change to a workbook that cannot be saved
// without losing content.
void checkWritable(Backend& backend, const BookHandle& book);
void checkWritable(Backend& backend, const SheetHandle& sheet);

}  // namespace automation
