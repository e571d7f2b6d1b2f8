// Range.Value over a block of cells: read as a two-dimensional array counting from
// 1, rows first; assigned from one, element by element from the top-left cell.
#include "SheetTestSupport.h"

#include "sheet/Automation.h"

namespace sheet::test {
namespace {

class ValueBlocksTest : public SheetTest {
protected:
    ComPtr<IDispatch> area(IDispatch* sheet, const std::string& from, const std::string& to) {
        return getObject(sheet, id::Range, {bstr(from), bstr(to)});
    }
    static Variant rows(std::initializer_list<std::initializer_list<Variant>> values) {
        const auto columns = values.begin()->size();
        const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(values.size()), 1}, {static_cast<ULONG>(columns), 1}};
        Variant v = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
        LONG index[2] = {1, 1};
        for (const auto& row : values) {
            index[1] = 1;
            for (const Variant& element : row) {
                EXPECT_EQ(platform::SafeArrayPutElement(v.parray(), index, &element), S_OK);
                ++index[1];
            }
            ++index[0];
        }
        return v;
    }
    static Variant element(const Variant& array, LONG row, LONG column) {
        const LONG index[2] = {row, column};
        Variant out;
        EXPECT_EQ(platform::SafeArrayGetElement(array.parray(), index, &out), S_OK);
        return out;
    }
    Variant valueOf(IDispatch* sheet, int row, int column) {
        return call(cell(sheet, row, column).get(), id::Value, DISPATCH_PROPERTYGET);
    }
};

TEST_F(ValueBlocksTest, ABlockReadsAsRowsOfItsCellsCountingFromOne) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 2, 2).get(), id::Value, bstr("door"));
    put(cell(sheet.get(), 2, 4).get(), id::Value, Variant::r8(2.5));
    put(cell(sheet.get(), 4, 3).get(), id::Value, Variant::error(errorScode(kErrorNotAvailable)));

    Variant block = call(area(sheet.get(), "B2", "D4").get(), id::Value, DISPATCH_PROPERTYGET);
    ASSERT_EQ(block.vt(), VT_ARRAY | VT_VARIANT);
    LONG low = 0, high = 0;
    for (UINT d : {1u, 2u}) {
        SCOPED_TRACE(d);
        platform::SafeArrayGetLBound(block.parray(), d, &low);
        platform::SafeArrayGetUBound(block.parray(), d, &high);
        EXPECT_EQ(low, 1);
        EXPECT_EQ(high, 3);
    }
    EXPECT_EQ(element(block, 1, 1).bstrVal(), u"door");
    EXPECT_EQ(element(block, 1, 3).dblVal(), 2.5);
    EXPECT_EQ(element(block, 3, 2).vt(), VT_ERROR);
    EXPECT_EQ(element(block, 2, 2).vt(), VT_EMPTY);
    // A single cell still answers its own value, not an array.
    EXPECT_EQ(call(area(sheet.get(), "B2", "B2").get(), id::Value, DISPATCH_PROPERTYGET).vt(), VT_BSTR);
}

TEST_F(ValueBlocksTest, AnAssignedArrayFillsTheBlockAsCellByCellAssignmentsWould) {
    auto sheet = newSheet();
    // Text that reads as a number becomes one in a General cell and stays text in a
    // cell of the text format, the same as when assigned alone.
    put(cell(sheet.get(), 1, 2).get(), id::NumberFormat, bstr("@"));
    put(area(sheet.get(), "A1", "C2").get(), id::Value,
        rows({{bstr("12.5"), bstr("12.5"), bstr("")}, {Variant::r8(7), bstr("x"), Variant()}}));
    EXPECT_EQ(valueOf(sheet.get(), 1, 1).vt(), VT_R8);
    EXPECT_EQ(valueOf(sheet.get(), 1, 2).bstrVal(), u"12.5");
    EXPECT_EQ(valueOf(sheet.get(), 1, 3).vt(), VT_EMPTY);
    EXPECT_EQ(valueOf(sheet.get(), 2, 1).dblVal(), 7.0);
    EXPECT_EQ(valueOf(sheet.get(), 2, 2).bstrVal(), u"x");

    // Cells the array does not reach show "not available"; what lies beyond the range
    // is left out.
    put(area(sheet.get(), "E1", "G2").get(), id::Value, rows({{bstr("a"), bstr("b")}}));
    EXPECT_EQ(valueOf(sheet.get(), 1, 6).bstrVal(), u"b");
    EXPECT_EQ(valueOf(sheet.get(), 1, 7).scode(), errorScode(kErrorNotAvailable));
    EXPECT_EQ(valueOf(sheet.get(), 2, 5).scode(), errorScode(kErrorNotAvailable));
    put(area(sheet.get(), "A5", "A5").get(), id::Value, rows({{bstr("in"), bstr("out")}}));
    EXPECT_EQ(valueOf(sheet.get(), 5, 1).bstrVal(), u"in");
    EXPECT_EQ(valueOf(sheet.get(), 5, 2).vt(), VT_EMPTY);

    // A one-dimensional array is a row, given to every row of the range.
    const SAFEARRAYBOUND line[1] = {{2, 0}};
    Variant row = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 1, line));
    const LONG first[1] = {0}, second[1] = {1};
    Variant p = bstr("p"), q = bstr("q");
    platform::SafeArrayPutElement(row.parray(), first, &p);
    platform::SafeArrayPutElement(row.parray(), second, &q);
    put(area(sheet.get(), "A7", "B8").get(), id::Value, row);
    EXPECT_EQ(valueOf(sheet.get(), 8, 1).bstrVal(), u"p");
    EXPECT_EQ(valueOf(sheet.get(), 8, 2).bstrVal(), u"q");
}

TEST_F(ValueBlocksTest, AnArrayWithOneUnfitElementChangesNoCell) {
    auto sheet = newSheet();
    put(cell(sheet.get(), 1, 1).get(), id::Value, bstr("kept"));
    auto target = area(sheet.get(), "A1", "B1");
    const Variant unfit[] = {Variant::dispatch(app.get()), bstr(std::string(32768, 'x')), rows({{bstr("nested")}})};
    for (const Variant& bad : unfit) {
        SCOPED_TRACE(bad.vt());
        Variant block = rows({{bstr("new"), bad}});
        EXPECT_THROW(put(target.get(), id::Value, block), _com_error);
        EXPECT_EQ(valueOf(sheet.get(), 1, 1).bstrVal(), u"kept");
    }
}

}  // namespace
}  // namespace sheet::test
