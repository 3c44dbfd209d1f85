#pragma once
// The index that pairs the rows of two tables by key, shared by the comparison and the join:
// table 2's rows grouped by key, each group a queue of row numbers in table order. Row i of
// table 1, taken in order, is paired with the first not yet paired row of table 2 whose key
// equals its own, and that row leaves its queue.
//
// What a key is (which cells, how they are hashed, when two keys are equal) is the caller's:
// it hands over one hash per row and a test of equality. Rows whose keys are equal must hash
// alike, and the equality must be an equivalence, so that taking the front of the queue of
// table 1's key is exactly the first free equal row a scan of table 2 would find. Lookups are
// hashed: pairing n rows with m rows costs O(n + m) on average.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quellar {

class KeyIndex {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // Indexes table 2 from the hashes of its keys (row order); `sameKey(a, b)` tells whether
    // rows a and b of table 2 have equal keys. Table 2 must have fewer than kNone rows.
    template <typename SameKey> KeyIndex(const std::vector<uint64_t>& hashes2, SameKey sameKey) {
        reserve(hashes2.size());
        for (size_t r = 0; r < hashes2.size(); ++r) {
            prefetch(hashes2, r + kLookAhead);
            const uint32_t row = uint32_t(r);
            Slot& slot = find(hashes2[r], [&](uint32_t other) { return sameKey(row, other); });
            append(slot, row, hashes2[r]);
        }
    }

    // For every row of table 1 in order (given by the hashes of its keys), the first not yet
    // paired row of table 2 with an equal key, or kNone; `sameKey(i, r)` tells whether row i
    // of table 1 and row r of table 2 have equal keys.
    template <typename SameKey>
    std::vector<uint32_t> pairAll(const std::vector<uint64_t>& hashes1, SameKey sameKey) {
        std::vector<uint32_t> partner(hashes1.size(), kNone);
        for (size_t i = 0; i < hashes1.size(); ++i) {
            prefetch(hashes1, i + kLookAhead);
            Slot& slot = find(hashes1[i], [&](uint32_t row2) { return sameKey(i, row2); });
            partner[i] = take(slot);
        }
        return partner;
    }

private:
    // Hashing first and probing after, with the slot a few rows ahead already on its way into
    // the cache, keeps the random accesses of a large table from stalling each other.
    static constexpr size_t kLookAhead = 16;

    struct Slot {
        uint32_t representative = kNone; // first row of the group; kNone for a free slot
        uint32_t head = kNone;           // next row to hand out
        uint32_t tail = kNone;           // last row queued
        uint32_t hash = 0;               // the upper half of the group's hash
    };

    void reserve(size_t rows);
    void append(Slot& slot, uint32_t row, uint64_t h);

    uint32_t take(Slot& slot) {
        const uint32_t row = slot.head;
        if (row != kNone) slot.head = next_[row];
        return row;
    }

    void prefetch(const std::vector<uint64_t>& hashes, size_t at) const {
        if (at < hashes.size()) __builtin_prefetch(&slots_[size_t(hashes[at]) & mask_]);
    }

    // The slot of the group whose representative `sameKey` accepts, or the free slot where
    // that group would go.
    template <typename SameKey> Slot& find(uint64_t h, SameKey sameKey) {
        for (size_t idx = size_t(h) & mask_;; idx = (idx + 1) & mask_) {
            Slot& slot = slots_[idx];
            if (slot.representative == kNone) return slot;
            if (slot.hash == uint32_t(h >> 32) && sameKey(slot.representative)) return slot;
        }
    }

    std::vector<uint32_t> next_; // per row of table 2: the next row of its group
    std::vector<Slot> slots_;
    size_t mask_ = 0;
};

} // namespace quellar
