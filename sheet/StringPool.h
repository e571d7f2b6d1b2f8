// The workbook's texts: every text cell holds an index into this table. Adding a
// text only copies it and takes its hash while it is at hand (the per-cell cost
// matters: an export writes millions); the save folds repeated texts into one
// shared-string entry by those hashes and compact() then makes the table what was
// written. Entries read from a file keep their file index, which lets sheets that
// were not changed be written back byte for byte.
//
// The characters live in chunks that are never moved once written, and the entries
// in fixed segments: a growing table never copies what it holds, and a text stays
// where it is for as long as the pool holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sheet {

class StringPool {
public:
    StringPool() = default;
    StringPool(StringPool&&) noexcept = default;
    StringPool& operator=(StringPool&&) noexcept = default;
    StringPool(const StringPool&) = delete;
    StringPool& operator=(const StringPool&) = delete;

    // Appends text and returns its index (the same text added twice gets two).
    std::uint32_t add(std::u16string_view text) {
        std::size_t codePoints = 0;
        return add(text, codePoints);
    }
    // The same, also giving the number of characters (code points) of the text:
    // counted in the pass that copies it, for the column widths of the sheet.
    std::uint32_t add(std::u16string_view text, std::size_t& codePoints);
    // Appends an entry read from a file. richXml is the entry's whole <si> element
    // (its content as it came) when it carries formatting runs or phonetic text,
    // written back as it is; empty for plain text.
    std::uint32_t addFromFile(std::u16string_view text, std::string richXml);
    // Everything added so far is what the file's shared-string part holds.
    void markAllFromFile() { fileCount_ = static_cast<std::uint32_t>(size()); }

    // Valid as long as the pool holds the entry.
    std::u16string_view text(std::uint32_t id) const {
        const Entry& e = entry(id);
        return std::u16string_view(e.data, e.size);
    }
    const std::string& richXml(std::uint32_t id) const;
    // The hash of an entry's text: equal texts have equal hashes.
    std::uint32_t hash(std::uint32_t id) const { return entry(id).hash; }
    std::size_t size() const noexcept { return count_; }
    std::uint32_t fileCount() const noexcept { return fileCount_; }

    // Saving: the index each entry gets in the written table. File entries keep
    // theirs; the entries added since that are in use (used[id - fileCount]) follow,
    // plain texts that repeat folded into one.
    struct Layout {
        std::vector<std::uint32_t> indexOf;  // per added entry; UINT32_MAX when unused
        std::vector<std::uint32_t> written;  // added entries written, in table order
    };
    Layout layout(const std::vector<bool>& used) const;
    // The table a save leaves: the file entries and the written ones, in that order.
    // Reads this pool only, so it may be built while the pool is read elsewhere;
    // the caller puts it in place and renumbers its cells with layout.indexOf.
    StringPool compacted(const Layout& layout) const;

private:
    struct Entry {
        const char16_t* data;
        std::uint32_t size;
        std::uint32_t hash;
    };
    static constexpr unsigned kSegmentShift = 14;  // 16,384 entries, 256 KB
    static constexpr std::size_t kSegmentEntries = std::size_t{1} << kSegmentShift;

    const Entry& entry(std::uint32_t id) const { return segments_[id >> kSegmentShift][id & (kSegmentEntries - 1)]; }
    // Room for units more characters that stay where they are put.
    char16_t* reserveUnits(std::size_t units);

    std::vector<std::unique_ptr<Entry[]>> segments_;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    char16_t* free_ = nullptr;  // in the last chunk
    std::size_t room_ = 0;      // units left there
    std::size_t nextChunkUnits_ = std::size_t{1} << 12;
    std::size_t count_ = 0;
    std::unordered_map<std::uint32_t, std::string> rich_;
    std::uint32_t fileCount_ = 0;
};

}  // namespace sheet
