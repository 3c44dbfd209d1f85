// The key index against the scan it replaces: each row of table 1, in order, takes the first
// free row of table 2 with an equal key. Keys are small integers so that repeats, rows left
// over on both sides and (with the poor hashes) long probe runs all occur.

#include "table/KeyIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace quellar {
namespace {

std::vector<uint32_t> scanPairs(const std::vector<int>& keys1, const std::vector<int>& keys2) {
    std::vector<uint32_t> partner(keys1.size(), KeyIndex::kNone);
    std::vector<bool> taken(keys2.size(), false);
    for (size_t i = 0; i < keys1.size(); ++i)
        for (size_t r = 0; r < keys2.size(); ++r)
            if (!taken[r] && keys2[r] == keys1[i]) {
                taken[r] = true;
                partner[i] = uint32_t(r);
                break;
            }
    return partner;
}

TEST(KeyIndex, PairsInOrderLikeTheScanWhateverTheHashes) {
    using Hash = uint64_t (*)(int);
    const Hash hashes[] = {
        [](int k) { return uint64_t(uint64_t(k) * 0x9E3779B97F4A7C15ull); }, // spread
        [](int) { return uint64_t(42); },                                    // every key collides
        [](int k) { return uint64_t(k % 3); },                               // same upper half, few slots
        [](int k) { return uint64_t(uint64_t(k % 2) << 40); }, // slots alike, upper halves differ
    };
    std::mt19937 rng(7);
    for (Hash hash : hashes) {
        for (int round = 0; round < 200; ++round) {
            const int range = 1 + int(rng() % 12);
            std::vector<int> keys1(rng() % 40), keys2(rng() % 40);
            for (int& k : keys1)
                k = int(rng() % unsigned(range));
            for (int& k : keys2)
                k = int(rng() % unsigned(range));
            std::vector<uint64_t> hashes1, hashes2;
            for (int k : keys1)
                hashes1.push_back(hash(k));
            for (int k : keys2)
                hashes2.push_back(hash(k));
            KeyIndex index(hashes2, [&](uint32_t a, uint32_t b) { return keys2[a] == keys2[b]; });
            const std::vector<uint32_t> paired =
                index.pairAll(hashes1, [&](size_t i, uint32_t r) { return keys1[i] == keys2[r]; });
            ASSERT_EQ(paired, scanPairs(keys1, keys2)) << "round " << round;
        }
    }
}

} // namespace
} // namespace quellar
