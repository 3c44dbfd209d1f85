#include "table/WorkbookComparison.h"

#include "workbook/RangeReader.h"

#include <utility>

namespace quellar {

namespace {

bool isSingleCell(const RangeBounds& b) {
    return b.firstRow == b.lastRow && b.firstColumn == b.lastColumn;
}

} // namespace

Status compareWorkbooks(const Workbook& b1, const Workbook& b2, const CompareOptions& contentOptions,
                        ResultSink& sink, QString& reportText, Progress& progress,
                        std::vector<BookComparePair>* pairs) {
    if (!contentOptions.compareText && !contentOptions.compareFormula &&
        !contentOptions.compareNumberFormat && !contentOptions.ignoreCase)
        return Status::cancelled();

    CompareOptions options = contentOptions;
    options.keyMode = false;
    if (pairs) pairs->clear();
    reportText.clear();

    int k = 0;
    for (const Sheet& sheetA : b1.sheets) {
        for (const Sheet& sheetB : b2.sheets) {
            if (sheetA.name != sheetB.name) continue;
            ++k;
            BookComparePair pair{k, sheetA.name, false, {}};

            const RangeBounds boundsA = clipUsedRange(sheetA);
            const RangeBounds boundsB = clipUsedRange(sheetB);
            if (isSingleCell(boundsA) || isSingleCell(boundsB)) {
                pair.skipped = true;
                if (pairs) pairs->push_back(pair);
                continue;
            }

            for (const RangeBounds& bounds : {boundsA, boundsB})
                if (Status readable = checkReadableRange(bounds); !readable.isOk())
                    return readable.withContext(QStringLiteral("工作表“%1”").arg(sheetA.name));

            const int64_t rows =
                int64_t(boundsA.lastRow - boundsA.firstRow) + (boundsB.lastRow - boundsB.firstRow);
            const int64_t step = progressStep(rows);
            progress.setText(QStringLiteral("init"));
            progress.setRange(rows);
            progress.setStep(step);
            progress.setPosition(0);
            RowTable tableA = readRange(b1, sheetA, boundsA, progress, step);
            RowTable tableB = readRange(b2, sheetB, boundsB, progress, step);

            Status compared = runTableComparison(k, sheetA.name, sink, std::move(tableA), std::move(tableB),
                                                 options, {}, reportText, progress, &pair.counts);
            if (!compared) return compared.withContext(QStringLiteral("工作表“%1”").arg(sheetA.name));
            if (pairs) pairs->push_back(pair);
        }
    }
    return Status::ok();
}

} // namespace quellar
