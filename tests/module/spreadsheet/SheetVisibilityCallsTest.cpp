// A worksheet hidden and shown through the module's own calls, against the stand-in:
// the values the module passes mean to the application what the module means, and
// the application's refusals reach the module as automation errors.
#include "StandInFixture.h"

#include "platform/ComError.h"

namespace tabro::testing {
namespace {

class SheetVisibilityCallsTest : public StandInTest {};

TEST_F(SheetVisibilityCallsTest, ARecordSheetIsHiddenFromTheUserAndTheLastVisibleSheetIsNot) {
    registerClass();
    DispatchPtr app = start();
    DispatchPtr book = addWorkbook();
    DispatchPtr sheets = xl::worksheets(book.get());
    DispatchPtr data = xl::item(sheets.get(), 1);
    DispatchPtr record = xl::addWorksheet(sheets.get());
    EXPECT_EQ(xl::sheetVisibility(record.get()), xl::kSheetVisible);
    for (LONG state : {xl::kSheetHidden, xl::kSheetVeryHidden, xl::kSheetVisible, xl::kSheetVeryHidden}) {
        SCOPED_TRACE(state);
        xl::setSheetVisibility(record.get(), state);
        EXPECT_EQ(xl::sheetVisibility(record.get()), state);
    }
    // The new sheet was active; hidden, it handed the activation to the user's sheet.
    EXPECT_EQ(nameOf(xl::activeSheet(book.get()).get()), nameOf(data.get()));
    EXPECT_THROW(xl::activate(record.get()), _com_error);
    try {
        xl::setSheetVisibility(data.get(), xl::kSheetHidden);
        ADD_FAILURE() << "the last visible sheet was hidden";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x800A03ECu));
        EXPECT_FALSE(e.Description().empty());
    }
    EXPECT_EQ(xl::sheetVisibility(data.get()), xl::kSheetVisible);
}

}  // namespace
}  // namespace tabro::testing
