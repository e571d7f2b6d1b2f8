#include "module/export/AttributeRecord.h"

#include "module/drawing/TagText.h"

#include <algorithm>

namespace tabro {

void overlayReferenceAttributes(std::vector<AttributeRecord>& records, std::span<const ReferenceAttribute> attributes,
                                std::vector<std::size_t>* unplaced) {
    if (unplaced) unplaced->clear();
    std::vector<bool> taken(records.size(), false);
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        const ReferenceAttribute& attribute = attributes[k];
        // A reference in step with its definition (every record before this one
        // taken) has the record at its own place; only when it is out of step are
        // the records searched for the first free one with the tag.
        std::size_t r = 0;
        while (r < k && r < records.size() && taken[r]) ++r;
        if (r != k || k >= records.size() || taken[k] || !sameTagText(records[k].tag, attribute.tag)) {
            r = 0;
            while (r < records.size() && (taken[r] || !sameTagText(records[r].tag, attribute.tag))) ++r;
        }
        if (r == records.size()) {
            if (unplaced) unplaced->push_back(k);
            continue;
        }
        taken[r] = true;
        if (attribute.hasText && !records[r].isConstant) records[r].text = attribute.text;
    }
    // What the reference does not hold is not shown as if it did.
    for (std::size_t r = 0; r < records.size(); ++r)
        if (!taken[r] && !records[r].isConstant) records[r].text.clear();
}

}  // namespace tabro
