#include "base/Progress.h"

namespace quellar {

namespace cancellation::detail {
thread_local const std::atomic<bool>* flag = nullptr;
} // namespace cancellation::detail

namespace {

int64_t startResultPhase(Progress& progress, const RowTable& table) {
    const int64_t rows = int64_t(table.size());
    const int64_t step = progressStep(rows);
    progress.setRange(rows);
    progress.setStep(step);
    progress.setPosition(0);
    return step;
}

} // namespace

Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, Msg sheetName,
                        const RowTable& table) {
    const int64_t step = startResultPhase(progress, table);
    return sink.writeResult(sheetNumber, MessageTable::text(sheetName), table, progress, step);
}

Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, Msg sheetName,
                        RowTable&& table) {
    const int64_t step = startResultPhase(progress, table);
    return sink.takeResult(sheetNumber, MessageTable::text(sheetName), std::move(table), progress, step);
}

} // namespace quellar
