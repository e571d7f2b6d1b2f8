#include "module/cmd/AttributeRecord.h"

#include "platform/Text.h"

#include <algorithm>

namespace tabro {

bool sameTag(const std::string& a, const std::string& b) {
    if (a == b) return true;  // the usual case, without decoding
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                    reinterpret_cast<const unsigned char*>(b.c_str())) == 0;
}

void overlayReferenceAttributes(std::vector<AttributeRecord>& records, std::span<const ReferenceAttribute> attributes) {
    auto take = [](AttributeRecord& record, const ReferenceAttribute& attribute) {
        if (attribute.hasText && !record.isConstant) record.text = attribute.text;
    };

    // Attributes in step with the definition pair by position. Only when some do not
    // is the tag consulted for the rest.
    const std::size_t paired = std::min(records.size(), attributes.size());
    bool inStep = true;
    for (std::size_t k = 0; k < paired && inStep; ++k) inStep = sameTag(records[k].tag, attributes[k].tag);
    if (inStep) {
        for (std::size_t k = 0; k < paired; ++k) take(records[k], attributes[k]);
        return;
    }

    std::vector<bool> recordTaken(records.size(), false);
    std::vector<bool> attributePlaced(attributes.size(), false);
    for (std::size_t k = 0; k < paired; ++k)
        if (sameTag(records[k].tag, attributes[k].tag)) {
            take(records[k], attributes[k]);
            recordTaken[k] = attributePlaced[k] = true;
        }
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        if (attributePlaced[k]) continue;
        for (std::size_t r = 0; r < records.size(); ++r)
            if (!recordTaken[r] && sameTag(records[r].tag, attributes[k].tag)) {
                take(records[r], attributes[k]);
                recordTaken[r] = true;
                break;
            }
    }
}

}  // namespace tabro
