// Boxes about registry files that cannot be used as they are.
#include "module/base/RegistryReports.h"

#include "host/Editor.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceStrings.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

#include <atomic>
#include <optional>
#include <string>

namespace tabro {
namespace {

struct HiveReport {
    HKEY root;
    UINT unreadableText;  // what it means for the module when nothing of it is read
    std::atomic<bool> told{false};
};

HiveReport kReports[] = {
    {HKEY_CURRENT_USER, kTextUserHiveUnreadable},
    {HKEY_CLASSES_ROOT, kTextClassesHiveUnreadable},
};

}  // namespace

void reportRegistryFileProblem(HKEY predefinedKey) {
    for (HiveReport& report : kReports) {
        if (report.root != predefinedKey || report.told.load()) continue;
        std::optional<platform::HiveProblem> problem = platform::hiveProblem(report.root);
        if (!problem || report.told.exchange(true)) continue;
        const std::string file = platform::hivePath(report.root).string();
        const std::string reason = asSentence(problem->reason);
        const std::string text = formatText(problem->isReadInPart ? kTextHiveReadInPart : report.unreadableText,
                                            file.c_str(), reason.c_str());
        MessageBoxA(adsw_acadMainWnd(), text.c_str(), resourceStrings().load(kTextErrorCaption).c_str(),
                    MB_OK | MB_ICONWARNING);
    }
}

void reportRegistryFileProblems() {
    for (const HiveReport& report : kReports) reportRegistryFileProblem(report.root);
}

void forgetRegistryFileReports() {
    for (HiveReport& report : kReports) report.told = false;
}

}  // namespace tabro
