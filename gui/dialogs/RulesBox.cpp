#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace quellar {

namespace {

// The entries of a box: separated by semicolons or commas, full-width or not.
QStringList entries(const QLineEdit* edit) {
    static const QRegularExpression separators(QStringLiteral("[;；,，、]"));
    QStringList list;
    for (const QString& part : edit->text().split(separators))
        if (!part.trimmed().isEmpty()) list.append(part.trimmed());
    return list;
}

} // namespace

RulesBox::RulesBox(QWidget* parent)
    : QGroupBox(QStringLiteral("规则"), parent) {
    tolerance_ = new QLineEdit(this);
    tolerance_->setObjectName(QStringLiteral("tolerance"));
    tolerance_->setPlaceholderText(QStringLiteral("如 0.01；工资=0.5"));
    relative_ = new QLineEdit(this);
    relative_->setObjectName(QStringLiteral("relTolerance"));
    relative_->setPlaceholderText(QStringLiteral("如 0.5%；金额=1%"));
    ignored_ = new QLineEdit(this);
    ignored_->setObjectName(QStringLiteral("ignoredColumns"));
    ignored_->setPlaceholderText(QStringLiteral("字段名，用；分隔"));
    spaces_ = new QCheckBox(QStringLiteral("忽略空格"), this);
    width_ = new QCheckBox(QStringLiteral("忽略全角半角"), this);
    byName_ = new QCheckBox(QStringLiteral("按字段名对应列"), this);
    spaces_->setToolTip(QStringLiteral("连续的空白（含全角空格）算一个，首尾的空白不算"));
    width_->setToolTip(QStringLiteral("全角的字母、数字、符号和空格与半角的相同"));
    byName_->setToolTip(QStringLiteral("列按字段行的名称对应，不按位置"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    const auto row = [&](int r, const QString& text, QLineEdit* edit) {
        auto* label = new QLabel(text, this);
        label->setBuddy(edit);
        grid->addWidget(label, r, 0);
        grid->addWidget(edit, r, 1, 1, 3);
    };
    row(0, QStringLiteral("数值容差"), tolerance_);
    row(1, QStringLiteral("相对容差"), relative_);
    row(2, QStringLiteral("不比较的列"), ignored_);
    grid->addWidget(spaces_, 3, 1);
    grid->addWidget(width_, 3, 2);
    grid->addWidget(byName_, 3, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
}

QLabel* RulesBox::errorLabel(QWidget* parent) {
    auto* error = new QLabel(parent);
    error->setObjectName(QStringLiteral("ruleError"));
    error->setWordWrap(true);
    error->setStyleSheet(QStringLiteral("color: #c00000;"));
    error->hide();
    return error;
}

bool RulesBox::readInto(CompareRules& rules, QLabel* error) const {
    Result<CompareRules> read = this->rules();
    if (!read.isOk()) {
        error->setText(read.status().message());
        error->show();
        return false;
    }
    rules = read.take();
    return true;
}

Result<CompareRules> RulesBox::rules() const {
    CompareRules rules;
    rules.naming = RuleNaming::Box; // messages name the boxes by their labels
    for (bool relative : {false, true})
        for (const QString& entry : entries(relative ? relative_ : tolerance_))
            if (Status s = addToleranceText(rules, entry, relative, RuleNaming::Box); !s.isOk()) return s;
    for (const QString& field : entries(ignored_))
        if (!rules.ignoredColumns.contains(field)) rules.ignoredColumns.append(field);
    rules.ignoreSpaces = spaces_->isChecked();
    rules.ignoreWidth = width_->isChecked();
    rules.columnsByName = byName_->isEnabled() && byName_->isChecked();
    return rules;
}

void RulesBox::setColumnsByNameAvailable(bool available) {
    byName_->setEnabled(available);
}

} // namespace quellar
