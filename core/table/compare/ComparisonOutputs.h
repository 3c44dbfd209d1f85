#pragma once
// The outputs that read a comparison result on its way to where it is kept: the details
// page, the tabular diff, and keeping only the rows with differences. A ComparisonSink in
// front of the result's sink (the command line's workbook, the window's result pane), so
// both comparisons get them alike. The layout is passed on to a next sink that wants it.

#include "table/compare/Comparison.h"
#include "table/compare/DetailsPage.h"
#include "table/compare/HighlighterDiff.h"

#include <QString>

#include <functional>

namespace quellar {

class ComparisonOutputs final : public ComparisonSink {
public:
    // `next` takes the result after these outputs; null when nothing else is written.
    explicit ComparisonOutputs(ResultSink* next)
        : next_(next) {}

    void keepOnlyDifferences() { onlyDifferences_ = true; }
    void writeDiff(const QString& path, const HighlighterOptions& options) {
        diffPath_ = path;
        diffOptions_ = options;
    }
    // The page gets a section per result; `sheets` names the two sheets of a result sheet.
    void addDetails(DetailsPage* page,
                    std::function<std::pair<QString, QString>(int, const QString&)> sheets) {
        details_ = page;
        sheets_ = std::move(sheets);
    }

    void takeLayout(int sheetNumber, const CompareLayout& layout) override;
    Status writeResult(int sheetNumber, const QString& sheetName, const RowTable& table, Progress& progress,
                       int64_t step) override;
    Status takeResult(int sheetNumber, const QString& sheetName, RowTable&& table, Progress& progress,
                      int64_t step) override;

private:
    ResultSink* next_;
    bool onlyDifferences_ = false;
    QString diffPath_;
    HighlighterOptions diffOptions_;
    DetailsPage* details_ = nullptr;
    std::function<std::pair<QString, QString>(int, const QString&)> sheets_;
    CompareLayout layout_;
};

} // namespace quellar
