#include "platform/ui/Shell.h"

#include "platform/LastError.h"

#include <cerrno>
#include <cstdint>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

platform::ProcessOutcome startForReal(const platform::ProcessRequest& request) {
    if (request.argv.empty()) return {ENOENT, 0};
    std::vector<char*> argv;
    for (const std::string& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    if (!request.directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, request.directory.c_str());
#endif
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return {rc, 0};
    if (!request.waitForExit) {
        // Reaped on its own thread so that a started program never lingers as a zombie.
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return {0, 0};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return {0, 0};
    if (WIFEXITED(status)) return {0, WEXITSTATUS(status)};
    return {0, WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1};
}

platform::ProcessStarter& installedStarter() {
    static platform::ProcessStarter starter;
    return starter;
}

platform::ProcessOutcome start(const platform::ProcessRequest& request) {
    const platform::ProcessStarter& s = installedStarter();
    return s ? s(request) : startForReal(request);
}

HINSTANCE asInstance(int code) { return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(code)); }

bool equalsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if ((*a | 0x20) != (*b | 0x20)) return false;
    return *a == *b;
}

}  // namespace

namespace platform {

ProcessStarter setProcessStarter(ProcessStarter starter) {
    ProcessStarter previous = std::move(installedStarter());
    installedStarter() = std::move(starter);
    return previous;
}

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            if (line[i] == '\\') {
                std::size_t slashes = 0;
                while (i < line.size() && line[i] == '\\') ++slashes, ++i;
                if (i < line.size() && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (line[i] == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += line[i++];
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string quoteCommandLineArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) return std::string(argument);
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes count as escapes only before a quotation mark.
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');  // before the closing quotation mark
    out += '"';
    return out;
}

}  // namespace platform

HINSTANCE ShellExecuteA(HWND, const char* operation, const char* file, const char* parameters, const char* directory,
                        int) {
    if (operation && *operation && !equalsIgnoringAsciiCase(operation, "open")) return asInstance(SE_ERR_NOASSOC);
    if (!file || !*file) return asInstance(SE_ERR_FNF);
    platform::ProcessRequest request;
    request.argv = {"xdg-open", file};
    if (parameters)
        for (std::string& p : platform::splitCommandLine(parameters)) request.argv.push_back(std::move(p));
    if (directory) request.directory = directory;
    request.waitForExit = true;
    const platform::ProcessOutcome outcome = start(request);
    switch (outcome.startError) {
    case 0:
        break;
    case ENOENT:
        return asInstance(SE_ERR_NOASSOC);
    case EACCES:
    case EPERM:
        return asInstance(SE_ERR_ACCESSDENIED);
    default:
        return asInstance(SE_ERR_OOM);
    }
    switch (outcome.exitStatus) {
    case 0:
        return asInstance(42);
    case 2:
        return asInstance(SE_ERR_FNF);
    case 3:
        return asInstance(SE_ERR_NOASSOC);
    default:
        return asInstance(SE_ERR_ASSOCINCOMPLETE);
    }
}

UINT WinExec(const char* commandLine, UINT) {
    platform::ProcessRequest request;
    if (commandLine) request.argv = platform::splitCommandLine(commandLine);
    if (request.argv.empty()) return ERROR_FILE_NOT_FOUND;
    const platform::ProcessOutcome outcome = start(request);
    switch (outcome.startError) {
    case 0:
        return 33;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    default:
        return 0;
    }
}
