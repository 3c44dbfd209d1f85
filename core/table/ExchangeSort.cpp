#include "table/ExchangeSort.h"

#include <algorithm>
#include <limits>

namespace quellar {

namespace {

// Counts over positions 0 .. size-1 with prefix sums and "k-th present position".
class Fenwick {
public:
    void reset(size_t size, bool full) {
        tree_.assign(size + 1, 0);
        if (full) {
            // Every position present once: node i covers (i - lowbit(i), i].
            for (size_t i = 1; i <= size; ++i)
                tree_[i] = uint32_t(i & (~i + 1));
        }
        topBit_ = 1;
        while (topBit_ * 2 <= size)
            topBit_ *= 2;
    }
    void add(size_t position, int delta) {
        for (size_t i = position + 1; i < tree_.size(); i += i & (~i + 1))
            tree_[i] += uint32_t(delta);
    }
    // Number of present positions below `position`.
    size_t countBelow(size_t position) const {
        size_t sum = 0;
        for (size_t i = position; i > 0; i -= i & (~i + 1))
            sum += tree_[i];
        return sum;
    }
    // The position of the k-th present position (k counted from 0).
    size_t findNth(size_t k) const {
        size_t node = 0;
        for (size_t bit = topBit_; bit > 0; bit /= 2) {
            const size_t next = node + bit;
            if (next < tree_.size() && tree_[next] <= k) {
                node = next;
                k -= tree_[next];
            }
        }
        // `node` is the longest prefix holding at most k present positions, so the wanted
        // position is the next one: 1-based node + 1, which is `node` counted from 0.
        return node;
    }

private:
    std::vector<uint32_t> tree_;
    size_t topBit_ = 1;
};

bool mixedLess(const NumberOrText& a, const NumberOrText& b) {
    if (a.isNumber && b.isNumber) return a.number < b.number;
    return a.textRank < b.textRank;
}

// The current array of the mixed-order exchange sort, with per-node minima that tell whether
// a range of positions holds a key smaller than a given one: any key of lower text rank is
// smaller than a text; a number is also beaten by a smaller number, but by a text only
// through the text rank.
class MixedSearchTree {
public:
    explicit MixedSearchTree(const std::vector<NumberOrText>& keys)
        : keys_(keys) {
        size_ = 1;
        while (size_ < keys.size())
            size_ *= 2;
        nodes_.assign(2 * size_, Node());
        for (size_t p = 0; p < keys.size(); ++p)
            nodes_[size_ + p] = leaf(keys[p]);
        for (size_t n = size_ - 1; n > 0; --n)
            nodes_[n] = combine(nodes_[2 * n], nodes_[2 * n + 1]);
    }

    void set(size_t position, size_t key) {
        size_t n = size_ + position;
        nodes_[n] = leaf(keys_[key]);
        for (n /= 2; n > 0; n /= 2)
            nodes_[n] = combine(nodes_[2 * n], nodes_[2 * n + 1]);
    }

    // The first position >= start whose key is smaller than `current`; SIZE_MAX if none.
    size_t firstSmaller(size_t start, const NumberOrText& current) const {
        return search(1, 0, size_, start, current);
    }

private:
    struct Node {
        uint32_t minRank = std::numeric_limits<uint32_t>::max();     // over all keys
        uint32_t minTextRank = std::numeric_limits<uint32_t>::max(); // over texts
        double minNumber = std::numeric_limits<double>::infinity();  // over numbers
        bool hasNumber = false;
    };
    static Node leaf(const NumberOrText& k) {
        Node n;
        n.minRank = k.textRank;
        if (k.isNumber) {
            n.minNumber = k.number;
            n.hasNumber = true;
        } else {
            n.minTextRank = k.textRank;
        }
        return n;
    }
    static Node combine(const Node& a, const Node& b) {
        Node n;
        n.minRank = std::min(a.minRank, b.minRank);
        n.minTextRank = std::min(a.minTextRank, b.minTextRank);
        n.minNumber = std::min(a.minNumber, b.minNumber);
        n.hasNumber = a.hasNumber || b.hasNumber;
        return n;
    }
    static bool mayHoldSmaller(const Node& n, const NumberOrText& c) {
        if (!c.isNumber) return n.minRank < c.textRank;
        return n.minTextRank < c.textRank || (n.hasNumber && n.minNumber < c.number);
    }
    size_t search(size_t node, size_t lo, size_t hi, size_t start, const NumberOrText& c) const {
        if (hi <= start || !mayHoldSmaller(nodes_[node], c)) return SIZE_MAX;
        if (hi - lo == 1) return lo;
        const size_t mid = (lo + hi) / 2;
        const size_t left = search(2 * node, lo, mid, start, c);
        if (left != SIZE_MAX) return left;
        return search(2 * node + 1, mid, hi, start, c);
    }

    const std::vector<NumberOrText>& keys_;
    size_t size_ = 1;
    std::vector<Node> nodes_;
};

} // namespace

bool exchangeSortNumberOrTextOrder(const std::vector<NumberOrText>& keys, std::vector<size_t>& order,
                                   const MixedOrderLimits& limits) {
    order.clear();
    const size_t n = keys.size();
    size_t numbers = 0;
    for (const NumberOrText& k : keys)
        numbers += k.isNumber ? 1 : 0;
    if (numbers == n) {
        order = exchangeSortOrder(n, [&](size_t a, size_t b) { return keys[a].number < keys[b].number; });
        return true;
    }
    if (numbers == 0) {
        order = exchangeSortOrder(n, [&](size_t a, size_t b) { return keys[a].textRank < keys[b].textRank; });
        return true;
    }

    // Often the mixture is still a strict weak order: when the texts split the code-unit order
    // into runs of numbers whose values do not overlap from one run to the next (identifiers
    // 123 and A123: every text after every number). Then the class algorithm applies, with
    // the classes taken along that combined order.
    {
        std::vector<size_t> byCode(n);
        for (size_t p = 0; p < n; ++p)
            byCode[p] = p;
        std::sort(byCode.begin(), byCode.end(),
                  [&](size_t a, size_t b) { return keys[a].textRank < keys[b].textRank; });
        std::vector<uint32_t> classOf(n);
        uint32_t next = 0;
        bool weakOrder = true, earlierRun = false;
        double earlierMax = 0;
        for (size_t i = 0; i < n && weakOrder;) {
            if (!keys[byCode[i]].isNumber) {
                const uint32_t rank = keys[byCode[i]].textRank;
                for (; i < n && !keys[byCode[i]].isNumber && keys[byCode[i]].textRank == rank; ++i)
                    classOf[byCode[i]] = next;
                ++next;
                continue;
            }
            size_t end = i;
            while (end < n && keys[byCode[end]].isNumber)
                ++end;
            std::sort(byCode.begin() + std::ptrdiff_t(i), byCode.begin() + std::ptrdiff_t(end),
                      [&](size_t a, size_t b) { return keys[a].number < keys[b].number; });
            if (earlierRun && !(earlierMax < keys[byCode[i]].number)) weakOrder = false;
            for (size_t k = i; k < end; ++k) {
                if (k > i && keys[byCode[k - 1]].number < keys[byCode[k]].number) ++next;
                classOf[byCode[k]] = next;
            }
            ++next;
            earlierRun = true;
            earlierMax = keys[byCode[end - 1]].number;
            i = end;
        }
        if (weakOrder) {
            order = exchangeSortOrderByClass(classOf, next);
            return true;
        }
    }

    // Short lists: the procedure itself is cheapest.
    auto literal = [&] {
        order.resize(n);
        for (size_t p = 0; p < n; ++p)
            order[p] = p;
        exchangeSortLiteral(order, [&](size_t a, size_t b) { return mixedLess(keys[a], keys[b]); });
        return true;
    };
    if (n <= limits.literalBelow) return literal();

    // Pass i holds a current key at position i and swaps it with every later key smaller
    // than the current one, in position order; the tree jumps straight to the next such key.
    // Most lists need few swaps per pass; a list far from sorted needs up to n²/2 of them,
    // each costing more than a comparison of the procedure, hence the budget.
    order.resize(n);
    for (size_t p = 0; p < n; ++p)
        order[p] = p;
    MixedSearchTree tree(keys);
    uint64_t swaps = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        cancellation::pointEvery(i);
        size_t from = i + 1;
        for (;;) {
            const size_t j = tree.firstSmaller(from, keys[order[i]]);
            if (j == SIZE_MAX) break;
            cancellation::pointEvery(swaps);
            if (++swaps > limits.maxSwaps) {
                order.clear();
                if (n <= limits.literalUpTo) return literal();
                return false;
            }
            std::swap(order[i], order[j]);
            tree.set(j, order[j]);
            from = j + 1;
        }
    }
    return true;
}

std::vector<size_t> exchangeSortOrderByClass(const std::vector<uint32_t>& classOf, uint32_t classCount) {
    const size_t n = classOf.size();
    std::vector<size_t> order;
    order.reserve(n);
    if (n == 0) return order;

    // The elements of each class in input order (counting sort).
    std::vector<size_t> start(size_t(classCount) + 1, 0);
    for (uint32_t c : classOf)
        ++start[size_t(c) + 1];
    for (size_t c = 0; c < classCount; ++c)
        start[c + 1] += start[c];
    std::vector<size_t> members(n);
    {
        std::vector<size_t> fill(start.begin(), start.end() - 1);
        for (size_t i = 0; i < n; ++i)
            members[fill[classOf[i]]++] = i;
    }

    Fenwick done; // input positions of the classes already placed
    done.reset(n, false);
    size_t doneCount = 0;

    Fenwick freeSlots;            // free slots while resolving the run's insertions
    std::vector<size_t> insertAt; // per element of the class: index it was inserted at
    std::vector<size_t> run;      // the run's storage after resolving

    for (size_t c = 0; c < classCount; ++c) {
        cancellation::pointEvery(c);
        const size_t first = start[c], m = start[c + 1] - start[c];
        if (m == 0) continue;
        const size_t length = doneCount + m; // length of the projection on classes <= c

        // The run, as a cyclic array read from index `head`: rotating moves `head` on,
        // appending at the run's end inserts just before `head`. Only the insertion indexes
        // are tracked here; the contents are resolved afterwards.
        insertAt.assign(m, 0);
        size_t size = 1, head = 0;
        size_t end = done.countBelow(members[first]) + 1; // one past the run's last position
        for (size_t t = 1; t < m; ++t) {
            cancellation::pointEvery(t);                              // a class may hold most of the rows
            const size_t p = done.countBelow(members[first + t]) + t; // its projected position
            const size_t slides = p - end;
            head = (head + slides % size) % size;
            insertAt[t] = head;
            ++head;
            ++size;
            end = p + 1;
        }
        head = (head + (length - end) % size) % size;

        // Insertions resolved backwards: the last one inserted takes the insertAt-th free
        // slot of the final array, the one before the insertAt-th of those left, and so on.
        run.assign(m, 0);
        freeSlots.reset(m, true);
        for (size_t t = m; t-- > 0;) {
            const size_t slot = freeSlots.findNth(insertAt[t]);
            run[slot] = members[first + t];
            freeSlots.add(slot, -1);
        }
        for (size_t k = 0; k < m; ++k)
            order.push_back(run[(head + k) % m]);

        for (size_t t = 0; t < m; ++t)
            done.add(members[first + t], 1);
        doneCount += m;
    }
    return order;
}

} // namespace quellar
