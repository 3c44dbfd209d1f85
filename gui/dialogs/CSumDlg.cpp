#include "dialogs/CSumDlg.h"

#include "table/GroupSum.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

namespace quellar {

CSumDlg::CSumDlg(const FieldList& fields, QWidget* parent)
    : ChoiceDialog(QStringLiteral("分组汇总"), parent) {
    static const QStringList labels = {QStringLiteral("第一分组"), QStringLiteral("第二分组"),
                                       QStringLiteral("第三分组"), QStringLiteral("第四分组"),
                                       QStringLiteral("第五分组"), QStringLiteral("第六分组")};
    QGroupBox* groupsBox = fieldChooserBox(this, QStringLiteral("分组条件"), labels, QStringLiteral("group"),
                                           fields, 40, groups_);
    auto* caption = new QLabel(QStringLiteral("选择要汇总的列："), this);
    sums_ = new FieldListPair(groupSumLabels(fields), this);
    layOut({groupsBox, caption, sums_}, QStringLiteral("汇总"));
    sums_->restoreArrowWidths();
}

void CSumDlg::accept() {
    choice_ = GroupSumChoice{};
    choice_.groupFields = chosenFields(groups_);
    choice_.sumLabels = sums_->chosen();
    acceptIf(!choice_.groupFields.isEmpty(), QStringLiteral("请至少选择一个分组字段。"));
}

} // namespace quellar
