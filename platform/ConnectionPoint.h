// Connection points: how a server sends events to subscribers' sinks.
#pragma once

#include "platform/Unknown.h"

struct IConnectionPoint : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
    // The sink is queried for the event interface (or IDispatch); cookie is never 0.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    // CONNECT_E_NOCONNECTION for an unknown cookie.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
};

struct IConnectionPointContainer : IUnknown {
    using Base = IUnknown;
    static constexpr IID iid{0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
    // CONNECT_E_NOCONNECTION when the container has no point for riid.
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) = 0;
};
