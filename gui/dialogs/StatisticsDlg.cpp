#include "dialogs/StatisticsDlg.h"

#include "table/compare/DetailsPage.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quellar {

namespace {

QTableWidgetItem* item(const QString& text, bool number = false) {
    auto* cell = new QTableWidgetItem(text);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (number) cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return cell;
}

} // namespace

StatisticsDlg::StatisticsDlg(const NamedStatistics& statistics, QWidget* parent)
    : QDialog(parent)
    , statistics_(statistics) {
    setWindowTitle(QStringLiteral("差异统计"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    sheets_ = new QComboBox(this);
    sheets_->setObjectName(QStringLiteral("sheets"));
    for (const auto& [name, s] : statistics_)
        sheets_->addItem(name);
    auto* sheetRow = new QHBoxLayout;
    sheetRow->addWidget(new QLabel(QStringLiteral("工作表"), this));
    sheetRow->addWidget(sheets_, 1);
    const bool several = statistics_.size() > 1;
    for (int i = 0; i < sheetRow->count(); ++i)
        sheetRow->itemAt(i)->widget()->setVisible(several);

    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("counts"));
    counts_->setWordWrap(true);
    table_ = new QTableWidget(0, 5, this);
    table_->setObjectName(QStringLiteral("columns"));
    table_->setHorizontalHeaderLabels(detailsStatistics(CompareStatistics()).header);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->setMinimumSize(560, 280);
    rules_ = new QLabel(this);
    rules_->setWordWrap(true);

    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sheetRow);
    layout->addWidget(counts_);
    layout->addWidget(table_, 1);
    layout->addWidget(rules_);
    layout->addLayout(buttons);

    connect(sheets_, &QComboBox::currentIndexChanged, this, &StatisticsDlg::show);
    if (!statistics_.empty()) show(0);
}

void StatisticsDlg::show(int index) {
    if (index < 0 || size_t(index) >= statistics_.size()) return;
    const CompareStatistics& s = statistics_[size_t(index)].second;
    counts_->setText(
        QStringLiteral(
            "数据行：文件一 %1，文件二 %2；配对 %3（其中有差异 %4），只在文件一 %5，只在文件二 %6。\n"
            "单元格：不同 %7，只在文件一 %8，只在文件二 %9。")
            .arg(s.rowsFile1)
            .arg(s.rowsFile2)
            .arg(s.paired)
            .arg(s.pairedWithDifferences)
            .arg(s.onlyInFile1)
            .arg(s.onlyInFile2)
            .arg(s.cellsDiffering)
            .arg(s.cellsOnlyInFile1)
            .arg(s.cellsOnlyInFile2));
    const DetailsStatistics columns = detailsStatistics(s);
    table_->setRowCount(int(columns.rows.size()));
    for (int r = 0; r < int(columns.rows.size()); ++r)
        for (int c = 0; c < int(columns.header.size()); ++c)
            table_->setItem(r, c,
                            item(columns.rows[size_t(r)].value(c), c >= 3)); // the numbers right-aligned
    const QString rules = rulesSummaryText(s.rules, s.ignoreCase);
    rules_->setText(QStringLiteral("规则：") + (rules.isEmpty() ? QStringLiteral("无") : rules));
}

} // namespace quellar
