// Writing a result table as CSV: texts exactly as the operation left them.

#include "tests/TestSupport.h"
#include "workbook/csv/CsvFormat.h"

#include "base/Faults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using test::bytesOf;

TEST(CsvTable, WritesTextsAsTheyStandPaddedToTheWidestRow) {
    RowTable table = test::makeTable(
        {{QString::fromUtf16(u"编号"), "a,b", "say \"hi\""}, {"007", "x"}, {"1", "2", "3", "4"}});
    table[1][1].mergeState = MergeState::Covered; // inside a merged area: written empty
    table[2][3].mergeState = MergeState::TextOnly;
    QTemporaryDir dir;
    const QString path = dir.filePath("t.csv");
    ASSERT_TRUE(CsvFormat::writeTable(table, path).isOk());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\xEF\xBB\xBF") + QString::fromUtf16(u"编号").toUtf8() +
                                  ",\"a,b\",\"say \"\"hi\"\"\",\r\n007,,,\r\n1,2,3,4\r\n");

    const Status failed = CsvFormat::writeTable(table, dir.filePath("missing/t.csv"));
    EXPECT_FALSE(failed.isOk());
    EXPECT_TRUE(failed.message().contains("t.csv"));
}

// A large table is formatted on two threads chunk by chunk: the file must be the same bytes,
// in the same order, as the table's halves written one after the other; and a device that
// fills up in the middle ends the write with a message, the earlier file kept.
TEST(CsvTable, LargeTablesWriteInOrderAndFailCleanly) {
    RowTable table;
    for (int r = 0; r < 300'000; ++r) {
        Row row(3);
        for (CellRecord& cell : row)
            cell.mergeState = MergeState::Single;
        row[0].text = SharedText(QString::number(r));
        row[1].text = SharedText(r % 7 == 0 ? QStringLiteral("含,逗号") : QStringLiteral("文字"));
        row[2].text = SharedText(QString::number(r * 0.5));
        table.push_back(std::move(row));
    }
    const RowTable first(table.begin(), table.begin() + 100'000);
    const RowTable second(table.begin() + 100'000, table.end());
    QTemporaryDir dir;
    const QString whole = dir.filePath("whole.csv"), a = dir.filePath("a.csv"), b = dir.filePath("b.csv");
    ASSERT_TRUE(CsvFormat::writeTable(table, whole).isOk());
    ASSERT_TRUE(CsvFormat::writeTable(first, a).isOk()); // each half written line by line
    ASSERT_TRUE(CsvFormat::writeTable(second, b).isOk());
    EXPECT_GT(bytesOf(whole).size(), 5'000'000);
    EXPECT_EQ(bytesOf(whole), bytesOf(a) + bytesOf(b).mid(3)); // the second's byte-order mark left out

    const QByteArray before = bytesOf(whole);
    faults::failWritesAfter(1'000'000); // a megabyte in, well before the end
    const Status full = CsvFormat::writeTable(second, whole);
    faults::failWritesAfter(-1);
    ASSERT_FALSE(full.isOk());
    EXPECT_TRUE(full.message().contains(QStringLiteral("whole.csv"))) << full.message().toStdString();
    EXPECT_EQ(bytesOf(whole), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}
