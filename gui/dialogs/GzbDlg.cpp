#include "dialogs/GzbDlg.h"

#include "dialogs/RulesBox.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

namespace quellar {

GzbDlg::GzbDlg(QWidget* parent)
    : ComparisonDialog(QStringLiteral("工作簿比较选项"), parent) {
    // Two by two.
    QGroupBox* content = createContentBox(QStringLiteral("比较内容"), QMargins(48, 12, 24, 12), QSize(48, 10),
                                          {QPoint(0, 0), QPoint(0, 1), QPoint(1, 0), QPoint(1, 1)});

    // Sheets are compared row by row and column by column; inserted and deleted rows can be
    // recognised.
    auto* rows = new QGroupBox(QStringLiteral("按每行每列"), this);
    auto* rowsLine = new QHBoxLayout(rows);
    rowsLine->setContentsMargins(48, 10, 24, 10);
    rowsLine->addWidget(createAlignRows(rows));
    rowsLine->addStretch(1);

    createRules();
    layOut({content, rows, rules_, error_}, QStringLiteral("比较"));

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
