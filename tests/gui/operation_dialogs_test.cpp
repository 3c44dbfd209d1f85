// The options dialogs of join, comparison filter, blank rows and group summary, and the
// list pair with ">" and "<": defaults, what they hand back when confirmed and when
// cancelled, and how the list pair moves labels and selections.

#include "dialogs/CAddRowDlg.h"
#include "dialogs/CLinkDlg.h"
#include "dialogs/CSumDlg.h"
#include "dialogs/FieldListPair.h"
#include "dialogs/SelDlg.h"
#include "table/GroupSum.h"
#include "tests/gui/GuiTestSupport.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

using test::items;
using test::u;

QStringList items(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// The selected row of a single-selection list, -1 when nothing is selected.
int selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

void choose(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    ASSERT_GT(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
}

// The dialog's title, and its buttons: the default confirm button and 取消.
void expectFrame(const OptionsDialog& dialog, const QString& title, const QString& confirmText) {
    EXPECT_EQ(dialog.windowTitle(), title);
    EXPECT_EQ(dialog.confirmButton()->text(), confirmText);
    EXPECT_EQ(dialog.cancelButton()->text(), u(u"取消"));
    EXPECT_TRUE(dialog.confirmButton()->isDefault());
}

// Pressing 确定 with a needed choice missing: the dialog says why, once, and stays open.
void expectRefused(OptionsDialog& dialog) {
    test::refusals().clear();
    QTest::mouseClick(dialog.confirmButton(), Qt::LeftButton);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(test::refusals().size(), 1);
}

// Pressing 确定 with the choices of case `name` made: the dialog is accepted.
void expectAccepted(OptionsDialog& dialog, const char* name) {
    QTest::mouseClick(dialog.confirmButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << name;
}

const QStringList kStaffFields = {u(u"姓名"), u(u"工号"), u(u"部门")};
// Sorted as a Chinese reader expects (by pinyin): 部门 (bu), 工号 (gong), 姓名 (xing).
const QStringList kStaffChooser = {QString(), u(u"部门"), u(u"工号"), u(u"姓名")};

bool hasLabel(const QDialog& dialog, const QString& text) {
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text() == text) return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CLinkDlg

TEST(CLinkDlg, OpensWithNoConditionFileOnePreferredAndNoSumming) {
    CLinkDlg dialog(kStaffFields);
    expectFrame(dialog, u(u"按条件合并"), u(u"合并"));
    const char16_t* labels[] = {u"条件一", u"条件二", u"条件三", u"条件四", u"条件五", u"条件六"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(hasLabel(dialog, u(labels[i]))) << i;
        EXPECT_EQ(items(dialog.condition(i)), kStaffChooser) << i;
        EXPECT_EQ(dialog.condition(i)->currentIndex(), 0) << i;
    }
    EXPECT_TRUE(dialog.fileOneButton()->isChecked());
    EXPECT_FALSE(dialog.fileTwoButton()->isChecked());
    EXPECT_EQ(dialog.fileOneButton()->text(), u(u"当合并单元格内容不同时，选择文件一的内容"));
    EXPECT_EQ(dialog.fileTwoButton()->text(), u(u"当合并单元格内容不同时，选择文件二的内容"));
    EXPECT_FALSE(dialog.sumBox()->isChecked());
    EXPECT_EQ(dialog.sumBox()->text(), u(u"当合并单元格是数字时，汇总文件一和文件二的数字"));
}

TEST(CLinkDlg, ConfirmingHandsBackConditionsInListOrderAndTheOptions) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, const char16_t*>> chosen;
        bool fileTwo;
        bool sum;
        QStringList conditions;
    };
    const Case cases[] = {
        {"one condition", {{0, u"工号"}}, false, false, {u(u"工号")}},
        {"gaps skipped, list order kept",
         {{5, u"姓名"}, {1, u"工号"}},
         true,
         false,
         {u(u"工号"), u(u"姓名")}},
        {"same field twice", {{2, u"部门"}, {3, u"部门"}}, false, true, {u(u"部门"), u(u"部门")}},
        {"all six",
         {{0, u"姓名"}, {1, u"工号"}, {2, u"部门"}, {3, u"姓名"}, {4, u"工号"}, {5, u"部门"}},
         true,
         true,
         {u(u"姓名"), u(u"工号"), u(u"部门"), u(u"姓名"), u(u"工号"), u(u"部门")}},
    };
    for (const Case& c : cases) {
        CLinkDlg dialog(kStaffFields);
        for (const auto& [index, text] : c.chosen)
            choose(dialog.condition(index), u(text));
        if (c.fileTwo) QTest::mouseClick(dialog.fileTwoButton(), Qt::LeftButton);
        if (c.sum) QTest::mouseClick(dialog.sumBox(), Qt::LeftButton);
        expectAccepted(dialog, c.name);
        EXPECT_EQ(dialog.choice().conditions, c.conditions) << c.name;
        EXPECT_EQ(dialog.choice().options.preferFileOne, !c.fileTwo) << c.name;
        EXPECT_EQ(dialog.choice().options.sumNumbers, c.sum) << c.name;
    }
    // Without a condition the dialog says so and stays open.
    CLinkDlg none(kStaffFields);
    expectRefused(none);
}

TEST(CLinkDlg, ChoosingTheEmptyEntryAgainTakesTheConditionBack) {
    CLinkDlg dialog(kStaffFields);
    choose(dialog.condition(0), u(u"工号"));
    dialog.condition(0)->setCurrentIndex(0);
    dialog.accept();
    EXPECT_TRUE(dialog.choice().conditions.isEmpty());
}

TEST(CLinkDlg, CancellingHandsBackNoCondition) {
    CLinkDlg dialog(kStaffFields);
    choose(dialog.condition(0), u(u"工号"));
    QTest::mouseClick(dialog.sumBox(), Qt::LeftButton);
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.choice().conditions.isEmpty());
    EXPECT_TRUE(dialog.choice().options.preferFileOne);
    EXPECT_FALSE(dialog.choice().options.sumNumbers);
}

// ---------------------------------------------------------------------------------------------
// SelDlg

TEST(SelDlg, OpensWithSixEmptyConditionRowsUnderTheirHeadings) {
    SelDlg dialog(kStaffFields);
    expectFrame(dialog, u(u"选择筛选条件"), u(u"筛选"));
    EXPECT_TRUE(hasLabel(dialog, u(u"条件名 (选择)")));
    EXPECT_TRUE(hasLabel(dialog, QStringLiteral("=")));
    EXPECT_TRUE(hasLabel(dialog, u(u"条件值 (输入)")));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(items(dialog.field(i)), kStaffChooser) << i;
        EXPECT_EQ(dialog.field(i)->currentIndex(), 0) << i;
        EXPECT_TRUE(dialog.value(i)->text().isEmpty()) << i;
    }
}

TEST(SelDlg, ConfirmingHandsBackTheRowsWithAChosenFieldAndTheirValuesAsTyped) {
    struct Row {
        int index;
        const char16_t* field; // nullptr: no field chosen
        const char16_t* value;
    };
    struct Case {
        const char* name;
        std::vector<Row> rows;
        QStringList fields;
        QStringList values;
    };
    const Case cases[] = {
        {"one condition", {{0, u"部门", u"销售"}}, {u(u"部门")}, {u(u"销售")}},
        {"value kept untrimmed", {{1, u"姓名", u" 张三 "}}, {u(u"姓名")}, {u(u" 张三 ")}},
        {"empty value counts", {{2, u"工号", u""}}, {u(u"工号")}, {QString()}},
        {"value without field ignored", {{0, nullptr, u"x"}, {3, u"工号", u"7"}}, {u(u"工号")}, {u(u"7")}},
        {"rows top to bottom, same field twice",
         {{5, u"部门", u"b"}, {4, u"部门", u"a"}, {0, u"姓名", u"c"}},
         {u(u"姓名"), u(u"部门"), u(u"部门")},
         {u(u"c"), u(u"a"), u(u"b")}},
    };
    for (const Case& c : cases) {
        SelDlg dialog(kStaffFields);
        for (const Row& row : c.rows) {
            if (row.field) choose(dialog.field(row.index), u(row.field));
            dialog.value(row.index)->insert(u(row.value)); // typed text, not necessarily ASCII
        }
        expectAccepted(dialog, c.name);
        EXPECT_EQ(dialog.choice().fields, c.fields) << c.name;
        EXPECT_EQ(dialog.choice().values, c.values) << c.name;
    }
    SelDlg none(kStaffFields);
    expectRefused(none);
}

TEST(SelDlg, CancellingHandsBackNoCondition) {
    SelDlg dialog(kStaffFields);
    choose(dialog.field(0), u(u"部门"));
    dialog.value(0)->setText(u(u"销售"));
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.choice().fields.isEmpty());
    EXPECT_TRUE(dialog.choice().values.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// CAddRowDlg

TEST(CAddRowDlg, OpensWithOneAndItsArrowsStepWithinOneToHundred) {
    CAddRowDlg dialog;
    expectFrame(dialog, u(u"平均增加空行"), u(u"增加"));
    QAbstractSpinBox* box = dialog.countBox();
    EXPECT_EQ(box->text(), QStringLiteral("1"));

    struct Case {
        const char* typed;
        int steps;
        const char* expected;
    };
    const Case cases[] = {
        {"1", 1, "2"},     {"1", -1, "1"},   {"5", -2, "3"},  {"99", 3, "100"}, {"250", -1, "99"},
        {"250", 1, "100"}, {"3abc", 1, "4"}, {"abc", 1, "2"}, {"-7", 2, "3"},   {"", 1, "2"},
    };
    for (const Case& c : cases) {
        box->findChild<QLineEdit*>()->setText(QString::fromLatin1(c.typed));
        box->stepBy(c.steps);
        EXPECT_EQ(box->text(), QString::fromLatin1(c.expected)) << c.typed << " by " << c.steps;
    }
    // The arrow keys step too, and stop at the ends.
    box->findChild<QLineEdit*>()->setText(QStringLiteral("100"));
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(box->text(), QStringLiteral("100"));
    box->findChild<QLineEdit*>()->setText(QStringLiteral("1"));
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->text(), QStringLiteral("1"));
    box->findChild<QLineEdit*>()->setText(QStringLiteral("7"));
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(box->text(), QStringLiteral("8"));
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->text(), QStringLiteral("6"));
}

TEST(CAddRowDlg, ConfirmingTakesTheTypedTextAsTypedAndCancellingGivesMinusOne) {
    struct Case {
        const char* typed;
        int count;
    };
    // A count below 1 (what "abc", "" and "-2" read as) is refused and the dialog stays open.
    const Case cases[] = {{"2", 2}, {"250", 250}, {"3abc", 3}, {"abc", -1},
                          {"", -1}, {"-2", -1},   {" 12", 12}};
    for (const Case& c : cases) {
        test::refusals().clear();
        CAddRowDlg dialog;
        QLineEdit* edit = dialog.countBox()->findChild<QLineEdit*>();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(dialog.countBox(), QString::fromLatin1(c.typed));
        EXPECT_EQ(dialog.countBox()->text(), QString::fromLatin1(c.typed)) << c.typed; // never corrected
        QTest::mouseClick(dialog.confirmButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.count > 0) << c.typed;
        EXPECT_EQ(test::refusals().size(), c.count > 0 ? 0 : 1) << c.typed;
        EXPECT_EQ(dialog.blankCount(), c.count) << c.typed;
    }

    CAddRowDlg untouched;
    untouched.accept();
    EXPECT_EQ(untouched.blankCount(), 1);

    CAddRowDlg cancelled;
    cancelled.countBox()->findChild<QLineEdit*>()->setText(QStringLiteral("5"));
    QTest::mouseClick(cancelled.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(cancelled.blankCount(), -1);
}

// ---------------------------------------------------------------------------------------------
// FieldListPair

TEST(FieldListPair, OffersTheLabelsSortedAndStartsWithNothingChosen) {
    // 30 fields: A … Z, AA … AD. A sorted list puts "A (…)" before "AA (…)" and those
    // before "B (…)".
    FieldList fields;
    for (int i = 1; i <= 30; ++i)
        fields.append(QStringLiteral("f%1").arg(i));
    FieldListPair pair(groupSumLabels(fields));
    const QStringList left = items(pair.leftList());
    ASSERT_EQ(left.size(), 30);
    EXPECT_EQ(left.mid(0, 6), QStringList({QStringLiteral("A (f1)"), QStringLiteral("AA (f27)"),
                                           QStringLiteral("AB (f28)"), QStringLiteral("AC (f29)"),
                                           QStringLiteral("AD (f30)"), QStringLiteral("B (f2)")}));
    EXPECT_EQ(left.back(), QStringLiteral("Z (f26)"));
    EXPECT_EQ(pair.rightList()->count(), 0);
    EXPECT_TRUE(pair.chosen().isEmpty());
    EXPECT_EQ(pair.addButton()->text(), QStringLiteral(">"));
    EXPECT_EQ(pair.removeButton()->text(), QStringLiteral("<"));
    EXPECT_EQ(pair.leftList()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(pair.rightList()->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST(FieldListPair, ArrowsMoveLabelsAndSelectionsAsTheUserExpects) {
    const QStringList labels = {QStringLiteral("A (名称)"), QStringLiteral("B (数量)"),
                                QStringLiteral("C (金额)"), QStringLiteral("D (单价)")};
    // Each step: which arrow, which row to select first in its list (-1: leave as is, -2:
    // clear the selection), and the state after the press.
    struct Step {
        const char* what;
        char arrow;
        int select;
        QStringList right;
        int leftSelected;
        int rightSelected;
    };
    const Step steps[] = {
        {"> with nothing selected does nothing", '>', -2, {}, -1, -1},
        {"> moves B and steps down to C", '>', 1, {QStringLiteral("B (数量)")}, 2, 0},
        {"> again moves C, right list sorted, last selected",
         '>',
         -1,
         {QStringLiteral("B (数量)"), QStringLiteral("C (金额)")},
         3,
         1},
        {"> moves A into first place, the last entry is selected",
         '>',
         0,
         {QStringLiteral("A (名称)"), QStringLiteral("B (数量)"), QStringLiteral("C (金额)")},
         1,
         2},
        {"> on a label already there adds nothing but still steps",
         '>',
         1,
         {QStringLiteral("A (名称)"), QStringLiteral("B (数量)"), QStringLiteral("C (金额)")},
         2,
         2},
        {"> on the last left entry leaves nothing selected there",
         '>',
         3,
         {QStringLiteral("A (名称)"), QStringLiteral("B (数量)"), QStringLiteral("C (金额)"),
          QStringLiteral("D (单价)")},
         -1,
         3},
        {"< removes the selected entry and selects the one above",
         '<',
         2,
         {QStringLiteral("A (名称)"), QStringLiteral("B (数量)"), QStringLiteral("D (单价)")},
         -1,
         1},
        {"< on the first entry leaves nothing selected",
         '<',
         0,
         {QStringLiteral("B (数量)"), QStringLiteral("D (单价)")},
         -1,
         -1},
        {"< with nothing selected does nothing",
         '<',
         -1,
         {QStringLiteral("B (数量)"), QStringLiteral("D (单价)")},
         -1,
         -1},
        {"the right list's last entry removed", '<', 1, {QStringLiteral("B (数量)")}, -1, 0},
    };
    FieldListPair pair(labels);
    for (const Step& s : steps) {
        QListWidget* list = s.arrow == '>' ? pair.leftList() : pair.rightList();
        if (s.select >= 0) list->setCurrentRow(s.select);
        if (s.select == -2) list->clearSelection();
        QTest::mouseClick(s.arrow == '>' ? pair.addButton() : pair.removeButton(), Qt::LeftButton);
        EXPECT_EQ(items(pair.rightList()), s.right) << s.what;
        EXPECT_EQ(pair.chosen(), s.right) << s.what;
        EXPECT_EQ(selectedRow(pair.leftList()), s.leftSelected) << s.what;
        EXPECT_EQ(selectedRow(pair.rightList()), s.rightSelected) << s.what;
        EXPECT_EQ(pair.leftList()->count(), 4) << s.what; // the left list never changes
    }
}

TEST(FieldListPair, AnEntryBeginningWithTheLabelInAnyCaseBlocksIt) {
    FieldListPair pair({QStringLiteral("A (name)"), QStringLiteral("B (x)")});
    pair.rightList()->addItem(QStringLiteral("a (NAME) and more"));
    pair.leftList()->setCurrentRow(0);
    pair.moveRight();
    EXPECT_EQ(items(pair.rightList()), QStringList({QStringLiteral("a (NAME) and more")}));
    pair.moveRight(); // B (x) is new
    EXPECT_EQ(items(pair.rightList()),
              QStringList({QStringLiteral("a (NAME) and more"), QStringLiteral("B (x)")}));
}

// ---------------------------------------------------------------------------------------------
// CSumDlg

TEST(CSumDlg, OpensWithNoGroupAndEveryColumnLabelOnTheLeft) {
    CSumDlg dialog(kStaffFields);
    expectFrame(dialog, u(u"分组汇总"), u(u"汇总"));
    EXPECT_TRUE(hasLabel(dialog, u(u"选择要汇总的列：")));
    const char16_t* labels[] = {u"第一分组", u"第二分组", u"第三分组", u"第四分组", u"第五分组", u"第六分组"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(hasLabel(dialog, u(labels[i]))) << i;
        EXPECT_EQ(items(dialog.group(i)), kStaffChooser) << i;
        EXPECT_EQ(dialog.group(i)->currentIndex(), 0) << i;
    }
    EXPECT_EQ(items(dialog.sumColumns()->leftList()),
              QStringList({u(u"A (姓名)"), u(u"B (工号)"), u(u"C (部门)")}));
    EXPECT_EQ(dialog.sumColumns()->rightList()->count(), 0);
    EXPECT_LT(dialog.sumColumns()->addButton()->width(), dialog.confirmButton()->width());
}

TEST(CSumDlg, ConfirmingHandsBackGroupFieldsInListOrderAndTheMovedLabels) {
    const FieldList fields = {u(u"地区"), u(u"城市"), u(u"金额"), u(u"数量")};
    struct Case {
        const char* name;
        std::vector<std::pair<int, const char16_t*>> groups;
        std::vector<int> moved; // left rows to move with ">", in order
        QStringList groupFields;
        QStringList sumLabels;
    };
    // Left list, sorted: A (地区), B (城市), C (金额), D (数量).
    const Case cases[] = {
        {"one group, automatic sums", {{0, u"地区"}}, {}, {u(u"地区")}, {}},
        {"gaps skipped, order kept, labels sorted",
         {{4, u"城市"}, {1, u"地区"}},
         {3, 2},
         {u(u"地区"), u(u"城市")},
         {u(u"C (金额)"), u(u"D (数量)")}},
        {"same field twice, group column summed",
         {{0, u"地区"}, {1, u"地区"}},
         {0},
         {u(u"地区"), u(u"地区")},
         {u(u"A (地区)")}},
    };
    for (const Case& c : cases) {
        CSumDlg dialog(fields);
        for (const auto& [index, text] : c.groups)
            choose(dialog.group(index), u(text));
        for (int row : c.moved) {
            dialog.sumColumns()->leftList()->setCurrentRow(row);
            QTest::mouseClick(dialog.sumColumns()->addButton(), Qt::LeftButton);
        }
        expectAccepted(dialog, c.name);
        EXPECT_EQ(dialog.choice().groupFields, c.groupFields) << c.name;
        EXPECT_EQ(dialog.choice().sumLabels, c.sumLabels) << c.name;
    }
    // A sum column without a group field is refused.
    CSumDlg none(fields);
    none.sumColumns()->leftList()->setCurrentRow(2);
    QTest::mouseClick(none.sumColumns()->addButton(), Qt::LeftButton);
    expectRefused(none);
}

TEST(CSumDlg, EachChosenColumnTakesAFunctionSumFirst) {
    const FieldList fields = {u(u"地区"), u(u"城市"), u(u"金额"), u(u"数量")};
    CSumDlg dialog(fields);
    QComboBox* function = dialog.functionBox();
    EXPECT_EQ(items(function),
              QStringList({u(u"求和"), u(u"计数"), u(u"平均值"), u(u"最大值"), u(u"最小值")}));
    EXPECT_FALSE(function->isEnabled()); // no chosen column selected
    choose(dialog.group(0), u(u"地区"));
    QListWidget* right = dialog.sumColumns()->rightList();
    for (int row : {2, 3}) {
        dialog.sumColumns()->leftList()->setCurrentRow(row);
        QTest::mouseClick(dialog.sumColumns()->addButton(), Qt::LeftButton);
    }
    // The last moved entry is selected, as a sum.
    EXPECT_TRUE(function->isEnabled());
    EXPECT_EQ(function->currentText(), u(u"求和"));
    function->setCurrentIndex(2);
    EXPECT_EQ(items(right), QStringList({u(u"C (金额)"), u(u"D (数量)（平均值）")}));
    right->setCurrentRow(0);
    EXPECT_EQ(function->currentText(), u(u"求和"));
    function->setCurrentIndex(4);
    right->setCurrentRow(1);
    EXPECT_EQ(function->currentText(), u(u"平均值"));
    // Back to 求和 shows the plain label; a moved entry cannot come in twice.
    function->setCurrentIndex(0);
    function->setCurrentIndex(1);
    dialog.sumColumns()->leftList()->setCurrentRow(3);
    QTest::mouseClick(dialog.sumColumns()->addButton(), Qt::LeftButton);
    expectAccepted(dialog, "functions");
    EXPECT_EQ(dialog.choice().sumLabels, QStringList({u(u"C (金额)（最小值）"), u(u"D (数量)（计数）")}));
}

TEST(CSumDlg, TheThirtiethFieldIsOfferedAsAD) {
    FieldList fields;
    for (int i = 1; i <= 30; ++i)
        fields.append(QStringLiteral("f%1").arg(i));
    CSumDlg dialog(fields);
    QListWidget* left = dialog.sumColumns()->leftList();
    const QList<QListWidgetItem*> found = left->findItems(QStringLiteral("AD (f30)"), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    left->setCurrentItem(found.front());
    dialog.sumColumns()->moveRight();
    choose(dialog.group(0), QStringLiteral("f1"));
    dialog.accept();
    EXPECT_EQ(dialog.choice().sumLabels, QStringList({QStringLiteral("AD (f30)")}));
    EXPECT_EQ(columnOfGroupSumLabel(dialog.choice().sumLabels.front()), 29);
}

TEST(CSumDlg, CancellingHandsBackNothing) {
    CSumDlg dialog(kStaffFields);
    choose(dialog.group(0), u(u"部门"));
    dialog.sumColumns()->leftList()->setCurrentRow(0);
    dialog.sumColumns()->moveRight();
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.choice().groupFields.isEmpty());
    EXPECT_TRUE(dialog.choice().sumLabels.isEmpty());
}
