// The outputs built on a comparison result: clean numbers in CSV and JSON, only the
// differences, the index of marked cells, the tabular diff and the details page, and the
// command-line options that ask for them.

#include "base/CellOps.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "table/compare/ComparisonOutputs.h"
#include "table/compare/DetailsPage.h"
#include "table/compare/DifferenceRows.h"
#include "table/compare/HighlighterDiff.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"
#include "workbook/csv/CsvFormat.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace quellar;
using test::bytesOf;
using test::tbl;

namespace {

struct Compared {
    RowTable result;
    CompareLayout layout;
    CompareCounts counts;
};

Compared compareKeyed(const QString& a, const QString& b, const QStringList& keys = {QStringLiteral("id")}) {
    Compared c;
    CompareOptions options;
    Result<RowTable> r = compareTables(tbl(a), tbl(b), options, keys, &c.counts, &c.layout);
    EXPECT_TRUE(r.isOk());
    c.result = std::move(r.value());
    return c;
}

QString diffOf(const Compared& c, int context = 1) {
    HighlighterOptions options;
    options.context = context;
    std::string text = highlighterDiffText(c.result, c.layout, options);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    return QString::fromUtf8(text.substr(3)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

TEST(CleanCsv, NumbersInTheirShortestFormReadBackEqual) {
    // Texts as the operations hold them, and what a spreadsheet's CSV export shows.
    const std::vector<std::pair<QString, QString>> cases = {{"100001.000000", "100001"},
                                                            {"50.780000", "50.78"},
                                                            {"0.100000", "0.1"},
                                                            {"-3.000000", "-3"},
                                                            {"0.000000", "0"},
                                                            {"0.1234567", "0.1234567"},
                                                            {"007", "007"},
                                                            {"1,234", "\"1,234\""},
                                                            {"2015/1/1", "2015/1/1"},
                                                            {"1e5", "1e5"},
                                                            {"12345678901234567", "12345678901234567"},
                                                            {"3.", "3."},
                                                            {"abc", "abc"}};
    RowTable table;
    for (const auto& [text, written] : cases)
        table.push_back(test::makeTable({{text}})[0]);
    QTemporaryDir dir;
    const QString path = dir.filePath("t.csv");
    ASSERT_TRUE(CsvFormat::writeTable(table, path).isOk());
    QStringList expected;
    for (const auto& [text, written] : cases)
        expected.append(written);
    EXPECT_EQ(QString::fromUtf8(bytesOf(path).mid(3)),
              expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    // Random numbers of every size: the written text reads back as the same value.
    std::mt19937_64 random(7);
    RowTable numbers;
    std::vector<double> values;
    for (int i = 0; i < 3000; ++i) {
        const double magnitude = std::pow(10.0, int(random() % 16) - 6);
        double v = std::round(std::uniform_real_distribution<double>(-1, 1)(random) * magnitude * 1e6) / 1e6;
        if (std::fabs(v) > 1e11) v = std::fmod(v, 1e11);
        const QString text = realToText(v);
        double parsed = 0;
        if (!typedTextToNumber(text, parsed)) continue; // texts that stay texts are not numbers here
        values.push_back(parsed);
        numbers.push_back(test::makeTable({{text}})[0]);
    }
    ASSERT_GT(values.size(), 2000u);
    ASSERT_TRUE(CsvFormat::writeTable(numbers, path).isOk());
    Workbook back;
    ASSERT_TRUE(CsvFormat::parse(bytesOf(path), "t", back).isOk());
    const Sheet& sheet = back.sheets[0];
    size_t checked = 0;
    for (const SheetRow& row : sheet.rows) {
        ASSERT_EQ(row.cells.size(), 1u);
        ASSERT_EQ(row.cells[0].value.type(), CellValue::Type::Number) << row.index;
        EXPECT_EQ(row.cells[0].value.number(), values[size_t(row.index)]) << row.index;
        ++checked;
    }
    EXPECT_EQ(checked, values.size());
}

TEST(CleanCsv, ConvertWritesNumbersShortAndJsonAddsTheValue) {
    QTemporaryDir dir;
    QFile source(dir.filePath("in.csv"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("n,t\r\n1,007\r\n8500.5,x\r\n0.1,2015/1/1\r\n");
    source.close();
    const test::CliRun csv = test::runCli({"convert", source.fileName(), dir.filePath("out.csv")});
    ASSERT_EQ(csv.status, 0) << csv.err.toStdString();
    EXPECT_EQ(bytesOf(dir.filePath("out.csv")),
              QByteArray("\xEF\xBB\xBFn,t\r\n1,007\r\n8500.5,x\r\n0.1,2015/1/1\r\n"));

    const test::CliRun json = test::runCli({"convert", source.fileName(), dir.filePath("out.json")});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(bytesOf(dir.filePath("out.json")))
                                .object()["sheets"]
                                .toArray()[0]
                                .toObject()["rows"]
                                .toArray();
    const QJsonObject number = rows[2].toArray()[0].toObject();
    EXPECT_EQ(number["text"].toString(), "8500.500000");
    EXPECT_EQ(number["value"].toDouble(), 8500.5);
    EXPECT_FALSE(rows[1].toArray()[1].toObject().contains("value")); // 007 stays a text
    EXPECT_FALSE(rows[0].toArray()[0].toObject().contains("value"));
}

TEST(DifferenceRows, KeepsTheFieldRowAndMarkedRowsAndIndexesTheirCells) {
    Compared c = compareKeyed("id,v;1,a;2,b;3,c;4,d", "id,v;1,a;2,x;4,d;5,e");
    const DifferenceIndex index = DifferenceIndex::build(c.result);
    // row 2 (2: b/x) red twice, row 3 (3 only in file 1) yellow, row 5 (5 only in file 2) green.
    EXPECT_EQ(index.rows, (std::vector<uint32_t>{2, 3, 5}));
    ASSERT_EQ(index.cells.size(), 2u + 2u + 2u);
    EXPECT_EQ(index.next(0, 0, true), 0);
    EXPECT_EQ(index.next(2, 1, true), 1);                           // the red cell on file 2's side
    EXPECT_EQ(index.next(5, 99, true), -1);                         // nothing after the last
    EXPECT_EQ(index.next(2, 1, false), -1);                         // nothing before the first
    EXPECT_EQ(index.next(4, 0, false), 3);                          // back to row 3's last mark
    EXPECT_EQ(index.cells[size_t(index.next(3, 1, true))].row, 5u); // across the unmarked row 4
    // Going from stop to stop, a row of one file is one stop at its first mark; a row of both
    // files stops at each mark.
    EXPECT_EQ(index.oneSided, (std::vector<uint8_t>{0, 1, 1}));
    EXPECT_EQ(index.nextStop(2, 0, true), 0);
    EXPECT_EQ(index.nextStop(2, 1, true), 1);
    EXPECT_EQ(index.nextStop(2, 4, true), 2);  // to row 3's first mark
    EXPECT_EQ(index.nextStop(3, 0, true), 4);  // from it straight to row 5
    EXPECT_EQ(index.nextStop(3, 1, true), 4);  // also from its second mark
    EXPECT_EQ(index.nextStop(5, 0, true), 4);  // before row 5's first mark (column 3)
    EXPECT_EQ(index.nextStop(5, 3, true), -1); // nothing after the last row's stop
    EXPECT_EQ(index.nextStop(5, 4, false), 4); // back to its own first mark
    EXPECT_EQ(index.nextStop(5, 3, false), 2); // then to row 3's first mark
    EXPECT_EQ(index.nextStop(3, 0, false), 1); // then each mark of row 2
    EXPECT_EQ(index.nextStop(UINT32_MAX, UINT32_MAX, false), 4);

    const RowTable kept = keepDifferenceRows(std::move(c.result), c.layout.fieldRow1);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0][0].text, SharedText(u"id"));
    EXPECT_EQ(kept[1][0].text, SharedText(u"2"));
    EXPECT_EQ(kept[2][0].text, SharedText(u"3"));
    EXPECT_EQ(kept[3][3].text, SharedText(u"5"));
}

TEST(HighlighterDiff, KeyedChangesContextAndSkippedRows) {
    const Compared c =
        compareKeyed("id,name,qty;1,apple,3;2,pear,4;3,plum,5;4,fig,6;5,kiwi,7;6,lime,8;7,x,9",
                     "id,name,qty;1,apple,3;2,pear,40;4,fig,6;5,kiwi,7;6,lime,8;7,x,9;8,new,10");
    EXPECT_EQ(diffOf(c),
              QStringLiteral("@@,id,name,qty\n,1,apple,3\n->,2,pear,4->40\n---,3,plum,5\n,4,fig,6\n"
                             "...,...,...,...\n,7,x,9\n+++,8,new,10\n"));
    // Without context the changes stand alone, as the reference tool writes them.
    EXPECT_EQ(diffOf(c, 0), QStringLiteral("@@,id,name,qty\n->,2,pear,4->40\n---,3,plum,5\n+++,8,new,10\n"));
    EXPECT_EQ(diffOf(c, -1).count(u'\n'), 9); // the field row and every row of both files once
}

TEST(HighlighterDiff, SchemaRowArrowsQuotingAndInsertedRowOrder) {
    // A column only in file 1, one only in file 2, an arrow inside a text, a quote and a
    // line break, and a row inserted between two rows of file 1.
    const Compared c =
        compareKeyed("id,name,qty;1,a->b,3;2,b,4;3,c,5", "id,extra,qty;1,e,3;9,\"q\",1;2,f,40;3,g,5");
    EXPECT_EQ(diffOf(c),
              QStringLiteral("!,,+++,---,\n@@,id,extra,name,qty\n+,1,e,a->b,3\n+++,9,\"\"\"q\"\"\",NULL,1\n"
                             "-->,2,f,b,4-->40\n+,3,g,c,5\n"));
    // Numbers are written in the form the CSV outputs use.
    const Compared n = compareKeyed("id,v;1,3.500000", "id,v;1,4.000000");
    EXPECT_EQ(diffOf(n), QStringLiteral("@@,id,v\n->,1,3.5->4\n"));
    // A left-out column (ignored by the rules) and its partner vanish; its changes do not count.
    const Compared i = compareKeyed("id,v,w;1,a,x", "id,v,w;1,a,y");
    HighlighterOptions leave;
    leave.leaveOut1 = {false, false, true};
    EXPECT_EQ(QString::fromUtf8(highlighterDiffText(i.result, i.layout, leave).substr(3)),
              "@@,id,v\r\n...,...,...\r\n");
}

TEST(HighlighterDiff, FollowsTheRulesColumnsIgnoredOrPairedByName) {
    // An ignored column is left out on both sides, its changes unlisted.
    CompareOptions options;
    options.rules.ignoredColumns = {QStringLiteral("w")};
    Compared i;
    Result<RowTable> r = compareTables(tbl("id,v,w;1,a,x;2,b,x"), tbl("id,w,v;1,y,a;2,y,c"), options,
                                       {QStringLiteral("id")}, &i.counts, &i.layout);
    ASSERT_TRUE(r.isOk());
    i.result = std::move(r.value());
    EXPECT_EQ(diffOf(i), QStringLiteral("@@,id,v\n,1,a\n->,2,b->c\n"));

    // By position with columns paired by name: the diff pairs the columns as the marks do.
    CompareOptions byName;
    byName.keyMode = false;
    byName.rules.columnsByName = true;
    Compared n;
    r = compareTables(tbl("id,v,w;1,a,x"), tbl("id,w,v;1,x,b"), byName, {}, &n.counts, &n.layout);
    ASSERT_TRUE(r.isOk());
    n.result = std::move(r.value());
    EXPECT_EQ(n.counts.differentCells, 1);
    EXPECT_EQ(diffOf(n), QStringLiteral("@@,id,v,w\n->,1,a->b,x\n"));
}

TEST(DetailsPage, ShowsTheRulesAndTheColumnStatisticsTheComparisonGathered) {
    CompareOptions options;
    options.rules.tolerance = 0.5;
    CompareStatistics statistics;
    Compared c;
    Result<RowTable> r = compareTables(tbl("id,n;1,10;2,20"), tbl("id,n;1,10.4;2,21"), options,
                                       {QStringLiteral("id")}, &c.counts, &c.layout, &statistics);
    ASSERT_TRUE(r.isOk());
    c.result = std::move(r.value());
    ASSERT_EQ(c.layout.statistics, &statistics);
    DetailsPage page(QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("b"),
                     describeCompareRules(options, {QStringLiteral("id")}));
    ComparisonOutputs outputs(nullptr);
    outputs.addDetails(&page, nullptr);
    outputs.takeLayout(1, c.layout);
    NullProgress progress;
    ASSERT_TRUE(outputs.takeResult(1, QStringLiteral("S"), std::move(c.result), progress, 1).isOk());
    const QString html = page.html();
    EXPECT_TRUE(html.contains(QStringLiteral("规则：")));
    EXPECT_TRUE(html.contains(QStringLiteral("最大差值")));
    // Column n: compared, one cell differs by 1.
    EXPECT_TRUE(html.contains(QStringLiteral("<td>n</td><td>n</td><td>是</td><td>1</td><td>1</td>")))
        << html.toStdString();
}

TEST(DetailsPage, ListsEveryChangedCellOnceEscapedAndCutsLongLists) {
    // 12,000 rows only in file 1, one changed row with markup in it, two rows only in file 2.
    QString a = QStringLiteral("id,v,w");
    QString b = QStringLiteral("id,v,w;k,<b>&,x\"y;m,1,2;n,3,4");
    a += QStringLiteral(";k,<script>,z");
    for (int i = 0; i < 12000; ++i)
        a += QStringLiteral(";r%1,1,2").arg(i);
    Compared c = compareKeyed(a, b);
    CompareOptions options;
    DetailsPage page(QStringLiteral("两表<对比>"), QStringLiteral("/tmp/a&b.xlsx"),
                     QStringLiteral("/tmp/c.xlsx"), describeCompareRules(options, {QStringLiteral("id")}));
    DetailsStatistics statistics{{QStringLiteral("列"), QStringLiteral("不同")},
                                 {{QStringLiteral("v<1>"), QStringLiteral("1")}}};
    page.addComparison(QStringLiteral("S1"), QStringLiteral("S2"), c.result, c.layout, c.counts, &statistics);
    const QString html = page.html();

    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    EXPECT_FALSE(html.contains(QStringLiteral("src=")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;")));
    EXPECT_TRUE(html.contains(QStringLiteral("两表&lt;对比&gt;")));
    EXPECT_TRUE(html.contains(QStringLiteral("/tmp/a&amp;b.xlsx")));
    EXPECT_TRUE(html.contains(QStringLiteral("v&lt;1&gt;")));
    EXPECT_TRUE(html.contains(QStringLiteral("prefers-color-scheme: dark")));
    EXPECT_TRUE(html.contains(QStringLiteral("size: A4")));
    // Two changed cells of one row, each once, old → new.
    const QRegularExpression cell(
        QStringLiteral("<li class=\"cell\">([^<]*)：<span class=\"old\">([^<]*)</span>"
                       " <span class=\"arrow\">→</span> <span class=\"new\">([^<]*)</span></li>"));
    QStringList cells;
    for (auto it = cell.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        cells.append(m.captured(1) + '|' + m.captured(2) + '|' + m.captured(3));
    }
    EXPECT_EQ(cells, (QStringList{"v|&lt;script&gt;|&lt;b&gt;&amp;", "w|z|x&quot;y"}));
    EXPECT_EQ(int64_t(cells.size()), c.counts.differentCells);
    EXPECT_TRUE(html.contains(QStringLiteral("只在文件一的行（12000 行）")));
    EXPECT_TRUE(html.contains(QStringLiteral("还有 2000 行没有列出。")));
    EXPECT_EQ(html.count(QStringLiteral("<td>r")), 2 * 10000); // the key and the id cell of each listed row
    EXPECT_TRUE(html.contains(QStringLiteral("只在文件二的行（2 行）")));
}

TEST(CliDiffOutputs, OnlyDifferencesDetailsAndTheDiffFile) {
    QTemporaryDir dir;
    QFile f1(dir.filePath("a.csv")), f2(dir.filePath("b.csv"));
    ASSERT_TRUE(f1.open(QIODevice::WriteOnly) && f2.open(QIODevice::WriteOnly));
    f1.write("id,v\r\n1,a\r\n2,b\r\n3,c\r\n");
    f2.write("id,v\r\n1,a\r\n2,x\r\n3,c\r\n4,d\r\n");
    f1.close();
    f2.close();
    const QString out = dir.filePath("r.csv"), details = dir.filePath("d.htm"),
                  diff = dir.filePath("diff.csv");
    test::CliRun run = test::runCli({"compare", "--key", "id", f1.fileName(), f2.fileName(), "-o", out,
                                     "--only-differences", "--details", details});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // The field row, the changed row and the row only in file 2; the separator holds file 2's row.
    EXPECT_EQ(bytesOf(out), QByteArray("\xEF\xBB\xBFid,v,1,id,v\r\n2,b,3,2,x\r\n,,5,4,d\r\n"));
    const QString page = QString::fromUtf8(bytesOf(details));
    EXPECT_TRUE(page.contains(QStringLiteral("<span class=\"old\">b</span>")));
    EXPECT_TRUE(page.contains(QStringLiteral("a.csv")));

    run = test::runCli({"compare", "--key", "id", f1.fileName(), f2.fileName(), "-o", diff, "--format",
                        "highlighter", "--context", "0"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(bytesOf(diff), QByteArray("\xEF\xBB\xBF@@,id,v\r\n->,2,b->x\r\n+++,4,d\r\n"));

    // Workbook comparison pairs sheets by name: the same file name in two folders.
    ASSERT_TRUE(QDir(dir.path()).mkpath("one") && QDir(dir.path()).mkpath("two"));
    ASSERT_TRUE(QFile::copy(f1.fileName(), dir.filePath("one/t.csv")) &&
                QFile::copy(f2.fileName(), dir.filePath("two/t.csv")));
    run = test::runCli({"compare-books", dir.filePath("one/t.csv"), dir.filePath("two/t.csv"), "-o", out,
                        "--only-differences"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(bytesOf(out), QByteArray("\xEF\xBB\xBFid,v,1,id,v\r\n2,b,3,2,x\r\n,,5,4,d\r\n"));
}

TEST(CliDiffOutputs, BadChoicesEndWithStatusTwoAndWriteNothing) {
    QTemporaryDir dir;
    const QString a = test::testDataPath("cli/list1.csv"), b = test::testDataPath("cli/list2.csv");
    const QString key = QString::fromUtf16(u"编号");
    const struct {
        QStringList arguments;
        const char16_t* message;
    } cases[] = {
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.xlsx"), "--format", "highlighter"},
         u"只能写成 .csv"},
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.csv"), "--format", "unified"},
         u"不认识的格式"},
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.csv"), "--format", "highlighter", "--context",
          "abc"},
         u"“abc” 不是行数"},
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.csv"), "--format", "highlighter", "--context",
          "-1"},
         u"不是行数"},
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.csv"), "--context", "2"},
         u"只和 --format highlighter"},
        {{"join", "--on", key, a, b, "-o", dir.filePath("d.csv"), "--only-differences"},
         u"不能用 --only-differences"},
        {{"compare", "--key", key, a, b, "-o", dir.filePath("d.csv"), "--details", dir.filePath("no/x.htm")},
         u"差异明细页的文件夹不存在"},
    };
    for (const auto& c : cases) {
        const test::CliRun run = test::runCli(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf16(c.message))) << run.err.toStdString();
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()) << c.arguments.join(' ').toStdString();
    }
}
