#include "dialogs/CDiffDlg.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/RulesBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quellar {

CDiffDlg::CDiffDlg(const FieldList& fields, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("对比选项"));
    // A cancelled dialog chooses nothing.
    options_ = CompareOptions{false, false, false, false, false, {}};

    auto* content = new QGroupBox(QStringLiteral("对比内容"), this);
    text_ = new QCheckBox(QStringLiteral("文本"), content);
    formula_ = new QCheckBox(QStringLiteral("公式"), content);
    numberFormat_ = new QCheckBox(QStringLiteral("数值格式"), content);
    ignoreCase_ = new QCheckBox(QStringLiteral("忽略大小写"), content);
    auto* contentGrid = new QGridLayout(content);
    contentGrid->setContentsMargins(40, 10, 16, 10);
    contentGrid->setHorizontalSpacing(28);
    contentGrid->addWidget(text_, 0, 0);
    contentGrid->addWidget(formula_, 0, 1);
    contentGrid->addWidget(numberFormat_, 0, 2);
    contentGrid->addWidget(ignoreCase_, 1, 0);

    auto* mode = new QGroupBox(QStringLiteral("对比方式"), this);
    keyMode_ = new QRadioButton(QStringLiteral("按对比字段"), mode);
    positional_ = new QRadioButton(QStringLiteral("按每行每列"), mode);
    auto* modeGroup = new QButtonGroup(this);
    modeGroup->addButton(keyMode_);
    modeGroup->addButton(positional_);
    auto* modeRow = new QHBoxLayout(mode);
    modeRow->setContentsMargins(40, 10, 16, 10);
    modeRow->setSpacing(28);
    modeRow->addWidget(keyMode_);
    modeRow->addWidget(positional_);
    modeRow->addStretch(1);

    // The choosers offer the field names sorted as a Chinese reader expects; the empty
    // first entry means "no field".
    QStringList sorted = fields;
    sorted.removeAll(QString());
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    std::sort(sorted.begin(), sorted.end(),
              [&](const QString& a, const QString& b) { return collator(a, b); });

    auto* keysBox = new QGroupBox(QStringLiteral("对比字段"), this);
    auto* keysGrid = new QGridLayout(keysBox);
    keysGrid->setContentsMargins(16, 12, 16, 12);
    keysGrid->setHorizontalSpacing(10);
    keysGrid->setVerticalSpacing(12);
    static const char16_t* const labels[] = {u"条件一", u"条件二", u"条件三",
                                             u"条件四", u"条件五", u"条件六"};
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromUtf16(labels[i]), keysBox);
        auto* combo = new QComboBox(keysBox);
        combo->setObjectName(QStringLiteral("chooser%1").arg(i + 1));
        combo->addItem(QString());
        combo->addItems(sorted);
        combo->setMinimumWidth(150);
        combo->setMaxVisibleItems(20);
        label->setBuddy(combo);
        choosers_[size_t(i)] = combo;
        const int row = i % 3, column = (i / 3) * 2;
        keysGrid->addWidget(label, row, column);
        keysGrid->addWidget(combo, row, column + 1);
    }
    keysGrid->setColumnStretch(1, 1);
    keysGrid->setColumnStretch(3, 1);
    keysGrid->setColumnMinimumWidth(2, 60);

    rules_ = new RulesBox(this);
    error_ = RulesBox::errorLabel(this);

    auto* buttons = confirmCancelRow(this, QStringLiteral("对比"), &confirm_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(content);
    layout->addWidget(mode);
    layout->addWidget(keysBox);
    layout->addWidget(rules_);
    layout->addWidget(error_);
    layout->addLayout(buttons);
    styleOptionsDialog(this);

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
}

void CDiffDlg::accept() {
    if (!rules_->readInto(options_.rules, error_)) return;
    options_.compareText = text_->isChecked();
    options_.compareFormula = formula_->isChecked();
    options_.compareNumberFormat = numberFormat_->isChecked();
    options_.ignoreCase = ignoreCase_->isChecked();
    options_.keyMode = keyMode_->isChecked();
    keys_.clear();
    // Only a chosen list entry counts; the keys are collected in both modes.
    for (QComboBox* combo : choosers_)
        if (combo->currentIndex() > 0) keys_.append(combo->currentText());
    if (options_.keyMode && keys_.isEmpty()) {
        refuseConfirmation(this, QStringLiteral("请至少选择一个对比字段，或者改选“按每行每列”对比。"));
        return;
    }
    if (!options_.compareText && !options_.compareFormula && !options_.compareNumberFormat) {
        refuseConfirmation(this, QStringLiteral("请至少选择一项比较内容：文本、公式或数值格式。"));
        return;
    }
    QDialog::accept();
}

} // namespace quellar
