// Two quellar-cli runs writing the same report, result and form page in one folder at once:
// whenever the files are looked at, and after both runs, each holds one run's complete
// content, never a mix of the two or a file cut short, and no temporary file is left behind.

#include "tests/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <vector>

namespace {

using quellar::test::bytesOf;

// A table of `rows` staff rows; `tag` makes the two runs' tables differ in every row.
void writeStaff(const QString& path, const QString& tag, int rows, int changedEvery) {
    QByteArray text = QStringLiteral("编号,姓名,金额\n").toUtf8();
    for (int r = 1; r <= rows; ++r)
        text += QStringLiteral("%1,%2名字%3,%4\n")
                    .arg(r)
                    .arg(tag)
                    .arg(r)
                    .arg(changedEvery > 0 && r % changedEvery == 0 ? r * 7 : r * 3)
                    .toUtf8();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// The report without its time of writing, the one part two runs of the same comparison
// may write differently.
QByteArray withoutTime(const QByteArray& report) {
    QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(report.constData()), report.size() / 2);
    // The report's time, such as "12月7日2026年 19点4分43秒".
    static const QRegularExpression time(QStringLiteral("<td>([^<]*\\d+秒)</td>"));
    const QRegularExpressionMatch match = time.match(text);
    if (match.hasMatch()) text.replace(match.capturedStart(1), match.capturedLength(1), QStringLiteral("…"));
    return text.toUtf8();
}

// The files every run writes into the shared folder: report, result and form page.
const std::array<QString, 3> kTargets = {QStringLiteral("report.htm"), QStringLiteral("result.json"),
                                         QStringLiteral("tj_select.htm")};

// The arguments of run `which` (0 or 1) on its own tables, writing into `folder`.
QStringList arguments(const QString& sources, int which, const QString& folder) {
    const QString one = QDir(sources).filePath(QStringLiteral("%1-1.csv").arg(which));
    const QString two = QDir(sources).filePath(QStringLiteral("%1-2.csv").arg(which));
    return {QStringLiteral("compare"),
            one,
            two,
            QStringLiteral("--key"),
            QStringLiteral("编号"),
            QStringLiteral("--quiet"),
            QStringLiteral("--report"),
            QDir(folder).filePath(kTargets[0]),
            QStringLiteral("-o"),
            QDir(folder).filePath(kTargets[1])};
}

QStringList pageArguments(const QString& sources, int which, const QString& folder) {
    return {QStringLiteral("query"), QDir(sources).filePath(QStringLiteral("%1-1.csv").arg(which)),
            QStringLiteral("--quiet"), QStringLiteral("--page"), QDir(folder).filePath(kTargets[2])};
}

QByteArray comparable(const QString& target, const QByteArray& bytes) {
    return target == kTargets[0] ? withoutTime(bytes) : bytes;
}

} // namespace

TEST(CliConcurrentRuns, FilesInOneFolderAreAlwaysOneRunsWholeContent) {
    QTemporaryDir sources, shared;
    for (int which = 0; which < 2; ++which) {
        const QString tag = which == 0 ? QStringLiteral("甲") : QStringLiteral("乙");
        writeStaff(QDir(sources.path()).filePath(QStringLiteral("%1-1.csv").arg(which)), tag, 4000, 0);
        writeStaff(QDir(sources.path()).filePath(QStringLiteral("%1-2.csv").arg(which)), tag, 4000,
                   3 + which);
    }

    // What each run writes on its own.
    std::map<QString, std::array<QByteArray, 2>> expected;
    for (int which = 0; which < 2; ++which) {
        QTemporaryDir alone;
        ASSERT_EQ(QProcess::execute(QStringLiteral(QUELLAR_CLI_PATH),
                                    arguments(sources.path(), which, alone.path())),
                  0);
        ASSERT_EQ(QProcess::execute(QStringLiteral(QUELLAR_CLI_PATH),
                                    pageArguments(sources.path(), which, alone.path())),
                  0);
        for (const QString& target : kTargets) {
            const QByteArray bytes = bytesOf(QDir(alone.path()).filePath(target));
            ASSERT_FALSE(bytes.isEmpty()) << target.toStdString();
            expected[target][size_t(which)] = comparable(target, bytes);
        }
    }
    for (const QString& target : kTargets)
        ASSERT_NE(expected[target][0], expected[target][1]) << target.toStdString();

    int looks = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int which = 0; which < 2; ++which) {
            for (const QStringList& args : {arguments(sources.path(), which, shared.path()),
                                            pageArguments(sources.path(), which, shared.path())}) {
                auto process = std::make_unique<QProcess>();
                process->start(QStringLiteral(QUELLAR_CLI_PATH), args);
                ASSERT_TRUE(process->waitForStarted());
                runs.push_back(std::move(process));
            }
        }
        // Look at the files for as long as the runs go on.
        auto running = [&] {
            return std::any_of(runs.begin(), runs.end(),
                               [](const auto& p) { return p->state() != QProcess::NotRunning; });
        };
        do {
            for (const QString& target : kTargets) {
                const QString path = QDir(shared.path()).filePath(target);
                if (!QFile::exists(path)) continue;
                const QByteArray seen = comparable(target, bytesOf(path));
                ++looks;
                ASSERT_TRUE(seen == expected[target][0] || seen == expected[target][1])
                    << target.toStdString() << " held " << bytesOf(path).size() << " bytes of neither run";
            }
            for (auto& p : runs)
                p->waitForFinished(1);
        } while (running());
        for (auto& p : runs) {
            EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        }
        for (const QString& target : kTargets) {
            const QByteArray last = comparable(target, bytesOf(QDir(shared.path()).filePath(target)));
            EXPECT_TRUE(last == expected[target][0] || last == expected[target][1]) << target.toStdString();
        }
        EXPECT_EQ(QDir(shared.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{kTargets[0], kTargets[1], kTargets[2]}));
    }
    EXPECT_GT(looks, 0);
}
