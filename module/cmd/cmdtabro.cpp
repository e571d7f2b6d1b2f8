// Keyword dispatch of the TABRO command, and the command entries.
#include "module/cmd/cmdtabro.h"

#include "host/Editor.h"
#include "module/base/ErrorGuard.h"
#include "module/base/RegistryReports.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/cmd/cmdhelp.h"
#include "module/cmd/cmdtest.h"
#include "module/export/Export.h"
#include "module/import/Import.h"
#include "module/link/LinkControl.h"
#include "module/settings/Settings.h"
#include "module/ui/BlockSelectionDialog.h"
#include "module/ui/OptionsDialog.h"
#include "platform/Text.h"

#include <cstdio>

namespace tabro {
namespace {

bool exportKeyword() {
    Settings settings;
    loadSettings(settings);
    return Export(settings, chooseBlockNamesInDialog);
}

bool export2Keyword() { return Export2(); }

bool importKeyword() {
    Settings settings;
    loadSettings(settings);
    // Survey coordinates go back with the sign rule they were exported with.
    Import(settings.importOptions, settings.exportOptions.JTSK);
    return false;  // Import reports on the command line, not to the dispatch
}

bool optionsKeyword() {
    ResourceScope scope;
    return showOptionsDialog();
}

bool connectKeyword() {
    disconnectLink();
    connectLink();
    return true;
}

bool disconnectKeyword() {
    disconnectLink();
    return true;
}

bool import2Keyword() { return Import2(); }

bool toolbarKeyword() { return showToolbar(); }

bool helpKeyword() {
    showHelp();
    return true;
}

const KeywordEntry kKeywords[] = {
    {"Export", exportKeyword},   {"Export2", export2Keyword}, {"Import", importKeyword},
    {"Options", optionsKeyword}, {"Connect", connectKeyword}, {"Disconnect", disconnectKeyword},
    {"Import2", import2Keyword}, {"Toolbar", toolbarKeyword}, {"Help", helpKeyword},
};

}  // namespace

std::span<const KeywordEntry> keywordTable() { return kKeywords; }

bool dispatchKeyword() { return dispatchKeyword(keywordTable()); }

bool dispatchKeyword(std::span<const KeywordEntry> table) {
    ResourceScope scope;
    std::string keywords = resourceStrings().load(kTextKeywordList);
    std::string prompt = resourceStrings().load(kTextKeywordPrompt);
    acedInitGet(0, keywords.c_str());
    char answer[ADS_INPUT_BUFFER] = "";
    int status = acedGetKword(prompt.c_str(), answer);
    if (status == RTNONE)
        std::snprintf(answer, sizeof answer, "%s", "Export");
    else if (status != RTNORM)
        return false;
    bool result = false;
    for (const KeywordEntry& entry : table)
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(answer),
                     reinterpret_cast<const unsigned char*>(entry.keyword)) == 0)
            result = entry.operation();
    return result;
}

void tabroCommand() {
    ResourceScope scope;
    commandGuard([] {
        reportRegistryFileProblems();
        dispatchKeyword();
    });
}

void tbtestCommand() {
    diagnosticGuard([] { runConnectionTest(); });
}

}  // namespace tabro
