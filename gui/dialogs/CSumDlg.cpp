#include "dialogs/CSumDlg.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/FieldListPair.h"
#include "table/GroupSum.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quellar {

CSumDlg::CSumDlg(const FieldList& fields, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("分组汇总"));

    auto* groupsBox = new QGroupBox(QStringLiteral("分组条件"), this);
    auto* grid = new QGridLayout(groupsBox);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);
    static const char16_t* const labels[] = {u"第一分组", u"第二分组", u"第三分组",
                                             u"第四分组", u"第五分组", u"第六分组"};
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(QString::fromUtf16(labels[i]), groupsBox);
        auto* combo = new QComboBox(groupsBox);
        combo->setObjectName(QStringLiteral("group%1").arg(i + 1));
        fillFieldChooser(combo, fields);
        label->setBuddy(combo);
        groups_[size_t(i)] = combo;
        // 第一 to 第三分组 on the left, 第四 to 第六分组 on the right.
        const int row = i % 3, column = (i / 3) * 2;
        grid->addWidget(label, row, column);
        grid->addWidget(combo, row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(2, 40);

    auto* caption = new QLabel(QStringLiteral("选择要汇总的列："), this);
    sums_ = new FieldListPair(groupSumLabels(fields), this);

    auto* buttons = confirmCancelRow(this, QStringLiteral("汇总"), &confirm_, &cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(groupsBox);
    layout->addWidget(caption);
    layout->addWidget(sums_);
    layout->addLayout(buttons);
    styleOptionsDialog(this);
    sums_->restoreArrowWidths();
}

void CSumDlg::accept() {
    choice_ = GroupSumChoice{};
    for (const QComboBox* combo : groups_)
        if (combo->currentIndex() > 0) choice_.groupFields.append(combo->currentText());
    choice_.sumLabels = sums_->chosen();
    if (choice_.groupFields.isEmpty()) {
        choice_ = GroupSumChoice{};
        refuseConfirmation(this, QStringLiteral("请至少选择一个分组字段。"));
        return;
    }
    QDialog::accept();
}

} // namespace quellar
