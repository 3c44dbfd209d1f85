#include "dialogs/CLinkDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quellar {

CLinkDlg::CLinkDlg(const FieldList& commonFields, QWidget* parent)
    : ChoiceDialog(QStringLiteral("按条件合并"), parent) {
    QGroupBox* conditionsBox = fieldChooserBox(this, QStringLiteral("合并条件"), conditionLabels(),
                                               QStringLiteral("condition"), commonFields, 60, conditions_);

    auto* optionsBox = new QGroupBox(QStringLiteral("合并选项"), this);
    fileOne_ = new QRadioButton(QStringLiteral("当合并单元格内容不同时，选择文件一的内容"), optionsBox);
    fileTwo_ = new QRadioButton(QStringLiteral("当合并单元格内容不同时，选择文件二的内容"), optionsBox);
    sum_ = new QCheckBox(QStringLiteral("当合并单元格是数字时，汇总文件一和文件二的数字"), optionsBox);
    makeExclusive(this, {fileOne_, fileTwo_});
    auto* options = new QVBoxLayout(optionsBox);
    options->setContentsMargins(24, 10, 16, 10);
    options->setSpacing(8);
    options->addWidget(fileOne_);
    options->addWidget(fileTwo_);
    options->addWidget(sum_);

    layOut({conditionsBox, optionsBox}, QStringLiteral("合并"));

    fileOne_->setChecked(true);
    sum_->setChecked(false);
}

void CLinkDlg::accept() {
    choice_ = JoinChoice{};
    choice_.conditions = chosenFields(conditions_);
    choice_.options.preferFileOne = fileOne_->isChecked();
    choice_.options.sumNumbers = sum_->isChecked();
    acceptIf(!choice_.conditions.isEmpty(), QStringLiteral("请至少选择一个连接条件（两个表共有的字段）。"));
}

} // namespace quellar
