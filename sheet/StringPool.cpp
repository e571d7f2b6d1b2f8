#include "sheet/StringPool.h"

namespace sheet {
namespace {

// FNV-1a over the code units, finished with a multiply-shift so that the low bits a
// table uses depend on every unit.
std::uint32_t hashOf(std::u16string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char16_t c : text) h = (h ^ c) * 0x100000001b3ull;
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

}  // namespace

std::uint32_t StringPool::add(std::u16string_view text) {
    auto id = static_cast<std::uint32_t>(size());
    chars_.insert(chars_.end(), text.begin(), text.end());
    starts_.push_back(chars_.size());
    hashes_.push_back(hashOf(text));
    return id;
}

std::uint32_t StringPool::addFromFile(std::u16string_view text, std::string richXml) {
    auto id = add(text);
    if (!richXml.empty()) rich_.emplace(id, std::move(richXml));
    return id;
}

const std::string& StringPool::richXml(std::uint32_t id) const {
    static const std::string kNone;
    auto it = rich_.find(id);
    return it == rich_.end() ? kNone : it->second;
}

namespace {

// The texts already given an index while a save lays out the table: open addressing
// over a power-of-two array of entry ids, each text's hash (computed when it was
// added) kept beside its slot so that most probes compare one integer, not the
// text. A slot is 8 bytes: the index an entry was given is kept by the caller, so a
// slot names the entry only.
class TextIndex {
public:
    TextIndex(const StringPool& pool, std::size_t expected) : pool_(pool) {
        std::size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        slots_.assign(capacity, Slot{});
    }

    // Asks the memory for the slot where the entry's search starts: the table is
    // far larger than the caches, so a search that waits for its slot waits for
    // memory, and a few searches ahead hide that wait.
    void prefetch(std::uint32_t id) const { __builtin_prefetch(&slots_[pool_.hash(id) & (slots_.size() - 1)]); }

    // The id of an earlier entry with an equal text, or `id` itself (now entered).
    std::uint32_t findOrAdd(std::uint32_t id) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        const std::uint32_t hash = pool_.hash(id);
        for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            Slot& slot = slots_[at];
            if (slot.id == kFree) {
                slot = Slot{hash, id};
                ++count_;
                return id;
            }
            if (slot.hash == hash && pool_.text(slot.id) == pool_.text(id)) return slot.id;
        }
    }

private:
    static constexpr std::uint32_t kFree = UINT32_MAX;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t id = kFree;
    };

    void grow() {
        std::vector<Slot> old(slots_.size() * 2, Slot{});
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.id == kFree) continue;
            std::size_t at = slot.hash & (slots_.size() - 1);
            while (slots_[at].id != kFree) at = (at + 1) & (slots_.size() - 1);
            slots_[at] = slot;
        }
    }

    const StringPool& pool_;
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace

StringPool::Layout StringPool::layout(const std::vector<bool>& used) const {
    Layout l;
    std::size_t added = size() - fileCount_;
    l.indexOf.assign(added, UINT32_MAX);
    bool anyUsed = false;
    for (std::size_t i = 0; i < added && i < used.size() && !anyUsed; ++i) anyUsed = used[i];
    if (!anyUsed) return l;
    // Sized for the file's texts and a share of the added ones; it grows when more
    // of them differ.
    TextIndex seen(*this, fileCount_ + added / 4 + 16);
    auto isRich = [&](std::uint32_t id) { return !rich_.empty() && rich_.count(id) > 0; };
    // A text the file's table holds already is written as a reference to it.
    for (std::uint32_t id = 0; id < fileCount_; ++id)
        if (!isRich(id)) seen.findOrAdd(id);
    const std::size_t last = std::min(added, used.size());
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < last && i < kAhead; ++i)
        if (used[i]) seen.prefetch(static_cast<std::uint32_t>(fileCount_ + i));
    for (std::size_t i = 0; i < last; ++i) {
        if (i + kAhead < last && used[i + kAhead]) seen.prefetch(static_cast<std::uint32_t>(fileCount_ + i + kAhead));
        if (!used[i]) continue;
        auto id = static_cast<std::uint32_t>(fileCount_ + i);
        auto next = static_cast<std::uint32_t>(fileCount_ + l.written.size());
        // A rich entry brings its formatting; it is never folded into another.
        if (isRich(id)) {
            l.indexOf[i] = next;
            l.written.push_back(id);
            continue;
        }
        const std::uint32_t first = seen.findOrAdd(id);
        if (first == id) {
            l.indexOf[i] = next;
            l.written.push_back(id);
        } else {
            l.indexOf[i] = first < fileCount_ ? first : l.indexOf[first - fileCount_];
        }
    }
    return l;
}

void StringPool::compact(const Layout& layout) {
    StringPool next;
    for (std::uint32_t id = 0; id < fileCount_; ++id) next.addFromFile(text(id), richXml(id));
    for (std::uint32_t id : layout.written) next.addFromFile(text(id), richXml(id));
    next.markAllFromFile();
    *this = std::move(next);
}

}  // namespace sheet
