// The server's side of connection points: an event source that keeps its
// subscribers' sinks and fires events at them, each in the sink's own apartment.
#pragma once

#include "platform/Apartment.h"
#include "platform/ConnectionPoint.h"
#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// One connection point for one event interface. Advise, Unadvise and fire may be
// called from any thread.
//
// Advise queries the sink for the event interface (else IDispatch;
// CONNECT_E_CANNOTCONNECT when it has neither) and remembers the apartment of the
// calling thread as the sink's home. fire() calls a sink's Invoke at once when the
// caller is in the sink's apartment (or the sink has none), and otherwise posts the
// call to the sink's apartment queue and returns without waiting, as events from an
// out-of-process server arrive. A sink whose apartment is gone is skipped. Sinks are
// released on their own apartment's thread.
class EventSource : public ComObject<IConnectionPoint> {
public:
    explicit EventSource(const IID& eventIid) : eventIid_(eventIid) {}

    const IID& eventIid() const noexcept { return eventIid_; }

    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;

    // Delivers the event to every sink advised when fire was called. The HRESULTs
    // of direct calls are ignored, as a server ignores its subscribers' answers.
    void fire(DISPID dispid, std::vector<Variant> args);
    std::size_t connectionCount() const;

protected:
    ~EventSource() override;

private:
    struct Connection {
        DWORD cookie;
        ComPtr<IDispatch> sink;  // a proxy owned by the sink's apartment, or the sink itself
        bool isMarshalled;
        std::thread::id home;  // the sink's apartment thread when marshalled
    };
    IID eventIid_;
    mutable std::mutex mutex_;
    std::vector<Connection> connections_;
    DWORD nextCookie_ = 1;
};

// A server's set of connection points, to answer
// IConnectionPointContainer::FindConnectionPoint by delegation.
class ConnectionPoints {
public:
    // Adds (and returns) a point for eventIid.
    ComPtr<EventSource> add(const IID& eventIid);
    // CONNECT_E_NOCONNECTION for an interface without a point; E_POINTER for null.
    HRESULT find(REFIID riid, IConnectionPoint** point) const;
    // Null when there is no point for eventIid.
    EventSource* get(const IID& eventIid) const;

private:
    std::vector<ComPtr<EventSource>> points_;
};

}  // namespace platform
