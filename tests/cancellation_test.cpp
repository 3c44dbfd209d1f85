// Cancelling long work through the thread's cancel flag (base/Progress.h): the xlsx reader,
// the writers and the comparison and join cores stop at their cancellation points, leave no
// file and no partial result behind, and the same work without the flag is unchanged.

#include "base/Progress.h"
#include "table/Join.h"
#include "table/compare/Comparison.h"
#include "tests/TestSupport.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace quellar;

namespace {

// A staff list of `rows` records under the field row 编号 / 姓名 / 金额; the amounts run over
// the edges of what a cell holds (round ten millions, 15 and 16 digits, 0.1 + 0.2, -0).
RowTable staffTable(int rows, int changedEvery = 0) {
    std::vector<QStringList> cells{{QStringLiteral("编号"), QStringLiteral("姓名"), QStringLiteral("金额")}};
    const QStringList amounts{QStringLiteral("10000000"),
                              QStringLiteral("123456789012345"),
                              QStringLiteral("1234567890123456"),
                              QStringLiteral("0.30000000000000004"),
                              QStringLiteral("-0"),
                              QStringLiteral("1e-7")};
    for (int r = 0; r < rows; ++r) {
        const bool changed = changedEvery > 0 && r % changedEvery == 0;
        cells.push_back({QString::number(100000 + r), QStringLiteral("职员%1").arg(r),
                         changed ? QStringLiteral("1") : amounts[r % amounts.size()]});
    }
    return test::makeTable(cells);
}

Workbook staffBook(int rows) {
    Workbook book = Workbook::makeDefault();
    NullProgress progress;
    EXPECT_TRUE(writeTableToSheet(book, 1, QStringLiteral("名单"), staffTable(rows), progress, 1).isOk());
    return book;
}

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

TEST(Cancellation, TheXlsxReaderStopsAndGivesBackNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("名单.xlsx"));
    ASSERT_TRUE(writeWorkbook(staffBook(9000), path, FileKind::Xlsx).isOk());
    std::atomic<bool> cancelled{true};
    Workbook book;
    {
        const cancellation::Scope scope(&cancelled);
        const Status status = readWorkbook(path, book);
        EXPECT_EQ(status.code(), Status::Code::Cancelled) << status.message().toStdString();
    }
    EXPECT_TRUE(book.sheets.empty());
    // Without a cancel the same file reads whole.
    ASSERT_TRUE(readWorkbook(path, book).isOk());
    EXPECT_EQ(book.sheets[0].rows.size(), 9001u);
}

TEST(Cancellation, TheWritersLeaveNoFileAndTheEarlierFileAsItWas) {
    QTemporaryDir dir;
    std::atomic<bool> cancelled{true};
    // Small (cancelled before the rename) and large (cancelled in the rows), every format.
    for (const int rows : {10, 9000}) {
        const Workbook book = staffBook(rows);
        for (const QString& name : {QStringLiteral("结果.xlsx"), QStringLiteral("结果.csv"),
                                    QStringLiteral("结果.xls"), QStringLiteral("结果.xml")}) {
            const QString path = dir.filePath(name);
            const cancellation::Scope scope(&cancelled);
            const Status status = writeWorkbook(book, path, fileKindForPath(path));
            EXPECT_EQ(status.code(), Status::Code::Cancelled) << rows << " " << name.toStdString();
            EXPECT_TRUE(status.message().isEmpty()) << status.message().toStdString();
            EXPECT_TRUE(filesIn(dir).isEmpty()) << rows << " " << filesIn(dir).join(u' ').toStdString();
        }
    }
    const QString earlier = dir.filePath(QStringLiteral("上次.xlsx"));
    {
        QFile file(earlier);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }
    {
        const Workbook book = staffBook(9000);
        const cancellation::Scope scope(&cancelled);
        EXPECT_FALSE(writeWorkbook(book, earlier, FileKind::Xlsx).isOk());
    }
    EXPECT_EQ(test::bytesOf(earlier), QByteArray("earlier"));
    EXPECT_EQ(filesIn(dir), QStringList{QStringLiteral("上次.xlsx")});
}

TEST(Cancellation, TheCoresStopBeforeTheirResultReachesTheSink) {
    std::atomic<bool> cancelled{false};
    CompareOptions options;
    options.keyMode = true;
    const QStringList keys{QStringLiteral("编号")};
    auto compare = [&](Workbook& book) {
        WorkbookSink sink(book, WorkbookSink::Mode::WriteOnly);
        NullProgress progress;
        QString report;
        CompareCounts counts;
        return runGuarded([&] {
            return runTableComparison(sink, progress, staffTable(6000), staffTable(6000, 7), options, keys, 1,
                                      QStringLiteral("对比结果"), report, &counts);
        });
    };
    auto join = [&](Workbook& book) {
        WorkbookSink sink(book, WorkbookSink::Mode::WriteOnly);
        NullProgress progress;
        return runGuarded([&] {
            return runJoin(sink, progress, staffTable(6000), staffTable(6000, 7), {QStringLiteral("编号")},
                           {});
        });
    };
    for (const auto& run :
         {std::function<Status(Workbook&)>(compare), std::function<Status(Workbook&)>(join)}) {
        Workbook untouched;
        cancelled = true;
        {
            const cancellation::Scope scope(&cancelled);
            EXPECT_EQ(run(untouched).code(), Status::Code::Cancelled);
        }
        EXPECT_TRUE(untouched.sheets.empty());
        // The flag down, the same work runs to its result.
        cancelled = false;
        Workbook done;
        const cancellation::Scope scope(&cancelled);
        ASSERT_TRUE(run(done).isOk());
        ASSERT_EQ(done.sheets.size(), 1u);
        EXPECT_EQ(done.sheets[0].rows.size(), 6001u);
    }
}
