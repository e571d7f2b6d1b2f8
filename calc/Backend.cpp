// The backend a program loads: registers "Excel.Application" to be served by the
// office, keeps the application in the running-object table while an office is
// connected, and stores changed documents when the host says a command ended.
#include "automation/DispatchIds.h"
#include "automation/Front.h"
#include "calc/CalcBackend.h"
#include "calc/OfficeBackend.h"
#include "platform/ClassRegistry.h"

#include <cstdio>
#include <exception>

using platform::ComPtr;

namespace calc {
namespace {

// The class's server could not be started.
constexpr HRESULT kServerExecFailure = static_cast<HRESULT>(0x80080005u);

class CalcBackend final : public Backend {
public:
    explicit CalcBackend(const BackendOptions& options)
        : state_(std::make_shared<CalcState>(options)),
          office_(std::make_shared<OfficeBackend>(state_)),
          front_(automation::Front::make(office_)) {
        state_->listener = makeChangesListener(state_, front_);
    }
    ~CalcBackend() override { shutdown(); }

    std::string registerApplication() override {
        HRESULT hr = platform::registerServerClass(automation::kApplicationClsid, automation::kApplicationProgId,
                                                   [this](REFIID riid, void** object) -> HRESULT {
                                                       if (!object) return E_POINTER;
                                                       *object = nullptr;
                                                       try {
                                                           auto app = start();
                                                           return app->QueryInterface(riid, object);
                                                       } catch (const std::exception& e) {
                                                           // The module says only that no spreadsheet could be reached;
                                                           // why is the user's to know.
                                                           std::fprintf(stderr, "\nLibreOffice Calc: %s\n", e.what());
                                                           failedToStart_ = true;
                                                           return kServerExecFailure;
                                                       }
                                                   });
        if (FAILED(hr)) return "the class Excel.Application could not be registered";
        // An office already accepting on the pipe is the running application; without
        // one, one must be there to start.
        try {
            if (state_->link.attach()) {
                start();
                return {};
            }
        } catch (const std::exception& e) {
            return e.what();
        }
        return state_->link.missingOffice();
    }

    bool hasFailedToStart() const override { return failedToStart_; }

    std::vector<std::string> flushChangedWorkbooks(bool isSessionEnd) override {
        if (!application_) return {};
        return office_->flush(isSessionEnd);
    }

    void openWorkbookFile(const std::string& path) override {
        try {
            start();
        } catch (const OfficeError& e) {
            throw std::runtime_error(e.what());
        }
        state_->openWorkbook(path);
    }

    void shutdown() override {
        if (registration_) RevokeActiveObject(registration_, nullptr);
        registration_ = 0;
        platform::revokeServerClass(automation::kApplicationClsid);
        application_ = nullptr;
        try {
            calc::OfficeLink::CallScope call(state_->link);
            state_->noteScripts.remove(state_->link);
        } catch (const std::exception&) {
        }
        {
            std::lock_guard lock(state_->mutex);
            state_->docs.clear();
            state_->active.reset();
            state_->listener.clear();
        }
        state_->link.shutdown();
    }

private:
    // The application, connected to an office (attaching or starting one), and
    // entered in the running-object table.
    ComPtr<IDispatch> start() {
        state_->ensureConnected();
        if (!application_) {
            application_ = front_->application();
            DWORD registration = 0;
            if (SUCCEEDED(RegisterActiveObject(application_.get(), automation::kApplicationClsid, ACTIVEOBJECT_STRONG,
                                               &registration)))
                registration_ = registration;
        }
        return application_;
    }

    std::shared_ptr<CalcState> state_;
    std::shared_ptr<OfficeBackend> office_;
    std::shared_ptr<automation::Front> front_;
    ComPtr<IDispatch> application_;
    DWORD registration_ = 0;
    bool failedToStart_ = false;
};

}  // namespace
}  // namespace calc

extern "C" __attribute__((visibility("default"))) calc::Backend* tabloraCreateCalcBackend(
    const calc::BackendOptions* options, std::string* error) {
    try {
        return new calc::CalcBackend(options ? *options : calc::BackendOptions{});
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return nullptr;
    }
}
