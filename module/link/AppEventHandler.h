// The live link's automation object: subscribes to the spreadsheet application's
// events and, for every changed worksheet cell, queues where the change happened.
// It lives in the link thread's apartment; the main thread reaches it only through
// a marshalled IAppEventHandler, whose Enable and Disable therefore also run there.
#pragma once

#include "module/spreadsheet/Automation.h"
#include "platform/Dispatch.h"
#include "platform/TypeLib.h"
#include "platform/Unknown.h"

namespace tabro {

constexpr CLSID CLSID_AppEventHandler{0xBF62E005, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
constexpr GUID LIBID_TabroLib{0x1867BCA3, 0xEA1B, 0x11D3, {0xBA, 0x98, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
constexpr WORD kTabroLibMajor = 1;
constexpr WORD kTabroLibMinor = 0;
constexpr LCID kTabroLibLcid = 0x0409;

// The spreadsheet application's class and its application events.
constexpr CLSID CLSID_SpreadsheetApplication{0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID DIID_AppEvents{0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID kDispidSheetChange = 0x61C;

struct IAppEventHandler : IDispatch {
    using Base = IDispatch;
    static constexpr IID iid{0xBF62E004, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
    // Subscribes to the running application's events; its failure code when none runs.
    virtual HRESULT Enable() = 0;
    // Ends the subscription; S_OK always.
    virtual HRESULT Disable() = 0;
};
constexpr IID IID_IAppEventHandler = IAppEventHandler::iid;
constexpr DISPID kDispidEnable = 1;
constexpr DISPID kDispidDisable = 2;

// One per link thread, created and used by that thread alone, so its reference count
// needs no interlocking. Both interfaces (its own and the event sink handed to the
// application's connection point) share that one count.
class AppEventHandler final : public IAppEventHandler, private platform::IDescribedMethods {
public:
    static constexpr DWORD kNotSubscribed = 0xFEFEFEFE;

    // A new object holding no reference yet (the creator takes the first).
    static AppEventHandler* create();

    AppEventHandler(const AppEventHandler&) = delete;
    AppEventHandler& operator=(const AppEventHandler&) = delete;

    // IUnknown, IAppEventHandler and IDispatch; nothing else.
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Served from the module's type library (loaded on first use and kept).
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, const std::u16string* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID dispid, WORD flags, std::span<const platform::Variant> args, platform::Variant* result,
                   EXCEPINFO* excepInfo) override;

    HRESULT Enable() override;
    HRESULT Disable() override;

    // The sink given to the application's connection point; its references are
    // this object's.
    IDispatch* eventSink() noexcept { return &sink_; }
    // The subscription as it stands: the cookie (kNotSubscribed when none) and the
    // application held.
    DWORD subscriptionCookie() const noexcept { return eventCookie; }
    IDispatch* subscribedApplication() const noexcept { return excelApp.get(); }

private:
    // The plain dispatch interface of the application's events.
    class EventSink final : public IDispatch {
    public:
        explicit EventSink(AppEventHandler& owner) : owner_(owner) {}
        HRESULT QueryInterface(REFIID riid, void** object) override;
        ULONG AddRef() override { return owner_.AddRef(); }
        ULONG Release() override { return owner_.Release(); }
        HRESULT GetTypeInfoCount(UINT* count) override;
        HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
        HRESULT GetIDsOfNames(REFIID riid, const std::u16string* names, UINT count, LCID lcid, DISPID* ids) override;
        // S_OK whatever comes; acts on SheetChange only.
        HRESULT Invoke(DISPID dispid, WORD flags, std::span<const platform::Variant> args, platform::Variant* result,
                       EXCEPINFO* excepInfo) override;

    private:
        AppEventHandler& owner_;
    };

    AppEventHandler();
    ~AppEventHandler();

    HRESULT callDescribedMethod(UINT methodIndex, std::span<const platform::Variant> args,
                                platform::Variant* result) override;
    void onSheetChange(IDispatch* sheet, IDispatch* target);

    EventSink sink_{*this};
    DWORD eventCookie = kNotSubscribed;
    LONG refCount = 0;
    DispatchPtr excelApp;
};

}  // namespace tabro
