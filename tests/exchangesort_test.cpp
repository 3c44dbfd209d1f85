// The fast exchange-sort order against the procedure itself: fixed cases whose order is
// easy to follow by hand, then many random arrays with few distinct values (ties
// everywhere), small and larger.

#include "base/CellOps.h"
#include "table/ExchangeSort.h"

#include <QString>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quellar {
namespace {

// The exchange sort as written, on indexes: the permutation it leaves.
template <typename T> std::vector<size_t> literalOrder(const std::vector<T>& values) {
    std::vector<size_t> order(values.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    for (size_t i = 0; i + 1 < order.size(); ++i)
        for (size_t j = i + 1; j < order.size(); ++j)
            if (values[order[j]] < values[order[i]]) std::swap(order[i], order[j]);
    return order;
}

template <typename T> std::vector<size_t> fastOrder(const std::vector<T>& values) {
    return exchangeSortOrder(values.size(), [&](size_t a, size_t b) { return values[a] < values[b]; });
}

std::string joined(const std::vector<size_t>& order) {
    std::string s;
    for (size_t i : order)
        s += std::to_string(i) + ' ';
    return s;
}

TEST(ExchangeSort, KnownOrders) {
    struct Case {
        const char* name;
        std::vector<int> keys;
        std::vector<size_t> order;
    };
    const std::vector<Case> cases = {
        {"empty", {}, {}},
        {"one", {7}, {0}},
        {"B1 B2 A gives A B2 B1", {2, 2, 1}, {2, 1, 0}},
        {"all equal keep their order", {5, 5, 5, 5}, {0, 1, 2, 3}},
        {"already sorted", {1, 2, 3}, {0, 1, 2}},
        {"reversed distinct", {3, 2, 1}, {2, 1, 0}},
        {"largest class rotates", {9, 9, 9, 1}, {3, 1, 2, 0}},
        {"ties split by a smaller value", {2, 1, 2, 1, 2}, {1, 3, 2, 0, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(joined(literalOrder(c.keys)), joined(c.order)) << c.name << " (reference)";
        EXPECT_EQ(joined(fastOrder(c.keys)), joined(c.order)) << c.name;
    }
}

TEST(ExchangeSort, AgreesWithTheProcedureOnRandomArrays) {
    std::mt19937 rng(20240607);
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const size_t n = rng() % 14;
        const int distinct = 1 + int(rng() % 4);
        std::vector<int> keys(n);
        for (int& k : keys)
            k = int(rng() % unsigned(distinct));
        ASSERT_EQ(joined(fastOrder(keys)), joined(literalOrder(keys))) << "iteration " << iteration;
    }
    for (int iteration = 0; iteration < 300; ++iteration) {
        const size_t n = 50 + rng() % 400;
        const int distinct = 1 + int(rng() % (iteration % 2 ? 3 : 60));
        std::vector<int> keys(n);
        for (int& k : keys)
            k = int(rng() % unsigned(distinct));
        ASSERT_EQ(joined(fastOrder(keys)), joined(literalOrder(keys))) << "iteration " << iteration;
    }
}

TEST(ExchangeSort, ClassRanksAreDense) {
    const std::vector<std::string> texts = {"b", "a", "c", "a", "b"};
    uint32_t count = 0;
    const std::vector<uint32_t> rank = classRanks(
        texts.size(), [&](size_t a, size_t b) { return texts[a] < texts[b]; }, count);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(rank, (std::vector<uint32_t>{1, 0, 2, 0, 1}));
}

TEST(ExchangeSort, LiteralProcedureOnANonTransitiveRelation) {
    // Numbers by value when both are numbers, texts otherwise: 10 < 9 as texts, 9 < 10 as
    // numbers, "10" < "a" and "9" < "a": the procedure's own order must come out.
    struct Key {
        std::string text;
        bool number;
        double value;
    };
    std::vector<Key> keys = {{"a", false, 0}, {"10", true, 10}, {"9", true, 9}, {"A", false, 0}};
    exchangeSortLiteral(keys, [](const Key& x, const Key& y) {
        if (x.number && y.number) return x.value < y.value;
        return x.text < y.text;
    });
    std::string order;
    for (const Key& k : keys)
        order += k.text + ' ';
    EXPECT_EQ(order, "9 10 A a ");
}

// Keys from texts as the group order sees them: parsed once, ranked by code units.
std::vector<NumberOrText> mixedKeys(const std::vector<std::u16string>& texts) {
    std::vector<std::u16string> sorted = texts;
    std::sort(sorted.begin(), sorted.end());
    std::vector<NumberOrText> keys;
    for (const std::u16string& t : texts) {
        NumberOrText k;
        k.isNumber = parseNumber(std::u16string_view(t), k.number);
        k.textRank = uint32_t(std::lower_bound(sorted.begin(), sorted.end(), t) - sorted.begin());
        keys.push_back(k);
    }
    return keys;
}

std::vector<size_t> literalMixedOrder(const std::vector<std::u16string>& texts) {
    std::vector<size_t> order(texts.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::vector<double> value(texts.size());
    std::vector<bool> number(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        number[i] = parseNumber(std::u16string_view(texts[i]), value[i]);
    exchangeSortLiteral(order, [&](size_t a, size_t b) {
        if (number[a] && number[b]) return value[a] < value[b];
        return texts[a] < texts[b];
    });
    return order;
}

TEST(ExchangeSort, MixedOrderFollowsTheProcedure) {
    std::mt19937 rng(5);
    const std::vector<std::u16string> pool = {u"1",   u"10", u"9",   u"100", u"-5", u"-50", u"-6", u"0",
                                              u"1.0", u"01", u"a",   u"A",   u"1a", u"-",   u"b",  u"北京",
                                              u" 7",  u"7",  u"1,0", u"x9",  u"Z",  u"2x",  u"-1", u"-10"};
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const size_t n = rng() % (iteration % 10 == 0 ? 120 : 14);
        const size_t distinct = 1 + rng() % pool.size();
        std::vector<std::u16string> texts(n);
        for (auto& t : texts)
            t = pool[rng() % distinct];
        if (iteration % 2) { // as the group order sees them: distinct and in code-unit order
            std::sort(texts.begin(), texts.end());
            texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
        }
        const std::vector<size_t> expected = literalMixedOrder(texts);
        std::vector<size_t> order;
        ASSERT_TRUE(exchangeSortNumberOrTextOrder(mixedKeys(texts), order));
        ASSERT_EQ(joined(order), joined(expected)) << "iteration " << iteration;
        // The swap-by-swap simulation, whatever the length.
        MixedOrderLimits simulate;
        simulate.literalBelow = 0;
        simulate.maxSwaps = UINT64_MAX;
        ASSERT_TRUE(exchangeSortNumberOrTextOrder(mixedKeys(texts), order, simulate));
        ASSERT_EQ(joined(order), joined(expected)) << "iteration " << iteration << " (simulated)";
    }
}

TEST(ExchangeSort, MixedOrderGivesUpBeyondItsBudget) {
    // Descending numbers and a text that falls between them in code-unit order (2x sorts
    // after 299 and before 3), so the order is not transitive and every pass swaps often.
    std::vector<std::u16string> texts;
    for (int v = 300; v > 0; --v)
        texts.push_back(QString::number(v).toStdU16String());
    texts.push_back(u"2x");
    MixedOrderLimits tight;
    tight.literalBelow = 0;
    tight.maxSwaps = 1000;
    tight.literalUpTo = 0;
    std::vector<size_t> order = {1, 2, 3};
    EXPECT_FALSE(exchangeSortNumberOrTextOrder(mixedKeys(texts), order, tight));
    EXPECT_TRUE(order.empty());
    tight.literalUpTo = 1000; // past the budget, the procedure itself still runs
    ASSERT_TRUE(exchangeSortNumberOrTextOrder(mixedKeys(texts), order, tight));
    EXPECT_EQ(joined(order), joined(literalMixedOrder(texts)));
}

} // namespace
} // namespace quellar
