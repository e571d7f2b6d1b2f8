// The failure hook: the chosen call of a member fails as the application's own
// failures come back and changes nothing, other calls run as usual, and the hook
// counts and logs calls made from several threads at once.
#include "SheetTestSupport.h"

#include "automation/InvokeHook.h"

#include <atomic>
#include <filesystem>
#include <thread>

namespace sheet::test {
namespace {

using automation::testing::InvokeFault;
using automation::testing::LoggedCall;
using automation::testing::ScopedInvokeFault;
using automation::testing::ScopedInvokeLog;

class InvokeFaultTest : public SheetTest {
protected:
    ComPtr<IDispatch> activeBook() { return getObject(app.get(), id::ActiveWorkbook); }
    LONG bookCount() { return call(getObject(app.get(), id::Workbooks).get(), id::Count, DISPATCH_PROPERTYGET).lVal(); }
};

TEST_F(InvokeFaultTest, OnlyTheNthMatchingCallFailsAndOnlyOnTheNamedClass) {
    auto sheet = newSheet();
    auto book = activeBook();
    // Name is a member of the workbook and of the worksheet; the fault names one.
    struct Case {
        const char* what;
        std::optional<ObjectClass> on;
        int nth;
        std::vector<HRESULT> expected;  // book, sheet, book, sheet, book, sheet
    } cases[] = {
        {"the second call on worksheets", ObjectClass::Worksheet, 2, {S_OK, S_OK, S_OK, E_ACCESSDENIED, S_OK, S_OK}},
        {"the first call on workbooks", ObjectClass::Workbook, 1, {E_ACCESSDENIED, S_OK, S_OK, S_OK, S_OK, S_OK}},
        {"the third call on any class", std::nullopt, 3, {S_OK, S_OK, E_ACCESSDENIED, S_OK, S_OK, S_OK}},
        {"a call that never comes", ObjectClass::Worksheet, 4, {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        InvokeFault wanted = InvokeFault(id::Name, E_ACCESSDENIED).atCall(k.nth);
        if (k.on) wanted.on(*k.on);
        ScopedInvokeFault fault(wanted);
        for (std::size_t i = 0; i < k.expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(rawInvoke(i % 2 ? sheet.get() : book.get(), id::Name, DISPATCH_PROPERTYGET, {}), k.expected[i]);
        }
        // Members other than the named one are never counted.
        EXPECT_EQ(rawInvoke(sheet.get(), id::Index, DISPATCH_PROPERTYGET, {}), S_OK);
        EXPECT_EQ(fault.matchingCalls(), k.on ? 3 : 6);
    }
    // Once the fault is gone every call runs again.
    EXPECT_EQ(rawInvoke(sheet.get(), id::Name, DISPATCH_PROPERTYGET, {}), S_OK);
}

TEST_F(InvokeFaultTest, AnApplicationErrorComesBackWithItsErrorInformation) {
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 1, 1);
    {
        ScopedInvokeFault fault(InvokeFault(id::Value, DISP_E_EXCEPTION).describedAs("Disk full."));
        EXCEPINFO info;
        EXPECT_EQ(rawInvoke(c.get(), id::Value, DISPATCH_PROPERTYPUT, {bstr("x")}, &info), DISP_E_EXCEPTION);
        EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x800A03ECu);
        EXPECT_EQ(info.bstrDescription, u"Disk full.");
        EXPECT_FALSE(info.bstrSource.empty());
    }
    {
        // Without a description it still carries one: an empty EXCEPINFO would leave
        // the caller with no code to report.
        ScopedInvokeFault fault(InvokeFault{id::Value});
        try {
            put(c.get(), id::Value, bstr("x"));
            ADD_FAILURE() << "no error";
        } catch (const _com_error& e) {
            EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800A03ECu);
            EXPECT_FALSE(e.Description().empty());
        }
    }
    {
        // Any other code comes back bare, as a dispatch failure does.
        ScopedInvokeFault fault(InvokeFault(id::Value, RPC_E_DISCONNECTED).describedAs("ignored"));
        EXCEPINFO info;
        EXPECT_EQ(rawInvoke(c.get(), id::Value, DISPATCH_PROPERTYPUT, {bstr("x")}, &info), RPC_E_DISCONNECTED);
        EXPECT_EQ(info.scode, 0);
        EXPECT_TRUE(info.bstrDescription.empty());
    }
}

TEST_F(InvokeFaultTest, AFailedOrEmptyAnsweredCallChangesNothing) {
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 2, 2);
    {
        ScopedInvokeFault fault(InvokeFault(id::Value).on(ObjectClass::Range).atCall(2));
        put(c.get(), id::Value, bstr("kept"));
        EXPECT_THROW(put(c.get(), id::Value, bstr("lost")), _com_error);
        EXPECT_EQ(call(c.get(), id::Value, DISPATCH_PROPERTYGET).bstrVal(), u"kept");
    }
    auto books = getObject(app.get(), id::Workbooks);
    for (HRESULT code : {E_OUTOFMEMORY, S_OK}) {
        SCOPED_TRACE(code);
        ScopedInvokeFault fault(InvokeFault(id::Add, code).on(ObjectClass::Workbooks));
        Variant result = Variant::i4(7);
        EXPECT_EQ(books->Invoke(id::Add, DISPATCH_METHOD, std::vector<Variant>{Variant::missing()}, &result, nullptr),
                  code);
        // A success code answers nothing at all instead of a workbook.
        if (code == S_OK) {
            EXPECT_EQ(result.vt(), VT_EMPTY);
        }
        EXPECT_EQ(bookCount(), 1);
        EXPECT_FALSE(std::filesystem::exists(folder() + "/Book2.xlsx")) << "no workbook file was reserved";
    }
}

TEST_F(InvokeFaultTest, FaultsInstalledTogetherEachCountAndTheFirstDecides) {
    auto sheet = newSheet();
    ScopedInvokeFault first(InvokeFault(id::Name, E_ACCESSDENIED).atCall(2));
    ScopedInvokeFault second(InvokeFault(id::Name, E_FAIL).on(ObjectClass::Worksheet).atCall(2));
    EXPECT_EQ(rawInvoke(sheet.get(), id::Name, DISPATCH_PROPERTYGET, {}), S_OK);
    EXPECT_EQ(rawInvoke(sheet.get(), id::Name, DISPATCH_PROPERTYGET, {}), E_ACCESSDENIED);
    EXPECT_EQ(rawInvoke(sheet.get(), id::Name, DISPATCH_PROPERTYGET, {}), S_OK);
    EXPECT_EQ(first.matchingCalls(), 3);
    EXPECT_EQ(second.matchingCalls(), 3);
    EXPECT_TRUE(second.hasFailed());
}

TEST_F(InvokeFaultTest, TheLogRecordsClassMemberKindAndArgumentTypes) {
    auto sheet = newSheet();
    auto cells = getObject(sheet.get(), id::Cells);
    ScopedInvokeLog log;
    auto c = getObject(cells.get(), id::Item, {Variant::i4(40000), Variant::i2(3)});
    put(c.get(), id::Value, Variant::r8(1.5));
    {
        ScopedInvokeFault fault(InvokeFault(id::Value, E_FAIL));
        EXPECT_THROW(call(c.get(), id::Value, DISPATCH_PROPERTYGET), _com_error);
    }
    std::vector<LoggedCall> calls = log.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].on, ObjectClass::Range);
    EXPECT_EQ(calls[0].member, id::Item);
    EXPECT_EQ(calls[0].flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(calls[0].argumentTypes, (std::vector<VARTYPE>{VT_I4, VT_I2}));
    EXPECT_EQ(calls[1].flags, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(calls[1].argumentTypes, std::vector<VARTYPE>{VT_R8});
    EXPECT_EQ(log.count(id::Value), 2u) << "the failed call is logged too";
    EXPECT_EQ(log.count(id::Value, ObjectClass::Worksheet), 0u);
    log.clear();
    EXPECT_EQ(log.count(id::Value), 0u);
}

TEST_F(InvokeFaultTest, CallsFromSeveralThreadsFailExactlyOnceAndAreAllCounted) {
    auto sheet = newSheet();
    constexpr int kThreads = 4, kCallsEach = 250;
    ScopedInvokeLog log;
    ScopedInvokeFault fault(InvokeFault(id::Value, E_FAIL).on(ObjectClass::Range).atCall(600));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            auto c = cell(sheet.get(), t + 1, 1);
            for (int i = 0; i < kCallsEach; ++i)
                if (rawInvoke(c.get(), id::Value, DISPATCH_PROPERTYPUT, {Variant::i4(i)}) != S_OK) ++failures;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 1);
    EXPECT_EQ(fault.matchingCalls(), kThreads * kCallsEach);
    EXPECT_EQ(log.count(id::Value, ObjectClass::Range), static_cast<std::size_t>(kThreads * kCallsEach));
}

}  // namespace
}  // namespace sheet::test
