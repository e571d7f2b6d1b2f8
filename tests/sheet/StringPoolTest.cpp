// The shared-string table a save lays out: repeated texts folded into their first
// entry, texts the file's table holds referred to there, formatted entries never
// folded, unused entries left out; the same however large the table grows.
#include "sheet/StringPool.h"

#include <gtest/gtest.h>

#include <map>
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

}  // namespace
}  // namespace sheet
