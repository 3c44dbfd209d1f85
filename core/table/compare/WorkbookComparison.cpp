#include "table/compare/WorkbookComparison.h"

#include "base/CellOps.h"
#include "table/compare/CompareStatistics.h"
#include "workbook/RangeReader.h"

#include <QSet>

#include <utility>

namespace quellar {

namespace {

bool isSingleCell(const RangeBounds& b) {
    return b.firstRow == b.lastRow && b.firstColumn == b.lastColumn;
}

bool hasField(const RowTable& table, const QString& field) {
    int row = -1;
    const FieldList names = findFieldRow(table, row);
    return row >= 0 && indexOfField(names, field) >= 0;
}

// The rules for one sheet pair: a field named by a rule needs to be in some of the sheets,
// not in all, so the fields this pair lacks are left out (and noted as seen where present).
CompareRules rulesForPair(const CompareRules& rules, const RowTable& a, const RowTable& b,
                          QSet<QString>& seen) {
    CompareRules pairRules = rules;
    const auto present = [&](const QString& field) {
        const bool here = hasField(a, field) || hasField(b, field);
        if (here) seen.insert(field);
        return here;
    };
    const auto keep = [&](std::vector<FieldValue>& values) {
        std::erase_if(values, [&](const FieldValue& v) { return !present(v.field); });
    };
    keep(pairRules.fieldTolerances);
    keep(pairRules.fieldRelTolerances);
    pairRules.ignoredColumns.removeIf([&](const QString& field) { return !present(field); });
    return pairRules;
}

// Before anything is compared or written: every field named by a rule must be a field of a
// sheet of some pair that will be compared. The field rows are looked for in the first rows of
// each sheet, where they are (the comparison checks again on the whole tables).
Status checkNamedFields(const Workbook& b1, const Workbook& b2,
                        const std::vector<std::pair<QString, QString>>& namedFields) {
    constexpr int32_t kHeadRows = 200;
    QSet<QString> fields;
    for (const Sheet& sheetA : b1.sheets) {
        for (const Sheet& sheetB : b2.sheets) {
            if (sheetA.name != sheetB.name) continue;
            for (const auto& [book, sheet] : {std::pair{&b1, &sheetA}, std::pair{&b2, &sheetB}}) {
                RangeBounds bounds = clipUsedRange(*sheet);
                if (isSingleCell(bounds) || !checkReadableRange(bounds).isOk()) continue;
                bounds.lastRow = std::min(bounds.lastRow, bounds.firstRow + kHeadRows - 1);
                NullProgress quiet;
                int row = -1;
                const FieldList names = findFieldRow(readRange(*book, *sheet, bounds, quiet, kHeadRows), row);
                if (row >= 0)
                    for (const QString& name : names)
                        fields.insert(name);
            }
        }
    }
    for (const auto& [field, subject] : namedFields)
        if (!fields.contains(field))
            return Status::notFound(
                QStringLiteral("%1字段“%2”不是任何一对同名工作表的字段").arg(subject, field));
    return Status::ok();
}

} // namespace

Status compareWorkbooks(const Workbook& b1, const Workbook& b2, const CompareOptions& contentOptions,
                        ResultSink& sink, QString& reportText, Progress& progress,
                        std::vector<BookComparePair>* pairs) {
    if (!contentOptions.compareText && !contentOptions.compareFormula &&
        !contentOptions.compareNumberFormat && !contentOptions.ignoreCase)
        return Status::cancelled();

    const std::vector<std::pair<QString, QString>> namedFields = contentOptions.rules.namedFields();
    if (!namedFields.empty())
        if (Status named = checkNamedFields(b1, b2, namedFields); !named.isOk()) return named;

    CompareOptions options = contentOptions;
    options.keyMode = false;
    if (pairs) pairs->clear();
    reportText.clear();

    QSet<QString> seenFields;
    int k = 0;
    for (const Sheet& sheetA : b1.sheets) {
        for (const Sheet& sheetB : b2.sheets) {
            if (sheetA.name != sheetB.name) continue;
            ++k;
            BookComparePair pair{k, sheetA.name, false, {}, {}};

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
            progress.setText(Msg::Reading);
            progress.setRange(rows);
            progress.setStep(step);
            progress.setPosition(0);
            RowTable tableA = readRange(b1, sheetA, boundsA, progress, step);
            RowTable tableB = readRange(b2, sheetB, boundsB, progress, step);

            CompareOptions pairOptions = options;
            if (!namedFields.empty())
                pairOptions.rules = rulesForPair(options.rules, tableA, tableB, seenFields);
            Status compared =
                runTableComparison(sink, progress, std::move(tableA), std::move(tableB), pairOptions, {}, k,
                                   sheetA.name, reportText, &pair.counts, pairs ? &pair.statistics : nullptr);
            if (!compared) return compared.withContext(QStringLiteral("工作表“%1”").arg(sheetA.name));
            if (pairs) pairs->push_back(pair);
        }
    }
    for (const auto& [field, subject] : namedFields)
        if (!seenFields.contains(field))
            return Status::notFound(
                QStringLiteral("%1字段“%2”不是任何一对比较的工作表的字段").arg(subject, field));
    return Status::ok();
}

} // namespace quellar
