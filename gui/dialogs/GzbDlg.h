#pragma once
// GzbDlg: the options of the workbook comparison (工作簿比较选项): four independent
// check boxes, 文本 (ticked at first), 公式, 数值格式 and 忽略大小写. Sheets are always
// compared by position, so there is no mode and no key. Below them the comparison rules
// (RulesBox), where 按字段名对应列 pairs the columns of each sheet pair by name.
//
// Made for one use: construct, exec(), and when confirmed read options(). A cancelled
// dialog leaves every option off, which the command takes as "nothing chosen".

#include "dialogs/ComparisonDialog.h"

namespace quellar {

class GzbDlg : public ComparisonDialog {
    Q_OBJECT
public:
    explicit GzbDlg(QWidget* parent = nullptr);
    // Ticks the boxes as they were confirmed last time.
    void restore(const CompareOptions& options);

    // True when at least one box was ticked at confirmation; options().keyMode is always
    // false.
    bool anyChosen() const;

    void accept() override;
};

} // namespace quellar
