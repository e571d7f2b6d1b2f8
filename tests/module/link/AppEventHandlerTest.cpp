// The live link's event handler object against the real spreadsheet stand-in: what
// it answers to QueryInterface, its type information, subscribing and ending the
// subscription, and the cells a SheetChange event queues.
#include "module/link/AppEventHandler.h"

#include "automation/InvokeHook.h"
#include "module/link/ChangeQueue.h"
#include "module/link/ComServer.h"
#include "platform/ConnectionPointImpl.h"
#include "platform/Module.h"
#include "platform/Variant.h"
#include "sheet/BookLifecycle.h"
#include "tests/module/ModuleTestSupport.h"
#include "tests/module/spreadsheet/StandInFixture.h"

#include <algorithm>
#include <vector>

namespace {

using platform::ComPtr;
using platform::Variant;
using tabro::AppEventHandler;
using tabro::DispatchPtr;

// The module itself, loaded once: its resources hold the type library the handler
// serves its dispatch members from.
HMODULE loadedModule() {
    static HMODULE module = LoadLibraryA((kBinDir + "/tabro.so").c_str());
    return module;
}

struct QueuedCell {
    std::int32_t column, row;
    std::u16string sheet, book;
    bool operator==(const QueuedCell&) const = default;
};

std::vector<QueuedCell> drainQueue() {
    std::vector<QueuedCell> cells;
    while (auto c = tabro::changeQueue().takeNewest())
        cells.push_back({c->column, c->row, *c->sheetName, *c->workbookName});
    std::reverse(cells.begin(), cells.end());  // oldest first, as they were queued
    return cells;
}

class AppEventHandlerTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ASSERT_NE(loadedModule(), nullptr);
        tabro::initComModule(loadedModule());
        tabro::changeQueue().clear();
        handler_ = ComPtr<AppEventHandler>(AppEventHandler::create());
        lockCountAtStart_ = tabro::moduleLockCount() - 1;
    }
    void TearDown() override {
        handler_.reset();
        EXPECT_EQ(tabro::moduleLockCount(), lockCountAtStart_) << "the handler is gone, and its lock with it";
        tabro::changeQueue().clear();
        sheet::stopSpreadsheetApplication();
        (void)sheet::revokeSpreadsheetApplication();
        ModuleTest::TearDown();
    }

    // The running stand-in with one workbook whose first sheet holds values in A1:C3.
    DispatchPtr startWithValues() {
        EXPECT_EQ(sheet::registerSpreadsheetApplication(), S_OK);
        DispatchPtr app = sheet::startSpreadsheetApplication();
        DispatchPtr books = tabro::xl::workbooks(app.get());
        DispatchPtr book = tabro::xl::addWorkbook(books.get());
        DispatchPtr sheet = tabro::xl::activeSheet(book.get());
        DispatchPtr cells = tabro::xl::cells(sheet.get());
        for (LONG r = 1; r <= 3; ++r)
            for (LONG c = 1; c <= 3; ++c)
                tabro::xl::setValue(tabro::xl::cell(cells.get(), r, c).get(), Variant::r8(r * 10 + c));
        sheet_ = sheet;
        bookName_ = tabro::xl::name(book.get());
        return app;
    }
    std::size_t subscribers() const {
        auto front = sheet::runningFront();
        return front ? front->events().connectionCount() : 0;
    }
    HRESULT sheetChange(IDispatch* range) {
        Variant args[] = {Variant::dispatch(sheet_.get()), Variant::dispatch(range)};
        return handler_->eventSink()->Invoke(tabro::kDispidSheetChange, DISPATCH_METHOD, args, nullptr, nullptr);
    }

    // A new workbook reserves its name as Book<N>.xlsx in the working directory.
    tabro::testing::TempWorkingDir scratch_{"link-events"};
    ComPtr<AppEventHandler> handler_;
    DispatchPtr sheet_;
    std::u16string bookName_;
    LONG lockCountAtStart_ = 0;
};

TEST_F(AppEventHandlerTest, AnswersItsOwnInterfacesWithOneReferenceCount) {
    EXPECT_EQ(tabro::moduleLockCount(), lockCountAtStart_ + 1) << "one object, counted once";
    void* out = nullptr;
    EXPECT_EQ(handler_->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<tabro::IAppEventHandler*>(handler_.get()));
    static_cast<IUnknown*>(out)->Release();
    for (const IID& iid : {tabro::IID_IAppEventHandler, IID_IDispatch}) {
        ASSERT_EQ(handler_->QueryInterface(iid, &out), S_OK);
        static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_EQ(handler_->QueryInterface(tabro::DIID_AppEvents, &out), E_NOINTERFACE) << "the sink answers that";
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(handler_->QueryInterface(IID_IDispatch, nullptr), E_POINTER);

    IDispatch* sink = handler_->eventSink();
    for (const IID& iid : {tabro::DIID_AppEvents, IID_IUnknown, IID_IDispatch}) {
        ASSERT_EQ(sink->QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, sink) << "the sink answers with itself";
        static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_EQ(sink->QueryInterface(tabro::IID_IAppEventHandler, &out), E_NOINTERFACE);
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // Both interfaces count on the one number.
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(handler_->AddRef(), 3u);
    EXPECT_EQ(sink->Release(), 2u);
    EXPECT_EQ(handler_->Release(), 1u);

    UINT count = 7;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), E_NOTIMPL);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(sink->GetTypeInfo(0, 0, &info), E_NOTIMPL);
    std::u16string name = u"Enable";
    DISPID id = 0;
    EXPECT_EQ(sink->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id), E_NOTIMPL);
}

TEST_F(AppEventHandlerTest, DispatchMembersComeFromTheTypeLibrary) {
    UINT count = 0;
    ASSERT_EQ(handler_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(handler_->GetTypeInfo(0, 0x0409, info.put()), S_OK);
    std::u16string name, help;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help), S_OK);
    EXPECT_EQ(name, u"IAppEventHandler");
    EXPECT_EQ(help, u"IAppEventHandler Interface");
    ASSERT_EQ(info->GetDocumentation(tabro::kDispidDisable, &name, &help), S_OK);
    EXPECT_EQ(name, u"Disable");
    EXPECT_EQ(help, u"method Disable");

    std::u16string names[] = {u"Enable", u"disable"};
    DISPID ids[2] = {};
    EXPECT_EQ(handler_->GetIDsOfNames(IID_IDispatch, &names[0], 1, 0, &ids[0]), S_OK);
    EXPECT_EQ(handler_->GetIDsOfNames(IID_IDispatch, &names[1], 1, 0, &ids[1]), S_OK);
    EXPECT_EQ(ids[0], tabro::kDispidEnable);
    EXPECT_EQ(ids[1], tabro::kDispidDisable);
    std::u16string unknown = u"Connect";
    EXPECT_EQ(handler_->GetIDsOfNames(IID_IDispatch, &unknown, 1, 0, &ids[0]), DISP_E_UNKNOWNNAME);

    // Invoke reaches the methods by their ids, and only them.
    EXPECT_EQ(handler_->Invoke(tabro::kDispidEnable, DISPATCH_METHOD, {}, nullptr, nullptr), MK_E_UNAVAILABLE)
        << "no application runs";
    EXPECT_EQ(handler_->Invoke(tabro::kDispidDisable, DISPATCH_METHOD, {}, nullptr, nullptr), S_OK);
    EXPECT_EQ(handler_->Invoke(3, DISPATCH_METHOD, {}, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST_F(AppEventHandlerTest, EnableSubscribesOnceAndDisableEndsIt) {
    EXPECT_EQ(handler_->Enable(), MK_E_UNAVAILABLE) << "no application runs";
    EXPECT_EQ(handler_->subscribedApplication(), nullptr);
    EXPECT_EQ(handler_->subscriptionCookie(), AppEventHandler::kNotSubscribed);
    EXPECT_EQ(handler_->Disable(), S_OK) << "nothing to end";

    DispatchPtr app = startWithValues();
    ASSERT_EQ(handler_->Enable(), S_OK);
    EXPECT_EQ(handler_->subscribedApplication(), app.get());
    EXPECT_NE(handler_->subscriptionCookie(), AppEventHandler::kNotSubscribed);
    EXPECT_EQ(subscribers(), 1u);

    ASSERT_EQ(handler_->Disable(), S_OK);
    EXPECT_EQ(handler_->subscribedApplication(), nullptr);
    EXPECT_EQ(handler_->subscriptionCookie(), AppEventHandler::kNotSubscribed);
    EXPECT_EQ(subscribers(), 0u);

    // Enabling twice without Disable keeps the first subscription as well: callers
    // always disable first.
    ASSERT_EQ(handler_->Enable(), S_OK);
    const DWORD first = handler_->subscriptionCookie();
    ASSERT_EQ(handler_->Enable(), S_OK);
    EXPECT_EQ(subscribers(), 2u);
    handler_->Disable();
    EXPECT_EQ(subscribers(), 1u) << "only the last cookie is known";
    // The subscription left behind holds the sink, and with it the handler.
    EXPECT_EQ(sheet::runningFront()->events().Unadvise(first), S_OK);
}

TEST_F(AppEventHandlerTest, OneEditedCellQueuesItsAddressAndNames) {
    startWithValues();
    DispatchPtr b3 = tabro::xl::range(sheet_.get(), u"B3");
    EXPECT_EQ(sheetChange(b3.get()), S_OK);
    EXPECT_EQ(drainQueue(), (std::vector<QueuedCell>{{2, 3, u"Sheet1", bookName_}}));

    // Other events of the application queue nothing and still answer S_OK.
    Variant args[] = {Variant::dispatch(sheet_.get()), Variant::dispatch(b3.get())};
    EXPECT_EQ(handler_->eventSink()->Invoke(0x616, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);  // selection
    EXPECT_EQ(handler_->eventSink()->Invoke(0x61B, DISPATCH_METHOD, {}, nullptr, nullptr), S_OK);
    EXPECT_TRUE(drainQueue().empty());
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(AppEventHandlerTest, APastedBlockQueuesEveryCellOfItWithinTheUsedRange) {
    startWithValues();
    DispatchPtr block = tabro::xl::range(sheet_.get(), u"B2", u"C3");
    sheetChange(block.get());
    EXPECT_EQ(drainQueue(), (std::vector<QueuedCell>{{2, 2, u"Sheet1", bookName_},
                                                     {3, 2, u"Sheet1", bookName_},
                                                     {2, 3, u"Sheet1", bookName_},
                                                     {3, 3, u"Sheet1", bookName_}}));

    // Whole columns cleared: only the cells the sheet uses are queued.
    DispatchPtr columns = tabro::xl::range(sheet_.get(), u"C1", u"D1048576");
    sheetChange(columns.get());
    EXPECT_EQ(drainQueue(),
              (std::vector<QueuedCell>{
                  {3, 1, u"Sheet1", bookName_}, {3, 2, u"Sheet1", bookName_}, {3, 3, u"Sheet1", bookName_}}));

    // A block wholly outside the used range still names its top-left cell.
    DispatchPtr outside = tabro::xl::range(sheet_.get(), u"F7", u"G9");
    sheetChange(outside.get());
    EXPECT_EQ(drainQueue(), (std::vector<QueuedCell>{{6, 7, u"Sheet1", bookName_}}));
}

TEST_F(AppEventHandlerTest, AFailedReadShowsTheErrorBoxAndQueuesNothing) {
    startWithValues();
    DispatchPtr b2 = tabro::xl::range(sheet_.get(), u"B2");
    {
        automation::testing::ScopedInvokeFault fault(
            automation::testing::InvokeFault(automation::dispid::Name, E_ACCESSDENIED)
                .on(automation::ObjectClass::Worksheet));
        EXPECT_EQ(sheetChange(b2.get()), S_OK);
    }
    EXPECT_TRUE(drainQueue().empty());
    ASSERT_EQ(boxes_.count(), 1u);
    const platform::MessageBoxRequest box = boxes_.last();
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, text(4));
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_NE(box.text.find("Code = 80070005"), std::string::npos) << box.text;

    // A range that is no object at all is an error of its own.
    boxes_.clear();
    Variant args[] = {Variant::dispatch(sheet_.get()), Variant::r8(1.0)};
    EXPECT_EQ(handler_->eventSink()->Invoke(tabro::kDispidSheetChange, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);
    EXPECT_TRUE(drainQueue().empty());
    EXPECT_EQ(boxes_.count(), 1u);

    // The subscription and the handler go on working.
    sheetChange(b2.get());
    EXPECT_EQ(drainQueue().size(), 1u);
}

}  // namespace
