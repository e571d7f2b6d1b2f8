// Finding servers by program identifier and "{...}" text, creating instances, and
// the running-object table.
#include "platform/ClassRegistry.h"

#include "platform/ConnectionPoint.h"

#include "tests/platform/LeakCheck.h"
#include "tests/platform/TestDispatch.h"

#include <gtest/gtest.h>

namespace {

using platform::ComPtr;
using platform::Variant;

constexpr CLSID testClsid{0xBF62E005, 0xEC31, 0x11D3, {0xBA, 0xA0, 0x00, 0x20, 0x18, 0x64, 0x0C, 0x96}};

class ClassRegistryTest : public platform::test::LeakCheckedTest {
protected:
    void TearDown() override {
        platform::revokeServerClass(testClsid);
        LeakCheckedTest::TearDown();
    }
    static HRESULT createServer(REFIID riid, void** object) {
        auto server = platform::test::makeDispatch(
            [](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
        return server->QueryInterface(riid, object);
    }
};

TEST_F(ClassRegistryTest, GuidTextRoundTrip) {
    EXPECT_EQ(platform::guidToString(testClsid), "{BF62E005-EC31-11D3-BAA0-002018640C96}");
    EXPECT_EQ(platform::guidFromString("{bf62e005-ec31-11d3-baa0-002018640c96}"), testClsid);
    const char* malformed[] = {"BF62E005-EC31-11D3-BAA0-002018640C96",    "{BF62E005-EC31-11D3-BAA0-002018640C9}",
                               "{BF62E005-EC31-11D3-BAA0-002018640C96}x", "{BF62E005+EC31-11D3-BAA0-002018640C96}",
                               "{BF62E00G-EC31-11D3-BAA0-002018640C96}",  ""};
    for (const char* text : malformed) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(platform::guidFromString(text));
    }
}

TEST_F(ClassRegistryTest, LookupAndCreation) {
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Tabro.TestServer", &found), CO_E_CLASSSTRING);
    ComPtr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(testClsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.putVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(object);

    ASSERT_EQ(platform::registerServerClass(testClsid, u"Tabro.TestServer", createServer), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"tabro.TESTSERVER", &found), S_OK);  // letter case does not matter
    EXPECT_EQ(found, testClsid);
    EXPECT_EQ(CLSIDFromString(u"{BF62E005-EC31-11D3-BAA0-002018640C96}", &found), S_OK);
    EXPECT_EQ(CLSIDFromString(u"Tabro.TestServer", &found), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{BF62E005-EC31-11D3-BAA0-002018640C96\u00E9", &found), CO_E_CLASSSTRING);

    EXPECT_EQ(CoCreateInstance(testClsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.putVoid()), S_OK);
    EXPECT_TRUE(object);
    EXPECT_EQ(OleRun(object.get()), S_OK);  // nothing to run: fine
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CoCreateInstance(testClsid, object.get(), CLSCTX_SERVER, IID_IUnknown, aggregated.putVoid()),
              CLASS_E_NOAGGREGATION);
    ComPtr<IConnectionPointContainer> wrongInterface;
    EXPECT_EQ(
        CoCreateInstance(testClsid, nullptr, CLSCTX_SERVER, IConnectionPointContainer::iid, wrongInterface.putVoid()),
        E_NOINTERFACE);

    EXPECT_EQ(platform::revokeServerClass(testClsid), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"Tabro.TestServer", &found), CO_E_CLASSSTRING);
}

TEST_F(ClassRegistryTest, RunningObjectTable) {
    ComPtr<IUnknown> active;
    EXPECT_EQ(GetActiveObject(testClsid, nullptr, active.put()), MK_E_UNAVAILABLE);

    auto first =
        platform::test::makeDispatch([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    auto second =
        platform::test::makeDispatch([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    DWORD strong = 0, weak = 0;
    ASSERT_EQ(RegisterActiveObject(first.get(), testClsid, ACTIVEOBJECT_STRONG, &strong), S_OK);
    EXPECT_TRUE(SUCCEEDED(RegisterActiveObject(second.get(), testClsid, ACTIVEOBJECT_WEAK, &weak)));
    EXPECT_NE(strong, weak);

    ASSERT_EQ(GetActiveObject(testClsid, nullptr, active.put()), S_OK);
    ComPtr<IUnknown> firstIdentity = first.as<IUnknown>();
    EXPECT_EQ(active.get(), firstIdentity.get());  // the first registration answers

    // A strong registration keeps the object alive after its creator lets go.
    IDispatch* raw = first.get();
    first.reset();
    active.reset();
    firstIdentity.reset();
    EXPECT_EQ(GetActiveObject(testClsid, nullptr, active.put()), S_OK);
    EXPECT_EQ(active.get(), static_cast<IUnknown*>(raw));
    active.reset();

    EXPECT_EQ(RevokeActiveObject(strong, nullptr), S_OK);
    EXPECT_EQ(RevokeActiveObject(strong, nullptr), E_INVALIDARG);
    ASSERT_EQ(GetActiveObject(testClsid, nullptr, active.put()), S_OK);
    EXPECT_EQ(active.get(), second.as<IUnknown>().get());
    active.reset();
    EXPECT_EQ(RevokeActiveObject(weak, nullptr), S_OK);
    EXPECT_EQ(GetActiveObject(testClsid, nullptr, active.put()), MK_E_UNAVAILABLE);
}

struct Runnable : platform::ComObject<IRunnableObject> {
    int runs = 0;
    HRESULT Run() override {
        ++runs;
        return S_OK;
    }
};

TEST_F(ClassRegistryTest, OleRunRunsARunnableObject) {
    auto object = platform::makeCom<Runnable>();
    EXPECT_EQ(OleRun(object.get()), S_OK);
    EXPECT_EQ(object->runs, 1);
}

}  // namespace
