// Text wrapping set and read through the module's own calls, against the stand-in:
// the module's member reaches the application's Range.WrapText, whose answer the
// stand-in's own member confirms cell by cell.
#include "StandInFixture.h"

namespace tabro::testing {
namespace {

class WrapTextCallsTest : public StandInTest {};

TEST_F(WrapTextCallsTest, TheModulesWrapTextIsTheApplicationsOnEveryCellOfTheRange) {
    registerClass();
    DispatchPtr app = start();
    DispatchPtr book = addWorkbook();
    DispatchPtr sheet = xl::activeSheet(book.get());
    DispatchPtr cells = xl::cells(sheet.get());
    auto wrappedHere = [&](LONG row, LONG column) {
        return get(xl::cell(cells.get(), row, column).get(), automation::dispid::WrapText).boolVal() != 0;
    };
    xl::setWrapText(xl::entireRow(xl::cell(cells.get(), 2, 1).get()).get(), true);
    EXPECT_TRUE(wrappedHere(2, 1));
    EXPECT_TRUE(wrappedHere(2, 300));
    EXPECT_FALSE(wrappedHere(1, 1));
    EXPECT_TRUE(xl::isWrapText(xl::cell(cells.get(), 2, 5).get()));
    EXPECT_FALSE(xl::isWrapText(xl::cell(cells.get(), 3, 5).get()));
    xl::setWrapText(xl::cell(cells.get(), 2, 5).get(), false);
    EXPECT_FALSE(xl::isWrapText(xl::cell(cells.get(), 2, 5).get()));
    EXPECT_TRUE(wrappedHere(2, 4));
}

}  // namespace
}  // namespace tabro::testing
