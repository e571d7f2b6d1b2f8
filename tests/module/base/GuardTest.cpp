// The guards and reports: each failure kind's box, the fallback texts of an
// automation error, the assertion box, and the typed open.
#include "host/db/AcDbEntities.h"
#include "host/db/AcDbSymbolTables.h"
#include "module/base/ErrorGuard.h"
#include "module/base/ErrorReports.h"
#include "module/base/OpenAs.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "platform/ErrorInfo.h"
#include "tests/module/ModuleTestSupport.h"

#include <functional>
#include <stdexcept>

namespace {

using GuardFunction = void (*)(const std::function<void()>&);

class GuardTest : public ModuleTest {};

TEST_F(GuardTest, KnownFailureKindsShowTheirReportInTheFrameworkBox) {
    auto info = platform::createErrorInfo(u"Spreadsheet", u"The sheet name is taken.");
    struct {
        const char* name;
        std::function<void()> body;
        std::string text;
    } cases[] = {
        {"automation error without information", [] { throw _com_error(E_FAIL); },
         "COM error!\nCode = 80004005\nCode meaning = Unspecified error\nSource = null\nDescription = null\n"},
        {"automation error with information", [&] { throw _com_error(E_INVALIDARG, info.get()); },
         "COM error!\nCode = 80070057\nCode meaning = The parameter is incorrect.\nSource = Spreadsheet\n"
         "Description = The sheet name is taken.\n"},
        {"dispatch range without a message", [] { throw _com_error(static_cast<HRESULT>(0x80040205u)); },
         "COM error!\nCode = 80040205\nCode meaning = IDispatch error #5\nSource = null\nDescription = null\n"},
        {"just below the dispatch range", [] { throw _com_error(static_cast<HRESULT>(0x80040200u)); },
         "COM error!\nCode = 80040200\nCode meaning = Unknown error 0x80040200\nSource = null\nDescription = null\n"},
        {"OLE exception", [] { throw COleException(E_OUTOFMEMORY); }, "Ole Error : 0x8007000E"},
        {"dispatch exception", [] { throw COleDispatchException("Type mismatch in cell"); },
         "Dispatch error : Type mismatch in cell"},
    };
    for (GuardFunction guard : {tabro::commandGuard, tabro::diagnosticGuard}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            boxes_.clear();
            guard(c.body);
            ASSERT_EQ(boxes_.count(), 1u);
            platform::MessageBoxRequest box = boxes_.last();
            EXPECT_EQ(box.text, c.text);
            EXPECT_EQ(box.owner, adsw_acadMainWnd());
            EXPECT_EQ(box.caption, host::hostTitle());
            // The framework gives a plain OK box the exclamation mark: a failure,
            // which makes a script's cadhost end with a non-zero status.
            EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
            EXPECT_TRUE(platform::isFailureBox(box.type));
        }
    }
}

TEST_F(GuardTest, AnyOtherFailureShowsTheGuardsOwnBox) {
    std::function<void()> bodies[] = {[] { throw 42; }, [] { throw std::runtime_error("x"); },
                                      [] { throw std::bad_alloc(); }};
    for (auto& body : bodies) {
        boxes_.clear();
        tabro::commandGuard(body);
        tabro::diagnosticGuard(body);
        auto boxes = boxes_.boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text, text(tabro::kTextCommandFailed));
        EXPECT_EQ(boxes[0].caption, text(tabro::kTextErrorCaption));
        EXPECT_EQ(boxes[1].text, "ERROR: general exception found.");
        EXPECT_EQ(boxes[1].caption, "Error");
        for (const auto& box : boxes) {
            EXPECT_EQ(box.owner, adsw_acadMainWnd());
            EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        }
    }
}

TEST_F(GuardTest, NothingFailedNothingShown) {
    bool ran = false;
    tabro::commandGuard([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(GuardTest, ResourceScopesAreBalancedWhenTheBodyThrows) {
    tabro::commandGuard([this] {
        tabro::ResourceScope scope;
        tabro::ResourceScope nested;
        EXPECT_EQ(acDocManager->resourceHandleDepth(), 2u);
        EXPECT_EQ(acDocManager->curResourceHandle(), resources_);
        throw _com_error(E_POINTER);
    });
    EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u);
    EXPECT_EQ(acDocManager->unbalancedPops(), 0);
}

TEST_F(GuardTest, AssertionBoxNamesSourceLineAndCondition) {
    tabro::assertReport("cmd/cmdtabro", 120, "pRef != NULL");
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.last().text, "Module: cmd/cmdtabro\nLine: 120\nCondition: pRef != NULL");
    EXPECT_EQ(boxes_.last().caption, "Assertion failed");
    EXPECT_EQ(boxes_.last().owner, nullptr);
    EXPECT_EQ(boxes_.last().type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(GuardTest, TypedOpenClosesWhatIsOfAnotherClass) {
    AcDbDatabase* db = document_->database();
    ASSERT_NE(db, nullptr);
    AcDbObjectId tableId = db->blockTableId();

    AcDbBlockReference* reference = nullptr;
    EXPECT_EQ(tabro::openAs(reference, tableId, AcDb::kForWrite), Acad::eNotThatKindOfClass);
    EXPECT_EQ(reference, nullptr);
    // Closed again: a writer can open it now.
    AcDbBlockTable* table = nullptr;
    ASSERT_EQ(tabro::openAs(table, tableId, AcDb::kForWrite), Acad::eOk);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->close(), Acad::eOk);

    AcDbObject* any = nullptr;
    EXPECT_EQ(tabro::openAs(any, AcDbObjectId::kNull, AcDb::kForRead), Acad::eNullObjectId);
    EXPECT_EQ(any, nullptr);
}

}  // namespace
