#include "table/ExchangeSort.h"

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

} // namespace

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

    Fenwick slots;                // free slots while resolving the run's insertions
    std::vector<size_t> insertAt; // per element of the class: index it was inserted at
    std::vector<size_t> run;      // the run's storage after resolving

    for (size_t c = 0; c < classCount; ++c) {
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
        slots.reset(m, true);
        for (size_t t = m; t-- > 0;) {
            const size_t slot = slots.findNth(insertAt[t]);
            run[slot] = members[first + t];
            slots.add(slot, -1);
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
