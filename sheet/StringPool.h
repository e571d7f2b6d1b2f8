// The workbook's text table: every text cell holds an index into it, so a text
// used in many cells is kept once. Entries read from a file keep their file index,
// which lets sheets that were not changed be written back byte for byte.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sheet {

class StringPool {
public:
    struct Entry {
        std::u16string text;
        // The entry's original XML (inside <si>) when it carries formatting runs or
        // phonetic text, written back as it came; empty for plain text.
        std::string richXml;
    };

    // Index of text, adding it when new.
    std::uint32_t intern(std::u16string_view text);
    // Appends an entry read from a file at the next index (duplicates stay apart).
    std::uint32_t addFromFile(std::u16string text, std::string richXml);
    // Everything added so far counts as coming from the file (after a load or save).
    void markAllFromFile() { fileCount_ = static_cast<std::uint32_t>(entries_.size()); }

    const Entry& entry(std::uint32_t id) const { return entries_[id]; }
    const std::u16string& text(std::uint32_t id) const { return entries_[id].text; }
    std::size_t size() const noexcept { return entries_.size(); }
    std::uint32_t fileCount() const noexcept { return fileCount_; }

private:
    std::deque<Entry> entries_;  // a deque keeps the texts in place for the index's views
    std::unordered_map<std::u16string_view, std::uint32_t> index_;
    std::uint32_t fileCount_ = 0;
};

}  // namespace sheet
