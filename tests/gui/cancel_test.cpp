// Long work beside the user-interface thread and its 取消: the progress window's run() (the
// work's thread, its progress, its exceptions, the cancellation points), and the window's
// commands cancelled — the panes as they were, no file left by an export, the status line.

#include "app/CQuellarDlg.h"
#include "app/CRunDlg.h"
#include "base/MessageTable.h"
#include "components/SheetPane.h"
#include "tests/gui/GuiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

using namespace quellar;
using test::CancelNextRun;
using test::staff;
using test::u;
using Command = CQuellarDlg::Command;

namespace {

// Where a pane's rows are kept: another workbook, even an equal one, keeps them elsewhere.
std::vector<const void*> rowsOf(const SheetPane* pane) {
    std::vector<const void*> rows;
    for (const Sheet& sheet : pane->workbook().sheets)
        rows.push_back(sheet.rows.data());
    return rows;
}

// A staff list of 300,000 rows as CSV: reading it (or its working file) takes far longer than
// the moment before 取消 is pressed, so the reading itself is stopped.
bool writeBigList(const QString& path) {
    std::string text = "编号,姓名,金额\r\n";
    for (int r = 0; r < 300000; ++r)
        text += std::to_string(100000 + r) + ",全角的姓名（ＡＢＣ）" + std::to_string(r) +
                ",1234567890123456\r\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

QString cancelledText(const char16_t* command) {
    return MessageTable::text(Msg::CommandCancelled).arg(u(command));
}

} // namespace

TEST(CRunDlgRun, RunsTheWorkOnItsOwnThreadAndShowsItsProgress) {
    CRunDlg progress;
    const std::thread::id here = std::this_thread::get_id();
    std::thread::id there;
    const Status status = progress.run([&](Progress& p) {
        there = std::this_thread::get_id();
        p.setText(Msg::Running);
        p.setRange(200);
        p.setPosition(0);
        for (int i = 0; i < 200; i += 2)
            p.advance(2);
        return Status::invalidInput(QStringLiteral("第 3 行不对"));
    });
    EXPECT_NE(there, here);
    // The work's own Status comes back, and the last progress it reported is shown.
    EXPECT_EQ(status.code(), Status::Code::InvalidInput);
    EXPECT_EQ(status.message(), QStringLiteral("第 3 行不对"));
    EXPECT_FALSE(progress.cancelled());
    EXPECT_EQ(progress.text(), MessageTable::text(Msg::Running));
    EXPECT_EQ(progress.position(), 200);
    auto* bar = progress.findChild<QProgressBar*>();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(progress.running());
    EXPECT_FALSE(progress.cancelButton()->isEnabled());

    // An exception in the work is its failure, not the program's end.
    const Status thrown = progress.run([](Progress&) -> Status { throw std::runtime_error("boom"); });
    EXPECT_EQ(thrown.code(), Status::Code::IoError);
    EXPECT_TRUE(thrown.message().contains(QStringLiteral("boom")));
    const Status noMemory = progress.run([](Progress&) -> Status { throw std::bad_alloc(); });
    EXPECT_EQ(noMemory.message(), QStringLiteral("内存不足"));
}

TEST(CRunDlgRun, CancelStopsTheWorkAtItsNextCancellationPoint) {
    CRunDlg progress;
    // Work that would run for a minute: it stops at the first progress step after 取消.
    std::atomic<int64_t> steps{0};
    QTimer::singleShot(50, &progress, [&] { progress.cancelButton()->click(); });
    const Status status = progress.run([&](Progress& p) {
        p.setRange(60000);
        for (int i = 0; i < 60000; ++i) {
            p.advance(1);
            ++steps;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Status::ok();
    });
    EXPECT_EQ(status.code(), Status::Code::Cancelled);
    EXPECT_TRUE(progress.cancelled());
    EXPECT_GT(progress.sinceCancel(), -1);
    EXPECT_LT(progress.sinceCancel(), 1000);
    EXPECT_LT(steps.load(), 60000);
    EXPECT_EQ(progress.text(), MessageTable::text(Msg::Cancelling));

    // Esc does the same; work that ends on its own by then is cancelled all the same (what it
    // made is the caller's to drop).
    QTimer::singleShot(0, &progress, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&progress, &escape);
    });
    bool ended = false;
    const Status escaped = progress.run([&](Progress&) {
        while (!cancellation::requested())
            std::this_thread::yield();
        ended = true;
        return Status::ok();
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(escaped.code(), Status::Code::Cancelled);

    // The next run starts afresh; outside run() 取消 does nothing.
    EXPECT_TRUE(progress
                    .run([](Progress& p) {
                        p.advance(1);
                        return Status::ok();
                    })
                    .isOk());
    EXPECT_FALSE(progress.cancelled());
    progress.cancel();
    EXPECT_FALSE(progress.cancelled());
}

TEST(Cancellation, OnlyTheThreadThatInstalledTheFlagIsCancelled) {
    std::atomic<bool> flag{true};
    NullProgress progress;
    EXPECT_FALSE(cancellation::requested());
    EXPECT_NO_THROW(progress.advance(1));
    {
        const cancellation::Scope scope(&flag);
        EXPECT_TRUE(cancellation::requested());
        EXPECT_THROW(progress.advance(1), WorkCancelled);
        EXPECT_EQ(progress.position(), 1); // a cancelled step does not move the bar
        // Another thread answers to its own flag only.
        bool elsewhere = true;
        std::thread([&] { elsewhere = cancellation::requested(); }).join();
        EXPECT_FALSE(elsewhere);
        // A cancellation is no failure: the boundaries make it Status::cancelled().
        const Status status = runGuarded([&] {
            progress.advance(1);
            return Status::ok();
        });
        EXPECT_EQ(status.code(), Status::Code::Cancelled);
    }
    EXPECT_FALSE(cancellation::requested());
}

class CancelTest : public test::WindowTest {
protected:
    // Both staff lists opened and compared by position; `positional` answers the dialog.
    void compareStaff() {
        open(1, staff(1));
        open(2, staff(2));
        positional.keyMode = false;
        prompts->diffAnswers.push_back(DiffChoice{positional, {}});
        window->action(Command::CompareTables)->trigger();
    }
    CompareOptions positional;
};

TEST_F(CancelTest, ACancelledOpenLeavesThePaneWithItsEarlierWorkbook) {
    open(1, staff(1));
    const std::vector<const void*> before = rowsOf(window->pane(1));
    const QString range = window->rangeBox(1)->text();
    {
        CancelNextRun cancel;
        prompts->openPaths.push_back(staff(2));
        window->action(Command::OpenFile1)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
    }
    EXPECT_EQ(rowsOf(window->pane(1)), before);
    EXPECT_EQ(window->filePath(1), staff(1));
    EXPECT_EQ(window->rangeBox(1)->text(), range);
    EXPECT_EQ(window->statusText(), cancelledText(u"打开文件1"));
    EXPECT_TRUE(prompts->messages.isEmpty());
    // The next open works as ever.
    open(1, staff(2));
    EXPECT_EQ(window->filePath(1), staff(2));
}

TEST_F(CancelTest, ACancelWhileABigCsvIsReadLeavesThePaneWithItsEarlierWorkbook) {
    const QString big = dir.filePath(QStringLiteral("大名单.csv"));
    ASSERT_TRUE(writeBigList(big));
    open(1, staff(1));
    const std::vector<const void*> before = rowsOf(window->pane(1));
    const QString range = window->rangeBox(1)->text();
    const QString title = window->windowTitle();
    for (const bool escape : {false, true}) {
        CancelNextRun cancel(escape, 20);
        prompts->openPaths.push_back(big);
        window->action(Command::OpenFile1)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
        EXPECT_EQ(rowsOf(window->pane(1)), before);
        EXPECT_EQ(window->filePath(1), staff(1));
        EXPECT_EQ(window->rangeBox(1)->text(), range);
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(window->statusText(), cancelledText(u"打开文件1"));
        EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    }
    // Not cancelled, the big list opens whole.
    open(1, big);
    ASSERT_EQ(window->pane(1)->workbook().sheets.size(), 1u);
    EXPECT_EQ(window->pane(1)->workbook().sheets[0].rows.size(), 300001u);
}

TEST_F(CancelTest, ACancelWhilePageSubtotalsReadTheWorkingFileEndsQuietly) {
    const QString big = dir.filePath(QStringLiteral("大名单.csv"));
    ASSERT_TRUE(writeBigList(big));
    open(1, big);
    const std::vector<const void*> before = rowsOf(window->pane(1));
    const QString workingFile = dir.filePath(QStringLiteral("1.xml"));
    const QByteArray written = test::bytesOf(workingFile);
    ASSERT_GT(written.size(), 1000000);
    {
        CancelNextRun cancel(false, 20);
        window->action(Command::PageSubtotals)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
    }
    EXPECT_EQ(window->statusText(), cancelledText(u"分页汇总"));
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    EXPECT_EQ(rowsOf(window->pane(1)), before);
    EXPECT_EQ(test::bytesOf(workingFile), written);
    const QStringList outputs =
        QDir(dir.path())
            .entryList({QStringLiteral("*分页汇总*"), QStringLiteral("3.xml*")}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(outputs.isEmpty()) << outputs.join(u' ').toStdString();
}

TEST_F(CancelTest, ACancelledOperationKeepsTheLastResult) {
    compareStaff();
    const std::vector<const void*> result = rowsOf(window->resultPane());
    const QString shown =
        test::sheetText(window->resultPane()->workbook(), window->resultPane()->workbook().sheets[0], 12, 12);
    ASSERT_EQ(window->resultPane()->workbook().sheets[0].name, QStringLiteral("对比结果"));

    // By 取消, and by Esc; a comparison and a join.
    for (const bool escape : {false, true}) {
        CancelNextRun cancel(escape);
        prompts->diffAnswers.push_back(DiffChoice{positional, {}});
        window->action(Command::CompareTables)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
        EXPECT_EQ(window->statusText(), cancelledText(u"两表对比"));
    }
    {
        CancelNextRun cancel;
        prompts->joinAnswers.push_back(JoinChoice{{u(u"工号")}, {}});
        window->action(Command::Join)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
        EXPECT_EQ(window->statusText(), cancelledText(u"两表连接"));
    }
    EXPECT_EQ(rowsOf(window->resultPane()), result);
    EXPECT_EQ(
        test::sheetText(window->resultPane()->workbook(), window->resultPane()->workbook().sheets[0], 12, 12),
        shown);
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    // The result pane is as usable as before: the next comparison replaces it.
    prompts->diffAnswers.push_back(DiffChoice{positional, {}});
    window->action(Command::CompareTables)->trigger();
    EXPECT_NE(rowsOf(window->resultPane()), result);
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("对比完成")));
}

TEST_F(CancelTest, ACancelledExportLeavesNoFileAndAnEarlierFileAsItWas) {
    compareStaff();
    QDir out(dir.filePath(QStringLiteral("out")));
    ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
    const QStringList everyFile{QStringLiteral("*")};
    const auto filters = QDir::Files | QDir::Hidden | QDir::System;

    for (const QString& name : {QStringLiteral("结果.xlsx"), QStringLiteral("结果.csv")}) {
        CancelNextRun cancel;
        prompts->savePaths.push_back(SaveChoice{out.filePath(name), name.endsWith(QStringLiteral(".xlsx"))});
        window->action(Command::Export)->trigger();
        EXPECT_EQ(cancel.pressed, 1);
        EXPECT_TRUE(out.entryList(everyFile, filters).isEmpty())
            << out.entryList(everyFile, filters).join(u' ').toStdString();
        EXPECT_EQ(window->statusText(), cancelledText(u"导出到Excel"));
        EXPECT_TRUE(prompts->shownWorkbooks.isEmpty());
    }

    // An earlier file of that name stays byte for byte.
    const QString earlier = out.filePath(QStringLiteral("上次.xlsx"));
    {
        QFile file(earlier);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier bytes");
    }
    {
        CancelNextRun cancel;
        prompts->savePaths.push_back(SaveChoice{earlier, true});
        window->action(Command::Export)->trigger();
    }
    QFile file(earlier);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("earlier bytes"));
    EXPECT_EQ(out.entryList(everyFile, filters), QStringList{QStringLiteral("上次.xlsx")});

    // Not cancelled, the export is written.
    prompts->savePaths.push_back(SaveChoice{earlier, true});
    window->action(Command::Export)->trigger();
    EXPECT_GT(QFileInfo(earlier).size(), 1000);
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
}
