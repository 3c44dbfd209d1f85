#pragma once
// CAddRowDlg: the count of the even blank-row insertion (平均增加空行): how many blank
// rows to insert after every row, in a number box with up and down arrows.
//
// The box starts at 1; its arrows (and the arrow keys) step within 1 … 100, but whatever
// is typed is taken as typed: "250" gives 250 and "3abc" gives 3, "abc" or nothing gives 0.
// Made for one use: construct, exec(), then read blankCount(), which is -1 unless the
// dialog was confirmed. A count below 1 is refused with a message; the dialog stays open.

#include "dialogs/DialogStyle.h"

class QAbstractSpinBox;

namespace quellar {

class CAddRowDlg : public OptionsDialog {
    Q_OBJECT
public:
    explicit CAddRowDlg(QWidget* parent = nullptr);
    // Starts the box at the count confirmed last time.
    void restore(int blankCount);

    // The typed count after confirmation; -1 otherwise.
    int blankCount() const { return blankCount_; }

    // The controls, for the tests that drive the dialog.
    QAbstractSpinBox* countBox() const { return count_; }

    void accept() override;

private:
    int blankCount_ = -1;
    QAbstractSpinBox* count_;
};

} // namespace quellar
