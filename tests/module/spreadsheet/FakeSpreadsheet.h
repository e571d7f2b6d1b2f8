// A small spreadsheet application answering the members the connection code calls,
// registered under the application's class name for the life of a test. It keeps
// every object alive only through the references callers hold, so a test can check
// that the code under test released everything.
#pragma once

#include "module/spreadsheet/Automation.h"
#include "platform/ClassRegistry.h"
#include "platform/Variant.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tabro::testing {

// An automation object whose members are handlers; it records each call.
class FakeObject : public platform::ComObject<IDispatch, IRunnableObject> {
public:
    using Handler = std::function<HRESULT(WORD flags, std::span<const platform::Variant> args,
                                          platform::Variant* result, EXCEPINFO* info)>;
    struct Call {
        DISPID id;
        WORD flags;
        std::vector<VARTYPE> argTypes;
    };

    std::map<DISPID, Handler> members;
    std::vector<Call> calls;
    int runs = 0;

    HRESULT Invoke(DISPID id, WORD flags, std::span<const platform::Variant> args, platform::Variant* result,
                   EXCEPINFO* info) override;
    HRESULT Run() override {
        ++runs;
        return S_OK;
    }
};

// Application -> Workbooks -> Workbook -> Worksheets -> Worksheet, with names, the
// active workbook and sheet, Add, Count, Item, Visible and Interactive.
class FakeSpreadsheet {
public:
    static constexpr CLSID kClsid{0x00024500, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    struct Book {
        platform::ComPtr<FakeObject> object;
        platform::ComPtr<FakeObject> sheetsObject;
        std::u16string name;
        std::vector<platform::ComPtr<FakeObject>> sheets;  // in index order
        std::vector<std::u16string> sheetNames;
        FakeObject* activeSheet = nullptr;
        int sheetCounter = 0;
    };

    FakeSpreadsheet();
    ~FakeSpreadsheet();
    FakeSpreadsheet(const FakeSpreadsheet&) = delete;
    FakeSpreadsheet& operator=(const FakeSpreadsheet&) = delete;

    // Registers the class so that it can be created (not yet running).
    void registerClass();
    // Puts the application into the running-object table.
    void run();
    Book& addBook();  // as Workbooks.Add does; becomes the active workbook

    platform::ComPtr<FakeObject> app;
    platform::ComPtr<FakeObject> booksObject;
    std::vector<std::unique_ptr<Book>> books;
    Book* activeBook = nullptr;
    bool visible = false;
    bool interactive = false;
    bool addReturnsNothing = false;  // Workbooks.Add answers a null object
    int created = 0;                 // instances made through the class registry

private:
    void addSheet(Book& book);
    Book* bookOf(FakeObject* object);
    DWORD registration_ = 0;
    bool registered_ = false;
};

}  // namespace tabro::testing
