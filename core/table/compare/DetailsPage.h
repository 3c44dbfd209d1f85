#pragma once
// The details page of a comparison (report-details.htm): what report.htm counts, listed.
//
// One self-contained UTF-8 HTML page, no scripts and nothing loaded from elsewhere: the two
// files, the rules in force, then for each compared table pair its sheets, its counts, the
// per-column statistics when there are any, every changed row (its key, or its row
// numbers when rows are paired by position, and "old → new" for each changed cell), the
// rows only in file 1 and the rows only in file 2. Each list stops after kListLimit rows
// with a line saying how many more there are. Every text is HTML-escaped. The style sheet
// prints on A4 and follows a dark colour scheme when the browser asks for one.

#include "base/Status.h"
#include "table/compare/Comparison.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace quellar {

// Per-column statistics as the page shows them: a header and rows of texts.
struct DetailsStatistics {
    QStringList header;
    std::vector<QStringList> rows;
};

// The statistics' columns as the page and the 差异统计 dialog show them.
DetailsStatistics detailsStatistics(const CompareStatistics& statistics);

// The rules of the comparison as lines of text (content compared, case, pairing, keys).
QStringList describeCompareRules(const CompareOptions& options, const QStringList& keys);

class DetailsPage {
public:
    static constexpr size_t kListLimit = 10000;

    DetailsPage(const QString& title, const QString& file1, const QString& file2, const QStringList& rules);

    // One compared pair: its sheet names, the result with its layout and counts, and the
    // statistics when they were built (may be null).
    void addComparison(const QString& sheet1, const QString& sheet2, const RowTable& result,
                       const CompareLayout& layout, const CompareCounts& counts,
                       const DetailsStatistics* statistics = nullptr);

    QString html() const;
    // Writes html() as UTF-8 through a temporary file.
    Status write(const QString& path) const;

private:
    QString title_;
    QString head_;
    QString sections_;
};

} // namespace quellar
