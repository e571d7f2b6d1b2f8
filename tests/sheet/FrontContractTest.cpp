// The automation contract over the stand-in: the running application of this
// process, keeping its workbooks in memory and as .xlsx files.
#include "sheet/Spreadsheet.h"
#include "tests/automation/FrontContract.h"

namespace automation::test {
namespace {

struct StandIn {
    void start(const std::string&) { ASSERT_EQ(sheet::registerSpreadsheetApplication(), S_OK); }
    platform::ComPtr<IDispatch> application() { return sheet::startSpreadsheetApplication(); }
    std::vector<std::string> flush() { return sheet::flushChangedWorkbooks(); }
    void openWorkbookFile(const std::string& path) { sheet::openWorkbookFile(path); }
    void stop() { (void)sheet::revokeSpreadsheetApplication(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(StandIn, FrontContract, StandIn);

}  // namespace
}  // namespace automation::test
