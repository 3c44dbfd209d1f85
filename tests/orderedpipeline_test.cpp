// OrderedPipeline: pieces come back complete and in order whoever works on them, a helper's
// failed piece is done again, and a delivery that fails stops the run.

#include "base/OrderedPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace quellar {
namespace {

struct Numbered {
    int number = -1;
    std::string text;
    int attempts = 0;
};

// Runs `pieces` pieces through a pipeline; work fails on helper threads for every third
// piece's first attempt. Returns the texts in the order they were emitted.
std::vector<std::string> runPieces(int helpers, int pieces, int stopAfter = -1) {
    const std::thread::id caller = std::this_thread::get_id();
    int next = 0;
    std::vector<std::string> emitted;
    OrderedPipeline<Numbered> pipeline(helpers);
    pipeline.run(
        [&](Numbered& piece) {
            if (next == pieces) return false;
            piece.number = next++;
            piece.attempts = 0;
            return true;
        },
        [&](Numbered& piece) {
            ++piece.attempts;
            if (piece.number % 3 == 0 && piece.attempts == 1 && std::this_thread::get_id() != caller)
                throw std::bad_alloc();
            piece.text = std::string(size_t(piece.number % 7), 'x') + std::to_string(piece.number);
        },
        [&](Numbered& piece) {
            emitted.push_back(piece.text);
            return int(emitted.size()) != stopAfter;
        });
    return emitted;
}

TEST(OrderedPipeline, PiecesComeBackInOrderWhoeverWorksOnThem) {
    for (int helpers : {0, 1, 2}) {
        for (int pieces : {0, 1, 3, 4, 5, 57}) {
            const std::vector<std::string> emitted = runPieces(helpers, pieces);
            ASSERT_EQ(int(emitted.size()), pieces) << helpers;
            for (int i = 0; i < pieces; ++i)
                EXPECT_EQ(emitted[size_t(i)], std::string(size_t(i % 7), 'x') + std::to_string(i)) << helpers;
        }
    }
}

TEST(OrderedPipeline, AFailedDeliveryStopsTheRun) {
    for (int helpers : {0, 2})
        EXPECT_EQ(runPieces(helpers, 40, 6).size(), 6u) << helpers;
}

TEST(OrderedPipeline, AFailureOnTheCallingThreadEndsTheRun) {
    int next = 0;
    OrderedPipeline<Numbered> pipeline(1);
    EXPECT_THROW(pipeline.run([&](Numbered& piece) { return (piece.number = next++) < 30; },
                              [&](Numbered&) { throw std::bad_alloc(); }, [](Numbered&) { return true; }),
                 std::bad_alloc);
}

} // namespace
} // namespace quellar
