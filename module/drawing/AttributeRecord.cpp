#include "module/drawing/AttributeRecord.h"

#include "module/drawing/TagText.h"

#include <optional>
#include <unordered_map>

namespace tabro {

namespace {

// The records of each tag in definition order, with how many of them are known to
// be taken from the front. Made only when a reference is out of step with its
// definition, which references in step (nearly all) never pay for.
class RecordsByTag {
public:
    explicit RecordsByTag(const std::vector<AttributeRecord>& records) {
        for (std::size_t r = 0; r < records.size(); ++r) byTag_[tagKey(records[r].tag)].indexes.push_back(r);
    }
    // The first record with the tag that is not taken; records.size() when none.
    std::size_t firstFree(const std::string& tag, const std::vector<bool>& taken, std::size_t none) {
        auto it = byTag_.find(tagKey(tag));
        if (it == byTag_.end()) return none;
        Records& records = it->second;
        // Taken records never come free again, so the front only moves on.
        while (records.front < records.indexes.size() && taken[records.indexes[records.front]]) ++records.front;
        return records.front < records.indexes.size() ? records.indexes[records.front] : none;
    }

private:
    struct Records {
        std::vector<std::size_t> indexes;
        std::size_t front = 0;
    };
    std::unordered_map<std::string, Records> byTag_;
};

}  // namespace

void overlayReferenceAttributes(std::vector<AttributeRecord>& records, std::span<const ReferenceAttribute> attributes,
                                std::vector<std::size_t>* unplaced) {
    if (unplaced) unplaced->clear();
    std::vector<bool> taken(records.size(), false);
    // Records 0 .. leadingTaken - 1 are all taken.
    std::size_t leadingTaken = 0;
    std::optional<RecordsByTag> byTag;
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        const ReferenceAttribute& attribute = attributes[k];
        // A reference in step with its definition (every record before this one
        // taken) has the record at its own place; only when it is out of step are
        // the records searched for the first free one with the tag.
        std::size_t r = k;
        if (leadingTaken < k || k >= records.size() || taken[k] || !sameTagText(records[k].tag, attribute.tag)) {
            if (!byTag) byTag.emplace(records);
            r = byTag->firstFree(attribute.tag, taken, records.size());
        }
        if (r == records.size()) {
            if (unplaced) unplaced->push_back(k);
            continue;
        }
        taken[r] = true;
        while (leadingTaken < records.size() && taken[leadingTaken]) ++leadingTaken;
        if (attribute.hasText && !records[r].isConstant) records[r].text = attribute.text;
    }
    // What the reference does not hold is not shown as if it did.
    for (std::size_t r = 0; r < records.size(); ++r)
        if (!taken[r] && !records[r].isConstant) records[r].text.clear();
}

}  // namespace tabro
