// The Calc backend against a real LibreOffice, in what only it has: offices that hang,
// die or leave lock files, and the office's own ways with sheets and formats. Each
// test starts an office of its own (a pipe and a profile of its own) through the
// backend, drives it by dispatch id as the module does, and reads back what the
// office made of it. The automation contract it shares with the stand-in is checked
// by FrontContractTest.
#include "automation/DispatchIds.h"
#include "calc/CalcBackend.h"
#include "platform/ClassRegistry.h"
#include "platform/ComError.h"
#include "platform/Dispatch.h"
#include "platform/SafeArray.h"
#include "platform/Variant.h"
#include "tests/automation/DispatchCalls.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using automation::test::block;
using automation::test::call;
using automation::test::element;
using automation::test::get;
using automation::test::object;
using automation::test::put;
using platform::ComPtr;
using platform::Variant;
namespace dispid = automation::dispid;

namespace {

// The processes whose command line names the pipe: the office serving it.
std::vector<pid_t> officeProcesses(const std::string& pipe) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find("soffice.bin") != std::string::npos && cmdline.find("name=" + pipe + ";") != std::string::npos)
            found.push_back(std::stoi(name));
    }
    return found;
}

class CalcBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("calc");
        folder_ = scratch_->path().string();
        options_.pipeName = "tabro_test_" + std::to_string(::getpid());
        options_.homeFolder = folder_ + "/home";
        options_.isHeadless = true;
        options_.callTimeoutMs = 20000;
    }
    void TearDown() override {
        backend_.reset();
        EXPECT_TRUE(officeProcesses(options_.pipeName).empty()) << "the office the test started is still running";
        scratch_.reset();
    }

    void startBackend() {
        std::string error;
        backend_.reset(tabloraCreateCalcBackend(&options_, &error));
        ASSERT_TRUE(backend_) << error;
        ASSERT_EQ(backend_->registerApplication(), "");
    }
    ComPtr<IDispatch> application() {
        ComPtr<IDispatch> app;
        HRESULT hr = CoCreateInstance(automation::kApplicationClsid, nullptr, 1, IID_IDispatch, app.putVoid());
        EXPECT_EQ(hr, S_OK);
        return app;
    }
    // A new workbook's first sheet.
    ComPtr<IDispatch> newSheet(IDispatch* app) {
        ComPtr<IDispatch> books = object(app, dispid::Workbooks);
        ComPtr<IDispatch> book(call(books.get(), dispid::Add, {Variant::missing()}).pdispVal());
        return object(book.get(), dispid::ActiveSheet);
    }
    static ComPtr<IDispatch> range(IDispatch* sheet, const char16_t* from, const char16_t* to) {
        return object(sheet, dispid::Range, {Variant::bstr(from), Variant::bstr(to)});
    }
    calc::BackendOptions options_;
    std::unique_ptr<calc::Backend> backend_;
    std::optional<tabro::testing::TempWorkingDir> scratch_;
    std::string folder_;
};

TEST_F(CalcBackendTest, NewWorkbooksAreStoredAsXlsxThatOpensAgain) {
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> sheet = newSheet(app.get());
    ASSERT_TRUE(std::filesystem::exists("Book1.xlsx"));
    put(range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"kept"));
    // Wrapped text goes into the office's cells and from there into the file.
    put(range(sheet.get(), u"A2", u"A2").get(), dispid::Value, Variant::bstr(u"two\nlines"));
    put(range(sheet.get(), u"A2", u"B3").get(), dispid::WrapText, Variant::boolean(true));
    put(range(sheet.get(), u"B3", u"B3").get(), dispid::WrapText, Variant::boolean(false));
    auto wraps = [](IDispatch* in, const char16_t* cell) {
        return get(range(in, cell, cell).get(), dispid::WrapText).boolVal() != VARIANT_FALSE;
    };
    EXPECT_TRUE(wraps(sheet.get(), u"B2"));
    EXPECT_FALSE(wraps(sheet.get(), u"B3"));
    ASSERT_TRUE(backend_->flushChangedWorkbooks(false).empty());
    std::ifstream in("Book1.xlsx", std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "PK");
    // A second backend (another session) opens the file in an office of its own.
    sheet.reset();
    app.reset();
    backend_.reset();
    options_.pipeName += "_b";
    startBackend();
    backend_->openWorkbookFile("Book1.xlsx");
    ComPtr<IDispatch> again = application();
    ComPtr<IDispatch> active = object(again.get(), dispid::ActiveSheet);
    EXPECT_EQ(get(range(active.get(), u"A1", u"A1").get(), dispid::Value).bstrVal(), u"kept");
    EXPECT_EQ(get(range(active.get(), u"A2", u"A2").get(), dispid::Value).bstrVal(), u"two\nlines");
    EXPECT_TRUE(wraps(active.get(), u"A2"));
    EXPECT_FALSE(wraps(active.get(), u"A1"));
    EXPECT_FALSE(wraps(active.get(), u"B3"));
    EXPECT_EQ(get(object(again.get(), dispid::ActiveWorkbook).get(), dispid::Name).bstrVal(), u"Book1.xlsx");
    EXPECT_THROW(backend_->openWorkbookFile("missing.xlsx"), std::runtime_error);
}

TEST_F(CalcBackendTest, ALockLeftByACrashedOfficeDoesNotKeepTheWorkbookFromOpening) {
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> sheet = newSheet(app.get());
    put(range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"mine"));
    ASSERT_TRUE(backend_->flushChangedWorkbooks(false).empty());
    sheet.reset();
    app.reset();
    backend_.reset();
    // What an office that crashed with the file open leaves beside it.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const char* user = std::getenv("USER");
    std::ofstream(".~lock.Book1.xlsx#") << "Someone," << (user ? user : "") << "," << host
                                        << ",09.12.2026 10:00,file:///tmp/crashed-profile;";
    options_.pipeName += "_c";
    startBackend();
    backend_->openWorkbookFile("Book1.xlsx");
    ComPtr<IDispatch> again = application();
    ComPtr<IDispatch> active = object(again.get(), dispid::ActiveSheet);
    put(range(active.get(), u"A2", u"A2").get(), dispid::Value, Variant::bstr(u"more"));
    EXPECT_TRUE(backend_->flushChangedWorkbooks(false).empty());
    EXPECT_EQ(get(range(active.get(), u"A1", u"A1").get(), dispid::Value).bstrVal(), u"mine");
}

TEST_F(CalcBackendTest, AHungOfficeFailsTheCallInTimeAndNothingWaitsOnItAfterwards) {
    options_.callTimeoutMs = 3000;
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> sheet = newSheet(app.get());
    std::vector<pid_t> office = officeProcesses(options_.pipeName);
    ASSERT_FALSE(office.empty());
    for (pid_t pid : office) ::kill(pid, SIGSTOP);
    auto start = std::chrono::steady_clock::now();
    try {
        put(range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"lost"));
        ADD_FAILURE() << "a call into a stopped office succeeded";
    } catch (const _com_error& e) {
        EXPECT_NE(e.Description().find(u"did not answer"), std::u16string::npos);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // Still stopped: the next command is told at once, instead of waiting on it.
    start = std::chrono::steady_clock::now();
    EXPECT_THROW(newSheet(app.get()), _com_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    for (pid_t pid : office) ::kill(pid, SIGCONT);
    // Objects of the cut connection say so.
    EXPECT_THROW(get(sheet.get(), dispid::Name), _com_error);
}

// The workbooks this program made and opened come back from their files in the new
// office, under the names they had and with the same one active; the user is told
// once. (Without them the next command found no active sheet at all.)
TEST_F(CalcBackendTest, AnOfficeThatDiedIsStartedAgainWithTheWorkbooksItHadReopened) {
    std::vector<std::string> told;
    options_.notify = [&told](const std::string& text) { told.push_back(text); };
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> sheet = newSheet(app.get());
    put(range(sheet.get(), u"A1", u"A1").get(), dispid::Value, Variant::bstr(u"one"));
    ASSERT_TRUE(backend_->flushChangedWorkbooks(false).empty());
    std::filesystem::copy_file("Book1.xlsx", "data.xlsx");
    backend_->openWorkbookFile("data.xlsx");
    // A document the user made in the office is not this program's to bring back.
    ComPtr<IDispatch> books = object(app.get(), dispid::Workbooks);
    call(object(sheet.get(), dispid::Parent).get(), dispid::Activate);
    ASSERT_EQ(get(books.get(), dispid::Count).lVal(), 2);
    for (pid_t pid : officeProcesses(options_.pipeName)) ::kill(pid, SIGKILL);
    for (int i = 0; i < 50 && !officeProcesses(options_.pipeName).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The documents went with their office: there is nothing left to store.
    backend_->flushChangedWorkbooks(false);
    ASSERT_TRUE(told.empty());
    ComPtr<IDispatch> active;
    try {
        active = object(app.get(), dispid::ActiveWorkbook);
    } catch (const _com_error& e) {
        const std::u16string why = e.Description();
        FAIL() << "no new office: " << std::string(why.begin(), why.end());
    }
    ASSERT_TRUE(active);
    EXPECT_EQ(told, std::vector<std::string>{
                        "LibreOffice went away; a new one was started and Book1.xlsx, data.xlsx were reopened"});
    EXPECT_EQ(get(active.get(), dispid::Name).bstrVal(), u"Book1");
    EXPECT_EQ(get(books.get(), dispid::Count).lVal(), 2);
    ComPtr<IDispatch> again = object(app.get(), dispid::ActiveSheet);
    EXPECT_EQ(get(range(again.get(), u"A1", u"A1").get(), dispid::Value).bstrVal(), u"one");
    // The reopened workbook is stored to its file as before, and a new one gets
    // the next free name.
    put(range(again.get(), u"A2", u"A2").get(), dispid::Value, Variant::bstr(u"two"));
    ComPtr<IDispatch> added = newSheet(app.get());
    EXPECT_EQ(get(object(added.get(), dispid::Parent).get(), dispid::Name).bstrVal(), u"Book2");
    EXPECT_TRUE(backend_->flushChangedWorkbooks(false).empty());
    EXPECT_EQ(told.size(), 1u);
    EXPECT_FALSE(officeProcesses(options_.pipeName).empty());
}

// A new workbook whose office died before anything was stored in it leaves no
// empty BookN.xlsx behind to look like a result.
TEST_F(CalcBackendTest, AWorkbookWhoseOfficeDiedBeforeItWasStoredLeavesNoFile) {
    startBackend();
    ComPtr<IDispatch> app = application();
    newSheet(app.get());
    ASSERT_TRUE(std::filesystem::exists(folder_ + "/Book1.xlsx"));
    for (pid_t pid : officeProcesses(options_.pipeName)) ::kill(pid, SIGKILL);
    // The bridge learns of the office's end on its own thread, a moment after the
    // process is gone.
    std::vector<std::string> told;
    for (int i = 0; i < 50 && told.empty(); ++i) {
        told = backend_->flushChangedWorkbooks(false);
        if (told.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/Book1.xlsx"));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("Book1.xlsx was removed"), std::string::npos) << told[0];
    // Nor is it brought back when a new office is started.
    ComPtr<IDispatch> books = object(app.get(), dispid::Workbooks);
    EXPECT_EQ(get(books.get(), dispid::Count).lVal(), 0);
}

// An office that stopped (SIGSTOP) still takes connections into its queue but
// answers nothing: attaching to it ends at the call's bound, said as such.
TEST_F(CalcBackendTest, AnOfficeThatStoppedBeforeAttachingSaysItDidNotAnswerInTime) {
    startBackend();
    ComPtr<IDispatch> app = application();
    std::vector<pid_t> office = officeProcesses(options_.pipeName);
    ASSERT_FALSE(office.empty());
    for (pid_t pid : office) ::kill(pid, SIGSTOP);
    calc::BackendOptions late = options_;
    late.callTimeoutMs = 3000;
    std::string error;
    std::unique_ptr<calc::Backend> second(tabloraCreateCalcBackend(&late, &error));
    ASSERT_TRUE(second) << error;
    auto start = std::chrono::steady_clock::now();
    const std::string problem = second->registerApplication();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    for (pid_t pid : office) ::kill(pid, SIGCONT);
    EXPECT_EQ(problem, "LibreOffice did not answer within 3 s");
    second.reset();
    // The second program never used it: the office is still the first one's.
    EXPECT_EQ(officeProcesses(options_.pipeName), office);
}

TEST_F(CalcBackendTest, WithoutAnOfficeTheBackendSaysSoAtOnce) {
    options_.officeProgram = folder_ + "/no-such-office";
    std::string error;
    backend_.reset(tabloraCreateCalcBackend(&options_, &error));
    ASSERT_TRUE(backend_) << error;
    auto start = std::chrono::steady_clock::now();
    std::string problem = backend_->registerApplication();
    EXPECT_NE(problem.find("LibreOffice is not installed"), std::string::npos) << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos);
    EXPECT_THROW(backend_->openWorkbookFile("x.xlsx"), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// The office hides a sheet as asked but would quietly keep the last visible one shown
// and ignore an activation of a hidden one: the backend refuses both as the stand-in
// does, and the sheet it hid is stored hidden in the .xlsx.
TEST_F(CalcBackendTest, SheetsAreHiddenUnderTheStandInsRulesAndStoredHidden) {
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> book = object(newSheet(app.get()).get(), dispid::Parent);
    ComPtr<IDispatch> sheets = object(book.get(), dispid::Worksheets);
    call(sheets.get(), dispid::Add);
    call(sheets.get(), dispid::Add);
    auto sheet = [&](LONG index) { return object(sheets.get(), dispid::Item, {Variant::i4(index)}); };
    const char16_t* names[] = {u"A", u"B", u"C"};
    for (LONG i = 1; i <= 3; ++i) put(sheet(i).get(), dispid::Name, Variant::bstr(names[i - 1]));
    ComPtr<IDispatch> a = sheet(1), b = sheet(2), c = sheet(3);
    call(a.get(), dispid::Activate);
    auto active = [&] { return get(object(book.get(), dispid::ActiveSheet).get(), dispid::Name).bstrVal(); };
    auto visible = [](IDispatch* s) {
        Variant v = get(s, dispid::Visible);
        EXPECT_EQ(v.vt(), VT_I4);
        return v.lVal();
    };
    auto failure = [](const std::function<void()>& act) -> HRESULT {
        try {
            act();
            return S_OK;
        } catch (const _com_error& e) {
            return e.Error();
        }
    };
    constexpr HRESULT kApplicationFailure = static_cast<HRESULT>(0x800A03ECu);
    EXPECT_EQ(visible(a.get()), -1);
    put(a.get(), dispid::Visible, Variant::i4(0));
    EXPECT_EQ(visible(a.get()), 0);
    EXPECT_EQ(active(), u"B");
    // Calc has no very hidden state: such a sheet is hidden and reads back so.
    put(c.get(), dispid::Visible, Variant::i4(2));
    EXPECT_EQ(visible(c.get()), 0);
    EXPECT_EQ(failure([&] { put(b.get(), dispid::Visible, Variant::boolean(false)); }), kApplicationFailure);
    EXPECT_EQ(visible(b.get()), -1);
    EXPECT_EQ(failure([&] { put(b.get(), dispid::Visible, Variant::i4(1)); }), kApplicationFailure);
    EXPECT_EQ(failure([&] { call(a.get(), dispid::Activate); }), kApplicationFailure);
    EXPECT_EQ(active(), u"B");
    // The last visible sheet, when active, hands over to the nearest visible before it.
    put(c.get(), dispid::Visible, Variant::boolean(true));
    call(c.get(), dispid::Activate);
    put(c.get(), dispid::Visible, Variant::i4(0));
    EXPECT_EQ(active(), u"B");
    ComPtr<IDispatch> added(call(sheets.get(), dispid::Add).pdispVal());
    EXPECT_EQ(visible(added.get()), -1);
    EXPECT_EQ(active(), get(added.get(), dispid::Name).bstrVal());
    ASSERT_TRUE(backend_->flushChangedWorkbooks(false).empty());

    if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0) {
        std::printf("python3-openpyxl is not installed: the stored file is not read back with it\n");
        return;
    }
    std::ofstream("check.py") << R"(
import openpyxl
wb = openpyxl.load_workbook("Book1.xlsx")
states = [(ws.title, ws.sheet_state) for ws in wb.worksheets]
assert states == [("A", "hidden"), ("Sheet4", "visible"), ("B", "visible"), ("C", "hidden")], states
assert wb.active.title == "Sheet4", wb.active.title
)";
    EXPECT_EQ(std::system("/usr/bin/python3 check.py"), 0);
}

}  // namespace

namespace {

// Formats given through automation make the office's numbers dates and truth values.
TEST_F(CalcBackendTest, NumbersFormattedAsDatesOrTruthValuesReadAsSuch) {
    startBackend();
    ComPtr<IDispatch> app = application();
    ComPtr<IDispatch> sheet = newSheet(app.get());
    put(range(sheet.get(), u"A1", u"A3").get(), dispid::Value,
        block({{Variant::r8(45444.25)}, {Variant::r8(1)}, {Variant::r8(7)}}));
    put(range(sheet.get(), u"A1", u"A1").get(), dispid::NumberFormat, Variant::bstr(u"yyyy-mm-dd hh:mm"));
    put(range(sheet.get(), u"A2", u"A2").get(), dispid::NumberFormat, Variant::bstr(u"BOOLEAN"));
    Variant values = get(range(sheet.get(), u"A1", u"A3").get(), dispid::Value);
    ASSERT_TRUE(values.isArray());
    EXPECT_EQ(element(values, 1, 1).vt(), VT_DATE);
    EXPECT_EQ(element(values, 1, 1).date(), 45444.25);
    EXPECT_EQ(element(values, 2, 1).vt(), VT_BOOL);
    EXPECT_EQ(element(values, 3, 1).vt(), VT_R8);
    EXPECT_EQ(get(range(sheet.get(), u"A1", u"A1").get(), dispid::Text).bstrVal(), u"2024-06-01 06:00");
    EXPECT_EQ(get(range(sheet.get(), u"A2", u"A2").get(), dispid::Value).vt(), VT_BOOL);
    EXPECT_EQ(get(range(sheet.get(), u"A1", u"A3").get(), dispid::MergeCells).boolVal(), VARIANT_FALSE);
}

}  // namespace
