#include "dialogs/CSumDlg.h"

#include "table/GroupSum.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>

namespace quellar {

CSumDlg::CSumDlg(const FieldList& fields, QWidget* parent)
    : ChoiceDialog(QStringLiteral("分组汇总"), parent) {
    static const QStringList labels = {QStringLiteral("第一分组"), QStringLiteral("第二分组"),
                                       QStringLiteral("第三分组"), QStringLiteral("第四分组"),
                                       QStringLiteral("第五分组"), QStringLiteral("第六分组")};
    QGroupBox* groupsBox = fieldChooserBox(this, QStringLiteral("分组条件"), labels, QStringLiteral("group"),
                                           fields, 40, groups_);
    auto* caption = new QLabel(QStringLiteral("选择要汇总的列："), this);
    sums_ = new FieldListPair(groupSumLabels(fields), this);

    auto* functionRow = new QWidget(this);
    auto* row = new QHBoxLayout(functionRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("选中列的汇总方式："), functionRow));
    function_ = new QComboBox(functionRow);
    function_->setObjectName(QStringLiteral("sumFunction"));
    for (int f = 0; f < kSumFunctionCount; ++f)
        function_->addItem(sumFunctionName(SumFunction(f)));
    row->addWidget(function_);
    row->addStretch(1);
    connect(sums_->rightList(), &QListWidget::currentRowChanged, this, &CSumDlg::showFunction);
    connect(function_, &QComboBox::currentIndexChanged, this, &CSumDlg::setFunction);
    showFunction();

    layOut({groupsBox, caption, sums_, functionRow}, QStringLiteral("汇总"));
    sums_->restoreArrowWidths();
}

void CSumDlg::showFunction() {
    const QListWidgetItem* item = sums_->rightList()->currentItem();
    function_->setEnabled(item != nullptr);
    function_->setCurrentIndex(item ? int(splitSumFunction(item->text())) : 0);
}

void CSumDlg::setFunction(int function) {
    QListWidgetItem* item = sums_->rightList()->currentItem();
    if (!item || function < 0) return;
    QString label;
    splitSumFunction(item->text(), &label);
    const SumFunction chosen = SumFunction(function);
    item->setText(chosen == SumFunction::Sum ? label : withSumFunction(label, chosen));
}

void CSumDlg::accept() {
    choice_ = GroupSumChoice{};
    choice_.groupFields = chosenFields(groups_);
    choice_.sumLabels = sums_->chosen();
    acceptIf(!choice_.groupFields.isEmpty(), QStringLiteral("请至少选择一个分组字段。"));
}

} // namespace quellar
