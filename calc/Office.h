// The connection to a LibreOffice process over its UNO bridge: attaching to an
// office that accepts on our named pipe, starting one when none does, noticing the
// bridge's death, bounding every call with a watchdog, and ending an office a
// program here started once the last program using it is gone, on every way out,
// a crash included (calc/reaper/OfficeUsers.h keeps who uses it).
#pragma once

#include "calc/CalcBackend.h"

#include <com/sun/star/frame/XDesktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace calc {

namespace css = ::com::sun::star;

// What went wrong reaching the office, in one line a user can act on.
class OfficeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One bridge to one office. Objects made over an earlier bridge fail once it is
// gone (the office answers nothing more through it); the next attach makes a new one.
class OfficeLink {
public:
    explicit OfficeLink(BackendOptions options);
    ~OfficeLink();
    OfficeLink(const OfficeLink&) = delete;
    OfficeLink& operator=(const OfficeLink&) = delete;

    // Connects to an office accepting on the pipe. False when none does.
    bool attach();
    // Attaches, else starts an office and waits for it to accept. Throws OfficeError.
    void attachOrStart();
    bool isConnected() const;
    // Why no office can be started here (the program is missing); empty when one can.
    std::string missingOffice() const;
    // Increases each time a new bridge is made: objects remember theirs.
    std::uint64_t generation() const { return generation_.load(); }

    // The office's desktop; throws OfficeError when there is no connection.
    css::uno::Reference<css::frame::XDesktop> desktop() const;
    css::uno::Reference<css::uno::XComponentContext> remoteContext() const;

    // Leaves the office: ends it (terminate, then signals to its process group when
    // it does not go) when a program here started it and no other program uses it
    // now, whichever started it; the user's own office keeps running. Drops the
    // bridge. Says in one line (BackendOptions::notify) when it leaves an office
    // running for another program.
    void shutdown();

    // The process that accepts on the pipe for the present connection, or the last
    // one; 0 before the first connection or when it cannot be known.
    pid_t officeProcess() const { return officePid_; }
    // Whether this process started the office of the present connection.
    bool hasStartedOffice() const { return launcher_ > 0; }

    // The watchdog's bound on each call into the office.
    std::chrono::milliseconds callTimeout() const { return std::chrono::milliseconds(options_.callTimeoutMs); }

    // Marks a call into the office for the watchdog. A call still running at its
    // deadline has the bridge disposed under it, which makes it throw; the
    // connection is then gone and the next command makes a new one.
    class CallScope {
    public:
        explicit CallScope(OfficeLink& link);
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

    private:
        OfficeLink& link_;
        std::uint64_t id_;
    };
    // True when the watchdog ended the connection since the last call of this.
    bool takeTimedOut() { return timedOut_.exchange(false); }
    bool timedOut() const { return timedOut_.load(); }

    // Disposes the bridge (which ends every call waiting on it); the next attach
    // makes a new one.
    void dropBridge();

private:
    enum class PipeState { Absent, Accepting, NotAnswering, Unknown };
    // `peer` (when given) is set to the process accepting on the pipe, 0 when unknown.
    PipeState probePipe(pid_t* peer = nullptr) const;
    void connect();
    bool attachHeld();
    void startOffice();
    // An office we launched that did not become ours to use: ended when still there.
    void abandonStart(pid_t group);
    // After a connection is made: this process enters the office's users, and a
    // reaper watches an office a program here started.
    void joined();
    // Ends the office of process group `group`: politely through the connection
    // when there is one, then with signals.
    void endOffice(pid_t group);
    // A reaper for the office of process group `group` (one at a time).
    void watchGroup(pid_t group);
    // Tells the reaper to let go (the office is not its to end now) and waits for it.
    void releaseReaper();
    void notify(const std::string& text) const;
    void watch();
    std::string officeProgram() const;

    // The users' folder's lock for the time of a decision about the office (attach or
    // start, end or leave): taken once however deep the calls nest. Without a
    // folder, or when the lock stays taken past the bound (none unless `waits`), the
    // decision is made alone.
    class UsersHold {
    public:
        explicit UsersHold(OfficeLink& link, bool waits = true);
        ~UsersHold();
        UsersHold(const UsersHold&) = delete;
        UsersHold& operator=(const UsersHold&) = delete;

    private:
        OfficeLink& link_;
    };

    class DisposeListener;

    BackendOptions options_;
    css::uno::Reference<css::uno::XComponentContext> localContext_;
    mutable std::mutex mutex_;
    css::uno::Reference<css::lang::XComponent> bridge_;
    css::uno::Reference<css::uno::XComponentContext> remoteContext_;
    css::uno::Reference<css::frame::XDesktop> desktop_;
    // Cleared when the bridge is disposed, by whoever disposes it.
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<std::uint64_t> generation_{0};

    // The office we started: its launcher's pid (the leader of a process group of
    // its own).
    pid_t launcher_ = -1;
    // The office of the present connection: the process accepting on the pipe, and
    // its process group when a program here started it (-1 for the user's own).
    pid_t officePid_ = 0;
    pid_t officeGroup_ = -1;
    // The reaper that ends officeGroup_ when this process dies and no other user is
    // left, and the group it watches.
    pid_t reaper_ = -1;
    int reaperPipe_ = -1;
    pid_t reaperGroup_ = -1;

    // Who uses the office on the pipe: the folder (-1 when it cannot be had: then an
    // office we start ends with us, as if we were its only user), our entry there
    // (held while we use the office), and the folder's lock while held.
    std::string usersPath_;
    int users_ = -1;
    std::string entryName_;
    int entry_ = -1;
    std::recursive_mutex usersMutex_;
    int usersLock_ = -1;
    int usersDepth_ = 0;

    // The watchdog.
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    std::map<std::uint64_t, std::chrono::steady_clock::time_point> calls_;
    std::uint64_t nextCallId_ = 1;
    bool stopWatching_ = false;
    std::atomic<bool> timedOut_{false};
    std::thread watchdog_;
};

}  // namespace calc
