#pragma once
// CDiffDlg: the options of the two-table comparison (对比选项): what to compare (文本,
// 公式, 数值格式, 忽略大小写), how to pair rows (按对比字段 / 按每行每列) and up to six
// key fields chosen from the field names common to both tables, and the comparison rules
// (RulesBox; 按字段名对应列 only in 按每行每列, since key mode always pairs columns by name).
//
// Made for one use: construct with the offered field names, exec(), and when it was
// confirmed read options() and keys(). A cancelled dialog leaves both at their empty
// defaults (every option off, no keys). "忽略大小写" is only available while "文本" is
// ticked; the key choosers only while "按对比字段" is selected.

#include "base/RowTable.h"
#include "dialogs/ComparisonDialog.h"
#include "dialogs/FieldListPair.h"

class QComboBox;
class QRadioButton;

namespace quellar {

class CDiffDlg : public ComparisonDialog {
    Q_OBJECT
public:
    explicit CDiffDlg(const FieldList& fields, QWidget* parent = nullptr);
    // Sets the controls to what the dialog was confirmed with last time for the same fields
    // (keys no longer offered are left out). RestoreChoices.cpp, like the others' restore.
    void restore(const CompareOptions& options, const QStringList& keys);

    // Valid after the dialog was confirmed.
    const QStringList& keys() const { return keys_; }

    // The controls, for the tests that drive the dialog.
    QRadioButton* keyModeButton() const { return keyMode_; }
    QRadioButton* positionalButton() const { return positional_; }
    QComboBox* chooser(int i) const { return choosers_[size_t(i)]; }

    void accept() override;

private:
    void updateEnabling();

    QStringList keys_;
    QRadioButton* keyMode_;
    QRadioButton* positional_;
    FieldChoosers choosers_{};
};

} // namespace quellar
