// Changing block references found by handle: their attribute texts, position,
// scale factors, rotation and layer, and placing their attributes again from the
// block's definitions after the reference moved. Main thread only, inside a
// command; every object is opened and closed within the call.
#pragma once

#include "host/db/AcDbEntities.h"
#include "host/db/AcDbObject.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tabro {

// Opens the working drawing's entity whose handle is this hexadecimal text
// (surrounding blanks ignored). Statuses other than eOk leave `entity` empty: no
// working drawing (eNullObjectPointer), text that is no handle (eNullHandle), a
// handle the drawing does not hold (eUnknownHandle), an erased object, or an open
// the database refuses.
[[nodiscard]] Acad::ErrorStatus openByHandle(std::string_view handleText, AcDb::OpenMode mode,
                                             AcDbObjectPointer<AcDbEntity>& entity);

// Which pairs of a write did not reach an attribute, by index into the pairs.
struct AttributeWriteResult {
    std::vector<std::size_t> missing;  // no attribute carries the tag (or this occurrence of it)
    std::vector<std::size_t> refused;  // the drawing refused the text (a line break, say)
    std::size_t changed = 0;           // attributes whose text changed
    std::size_t fieldsReplaced = 0;    // of those, attributes whose field the text replaced
};

// Writes tag/value pairs into the attributes of an open reference. Tags match
// without regard to case; when a tag occurs more than once the k-th column with it
// goes to the k-th attribute with it, and a column beyond the attributes' number
// reaches none. An attribute whose text already equals the value is not touched;
// a changed one gets the value's text and a field length of its byte length. A
// pair whose tag no attribute carries changes nothing; an attribute that no pair
// names is left alone. `firstOccurrence` counts the columns with the first pair's
// tag that stand before it (a single changed cell knows its column's place among
// its namesakes). True when every pair reached an attribute. Attributes that do
// not open are skipped.
// `cellNumbers`, when given, parallels the pairs with the number each cell held (NaN
// for text): a number cell equal to what the attribute's text reads as (a sheet
// without the text format turns "007" into 7) is the attribute unedited.
// `occurrences`, when given, parallels the pairs with the place of each among the
// columns of its tag, in place of counting the pairs.
bool writeAttributes(const AcDbBlockReference& reference, std::span<const std::string> tags,
                     std::span<const std::string> values, int firstOccurrence = 0,
                     AttributeWriteResult* result = nullptr, std::span<const double> cellNumbers = {},
                     std::span<const int> occurrences = {});

// Whether a cell still says what an attribute's text is, as export wrote it: the
// same text, the number a sheet without the text format made of it (`cellNumber`,
// NaN for a text cell), or the form export gave a text that does not decode.
bool isAttributeUnedited(const std::string& cell, double cellNumber, const char* current);

// One block reference (or other entity) found by handle, held open for the steps of
// one row and closed on every way out. Import and Import2 both change references
// through it. The property steps set a value only when it differs; after a change of
// position, scale or rotation, finish() places the attributes again once.
class ReferenceEditor {
public:
    ReferenceEditor() = default;
    ReferenceEditor(const ReferenceEditor&) = delete;
    ReferenceEditor& operator=(const ReferenceEditor&) = delete;
    ~ReferenceEditor() { close(); }

    // Opens the entity (see openByHandle); any one open before is closed first.
    [[nodiscard]] Acad::ErrorStatus open(std::string_view handleText, AcDb::OpenMode mode);
    void close();

    AcDbEntity* entity() const { return entity_.get(); }
    // Null when the entity is no block reference.
    AcDbBlockReference* reference() const { return reference_; }

    // writeAttributes on the reference; false when it is none.
    bool applyAttributes(std::span<const std::string> tags, std::span<const std::string> values,
                         int firstOccurrence = 0, AttributeWriteResult* result = nullptr,
                         std::span<const double> cellNumbers = {}, std::span<const int> occurrences = {});
    // eNotApplicable for an entity that is no block reference, eInvalidInput for a
    // value that is not finite; otherwise the setter's status (eOk also when the
    // value is already the reference's). The entity must be open for write.
    [[nodiscard]] Acad::ErrorStatus applyPosition(const AcGePoint3d& position);
    [[nodiscard]] Acad::ErrorStatus applyScale(const AcGeScale3d& scale);
    [[nodiscard]] Acad::ErrorStatus applyRotation(double radians);
    // Any entity; its attributes go along.
    [[nodiscard]] Acad::ErrorStatus applyLayer(const char* layer);
    // Places the attributes again when a step above moved the reference.
    bool finish();

    // Whether any step changed the drawing.
    bool changed() const { return changed_; }

private:
    AcDbObjectPointer<AcDbEntity> entity_;
    AcDbBlockReference* reference_ = nullptr;
    bool moved_ = false;
    bool changed_ = false;
};

// Places every attribute of an open reference again from the block's attribute
// definition with the same tag (the k-th attribute of a tag from the k-th
// definition of it), under the reference's current transform, keeping
// its text (and giving it a field length of the text's byte length plus one).
// Attributes without such a definition keep their placement. False for a null
// reference (reported as a failed assertion) or one that is not open.
bool refreshAttributes(AcDbBlockReference* pRef);

// The first attribute definition of the reference's block whose tag equals the
// attribute's (without regard to case), opened for read into `definition`, which
// closes it when it goes out of scope. False, with `definition` empty, when there
// is none or the block does not open; a null argument is reported as a failed
// assertion.
bool findAttributeDefinition(const AcDbBlockReference* pRef, const AcDbAttribute* pAtt,
                             AcDbObjectPointer<AcDbAttributeDefinition>& definition);

}  // namespace tabro
