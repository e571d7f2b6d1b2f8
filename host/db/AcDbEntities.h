// The entities the module works with: texts, attribute definitions, attributes and
// block references, plus the iterator over a reference's attributes.
#pragma once

#include "host/db/AcDbObject.h"
#include "host/db/AcGe.h"

#include <memory>
#include <string>

class AcDbText : public AcDbEntity {
public:
    ACRX_DECLARE_MEMBERS(AcDbText);
    // A copy of the text in the module's multibyte text, freed with acutDelString.
    char* textString() const;
    [[nodiscard]] Acad::ErrorStatus setTextString(const char* text);

    AcGePoint3d position() const;
    AcGePoint3d alignmentPoint() const;
    double height() const;
    double widthFactor() const;
    double rotation() const;  // radians
    double oblique() const;
    int horizontalMode() const;  // 72
    int verticalMode() const;    // 73 of a text, 74 of an attribute or definition
    // A copy of the text style name, freed with acutDelString.
    char* textStyleName() const;
    [[nodiscard]] Acad::ErrorStatus setPosition(const AcGePoint3d& p);
    [[nodiscard]] Acad::ErrorStatus setAlignmentPoint(const AcGePoint3d& p);
    [[nodiscard]] Acad::ErrorStatus setHeight(double h);
    [[nodiscard]] Acad::ErrorStatus setRotation(double r);

protected:
    AcDbText() = default;
    friend class hostdb::ObjectAccess;
};

class AcDbAttributeDefinition : public AcDbText {
public:
    ACRX_DECLARE_MEMBERS(AcDbAttributeDefinition);
    char* tag() const;     // copy, acutDelString
    char* prompt() const;  // copy, acutDelString
    bool isConstant() const;
    bool isInvisible() const;
    bool isVerifiable() const;
    bool isPreset() const;
    int fieldLength() const;

protected:
    AcDbAttributeDefinition() = default;
    friend class hostdb::ObjectAccess;
};

// Multi-line text. Here only as the text of a multi-line attribute, handed out apart
// from the database (AcDbAttribute::getMTextAttribute) and given back with
// setMTextAttribute; the frame, style and width stay the attribute's.
class AcDbMText {
public:
    AcDbMText() = default;
    explicit AcDbMText(std::string contents) : contents_(std::move(contents)) {}
    // A copy of the contents with their format codes ("First\PSecond", "{\fArial|b1;Bold}"),
    // freed with acutDelString.
    char* contents() const;
    [[nodiscard]] Acad::ErrorStatus setContents(const char* contents);
    // A copy of the text a reader sees, freed with acutDelString: format codes
    // removed, each paragraph break (\P) a line feed, escaped characters as themselves,
    // a stacked fraction as "a/b".
    char* text() const;

private:
    std::string contents_;
};

class AcDbAttribute : public AcDbText {
public:
    ACRX_DECLARE_MEMBERS(AcDbAttribute);
    char* tag() const;  // copy, acutDelString
    bool isConstant() const;
    bool isInvisible() const;
    // True for a multi-line attribute: its whole text is one string here.
    bool isMTextAttribute() const;
    // A multi-line attribute's text as an MText the caller deletes; null for any
    // other attribute.
    AcDbMText* getMTextAttribute() const;
    // Replaces a multi-line attribute's contents with the MText's, keeping its frame,
    // style and width (eNotApplicable for a single-line attribute).
    [[nodiscard]] Acad::ErrorStatus setMTextAttribute(const AcDbMText* mtext);
    int fieldLength() const;
    [[nodiscard]] Acad::ErrorStatus setFieldLength(int length);
    // Places the attribute as its definition sits in the block, under the reference's
    // transform: position and alignment point transformed, height and width scaled,
    // the reference's rotation added; justification, style and flags from the
    // definition. The text is left as it is.
    [[nodiscard]] Acad::ErrorStatus setAttributeFromBlock(const AcDbAttributeDefinition* def,
                                                          const AcGeMatrix3d& blockTransform);

protected:
    AcDbAttribute() = default;
    friend class hostdb::ObjectAccess;
};

// Walks the attributes of one block reference in stored order. Delete it when done
// (or hold it in a std::unique_ptr).
class AcDbObjectIterator {
public:
    explicit AcDbObjectIterator(std::vector<AcDbObjectId> ids) : ids_(std::move(ids)) {}
    void start(bool atEnd = false) { pos_ = atEnd && !ids_.empty() ? ids_.size() - 1 : 0; }
    bool done() const { return pos_ >= ids_.size(); }
    void step(bool backwards = false) {
        if (backwards)
            pos_ = pos_ == 0 ? ids_.size() : pos_ - 1;
        else
            ++pos_;
    }
    AcDbObjectId objectId() const { return done() ? AcDbObjectId() : ids_[pos_]; }

private:
    std::vector<AcDbObjectId> ids_;
    std::size_t pos_ = 0;
};

class AcDbBlockReference : public AcDbEntity {
public:
    ACRX_DECLARE_MEMBERS(AcDbBlockReference);
    // The referenced block's record, or the null id when the drawing lacks it.
    AcDbObjectId blockTableRecord() const;
    AcGePoint3d position() const;
    double rotation() const;  // radians
    AcGeScale3d scaleFactors() const;
    AcGeVector3d normal() const;
    // Insertion point, then rotation about Z, then scale, from the block's origin.
    AcGeMatrix3d blockTransform() const;
    [[nodiscard]] Acad::ErrorStatus setPosition(const AcGePoint3d& p);
    [[nodiscard]] Acad::ErrorStatus setRotation(double radians);
    // Refuses a zero factor (eInvalidInput), as the host does.
    [[nodiscard]] Acad::ErrorStatus setScaleFactors(const AcGeScale3d& s);
    // New iterator over the attributes (never null here); the caller deletes it.
    AcDbObjectIterator* attributeIterator() const;
    // Opens one of this reference's own attributes (eInvalidInput for another id).
    [[nodiscard]] Acad::ErrorStatus openAttribute(AcDbAttribute*& att, AcDbObjectId id, AcDb::OpenMode mode,
                                                  bool openErased = false) const;

protected:
    AcDbBlockReference() = default;
    friend class hostdb::ObjectAccess;
};
