// The workbook's text table: texts kept as added however the storage under them
// grows, their characters counted, and the shared-string table a save lays out:
// repeated texts folded into their first entry, texts the file's table holds
// referred to there, formatted entries never folded, unused entries left out; the
// same however large the table grows.
#include "sheet/Automation.h"
#include "sheet/StringPool.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace sheet {
namespace {

std::u16string textOf(std::size_t n) {
    std::string s = "t" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

TEST(StringPoolLayout, RepeatedTextsShareTheFirstEntryAtEverySize) {
    for (std::size_t distinct : {1u, 7u, 1000u, 50000u}) {
        SCOPED_TRACE(distinct);
        StringPool pool;
        pool.addFromFile(u"from file", {});
        pool.addFromFile(u"rich", "<r><t>rich</t></r>");
        pool.markAllFromFile();
        // Each distinct text three times, interleaved, and the file's texts again.
        std::vector<std::u16string> added;
        for (int round = 0; round < 3; ++round)
            for (std::size_t i = 0; i < distinct; ++i) added.push_back(textOf(i));
        added.push_back(u"from file");
        added.push_back(u"rich");
        added.push_back(u"");
        added.push_back(u"");
        for (const auto& t : added) pool.add(t);
        std::vector<bool> used(added.size(), true);
        used[1] = false;  // an entry no cell uses any more

        const StringPool::Layout l = pool.layout(used);
        // What a plain map gives, in first-seen order.
        std::map<std::u16string, std::uint32_t> expected{{u"from file", 0}};
        std::uint32_t next = 2;
        for (std::size_t i = 0; i < added.size(); ++i) {
            SCOPED_TRACE(i);
            if (!used[i]) {
                EXPECT_EQ(l.indexOf[i], UINT32_MAX);
                continue;
            }
            auto [it, isNew] = expected.emplace(added[i], next);
            if (isNew) ++next;
            ASSERT_EQ(l.indexOf[i], it->second);
        }
        EXPECT_EQ(l.written.size(), next - 2);
        for (std::size_t k = 0; k < l.written.size(); ++k)
            EXPECT_EQ(expected.at(std::u16string(pool.text(l.written[k]))), k + 2);
    }
}

TEST(StringPoolLayout, FormattedEntriesAreNeverFolded) {
    StringPool pool;
    pool.addFromFile(u"same", "<r><t>same</t></r>");
    pool.markAllFromFile();
    pool.addFromFile(u"same", "<r><b/><t>same</t></r>");
    pool.add(u"same");
    pool.add(u"same");
    const StringPool::Layout l = pool.layout({true, true, true});
    EXPECT_EQ(l.indexOf, (std::vector<std::uint32_t>{1, 2, 2}));
}

// Characters as a reader counts them: every unit but the second half of a
// surrogate pair, lone halves included.
std::size_t charactersOf(std::u16string_view text) {
    std::size_t n = 0;
    for (char16_t c : text) n += c < 0xDC00 || c > 0xDFFF;
    return n;
}

TEST(StringPoolStorage, TextsStayAsAddedAcrossChunksWithTheirCharactersCounted) {
    // Lengths around the word the counting reads at once and around the storage's
    // chunks, a text larger than any chunk, and units at the edges of the surrogate
    // ranges in every position of a word.
    std::mt19937 random(18);
    const char16_t units[] = {u'a', 0x00E9, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF, 0x0000};
    auto textOfLength = [&](std::size_t n) {
        std::u16string t(n, u'x');
        for (char16_t& c : t) c = units[random() % std::size(units)];
        return t;
    };
    std::vector<std::u16string> added;
    for (std::size_t n = 0; n < 40; ++n) added.push_back(textOfLength(n));
    for (int i = 0; i < 3000; ++i) added.push_back(textOfLength(random() % 600));
    added.push_back(textOfLength(1200000));  // more than any chunk holds
    for (int i = 0; i < 3000; ++i) added.push_back(textOfLength(random() % 2000));
    added.push_back(u"\U0001F600\U0001F600 two faces");

    StringPool pool;
    std::vector<std::uint32_t> ids;
    for (const auto& t : added) {
        SCOPED_TRACE(ids.size());
        std::size_t characters = 0;
        ids.push_back(pool.add(t, characters));
        ASSERT_EQ(characters, charactersOf(t));
        ASSERT_EQ(characters, codePointCount(t));
    }
    ASSERT_EQ(pool.size(), added.size());
    for (std::size_t i = 0; i < added.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(ids[i], i);
        ASSERT_EQ(pool.text(ids[i]), added[i]);
    }
    // Equal texts hash alike wherever they are stored; a text and its prefix padded
    // with a zero unit are different texts.
    const std::uint32_t again = pool.add(added[3000]);
    EXPECT_EQ(pool.hash(again), pool.hash(3000));
    const std::uint32_t padded = pool.add(std::u16string(u"abc") + char16_t(0));
    const std::uint32_t plain = pool.add(u"abc");
    EXPECT_NE(pool.text(padded), pool.text(plain));
    std::vector<bool> used(pool.size(), true);
    const StringPool::Layout l = pool.layout(used);
    EXPECT_EQ(l.indexOf[again], l.indexOf[3000]);
    EXPECT_NE(l.indexOf[padded], l.indexOf[plain]);

    // What a save leaves holds the written texts in table order.
    const StringPool compact = pool.compacted(l);
    ASSERT_EQ(compact.size(), l.written.size());
    for (std::size_t k = 0; k < l.written.size(); ++k) ASSERT_EQ(compact.text(k), pool.text(l.written[k]));
}

}  // namespace
}  // namespace sheet
