// The two spreadsheet programs behind one interface for the programs on top of the host.
#include "host/program/SpreadsheetProgram.h"

#include "sheet/Spreadsheet.h"

#include <dlfcn.h>

#include <cstdio>
#include <future>

namespace {

class StandIn final : public SpreadsheetProgram {
public:
    std::string registerApplication() override {
        return FAILED(sheet::registerSpreadsheetApplication()) ? "the spreadsheet could not be registered" : "";
    }
    void prepareWorkbooks(const std::vector<std::string>& files) override {
        preparing_ = std::async(std::launch::async, [files] {
            std::vector<std::shared_ptr<sheet::PreparedWorkbook>> prepared;
            for (const std::string& file : files) prepared.push_back(sheet::prepareWorkbookFile(file));
            return prepared;
        });
    }
    void openWorkbooks() override {
        // A workbook that opens read-only is the user's to know before a command
        // refuses to change it, as the spreadsheet program shows it in its title.
        for (const auto& prepared : preparing_.get())
            if (std::string why = sheet::openWorkbookFile(prepared); !why.empty())
                std::fprintf(stderr, "cadhost: warning: %s\n", why.c_str());
    }
    std::vector<std::string> flushChangedWorkbooks(bool) override { return sheet::flushChangedWorkbooks(); }
    // Workbooks changed on disk by another program are reloaded, so that their
    // edits reach subscribers of the spreadsheet's events.
    std::vector<std::string> idle() override {
        if (!sheet::runningSpreadsheetApplication()) return {};
        return sheet::reloadChangedWorkbooks();
    }
    void shutdown() override {
        sheet::stopSpreadsheetApplication();
        sheet::revokeSpreadsheetApplication();
    }

private:
    std::future<std::vector<std::shared_ptr<sheet::PreparedWorkbook>>> preparing_;
};

class Calc final : public SpreadsheetProgram {
public:
    Calc(void* library, calc::Backend* backend) : library_(library), backend_(backend) {}
    ~Calc() override {
        shutdown();
        // The library stays mapped: the office's runtime keeps threads and
        // handlers of its own until the process ends.
        (void)library_;
    }
    std::string registerApplication() override { return backend_->registerApplication(); }
    void prepareWorkbooks(const std::vector<std::string>& files) override { files_ = files; }
    void openWorkbooks() override {
        for (const auto& file : files_) backend_->openWorkbookFile(file);
    }
    std::vector<std::string> flushChangedWorkbooks(bool isSessionEnd) override {
        return backend_->flushChangedWorkbooks(isSessionEnd);
    }
    bool hasFailedToStart() const override { return backend_ && backend_->hasFailedToStart(); }
    // Edits made in the office reach subscribers of the spreadsheet's events.
    std::vector<std::string> idle() override { return backend_->idle(); }
    void shutdown() override {
        if (backend_) backend_->shutdown();
    }

private:
    void* library_;
    std::unique_ptr<calc::Backend> backend_;
    std::vector<std::string> files_;
};

}  // namespace

std::unique_ptr<SpreadsheetProgram> SpreadsheetProgram::standIn() { return std::make_unique<StandIn>(); }

std::unique_ptr<SpreadsheetProgram> SpreadsheetProgram::calc(const std::string& folder,
                                                             const calc::BackendOptions& options, std::string& error) {
    const std::string path = folder + "/tabcalc.so";
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = ::dlerror();
        error = std::string("the LibreOffice Calc backend cannot be loaded (") + (why ? why : path.c_str()) +
                "); it is built where LibreOffice's SDK is installed, and needs LibreOffice to run";
        return nullptr;
    }
    using Create = calc::Backend* (*)(const calc::BackendOptions*, std::string*);
    auto create = reinterpret_cast<Create>(::dlsym(library, kCalcBackendEntry));
    if (!create) {
        error = path + " is not the LibreOffice Calc backend";
        return nullptr;
    }
    calc::Backend* backend = create(&options, &error);
    if (!backend) return nullptr;
    return std::make_unique<Calc>(library, backend);
}
