#pragma once
// CSumDlg: the options of the group summary (分组汇总): up to six group fields, one inside
// the other, chosen in the drop-downs 第一分组 … 第六分组, and the columns to sum, moved
// with ">" and "<" from the list of every column label ("C (金额)") into the right list.
// With no column moved, the summary picks the numeric columns itself. Each chosen column
// holds a function, chosen under the lists for the selected right entry (求和 at first);
// an entry with another function shows it: "C (金额)（平均值）".
//
// Made for one use: construct with the table's field names, exec(), and when it was
// confirmed read choice(). A cancelled dialog hands back no group field, which the command
// takes as "nothing chosen".

#include "base/RowTable.h"
#include "dialogs/DialogStyle.h"
#include "dialogs/FieldListPair.h"

#include <QStringList>

class QComboBox;

namespace quellar {

// What CSumDlg hands back.
struct GroupSumChoice {
    QStringList groupFields; // 第一分组 … 第六分组, unchosen lists skipped, repeats kept
    QStringList sumLabels;   // the right list's labels, top to bottom, each with its function
                             // unless it is a sum ("C (金额)（平均值）", see table/GroupSum.h)
};

class CSumDlg : public ChoiceDialog<GroupSumChoice> {
    Q_OBJECT
public:
    explicit CSumDlg(const FieldList& fields, QWidget* parent = nullptr);
    // Sets the group fields and the columns to sum confirmed last time.
    void restore(const GroupSumChoice& choice);

    // The controls, for the tests that drive the dialog.
    QComboBox* group(int i) const { return groups_[size_t(i)]; }
    FieldListPair* sumColumns() const { return sums_; }
    QComboBox* functionBox() const { return function_; }

    void accept() override;

private:
    // The function box follows the selected right entry; choosing in it rewrites the entry.
    void showFunction();
    void setFunction(int function);

    FieldChoosers groups_{};
    FieldListPair* sums_;
    QComboBox* function_;
};

} // namespace quellar
