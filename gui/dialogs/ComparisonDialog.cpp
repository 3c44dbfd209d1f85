#include "dialogs/ComparisonDialog.h"

#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

namespace quellar {

ComparisonDialog::ComparisonDialog(const QString& title, QWidget* parent)
    : OptionsDialog(title, parent) {}

QGroupBox* ComparisonDialog::createContentBox(const QString& title, const QMargins& margins, QSize spacing,
                                              const std::array<QPoint, 4>& places) {
    auto* box = new QGroupBox(title, this);
    text_ = new QCheckBox(QStringLiteral("文本"), box);
    formula_ = new QCheckBox(QStringLiteral("公式"), box);
    numberFormat_ = new QCheckBox(QStringLiteral("数值格式"), box);
    ignoreCase_ = new QCheckBox(QStringLiteral("忽略大小写"), box);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(margins);
    grid->setHorizontalSpacing(spacing.width());
    if (spacing.height() >= 0) grid->setVerticalSpacing(spacing.height());
    const std::array<QCheckBox*, 4> boxes = {text_, formula_, numberFormat_, ignoreCase_};
    for (size_t i = 0; i < boxes.size(); ++i)
        grid->addWidget(boxes[i], places[i].x(), places[i].y());
    return box;
}

void ComparisonDialog::createRules() {
    rules_ = new RulesBox(this);
    error_ = RulesBox::errorLabel(this);
}

QCheckBox* ComparisonDialog::createAlignRows(QWidget* parent) {
    alignRows_ = new QCheckBox(QStringLiteral("识别插入和删除的行"), parent);
    alignRows_->setToolTip(QStringLiteral("相同的行按顺序对齐：插入的行标绿色，删除的行标黄色，"
                                          "改过的行只标出不同的单元格"));
    return alignRows_;
}

bool ComparisonDialog::readContent() {
    if (!rules_->readInto(options_.rules, error_)) return false;
    options_.compareText = text_->isChecked();
    options_.compareFormula = formula_->isChecked();
    options_.compareNumberFormat = numberFormat_->isChecked();
    options_.ignoreCase = ignoreCase_->isChecked();
    options_.alignRows = alignRows_ && alignRows_->isChecked();
    return true;
}

void ComparisonDialog::restoreContent(const CompareOptions& options) {
    text_->setChecked(options.compareText);
    formula_->setChecked(options.compareFormula);
    numberFormat_->setChecked(options.compareNumberFormat);
    ignoreCase_->setChecked(options.ignoreCase);
    rules_->restore(options.rules);
    if (alignRows_) alignRows_->setChecked(options.alignRows);
}

} // namespace quellar
