// Shows one topic of a compiled help file: in the desktop's browser when there is a
// desktop (the file's pages unpacked to a cache folder, the browser started through
// the platform's shell-less opener), otherwise as text on the terminal, paged when
// it does not fit the screen and stdout is a terminal; whole into a pipe or file.
#pragma once

#include "platform/htmlhelp/ChmArchive.h"

#include <cstdio>
#include <functional>
#include <string>

namespace hhctrl {

// What the viewer finds around it; currentViewerEnvironment() asks the system.
struct ViewerEnvironment {
    bool hasDesktop = false;  // a display to open a browser on
    bool isTerminal = false;  // the text goes to a terminal
    int columns = 80;
    int rows = 24;
    std::string cacheFolder;  // where pages are unpacked for the browser
    // The next key pressed at the pager's prompt; -1 when none can be read (the
    // rest is then printed whole).
    std::function<int()> readKey;
};

// DISPLAY or WAYLAND_DISPLAY set for a desktop; stdout's terminal and size (LINES
// and COLUMNS when the terminal does not tell); the cache under XDG_CACHE_HOME or
// ~/.cache; keys read from the controlling terminal without echo.
ViewerEnvironment currentViewerEnvironment();

// Shows `topic` ("/index.html") of `archive`, read from `chmPath`. False, with
// `error`, when the topic cannot be read. A browser that cannot be started falls
// back to the text.
bool showTopic(const ChmArchive& archive, const std::string& chmPath, const std::string& topic,
               const ViewerEnvironment& environment, std::FILE* out, std::string& error);

// Writes `text` to `out`, a screenful (rows - 1 lines) at a time while the reader
// gives keys: Space or f the next screen, Enter or j the next line, q or Escape
// ends. Whole when it fits or `environment` is no terminal.
void pageText(const std::string& text, const ViewerEnvironment& environment, std::FILE* out);

// Unpacks every file of `archive` below `folder` (made when missing); the path of
// the unpacked `topic`, or empty with `error`.
std::string unpackForBrowser(const ChmArchive& archive, const std::string& folder, const std::string& topic,
                             std::string& error);

}  // namespace hhctrl
