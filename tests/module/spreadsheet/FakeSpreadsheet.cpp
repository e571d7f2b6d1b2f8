// The fake spreadsheet application's object model.
#include "FakeSpreadsheet.h"

#include <algorithm>

namespace tabro::testing {
namespace {

using platform::Variant;

std::u16string fold(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
}

HRESULT fail(EXCEPINFO* info, const char16_t* description) {
    if (info) {
        info->bstrSource = u"FakeSpreadsheet";
        info->bstrDescription = description;
        info->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
}

std::u16string number(int n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

}  // namespace

HRESULT FakeObject::Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* info) {
    Call call{id, flags, {}};
    for (const Variant& a : args) call.argTypes.push_back(a.vt());
    calls.push_back(call);
    auto it = members.find(id);
    if (it == members.end()) return DISP_E_MEMBERNOTFOUND;
    Variant ignored;
    return it->second(flags, args, result ? result : &ignored, info);
}

FakeSpreadsheet::FakeSpreadsheet() {
    app = platform::makeCom<FakeObject>();
    booksObject = platform::makeCom<FakeObject>();
    app->members[xl::dispid::Visible] = [this](WORD, auto args, Variant*, EXCEPINFO*) {
        visible = args.size() == 1 && args[0].boolVal() != 0;
        return S_OK;
    };
    app->members[xl::dispid::Interactive] = [this](WORD, auto args, Variant*, EXCEPINFO*) {
        interactive = args.size() == 1 && args[0].boolVal() != 0;
        return S_OK;
    };
    app->members[xl::dispid::ActiveWorkbook] = [this](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::dispatch(activeBook ? activeBook->object.get() : nullptr);
        return S_OK;
    };
    app->members[xl::dispid::Workbooks] = [this](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::dispatch(booksObject.get());
        return S_OK;
    };
    booksObject->members[xl::dispid::Add] = [this](WORD, auto args, Variant* r, EXCEPINFO*) {
        if (args.size() != 1 || !args[0].isMissing()) return DISP_E_BADPARAMCOUNT;
        if (addReturnsNothing) {
            *r = Variant::dispatch(nullptr);
            return S_OK;
        }
        *r = Variant::dispatch(addBook().object.get());
        return S_OK;
    };
    booksObject->members[xl::dispid::Count] = [this](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::i4(static_cast<LONG>(books.size()));
        return S_OK;
    };
}

FakeSpreadsheet::~FakeSpreadsheet() {
    if (registration_) RevokeActiveObject(registration_, nullptr);
    if (registered_) platform::revokeServerClass(kClsid);
}

void FakeSpreadsheet::registerClass() {
    platform::registerServerClass(kClsid, u"Excel.Application", [this](REFIID riid, void** object) {
        ++created;
        return app->QueryInterface(riid, object);
    });
    registered_ = true;
}

void FakeSpreadsheet::run() {
    RegisterActiveObject(static_cast<IDispatch*>(app.get()), kClsid, ACTIVEOBJECT_STRONG, &registration_);
}

FakeSpreadsheet::Book* FakeSpreadsheet::bookOf(FakeObject* object) {
    for (auto& b : books)
        if (b->object.get() == object || b->sheetsObject.get() == object) return b.get();
    return nullptr;
}

FakeSpreadsheet::Book& FakeSpreadsheet::addBook() {
    auto book = std::make_unique<Book>();
    Book* b = book.get();
    b->object = platform::makeCom<FakeObject>();
    b->sheetsObject = platform::makeCom<FakeObject>();
    b->name = u"Book" + number(static_cast<int>(books.size()) + 1);
    FakeObject* self = b->object.get();
    self->members[xl::dispid::Name] = [b](WORD flags, auto, Variant* r, EXCEPINFO*) {
        if (flags & DISPATCH_PROPERTYPUT) return DISP_E_MEMBERNOTFOUND;
        *r = Variant::bstr(b->name);
        return S_OK;
    };
    self->members[xl::dispid::Activate] = [this, b](WORD, auto, Variant*, EXCEPINFO*) {
        activeBook = b;
        return S_OK;
    };
    self->members[xl::dispid::Worksheets] = [b](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::dispatch(b->sheetsObject.get());
        return S_OK;
    };
    self->members[xl::dispid::ActiveSheet] = [b](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::dispatch(b->activeSheet);
        return S_OK;
    };
    FakeObject* sheets = b->sheetsObject.get();
    sheets->members[xl::dispid::Count] = [b](WORD, auto, Variant* r, EXCEPINFO*) {
        *r = Variant::i4(static_cast<LONG>(b->sheets.size()));
        return S_OK;
    };
    sheets->members[xl::dispid::Item] = [b](WORD, auto args, Variant* r, EXCEPINFO*) {
        if (args.size() != 1 || args[0].vt() != VT_I4) return DISP_E_TYPEMISMATCH;
        LONG i = args[0].lVal();
        if (i < 1 || i > static_cast<LONG>(b->sheets.size())) return DISP_E_BADINDEX;
        *r = Variant::dispatch(b->sheets[static_cast<std::size_t>(i - 1)].get());
        return S_OK;
    };
    sheets->members[xl::dispid::Add] = [this, b](WORD, auto args, Variant* r, EXCEPINFO*) {
        if (args.size() != 4) return DISP_E_BADPARAMCOUNT;
        addSheet(*b);
        // The new sheet goes before the active one, which is the first here.
        std::rotate(b->sheets.begin(), b->sheets.end() - 1, b->sheets.end());
        std::rotate(b->sheetNames.begin(), b->sheetNames.end() - 1, b->sheetNames.end());
        b->activeSheet = b->sheets.front().get();
        *r = Variant::dispatch(b->sheets.front().get());
        return S_OK;
    };
    addSheet(*b);
    b->activeSheet = b->sheets.front().get();
    books.push_back(std::move(book));
    activeBook = b;
    return *b;
}

void FakeSpreadsheet::addSheet(Book& book) {
    auto sheet = platform::makeCom<FakeObject>();
    Book* b = &book;
    std::size_t slot = b->sheets.size();
    b->sheets.push_back(sheet);
    b->sheetNames.push_back(u"Sheet" + number(++b->sheetCounter));
    FakeObject* self = sheet.get();
    auto index = [b, self] {
        return static_cast<std::size_t>(std::find_if(b->sheets.begin(), b->sheets.end(),
                                                     [self](const auto& s) { return s.get() == self; }) -
                                        b->sheets.begin());
    };
    (void)slot;
    self->members[xl::dispid::Name] = [b, index](WORD flags, auto args, Variant* r, EXCEPINFO* info) {
        std::size_t i = index();
        if (flags & DISPATCH_PROPERTYPUT) {
            const std::u16string& wanted = args.back().bstrVal();
            // The naming rules callers meet: no duplicates in any case, no special
            // characters, at most 31 characters.
            if (wanted.empty() || wanted.size() > 31 || wanted.find_first_of(u":\\/?*[]") != std::u16string::npos)
                return fail(info, u"That name is not allowed.");
            for (std::size_t j = 0; j < b->sheetNames.size(); ++j)
                if (j != i && fold(b->sheetNames[j]) == fold(wanted)) return fail(info, u"That name is already taken.");
            b->sheetNames[i] = wanted;
            return S_OK;
        }
        *r = Variant::bstr(b->sheetNames[i]);
        return S_OK;
    };
    self->members[xl::dispid::Activate] = [b, self](WORD, auto, Variant*, EXCEPINFO*) {
        b->activeSheet = self;
        return S_OK;
    };
}

}  // namespace tabro::testing
