// The object model answers the members callers use by dispatch id, and fails the
// way a real automation server does.
#include "SheetTestSupport.h"

#include "platform/ClassRegistry.h"

namespace sheet::test {
namespace {

class MemberCallsTest : public SheetTest {};

TEST_F(MemberCallsTest, ApplicationIsFoundByClassNameAndInTheRunningObjectTable) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Excel.Application", &clsid), S_OK);
    EXPECT_EQ(clsid, kApplicationClsid);
    ComPtr<IUnknown> running;
    ASSERT_EQ(GetActiveObject(clsid, nullptr, running.put()), S_OK);
    ComPtr<IUnknown> created;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown, created.putVoid()), S_OK);
    // One application per process: creating gives the running one.
    EXPECT_EQ(running.get(), created.get());
    EXPECT_EQ(running.get(), app.as<IUnknown>().get());
}

TEST_F(MemberCallsTest, ObjectsNavigateAndCountFromOne) {
    EXPECT_EQ(call(app.get(), id::ActiveWorkbook, DISPATCH_PROPERTYGET).pdispVal(), nullptr);
    EXPECT_EQ(call(app.get(), id::ActiveSheet, DISPATCH_PROPERTYGET).pdispVal(), nullptr);
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 7, 3);
    EXPECT_EQ(call(c.get(), id::Row, DISPATCH_PROPERTYGET).lVal(), 7);
    EXPECT_EQ(call(c.get(), id::Column, DISPATCH_PROPERTYGET).lVal(), 3);
    // Item accepts 16-bit, 32-bit and floating coordinates alike.
    auto cells = getObject(sheet.get(), id::Cells);
    for (auto [row, col] : {std::pair{Variant::i2(7), Variant::i2(3)},
                            {Variant::i4(7), Variant::i2(3)},
                            {Variant::r8(7), Variant::r8(3)}}) {
        auto same = getObject(cells.get(), id::Item, {row, col});
        EXPECT_EQ(call(same.get(), id::Row, DISPATCH_PROPERTYGET).lVal(), 7);
        EXPECT_EQ(call(same.get(), id::Column, DISPATCH_PROPERTYGET).lVal(), 3);
    }
    auto ws = getObject(c.get(), id::Worksheet);
    EXPECT_EQ(call(ws.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Sheet1");
    auto book = getObject(ws.get(), id::Parent);
    EXPECT_EQ(call(book.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Book1");
    auto sheets = getObject(book.get(), id::Worksheets);
    EXPECT_EQ(call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).vt(), VT_I4);
    EXPECT_EQ(call(sheets.get(), id::Count, DISPATCH_PROPERTYGET).lVal(), 1);
    auto first = getObject(sheets.get(), id::Item, {Variant::i4(1)});
    EXPECT_EQ(call(first.get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Sheet1");
    // A cell's Parent is its sheet; the application object answers Visible.
    EXPECT_EQ(call(getObject(c.get(), id::Parent).get(), id::Name, DISPATCH_PROPERTYGET).bstrVal(), u"Sheet1");
    put(app.get(), id::Visible, Variant::boolean(true));
    put(app.get(), id::Interactive, Variant::boolean(true));
    EXPECT_EQ(call(app.get(), id::Visible, DISPATCH_PROPERTYGET).boolVal(), VARIANT_TRUE);
}

TEST_F(MemberCallsTest, DispatchErrorsMatchTheServerCodes) {
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 1, 1);
    auto cells = getObject(sheet.get(), id::Cells);
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    struct Case {
        const char* what;
        IDispatch* object;
        DISPID dispid;
        WORD flags;
        std::vector<Variant> args;
        HRESULT expected;
    } cases[] = {
        {"unknown member", c.get(), 0x7777, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
        {"put on a read-only property",
         c.get(),
         id::Row,
         DISPATCH_PROPERTYPUT,
         {Variant::i4(3)},
         DISP_E_MEMBERNOTFOUND},
        {"method called as a put", c.get(), id::AutoFit, DISPATCH_PROPERTYPUT, {Variant::i4(1)}, DISP_E_MEMBERNOTFOUND},
        {"too many arguments", c.get(), id::Text, DISPATCH_PROPERTYGET, {Variant::i4(1)}, DISP_E_BADPARAMCOUNT},
        {"too few arguments", cells.get(), id::Item, DISPATCH_PROPERTYGET, {}, DISP_E_BADPARAMCOUNT},
        {"text as a row",
         cells.get(),
         id::Item,
         DISPATCH_PROPERTYGET,
         {bstr("x"), Variant::i4(1)},
         DISP_E_TYPEMISMATCH},
        {"row zero", cells.get(), id::Item, DISPATCH_PROPERTYGET, {Variant::i4(0), Variant::i4(1)}, DISP_E_BADINDEX},
        {"row past the grid",
         cells.get(),
         id::Item,
         DISPATCH_PROPERTYGET,
         {Variant::i4(1048577), Variant::i4(1)},
         DISP_E_BADINDEX},
        {"column past the grid",
         cells.get(),
         id::Item,
         DISPATCH_PROPERTYGET,
         {Variant::i4(1), Variant::i4(16385)},
         DISP_E_BADINDEX},
        {"sheet index zero", sheets.get(), id::Item, DISPATCH_PROPERTYGET, {Variant::i4(0)}, DISP_E_BADINDEX},
        {"sheet index past the count", sheets.get(), id::Item, DISPATCH_PROPERTYGET, {Variant::i4(2)}, DISP_E_BADINDEX},
        {"unknown sheet name", sheets.get(), id::Item, DISPATCH_PROPERTYGET, {bstr("Nope")}, DISP_E_BADINDEX},
        {"object as a value",
         c.get(),
         id::Value,
         DISPATCH_PROPERTYPUT,
         {Variant::dispatch(c.get())},
         DISP_E_TYPEMISMATCH},
        {"number as a format", c.get(), id::NumberFormat, DISPATCH_PROPERTYPUT, {Variant::i4(49)}, DISP_E_TYPEMISMATCH},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(rawInvoke(k.object, k.dispid, k.flags, k.args), k.expected);
    }
}

TEST_F(MemberCallsTest, CommentsAreNullUntilAddedAndAddedOnce) {
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 2, 1);
    Variant none = call(c.get(), id::Comment, DISPATCH_PROPERTYGET);
    EXPECT_EQ(none.vt(), VT_DISPATCH);
    EXPECT_EQ(none.pdispVal(), nullptr);

    call(c.get(), id::AddComment, DISPATCH_METHOD, {bstr("1F3")});
    auto comment = getObject(c.get(), id::Comment);
    ASSERT_TRUE(comment);
    EXPECT_EQ(
        call(comment.get(), id::Text, DISPATCH_METHOD, {Variant::missing(), Variant::missing(), Variant::missing()})
            .bstrVal(),
        u"1F3");

    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(c.get(), id::AddComment, DISPATCH_METHOD, {bstr("again")}, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x800A03ECu);
    EXPECT_FALSE(info.bstrDescription.empty());
    EXPECT_FALSE(info.bstrSource.empty());
    // The platform's caller turns it into an automation error carrying that code.
    try {
        call(c.get(), id::AddComment, DISPATCH_METHOD, {bstr("again")});
        ADD_FAILURE() << "no error";
    } catch (const _com_error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800A03ECu);
    }

    // Text with a first argument replaces; with a start it inserts or overwrites.
    EXPECT_EQ(
        call(comment.get(), id::Text, DISPATCH_METHOD, {bstr("2A0"), Variant::missing(), Variant::missing()}).bstrVal(),
        u"2A0");
    EXPECT_EQ(call(comment.get(), id::Text, DISPATCH_METHOD, {bstr("x"), Variant::i4(2), Variant::missing()}).bstrVal(),
              u"2xA0");
    EXPECT_EQ(
        call(comment.get(), id::Text, DISPATCH_METHOD, {bstr("yz"), Variant::i4(2), Variant::boolean(true)}).bstrVal(),
        u"2yz");
    EXPECT_EQ(call(getObject(c.get(), id::Comment).get(), id::Text, DISPATCH_METHOD,
                   {Variant::missing(), Variant::missing(), Variant::missing()})
                  .bstrVal(),
              u"2yz");
}

TEST_F(MemberCallsTest, RangeTakesOneOrTwoCornersAndEntireRowReachesWholeRow) {
    auto sheet = newSheet();
    struct Case {
        std::vector<Variant> args;
        int row, column;
    } cases[] = {{{bstr("C5")}, 5, 3},
                 {{bstr("C5"), Variant::missing()}, 5, 3},
                 {{bstr("A5"), bstr("A5")}, 5, 1},
                 {{bstr("$B$2:D9")}, 2, 2},
                 {{bstr("d9"), bstr("b2")}, 2, 2}};
    for (auto& k : cases) {
        SCOPED_TRACE(narrow(k.args[0].bstrVal()));
        Variant r;
        ASSERT_EQ(sheet->Invoke(id::Range, DISPATCH_PROPERTYGET, k.args, &r, nullptr), S_OK);
        EXPECT_EQ(call(r.pdispVal(), id::Row, DISPATCH_PROPERTYGET).lVal(), k.row);
        EXPECT_EQ(call(r.pdispVal(), id::Column, DISPATCH_PROPERTYGET).lVal(), k.column);
    }
    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(sheet.get(), id::Range, DISPATCH_PROPERTYGET, {bstr("5C")}, &info), DISP_E_EXCEPTION);

    // Bold on the entire row reaches cells written before and after, and keeps
    // their number format.
    auto a5 = cell(sheet.get(), 5, 1);
    put(a5.get(), id::NumberFormat, bstr("@"));
    auto range = getObject(sheet.get(), id::Range, {bstr("A5"), bstr("A5")});
    put(getObject(getObject(range.get(), id::EntireRow).get(), id::Font).get(), id::Bold, Variant::boolean(true));
    for (int column : {1, 9, 300}) {
        SCOPED_TRACE(column);
        auto c = cell(sheet.get(), 5, column);
        EXPECT_EQ(call(getObject(c.get(), id::Font).get(), id::Bold, DISPATCH_PROPERTYGET).boolVal(), VARIANT_TRUE);
    }
    EXPECT_EQ(call(a5.get(), id::NumberFormat, DISPATCH_PROPERTYGET).bstrVal(), u"@");
    EXPECT_EQ(call(getObject(cell(sheet.get(), 6, 1).get(), id::Font).get(), id::Bold, DISPATCH_PROPERTYGET).boolVal(),
              VARIANT_FALSE);
}

TEST_F(MemberCallsTest, UsedRangeSpansTheWrittenCellsAndTheComments) {
    auto sheet = newSheet();
    auto address = [&] {
        return narrow(call(getObject(sheet.get(), id::UsedRange).get(), id::Address, DISPATCH_PROPERTYGET).bstrVal());
    };
    // An empty sheet answers its first cell, as the application does.
    EXPECT_EQ(address(), "$A$1");
    put(cell(sheet.get(), 5, 3).get(), id::Value, bstr("x"));
    EXPECT_EQ(address(), "$C$5");
    put(cell(sheet.get(), 9, 2).get(), id::Value, Variant::r8(1));
    call(cell(sheet.get(), 2, 5).get(), id::AddComment, DISPATCH_METHOD, {bstr("note")});
    EXPECT_EQ(address(), "$B$2:$E$9");
}

TEST_F(MemberCallsTest, ADeletedCommentIsGoneAndItsObjectRefusesEveryMember) {
    auto sheet = newSheet();
    auto c = cell(sheet.get(), 3, 1);
    call(c.get(), id::AddComment, DISPATCH_METHOD, {bstr("1F3")});
    auto comment = getObject(c.get(), id::Comment);
    call(comment.get(), id::Delete, DISPATCH_METHOD);
    EXPECT_EQ(call(c.get(), id::Comment, DISPATCH_PROPERTYGET).pdispVal(), nullptr);
    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(comment.get(), id::Text, DISPATCH_METHOD, {}, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(rawInvoke(comment.get(), id::Delete, DISPATCH_METHOD, {}, &info), DISP_E_EXCEPTION);
    // The cell takes a new comment afterwards.
    call(c.get(), id::AddComment, DISPATCH_METHOD, {bstr("2A0")});
    EXPECT_EQ(call(getObject(c.get(), id::Comment).get(), id::Text, DISPATCH_METHOD).bstrVal(), u"2A0");
}

TEST_F(MemberCallsTest, AFormulaStoredWithoutItsResultIsNotAvailable) {
    std::filesystem::copy_file(std::string(TABLORA_FIXTURES_DIR) + "/xlsx/openpyxl-comments-textformat.xlsx",
                               folder() + "/formula.xlsx");
    openWorkbookFile(folder() + "/formula.xlsx");
    auto sheets = getObject(getObject(app.get(), id::ActiveWorkbook).get(), id::Worksheets);
    auto e2 = cell(getObject(sheets.get(), id::Item, {bstr("DOOR")}).get(), 2, 5);
    Variant v = call(e2.get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_EQ(v.vt(), VT_ERROR);
    EXPECT_EQ(static_cast<std::uint32_t>(v.scode()), 0x800A07FAu) << "#N/A, not an empty cell";
}

}  // namespace
}  // namespace sheet::test
