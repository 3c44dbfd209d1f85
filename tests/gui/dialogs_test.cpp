// The options dialogs of the two comparisons: defaults, enabling rules, what they hand back
// when confirmed and when cancelled.

#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"

#include "tests/gui/GuiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace quellar;
using test::choose;
using test::items;

TEST(CDiffDlg, OpensWithTextTickedKeyModeAndSortedFieldsInEveryChooser) {
    CDiffDlg dialog({QStringLiteral("姓名"), QStringLiteral("工号"), QStringLiteral("部门")});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("对比选项"));
    EXPECT_TRUE(dialog.textBox()->isChecked());
    EXPECT_FALSE(dialog.formulaBox()->isChecked());
    EXPECT_FALSE(dialog.numberFormatBox()->isChecked());
    EXPECT_FALSE(dialog.ignoreCaseBox()->isChecked());
    EXPECT_TRUE(dialog.ignoreCaseBox()->isEnabled());
    EXPECT_TRUE(dialog.keyModeButton()->isChecked());
    EXPECT_FALSE(dialog.positionalButton()->isChecked());
    EXPECT_TRUE(dialog.confirmButton()->isDefault());
    EXPECT_EQ(dialog.confirmButton()->text(), QStringLiteral("对比"));
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(dialog.chooser(i)->isEnabled());
        EXPECT_EQ(dialog.chooser(i)->currentIndex(), 0); // nothing chosen
        // Sorted by pinyin: 部门 (bu), 工号 (gong), 姓名 (xing).
        EXPECT_EQ(items(dialog.chooser(i)), QStringList({QString(), QStringLiteral("部门"),
                                                         QStringLiteral("工号"), QStringLiteral("姓名")}));
    }
}

TEST(CDiffDlg, IgnoreCaseFollowsTextAndChoosersFollowTheMode) {
    CDiffDlg dialog({QStringLiteral("a"), QStringLiteral("b")});
    dialog.ignoreCaseBox()->setChecked(true);
    dialog.textBox()->click();
    EXPECT_FALSE(dialog.textBox()->isChecked());
    EXPECT_FALSE(dialog.ignoreCaseBox()->isChecked());
    EXPECT_FALSE(dialog.ignoreCaseBox()->isEnabled());
    dialog.textBox()->click();
    EXPECT_TRUE(dialog.ignoreCaseBox()->isEnabled());
    EXPECT_FALSE(dialog.ignoreCaseBox()->isChecked());

    choose(dialog.chooser(0), QStringLiteral("b"));
    dialog.positionalButton()->setChecked(true);
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(dialog.chooser(i)->isEnabled());
    EXPECT_EQ(dialog.chooser(0)->currentText(), QStringLiteral("b")); // kept
    dialog.keyModeButton()->setChecked(true);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(dialog.chooser(i)->isEnabled());
}

TEST(CDiffDlg, ConfirmingHandsBackTheOptionsAndTheChosenKeysInChooserOrder) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, const char16_t*>> chosen;
        bool positional;
        QStringList keys;
    };
    const Case cases[] = {
        {"one key", {{0, u"工号"}}, false, {QStringLiteral("工号")}},
        {"gaps skipped, order kept",
         {{5, u"姓名"}, {2, u"工号"}},
         false,
         {QStringLiteral("工号"), QStringLiteral("姓名")}},
        {"same name twice",
         {{0, u"工号"}, {1, u"工号"}},
         false,
         {QStringLiteral("工号"), QStringLiteral("工号")}},
        {"collected in positional mode too", {{3, u"姓名"}}, true, {QStringLiteral("姓名")}},
    };
    for (const Case& c : cases) {
        CDiffDlg dialog({QStringLiteral("工号"), QStringLiteral("姓名")});
        for (const auto& [index, text] : c.chosen)
            choose(dialog.chooser(index), QString::fromUtf16(text));
        if (c.positional) dialog.positionalButton()->setChecked(true);
        dialog.formulaBox()->setChecked(true);
        dialog.ignoreCaseBox()->setChecked(true);
        dialog.confirmButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.name;
        EXPECT_EQ(dialog.keys(), c.keys) << c.name;
        EXPECT_TRUE(dialog.options().compareText) << c.name;
        EXPECT_TRUE(dialog.options().compareFormula) << c.name;
        EXPECT_FALSE(dialog.options().compareNumberFormat) << c.name;
        EXPECT_TRUE(dialog.options().ignoreCase) << c.name;
        EXPECT_EQ(dialog.options().keyMode, !c.positional) << c.name;
    }
}

TEST(CDiffDlg, ConfirmingWithoutAKeyOrAnythingToCompareIsRefusedAndStaysOpen) {
    test::refusals().clear();
    CDiffDlg dialog({QStringLiteral("工号"), QStringLiteral("姓名")});
    dialog.show();
    dialog.confirmButton()->click(); // key mode, no key chosen
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(test::refusals().size(), 1);
    EXPECT_TRUE(test::refusals().last().contains(QStringLiteral("对比字段")));

    choose(dialog.chooser(0), QStringLiteral("工号"));
    dialog.textBox()->click(); // nothing left to compare
    dialog.confirmButton()->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(test::refusals().size(), 2);
    EXPECT_TRUE(test::refusals().last().contains(QStringLiteral("比较内容")));

    // By position no key is needed.
    dialog.textBox()->click();
    dialog.positionalButton()->setChecked(true);
    dialog.confirmButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(test::refusals().size(), 2);
}

TEST(CDiffDlg, CancellingChoosesNothing) {
    CDiffDlg dialog({QStringLiteral("工号")});
    choose(dialog.chooser(0), QStringLiteral("工号"));
    dialog.reject();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.keys().isEmpty());
    EXPECT_FALSE(dialog.options().compareText);
    EXPECT_FALSE(dialog.options().keyMode);
}

TEST(GzbDlg, OpensWithOnlyTextTickedAndKeepsTheBoxesIndependent) {
    GzbDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("工作簿比较选项"));
    EXPECT_EQ(dialog.confirmButton()->text(), QStringLiteral("比较"));
    EXPECT_TRUE(dialog.confirmButton()->isDefault());
    EXPECT_TRUE(dialog.textBox()->isChecked());
    EXPECT_FALSE(dialog.formulaBox()->isChecked());
    EXPECT_FALSE(dialog.numberFormatBox()->isChecked());
    EXPECT_FALSE(dialog.ignoreCaseBox()->isChecked());
    // Unlike CDiffDlg, ignoring case does not depend on comparing text.
    dialog.textBox()->click();
    EXPECT_TRUE(dialog.ignoreCaseBox()->isEnabled());
    dialog.ignoreCaseBox()->setChecked(true);
    dialog.confirmButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.options().compareText);
    EXPECT_TRUE(dialog.options().ignoreCase);
    EXPECT_FALSE(dialog.options().keyMode);
    EXPECT_TRUE(dialog.anyChosen());
}

TEST(GzbDlg, CancelledOrEmptyMeansNothingChosen) {
    GzbDlg cancelled;
    cancelled.reject();
    EXPECT_FALSE(cancelled.anyChosen());

    GzbDlg cleared;
    cleared.textBox()->setChecked(false);
    cleared.accept();
    EXPECT_FALSE(cleared.anyChosen());
}
