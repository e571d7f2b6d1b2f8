// Apartments and marshalled calls: a call from another thread runs on the owner's
// thread when the owner pumps; a gone owner answers RPC_E_DISCONNECTED; events reach
// a sink in another apartment through its queue.
#include "platform/Marshal.h"

#include "platform/Apartment.h"
#include "platform/ComError.h"
#include "platform/ConnectionPointImpl.h"
#include "platform/Event.h"
#include "tests/platform/LeakCheck.h"
#include "tests/platform/TestDispatch.h"

#include <gtest/gtest.h>
#include <atomic>
#include <future>

namespace {

using namespace std::chrono_literals;
using platform::ComPtr;
using platform::Variant;

class MarshalTest : public platform::test::LeakCheckedTest {};

// An interface derived from IDispatch, reached through Invoke (as the link's handler).
struct IHandler : IDispatch {
    using Base = IDispatch;
    static constexpr IID iid{0xBF62E004, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};
};

// A thread in its own apartment that owns one object and pumps when told to.
class OwnerThread {
public:
    explicit OwnerThread(platform::test::InvokeHandler handler) {
        thread_ = std::thread([this, handler = std::move(handler)] {
            platform::ApartmentScope apartment;
            ownerId_ = std::this_thread::get_id();
            {
                auto object = platform::test::makeDispatch(handler, IHandler::iid);
                IStream* stream = nullptr;
                EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IHandler::iid, object.get(), &stream), S_OK);
                streamReady_.set_value(stream);
            }
            while (!stop_) {
                if (shouldPump_)
                    platform::currentApartment()->queue().waitAndPump(2ms);
                else
                    std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~OwnerThread() { end(); }

    IStream* stream() { return streamReady_.get_future().get(); }
    void startPumping() { shouldPump_ = true; }
    void end() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::thread::id id() const { return ownerId_; }

private:
    std::thread thread_;
    std::promise<IStream*> streamReady_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> shouldPump_{false};
    std::thread::id ownerId_;
};

TEST_F(MarshalTest, CallBlocksUntilTheOwnerPumpsAndRunsThere) {
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    OwnerThread owner([&](DISPID dispid, WORD, std::span<const Variant> args, Variant* result, EXCEPINFO*) {
        ranOn = std::this_thread::get_id();
        ran = true;
        if (dispid == 1) *result = Variant::i4(args.size() == 1 ? args[0].lVal() * 2 : -1);
        return S_OK;
    });
    ComPtr<IDispatch> handler;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(owner.stream(), IHandler::iid, handler.putVoid()), S_OK);
    ASSERT_TRUE(platform::isProxy(handler.get()));

    auto call = std::async(std::launch::async, [&] {
        return platform::invoke(handler.get(), 1, DISPATCH_METHOD, {Variant::i4(21)}).lVal();
    });
    EXPECT_EQ(call.wait_for(50ms), std::future_status::timeout) << "the call must wait for the owner's pump";
    EXPECT_FALSE(ran);
    owner.startPumping();
    EXPECT_EQ(call.get(), 42);
    EXPECT_EQ(ranOn, owner.id());
    handler.reset();
    owner.end();
}

TEST_F(MarshalTest, ServerErrorsCrossTheThreadBoundary) {
    OwnerThread owner([](DISPID dispid, WORD, std::span<const Variant>, Variant*, EXCEPINFO* info) {
        if (dispid == 1) {
            info->bstrSource = u"Handler";
            info->bstrDescription = u"not now";
            info->scode = E_ACCESSDENIED;
            return DISP_E_EXCEPTION;
        }
        SetErrorInfo(0, platform::createErrorInfo(u"Handler", u"plain failure").get());
        return E_FAIL;
    });
    owner.startPumping();
    ComPtr<IDispatch> handler;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(owner.stream(), IID_IDispatch, handler.putVoid()), S_OK);
    struct Case {
        DISPID dispid;
        HRESULT code;
        std::u16string description;
    };
    for (const Case& c : {Case{1, E_ACCESSDENIED, u"not now"}, Case{2, E_FAIL, u"plain failure"}}) {
        SCOPED_TRACE(c.dispid);
        try {
            platform::invoke(handler.get(), c.dispid, DISPATCH_METHOD);
            ADD_FAILURE() << "no error";
        } catch (const _com_error& e) {
            EXPECT_EQ(e.Error(), c.code);
            EXPECT_EQ(e.Description(), c.description);
        }
    }
    handler.reset();
    owner.end();
}

TEST_F(MarshalTest, DisconnectedOnceTheOwnerApartmentIsGone) {
    OwnerThread owner([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    ComPtr<IDispatch> handler;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(owner.stream(), IHandler::iid, handler.putVoid()), S_OK);
    // A call already waiting when the owner ends is answered too, not left hanging.
    auto waiting = std::async(std::launch::async, [&] {
        Variant result;
        return handler->Invoke(1, DISPATCH_METHOD, {}, &result, nullptr);
    });
    std::this_thread::sleep_for(20ms);
    owner.end();
    EXPECT_EQ(waiting.get(), RPC_E_DISCONNECTED);
    Variant result;
    EXPECT_EQ(handler->Invoke(1, DISPATCH_METHOD, {}, &result, nullptr), RPC_E_DISCONNECTED);
    // The object itself was released with its apartment; only the proxy is left.
    EXPECT_EQ(platform::liveApartments(), 0u);
    handler.reset();
}

TEST_F(MarshalTest, ProxyAnswersDerivedInterfaceOnlyWhenTheObjectDoes) {
    OwnerThread owner([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    owner.startPumping();
    ComPtr<IDispatch> handler;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(owner.stream(), IID_IDispatch, handler.putVoid()), S_OK);
    EXPECT_TRUE(handler.as<IHandler>());
    EXPECT_FALSE(handler.as<IConnectionPointContainer>());
    handler.reset();
    owner.end();
}

TEST_F(MarshalTest, CallsOnTheOwnersThreadGoStraightThrough) {
    platform::ApartmentScope apartment;
    ASSERT_EQ(apartment.result(), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    int calls = 0;
    auto object = platform::test::makeDispatch([&](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) {
        ++calls;
        return S_OK;
    });
    ComPtr<IDispatch> proxy = platform::marshalDispatch(object.get());
    ASSERT_TRUE(proxy);
    platform::invoke(proxy.get(), 1, DISPATCH_METHOD);
    EXPECT_EQ(calls, 1);  // no pump needed
}

TEST_F(MarshalTest, MarshallingNeedsAnApartment) {
    auto object =
        platform::test::makeDispatch([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    IStream* stream = nullptr;
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object.get(), &stream), CO_E_NOTINITIALIZED);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(platform::currentApartment(), nullptr);
}

TEST_F(MarshalTest, EventsReachASinkInAnotherApartmentThroughItsQueue) {
    constexpr IID eventsIid{0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    constexpr DISPID sheetChange = 0x61C;
    auto source = platform::makeCom<platform::EventSource>(eventsIid);
    auto cell =
        platform::test::makeDispatch([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });

    std::atomic<int> delivered{0};
    std::thread::id deliveredOn;
    std::atomic<bool> advised{false}, pump{false}, stop{false};
    std::thread::id sinkThread;
    DWORD cookie = 0;
    std::thread link([&] {
        platform::ApartmentScope apartment;
        sinkThread = std::this_thread::get_id();
        {
            auto sink = platform::test::makeDispatch(
                [&](DISPID dispid, WORD flags, std::span<const Variant> args, Variant*, EXCEPINFO*) {
                    EXPECT_EQ(dispid, sheetChange);
                    EXPECT_EQ(flags, DISPATCH_METHOD);
                    EXPECT_EQ(args.size(), 2u);
                    if (args.size() == 2) {
                        EXPECT_TRUE(args[1].pdispVal());
                    }
                    deliveredOn = std::this_thread::get_id();
                    ++delivered;
                    return S_OK;
                },
                eventsIid);
            EXPECT_EQ(source->Advise(sink.get(), &cookie), S_OK);
        }
        advised = true;
        while (!stop) {
            if (pump)
                platform::currentApartment()->queue().waitAndPump(2ms);
            else
                std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(source->Unadvise(cookie), S_OK);
    });
    while (!advised) std::this_thread::sleep_for(1ms);

    // Fired from this thread: posted, not run, until the sink's thread pumps.
    source->fire(sheetChange, {Variant::dispatch(cell.get()), Variant::dispatch(cell.get())});
    source->fire(sheetChange, {Variant::dispatch(cell.get()), Variant::dispatch(cell.get())});
    cell.reset();  // the posted calls keep the arguments alive
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(delivered, 0);
    pump = true;
    for (int i = 0; i < 2000 && delivered < 2; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(delivered, 2);
    EXPECT_EQ(deliveredOn, sinkThread);
    stop = true;
    link.join();
    EXPECT_EQ(source->connectionCount(), 0u);
    EXPECT_EQ(source->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST_F(MarshalTest, EventToASinkWhoseApartmentIsGoneIsDropped) {
    constexpr IID eventsIid{0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    auto source = platform::makeCom<platform::EventSource>(eventsIid);
    std::atomic<int> delivered{0};
    std::thread link([&] {
        platform::ApartmentScope apartment;
        auto sink = platform::test::makeDispatch([&](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) {
            ++delivered;
            return S_OK;
        });
        DWORD cookie = 0;
        EXPECT_EQ(source->Advise(sink.get(), &cookie), S_OK);
        // The sink fires at itself: within its own apartment the call is direct.
        source->fire(1, {});
        EXPECT_EQ(delivered, 1);
    });
    link.join();
    source->fire(1, {});  // the sink's apartment has closed: nothing runs, nothing hangs
    EXPECT_EQ(delivered, 1);
    source.reset();
}

}  // namespace
