// The connection to a LibreOffice process over its UNO bridge: attaching to an
// office that accepts on our named pipe, starting one when none does, noticing the
// bridge's death, bounding every call with a watchdog, and ending an office we
// started on every way out of the program, our own crash included.
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

    // Ends an office this process started (terminate, then signals to its process
    // group when it does not go); leaves an attached one running. Drops the bridge.
    void shutdown();

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
    PipeState probePipe() const;
    void connect();
    void startOffice();
    void watch();
    std::string officeProgram() const;

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
    // its own) and the reaper that ends that group when this process dies.
    pid_t launcher_ = -1;
    pid_t reaper_ = -1;
    int reaperPipe_ = -1;

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
