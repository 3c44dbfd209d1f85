#include "base/Faults.h"

#include <new>

namespace quellar::faults {

namespace detail {
std::atomic<int64_t> allocationCountdown{0};

void allocationCheckpointReached() {
    // Only the checkpoint that takes the count from 1 to 0 fails, whatever thread it runs on.
    if (allocationCountdown.fetch_sub(1, std::memory_order_relaxed) == 1) throw std::bad_alloc();
}
} // namespace detail

namespace {
std::atomic<int64_t> writeLimitBytes{-1};
}

void failAllocationAt(int64_t n) {
    detail::allocationCountdown.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

void failWritesAfter(int64_t bytes) {
    writeLimitBytes.store(bytes < 0 ? -1 : bytes, std::memory_order_relaxed);
}

int64_t writeLimit() {
    return writeLimitBytes.load(std::memory_order_relaxed);
}

} // namespace quellar::faults
