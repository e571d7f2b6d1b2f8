// The automation error's message rules, the system message table, and how invoke
// turns a failed call into the error.
#include "platform/ComError.h"

#include "platform/SystemMessages.h"
#include "tests/platform/LeakCheck.h"
#include "tests/platform/TestDispatch.h"

#include <gtest/gtest.h>

namespace {

using platform::Variant;

class ComErrorTest : public platform::test::LeakCheckedTest {};

TEST_F(ComErrorTest, MessageRules) {
    struct Case {
        std::uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {0x80004003u, "Invalid pointer"},              // CR LF trimmed once
        {0x80070057u, "The parameter is incorrect."},  // a system error folded into a result code
        {0x80020005u, "Type mismatch."},
        {0x800401E3u, "Operation unavailable"},
        {0x80040205u, "IDispatch error #5"},
        {0x80040201u, "IDispatch error #1"},
        {0x8004FFFFu, "IDispatch error #65023"},
        {0x80040200u, "Unknown error 0x80040200"},  // the range's first code is not a dispatch error
        {0x80040154u, "Class not registered"},
        {0x800A03ECu, "Unknown error 0x800A03EC"},
        {0x80030000u, "Unknown error 0x80030000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        _com_error error(static_cast<HRESULT>(c.code));
        EXPECT_STREQ(error.ErrorMessage(), c.message);
        EXPECT_LE(std::string(error.ErrorMessage()).size(), 255u);
        // Computed once: the same buffer every time, also after a copy.
        EXPECT_EQ(error.ErrorMessage(), error.ErrorMessage());
        _com_error copy = error;
        EXPECT_STREQ(copy.ErrorMessage(), c.message);
    }
}

TEST_F(ComErrorTest, SystemMessagesEndInCrLfAsThePlatformGivesThem) {
    const HRESULT codes[] = {E_POINTER,
                             E_NOINTERFACE,
                             E_OUTOFMEMORY,
                             E_FAIL,
                             E_INVALIDARG,
                             E_NOTIMPL,
                             E_UNEXPECTED,
                             E_ACCESSDENIED,
                             E_HANDLE,
                             E_ABORT,
                             DISP_E_UNKNOWNINTERFACE,
                             DISP_E_MEMBERNOTFOUND,
                             DISP_E_PARAMNOTFOUND,
                             DISP_E_TYPEMISMATCH,
                             DISP_E_UNKNOWNNAME,
                             DISP_E_NONAMEDARGS,
                             DISP_E_BADVARTYPE,
                             DISP_E_EXCEPTION,
                             DISP_E_OVERFLOW,
                             DISP_E_BADINDEX,
                             DISP_E_UNKNOWNLCID,
                             DISP_E_ARRAYISLOCKED,
                             DISP_E_BADPARAMCOUNT,
                             DISP_E_PARAMNOTOPTIONAL,
                             MK_E_UNAVAILABLE,
                             REGDB_E_CLASSNOTREG,
                             CO_E_CLASSSTRING,
                             RPC_E_DISCONNECTED,
                             RPC_E_WRONG_THREAD,
                             CO_E_NOTINITIALIZED,
                             HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                             HRESULT_FROM_WIN32(ERROR_DISK_FULL),
                             HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)};
    for (HRESULT hr : codes) {
        SCOPED_TRACE(hr);
        auto text = platform::systemMessage(hr);
        ASSERT_TRUE(text);
        ASSERT_GE(text->size(), 3u);
        EXPECT_EQ(text->substr(text->size() - 2), "\r\n");
        EXPECT_EQ(text->find("\r\n"), text->size() - 2);
    }
    EXPECT_EQ(platform::systemMessage(E_FAIL), "Unspecified error\r\n");
    EXPECT_EQ(platform::systemMessage(ERROR_FILE_NOT_FOUND), platform::systemMessage(HRESULT_FROM_WIN32(2)));
    EXPECT_FALSE(platform::systemMessage(CONNECT_E_NOCONNECTION));
    EXPECT_FALSE(platform::systemMessage(static_cast<HRESULT>(0x80040205u)));

    char buffer[64];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, E_POINTER, 0x400, buffer, sizeof buffer, nullptr),
              17u);
    EXPECT_STREQ(buffer, "Invalid pointer\r\n");
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80040205u, 0x400, buffer, sizeof buffer, nullptr),
              0u);
    char* allocated = nullptr;
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, DISP_E_TYPEMISMATCH,
                             0x400, reinterpret_cast<char*>(&allocated), 0, nullptr),
              0u);
    EXPECT_STREQ(allocated, "Type mismatch.\r\n");
    LocalFree(allocated);
}

TEST_F(ComErrorTest, InvokeCarriesTheServersExceptionInfo) {
    struct Case {
        const char* name;
        HRESULT returned;
        SCODE scode;
        HRESULT thrown;
        bool hasInfo;
    };
    const Case cases[] = {
        {"exception with its own code", DISP_E_EXCEPTION, static_cast<SCODE>(0x800A03EC),
         static_cast<HRESULT>(0x800A03EC), true},
        {"exception without a code", DISP_E_EXCEPTION, 0, DISP_E_EXCEPTION, true},
        {"plain failure", DISP_E_MEMBERNOTFOUND, 0, DISP_E_MEMBERNOTFOUND, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto server =
            platform::test::makeDispatch([&](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO* info) {
                if (info && c.returned == DISP_E_EXCEPTION) {
                    info->bstrSource = u"Sheet";
                    info->bstrDescription = u"That name is already taken.";
                    info->scode = c.scode;
                }
                return c.returned;
            });
        try {
            platform::invoke(server.get(), 0x6E, DISPATCH_PROPERTYPUT, {Variant::bstr(u"Sheet1")});
            ADD_FAILURE() << "no error thrown";
        } catch (const _com_error& e) {
            EXPECT_EQ(e.Error(), c.thrown);
            EXPECT_EQ(e.ErrorInfo() != nullptr, c.hasInfo);
            if (c.hasInfo) {
                EXPECT_EQ(e.Source(), u"Sheet");
                EXPECT_EQ(e.Description(), u"That name is already taken.");
            }
        }
    }
}

TEST_F(ComErrorTest, InvokeOnNullThrowsPointerError) {
    try {
        platform::invoke(nullptr, 1, DISPATCH_METHOD);
        ADD_FAILURE();
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
        EXPECT_STREQ(e.ErrorMessage(), "Invalid pointer");
    }
}

TEST_F(ComErrorTest, ErrorInfoIsTakenOnceAndNotLeftForTheNextCall) {
    // A server that sets the thread's error information and fails plainly.
    auto server =
        platform::test::makeDispatch([](DISPID dispid, WORD, std::span<const Variant>, Variant* r, EXCEPINFO*) {
            if (dispid == 2) {
                *r = Variant::i4(1);
                return S_OK;
            }
            SetErrorInfo(0, platform::createErrorInfo(u"Srv", u"broken").get());
            return E_FAIL;
        });
    try {
        platform::invoke(server.get(), 1, DISPATCH_METHOD);
        ADD_FAILURE();
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Description(), u"broken");
    }
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
    EXPECT_EQ(left, nullptr);

    // Stale information from elsewhere is not pinned on a later failure.
    SetErrorInfo(0, platform::createErrorInfo(u"Old", u"stale").get());
    EXPECT_EQ(platform::invoke(server.get(), 2, DISPATCH_PROPERTYGET).lVal(), 1);
    SetErrorInfo(0, platform::createErrorInfo(u"Old", u"stale").get());
    try {
        _com_issue_error(E_FAIL);
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Description(), u"stale");  // _com_issue_error takes what the thread has
    }
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
}

}  // namespace
