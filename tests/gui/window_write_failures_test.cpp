// The window when the disk fills up while it writes: the working file 1.xml of a workbook just
// opened and an exported result each end in one message naming the file, the earlier file
// stays as it was and no temporary file is left in the working folder. The workbook opened
// stays shown, but the working file that did not get written is not used in its place.

#include "app/CQuellarDlg.h"
#include "tests/DiskLimit.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using Command = CQuellarDlg::Command;

namespace {

using test::DiskLimit;

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(WindowWriteFailures, FullDiskWhileOpeningAndExportingIsNamedAndKeepsTheEarlierFiles) {
    QTemporaryDir work, sources;
    // A workbook whose working file is far larger than the limit.
    Workbook big = Workbook::makeDefault();
    for (int r = 0; r < 4000; ++r) {
        big.sheets[0].cellAt(r, 0).value = CellValue::fromNumber(r);
        big.sheets[0].cellAt(r, 1).value =
            CellValue::fromString(SharedText(QStringLiteral("第%1行 张三李四").arg(r)));
    }
    const QString source = sources.filePath(QStringLiteral("名单.xlsx"));
    ASSERT_TRUE(writeWorkbook(big, source, FileKind::Xlsx).isOk());

    CQuellarDlg window(work.path());
    auto owned = std::make_unique<test::ScriptedPrompts>();
    test::ScriptedPrompts* prompts = owned.get();
    window.setPrompts(std::move(owned));

    // The first opening succeeds and leaves 1.xml; the second, with the disk full, must not
    // damage it.
    prompts->openPaths.push_back(test::staff(1));
    window.action(Command::OpenFile1)->trigger();
    window.settleWorkingFiles();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    const QString working = QDir(work.path()).filePath(QStringLiteral("1.xml"));
    const QByteArray earlier = bytesOf(working);
    ASSERT_FALSE(earlier.isEmpty());
    {
        DiskLimit limit(64 * 1024);
        prompts->openPaths.push_back(source);
        window.action(Command::OpenFile1)->trigger();
        window.settleWorkingFiles();
    }
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("1.xml"))) << prompts->messages[0].toStdString();
    EXPECT_EQ(bytesOf(working), earlier);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("1.xml")});
    EXPECT_EQ(window.filePath(1), source);
    // The earlier 1.xml holds another workbook: page subtotals refuse it, naming the failure.
    window.action(Command::PageSubtotals)->trigger();
    ASSERT_EQ(prompts->messages.size(), 2);
    EXPECT_TRUE(prompts->messages[1].contains(QStringLiteral("没有写出")))
        << prompts->messages[1].toStdString();
    EXPECT_TRUE(prompts->shownWorkbooks.isEmpty());
    prompts->messages.removeLast();

    // Export of the result pane to a file that exists already.
    const QString exported = sources.filePath(QStringLiteral("结果.xlsx"));
    QFile old(exported);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier export");
    old.close();
    {
        DiskLimit limit(2 * 1024);
        prompts->savePaths.push_back(SaveChoice{exported, true});
        window.action(Command::Export)->trigger();
    }
    ASSERT_EQ(prompts->messages.size(), 2);
    EXPECT_TRUE(prompts->messages[1].contains(QStringLiteral("结果.xlsx")))
        << prompts->messages[1].toStdString();
    EXPECT_EQ(bytesOf(exported), QByteArray("earlier export"));
    EXPECT_TRUE(prompts->shownWorkbooks.isEmpty());
    EXPECT_EQ(QDir(sources.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("名单.xlsx"), QStringLiteral("结果.xlsx")}));
}
