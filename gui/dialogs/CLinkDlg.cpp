#include "dialogs/CLinkDlg.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/FieldListPair.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quellar {

CLinkDlg::CLinkDlg(const FieldList& commonFields, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("按条件合并"));

    auto* conditionsBox = new QGroupBox(QStringLiteral("合并条件"), this);
    auto* grid = new QGridLayout(conditionsBox);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);
    static const char16_t* const labels[] = {u"条件一", u"条件二", u"条件三",
                                             u"条件四", u"条件五", u"条件六"};
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromUtf16(labels[i]), conditionsBox);
        auto* combo = new QComboBox(conditionsBox);
        combo->setObjectName(QStringLiteral("condition%1").arg(i + 1));
        fillFieldChooser(combo, commonFields);
        label->setBuddy(combo);
        conditions_[size_t(i)] = combo;
        // 条件一 to 条件三 on the left, 条件四 to 条件六 on the right.
        const int row = i % 3, column = (i / 3) * 2;
        grid->addWidget(label, row, column);
        grid->addWidget(combo, row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(2, 60);

    auto* optionsBox = new QGroupBox(QStringLiteral("合并选项"), this);
    fileOne_ = new QRadioButton(QStringLiteral("当合并单元格内容不同时，选择文件一的内容"), optionsBox);
    fileTwo_ = new QRadioButton(QStringLiteral("当合并单元格内容不同时，选择文件二的内容"), optionsBox);
    sum_ = new QCheckBox(QStringLiteral("当合并单元格是数字时，汇总文件一和文件二的数字"), optionsBox);
    auto* sourceGroup = new QButtonGroup(this);
    sourceGroup->addButton(fileOne_);
    sourceGroup->addButton(fileTwo_);
    auto* options = new QVBoxLayout(optionsBox);
    options->setContentsMargins(24, 10, 16, 10);
    options->setSpacing(8);
    options->addWidget(fileOne_);
    options->addWidget(fileTwo_);
    options->addWidget(sum_);

    auto* buttons = confirmCancelRow(this, QStringLiteral("合并"), &confirm_, &cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(conditionsBox);
    layout->addWidget(optionsBox);
    layout->addLayout(buttons);
    styleOptionsDialog(this);

    fileOne_->setChecked(true);
    sum_->setChecked(false);
}

void CLinkDlg::accept() {
    choice_ = JoinChoice{};
    for (const QComboBox* combo : conditions_)
        if (combo->currentIndex() > 0) choice_.conditions.append(combo->currentText());
    choice_.options.preferFileOne = fileOne_->isChecked();
    choice_.options.sumNumbers = sum_->isChecked();
    if (choice_.conditions.isEmpty()) {
        choice_ = JoinChoice{};
        refuseConfirmation(this, QStringLiteral("请至少选择一个连接条件（两个表共有的字段）。"));
        return;
    }
    QDialog::accept();
}

} // namespace quellar
