#pragma once
// Failure seams for the tests: an allocation failure and a device that fills up, neither of
// which can be provoked at will. Production code only passes the checkpoints; nothing fails
// unless a test arms a seam, and an unarmed checkpoint costs one relaxed atomic load.

#include <atomic>
#include <cstdint>

namespace quellar::faults {

// Arms an allocation failure: the n-th checkpoint from now (1 = the next) throws
// std::bad_alloc, as if the allocation made there had failed; the later ones pass again.
// Checkpoints are every progress step of the operations and of reading a range, and the
// start of every workbook read or conversion. 0 disarms.
void failAllocationAt(int64_t n);

// Arms a full device: every output file written through OutputFile accepts `bytes` bytes
// and then fails its writes with "No space left on device". -1 disarms.
void failWritesAfter(int64_t bytes);
int64_t writeLimit();

namespace detail {
extern std::atomic<int64_t> allocationCountdown;
void allocationCheckpointReached();
} // namespace detail

// Throws std::bad_alloc when the armed count runs out here.
inline void allocationCheckpoint() {
    if (detail::allocationCountdown.load(std::memory_order_relaxed) > 0) [[unlikely]]
        detail::allocationCheckpointReached();
}

} // namespace quellar::faults
