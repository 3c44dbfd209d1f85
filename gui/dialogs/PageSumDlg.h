#pragma once
// PageSumDlg: the options of the page subtotals (分页汇总): how many data rows one printed
// page holds ("01" … "99"), the column that carries the texts 小计 and 合计 ("0" … "9";
// 0 writes them nowhere) and the columns to sum, moved with ">" and "<" from the list of
// every column label ("C (金额)") into the right list, as in the group summary.
//
// Made for one use: construct with the dialog list (the number of fields, then the field
// names) and the proposed rows per page, exec(), and when it was confirmed read choice().
// A proposal under 6 selects "06", one above 99 selects "99", so a confirmed dialog always
// hands back a usable page length. A cancelled dialog hands back no sum column, which the
// command takes as "nothing chosen".

#include "dialogs/DialogStyle.h"

#include <QStringList>

class QComboBox;

namespace quellar {

class FieldListPair;

// What PageSumDlg hands back.
struct PageSumChoice {
    QString rowsPerPage;       // "01" … "99"
    QString subtotalColumn;    // "0" … "9"
    QStringList pageSumLabels; // the right list's labels, top to bottom
};

class PageSumDlg : public ChoiceDialog<PageSumChoice> {
    Q_OBJECT
public:
    PageSumDlg(const QStringList& dialogList, int proposedRows, QWidget* parent = nullptr);
    // Sets the rows per page, the subtotal column and the columns to sum confirmed last time.
    void restore(const PageSumChoice& choice);

    // The controls, for the tests that drive the dialog.
    QComboBox* rowsPerPage() const { return rows_; }
    QComboBox* subtotalColumn() const { return position_; }
    FieldListPair* sumColumns() const { return sums_; }

    void accept() override;

private:
    QComboBox* rows_;
    QComboBox* position_;
    FieldListPair* sums_;
};

// The dialog list of a field row: the number of fields in decimal, then the names.
QStringList pageSumDialogList(const QStringList& fields);

} // namespace quellar
