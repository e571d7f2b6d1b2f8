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
// order). The k-th attribute with a tag (without regard to case) goes to the k-th
// record with that tag, as import pairs columns and attributes again; an attribute
// for which the definition has no record is left out and its index, in stored
// order, goes to `unplaced`. Constant records keep the definition's text; a record
// no attribute reached shows nothing (the reference does not hold it); an
// attribute without text leaves its record as it was.
void overlayReferenceAttributes(std::vector<AttributeRecord>& records, std::span<const ReferenceAttribute> attributes,
                                std::vector<std::size_t>* unplaced = nullptr);

}  // namespace tabro
