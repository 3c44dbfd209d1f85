// The HTML difference report: the rows of one compared pair, the whole page byte for byte
// with a fixed clock, HTML escaping of inserted texts, and writing the file.

#include "base/MessageTable.h"
#include "table/compare/Report.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace quellar {
namespace {

const QDateTime kSixthOfDecember(QDate(2026, 12, 6), QTime(9, 5, 7));

TEST(ReportRows, SevenFragmentsWithTheCounts) {
    const QString expected = QStringLiteral(
        "<tr>\n<td colspan=2>&nbsp;</td>\n</tr>\n"
        "<tr>\n<td>工作表名称：</td>\n<td>对比结果</td>\n</tr>\n"
        "<tr>\n<td>不同的行数：</td>\n<td>3</td>\n</tr>\n"
        "<tr>\n<td>不同的单元格：（<font color='#FF0000'>红色</font>）：</td>\n<td>4</td>\n</tr>\n"
        "<tr>\n<td>文件一独有的单元格：（<font color='#FF9900'>黄色</font>）：</td>\n<td>5</td>\n</tr>\n"
        "<tr>\n<td>文件2独有的单元格：（<font color='#008080'>绿色</font>）：</td>\n<td>1234567</td>\n</tr>\n"
        "<tr>\n<td colspan=2>&nbsp;</td>\n</tr>\n");
    CompareCounts counts;
    counts.differentRows = 3;
    counts.differentCells = 4;
    counts.redCells = 8;
    counts.yellowCells = 5;
    counts.greenCells = 1234567;
    EXPECT_EQ(reportRows(QStringLiteral("对比结果"), counts).toStdString(), expected.toStdString());
}

TEST(ReportRows, EscapesTheTitle) {
    const QString rows = reportRows(QStringLiteral("<b>&'\""), CompareCounts{});
    EXPECT_TRUE(rows.contains(QStringLiteral("<td>&lt;b&gt;&amp;&#39;&quot;</td>"))) << rows.toStdString();
}

TEST(ReportTime, MonthDayYearWithoutLeadingZeros) {
    const struct {
        QDateTime time;
        const char* text;
    } cases[] = {
        {kSixthOfDecember, "12月6日2026年 9点5分7秒"},
        {QDateTime(QDate(2027, 1, 31), QTime(23, 59, 0)), "1月31日2027年 23点59分0秒"},
        {QDateTime(QDate(2026, 3, 1), QTime(0, 0, 0)), "3月1日2026年 0点0分0秒"},
        {QDateTime(), "0月0日0年 -1点-1分-1秒"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reportTimeText(c.time).toStdString(), std::string(c.text));
}

QString goldenPage() {
    return QStringLiteral("<html>\n"
                          "<head>\n"
                          "<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>\n"
                          "<title>对比对比</title>\n"
                          "</head>\n"
                          "<body>\n"
                          "<p align=center><b><font size='5'>对比报告</font></b></p>\n"
                          "<table border='1' width='90%'>\n"
                          "<tr>\n<td>时间：</td>\n<td>12月6日2026年 9点5分7秒</td>\n</tr>\n"
                          "<tr>\n<td>文件一位置</td>\n<td>/home/user/一.xlsx</td>\n</tr>\n"
                          "<tr>\n<td>文件二位置</td>\n<td>/home/user/B &amp; C.xls</td>\n</tr>\n"
                          "ROWS"
                          "</table>\n"
                          "</body>\n"
                          "</html>\n");
}

TEST(ReportPage, GoldenPage) {
    const QString page =
        buildReportPage(QStringLiteral("对比"), QStringLiteral("ROWS"), QStringLiteral("/home/user/一.xlsx"),
                        QStringLiteral("/home/user/B & C.xls"), kSixthOfDecember);
    EXPECT_EQ(page.toStdString(), goldenPage().toStdString());
}

TEST(ReportPage, WorkbookTitleAndHostileNames) {
    const QString page = buildReportPage(QStringLiteral("工作簿比较"), {}, QStringLiteral("a'b"),
                                         QStringLiteral("<script>alert(1)</script>"), kSixthOfDecember);
    EXPECT_TRUE(page.contains(QStringLiteral("<title>工作簿比较对比</title>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<font size='5'>工作簿比较报告</font>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<td>a&#39;b</td>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>")));
    EXPECT_FALSE(page.contains(QStringLiteral("<script>")));

    // A sheet name that tries to break out of its cell stays text inside it.
    const QString rows = reportRows(QStringLiteral("</td><script>x</script>"), CompareCounts{});
    const QString withRows = buildReportPage(QStringLiteral("t"), rows, {}, {}, kSixthOfDecember);
    EXPECT_FALSE(withRows.contains(QStringLiteral("<script>")));
    EXPECT_TRUE(withRows.contains(QStringLiteral("&lt;/td&gt;&lt;script&gt;x&lt;/script&gt;")));
}

TEST(ReportPage, WrittenAsUtf16WithByteOrderMarkAndLineEnd) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("report.htm"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an earlier, longer report that must be replaced completely");
    old.close();

    const Clock fixed = [] { return kSixthOfDecember; };
    ASSERT_TRUE(writeReport(path, QStringLiteral("对比"), QStringLiteral("ROWS"),
                            QStringLiteral("/home/user/一.xlsx"), QStringLiteral("/home/user/B & C.xls"),
                            fixed));

    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QByteArray expected("\xFF\xFE", 2);
    const QString text = goldenPage() + QStringLiteral("\r\n");
    for (const QChar c : text) {
        expected.append(char(c.unicode() & 0xFF));
        expected.append(char(c.unicode() >> 8));
    }
    EXPECT_EQ(bytes.toHex().toStdString(), expected.toHex().toStdString());
}

TEST(ReportPage, UnwritablePathIsAnError) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("missing/folder/report.htm"));
    const Status written =
        writeReport(path, QStringLiteral("对比"), {}, {}, {}, [] { return kSixthOfDecember; });
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFile::exists(path));
}

} // namespace
} // namespace quellar
