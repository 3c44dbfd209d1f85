#include "dialogs/ComparisonDialog.h"

#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QLabel>

namespace quellar {

ComparisonDialog::ComparisonDialog(const QString& title, QWidget* parent)
    : OptionsDialog(title, parent) {}

void ComparisonDialog::createContentBoxes(QWidget* box) {
    text_ = new QCheckBox(QStringLiteral("文本"), box);
    formula_ = new QCheckBox(QStringLiteral("公式"), box);
    numberFormat_ = new QCheckBox(QStringLiteral("数值格式"), box);
    ignoreCase_ = new QCheckBox(QStringLiteral("忽略大小写"), box);
}

void ComparisonDialog::createRules() {
    rules_ = new RulesBox(this);
    error_ = RulesBox::errorLabel(this);
}

bool ComparisonDialog::readContent() {
    if (!rules_->readInto(options_.rules, error_)) return false;
    options_.compareText = text_->isChecked();
    options_.compareFormula = formula_->isChecked();
    options_.compareNumberFormat = numberFormat_->isChecked();
    options_.ignoreCase = ignoreCase_->isChecked();
    return true;
}

void ComparisonDialog::restoreContent(const CompareOptions& options) {
    text_->setChecked(options.compareText);
    formula_->setChecked(options.compareFormula);
    numberFormat_->setChecked(options.compareNumberFormat);
    ignoreCase_->setChecked(options.ignoreCase);
}

} // namespace quellar
