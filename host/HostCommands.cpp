// Layer 8, the host commands: the session and module commands on the command line.
#include "host/HostCommands.h"

#include "host/AcRxDynamicLinker.h"
#include "host/CommandLine.h"
#include "host/DrawingCommands.h"
#include "host/Editor.h"
#include "host/MenuCommands.h"
#include "host/UndoCommands.h"
#include "platform/MessageQueue.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace host {
namespace {

void delayCommand() {
    long milliseconds = -1;
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, "\nDelay time in milliseconds: ", answer) != RTNORM) return;
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(answer, &end, 10);
        if (*answer && end && *end == '\0' && errno == 0 && value >= 0 && value <= 3600000) {
            milliseconds = value;
            break;
        }
        acutPrintf("\nRequires an integer between 0 and 3600000.");
    }
    IdleWaitScope idle;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    platform::MessageQueue& queue = platform::MessageQueue::main();
    for (;;) {
        runPendingWork();
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline || quitRequested()) break;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (queue.isOwnerThread())
            queue.waitAndPump(std::max(remaining, std::chrono::milliseconds(1)));
        else
            std::this_thread::sleep_for(remaining);
    }
}

void arxloadCommand() {
    char path[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nModule file to load: ", path) != RTNORM || !*path) return;
    acrxDynamicLinker->loadModule(path, true);
}

void arxunloadCommand() {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nModule to unload: ", name) != RTNORM || !*name) return;
    acrxDynamicLinker->unloadModule(name, true);
}

// SETVAR: shows a 16-bit system variable and sets it; Enter keeps the value.
void setvarCommand() {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(0, "\nEnter variable name: ", name) != RTNORM || !*name) return;
    resbuf value{};
    if (acedGetVar(name, &value) != RTNORM || value.restype != RTSHORT) {
        acutPrintf("\nUnknown variable name or not a whole-number variable: %s", name);
        return;
    }
    std::string prompt =
        "\nEnter new value for " + std::string(name) + " <" + std::to_string(value.resval.rint) + ">: ";
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, prompt.c_str(), answer) != RTNORM || !*answer) return;
        char* end = nullptr;
        errno = 0;
        long n = std::strtol(answer, &end, 10);
        resbuf changed{};
        changed.restype = RTSHORT;
        changed.resval.rint = static_cast<short>(n);
        if (*end == '\0' && errno == 0 && n >= -32768 && n <= 32767 && acedSetVar(name, &changed) == RTNORM) return;
        acutPrintf("\nValue out of range or not a whole number.");
    }
}

}  // namespace

void registerBuiltinCommands() {
    addHostCommand("QUIT", [] { requestQuit(); });
    addHostCommand("DELAY", delayCommand);
    addHostCommand("ARXLOAD", arxloadCommand);
    addHostCommand("ARXUNLOAD", arxunloadCommand);
    addHostCommand("SETVAR", setvarCommand);
    registerDrawingCommands();
    registerUndoCommands();
    registerMenuCommands();
}

}  // namespace host
