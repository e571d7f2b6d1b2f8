// Attaching to or starting the office, the bridge, the watchdog and the reaper.
#include "calc/Office.h"

#include "calc/UnoText.h"
#include "calc/reaper/EndGroup.h"
#include "calc/reaper/OfficeUsers.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

extern char** environ;

namespace css = ::com::sun::star;
namespace bridge = css::bridge;
namespace connection = css::connection;
namespace container = css::container;
namespace frame = css::frame;
namespace lang = css::lang;
namespace uno = css::uno;
namespace util = css::util;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

using Clock = std::chrono::steady_clock;

// The reaper program beside this library.
std::string reaperProgram() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&reaperProgram), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    std::size_t slash = path.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/tabcalc-reaper";
}

// The office's process group is ended by a small child process that waits for the
// end of a pipe only we hold: when this process goes, however it goes, the pipe
// closes and the office goes with it, unless another program still uses it (the
// users' folder says; empty for none). The child runs the reaper program (or,
// failing that, the same wait itself); only calls that are safe after fork in a
// threaded process run in it before that.
pid_t startReaper(pid_t officeGroup, const std::string& folder, const std::string& entry, int& pipeOut) {
    const std::string program = reaperProgram();
    const std::string group = std::to_string(officeGroup);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &ignore, nullptr);
        ::sigaction(SIGHUP, &ignore, nullptr);
        ::sigaction(SIGPIPE, &ignore, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // Nothing of the parent's stays open here but the pipe: a caller waiting
        // for the end of our output must not wait for the reaper, and the lock of
        // the parent's users' entry must go when the parent goes.
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        if (fds[0] == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(fds[0], 3);
        for (int fd = 4; fd < 65536; ++fd) ::close(fd);
        if (!program.empty()) {
            char* argv[] = {const_cast<char*>("tabcalc-reaper"), const_cast<char*>(group.c_str()),
                            const_cast<char*>(folder.c_str()), const_cast<char*>(entry.c_str()), nullptr};
            if (folder.empty()) argv[2] = nullptr;
            ::execv(program.c_str(), argv);
        }
        endGroupWhenPipeCloses(3, officeGroup, folder.c_str(), entry.c_str());
        ::_exit(0);
    }
    ::close(fds[0]);
    pipeOut = fds[1];
    return pid;
}

// Whether a process of the group still runs (one that ended but was not waited for
// yet counts as ended).
bool isGroupRunning(pid_t group) {
    if (group <= 1) return false;
    if (::kill(-group, 0) != 0 && errno == ESRCH) return false;
    DIR* proc = ::opendir("/proc");
    if (!proc) return true;
    bool running = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // pid (name) state ppid pgrp ...: the name may hold anything, so the fields
        // are read after its last parenthesis.
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0, pgrp = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &parent, &pgrp) == 3 && pgrp == group &&
            state != 'Z' && state != 'X') {
            running = true;
            break;
        }
    }
    ::closedir(proc);
    return running;
}

// The program a process runs, by its name; "program" when it cannot be read.
std::string programName(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? std::string("program") : name;
}

bool waitForExit(pid_t pid, std::chrono::milliseconds limit, int* status = nullptr) {
    auto end = Clock::now() + limit;
    for (;;) {
        int s = 0;
        pid_t r = ::waitpid(pid, &s, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            if (status) *status = s;
            return true;
        }
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

// Tells the link when its bridge is gone: the office ended, crashed, or the
// watchdog cut a call. It outlives neither the bridge nor the state it sets.
class OfficeLink::DisposeListener : public cppu::WeakImplHelper1<lang::XEventListener> {
public:
    explicit DisposeListener(std::shared_ptr<std::atomic<bool>> alive) : alive_(std::move(alive)) {}
    void SAL_CALL disposing(const lang::EventObject&) override { alive_->store(false); }

private:
    std::shared_ptr<std::atomic<bool>> alive_;
};

OfficeLink::OfficeLink(BackendOptions options) : options_(std::move(options)) {
    // The bridge writes to a socket whose other end dies with the office; that must
    // fail the call, not end this process.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
    // Without the installation's bootstrap file the local type manager knows only the
    // base types, and the first office call crashes instead of throwing.
    ::setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" TABLORA_LIBREOFFICE_DIR "/program/fundamentalrc", 0);
    try {
        localContext_ = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const uno::Exception& e) {
        throw OfficeError("LibreOffice's runtime could not be started: " + toUtf8(e.Message));
    }
    // Each connection of this process to the pipe's office is a user of its own.
    static std::atomic<unsigned> connections{0};
    char name[users::kNameSize];
    users::entryName(name, ::getpid(), connections++);
    entryName_ = name;
    usersPath_ = users::folderFor(options_.pipeName);
    users_ = users::openFolder(usersPath_.c_str(), true);
    if (users_ < 0)
        notify("LibreOffice's users cannot be kept in " + usersPath_ + " (" + std::strerror(errno) +
               "): an office started here ends with this program");
    watchdog_ = std::thread([this] { watch(); });
}

OfficeLink::~OfficeLink() {
    shutdown();
    {
        std::lock_guard lock(watchMutex_);
        stopWatching_ = true;
    }
    watchWake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    if (users_ >= 0) ::close(users_);
    // The local context goes last, after every remote reference.
    Reference<lang::XComponent> local(localContext_, UNO_QUERY);
    localContext_.clear();
    if (local.is()) local->dispose();
}

OfficeLink::UsersHold::UsersHold(OfficeLink& link, bool waits) : link_(link) {
    link_.usersMutex_.lock();
    if (link_.usersDepth_++ == 0 && link_.users_ >= 0) {
        // The longest a decision takes: another program starting an office, or
        // waiting for one to end.
        const int limit =
            waits ? static_cast<int>(link_.options_.startTimeoutMs + link_.options_.callTimeoutMs) + 20000 : 0;
        link_.usersLock_ = users::lockFolder(link_.users_, limit);
        if (link_.usersLock_ < 0 && errno == ENOENT && waits) {
            // Its last user removed the folder: it is made anew for a decision.
            int again = users::openFolder(link_.usersPath_.c_str(), true);
            if (again >= 0) {
                ::close(link_.users_);
                link_.users_ = again;
                link_.usersLock_ = users::lockFolder(link_.users_, limit);
            }
        }
    }
}

OfficeLink::UsersHold::~UsersHold() {
    if (--link_.usersDepth_ == 0 && link_.usersLock_ >= 0) {
        ::close(link_.usersLock_);
        link_.usersLock_ = -1;
    }
    link_.usersMutex_.unlock();
}

void OfficeLink::notify(const std::string& text) const {
    if (!options_.notify) return;
    try {
        options_.notify(text);
    } catch (...) {
        // Telling is not worth failing the call that told.
    }
}

bool OfficeLink::attach() {
    if (isConnected()) return true;
    UsersHold hold(*this);
    if (!attachHeld()) return false;
    joined();
    return true;
}

bool OfficeLink::attachHeld() {
    dropBridge();
    try {
        connect();
        return true;
    } catch (const connection::NoConnectException&) {
        return false;
    } catch (const OfficeError&) {
        // An office that accepts but dies on the first call is going away: then
        // the pipe is free soon, and one is started. One that stays there without
        // answering is hung, and a second office could not take the pipe from it.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (PipeState now = probePipe(); now == PipeState::Absent || now == PipeState::Unknown) return false;
        throw;
    }
}

// The socket the office's pipe is (the office's runtime names it so). Asked before
// the office's connector is used, because that one waits without limit for an
// office that no longer takes connections (one that is stopped, with its queue of
// pending connections full).
OfficeLink::PipeState OfficeLink::probePipe(pid_t* peer) const {
    if (peer) *peer = 0;
    const std::string path = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + options_.pipeName;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return PipeState::Absent;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    auto deadline = Clock::now() + std::min(callTimeout(), std::chrono::milliseconds(3000));
    for (;;) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return PipeState::Accepting;  // let the connector find out
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int error = rc == 0 ? 0 : errno;
        if (rc == 0 && peer) {
            // The process that listens on the socket: the office, which tells one
            // office on the pipe from the next.
            ucred credentials{};
            socklen_t size = sizeof credentials;
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) *peer = credentials.pid;
        }
        ::close(fd);
        if (rc == 0) return PipeState::Accepting;
        // No socket where the runtime usually makes it: the connector knows best.
        if (error == ENOENT) return PipeState::Unknown;
        if (error == ECONNREFUSED) return PipeState::Absent;
        if (error != EAGAIN || Clock::now() >= deadline) return PipeState::NotAnswering;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void OfficeLink::connect() {
    pid_t peer = 0;
    switch (probePipe(&peer)) {
    case PipeState::Absent:
        throw connection::NoConnectException("no office on the pipe");
    case PipeState::NotAnswering:
        throw OfficeError("LibreOffice on pipe '" + options_.pipeName + "' does not take connections (it hangs)");
    case PipeState::Accepting:
    case PipeState::Unknown:
        break;
    }
    auto connector = connection::Connector::create(localContext_);
    Reference<connection::XConnection> connection = connector->connect(toOUString("pipe,name=" + options_.pipeName));
    auto factory = bridge::BridgeFactory::create(localContext_);
    Reference<bridge::XBridge> bridge = factory->createBridge(OUString(), "urp", connection, nullptr);
    Reference<lang::XComponent> component(bridge, UNO_QUERY_THROW);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    component->addEventListener(new DisposeListener(alive));
    {
        std::lock_guard lock(mutex_);
        bridge_ = component;
    }
    try {
        CallScope call(*this);
        Reference<uno::XComponentContext> remote(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        Reference<frame::XDesktop> desktop(frame::Desktop::create(remote), UNO_QUERY_THROW);
        std::lock_guard lock(mutex_);
        remoteContext_ = remote;
        desktop_ = desktop;
        alive_ = alive;
    } catch (const uno::Exception& e) {
        dropBridge();
        // The watchdog cut the call: the bridge's own words for that name its source.
        if (takeTimedOut())
            throw OfficeError("LibreOffice did not answer within " + std::to_string(options_.callTimeoutMs / 1000) +
                              " s");
        throw OfficeError("LibreOffice on pipe '" + options_.pipeName + "' did not answer: " + toUtf8(e.Message));
    }
    officePid_ = peer;
    ++generation_;
}

bool OfficeLink::isConnected() const {
    std::lock_guard lock(mutex_);
    return alive_ && alive_->load();
}

void OfficeLink::attachOrStart() {
    if (isConnected()) return;
    UsersHold hold(*this);
    if (!attachHeld()) startOffice();
    joined();
}

void OfficeLink::joined() {
    // The office we launched before and lost is waited for.
    if (launcher_ > 0 && waitForExit(launcher_, std::chrono::milliseconds(0))) launcher_ = -1;
    const pid_t group = officePid_ > 0 ? ::getpgid(officePid_) : -1;
    pid_t used = -1;
    if (launcher_ > 0 && (group == launcher_ || group <= 0)) {
        used = launcher_;
    } else if (users_ >= 0 && group > 1) {
        // Another program's office is recorded with its group; an office of no
        // record is the user's own.
        const long recorded = users::startedGroup(users_);
        if (recorded == group)
            used = group;
        else if (recorded > 0 && !isGroupRunning(static_cast<pid_t>(recorded)))
            users::forgetStarted(users_, recorded);
    }
    officeGroup_ = used;
    if (users_ >= 0) {
        if (entry_ < 0) entry_ = users::join(users_, entryName_.c_str());
        if (entry_ >= 0) users::setUsedGroup(entry_, used);
    }
    if (used > 0)
        watchGroup(used);
    else
        releaseReaper();
}

void OfficeLink::watchGroup(pid_t group) {
    if (reaperPipe_ >= 0 && reaperGroup_ == group) return;
    releaseReaper();
    const bool hasUsers = users_ >= 0;
    reaper_ = startReaper(group, hasUsers ? usersPath_ : std::string(),
                          hasUsers && entry_ >= 0 ? entryName_ : std::string(), reaperPipe_);
    reaperGroup_ = reaper_ > 0 ? group : -1;
}

void OfficeLink::releaseReaper() {
    if (reaperPipe_ >= 0) {
        const char letGo = 1;
        ssize_t written = ::write(reaperPipe_, &letGo, 1);
        (void)written;  // a reaper that is gone already has nothing to let go of
        ::close(reaperPipe_);
        reaperPipe_ = -1;
    }
    if (reaper_ > 0) {
        waitForExit(reaper_, std::chrono::seconds(5));
        reaper_ = -1;
    }
    reaperGroup_ = -1;
}

std::string OfficeLink::missingOffice() const {
    const std::string program = officeProgram();
    if (::access(program.c_str(), X_OK) == 0) return {};
    return "LibreOffice is not installed here (" + program + " is missing); install libreoffice-calc";
}

std::string OfficeLink::officeProgram() const {
    return options_.officeProgram.empty() ? std::string(TABLORA_LIBREOFFICE_DIR "/program/soffice")
                                          : options_.officeProgram;
}

void OfficeLink::startOffice() {
    const std::string program = officeProgram();
    if (std::string missing = missingOffice(); !missing.empty()) throw OfficeError(missing);

    std::vector<std::string> args{program};
    if (options_.isHeadless) args.insert(args.end(), {"--headless", "--invisible"});
    args.insert(args.end(), {"--nologo", "--norestore", "--nodefault", "--nolockcheck",
                             "--accept=pipe,name=" + options_.pipeName + ";urp;StarOffice.ComponentContext"});
    std::string log = "/dev/null";
    if (options_.isHeadless && !options_.homeFolder.empty()) {
        // A private profile: the user's own office (and its profile) stays out of it.
        ::mkdir(options_.homeFolder.c_str(), 0700);
        args.push_back("-env:UserInstallation=" + fileUrl(options_.homeFolder + "/calc-profile"));
        log = options_.homeFolder + "/calc-office.log";
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The office gets our environment without our bootstrap setting, which names
    // the installation's file for our side of the bridge only.
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) != 0) envp.push_back(*e);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A process group of its own: Ctrl+C at our terminal is not for the office, and
    // the reaper ends the office's processes together.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw OfficeError("LibreOffice could not be started (" + program + "): " + std::strerror(rc));
    // The launcher of an office of ours that went away is waited for first.
    if (launcher_ > 0) waitForExit(launcher_, std::chrono::milliseconds(0));
    launcher_ = pid;
    // Recorded as started here, and used by us, before anyone else can attach to it
    // (they wait for the users' lock we hold); the reaper ends it if we die now.
    if (users_ >= 0) {
        users::recordStarted(users_, pid);
        if (entry_ < 0) entry_ = users::join(users_, entryName_.c_str());
        if (entry_ >= 0) users::setUsedGroup(entry_, pid);
    }
    watchGroup(pid);

    auto deadline = Clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    bool handedOver = false;
    for (;;) {
        try {
            connect();
            break;
        } catch (const connection::NoConnectException&) {
        } catch (const OfficeError& e) {
            // An office that took our arguments over but does not answer is hung:
            // waiting longer would not help. Otherwise the pipe's previous office
            // is still going away, and ours comes next.
            if (handedOver) throw;
        }
        int status = 0;
        if (!handedOver && launcher_ > 0 && ::waitpid(launcher_, &status, WNOHANG) == launcher_) {
            launcher_ = -1;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                abandonStart(pid);
                throw OfficeError("LibreOffice ended while starting (status " +
                                  std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
                                  ")" + (log == "/dev/null" ? std::string() : "; see " + log));
            }
            // An office of that profile already ran and took our arguments: it is
            // the user's, not ours to end.
            handedOver = true;
            abandonStart(pid);
        }
        if (Clock::now() >= deadline) {
            abandonStart(pid);
            throw OfficeError("LibreOffice did not accept a connection on pipe '" + options_.pipeName + "' within " +
                              std::to_string(options_.startTimeoutMs / 1000) + " s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

Reference<frame::XDesktop> OfficeLink::desktop() const {
    std::lock_guard lock(mutex_);
    if (!desktop_.is() || !alive_ || !alive_->load()) throw OfficeError("The connection to LibreOffice is gone");
    return desktop_;
}

Reference<uno::XComponentContext> OfficeLink::remoteContext() const {
    std::lock_guard lock(mutex_);
    if (!remoteContext_.is() || !alive_ || !alive_->load()) throw OfficeError("The connection to LibreOffice is gone");
    return remoteContext_;
}

void OfficeLink::dropBridge() {
    Reference<lang::XComponent> bridge;
    {
        std::lock_guard lock(mutex_);
        desktop_.clear();
        remoteContext_.clear();
        bridge = std::move(bridge_);
        bridge_.clear();
        if (alive_) alive_->store(false);
        alive_.reset();
    }
    if (bridge.is()) {
        try {
            bridge->dispose();
        } catch (const uno::Exception&) {
        }
    }
}

void OfficeLink::abandonStart(pid_t group) {
    dropBridge();
    if (launcher_ == group) endOffice(group);
    releaseReaper();
    if (users_ >= 0) users::forgetStarted(users_, group);
    if (officeGroup_ == group) officeGroup_ = -1;
}

void OfficeLink::endOffice(pid_t group) {
    if (officeGroup_ == group && isConnected()) {
        try {
            CallScope call(*this);
            auto desktop = this->desktop();
            // A windowed office asks about unsaved documents on terminate and waits
            // for an answer nobody gives; what was ours to keep is stored already,
            // and no other program uses the office any more.
            Reference<container::XEnumerationAccess> components(desktop->getComponents(), UNO_QUERY);
            if (!options_.isHeadless && components.is()) {
                auto all = components->createEnumeration();
                while (all->hasMoreElements()) {
                    Reference<util::XModifiable> doc(all->nextElement(), UNO_QUERY);
                    if (doc.is()) doc->setModified(false);
                }
            }
            desktop->terminate();
        } catch (const uno::Exception&) {
            // The bridge going away as the office ends is the expected answer.
        } catch (const OfficeError&) {
        }
    }
    dropBridge();
    // The launcher is ours to wait for when we started the office; another
    // program's office is gone when nothing of its group runs.
    auto isGone = [&](std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        for (;;) {
            if (launcher_ == group && waitForExit(launcher_, std::chrono::milliseconds(0))) launcher_ = -1;
            if (launcher_ != group && !isGroupRunning(group)) return true;
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };
    if (!isGone(std::chrono::seconds(10))) {
        ::kill(-group, SIGTERM);
        if (!isGone(std::chrono::seconds(3))) {
            ::kill(-group, SIGKILL);
            isGone(std::chrono::seconds(3));
        }
    }
    if (users_ >= 0) users::forgetStarted(users_, group);
}

void OfficeLink::shutdown() {
    // A program that never used an office decides nothing about one: it only tidies
    // up the folder when nobody else is deciding.
    const bool hasUsed = entry_ >= 0 || officeGroup_ > 0 || launcher_ > 0 || reaper_ > 0;
    UsersHold hold(*this, hasUsed);
    const pid_t group = officeGroup_;
    if (group > 0 && (isConnected() || isGroupRunning(group))) {
        // Users of the same office but us, those of dead programs forgotten on the way.
        long other = 0;
        const int others = users_ >= 0 ? users::live(users_, entryName_.c_str(), group, &other, 1) : 0;
        if (others > 0)
            notify("LibreOffice keeps running: another " + programName(other) + " (pid " + std::to_string(other) +
                   ") uses it");
        else
            endOffice(group);
    } else if (group > 0 && users_ >= 0) {
        users::forgetStarted(users_, group);
    }
    dropBridge();
    // An office we launched that keeps running for others is theirs now: its
    // launcher is not waited for.
    if (launcher_ > 0) waitForExit(launcher_, std::chrono::milliseconds(0));
    launcher_ = -1;
    releaseReaper();
    if (entry_ >= 0) {
        users::leave(users_, entryName_.c_str(), entry_);
        entry_ = -1;
    }
    officeGroup_ = -1;
    if (usersLock_ >= 0) users::removeIfUnused(users_, usersPath_.c_str());
}

OfficeLink::CallScope::CallScope(OfficeLink& link) : link_(link) {
    std::lock_guard lock(link_.watchMutex_);
    id_ = link_.nextCallId_++;
    link_.calls_.emplace(id_, Clock::now() + link_.callTimeout());
    link_.watchWake_.notify_all();
}

OfficeLink::CallScope::~CallScope() {
    std::lock_guard lock(link_.watchMutex_);
    link_.calls_.erase(id_);
}

void OfficeLink::watch() {
    std::unique_lock lock(watchMutex_);
    while (!stopWatching_) {
        if (calls_.empty()) {
            watchWake_.wait(lock);
            continue;
        }
        auto earliest = Clock::time_point::max();
        for (const auto& [id, deadline] : calls_) earliest = std::min(earliest, deadline);
        if (Clock::now() < earliest) {
            watchWake_.wait_until(lock, earliest);
            continue;
        }
        // A call overran: the office hangs or shows a dialog nobody answers. Every
        // call waiting on this bridge fails with it.
        calls_.clear();
        timedOut_ = true;
        Reference<lang::XComponent> bridge;
        {
            std::lock_guard linkLock(mutex_);
            bridge = bridge_;
            if (alive_) alive_->store(false);
        }
        lock.unlock();
        if (bridge.is()) {
            try {
                bridge->dispose();
            } catch (const uno::Exception&) {
            }
        }
        lock.lock();
    }
}

}  // namespace calc
