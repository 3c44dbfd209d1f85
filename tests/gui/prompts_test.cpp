// The real prompts: the options dialogs and message boxes that UserPrompts shows, answered
// the way a user would while they run modally.

#include "app/UserPrompts.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "tests/gui/GuiTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quellar;

namespace {

using test::whenShown;

} // namespace

TEST(UserPrompts, DiffOptionsComeFromCDiffDlg) {
    UserPrompts prompts;
    whenShown<CDiffDlg>([](CDiffDlg* dialog) {
        dialog->chooser(1)->setCurrentIndex(dialog->chooser(1)->findText(QStringLiteral("工号")));
        dialog->numberFormatBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    const std::optional<DiffChoice> choice =
        prompts.diffOptions(nullptr, {QStringLiteral("工号"), QStringLiteral("姓名")});
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->keys, QStringList({QStringLiteral("工号")}));
    EXPECT_TRUE(choice->options.compareNumberFormat);
    EXPECT_TRUE(choice->options.keyMode);

    whenShown<CDiffDlg>([](CDiffDlg* dialog) { dialog->reject(); });
    EXPECT_FALSE(prompts.diffOptions(nullptr, {QStringLiteral("工号")}).has_value());
}

TEST(UserPrompts, BookOptionsComeFromGzbDlg) {
    UserPrompts prompts;
    whenShown<GzbDlg>([](GzbDlg* dialog) {
        dialog->formulaBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    const std::optional<CompareOptions> options = prompts.bookOptions(nullptr);
    ASSERT_TRUE(options.has_value());
    EXPECT_TRUE(options->compareText);
    EXPECT_TRUE(options->compareFormula);
    EXPECT_FALSE(options->keyMode);

    whenShown<GzbDlg>([](GzbDlg* dialog) { dialog->reject(); });
    EXPECT_FALSE(prompts.bookOptions(nullptr).has_value());
}

TEST(UserPrompts, MessageBoxesAreTitledWithTheProgramsName) {
    UserPrompts prompts;
    QString title, text;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    prompts.message(nullptr, QStringLiteral("库注册成功，修复完成。"), false);
    EXPECT_EQ(title, QStringLiteral("Quellar"));
    EXPECT_EQ(text, QStringLiteral("库注册成功，修复完成。"));
}
