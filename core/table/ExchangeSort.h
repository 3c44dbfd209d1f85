#pragma once
// The order left by the plain exchange sort
//
//     for i = 0 .. n-2: for j = i+1 .. n-1: if less(a[j], a[i]) swap(a[i], a[j])
//
// computed in O(n log n). The exchange sort is not stable, and several operations show its
// exact order (three rows B1, B2, A sorted by key come out A, B2, B1), so a faster sort must
// reproduce its permutation, not just any sorted order.
//
// How: elements are put into classes of equal keys. The smallest class keeps its input
// order. For a class c, only the elements not greater than c decide where c's elements end
// up, and c is the largest class among them: it moves as a "run" that each pass rotates by
// one and slides one position on, swallowing later elements of c as it reaches them. The
// run is simulated event by event (between two elements of c), the rotations are recorded as
// "insert at index" operations and resolved offline with a Fenwick tree. Valid whenever
// `less` is a strict weak order; for relations that are not, exchangeSortLiteral runs the
// procedure itself.
//
// All functions are pure; nothing is kept between calls. They do not fail; their long loops are
// cancellation points (base/Progress.h), where a cancelled thread's work ends with WorkCancelled.

#include "base/Progress.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <numeric>
#include <utility>
#include <vector>

namespace quellar {

// The final order given class ranks: classOf[i] is the rank (0 = smallest) of element i's
// equivalence class, every rank below classCount. Returns order[pos] = input index of the
// element that the exchange sort leaves at position pos.
std::vector<size_t> exchangeSortOrderByClass(const std::vector<uint32_t>& classOf, uint32_t classCount);

// Dense class ranks (0 = smallest) for n elements under a strict weak order, by sorting the
// indexes once. classCount receives the number of classes.
template <typename Less> std::vector<uint32_t> classRanks(size_t n, Less&& less, uint32_t& classCount) {
    std::vector<uint32_t> index(n);
    std::iota(index.begin(), index.end(), uint32_t(0));
    std::sort(index.begin(), index.end(), [&](uint32_t a, uint32_t b) { return less(size_t(a), size_t(b)); });
    std::vector<uint32_t> rank(n);
    uint32_t current = 0;
    for (size_t p = 0; p < n; ++p) {
        if (p > 0 && less(size_t(index[p - 1]), size_t(index[p]))) ++current;
        rank[index[p]] = current;
    }
    classCount = n == 0 ? 0 : current + 1;
    return rank;
}

// The exchange sort's order of elements 0 .. n-1 under `less` (a strict weak order on
// element indexes): order[pos] = input index of the element left at position pos.
template <typename Less> std::vector<size_t> exchangeSortOrder(size_t n, Less&& less) {
    uint32_t classCount = 0;
    const std::vector<uint32_t> rank = classRanks(n, less, classCount);
    return exchangeSortOrderByClass(rank, classCount);
}

inline std::vector<size_t> exchangeSortOrder(size_t n, const std::function<bool(size_t, size_t)>& less) {
    return exchangeSortOrder<const std::function<bool(size_t, size_t)>&>(n, less);
}

// A key under the mixed order of key texts: two numbers (by the strict number rule) compare
// by value, any other pair by the code units of their texts. textRank is the text's place in
// code-unit order (equal texts, equal ranks).
struct NumberOrText {
    bool isNumber = false;
    double number = 0;
    uint32_t textRank = 0;
};

// How much work the mixed order may take before it gives up.
struct MixedOrderLimits {
    size_t literalBelow = 2000;    // lists this short run the procedure itself
    uint64_t maxSwaps = 8'000'000; // swap budget of the swap-by-swap simulation
    size_t literalUpTo = 50'000;   // past the budget the procedure still runs on lists this short
};

// The exchange sort's order of `keys` (in their given order) under the mixed order. When
// the order is a strict weak order (only numbers, only texts, or texts that do not fall
// between numbers of overlapping values, such as 123 and A123) the O(n log n) class
// algorithm is used. Otherwise it is not transitive and the procedure decides: on short
// lists it runs as written; on long ones it is followed swap by swap, each pass finding its
// next swap through a segment tree over positions, O((n + swaps) log n). Returns false,
// leaving `order` empty, when a long list is so far from sorted that it would take more
// than the limits allow (minutes or hours): the caller reports that instead of hanging.
bool exchangeSortNumberOrTextOrder(const std::vector<NumberOrText>& keys, std::vector<size_t>& order,
                                   const MixedOrderLimits& limits = {});

// The procedure itself, on a list of values, for relations that need not be transitive
// (such as the mixed order of numbers and texts). Quadratic: meant for short lists.
template <typename T, typename Less> void exchangeSortLiteral(std::vector<T>& values, Less&& less) {
    const size_t n = values.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        if ((i & 63) == 63) cancellation::point(); // a pass holds up to n comparisons
        for (size_t j = i + 1; j < n; ++j)
            if (less(values[j], values[i])) std::swap(values[i], values[j]);
    }
}

} // namespace quellar
