// The office's change events, as the kept sheets take them. The office calls the
// listener on a bridge thread and waits for it, so nothing here calls the office or
// waits for a call to it: the events are only noted, and the program's idle tick
// (Snapshots::changes) finds the changed cells and announces them as the
// application's SheetChange. A slow subscriber must not freeze the user's
// spreadsheet.
#include "calc/CalcState.h"
#include "calc/UnoText.h"

#include <com/sun/star/util/ChangesEvent.hpp>
#include <com/sun/star/util/XModifyListener.hpp>
#include <cppuhelper/implbase2.hxx>

namespace css = ::com::sun::star;
namespace lang = css::lang;
namespace uno = css::uno;
namespace util = css::util;
using ::com::sun::star::uno::Reference;

namespace calc {
namespace {

class ChangesListener : public cppu::WeakImplHelper2<util::XChangesListener, util::XModifyListener> {
public:
    explicit ChangesListener(std::weak_ptr<CalcState> state) : state_(std::move(state)) {}

    // Typed, pasted and cleared cells, rows and columns inserted or removed.
    void SAL_CALL changesOccurred(const util::ChangesEvent& event) override {
        auto state = state_.lock();
        if (!state) return;
        try {
            // Only documents the backend has seen can be linked; a document the user
            // opens later is adopted by the next command that looks for workbooks.
            std::shared_ptr<Doc> doc = state->known(event.Source);
            if (!doc) return;
            for (const util::ElementChange& change : event.Changes) {
                OUString what;
                change.Accessor >>= what;
                state->snapshots.changed(doc, what, change.ReplacedElement);
            }
        } catch (const std::exception&) {
            // The office must not see our failures; the change is lost to the link as
            // it would be with the connection gone.
        }
    }

    // Every change of the document, those told cell by cell above and those that are
    // not (fills, Replace All, cuts).
    void SAL_CALL modified(const lang::EventObject& event) override {
        auto state = state_.lock();
        if (!state) return;
        try {
            state->snapshots.modified(state->known(event.Source));
        } catch (const std::exception&) {
        }
    }

    void SAL_CALL disposing(const lang::EventObject&) override {}

private:
    std::weak_ptr<CalcState> state_;
};

}  // namespace

Reference<util::XChangesListener> makeChangesListener(const std::shared_ptr<CalcState>& state) {
    return new ChangesListener(state);
}

}  // namespace calc
