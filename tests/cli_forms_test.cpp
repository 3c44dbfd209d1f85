// quellar-cli query and summary, in-process: results, the form page written with --page (alone
// or with the operation), notes about values a page cannot hand back, and refused input ending
// with one line on stderr, exit status 2 and no file written.

#include "Cli.h"
#include "base/MessageTable.h"
#include "forms/FormPages.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

using namespace quellar;

namespace {

using test::CliRun;
using test::runCli;

QString z(const char16_t* text) {
    return QString::fromUtf16(text);
}

QString sales() {
    return test::testDataPath(QStringLiteral("cli/sales.csv"));
}

// The texts of the first result sheet, cells separated by blanks, rows by line breaks.
QString firstSheet(const QString& jsonPath, QString* name = nullptr) {
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("(no file)");
    const QJsonObject sheet =
        QJsonDocument::fromJson(file.readAll()).object()["sheets"].toArray()[0].toObject();
    if (name) *name = sheet["name"].toString();
    QStringList lines;
    for (const QJsonValue& row : sheet["rows"].toArray()) {
        QStringList cells;
        for (const QJsonValue& cell : row.toArray())
            cells.append(cell.toObject()["text"].toString());
        lines.append(cells.join(u' '));
    }
    return lines.join(u'\n');
}

QString readPage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("\xFF\xFE") || !bytes.endsWith(QByteArray("\r\0\n\0", 4)))
        return QStringLiteral("(bad bytes)");
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                              (bytes.size() - 6) / 2);
}

void writeCsv(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

} // namespace

TEST(CliForms, QueryListsMatchingRowsAndWritesThePage) {
    QTemporaryDir dir;
    const QString output = dir.filePath("q.json");
    const QString page = dir.filePath("tj_select.htm");
    const CliRun run = runCli({"query", sales(), "--conditions", z(u"金额|>|20|and|地区|!=|华南|and"), "-o",
                               output, "--page", page});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QString());
    QString name;
    EXPECT_EQ(firstSheet(output, &name), z(u"地区 部门 金额\n华东 销售 100.000000 1\n华东 财务 25.000000 3"));
    EXPECT_EQ(name, z(u"筛选结果"));

    const QString html = readPage(page);
    EXPECT_TRUE(html.startsWith(u"<html><head>")) << html.left(40).toStdString();
    EXPECT_TRUE(html.contains(u"onclick=tjSelect()"));
    EXPECT_TRUE(
        html.contains(z(u" <option value=\"1.500000\">1.500000</option> <option value=\"25.000000\">")));
    EXPECT_TRUE(html.contains(u"name=SIZE value=\"4\"")); // 金额 is numeric: two rows

    // The page alone: no result file needed, nothing else written.
    const QString only = dir.filePath("only/tj_select.htm");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("only")));
    const CliRun pageOnly = runCli({"query", sales(), "--page", only});
    ASSERT_EQ(pageOnly.status, 0) << pageOnly.err.toStdString();
    EXPECT_EQ(readPage(only), html);
    EXPECT_EQ(QDir(dir.filePath("only")).entryList(QDir::Files).size(), 1);
}

TEST(CliForms, SummaryGroupsTheMatchingRows) {
    QTemporaryDir dir;
    const QString output = dir.filePath("s.json");
    const QString page = dir.filePath("tj_sum.htm");
    const CliRun run = runCli({"summary", sales(), "--conditions", z(u"部门|=|销售|and"), "--group",
                               z(u"地区"), "--sum", z(u"金额"), "-o", output, "--page", page});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QString name;
    EXPECT_EQ(firstSheet(output, &name), z(u"地区 部门 金额\n华东 销售 100.000000\n华东 销售 "
                                           u"1.500000\n华东小计  101.500000\n合计  101.500000"));
    EXPECT_EQ(name, z(u"汇总结果"));
    const QString html = readPage(page);
    EXPECT_TRUE(html.contains(z(u" <option value=\"C (金额)\">C (金额)</option>")));
    EXPECT_TRUE(html.contains(u"onclick=tjSum()"));
}

// --count, --average, --max and --min beside --sum, on summary and group-sum alike: the
// columns stay where the table has them and their field cells name the functions.
TEST(CliForms, ColumnsTakeTheirFunctions) {
    QTemporaryDir dir;
    const QString summary = dir.filePath("summary.json"), grouped = dir.filePath("grouped.json");
    CliRun run = runCli({"summary", sales(), "--conditions", z(u"金额|>|0|and"), "--group", z(u"地区"),
                         "--average", z(u"金额"), "--count", z(u"部门"), "-o", summary, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString expected =
        z(u"地区 部门（计数） 金额（平均值）\n华东 销售 100.000000\n华东 财务 25.000000\n"
          u"华东 销售 1.500000\n华东小计 3.000000 42.166667\n华南 财务 50.000000\n"
          u"华南小计 1.000000 50.000000\n合计 4.000000 44.125000");
    EXPECT_EQ(firstSheet(summary), expected);
    run = runCli({"group-sum", sales(), "--group", z(u"地区"), "--count", z(u"部门"), "--average", z(u"金额"),
                  "-o", grouped, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(firstSheet(grouped), expected);
    run = runCli({"group-sum", sales(), "--group", z(u"地区"), "--max", z(u"金额"), "--min", z(u"部门"), "-o",
                  grouped, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(firstSheet(grouped).section(u'\n', -1), z(u"合计  100.000000"))
        << firstSheet(grouped).toStdString();

    // A field given twice, in one option or across two, or missing: status 2 naming it.
    const std::vector<test::RefusedRun> bad = {
        {"group-sum: sum and average of one field",
         {"group-sum", sales(), "--group", z(u"地区"), "--sum", z(u"金额"), "--average", z(u"金额")},
         z(u"“金额” 给了两次（--sum 和 --average）")},
        {"group-sum: max twice",
         {"group-sum", sales(), "--group", z(u"地区"), "--max", z(u"金额"), "--max", z(u"金额")},
         z(u"“金额” 给了两次（--max 和 --max）")},
        {"group-sum: missing field", {"group-sum", sales(), "--group", z(u"地区"), "--min", "y"}, "y"},
        {"summary: count and min of one field",
         {"summary", sales(), "--conditions", z(u"金额|>|0|and"), "--group", z(u"地区"), "--count",
          z(u"部门"), "--min", z(u"部门")},
         z(u"“部门” 给了两次（--count 和 --min）")},
        {"summary: missing field",
         {"summary", sales(), "--conditions", z(u"金额|>|0|and"), "--group", z(u"地区"), "--average", "y"},
         "y"},
        {"summary: field with the separator",
         {"summary", sales(), "--conditions", z(u"金额|>|0|and"), "--group", z(u"地区"), "--max", "a|b"},
         "--max"},
    };
    const QString output = dir.filePath("bad.json");
    std::vector<test::RefusedRun> withOutput = bad;
    for (test::RefusedRun& b : withOutput)
        b.arguments << "-o" << output;
    test::expectRefused({}, withOutput, [&](const test::RefusedRun& b, const CliRun&) {
        EXPECT_FALSE(QFile::exists(output)) << b.label;
    });
}

TEST(CliForms, ValuesWithTheSeparatorAreReported) {
    QTemporaryDir dir;
    const QString csv = dir.filePath("pipes.csv");
    writeCsv(csv, z(u"名称,数量\na|b,1\nc,2\n"));
    const CliRun run = runCli({"query", csv, "--page", dir.filePath("p.htm")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(u"a|b")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(u"无法正确交回"));
}

TEST(CliForms, RefusedInputWritesNothing) {
    QTemporaryDir dir;
    const QString output = dir.filePath("bad.json");
    const QString page = dir.filePath("bad.htm");
    const QString noFieldRow = dir.filePath("nofields.csv");
    writeCsv(noFieldRow, "a,a\n1,1\n");
    const QString c = z(u"金额|>|0|and");
    const std::vector<test::RefusedRun> bad = {
        {"query without conditions", {"query", sales(), "-o", output}, z(u"没有选择查询条件。")},
        {"query with empty conditions",
         {"query", sales(), "--conditions", "", "-o", output, "--page", page},
         z(u"没有选择查询条件。")},
        {"query with blank conditions", {"query", sales(), "--conditions", "   ", "-o", output}, z(u"条件")},
        {"query on a missing field",
         {"query", sales(), "--conditions", z(u"产地|=|x|and"), "-o", output},
         z(u"产地”不是表中的字段。表中的字段有：地区，部门，金额")},
        {"query without output", {"query", sales(), "--conditions", c}, "-o"},
        {"output without conditions", {"query", sales(), "--page", page, "-o", output}, "--conditions"},
        {"page in a missing folder", {"query", sales(), "--page", dir.filePath("none/p.htm")}, "none"},
        {"page onto the input", {"query", sales(), "--page", sales()}, z(u"输入文件")},
        {"no field row", {"query", noFieldRow, "--page", page}, z(u"Excel表第一行必须是不同名称的字段。")},
        {"summary without sums",
         {"summary", sales(), "--conditions", c, "--group", z(u"地区"), "-o", output},
         z(u"没有选择查询条件或没有选择汇总数字列。")},
        {"summary without anything", {"summary", sales()}, z(u"没有选择查询条件或没有选择汇总数字列。")},
        {"summary without groups",
         {"summary", sales(), "--conditions", c, "--sum", z(u"金额"), "-o", output},
         "--group"},
        {"summary group with separator",
         {"summary", sales(), "--conditions", c, "--group", "a|b", "--sum", z(u"金额"), "-o", output},
         "a|b"},
        {"summary on a missing group",
         {"summary", sales(), "--conditions", c, "--group", "x", "--sum", z(u"金额"), "-o", output},
         "x"},
        {"summary of a missing sum",
         {"summary", sales(), "--conditions", c, "--group", z(u"地区"), "--sum", "y", "-o", output},
         "y"},
    };
    test::expectRefused({}, bad, [&](const test::RefusedRun& b, const CliRun& run) {
        EXPECT_EQ(run.err.count(u'\n'), 1) << b.label << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(output)) << b.label;
        EXPECT_FALSE(QFile::exists(page)) << b.label;
    });
}
