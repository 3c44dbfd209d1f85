#pragma once
// OrderedPipeline: work cut into pieces that are prepared one after the other, worked on in
// parallel, and handed back in their order, all on the calling thread except the work. It is
// how a large output (the rows of a CSV table, of an XML Spreadsheet sheet) is formatted on
// two cores while one thread writes it out in order.
//
// Pieces go round a ring of kSlots slots: a slot is refilled only after its piece has been
// handed back, so memory stays bounded however much work there is. Helper threads take the
// pieces in order; the calling thread, while it waits for the next piece to hand back, takes
// a piece nobody has started yet (the one it waits for, or a later one), so it never sits idle
// while work is left and everything still gets done when no helper thread can be started.
// Whoever works on a piece, the pieces handed back are the same.
//
//   fill(Piece&) -> bool      on the calling thread: prepares the next piece in a slot (which
//                             may hold an earlier piece); false when there is no more work.
//   work(Piece&)              on any thread, several at once on different pieces: the work on
//                             one piece; it may only read what the pieces share. A helper's
//                             work that throws (out of memory) is done again by the calling
//                             thread, where an exception ends run().
//   deliver(Piece&) -> bool   on the calling thread, in order: takes a finished piece; false
//                             stops the run early (the output failed).

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace quellar {

template <typename Piece, size_t kSlots = 4> class OrderedPipeline {
public:
    explicit OrderedPipeline(int helpers)
        : helperCount_(helpers) {}
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    template <typename Fill, typename Work, typename Deliver>
    void run(Fill&& fill, Work&& work, Deliver&& deliver) {
        // The first pieces are queued before the helpers start.
        while (produced_ < kSlots && more_) {
            if (fill(slotOf(produced_).piece))
                ++produced_;
            else
                more_ = false;
        }
        Helpers<std::remove_reference_t<Work>> helpers(*this, work);
        for (size_t written = 0; written < produced_; ++written) {
            Slot& slot = slotOf(written);
            std::unique_lock lock(mutex_);
            while (!slot.finished) {
                if (taken_ < produced_) { // a piece nobody has started: this one or a later one
                    Slot& next = slotOf(taken_++);
                    lock.unlock();
                    work(next.piece);
                    lock.lock();
                    next.finished = true;
                    next.failed = false;
                    continue;
                }
                done_.wait(lock);
            }
            const bool failed = slot.failed;
            lock.unlock();
            if (failed) work(slot.piece);
            if (!deliver(slot.piece)) break;
            // The slot takes the next piece: sequence number written + kSlots.
            lock.lock();
            slot.finished = false;
            slot.failed = false;
            if (!more_) continue;
            lock.unlock();
            const bool filled = fill(slot.piece);
            lock.lock();
            if (filled) {
                ++produced_;
                ready_.notify_one();
            } else {
                more_ = false;
            }
        }
    }

private:
    struct Slot {
        Piece piece;
        bool finished = false; // worked on, ready to hand back
        bool failed = false;   // a helper's work threw: the calling thread does it again
    };

    Slot& slotOf(size_t sequence) { return slots_[sequence % kSlots]; }

    // Starts the helper threads and, however run() ends, stops and joins them.
    template <typename Work> class Helpers {
    public:
        Helpers(OrderedPipeline& pipeline, Work& work)
            : pipeline_(pipeline) {
            try {
                for (int i = 0; i < pipeline.helperCount_; ++i)
                    threads_.emplace_back([&pipeline, &work] { pipeline.help(work); });
            } catch (const std::system_error&) {
                // No threads to be had: the calling thread does every piece itself.
            }
        }
        ~Helpers() {
            {
                std::lock_guard lock(pipeline_.mutex_);
                pipeline_.stop_ = true;
            }
            pipeline_.ready_.notify_all();
            for (std::thread& thread : threads_)
                thread.join();
        }
        Helpers(const Helpers&) = delete;
        Helpers& operator=(const Helpers&) = delete;

    private:
        OrderedPipeline& pipeline_;
        std::vector<std::thread> threads_;
    };

    template <typename Work> void help(Work& work) {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return stop_ || taken_ < produced_; });
            if (stop_) return;
            Slot& slot = slotOf(taken_++);
            lock.unlock();
            bool failed = false;
            try {
                work(slot.piece);
            } catch (...) {
                failed = true;
            }
            lock.lock();
            slot.finished = true;
            slot.failed = failed;
            done_.notify_all();
        }
    }

    const int helperCount_;
    Slot slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable ready_; // a piece to work on, or stop
    std::condition_variable done_;  // a piece finished
    size_t produced_ = 0;           // pieces queued so far (sequence numbers)
    size_t taken_ = 0;              // pieces a thread has started
    bool more_ = true;              // fill has more pieces
    bool stop_ = false;
};

} // namespace quellar
