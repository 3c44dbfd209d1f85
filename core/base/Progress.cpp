#include "base/Progress.h"

#include "base/StringTools.h"

namespace quellar {
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

Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, const QString& sheetNameKey,
                        const RowTable& table) {
    const int64_t step = startResultPhase(progress, table);
    StringTools texts;
    return sink.writeResult(sheetNumber, texts.text(sheetNameKey), table, progress, step);
}

Status writeResultPhase(ResultSink& sink, Progress& progress, int sheetNumber, const QString& sheetNameKey,
                        RowTable&& table) {
    const int64_t step = startResultPhase(progress, table);
    StringTools texts;
    return sink.takeResult(sheetNumber, texts.text(sheetNameKey), std::move(table), progress, step);
}

} // namespace quellar
