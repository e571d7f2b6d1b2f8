// Dynamic blocks: a block whose references vary by parameters (a visibility state, a
// flip, a stretched length, a lookup). A reference whose parameters differ from the
// block's defaults points at an anonymous block (`*U…`) made for it; these classes
// give the block the user placed, and the parameters' values, read from the data
// the drawing keeps for both. The values are read only.
#pragma once

#include "host/db/AcDbObject.h"

#include <string>
#include <vector>

// A parameter's value: a real, a 16-bit integer or a text.
class AcDbEvalVariant {
public:
    enum Type : short { kNone = 0, kDouble = 1, kShort = 3, kString = 5 };
    AcDbEvalVariant() = default;
    explicit AcDbEvalVariant(double v) : type_(kDouble), real_(v) {}
    explicit AcDbEvalVariant(short v) : type_(kShort), short_(v) {}
    explicit AcDbEvalVariant(std::string v) : type_(kString), text_(std::move(v)) {}
    Type getType() const { return type_; }
    double real() const { return real_; }
    short int16() const { return short_; }
    const std::string& text() const { return text_; }
    bool operator==(const AcDbEvalVariant&) const = default;

private:
    Type type_ = kNone;
    double real_ = 0;
    short short_ = 0;
    std::string text_;
};

class AcDbDynBlockReferenceProperty {
public:
    // What a real value measures: a distance is given in drawing units with the
    // reference's scale applied, an angle in radians.
    enum UnitsType { kNoUnits = 0, kAngular = 1, kDistance = 2, kArea = 3 };
    // The parameter's element kind, as its object's type names it.
    enum ParameterKind { kVisibility, kFlip, kLookup, kLinear, kPolar, kRotation };

    AcDbDynBlockReferenceProperty() = default;
    AcDbDynBlockReferenceProperty(std::string name, std::string description, ParameterKind kind, UnitsType units,
                                  AcDbEvalVariant value, bool readOnly, bool show)
        : name_(std::move(name)),
          description_(std::move(description)),
          kind_(kind),
          units_(units),
          value_(std::move(value)),
          readOnly_(readOnly),
          show_(show) {}

    // The label the user sees (the parameter's own, not its element's name).
    const std::string& propertyName() const { return name_; }
    const std::string& description() const { return description_; }
    ParameterKind parameterKind() const { return kind_; }
    UnitsType unitsType() const { return units_; }
    AcDbEvalVariant value() const { return value_; }
    bool readOnly() const { return readOnly_; }
    // Whether the block author chose to show it in the properties (group 280 of the
    // parameter).
    bool show() const { return show_; }

private:
    std::string name_, description_;
    ParameterKind kind_ = kVisibility;
    UnitsType units_ = kNoUnits;
    AcDbEvalVariant value_;
    bool readOnly_ = true;
    bool show_ = true;
};
using AcDbDynBlockReferencePropertyArray = std::vector<AcDbDynBlockReferenceProperty>;

class AcDbDynBlockReference {
public:
    // A view of one block reference; it opens nothing while it lasts.
    explicit AcDbDynBlockReference(AcDbObjectId blockRefId);

    // Whether a block table record is a dynamic block's definition.
    static bool isDynamicBlock(AcDbObjectId blockTableRecordId);

    // Whether the reference is of a dynamic block, directly or through an anonymous
    // block made for it.
    bool isDynamicBlock() const;
    // The dynamic block the reference belongs to; for any other reference the block
    // it points at (the null id when that cannot be had).
    AcDbObjectId dynamicBlockTableRecord() const;
    // The anonymous block the reference points at, the null id when it points at the
    // dynamic block itself.
    AcDbObjectId anonymousBlockTableRecord() const;
    // The parameters a user sees, in the order of the block's evaluation graph, with
    // this reference's values (each at its default when the reference points at the
    // dynamic block itself). Empty for a reference of no dynamic block.
    void getBlockProperties(AcDbDynBlockReferencePropertyArray& properties) const;

private:
    AcDbObjectId ref_;
};

class AcDbDynBlockTableRecord {
public:
    explicit AcDbDynBlockTableRecord(AcDbObjectId blockTableRecordId);
    bool isDynamicBlock() const;
    AcDbObjectId blockTableRecordId() const { return record_; }
    // The anonymous blocks made from this dynamic block (those whose record names it),
    // in block table order.
    [[nodiscard]] Acad::ErrorStatus getAnonymousBlockIds(AcDbObjectIdArray& anonymousIds) const;

private:
    AcDbObjectId record_;
};
