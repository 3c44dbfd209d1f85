// The storage of cell texts: texts packed into arena chunks, copies sharing one stored
// text, chunks given back once their last text is gone, and texts that outlive the table or
// the thread that made them.

#include "base/RowTable.h"
#include "base/SharedText.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace quellar {
namespace {

// Chunks emptied chunks may stay mapped for reuse; at most this many.
constexpr size_t kKeptChunks = 8;

std::u16string numbered(size_t i) {
    const std::string digits = "n" + std::to_string(i * 7919);
    return std::u16string(digits.begin(), digits.end());
}

TEST(TextArena, GrowsAcrossManyChunksAndGivesThemBack) {
    const size_t before = SharedText::arenaStats().chunks;
    std::vector<SharedText> texts;
    size_t during = 0;
    // Made on a thread of its own, so that its chunk in progress is also handed back when it ends.
    std::thread maker([&] {
        texts.reserve(1'000'000);
        for (size_t i = 0; i < 1'000'000; ++i)
            texts.emplace_back(std::u16string_view(numbered(i)));
        during = SharedText::arenaStats().chunks;
    });
    maker.join();
    EXPECT_GE(during, before + 15); // about 20 MB of texts in 1 MB chunks
    for (size_t i = 0; i < texts.size(); i += 9973)
        ASSERT_EQ(texts[i].view(), numbered(i)) << i;
    EXPECT_EQ(texts.back().view(), numbered(texts.size() - 1));

    // Half of them copied: the copies share the stored texts and keep their chunks alive.
    std::vector<SharedText> copies(texts.begin(), texts.begin() + 500'000);
    EXPECT_TRUE(copies[1234].sharesStorageWith(texts[1234]));
    texts.clear();
    texts.shrink_to_fit();
    for (size_t i = 0; i < copies.size(); i += 7919)
        ASSERT_EQ(copies[i].view(), numbered(i)) << i;
    copies.clear();
    copies.shrink_to_fit();
    EXPECT_LE(SharedText::arenaStats().chunks, before + kKeptChunks);
}

TEST(TextArena, TextsLongerThanAChunkGetTheirOwn) {
    const SharedText::ArenaStats before = SharedText::arenaStats();
    std::u16string longText(3 * SharedText::kChunkBytes / 2 + 17, u'表'); // 3 MB of code units
    longText.back() = u'尾';
    {
        SharedText text{std::u16string_view(longText)};
        EXPECT_GE(SharedText::arenaStats().bytes, before.bytes + longText.size() * 2);
        SharedText copy;
        {
            SharedText original{std::u16string_view(longText)};
            copy = original;
            EXPECT_TRUE(copy.sharesStorageWith(original));
        }
        EXPECT_EQ(copy.size(), longText.size());
        EXPECT_EQ(copy, text);
        EXPECT_EQ(copy.hash(), text.hash());
        EXPECT_EQ(copy.view().back(), u'尾');
    }
    // Chunks of their own are never kept for reuse.
    EXPECT_LE(SharedText::arenaStats().bytes, before.bytes + SharedText::kChunkBytes);
}

TEST(TextArena, CopiesOutliveTheTableAndTheThreadThatMadeThem) {
    SharedText kept, inlineKept;
    {
        RowTable table;
        std::thread reader([&] {
            for (int r = 0; r < 1000; ++r) {
                Row row(3);
                const std::u16string text = u"第" + numbered(size_t(r)) + u"行";
                row[0].text = SharedText(std::u16string_view(text));
                row[1].text = SharedText(u"短");
                table.push_back(std::move(row));
            }
        });
        reader.join();
        kept = table[999][0].text;
        inlineKept = table[999][1].text;
        RowTable moved = std::move(table);
        EXPECT_TRUE(moved[999][0].text.sharesStorageWith(kept));
    }
    EXPECT_EQ(kept.view(), u"第" + numbered(999) + u"行");
    EXPECT_EQ(inlineKept.view(), u"短");
}

TEST(TextArena, MovesAndAssignments) {
    SharedText a(u"一二三四五");
    SharedText b(std::move(a));
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(b.view(), u"一二三四五");
    SharedText c(u"abc"); // inline: three code units
    c = std::move(b);
    EXPECT_TRUE(b.isEmpty());
    EXPECT_EQ(c.view(), u"一二三四五");
    SharedText& self = c;
    c = self;
    c = std::move(self);
    EXPECT_EQ(c.view(), u"一二三四五");
    c = SharedText(u"abcd"); // four code units: stored in the arena
    EXPECT_EQ(c, SharedText(QStringLiteral("abcd")));
    EXPECT_FALSE(c.sharesStorageWith(SharedText(u"abcd")));
    EXPECT_EQ(c.hash(), SharedText(u"abcd").hash());
    EXPECT_TRUE(SharedText(u"abc") < c);
    c.swap(b);
    EXPECT_TRUE(c.isEmpty());
    EXPECT_EQ(b.view(), u"abcd");
}

} // namespace
} // namespace quellar
