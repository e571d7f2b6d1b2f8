// The automation contract over LibreOffice Calc: each test starts an office of its
// own (a pipe and a profile of its own) through the backend.
#include "calc/CalcBackend.h"
#include "platform/ClassRegistry.h"
#include "tests/automation/FrontContract.h"

#include <memory>

namespace automation::test {
namespace {

struct Calc {
    void start(const std::string& folder) {
        static int started = 0;
        options.pipeName = "tabro_front_" + std::to_string(::getpid()) + "_" + std::to_string(++started);
        options.homeFolder = folder + "/home";
        options.isHeadless = true;
        options.callTimeoutMs = 20000;
        std::string error;
        backend.reset(tabloraCreateCalcBackend(&options, &error));
        ASSERT_TRUE(backend) << error;
        ASSERT_EQ(backend->registerApplication(), "");
    }
    platform::ComPtr<IDispatch> application() {
        platform::ComPtr<IDispatch> app;
        EXPECT_EQ(CoCreateInstance(automation::kApplicationClsid, nullptr, 1, IID_IDispatch, app.putVoid()), S_OK);
        return app;
    }
    std::vector<std::string> flush() { return backend->flushChangedWorkbooks(false); }
    void openWorkbookFile(const std::string& path) { backend->openWorkbookFile(path); }
    void stop() { backend.reset(); }

    calc::BackendOptions options;
    std::unique_ptr<calc::Backend> backend;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Calc, FrontContract, Calc);

}  // namespace
}  // namespace automation::test
