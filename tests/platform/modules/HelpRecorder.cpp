// A help library that records its calls instead of showing anything: exported under
// ordinal 14 as the help library's ANSI help function, with a DllMain that counts
// attaches, so that a test sees how often its caller loaded and called it.
#include "platform/Module.h"
#include "tests/common/HelpRecord.h"

namespace {

HelpRecord* record = nullptr;

const ModuleOrdinal kOrdinals[] = {{HTMLHELP_ORDINAL_ANSI, "RecordedHelp"}, {3, "setHelpRecord"}};

}  // namespace

extern "C" __attribute__((visibility("default"))) void setHelpRecord(void* target) {
    record = static_cast<HelpRecord*>(target);
}

extern "C" __attribute__((visibility("default"))) HWND RecordedHelp(HWND, const char* file, UINT command,
                                                                    DWORD_PTR data) {
    if (!record) return nullptr;
    ++record->calls;
    record->file = file ? file : "";
    record->command = command;
    record->data = data;
    return reinterpret_cast<HWND>(record);
}

extern "C" __attribute__((visibility("default"))) const ModuleOrdinal* ModuleOrdinals(std::size_t* count) {
    *count = sizeof kOrdinals / sizeof kOrdinals[0];
    return kOrdinals;
}

extern "C" __attribute__((visibility("default"))) BOOL DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH && record) ++record->attaches;
    return TRUE;
}
