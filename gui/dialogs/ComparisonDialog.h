#pragma once
// The frame both comparison dialogs (两表对比 CDiffDlg, 两簿比较 GzbDlg) are built in: the
// four content boxes 文本 (ticked at first), 公式, 数值格式 and 忽略大小写, the rules
// section (RulesBox) with the red line under it, and the options they are read into.
// Each dialog places the boxes in its own grid and adds what only it offers.

#include "dialogs/DialogStyle.h"
#include "table/compare/Comparison.h"

#include <QMargins>
#include <QPoint>
#include <QSize>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;

namespace quellar {

class RulesBox;

class ComparisonDialog : public OptionsDialog {
    Q_OBJECT
public:
    // Valid after the dialog was confirmed; a cancelled dialog leaves every option off.
    const CompareOptions& options() const { return options_; }

    // The controls, for the tests that drive the dialog.
    QCheckBox* textBox() const { return text_; }
    QCheckBox* formulaBox() const { return formula_; }
    QCheckBox* numberFormatBox() const { return numberFormat_; }
    QCheckBox* ignoreCaseBox() const { return ignoreCase_; }
    QCheckBox* alignRowsBox() const { return alignRows_; }
    RulesBox* rulesBox() const { return rules_; }
    // Where a rule that cannot be read is explained; the dialog then stays open.
    QLabel* errorLabel() const { return error_; }

protected:
    ComparisonDialog(const QString& title, QWidget* parent);

    // The group box `title` of the content boxes (文本, 公式, 数值格式, 忽略大小写 at `places`,
    // row and column each, in a grid with `margins` and `spacing`), and the rules with their
    // error line. Each dialog makes them where it shows them, so that Tab visits the controls
    // in that order.
    QGroupBox* createContentBox(const QString& title, const QMargins& margins, QSize spacing,
                                const std::array<QPoint, 4>& places);
    void createRules();
    // The box 识别插入和删除的行 (CompareOptions::alignRows), off at first, inside `parent`.
    QCheckBox* createAlignRows(QWidget* parent);

    // The rules and the ticked boxes into options_; false, after showing why in the error
    // line, when a rule cannot be read.
    bool readContent();
    // Ticks the content boxes (and 识别插入和删除的行) as in `options` and fills in its rules.
    void restoreContent(const CompareOptions& options);

    CompareOptions options_{false, false, false, false, false, {}};
    QCheckBox* text_ = nullptr;
    QCheckBox* formula_ = nullptr;
    QCheckBox* numberFormat_ = nullptr;
    QCheckBox* ignoreCase_ = nullptr;
    QCheckBox* alignRows_ = nullptr;
    RulesBox* rules_ = nullptr;
    QLabel* error_ = nullptr;
};

} // namespace quellar
