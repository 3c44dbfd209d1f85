#include "table/compare/ComparisonOutputs.h"

#include "table/compare/DifferenceRows.h"

#include <optional>

namespace quellar {

void ComparisonOutputs::takeLayout(int sheetNumber, const CompareLayout& layout) {
    layout_ = layout;
    // Once rows are left out the layout no longer describes the rows passed on.
    if (auto* next = dynamic_cast<ComparisonSink*>(next_); next && !onlyDifferences_)
        next->takeLayout(sheetNumber, layout);
}

Status ComparisonOutputs::writeResult(int sheetNumber, const QString& sheetName, const RowTable& table,
                                      Progress& progress, int64_t step) {
    RowTable copy = table;
    return takeResult(sheetNumber, sheetName, std::move(copy), progress, step);
}

Status ComparisonOutputs::takeResult(int sheetNumber, const QString& sheetName, RowTable&& table,
                                     Progress& progress, int64_t step) {
    if (details_) {
        const auto [sheet1, sheet2] =
            sheets_ ? sheets_(sheetNumber, sheetName) : std::pair{sheetName, sheetName};
        std::optional<DetailsStatistics> columns;
        if (layout_.statistics) columns = detailsStatistics(*layout_.statistics);
        details_->addComparison(sheet1, sheet2, table, layout_, countMarks(table),
                                columns ? &*columns : nullptr);
    }
    if (!diffPath_.isEmpty())
        if (Status written = writeHighlighterDiff(table, layout_, diffOptions_, diffPath_); !written)
            return written;
    if (!next_) return Status::ok();
    if (onlyDifferences_) table = keepDifferenceRows(std::move(table), layout_.fieldResultRow());
    return next_->takeResult(sheetNumber, sheetName, std::move(table), progress, step);
}

} // namespace quellar
