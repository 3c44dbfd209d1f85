// The fast exchange-sort order against the procedure itself: fixed cases whose order is
// easy to follow by hand, then many random arrays with few distinct values (ties
// everywhere), small and larger.

#include "table/ExchangeSort.h"

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

} // namespace
} // namespace quellar
