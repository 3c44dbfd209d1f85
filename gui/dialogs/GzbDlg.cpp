#include "dialogs/GzbDlg.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quellar {

GzbDlg::GzbDlg(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("工作簿比较选项"));
    options_ = CompareOptions{false, false, false, false, false, {}};

    auto* content = new QGroupBox(QStringLiteral("比较内容"), this);
    text_ = new QCheckBox(QStringLiteral("文本"), content);
    formula_ = new QCheckBox(QStringLiteral("公式"), content);
    numberFormat_ = new QCheckBox(QStringLiteral("数值格式"), content);
    ignoreCase_ = new QCheckBox(QStringLiteral("忽略大小写"), content);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(48, 12, 24, 12);
    grid->setHorizontalSpacing(48);
    grid->setVerticalSpacing(10);
    grid->addWidget(text_, 0, 0);
    grid->addWidget(formula_, 0, 1);
    grid->addWidget(numberFormat_, 1, 0);
    grid->addWidget(ignoreCase_, 1, 1);

    rules_ = new RulesBox(this);
    error_ = RulesBox::errorLabel(this);

    auto* buttons = confirmCancelRow(this, QStringLiteral("比较"), &confirm_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(content);
    layout->addWidget(rules_);
    layout->addWidget(error_);
    layout->addLayout(buttons);
    styleOptionsDialog(this);

    text_->setChecked(true);
}

bool GzbDlg::anyChosen() const {
    return options_.compareText || options_.compareFormula || options_.compareNumberFormat ||
           options_.ignoreCase;
}

void GzbDlg::accept() {
    if (!rules_->readInto(options_.rules, error_)) return;
    options_.compareText = text_->isChecked();
    options_.compareFormula = formula_->isChecked();
    options_.compareNumberFormat = numberFormat_->isChecked();
    options_.ignoreCase = ignoreCase_->isChecked();
    options_.keyMode = false;
    // Ignoring case alone counts as a choice here, as on the command line.
    if (!anyChosen()) {
        refuseConfirmation(this, QStringLiteral("请至少选择一项：文本、公式、数值格式或不区分大小写。"));
        return;
    }
    QDialog::accept();
}

} // namespace quellar
