// The command and diagnostic guards.
#include "module/base/ErrorGuard.h"

#include "host/Editor.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceStrings.h"
#include "platform/MessageBox.h"

namespace tabro {
namespace {

template <class OtherFailure>
void guard(const std::function<void()>& body, OtherFailure reportOther) {
    try {
        body();
    } catch (const _com_error& error) {
        reportComError(error);
    } catch (const COleException& exception) {
        reportOleException(exception);
    } catch (const COleDispatchException& exception) {
        reportDispatchException(exception);
    } catch (...) {
        reportOther();
    }
}

}  // namespace

void commandGuard(const std::function<void()>& body) {
    guard(body, [] {
        std::string text = resourceStrings().load(kTextCommandFailed);
        std::string caption = resourceStrings().load(kTextErrorCaption);
        MessageBoxA(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    });
}

void diagnosticGuard(const std::function<void()>& body) {
    guard(body,
          [] { MessageBoxA(adsw_acadMainWnd(), "ERROR: general exception found.", "Error", MB_OK | MB_ICONERROR); });
}

}  // namespace tabro
