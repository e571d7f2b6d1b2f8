// Safe arrays of variants: bounds from any lower bound, indices checked, copies
// independent, objects inside an array released with it, and nothing of an array
// showing through in the next one made from its storage.
#include "platform/SafeArray.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"

#include "TestDispatch.h"

#include <gtest/gtest.h>

namespace {

using platform::Variant;

Variant block(LONG rows, LONG rowBase, LONG columns, LONG columnBase) {
    const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), rowBase}, {static_cast<ULONG>(columns), columnBase}};
    return Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
}

TEST(SafeArrayTest, ElementsAreAddressedByTheirOwnBoundsRowsFirst) {
    struct Case {
        LONG rows, rowBase, columns, columnBase;
    };
    for (const Case& c : {Case{3, 1, 4, 1}, Case{2, 0, 5, 0}, Case{1, -3, 1, 7}}) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.columns << " from " << c.rowBase << "," << c.columnBase);
        Variant v = block(c.rows, c.rowBase, c.columns, c.columnBase);
        ASSERT_EQ(v.vt(), VT_ARRAY | VT_VARIANT);
        SAFEARRAY* a = v.parray();
        EXPECT_EQ(platform::SafeArrayGetDim(a), 2u);
        LONG low = 0, high = 0;
        ASSERT_EQ(platform::SafeArrayGetLBound(a, 1, &low), S_OK);
        ASSERT_EQ(platform::SafeArrayGetUBound(a, 1, &high), S_OK);
        EXPECT_EQ(low, c.rowBase);
        EXPECT_EQ(high, c.rowBase + c.rows - 1);
        ASSERT_EQ(platform::SafeArrayGetUBound(a, 2, &high), S_OK);
        EXPECT_EQ(high, c.columnBase + c.columns - 1);
        EXPECT_EQ(platform::SafeArrayGetLBound(a, 3, &low), DISP_E_BADINDEX);

        // Every element written with its own coordinates reads back at them.
        for (LONG r = c.rowBase; r < c.rowBase + c.rows; ++r)
            for (LONG col = c.columnBase; col < c.columnBase + c.columns; ++col) {
                const LONG index[2] = {r, col};
                Variant element = Variant::i4(r * 100 + col);
                ASSERT_EQ(platform::SafeArrayPutElement(a, index, &element), S_OK);
            }
        for (LONG r = c.rowBase; r < c.rowBase + c.rows; ++r)
            for (LONG col = c.columnBase; col < c.columnBase + c.columns; ++col) {
                const LONG index[2] = {r, col};
                Variant element = Variant::bstr(u"stale");
                ASSERT_EQ(platform::SafeArrayGetElement(a, index, &element), S_OK);
                EXPECT_EQ(element.vt(), VT_I4);
                EXPECT_EQ(element.lVal(), r * 100 + col);
            }

        // One step outside any bound touches nothing.
        const LONG outside[][2] = {{c.rowBase - 1, c.columnBase},
                                   {c.rowBase + c.rows, c.columnBase},
                                   {c.rowBase, c.columnBase - 1},
                                   {c.rowBase, c.columnBase + c.columns}};
        for (const auto& index : outside) {
            Variant element = Variant::i4(-1);
            EXPECT_EQ(platform::SafeArrayPutElement(a, index, &element), DISP_E_BADINDEX);
            EXPECT_EQ(platform::SafeArrayGetElement(a, index, &element), DISP_E_BADINDEX);
            EXPECT_EQ(element.lVal(), -1);
        }
    }
}

TEST(SafeArrayTest, CreationRefusesWhatItCannotHold) {
    const SAFEARRAYBOUND one[1] = {{4, 1}};
    EXPECT_EQ(platform::SafeArrayCreate(VT_VARIANT, 0, one), nullptr);
    EXPECT_EQ(platform::SafeArrayCreate(VT_BSTR, 1, one), nullptr);
    // More elements than an index counts, and an upper bound past the largest LONG.
    const SAFEARRAYBOUND huge[2] = {{0x10000, 1}, {0x10000, 1}};
    EXPECT_EQ(platform::SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    const SAFEARRAYBOUND late[1] = {{2, 0x7FFFFFFF}};
    EXPECT_EQ(platform::SafeArrayCreate(VT_VARIANT, 1, late), nullptr);
    EXPECT_EQ(Variant::array(nullptr).vt(), VT_EMPTY);
}

TEST(SafeArrayTest, CopiesAreIndependentAndLockedArraysRefuseChange) {
    Variant original = block(2, 1, 2, 1);
    const LONG index[2] = {2, 2};
    Variant text = Variant::bstr(u"before");
    ASSERT_EQ(platform::SafeArrayPutElement(original.parray(), index, &text), S_OK);

    Variant copy = original;
    ASSERT_NE(copy.parray(), original.parray());
    Variant changed = Variant::bstr(u"after");
    ASSERT_EQ(platform::SafeArrayPutElement(copy.parray(), index, &changed), S_OK);
    Variant read;
    ASSERT_EQ(platform::SafeArrayGetElement(original.parray(), index, &read), S_OK);
    EXPECT_EQ(read.bstrVal(), u"before");

    ASSERT_EQ(platform::SafeArrayLock(original.parray()), S_OK);
    EXPECT_EQ(platform::SafeArrayPutElement(original.parray(), index, &changed), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(platform::SafeArrayDestroy(original.parray()), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(platform::SafeArrayUnlock(original.parray()), S_OK);
    EXPECT_EQ(platform::SafeArrayUnlock(original.parray()), E_UNEXPECTED);

    // An array is no text: converting one fails rather than inventing a value.
    Variant out;
    EXPECT_EQ(platform::VariantChangeType(out, original, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

TEST(SafeArrayTest, ObjectsInsideAnArrayAreReleasedWithIt) {
    const std::size_t before = platform::liveComObjects();
    {
        auto object = platform::test::makeDispatch(
            [](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
        Variant v = block(1, 1, 2, 1);
        const LONG index[2] = {1, 2};
        Variant holder = Variant::dispatch(object.get());
        ASSERT_EQ(platform::SafeArrayPutElement(v.parray(), index, &holder), S_OK);
        Variant copy = v;
        object.reset();
        holder.clear();
        EXPECT_GT(platform::liveComObjects(), before);
    }
    EXPECT_EQ(platform::liveComObjects(), before);
}

TEST(SafeArrayTest, ANewArrayStartsEmptyWhatEverTheArraysBeforeItHeld) {
    // Blocks of several sizes one after the other, as a caller lending a block per
    // call makes them, each filled completely before it goes, and an array inside
    // one (destroyed while its holder is).
    const std::size_t before = platform::liveComObjects();
    auto object =
        platform::test::makeDispatch([](DISPID, WORD, std::span<const Variant>, Variant*, EXCEPINFO*) { return S_OK; });
    for (LONG rows : {512, 512, 3, 700, 1, 512}) {
        SCOPED_TRACE(rows);
        Variant v = block(rows, 1, 16, 1);
        ASSERT_EQ(v.vt(), VT_ARRAY | VT_VARIANT);
        LONG high = 0;
        ASSERT_EQ(platform::SafeArrayGetUBound(v.parray(), 1, &high), S_OK);
        EXPECT_EQ(high, rows);
        LONG index[2] = {1, 1};
        for (index[0] = 1; index[0] <= rows; ++index[0])
            for (index[1] = 1; index[1] <= 16; ++index[1]) {
                Variant* element = nullptr;
                ASSERT_EQ(platform::SafeArrayPtrOfIndex(v.parray(), index, &element), S_OK);
                ASSERT_EQ(element->vt(), VT_EMPTY);
                *element = index[1] == 1   ? Variant::dispatch(object.get())
                           : index[1] == 2 ? block(1, 1, 1, 1)
                                           : Variant::bstr(u"value " + std::u16string(1, char16_t(u'a' + index[1])));
            }
    }
    object.reset();
    EXPECT_EQ(platform::liveComObjects(), before);
}

}  // namespace
