// The workbook's texts: every text cell holds an index into this table. Adding a
// text only appends it and its hash, taken while the text is at hand (the per-cell
// cost matters: an export writes millions); the save folds repeated texts into one
// shared-string entry by those hashes and compact() then makes the table what was
// written. Entries read from a file keep their file index, which
// lets sheets that were not changed be written back byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sheet {

class StringPool {
public:
    // Appends text and returns its index (the same text added twice gets two).
    std::uint32_t add(std::u16string_view text);
    // Appends an entry read from a file. richXml is the entry's original XML (inside
    // <si>) when it carries formatting runs or phonetic text, written back as it
    // came; empty for plain text.
    std::uint32_t addFromFile(std::u16string_view text, std::string richXml);
    // Everything added so far is what the file's shared-string part holds.
    void markAllFromFile() { fileCount_ = static_cast<std::uint32_t>(size()); }

    // Valid until the next add.
    std::u16string_view text(std::uint32_t id) const {
        return std::u16string_view(chars_.data() + starts_[id], starts_[id + 1] - starts_[id]);
    }
    const std::string& richXml(std::uint32_t id) const;
    // The hash of an entry's text: equal texts have equal hashes.
    std::uint32_t hash(std::uint32_t id) const { return hashes_[id]; }
    std::size_t size() const noexcept { return starts_.size() - 1; }
    std::uint32_t fileCount() const noexcept { return fileCount_; }

    // Saving: the index each entry gets in the written table. File entries keep
    // theirs; the entries added since that are in use (used[id - fileCount]) follow,
    // plain texts that repeat folded into one.
    struct Layout {
        std::vector<std::uint32_t> indexOf;  // per added entry; UINT32_MAX when unused
        std::vector<std::uint32_t> written;  // added entries written, in table order
    };
    Layout layout(const std::vector<bool>& used) const;
    // After a save: keeps the file entries and the written ones, in that order. The
    // caller renumbers its cells with layout.indexOf.
    void compact(const Layout& layout);

private:
    std::vector<char16_t> chars_;
    std::vector<std::uint64_t> starts_{0};
    std::vector<std::uint32_t> hashes_;
    std::unordered_map<std::uint32_t, std::string> rich_;
    std::uint32_t fileCount_ = 0;
};

}  // namespace sheet
