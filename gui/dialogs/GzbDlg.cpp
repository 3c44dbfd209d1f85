#include "dialogs/GzbDlg.h"

#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

namespace quellar {

GzbDlg::GzbDlg(QWidget* parent)
    : ComparisonDialog(QStringLiteral("工作簿比较选项"), parent) {
    auto* content = new QGroupBox(QStringLiteral("比较内容"), this);
    createContentBoxes(content);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(48, 12, 24, 12);
    grid->setHorizontalSpacing(48);
    grid->setVerticalSpacing(10);
    grid->addWidget(text_, 0, 0);
    grid->addWidget(formula_, 0, 1);
    grid->addWidget(numberFormat_, 1, 0);
    grid->addWidget(ignoreCase_, 1, 1);

    createRules();
    layOut({content, rules_, error_}, QStringLiteral("比较"));

    text_->setChecked(true);
}

bool GzbDlg::anyChosen() const {
    return options_.compareText || options_.compareFormula || options_.compareNumberFormat ||
           options_.ignoreCase;
}

void GzbDlg::accept() {
    if (!readContent()) return;
    options_.keyMode = false;
    // Ignoring case alone counts as a choice here, as on the command line.
    acceptIf(anyChosen(), QStringLiteral("请至少选择一项：文本、公式、数值格式或不区分大小写。"));
}

} // namespace quellar
