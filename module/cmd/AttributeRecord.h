// One attribute column of one block reference: the definition's tag, prompt and
// default text, with the reference's own text laid over the default.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace tabro {

struct AttributeRecord {
    std::string tag;
    std::string prompt;
    std::string text;
    bool isConstant = false;
};

// One attribute as a reference stores it. hasText false: the attribute gave no text.
struct ReferenceAttribute {
    std::string tag;
    std::string text;
    bool hasText = false;
};

// Lays the reference's attribute texts over the definition's records (in definition
// order). An attribute whose tag matches (without regard to case) the record at its
// own position goes there; an attribute out of step with the definition (a block
// redefined without synchronising its references) goes to the first still unpaired
// record with its tag, and is dropped when the definition has none, so that no value
// lands under another tag's column. Constant records keep the definition's text;
// attributes without text leave the record as it was.
void overlayReferenceAttributes(std::vector<AttributeRecord>& records, std::span<const ReferenceAttribute> attributes);

// Whether two tags are the same tag: equal without regard to case, multibyte aware.
bool sameTag(const std::string& a, const std::string& b);

}  // namespace tabro
