#include "base/ParallelRows.h"

#include <atomic>

namespace quellar {
namespace {
std::atomic<size_t> floorRows{kParallelRowsOff};
} // namespace

size_t parallelRowFloor() {
    return floorRows.load(std::memory_order_relaxed);
}

void setParallelRowFloor(size_t rows) {
    floorRows.store(rows, std::memory_order_relaxed);
}

} // namespace quellar
