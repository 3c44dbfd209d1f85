// The main window's part in the comparison statistics: it keeps the statistics of the last
// comparison, names the rules and the most different column in the status line, and shows
// the 差异统计 dialog from the 工具 menu.

#include "app/CQuellarDlg.h"

#include <QAction>

namespace quellar {

QAction* CQuellarDlg::statisticsAction() {
    if (!statisticsAction_) {
        statisticsAction_ = new QAction(QStringLiteral("差异统计"), this);
        statisticsAction_->setToolTip(QStringLiteral("上一次对比每一列的差异数和最大差值"));
        statisticsAction_->setEnabled(false);
        connect(statisticsAction_, &QAction::triggered, this, &CQuellarDlg::showStatistics);
    }
    return statisticsAction_;
}

QString CQuellarDlg::keepStatistics(NamedStatistics statistics) {
    statistics_ = std::move(statistics);
    statisticsAction()->setEnabled(!statistics_.empty());
    std::vector<std::pair<QString, const CompareStatistics*>> sheets;
    for (const auto& [name, s] : statistics_)
        sheets.emplace_back(name, &s);
    const QString text = statisticsStatusText(sheets);
    return text.isEmpty() ? text : u' ' + text;
}

void CQuellarDlg::showStatistics() {
    if (!statistics_.empty()) prompts_->showStatistics(this, statistics_);
}

} // namespace quellar
