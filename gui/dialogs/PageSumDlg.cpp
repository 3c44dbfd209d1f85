#include "dialogs/PageSumDlg.h"

#include "dialogs/FieldListPair.h"
#include "table/PageSubtotals.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>

namespace quellar {

QStringList pageSumDialogList(const QStringList& fields) {
    return QStringList{QString::number(fields.size())} + fields;
}

PageSumDlg::PageSumDlg(const QStringList& dialogList, int proposedRows, QWidget* parent)
    : ChoiceDialog(QStringLiteral("分页汇总选项"), parent) {

    auto* box = new QGroupBox(QStringLiteral("选项"), this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);

    rows_ = new QComboBox(box);
    rows_->setObjectName(QStringLiteral("rowsPerPage"));
    for (int i = 1; i <= 99; ++i)
        rows_->addItem(QString::asprintf("%02i", i));
    rows_->setCurrentIndex(std::clamp(proposedRows < 6 ? 6 : proposedRows, 1, 99) - 1);
    auto* rowsLabel = new QLabel(QStringLiteral("分页行数："), box);
    rowsLabel->setBuddy(rows_);

    position_ = new QComboBox(box);
    position_->setObjectName(QStringLiteral("subtotalColumn"));
    for (int i = 0; i <= 9; ++i)
        position_->addItem(QString::number(i));
    position_->setCurrentIndex(2);
    auto* positionLabel = new QLabel(QStringLiteral("\"小计\"文本显示位置(列数)："), box);
    positionLabel->setBuddy(position_);

    grid->addWidget(rowsLabel, 0, 0);
    grid->addWidget(rows_, 0, 1);
    grid->addWidget(positionLabel, 1, 0);
    grid->addWidget(position_, 1, 1);

    // The dialog list: the count of fields first, then their names.
    const int count =
        std::clamp(dialogList.value(0).toInt(), 0, int(std::max<qsizetype>(dialogList.size() - 1, 0)));
    auto* caption = new QLabel(QStringLiteral("选择要汇总的列："), box);
    sums_ = new FieldListPair(pageSumLabels(dialogList.mid(1, count)), box);
    grid->addWidget(caption, 2, 0, 1, 2);
    grid->addWidget(sums_, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    layOut({box}, QStringLiteral("确定"));
    sums_->restoreArrowWidths();
}

void PageSumDlg::accept() {
    choice_.rowsPerPage = rows_->currentText();
    choice_.subtotalColumn = position_->currentText();
    choice_.pageSumLabels = sums_->chosen();
    acceptIf(!choice_.pageSumLabels.isEmpty(),
             QStringLiteral("请至少选择一个要汇总的数字列（点左边列表里的列加入右边）。"));
}

} // namespace quellar
