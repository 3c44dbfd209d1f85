// Each options dialog set to the choices it was confirmed with last time, so that running an
// operation again on tables with the same fields needs only a confirmation. A remembered
// field that the tables no longer offer is left out; everything else stays at its default.

#include "dialogs/CAddRowDlg.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/CLinkDlg.h"
#include "dialogs/CSumDlg.h"
#include "dialogs/FieldListPair.h"
#include "dialogs/GzbDlg.h"
#include "dialogs/PageSumDlg.h"
#include "dialogs/RulesBox.h"
#include "dialogs/SelDlg.h"
#include "table/GroupSum.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

namespace quellar {
void FieldListPair::choose(const QStringList& labels) {
    for (const QString& label : labels) {
        const QList<QListWidgetItem*> found = left_->findItems(label, Qt::MatchExactly);
        if (found.isEmpty()) continue;
        left_->setCurrentItem(found.front());
        moveRight();
    }
}

void CDiffDlg::restore(const CompareOptions& options, const QStringList& keys) {
    restoreContent(options);
    (options.keyMode ? keyMode_ : positional_)->setChecked(true);
    chooseInOrder(choosers_, keys);
    updateEnabling();
}

void RulesBox::restore(const CompareRules& rules) {
    const QString separator = QStringLiteral("；");
    tolerance_->setText(toleranceTexts(rules, false).join(separator));
    relative_->setText(toleranceTexts(rules, true).join(separator));
    ignored_->setText(rules.ignoredColumns.join(separator));
    spaces_->setChecked(rules.ignoreSpaces);
    width_->setChecked(rules.ignoreWidth);
    byName_->setChecked(rules.columnsByName);
}

void GzbDlg::restore(const CompareOptions& options) {
    restoreContent(options);
}

void CLinkDlg::restore(const JoinChoice& choice) {
    chooseInOrder(conditions_, choice.conditions);
    (choice.options.preferFileOne ? fileOne_ : fileTwo_)->setChecked(true);
    sum_->setChecked(choice.options.sumNumbers);
}

void SelDlg::restore(const FilterChoice& choice) {
    size_t next = 0;
    for (qsizetype i = 0; i < choice.fields.size() && next < fields_.size(); ++i) {
        const int index = fields_[next]->findText(choice.fields[i], Qt::MatchExactly);
        if (index <= 0) continue;
        fields_[next]->setCurrentIndex(index);
        values_[next++]->setText(i < choice.values.size() ? choice.values[i] : QString());
    }
}

void CSumDlg::restore(const GroupSumChoice& choice) {
    chooseInOrder(groups_, choice.groupFields);
    for (const QString& given : choice.sumLabels) {
        QString label;
        const SumFunction function = splitSumFunction(given, &label);
        sums_->choose({label});
        const QList<QListWidgetItem*> found = sums_->rightList()->findItems(label, Qt::MatchExactly);
        if (!found.isEmpty() && function != SumFunction::Sum) found.front()->setText(given);
    }
    showFunction();
}

void PageSumDlg::restore(const PageSumChoice& choice) {
    if (const int rows = rows_->findText(choice.rowsPerPage); rows >= 0) rows_->setCurrentIndex(rows);
    if (const int column = position_->findText(choice.subtotalColumn); column >= 0)
        position_->setCurrentIndex(column);
    sums_->choose(choice.pageSumLabels);
}

void CAddRowDlg::restore(int blankCount) {
    if (blankCount < 1) return;
    if (QLineEdit* edit = count_->findChild<QLineEdit*>()) edit->setText(QString::number(blankCount));
}

} // namespace quellar
