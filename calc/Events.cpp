// The office's cell changes as the application's SheetChange event. The office
// calls the listener on a bridge thread and waits for it, so the event is only
// posted to each subscriber's apartment here (the platform's event source does
// that), never run: a slow subscriber must not freeze the user's spreadsheet.
// Changes made through automation raise no such event in the office, so the
// module's own writes do not come back to it.
#include "automation/Front.h"
#include "calc/CalcState.h"
#include "calc/UnoText.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/util/ChangesEvent.hpp>
#include <cppuhelper/implbase1.hxx>

namespace css = ::com::sun::star;
namespace container = css::container;
namespace frame = css::frame;
namespace lang = css::lang;
namespace table = css::table;
namespace uno = css::uno;
namespace util = css::util;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

class ChangesListener : public cppu::WeakImplHelper1<util::XChangesListener> {
public:
    ChangesListener(std::weak_ptr<CalcState> state, std::weak_ptr<automation::Front> front)
        : state_(std::move(state)), front_(std::move(front)) {}

    void SAL_CALL changesOccurred(const util::ChangesEvent& event) override {
        auto state = state_.lock();
        auto front = front_.lock();
        if (!state || !front) return;
        try {
            // Only documents the backend has seen can be linked; a document the user
            // opens later is adopted by the next command that looks for workbooks.
            std::shared_ptr<Doc> doc = state->known(event.Source);
            if (!doc) return;
            for (const util::ElementChange& change : event.Changes) {
                OUString what;
                change.Accessor >>= what;
                if (what != "cell-change") continue;
                for (const table::CellRangeAddress& address : addressesOf(change.ReplacedElement))
                    front->announce({changeOf(doc, address)});
            }
        } catch (const uno::Exception&) {
            // The office must not see our failures; the change is lost to the link
            // as it would be with the connection gone.
        } catch (const std::exception&) {
        }
    }

    void SAL_CALL disposing(const lang::EventObject&) override {}

private:
    static std::vector<table::CellRangeAddress> addressesOf(const uno::Any& element) {
        Reference<css::sheet::XCellRangeAddressable> one(element, UNO_QUERY);
        if (one.is()) return {one->getRangeAddress()};
        // Several ranges changed at once (a paste into a multiple selection).
        Reference<css::sheet::XSheetCellRanges> many(element, UNO_QUERY);
        if (!many.is()) return {};
        Sequence<table::CellRangeAddress> all = many->getRangeAddresses();
        return std::vector<table::CellRangeAddress>(all.begin(), all.end());
    }

    static automation::CellChange changeOf(const std::shared_ptr<Doc>& doc, const table::CellRangeAddress& address) {
        Reference<container::XIndexAccess> sheets(doc->spreadsheet->getSheets(), UNO_QUERY_THROW);
        Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(address.Sheet), UNO_QUERY_THROW);
        return {std::make_shared<DocSheet>(doc, sheet), automation::Area{address.StartRow + 1, address.StartColumn + 1,
                                                                         address.EndRow + 1, address.EndColumn + 1}};
    }

    std::weak_ptr<CalcState> state_;
    std::weak_ptr<automation::Front> front_;
};

}  // namespace

Reference<util::XChangesListener> makeChangesListener(const std::shared_ptr<CalcState>& state,
                                                      std::weak_ptr<automation::Front> front) {
    return new ChangesListener(state, std::move(front));
}

}  // namespace calc
