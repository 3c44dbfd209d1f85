// What a walk through the window found, put right: the comparison rules are remembered with
// the dialog's other choices; a second window opens offset from the first, every window's
// title names its files and a second window's note about its own folder stays; the large
// working files go when the window closes while reports stay; a program that fails to start
// is told apart from a missing one; the dialog names a bad tolerance by its own label; the
// range box shows a single cell as "A1"; the open dialog starts where the last workbook was.

#include "app/CQuellarDlg.h"
#include "app/DesktopShell.h"
#include "app/RecentFiles.h"
#include "app/WorkFolder.h"
#include "components/SheetPane.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/GzbDlg.h"
#include "dialogs/RulesBox.h"
#include "tests/gui/GuiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using test::ScriptedPrompts;
using test::staff;
using test::u;
using Command = CQuellarDlg::Command;

namespace {

// Scripted answers, except that 两表对比 asks through the real dialog and its memory.
class RealDiffDialog : public ScriptedPrompts {
public:
    std::optional<DiffChoice> diffOptions(QWidget* parent, const FieldList& fields) override {
        return UserPrompts::diffOptions(parent, fields); // NOLINT(bugprone-parent-virtual-call)
    }
};

QString statusOf(const CQuellarDlg& window) {
    return window.findChild<QLabel*>(QStringLiteral("status"))->toolTip();
}

// A window with both staff lists open, asking 两表对比 through the real dialog.
class RememberedRules : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<RealDiffDialog>();
        prompts = owned.get();
        window.setPrompts(std::move(owned));
        window.show();
        for (int which : {1, 2}) {
            prompts->openPaths.push_back(staff(which));
            window.action(which == 1 ? Command::OpenFile1 : Command::OpenFile2)->trigger();
        }
    }

    QTemporaryDir dir;
    CQuellarDlg window{dir.path()};
    RealDiffDialog* prompts = nullptr;
};

} // namespace

TEST_F(RememberedRules, TheSameComparisonRunTwiceGivesTheSameCounts) {
    // The first time the key, a per-field tolerance, a relative tolerance, an ignored column
    // and a text rule are chosen.
    test::whenShown<CDiffDlg>([](CDiffDlg* dialog) {
        test::choose(dialog->chooser(0), u(u"工号"));
        RulesBox* rules = dialog->rulesBox();
        rules->toleranceEdit()->setText(u(u"工资=500"));
        rules->relativeEdit()->setText(u(u"0.5%"));
        rules->ignoredEdit()->setText(u(u"入职日期"));
        rules->widthBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    window.action(Command::CompareTables)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    const QString first = statusOf(window);
    EXPECT_TRUE(first.contains(u(u"相对 0.5%、工资 500"))) << first.toStdString();
    EXPECT_TRUE(first.contains(u(u"不比较 入职日期"))) << first.toStdString();

    // The second time the dialog opens as it was confirmed, and confirming it gives the same.
    QStringList shown;
    test::whenShown<CDiffDlg>([&](CDiffDlg* dialog) {
        RulesBox* rules = dialog->rulesBox();
        shown << dialog->chooser(0)->currentText() << rules->toleranceEdit()->text()
              << rules->relativeEdit()->text() << rules->ignoredEdit()->text()
              << QString::number(rules->widthBox()->isChecked())
              << QString::number(rules->spacesBox()->isChecked());
        dialog->confirmButton()->click();
    });
    window.action(Command::CompareTables)->trigger();
    EXPECT_EQ(shown, (QStringList{u(u"工号"), u(u"工资=500"), "0.5%", u(u"入职日期"), "1", "0"}));
    EXPECT_EQ(statusOf(window), first);
}

TEST_F(RememberedRules, AFieldTheTablesLackIsNamedByTheDialogsLabel) {
    test::whenShown<CDiffDlg>([](CDiffDlg* dialog) {
        dialog->positionalButton()->setChecked(true);
        dialog->rulesBox()->relativeEdit()->setText(u(u"奖金=1%"));
        dialog->confirmButton()->click();
    });
    window.action(Command::CompareTables)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(u(u"“相对容差”里的字段“奖金”")))
        << prompts->messages[0].toStdString();
    EXPECT_FALSE(prompts->messages[0].contains(QStringLiteral("--rel-tolerance")));
}

TEST_F(RememberedRules, TheWorkbookComparisonKeepsItsRulesToo) {
    UserPrompts prompts;
    test::whenShown<GzbDlg>([](GzbDlg* dialog) {
        dialog->rulesBox()->toleranceEdit()->setText(u(u"0.0000001；金额=10000000"));
        dialog->rulesBox()->spacesBox()->setChecked(true);
        dialog->rulesBox()->byNameBox()->setChecked(true);
        dialog->confirmButton()->click();
    });
    const std::optional<CompareOptions> first = prompts.bookOptions(nullptr);
    ASSERT_TRUE(first);
    QString shown;
    test::whenShown<GzbDlg>([&](GzbDlg* dialog) {
        shown = dialog->rulesBox()->toleranceEdit()->text();
        dialog->confirmButton()->click();
    });
    const std::optional<CompareOptions> second = prompts.bookOptions(nullptr);
    ASSERT_TRUE(second);
    EXPECT_EQ(shown, u(u"0.0000001；金额=10000000"));
    EXPECT_EQ(second->rules.tolerance, 1e-7);
    ASSERT_EQ(second->rules.fieldTolerances.size(), 1u);
    EXPECT_EQ(second->rules.fieldTolerances[0].value, 10000000);
    EXPECT_TRUE(second->rules.ignoreSpaces && second->rules.columnsByName && !second->rules.ignoreWidth);
}

TEST(RulesSection, ABadToleranceIsNamedByTheDialogsLabel) {
    CDiffDlg diff({u(u"工号"), u(u"工资")});
    diff.positionalButton()->setChecked(true);
    diff.rulesBox()->toleranceEdit()->setText(u(u"工资=abc"));
    diff.show();
    diff.confirmButton()->click();
    EXPECT_NE(diff.result(), QDialog::Accepted);
    const QString error = diff.errorLabel()->text();
    EXPECT_TRUE(error.contains(u(u"“数值容差”里的值“abc”"))) << error.toStdString();
    EXPECT_TRUE(error.contains(u(u"工资")));
    EXPECT_FALSE(error.contains(QStringLiteral("--tolerance"))) << error.toStdString();
}

class WindowWalk : public test::WindowTest {};

TEST_F(WindowWalk, TitlesNameTheOpenFiles) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quellar"));
    open(2, staff(2));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quellar — staff2.xml"));
    open(1, staff(1));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quellar — staff1.xml ↔ staff2.xml"));
    EXPECT_EQ(CQuellarDlg::titleFor(u(u"/a/旧名单.xlsx"), u(u"/b/新名单.xlsx")),
              u(u"Quellar — 旧名单.xlsx ↔ 新名单.xlsx"));
    EXPECT_EQ(CQuellarDlg::titleFor(u(u"/a/旧名单.xlsx"), QString()), u(u"Quellar — 旧名单.xlsx"));
    EXPECT_EQ(CQuellarDlg::titleFor(QString(), QString()), QStringLiteral("Quellar"));
}

TEST_F(WindowWalk, ASecondWindowOpensOffsetAndKeepsItsFolderNote) {
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("folderNote")), nullptr);
    ScriptedPrompts* secondPrompts = nullptr;
    std::unique_ptr<CQuellarDlg> second = makeWindow(secondPrompts);
    const QPoint offset = second->pos() - window->pos();
    EXPECT_GT(offset.x(), 0);
    EXPECT_EQ(offset.x(), offset.y());
    EXPECT_LE(offset.x(), 60);
    ScriptedPrompts* thirdPrompts = nullptr;
    std::unique_ptr<CQuellarDlg> third = makeWindow(thirdPrompts);
    EXPECT_EQ(third->pos() - second->pos(), offset);

    // The note stays when the status line moves on.
    const QLabel* note = second->findChild<QLabel*>(QStringLiteral("folderNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains(QStringLiteral("quellar-2"))) << note->text().toStdString();
    secondPrompts->openPaths.push_back(staff(1));
    second->action(Command::OpenFile1)->trigger();
    second->settleWorkingFiles();
    EXPECT_TRUE(statusOf(*second).contains(QStringLiteral("staff1.xml")));
    EXPECT_TRUE(note->text().contains(QStringLiteral("quellar-2")));
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(second->windowTitle(), QStringLiteral("Quellar — staff1.xml"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quellar"));
}

TEST_F(WindowWalk, ClosingRemovesTheWorkingFilesAndKeepsTheReports) {
    open(1, staff(1));
    open(2, staff(2));
    CompareOptions positional;
    positional.keyMode = false;
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    const QDir folder(dir.path());
    for (const char* name : {"1.xml", "2.xml", "report.htm", "report-details.htm"})
        ASSERT_TRUE(folder.exists(QLatin1String(name))) << name;
    // A working file changed by someone else since is not the window's to remove.
    {
        QFile changed(folder.filePath(QStringLiteral("2.xml")));
        ASSERT_TRUE(changed.open(QIODevice::Append));
        changed.write("<!-- kept -->");
    }
    window.reset();
    EXPECT_FALSE(folder.exists(QStringLiteral("1.xml")));
    EXPECT_TRUE(folder.exists(QStringLiteral("2.xml")));
    EXPECT_TRUE(folder.exists(QStringLiteral("report.htm")));
    EXPECT_TRUE(folder.exists(QStringLiteral("report-details.htm")));
    // The sources are never touched.
    EXPECT_TRUE(QFileInfo::exists(staff(1)));
}

TEST_F(WindowWalk, AProgramThatFailsToStartIsNamed) {
    open(1, staff(1));
    open(2, staff(2));
    prompts->failingProgram = QStringLiteral("LibreOffice Calc");
    CompareOptions positional;
    positional.keyMode = false;
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window->action(Command::CompareTables)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("“LibreOffice Calc”没有启动")))
        << prompts->messages[0].toStdString();
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("report.htm")));
    EXPECT_FALSE(prompts->messages[0].contains(u(u"没有可以打开它的程序")));
}

TEST_F(WindowWalk, TheRangeBoxShowsASingleCellAsOneAddress) {
    open(1, staff(1));
    window->pane(1)->select(RangeBounds{2, 3, 2, 3});
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("B3"));
    typeRange(1, QStringLiteral("c5"), true);
    EXPECT_EQ(window->pane(1)->selection(), (RangeBounds{3, 5, 3, 5}));
    EXPECT_EQ(window->rangeBox(1)->text(), QStringLiteral("C5"));
}

TEST_F(WindowWalk, TheOpenDialogStartsWhereTheLastWorkbookWas) {
    EXPECT_TRUE(RecentFiles::lastFolder().isEmpty());
    open(1, staff(1));
    EXPECT_EQ(RecentFiles::lastFolder(), QFileInfo(staff(1)).absolutePath());
    EXPECT_NE(RecentFiles::lastFolder(), QFileInfo(dir.path()).absoluteFilePath());
}

namespace {

// A desktop of scripts: xdg-open ending with the status in FAKE_OPEN_STATUS, xdg-mime naming
// fakecalc.desktop, and that entry's program, all first on the PATH.
class FakeDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        bin = dir.filePath(QStringLiteral("bin"));
        applications = dir.filePath(QStringLiteral("data/applications"));
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(applications));
        script(QStringLiteral("xdg-open"), "exit \"$FAKE_OPEN_STATUS\"\n");
        script(QStringLiteral("xdg-mime"), "echo fakecalc.desktop\n");
        script(QStringLiteral("fakecalc"), "exit 1\n");
        entry(QStringLiteral("fakecalc"));
        savedPath = qgetenv("PATH");
        savedData = qgetenv("XDG_DATA_HOME");
        qputenv("PATH", QFile::encodeName(bin) + ':' + savedPath);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        workbook = dir.filePath(QStringLiteral("结果.xlsx"));
        QFile file(workbook);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void TearDown() override {
        qputenv("PATH", savedPath);
        if (savedData.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", savedData);
        qunsetenv("FAKE_OPEN_STATUS");
    }
    void script(const QString& name, const char* body) {
        QFile file(QDir(bin).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("#!/bin/sh\n") + body);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void entry(const QString& program) {
        QFile file(QDir(applications).filePath(QStringLiteral("fakecalc.desktop")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=假表格\nName[en]=Fake Calc\n"
                                  "Exec=env LANG=C %1 %U\n")
                       .arg(program)
                       .toUtf8());
    }
    DesktopOpening openWith(int status) {
        qputenv("FAKE_OPEN_STATUS", QByteArray::number(status));
        return openDocument(workbook);
    }

    QTemporaryDir dir;
    QString bin, applications, workbook;
    QByteArray savedPath, savedData;
};

} // namespace

TEST_F(FakeDesktop, AMissingProgramAndOneThatFailsToStartAreToldApart) {
    using Outcome = DesktopOpening::Outcome;
    EXPECT_EQ(openWith(0).outcome, Outcome::Opened);
    EXPECT_EQ(registeredProgram(workbook), u(u"假表格"));
    // The desktop has an installed program for it, which did not take the file.
    DesktopOpening failed = openWith(3);
    EXPECT_EQ(failed.outcome, Outcome::FailedToStart);
    EXPECT_EQ(failed.program, u(u"假表格"));
    EXPECT_TRUE(failedToStartMessage(workbook, failed.program).contains(u(u"“假表格”没有启动")));
    EXPECT_TRUE(failedToStartMessage(workbook, failed.program).contains(u(u"结果.xlsx")));
    // The entry names a program that is not installed: nothing can open the file.
    entry(QStringLiteral("notinstalled"));
    EXPECT_TRUE(registeredProgram(workbook).isEmpty());
    EXPECT_EQ(openWith(3).outcome, Outcome::NoProgram);
    // xdg-open's own "the action failed" without a known program names xdg-open.
    failed = openWith(4);
    EXPECT_EQ(failed.outcome, Outcome::FailedToStart);
    EXPECT_EQ(failed.program, QStringLiteral("xdg-open"));
    // No entry at all.
    QFile::remove(QDir(applications).filePath(QStringLiteral("fakecalc.desktop")));
    EXPECT_EQ(openWith(3).outcome, Outcome::NoProgram);
}
