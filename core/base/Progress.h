#pragma once
// The seams through which an operation reports progress and hands over its result, so the
// cores run the same under the window (progress dialog, result pane), the command line
// (a bar on stderr, a result workbook) and the tests (nothing, or a recorder).

#include "base/Faults.h"
#include "base/MessageTable.h"
#include "base/RowTable.h"
#include "base/Status.h"

#include <QString>

#include <atomic>
#include <cstdint>

namespace quellar {

// Cancelling long work. Whoever runs work that may be cancelled (the window runs each long
// step of a command on a thread of its own) installs a flag for that thread with a
// CancelScope; the work's cancellation points on that thread then answer to the flag. The
// points are Progress::advance (every progress step of the operations and of reading a
// range) and the loops of the readers and writers of large files. Threads that do not
// install a flag, such as the command line's, are never cancelled.
namespace cancellation {
namespace detail {
extern thread_local const std::atomic<bool>* flag;
} // namespace detail

// Installs `flag` for the calling thread while it lives (the one before comes back after).
class Scope {
public:
    explicit Scope(const std::atomic<bool>* flag)
        : previous_(detail::flag) {
        detail::flag = flag;
    }
    ~Scope() { detail::flag = previous_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// The flag installed for this thread (null when none), for helper threads to install too.
inline const std::atomic<bool>* current() {
    return detail::flag;
}

// Whether the work on this thread was cancelled, for loops that end with a Status.
inline bool requested() {
    const std::atomic<bool>* flag = detail::flag;
    return flag && flag->load(std::memory_order_relaxed);
}

// Throws WorkCancelled once the work on this thread was cancelled.
inline void point() {
    if (requested()) [[unlikely]]
        throw WorkCancelled();
}

// Loops look for a cancel once every kInterval passes, counted by their own counter `n`: often
// enough to stop within milliseconds, rarely enough to cost nothing in the innermost loops.
inline constexpr uint64_t kInterval = 4096;
inline bool due(uint64_t n) {
    return (n & (kInterval - 1)) == kInterval - 1;
}
inline void pointEvery(uint64_t n) {
    if (due(n)) point();
}
inline bool requestedEvery(uint64_t n) {
    return due(n) && requested();
}
} // namespace cancellation

// A progress bar with one line of text. The operations follow one rule: the bar runs
// 0..N for N rows and is advanced by the step S = N / 100 (at least 1) once every S rows.
// Positions are 64-bit, so a million-row table shows a sensible bar.
class Progress {
public:
    virtual ~Progress() = default;
    // The line above the bar: a message-table text (Msg::Reading, Msg::Running).
    virtual void setText(Msg text) = 0;
    virtual void setRange(int64_t maximum) = 0;
    virtual void setStep(int64_t step) = 0;
    virtual void setPosition(int64_t position) = 0;
    virtual int64_t position() const = 0;
    // Called once every step rows: read the position and move it on by step. Also the point
    // where the tests' allocation-failure seam strikes, and a cancellation point.
    void advance(int64_t step) {
        faults::allocationCheckpoint();
        cancellation::point();
        setPosition(position() + step);
    }
};

// Progress that goes nowhere, for callers that show none.
class NullProgress final : public Progress {
public:
    void setText(Msg) override {}
    void setRange(int64_t) override {}
    void setStep(int64_t) override {}
    void setPosition(int64_t p) override { position_ = p; }
    int64_t position() const override { return position_; }

private:
    int64_t position_ = 0;
};

// The step for N rows: N / 100 with the remainder dropped, at least 1.
inline int64_t progressStep(int64_t rows) {
    const int64_t step = rows / 100;
    return step < 1 ? 1 : step;
}

// Where an operation's result table goes: sheet `sheetNumber` (1-based) of the result
// workbook is cleared, renamed to `sheetName` and receives `table`. Writers advance
// `progress` once per `step` rows. A failure is returned and ends the operation.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table,
                               Progress& progress, int64_t step) = 0;
    // The same, for a table the operation no longer needs: a sink that keeps tables takes it
    // over instead of copying it (a million-row result is a gigabyte of records).
    virtual Status takeResult(int sheetNumber, const QString& sheetName, RowTable&& table, Progress& progress,
                              int64_t step) {
        return writeResult(sheetNumber, sheetName, table, progress, step);
    }
};

// The result phase shared by the operations: the bar's range becomes the result's row count,
// its step progressStep(rows), its position 0, and the table is written into sheet
// `sheetNumber` of `sink` under the message-table text `sheetName`.
Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, Msg sheetName,
                        const RowTable& table);
// The same, handing the table over to the sink (ResultSink::takeResult).
Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, Msg sheetName,
                        RowTable&& table);

} // namespace quellar
