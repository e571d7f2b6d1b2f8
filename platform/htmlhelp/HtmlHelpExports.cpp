// The HTML help library "hhctrl.ocx": its help function, exported by name and under
// ordinal 14 as callers that load the library by name look it up.
#include "platform/HtmlHelp.h"
#include "platform/Module.h"
#include "platform/htmlhelp/HelpViewer.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace {

// The window handle answered for a shown topic: the viewer has no window of its
// own, but callers tell success from failure by a non-null handle.
HWND shownWindow() {
    static char window;
    return reinterpret_cast<HWND>(&window);
}

const ModuleOrdinal kOrdinals[] = {{HTMLHELP_ORDINAL_ANSI, "HtmlHelpA"}};

}  // namespace

extern "C" __attribute__((visibility("default"))) HWND HtmlHelpA(HWND, const char* file, UINT command, DWORD_PTR data) {
    if (!file || !*file || command != HH_DISPLAY_TOPIC) return nullptr;
    std::string path = file;
    std::string topic;
    // "file.chm::/page.html" names a page of the file.
    if (std::size_t at = path.find("::"); at != std::string::npos) {
        topic = path.substr(at + 2);
        path.resize(at);
    }
    if (data) topic = reinterpret_cast<const char*>(data);
    std::string error;
    std::unique_ptr<hhctrl::ChmArchive> archive = hhctrl::ChmArchive::open(path, error);
    if (archive) {
        if (topic.empty()) topic = archive->defaultTopic();
        if (!topic.empty() && topic[0] != '/') topic.insert(0, "/");
        hhctrl::ViewerEnvironment environment = hhctrl::currentViewerEnvironment();
        if (!topic.empty() && hhctrl::showTopic(*archive, path, topic, environment, stdout, error))
            return shownWindow();
        if (topic.empty()) error = path + " holds no page to show";
    }
    // The library's own report, as its error window would show it.
    std::fprintf(stderr, "HTML Help: %s\n", error.c_str());
    return nullptr;
}

extern "C" __attribute__((visibility("default"))) const ModuleOrdinal* ModuleOrdinals(std::size_t* count) {
    if (count) *count = std::size(kOrdinals);
    return kOrdinals;
}
