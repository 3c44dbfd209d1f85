// The quellar command line: version and help without a display, the working folder (the
// current one, --workdir, or the per-user folder of the desktop entry) and the workbooks to
// open, named against the folder current at start.

#include "app/StartOptions.h"

#include "QuellarVersion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

namespace {
StartOptions parse(const QStringList& arguments, const QString& dataHome = QString()) {
    return parseStartOptions(arguments, QStringLiteral("/home/u/表格"), dataHome);
}
} // namespace

TEST(StartOptions, FilesStayInTheCurrentFolderUnlessAFolderIsChosen) {
    StartOptions plain =
        parse({QStringLiteral("a.xlsx"), QStringLiteral("../b.xls"), QStringLiteral("/tmp/c.csv")});
    EXPECT_EQ(plain.action, StartOptions::Action::Run);
    EXPECT_TRUE(plain.workFolder.isEmpty());
    EXPECT_EQ(plain.files, QStringList({QStringLiteral("/home/u/表格/a.xlsx"),
                                        QStringLiteral("/home/u/b.xls"), QStringLiteral("/tmp/c.csv")}));

    // Files keep naming what the user meant although the program then works elsewhere.
    StartOptions workdir =
        parse({QStringLiteral("--workdir"), QStringLiteral("work"), QStringLiteral("a.xlsx")});
    EXPECT_EQ(workdir.workFolder, QStringLiteral("/home/u/表格/work"));
    EXPECT_EQ(workdir.files, QStringList({QStringLiteral("/home/u/表格/a.xlsx")}));
    EXPECT_EQ(parse({QStringLiteral("--workdir=/srv/q")}).workFolder, QStringLiteral("/srv/q"));

    StartOptions dashes = parse({QStringLiteral("--"), QStringLiteral("--version")});
    EXPECT_EQ(dashes.action, StartOptions::Action::Run);
    EXPECT_EQ(dashes.files, QStringList({QStringLiteral("/home/u/表格/--version")}));
}

TEST(StartOptions, DesktopEntryWorksInThePerUserFolder) {
    EXPECT_EQ(parse({QStringLiteral("--user-workdir")}, QStringLiteral("/data/u")).workFolder,
              QStringLiteral("/data/u/quellar"));
    // Unset or relative XDG_DATA_HOME falls back to ~/.local/share.
    const QString fallback = QDir::homePath() + QStringLiteral("/.local/share/quellar");
    EXPECT_EQ(parse({QStringLiteral("--user-workdir")}).workFolder, fallback);
    EXPECT_EQ(parse({QStringLiteral("--user-workdir")}, QStringLiteral("rel/dir")).workFolder, fallback);
}

TEST(StartOptions, VersionHelpAndMistakes) {
    EXPECT_EQ(parse({QStringLiteral("--version")}).action, StartOptions::Action::ShowVersion);
    EXPECT_EQ(parse({QStringLiteral("a.xlsx"), QStringLiteral("-h")}).action, StartOptions::Action::ShowHelp);
    EXPECT_EQ(startVersionText(), QStringLiteral("quellar " QUELLAR_VERSION));
    EXPECT_TRUE(startUsageText().contains(QStringLiteral("--user-workdir")));

    const StartOptions missing = parse({QStringLiteral("--workdir")});
    EXPECT_EQ(missing.action, StartOptions::Action::Fail);
    EXPECT_TRUE(missing.message.contains(QStringLiteral("--workdir"))) << missing.message.toStdString();
    const StartOptions unknown = parse({QStringLiteral("--colour")});
    EXPECT_EQ(unknown.action, StartOptions::Action::Fail);
    EXPECT_TRUE(unknown.message.contains(QStringLiteral("--colour")));
}

TEST(StartOptions, WorkFolderIsCreatedOnFirstUseAndEntered) {
    const QString before = QDir::currentPath();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data/quellar"));
    ASSERT_TRUE(enterWorkFolder(folder).isOk());
    EXPECT_EQ(QDir::currentPath(), QDir(folder).canonicalPath());
    EXPECT_TRUE(enterWorkFolder(folder).isOk()); // the second start finds it there
    QDir::setCurrent(before);

    // A file in the way, or a folder that cannot be created, is named in the message.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const Status inTheWay = enterWorkFolder(blocker.fileName());
    EXPECT_FALSE(inTheWay.isOk());
    EXPECT_TRUE(inTheWay.message().contains(blocker.fileName())) << inTheWay.message().toStdString();
    const Status below = enterWorkFolder(blocker.fileName() + QStringLiteral("/sub"));
    EXPECT_FALSE(below.isOk());
    EXPECT_TRUE(below.message().contains(QStringLiteral("/file/sub"))) << below.message().toStdString();
    EXPECT_EQ(QDir::currentPath(), before);
}
