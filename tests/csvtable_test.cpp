// Writing a result table as CSV: texts exactly as the operation left them.

#include "workbook/CsvFormat.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

TEST(CsvTable, WritesTextsAsTheyStandPaddedToTheWidestRow) {
    RowTable table = test::makeTable({{QString::fromUtf16(u"编号"), "a,b", "say \"hi\""}, {"007", "x"}, {"1", "2", "3", "4"}});
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
