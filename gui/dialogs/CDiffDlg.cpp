#include "dialogs/CDiffDlg.h"

#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace quellar {

CDiffDlg::CDiffDlg(const FieldList& fields, QWidget* parent)
    : ComparisonDialog(QStringLiteral("对比选项"), parent) {
    // 文本, 公式 and 数值格式 in a row, 忽略大小写 under 文本.
    QGroupBox* content = createContentBox(QStringLiteral("对比内容"), QMargins(40, 10, 16, 10), QSize(28, -1),
                                          {QPoint(0, 0), QPoint(0, 1), QPoint(0, 2), QPoint(1, 0)});

    auto* mode = new QGroupBox(QStringLiteral("对比方式"), this);
    keyMode_ = new QRadioButton(QStringLiteral("按对比字段"), mode);
    positional_ = new QRadioButton(QStringLiteral("按每行每列"), mode);
    makeExclusive(this, {keyMode_, positional_});
    // 识别插入和删除的行 belongs to 按每行每列: under it.
    auto* modeGrid = new QGridLayout(mode);
    modeGrid->setContentsMargins(40, 10, 16, 10);
    modeGrid->setHorizontalSpacing(28);
    modeGrid->addWidget(keyMode_, 0, 0);
    modeGrid->addWidget(positional_, 0, 1);
    modeGrid->addWidget(createAlignRows(mode), 1, 1);
    modeGrid->setColumnStretch(2, 1);

    QGroupBox* keysBox = fieldChooserBox(this, QStringLiteral("对比字段"), conditionLabels(),
                                         QStringLiteral("chooser"), fields, 60, choosers_);
    createRules();
    layOut({content, mode, keysBox, rules_, error_}, QStringLiteral("对比"));

    text_->setChecked(true);
    keyMode_->setChecked(true);
    connect(text_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) ignoreCase_->setChecked(false);
        updateEnabling();
    });
    connect(keyMode_, &QRadioButton::toggled, this, &CDiffDlg::updateEnabling);
    updateEnabling();
}

void CDiffDlg::updateEnabling() {
    ignoreCase_->setEnabled(text_->isChecked());
    const bool keyMode = keyMode_->isChecked();
    for (QComboBox* combo : choosers_)
        combo->setEnabled(keyMode);
    rules_->setColumnsByNameAvailable(!keyMode);
    alignRows_->setEnabled(!keyMode);
}

void CDiffDlg::accept() {
    if (!readContent()) return;
    options_.keyMode = keyMode_->isChecked();
    options_.alignRows = options_.alignRows && !options_.keyMode;
    // Only a chosen list entry counts; the keys are collected in both modes.
    keys_ = chosenFields(choosers_);
    if (options_.keyMode && keys_.isEmpty()) {
        refuseConfirmation(this, QStringLiteral("请至少选择一个对比字段，或者改选“按每行每列”对比。"));
        return;
    }
    acceptIf(options_.compareText || options_.compareFormula || options_.compareNumberFormat,
             QStringLiteral("请至少选择一项比较内容：文本、公式或数值格式。"));
}

} // namespace quellar
