#pragma once
// GzbDlg: the options of the workbook comparison (工作簿比较选项): four independent
// check boxes, 文本 (ticked at first), 公式, 数值格式 and 忽略大小写. Sheets are always
// compared by position, so there is no mode and no key.
//
// Made for one use: construct, exec(), and when confirmed read options(). A cancelled
// dialog leaves every option off, which the command takes as "nothing chosen".

#include "table/Comparison.h"

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace quellar {

class GzbDlg : public QDialog {
    Q_OBJECT
public:
    explicit GzbDlg(QWidget* parent = nullptr);

    // keyMode is always false.
    const CompareOptions& options() const { return options_; }
    // True when at least one box was ticked at confirmation.
    bool anyChosen() const;

    QCheckBox* textBox() const { return text_; }
    QCheckBox* formulaBox() const { return formula_; }
    QCheckBox* numberFormatBox() const { return numberFormat_; }
    QCheckBox* ignoreCaseBox() const { return ignoreCase_; }
    QPushButton* confirmButton() const { return confirm_; }

    void accept() override;

private:
    CompareOptions options_;
    QCheckBox* text_;
    QCheckBox* formula_;
    QCheckBox* numberFormat_;
    QCheckBox* ignoreCase_;
    QPushButton* confirm_;
};

} // namespace quellar
