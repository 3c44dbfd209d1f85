#pragma once
// GzbDlg: the options of the workbook comparison (工作簿比较选项): four independent
// check boxes, 文本 (ticked at first), 公式, 数值格式 and 忽略大小写. Sheets are always
// compared by position, so there is no mode and no key. Below them the comparison rules
// (RulesBox), where 按字段名对应列 pairs the columns of each sheet pair by name.
//
// Made for one use: construct, exec(), and when confirmed read options(). A cancelled
// dialog leaves every option off, which the command takes as "nothing chosen".

#include "table/Comparison.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quellar {

class RulesBox;

class GzbDlg : public QDialog {
    Q_OBJECT
public:
    explicit GzbDlg(QWidget* parent = nullptr);
    // Ticks the boxes as they were confirmed last time.
    void restore(const CompareOptions& options);

    // keyMode is always false.
    const CompareOptions& options() const { return options_; }
    // True when at least one box was ticked at confirmation.
    bool anyChosen() const;

    QCheckBox* textBox() const { return text_; }
    QCheckBox* formulaBox() const { return formula_; }
    QCheckBox* numberFormatBox() const { return numberFormat_; }
    QCheckBox* ignoreCaseBox() const { return ignoreCase_; }
    QPushButton* confirmButton() const { return confirm_; }
    RulesBox* rulesBox() const { return rules_; }
    QLabel* errorLabel() const { return error_; }

    void accept() override;

private:
    CompareOptions options_;
    QCheckBox* text_;
    QCheckBox* formula_;
    QCheckBox* numberFormat_;
    QCheckBox* ignoreCase_;
    QPushButton* confirm_;
    RulesBox* rules_;
    QLabel* error_;
};

} // namespace quellar
