// Showing a topic: browser or terminal, and the pager.
#include "platform/htmlhelp/HelpViewer.h"

#include "platform/File.h"
#include "platform/htmlhelp/HtmlText.h"
#include "platform/ui/Shell.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace hhctrl {
namespace {

int positiveEnv(const char* name, int otherwise) {
    const char* value = std::getenv(name);
    if (!value || !*value) return otherwise;
    char* end = nullptr;
    long n = std::strtol(value, &end, 10);
    return *end == '\0' && n > 0 && n < 10000 ? static_cast<int>(n) : otherwise;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// One key from the controlling terminal, without waiting for Enter and without
// echo; the terminal's settings are back as they were however this returns.
int readTerminalKey() {
    int fd = ::open("/dev/tty", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    termios saved{};
    bool isRaw = false;
    if (::tcgetattr(fd, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        isRaw = ::tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    unsigned char key = 0;
    ssize_t n;
    do n = ::read(fd, &key, 1);
    while (n < 0 && errno == EINTR);
    if (isRaw) ::tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return n == 1 ? key : -1;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

ViewerEnvironment currentViewerEnvironment() {
    ViewerEnvironment env;
    env.hasDesktop = isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
    env.isTerminal = ::isatty(STDOUT_FILENO) != 0;
    env.columns = positiveEnv("COLUMNS", 80);
    env.rows = positiveEnv("LINES", 24);
    winsize size{};
    if (env.isTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        env.rows = size.ws_row;
        env.columns = size.ws_col;
    }
    if (isSet("XDG_CACHE_HOME"))
        env.cacheFolder = std::string(std::getenv("XDG_CACHE_HOME")) + "/hhctrl";
    else if (isSet("HOME"))
        env.cacheFolder = std::string(std::getenv("HOME")) + "/.cache/hhctrl";
    env.readKey = readTerminalKey;
    return env;
}

void pageText(const std::string& text, const ViewerEnvironment& environment, std::FILE* out) {
    std::vector<std::string> lines = splitLines(text);
    const std::size_t screen = static_cast<std::size_t>(std::max(environment.rows - 1, 1));
    auto put = [out](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    };
    if (!environment.isTerminal || !environment.readKey || lines.size() <= screen) {
        for (const std::string& line : lines) put(line);
        std::fflush(out);
        return;
    }
    std::size_t shown = 0;
    std::size_t next = screen;
    while (shown < lines.size()) {
        while (shown < next && shown < lines.size()) put(lines[shown++]);
        if (shown >= lines.size()) break;
        std::fprintf(out, "-- More (%zu%%) -- Space: next page, Enter: next line, q: quit ",
                     shown * 100 / lines.size());
        std::fflush(out);
        int key = environment.readKey();
        // Clears the prompt's line before whatever comes next.
        std::fputs("\r\033[K", out);
        if (key < 0) {
            next = lines.size();  // no keys to be had: the rest whole
        } else if (key == ' ' || key == 'f') {
            next = shown + screen;
        } else if (key == '\n' || key == '\r' || key == 'j') {
            next = shown + 1;
        } else if (key == 'q' || key == 'Q' || key == 27 || key == 3) {
            break;
        } else {
            next = shown;  // any other key asks again
        }
    }
    std::fflush(out);
}

std::string unpackForBrowser(const ChmArchive& archive, const std::string& folder, const std::string& topic,
                             std::string& error) {
    if (folder.empty()) {
        error = "there is no cache folder to unpack the help pages to";
        return {};
    }
    std::string topicPath;
    for (const std::string& path : archive.files()) {
        std::optional<std::string> relative = safeRelativePath(path);
        std::optional<std::string> bytes = archive.read(path);
        if (!relative || !bytes) continue;
        std::string target = folder + "/" + *relative;
        std::size_t slash = target.find_last_of('/');
        if (platform::FileStatus made = platform::createFolders(target.substr(0, slash)); !made) {
            error = made.error().message();
            return {};
        }
        if (platform::FileStatus written = platform::writeFileAtomically(target, *bytes); !written) {
            error = written.error().message();
            return {};
        }
        if (path == topic) topicPath = target;
    }
    if (topicPath.empty()) error = "the help file holds no page " + topic;
    return topicPath;
}

bool showTopic(const ChmArchive& archive, const std::string& chmPath, const std::string& topic,
               const ViewerEnvironment& environment, std::FILE* out, std::string& error) {
    std::optional<std::string> page = archive.read(topic);
    if (!page) {
        error = chmPath + " holds no page " + topic;
        return false;
    }
    if (environment.hasDesktop) {
        // Each help file gets a folder of its own, so that two files' pages of the
        // same name do not overwrite each other.
        std::string name = chmPath.substr(chmPath.find_last_of('/') + 1);
        std::string unpackError;
        std::string target = unpackForBrowser(archive, environment.cacheFolder + "/" + name, topic, unpackError);
        if (!target.empty()) {
            auto result = reinterpret_cast<std::intptr_t>(
                ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
            if (result > 32) return true;
        }
    }
    // The caller's prompt and echo may still stand on the current line.
    std::fputc('\n', out);
    pageText(htmlToText(*page, environment.columns > 1 ? environment.columns - 1 : 79), environment, out);
    return true;
}

}  // namespace hhctrl
