#pragma once
// Building a large result on two cores: the cores split the rows of a result in two halves
// when each row depends only on its own sources (a comparison's or a join's rows once the
// pairing is done), so the output is the same whichever way it is built.

#include "base/Progress.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>

namespace quellar {

// From this many rows on results are built on two cores; by default never. A program turns it
// on when its heap lets the rest of the work reuse the memory the second thread allocates and
// frees (the command line, with jemalloc); with glibc's heap, as in the window, that memory
// would stay apart and raise the peak. The tests set it to run small tables both ways.
constexpr size_t kParallelRowsOff = size_t(-1);
size_t parallelRowFloor();
void setParallelRowFloor(size_t rows);

// Runs body(from, to, half) over rows [0, n): from parallelRowFloor() rows on, the second half
// (half 1) on a second thread while this thread does the first (half 0). An exception on
// either side is rethrown here once both halves have stopped.
template <typename Body> void buildInHalves(size_t n, Body body) {
    if (n < parallelRowFloor()) {
        body(size_t(0), n, 0);
        return;
    }
    std::exception_ptr failure;
    // The second half answers to the same cancellation as this thread.
    const std::atomic<bool>* const cancel = cancellation::current();
    std::thread helper([&] {
        const cancellation::Scope scope(cancel);
        try {
            body(n / 2, n, 1);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        body(size_t(0), n / 2, 0);
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace quellar
