// A library with a DllMain that counts its attach and detach calls into counters the
// test hands it, so that a test sees whether a load attached it.
#include "platform/Module.h"

namespace {

int* attaches = nullptr;
int* detaches = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) void setCounters(int* attach, int* detach) {
    attaches = attach;
    detaches = detach;
}

extern "C" __attribute__((visibility("default"))) BOOL DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH && attaches) ++*attaches;
    if (reason == DLL_PROCESS_DETACH && detaches) ++*detaches;
    return TRUE;
}
