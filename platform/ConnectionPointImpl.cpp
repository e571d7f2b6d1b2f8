// Event sources: subscribers' sinks, each called in its own apartment.
#include "platform/ConnectionPointImpl.h"

#include "platform/Marshal.h"

namespace platform {

EventSource::~EventSource() = default;

HRESULT EventSource::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(eventIid_, dispatch.putVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.putVoid())))
        return CONNECT_E_CANNOTCONNECT;
    // The sink lives in the apartment that subscribes it; calls from elsewhere go
    // through that apartment's queue.
    Connection connection{0, dispatch, false, {}};
    if (Apartment* home = currentApartment()) {
        ComPtr<IDispatch> proxy;
        if (SUCCEEDED(marshalDispatch(dispatch.get(), IID_IDispatch, proxy))) {
            connection.sink = std::move(proxy);
            connection.isMarshalled = true;
            connection.home = home->thread();
        }
    }
    std::lock_guard lock(mutex_);
    connection.cookie = nextCookie_++;
    if (nextCookie_ == 0) nextCookie_ = 1;
    *cookie = connection.cookie;
    connections_.push_back(std::move(connection));
    return S_OK;
}

HRESULT EventSource::Unadvise(DWORD cookie) {
    ComPtr<IDispatch> sink;  // released outside the lock
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->cookie == cookie) {
            sink = std::move(it->sink);
            connections_.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

void EventSource::fire(DISPID dispid, std::vector<Variant> args) {
    std::vector<Connection> targets;
    {
        std::lock_guard lock(mutex_);
        targets = connections_;
    }
    // Sinks are called outside the lock: a sink may unsubscribe from its own event.
    for (auto& target : targets) {
        bool isDirect = !target.isMarshalled || target.home == std::this_thread::get_id();
        if (isDirect) {
            Variant ignored;
            EXCEPINFO excepInfo;
            target.sink->Invoke(dispid, DISPATCH_METHOD, args, &ignored, &excepInfo);
        } else {
            // Each posted call keeps its own copy of the arguments until it has run.
            postInvoke(target.sink.get(), dispid, DISPATCH_METHOD, args);
        }
    }
}

std::size_t EventSource::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

ComPtr<EventSource> ConnectionPoints::add(const IID& eventIid) {
    auto point = makeCom<EventSource>(eventIid);
    points_.push_back(point);
    return point;
}

HRESULT ConnectionPoints::find(REFIID riid, IConnectionPoint** point) const {
    if (!point) return E_POINTER;
    *point = nullptr;
    EventSource* found = get(riid);
    if (!found) return CONNECT_E_NOCONNECTION;
    found->AddRef();
    *point = found;
    return S_OK;
}

EventSource* ConnectionPoints::get(const IID& eventIid) const {
    for (auto& p : points_)
        if (p->eventIid() == eventIid) return p.get();
    return nullptr;
}

}  // namespace platform
