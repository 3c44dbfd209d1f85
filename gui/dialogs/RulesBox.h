#pragma once
// RulesBox: the 规则 section of the comparison dialogs (两表对比 and 两簿比较): numeric
// tolerance and relative tolerance (a default and per-field values, "0.01；工资=0.5"),
// ignoring runs of white space and full-width forms, the columns not to compare, and pairing
// columns by field name. Everything is empty or unticked at first, which is no rule at all.
//
// rules() reads the controls into CompareRules, or refuses a value that is not a tolerance
// with a message naming the box (by its label) and the field; the dialog shows it and stays
// open. restore() writes remembered rules back as texts that read back as the same rules.

#include "table/compare/CompareRules.h"

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quellar {

class RulesBox : public QGroupBox {
    Q_OBJECT
public:
    explicit RulesBox(QWidget* parent = nullptr);

    Result<CompareRules> rules() const;
    // The hidden red line under the rules where readInto says what is wrong.
    static QLabel* errorLabel(QWidget* parent);
    // The rules into `rules`; false after showing why in `error` when a value is not one.
    bool readInto(CompareRules& rules, QLabel* error) const;
    // Fills the boxes with `rules` as they were confirmed last time (RestoreChoices.cpp).
    void restore(const CompareRules& rules);
    // 按字段名对应列 means nothing in key mode, where columns always pair by name.
    void setColumnsByNameAvailable(bool available);

    QLineEdit* toleranceEdit() const { return tolerance_; }
    QLineEdit* relativeEdit() const { return relative_; }
    QLineEdit* ignoredEdit() const { return ignored_; }
    QCheckBox* spacesBox() const { return spaces_; }
    QCheckBox* widthBox() const { return width_; }
    QCheckBox* byNameBox() const { return byName_; }

private:
    QLineEdit* tolerance_;
    QLineEdit* relative_;
    QLineEdit* ignored_;
    QCheckBox* spaces_;
    QCheckBox* width_;
    QCheckBox* byName_;
};

} // namespace quellar
