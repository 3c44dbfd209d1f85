#include "table/compare/RowAlignment.h"

#include "base/Progress.h"
#include "table/compare/RowHashing.h"

#include <algorithm>
#include <exception>
#include <map>
#include <thread>

namespace quellar {

namespace {

constexpr uint32_t kNone = kNoPartner;
constexpr uint32_t kMany = kNoPartner - 1;
// From this many rows in both tables together their rows are hashed on two threads.
constexpr size_t kHashThreadFloor = 65536;
// How far ahead the passes over a stretch ask for the hash slot they will need.
constexpr uint32_t kPrefetch = 16;

struct Stretch {
    uint32_t a1, b1, a2, b2; // rows [a1, b1) of table 1 and [a2, b2) of table 2
};

class Aligner {
public:
    Aligner(const RowTable& t1, const RowTable& t2, const std::vector<ColumnPlan::Pair>& compared,
            const CompareOptions& options, const AlignmentLimits& limits)
        : t1_(t1)
        , t2_(t2)
        , compared_(compared)
        , options_(options)
        , limits_(limits)
        , partner_(t1.size(), kNone) {
        // Work for the anchor search in all stretches together: a few passes over the rows.
        budget_ = 8 * (t1.size() + t2.size()) + 65536;
    }

    RowAlignment run(int fieldRow1, int fieldRow2) {
        hashRows();
        matchEqualRows();
        fieldRow1_ = fieldRow1;
        fieldRow2_ = fieldRow2;
        RowAlignment out;
        const size_t L1 = t1_.size(), L2 = t2_.size();
        out.rows1.reserve(std::max(L1, L2) + 16);
        out.rows2.reserve(std::max(L1, L2) + 16);
        out.equal.reserve(std::max(L1, L2) + 16);
        uint32_t at1 = 0, at2 = 0;
        const auto closeGap = [&](uint32_t i, uint32_t j) {
            pairGap({at1, i, at2, j}, out);
            at1 = i;
            at2 = j;
        };
        for (uint32_t i = 0; i < L1; ++i) {
            cancellation::pointEvery(i);
            const uint32_t j = partner_[i];
            if (j == kNone) continue;
            closeGap(i, j);
            place(out, i, j, true);
            at1 = i + 1;
            at2 = j + 1;
        }
        closeGap(uint32_t(L1), uint32_t(L2));
        out.unalignedRows = unaligned_;
        return out;
    }

private:
    // ---- Hashes of the compared cells ----------------------------------------------------

    void hashRows() {
        std::vector<size_t> columns1, columns2;
        for (const ColumnPlan::Pair& pair : compared_) {
            // Numbers within a tolerance are equal without being one value: not hashed.
            if (pair.rule.numeric && options_.compareText) continue;
            columns1.push_back(pair.column1);
            columns2.push_back(pair.column2);
        }
        const KeyHasher hasher(options_);
        h1_.resize(t1_.size());
        h2_.resize(t2_.size());
        const auto hashRows = [&](const RowTable& table, const std::vector<size_t>& columns,
                                  std::vector<uint64_t>& hashes) {
            for (size_t r = 0; r < table.size(); ++r) {
                cancellation::pointEvery(r);
                hashes[r] = hasher.hashRow(table[r], columns) | 1; // 0 marks an empty slot
            }
        };
        // Hashing allocates nothing, so a second thread costs no memory even where results are
        // built on one core (the window): table 2 is hashed beside table 1.
        if (t1_.size() + t2_.size() < kHashThreadFloor) {
            hashRows(t1_, columns1, h1_);
            hashRows(t2_, columns2, h2_);
            return;
        }
        std::exception_ptr failure;
        std::thread helper([&, cancel = cancellation::current()] {
            const cancellation::Scope scope(cancel); // cancelled with the comparison
            try {
                hashRows(t2_, columns2, h2_);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            hashRows(t1_, columns1, h1_);
        } catch (...) {
            helper.join();
            throw;
        }
        helper.join();
        if (failure) std::rethrow_exception(failure);
    }

    bool equalRows(uint32_t i, uint32_t j) const {
        const Row& a = t1_[i];
        const Row& b = t2_[j];
        for (const ColumnPlan::Pair& pair : compared_)
            if (!cellsEqual(cellOf(a, pair.column1), cellOf(b, pair.column2), options_, pair.rule))
                return false;
        return true;
    }

    // The number of equal compared cells when at least `need`, else -1 (stops counting as soon
    // as too many differ).
    int similarity(uint32_t i, uint32_t j, int need) const {
        const Row& a = t1_[i];
        const Row& b = t2_[j];
        const int total = int(compared_.size());
        int same = 0, differ = 0;
        for (const ColumnPlan::Pair& pair : compared_) {
            if (cellsEqual(cellOf(a, pair.column1), cellOf(b, pair.column2), options_, pair.rule)) {
                ++same;
            } else if (++differ > total - need) {
                return -1;
            }
        }
        return same;
    }

    bool tryPair(uint32_t i, uint32_t j) {
        if (h1_[i] != h2_[j] || !equalRows(i, j)) return false;
        partner_[i] = j;
        return true;
    }

    // ---- Step 1: equal rows ----------------------------------------------------------------

    void matchEqualRows() {
        std::vector<Stretch> todo{{0, uint32_t(t1_.size()), 0, uint32_t(t2_.size())}};
        size_t tried = 0;
        while (!todo.empty()) {
            cancellation::point();
            Stretch s = todo.back();
            todo.pop_back();
            while (s.a1 < s.b1 && s.a2 < s.b2 && tryPair(s.a1, s.a2)) {
                cancellation::pointEvery(++tried);
                ++s.a1;
                ++s.a2;
            }
            while (s.a1 < s.b1 && s.a2 < s.b2 && tryPair(s.b1 - 1, s.b2 - 1)) {
                cancellation::pointEvery(++tried);
                --s.b1;
                --s.b2;
            }
            if (s.a1 == s.b1 || s.a2 == s.b2) continue;
            const size_t work = size_t(s.b1 - s.a1) + (s.b2 - s.a2);
            if (work > budget_) continue; // left to the similarity pairing
            budget_ -= work;
            if (!anchor(s, todo)) alignByEdits(s);
        }
    }

    struct Slot {
        uint64_t hash;
        uint32_t pos1;
        uint32_t pos2;
    };

    Slot& slotOf(uint64_t hash) {
        size_t at = size_t(hash) & mask_;
        while (slots_[at].hash != 0 && slots_[at].hash != hash)
            at = (at + 1) & mask_;
        return slots_[at];
    }

    // The rows that occur once in each side of the stretch, paired along their longest
    // increasing run; the stretches between them go back on `todo`. False when there is none.
    bool anchor(const Stretch& s, std::vector<Stretch>& todo) {
        size_t capacity = 16;
        while (capacity < 2 * size_t(s.b1 - s.a1))
            capacity *= 2;
        slots_.assign(capacity, Slot{0, kNone, kNone});
        mask_ = capacity - 1;
        const auto prefetch = [&](const std::vector<uint64_t>& hashes, uint32_t at, uint32_t end) {
            if (at + kPrefetch < end) __builtin_prefetch(&slots_[size_t(hashes[at + kPrefetch]) & mask_]);
        };
        for (uint32_t i = s.a1; i < s.b1; ++i) {
            prefetch(h1_, i, s.b1);
            Slot& slot = slotOf(h1_[i]);
            slot.pos1 = slot.hash == 0 ? i : kMany;
            slot.hash = h1_[i];
        }
        for (uint32_t j = s.a2; j < s.b2; ++j) {
            prefetch(h2_, j, s.b2);
            Slot& slot = slotOf(h2_[j]);
            if (slot.hash == 0) continue; // not in table 1; the slot stays empty
            slot.pos2 = slot.pos2 == kNone ? j : kMany;
        }
        // Candidates in table 1's order; the longest run increasing in table 2 (patience).
        std::vector<std::pair<uint32_t, uint32_t>> unique;
        for (uint32_t i = s.a1; i < s.b1; ++i) {
            prefetch(h1_, i, s.b1);
            const Slot& slot = slotOf(h1_[i]);
            if (slot.pos1 == i && slot.pos2 < kMany) unique.emplace_back(i, slot.pos2);
        }
        slots_.clear();
        if (unique.empty()) return false;
        std::vector<uint32_t> tails;                 // index in `unique` ending a run of each length
        std::vector<uint32_t> before(unique.size()); // the previous element of its run
        for (uint32_t k = 0; k < unique.size(); ++k) {
            const auto at = std::lower_bound(tails.begin(), tails.end(), unique[k].second,
                                             [&](uint32_t t, uint32_t j) { return unique[t].second < j; });
            before[k] = at == tails.begin() ? kNone : *(at - 1);
            if (at == tails.end())
                tails.push_back(k);
            else
                *at = k;
        }
        std::vector<uint32_t> run;
        for (uint32_t k = tails.back(); k != kNone; k = before[k])
            run.push_back(k);
        std::reverse(run.begin(), run.end());
        uint32_t a1 = s.a1, a2 = s.a2;
        for (uint32_t k : run) {
            const auto [i, j] = unique[k];
            if (!equalRows(i, j)) continue; // the check turned it down: part of a stretch
            if (i > a1 || j > a2) todo.push_back({a1, i, a2, j});
            partner_[i] = j;
            a1 = i + 1;
            a2 = j + 1;
        }
        if (a1 == s.a1 && a2 == s.a2) return false; // every anchor was turned down
        if (a1 < s.b1 || a2 < s.b2) todo.push_back({a1, s.b1, a2, s.b2});
        return true;
    }

    // The O(ND) alignment (forward, keeping each round's furthest points to trace the path
    // back), up to maxEdits inserted and deleted rows; beyond that the stretch stays a gap.
    void alignByEdits(const Stretch& s) {
        const int n = int(s.b1 - s.a1), m = int(s.b2 - s.a2);
        const int maxD = int(std::min<size_t>(limits_.maxEdits, size_t(n + m)));
        if (size_t(n + m) * size_t(maxD) > budget_ * 4 + 65536) return;
        const int offset = maxD + 1;
        std::vector<int> v(size_t(2 * maxD + 3), 0);
        std::vector<std::vector<int>> trace;
        int found = -1;
        for (int d = 0; d <= maxD && found < 0; ++d) {
            cancellation::point(); // a round walks d diagonals
            trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
            for (int k = -d; k <= d; k += 2) {
                int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                            ? v[offset + k + 1]
                            : v[offset + k - 1] + 1;
                int y = x - k;
                while (x < n && y < m && h1_[s.a1 + uint32_t(x)] == h2_[s.a2 + uint32_t(y)]) {
                    ++x;
                    ++y;
                }
                v[offset + k] = x;
                if (x >= n && y >= m) {
                    found = d;
                    break;
                }
            }
        }
        if (found < 0) return;
        int x = n, y = m;
        for (int d = found; d >= 0; --d) {
            const std::vector<int>& before = trace[size_t(d)]; // the points before round d, k in [-d, d]
            const auto at = [&](int k) { return before[size_t(k + d)]; };
            int prevX = 0, prevY = 0;
            if (d > 0) {
                const int k = x - y;
                const int prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
                prevX = at(prevK);
                prevY = prevX - prevK;
                // The step of round d leads from the previous point to (startX, startY).
                const int startX = prevK == k + 1 ? prevX : prevX + 1;
                const int startY = startX - k;
                pairDiagonal(s, startX, startY, x, y);
                x = prevX;
                y = prevY;
            } else {
                pairDiagonal(s, 0, 0, x, y);
            }
        }
    }

    // Pairs the rows along the diagonal from (x0, y0) to (x1, y1) of a stretch, each checked.
    void pairDiagonal(const Stretch& s, int x0, int y0, int x1, int y1) {
        for (int x = x0, y = y0; x < x1 && y < y1; ++x, ++y) {
            const uint32_t i = s.a1 + uint32_t(x), j = s.a2 + uint32_t(y);
            if (equalRows(i, j)) partner_[i] = j;
        }
    }

    // ---- Step 2: the gaps between equal rows ----------------------------------------------

    void place(RowAlignment& out, uint32_t i, uint32_t j, bool equal) {
        out.rows1.push_back(i);
        out.rows2.push_back(j);
        out.equal.push_back(equal ? 1 : 0);
    }

    // Emits the rows of a gap: each similar pair after the one-sided rows before it.
    void pairGap(const Stretch& s, RowAlignment& out) {
        if (s.a1 == s.b1 && s.a2 == s.b2) return;
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
        similarPairs(s, pairs);
        uint32_t at1 = s.a1, at2 = s.a2;
        const auto oneSided = [&](uint32_t to1, uint32_t to2) {
            for (; at1 < to1; ++at1)
                place(out, at1, kNone, false);
            for (; at2 < to2; ++at2)
                place(out, kNone, at2, false);
        };
        for (const auto& [i, j] : pairs) {
            oneSided(i, j);
            place(out, i, j, false);
            at1 = i + 1;
            at2 = j + 1;
        }
        oneSided(s.b1, s.b2);
    }

    // The similar pairs of a gap in order.
    void similarPairs(const Stretch& s, std::vector<std::pair<uint32_t, uint32_t>>& pairs) {
        if (s.a1 == s.b1 || s.a2 == s.b2) return;
        const uint32_t f1 = uint32_t(fieldRow1_), f2 = uint32_t(fieldRow2_);
        if (fieldRow1_ >= 0 && fieldRow2_ >= 0 && f1 >= s.a1 && f1 < s.b1 && f2 >= s.a2 && f2 < s.b2) {
            similarPairs({s.a1, f1, s.a2, f2}, pairs);
            pairs.emplace_back(f1, f2);
            similarPairs({f1 + 1, s.b1, f2 + 1, s.b2}, pairs);
            return;
        }
        const size_t n = s.b1 - s.a1, m = s.b2 - s.a2;
        if (std::min(n, m) > limits_.maxGapSide) {
            for (uint32_t k = 0; k < std::min(n, m); ++k)
                pairs.emplace_back(s.a1 + k, s.a2 + k);
            unaligned_ += int64_t(std::max(n, m));
            return;
        }
        const int need = int((compared_.size() + 1) / 2);
        struct Candidate {
            int score;
            uint32_t i, j;
        };
        std::vector<Candidate> candidates;
        const auto consider = [&](uint32_t i, uint32_t j) {
            if (const int score = similarity(i, j, need); score >= 0) candidates.push_back({score, i, j});
        };
        if (n * m <= limits_.fullPairs) {
            for (uint32_t i = s.a1; i < s.b1; ++i) {
                cancellation::point(); // a row against every row of the other side
                for (uint32_t j = s.a2; j < s.b2; ++j)
                    consider(i, j);
            }
        } else {
            // Each row of the shorter side against the rows near its place on the longer side.
            const bool shorter1 = n <= m;
            const size_t shortLength = shorter1 ? n : m, longLength = shorter1 ? m : n;
            const size_t reach = limits_.window + (longLength + shortLength - 1) / shortLength;
            for (size_t k = 0; k < shortLength; ++k) {
                if ((k & 63) == 63) cancellation::point();
                const size_t centre = k * longLength / shortLength;
                const size_t from = centre > reach ? centre - reach : 0;
                const size_t to = std::min(longLength, centre + reach + 1);
                for (size_t l = from; l < to; ++l) {
                    if (shorter1)
                        consider(s.a1 + uint32_t(k), s.a2 + uint32_t(l));
                    else
                        consider(s.a1 + uint32_t(l), s.a2 + uint32_t(k));
                }
            }
        }
        std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            if (a.score != b.score) return a.score > b.score;
            return a.i != b.i ? a.i < b.i : a.j < b.j;
        });
        // The most similar first; a pair that would cross one taken is passed over.
        std::map<uint32_t, uint32_t> taken;
        for (const Candidate& c : candidates) {
            const auto next = taken.lower_bound(c.i);
            if (next != taken.end() && (next->first == c.i || next->second <= c.j)) continue;
            if (next != taken.begin() && std::prev(next)->second >= c.j) continue;
            taken.emplace_hint(next, c.i, c.j);
        }
        pairs.insert(pairs.end(), taken.begin(), taken.end());
    }

    const RowTable& t1_;
    const RowTable& t2_;
    const std::vector<ColumnPlan::Pair>& compared_;
    const CompareOptions& options_;
    const AlignmentLimits& limits_;
    std::vector<uint64_t> h1_, h2_;
    std::vector<uint32_t> partner_; // per row of table 1: the equal row of table 2
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t budget_ = 0;
    int fieldRow1_ = -1, fieldRow2_ = -1;
    int64_t unaligned_ = 0;
};

} // namespace

RowAlignment alignRows(const RowTable& t1, const RowTable& t2, const std::vector<ColumnPlan::Pair>& compared,
                       const CompareOptions& options, int fieldRow1, int fieldRow2,
                       const AlignmentLimits& limits) {
    return Aligner(t1, t2, compared, options, limits).run(fieldRow1, fieldRow2);
}

} // namespace quellar
