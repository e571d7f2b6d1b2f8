#include "sheet/StringPool.h"

#include "platform/Prefetch.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace sheet {
namespace {

constexpr std::size_t kLargestChunkUnits = std::size_t{1} << 20;  // 2 MB
// A text this long gets a block of its own rather than end a chunk early: the
// room a chunk leaves unused stays under an eighth of it.
constexpr std::size_t kOwnBlockUnits = kLargestChunkUnits / 8;

// How many of the four code units of a word are the second half of a surrogate
// pair (DC00..DFFF), without a branch. Masked to their top six bits and compared by
// exclusive or, such units leave a lane of zero and all others a lane with bits
// only in 10..15; shifted down by one, adding 7E00 to a lane sets its top bit
// exactly when it is not zero, and never carries into the next lane. The four top
// bits are then summed by one multiply into the top lane (the processors built for
// need not have a population count instruction).
unsigned trailingSurrogates(std::uint64_t word) {
    constexpr std::uint64_t kTopSix = 0xFC00FC00FC00FC00ull, kTrailing = 0xDC00DC00DC00DC00ull;
    constexpr std::uint64_t kAdd = 0x7E007E007E007E00ull, kTopBits = 0x8000800080008000ull;
    const std::uint64_t differs = (((((word & kTopSix) ^ kTrailing) >> 1) + kAdd) & kTopBits) >> 15;
    return 4 - static_cast<unsigned>((differs * 0x0001000100010001ull) >> 48);
}

std::uint64_t mix(std::uint64_t h, std::uint64_t word) { return std::rotl((h ^ word) * 0x9E3779B97F4A7C15ull, 27); }

struct Scan {
    std::uint32_t hash;
    std::size_t trailing;  // second halves of surrogate pairs
};

// One pass over a text, four code units at a time, copying it to `to`: its hash
// (finished with a multiply-shift so that the low bits a table uses depend on
// every unit) and its trailing surrogates, which is what a count of its
// characters needs. The copy is part of the pass rather than a library call, which
// costs more than the copying for the few units most cell texts have.
Scan copyAndScan(const char16_t* from, char16_t* to, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull ^ size;
    std::size_t trailing = 0, i = 0;
    for (; i + 4 <= size; i += 4) {
        std::uint64_t word;
        std::memcpy(&word, from + i, sizeof word);
        std::memcpy(to + i, &word, sizeof word);
        h = mix(h, word);
        trailing += trailingSurrogates(word);
    }
    if (i < size) {
        // The last units, zero-padded: a zero unit is no surrogate.
        std::uint64_t word = 0;
        for (unsigned k = 0; i + k < size; ++k) {
            to[i + k] = from[i + k];
            word |= static_cast<std::uint64_t>(from[i + k]) << (16 * k);
        }
        h = mix(h, word);
        trailing += trailingSurrogates(word);
    }
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return Scan{static_cast<std::uint32_t>(h ^ (h >> 32)), trailing};
}

}  // namespace

char16_t* StringPool::reserveUnits(std::size_t units) {
    if (units <= room_) {
        char16_t* at = free_;
        free_ += units;
        room_ -= units;
        return at;
    }
    if (units >= kOwnBlockUnits) {
        chunks_.push_back(std::make_unique_for_overwrite<char16_t[]>(units));
        return chunks_.back().get();
    }
    // Chunks grow from a few pages, so that a small workbook stays small, to a size
    // where the next one is rarely needed.
    const std::size_t size = std::max(units, nextChunkUnits_);
    nextChunkUnits_ = std::min(nextChunkUnits_ * 2, kLargestChunkUnits);
    chunks_.push_back(std::make_unique_for_overwrite<char16_t[]>(size));
    free_ = chunks_.back().get() + units;
    room_ = size - units;
    return chunks_.back().get();
}

std::uint32_t StringPool::add(std::u16string_view text, std::size_t& codePoints) {
    // Indices and sizes are 32-bit, as the cells that hold them.
    if (count_ >= UINT32_MAX || text.size() > UINT32_MAX) throw std::length_error("too many texts for one workbook");
    char16_t* to = text.empty() ? nullptr : reserveUnits(text.size());
    const std::size_t at = count_ & (kSegmentEntries - 1);
    if (at == 0) segments_.push_back(std::make_unique_for_overwrite<Entry[]>(kSegmentEntries));
    const Scan s = copyAndScan(text.data(), to, text.size());
    segments_.back()[at] = Entry{to, static_cast<std::uint32_t>(text.size()), s.hash};
    codePoints = text.size() - s.trailing;
    return static_cast<std::uint32_t>(count_++);
}

std::uint32_t StringPool::addFromFile(std::u16string_view text, std::string richXml) {
    auto id = add(text);
    if (!richXml.empty()) rich_.emplace(id, std::move(richXml));
    return id;
}

const std::string& StringPool::richXml(std::uint32_t id) const {
    static const std::string kNone;
    if (rich_.empty()) return kNone;
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

    // Where the search for an entry's text starts.
    const void* start(std::uint32_t id) const { return slots_.data() + (pool_.hash(id) & (slots_.size() - 1)); }
    static constexpr std::uint32_t kFree = UINT32_MAX;

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
    // The index is far larger than the caches: a search that waited for its slot
    // would wait for memory, so the slots of the searches a few entries ahead are
    // asked for first.
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < last && i < kAhead; ++i)
        if (used[i]) platform::prefetchLine(seen.start(static_cast<std::uint32_t>(fileCount_ + i)));
    for (std::size_t i = 0; i < last; ++i) {
        if (i + kAhead < last && used[i + kAhead])
            platform::prefetchLine(seen.start(static_cast<std::uint32_t>(fileCount_ + i + kAhead)));
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

StringPool StringPool::compacted(const Layout& layout) const {
    StringPool next;
    for (std::uint32_t id = 0; id < fileCount_; ++id) next.addFromFile(text(id), richXml(id));
    for (std::uint32_t id : layout.written) next.addFromFile(text(id), richXml(id));
    next.markAllFromFile();
    return next;
}

}  // namespace sheet
