// The group summary: labels, row and group order (exchange sort, numeric and mixed keys),
// nested subtotals with level colours, sums, the grand total, automatic sum columns,
// refused options and the result phase; then the whole core against a literal
// implementation (quadratic exchange sorts, nested scans) on many random tables.

#include "base/CellOps.h"
#include "table/ExchangeSort.h"
#include "table/GroupSum.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace quellar {
namespace {

using test::makeTable;
using test::tableText;

using test::tbl;

QString summed(const RowTable& table, const QStringList& groups, const QStringList& sums) {
    Result<RowTable> r = groupSum(table, groups, sums);
    if (!r.isOk()) return QStringLiteral("error: ") + r.status().message();
    return tableText(r.value());
}

TEST(GroupSum, LabelsCarryColumnLetters) {
    EXPECT_EQ(groupSumLabel(2, QStringLiteral("金额")), QStringLiteral("C (金额)"));
    EXPECT_EQ(groupSumLabels({"a", "b"}), QStringList({"A (a)", "B (b)"}));
    struct Case {
        const char* label;
        int column;
    };
    const std::vector<Case> cases = {{"A (x)", 0},   {"Z (x)", 25},  {"AA (x)", 26}, {"AD (金额)", 29},
                                     {"AZ (x)", 51}, {"BA (x)", 52}, {"ad (x)", 29}, {"C", 2},
                                     {"(x)", -1},    {"", -1},       {"1 (x)", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(columnOfGroupSumLabel(QString::fromUtf8(c.label)), c.column) << c.label;
}

TEST(GroupSum, OrdersGroupsAndBuildsSubtotals) {
    struct Case {
        const char* name;
        QString table;
        QStringList groups, sums;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"one level, text keys in code-unit order",
         "区,名,额;北京,a,1;上海,b,2;北京,c,3",
         {"区"},
         {"C (额)"},
         "区:2 名:2 额:2\n"
         "上海:2 b:2 2:2\n"
         "上海小计:36 :2 2.000000:36\n"
         "北京:2 a:2 1:2\n"
         "北京:2 c:2 3:2\n"
         "北京小计:36 :2 4.000000:36\n"
         "合计:2 :2 6.000000:20"},
        {"numeric keys by value",
         "k,v;10,1;9,2;100,3",
         {"k"},
         {"B (v)"},
         "k:2 v:2\n9:2 2:2\n9小计:36 2.000000:36\n10:2 1:2\n10小计:36 1.000000:36\n"
         "100:2 3:2\n100小计:36 3.000000:36\n合计:2 6.000000:20"},
        {"negative keys",
         "k,v;3,1;-5,2;0,4",
         {"k"},
         {"B (v)"},
         "k:2 v:2\n-5:2 2:2\n-5小计:36 2.000000:36\n0:2 4:2\n0小计:36 4.000000:36\n"
         "3:2 1:2\n3小计:36 1.000000:36\n合计:2 7.000000:20"},
        {"mixed keys follow the procedure on the distinct keys",
         "k,v;a,1;10,2;9,3;A,4",
         {"k"},
         {"B (v)"},
         "k:2 v:2\n9:2 3:2\n9小计:36 3.000000:36\n10:2 2:2\n10小计:36 2.000000:36\n"
         "A:2 4:2\nA小计:36 4.000000:36\na:2 1:2\na小计:36 1.000000:36\n合计:2 10.000000:20"},
        {"rows of one group keep the exchange sort's order: B1, B2, A give A, B2, B1",
         "g,k,n;x,B,1;x,B,2;x,A,3",
         {"g", "k"},
         {"C (n)"},
         "g:2 k:2 n:2\n"
         "x:2 A:2 3:2\n:2 A小计:39 3.000000:39\n"
         "x:2 B:2 2:2\nx:2 B:2 1:2\n:2 B小计:39 3.000000:39\n"
         "x小计:36 :2 6.000000:36\n"
         "合计:2 :2 6.000000:20"},
        {"empty first-level key: not listed, counted in the grand total",
         "k,v;a,1;,5;a,2",
         {"k"},
         {"B (v)"},
         "k:2 v:2\na:2 1:2\na:2 2:2\na小计:36 3.000000:36\n合计:2 8.000000:20"},
        {"empty second-level key: not listed, counted in its first-level group",
         "a,b,v;x,p,1;x,,5;x,p,2",
         {"a", "b"},
         {"C (v)"},
         "a:2 b:2 v:2\nx:2 p:2 1:2\nx:2 p:2 2:2\n:2 p小计:39 3.000000:39\nx小计:36 :2 8.000000:36\n"
         "合计:2 :2 8.000000:20"},
        {"decimal sums and groups of empty texts",
         "k,v;a,12.5;a,3;b,;b,",
         {"k"},
         {"B (v)"},
         "k:2 v:2\na:2 12.5:2\na:2 3:2\na小计:36 15.500000:36\nb:2 :2\nb:2 :2\nb小计:36 0.000000:36\n"
         "合计:2 15.500000:20"},
        {"sum column at position 0: 合计 goes into the second cell",
         "v,k;1,a;2,a",
         {"k"},
         {"A (v)"},
         "v:2 k:2\n1:2 a:2\n2:2 a:2\n3.000000:36 a小计:36\n3.000000:20 合计:2"},
        {"every column summed: no 合计",
         "k,v;1,2;1,3",
         {"k"},
         {},
         "k:2 v:2\n1:2 2:2\n1:2 3:2\n2.000000:36 5.000000:36\n2.000000:20 5.000000:20"},
        {"a group column also summed: the sum replaces the key",
         "k,v;5,1;5,2",
         {"k"},
         {"A (k)", "B (v)"},
         "k:2 v:2\n5:2 1:2\n5:2 2:2\n10.000000:36 3.000000:36\n10.000000:20 3.000000:20"},
        {"the same field twice",
         "k,v;a,1;b,2;a,3",
         {"k", "k"},
         {"B (v)"},
         "k:2 v:2\na:2 1:2\na:2 3:2\na小计:39 4.000000:39\na小计:36 4.000000:36\n"
         "b:2 2:2\nb小计:39 2.000000:39\nb小计:36 2.000000:36\n合计:2 6.000000:20"},
        {"automatic sum columns: only columns whose texts are all numbers",
         "k,v,w,t;a,1,x,;a,\"2\",3,",
         {"k"},
         {},
         "k:2 v:2 w:2 t:2\na:2 1:2 x:2 :2\na:2 \"2\":2 3:2 :2\na小计:36 :2 :2 0.000000:36\n合计:2 :2 :2 "
         "0.000000:20"},
        {"blanks around numbers; texts count 0",
         "k,v;a,1;a, 2 ;a,x",
         {"k"},
         {"B (v)"},
         "k:2 v:2\na:2 1:2\na:2  2 :2\na:2 x:2\na小计:36 3.000000:36\n合计:2 3.000000:20"},
        {"rows above the field row are dropped",
         "标题,;k,v;a,1",
         {"k"},
         {"B (v)"},
         "k:2 v:2\na:2 1:2\na小计:36 1.000000:36\n合计:2 1.000000:20"},
        {"no data rows: the field row and zero sums", "k,v", {"k"}, {"B (v)"}, "k:2 v:2\n合计:2 0.000000:20"},
        {"no data rows, automatic sums: only 合计", "k,v", {"k"}, {}, "k:2 v:2\n合计:2 :2"},
        {"three levels use their colours",
         "a,b,c,v;x,y,z,1",
         {"a", "b", "c"},
         {"D (v)"},
         "a:2 b:2 c:2 v:2\nx:2 y:2 z:2 1:2\n:2 :2 z小计:35 1.000000:35\n:2 y小计:39 :2 1.000000:39\n"
         "x小计:36 :2 :2 1.000000:36\n合计:2 :2 :2 1.000000:20"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(summed(tbl(c.table), c.groups, c.sums), c.expected) << c.name;
}

TEST(GroupSum, SumsTheThirtiethField) {
    QStringList fields, row1, row2;
    for (int i = 1; i <= 31; ++i) {
        fields.append(QStringLiteral("f%1").arg(i));
        row1.append(QString::number(i));
        row2.append(QString::number(i * 100));
    }
    row1[0] = row2[0] = QStringLiteral("g");
    Result<RowTable> r = groupSum(makeTable({fields, row1, row2}), {"f1"}, {"AD (f30)"});
    ASSERT_TRUE(r.isOk());
    const RowTable& out = r.value();
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3][29].text.toQString(), QStringLiteral("3030.000000"));
    EXPECT_EQ(out[3][29].fillColorIndex, 36);
    EXPECT_EQ(out[3][0].text.toQString(), QStringLiteral("g小计"));
    EXPECT_TRUE(out[3][1].text.isEmpty());
    EXPECT_EQ(out[4][29].text.toQString(), QStringLiteral("3030.000000"));
}

TEST(GroupSum, ReadsThousandsCommas) {
    Result<RowTable> r =
        groupSum(makeTable({{"k", "v"}, {"a", "1,000"}, {"a", "2,500.5"}}), {"k"}, {"B (v)"});
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()),
              "k:2 v:2\na:2 1,000:2\na:2 2,500.5:2\na小计:36 3500.500000:36\n合计:2 3500.500000:20");
}

TEST(GroupSum, SubtotalRowsAreShapedOnTheFirstRowOfTheirRange) {
    // Level-0 subtotals copy the first data row as sorted, whatever group they close.
    RowTable table = tbl("k,n,v;b,p,1;a,q,2");
    table[2][1].fillColorIndex = 5; // the row of key a sorts first
    Result<RowTable> r = groupSum(table, {"k"}, {"C (v)"});
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()),
              "k:2 n:2 v:2\na:2 q:5 2:2\na小计:36 :5 2.000000:36\nb:2 p:2 1:2\nb小计:36 :5 1.000000:36\n"
              "合计:2 :5 3.000000:20");
}

TEST(GroupSum, RefusesUnusableOptions) {
    const RowTable table = tbl("k,v;a,1");
    struct Case {
        const char* name;
        RowTable table;
        QStringList groups, sums;
        const char* messagePart;
    };
    const std::vector<Case> cases = {
        {"no group field", table, {}, {}, "分组"},
        {"only empty group names", table, {""}, {}, "分组"},
        {"seven group fields", table, {"k", "k", "k", "k", "k", "k", "k"}, {}, "最多"},
        {"group field not in the table", table, {"x"}, {}, "x"},
        {"label beyond the last column", table, {"k"}, {"C (x)"}, "C (x)"},
        {"label without letters", table, {"k"}, {"(v)"}, "(v)"},
        {"no field row", tbl("a,a;1,1"), {"a"}, {}, "字段行"},
        {"empty table", RowTable(), {"a"}, {}, "字段行"},
    };
    for (const Case& c : cases) {
        Result<RowTable> r = groupSum(c.table, c.groups, c.sums);
        ASSERT_FALSE(r.isOk()) << c.name;
        EXPECT_TRUE(r.status().message().contains(QString::fromUtf8(c.messagePart)))
            << c.name << ": " << r.status().message().toStdString();
    }
}

TEST(GroupSum, WritesTheResultSheet) {
    test::RecordingSink sink;
    test::RecordingProgress progress;
    GroupSumInfo info;
    ASSERT_TRUE(runGroupSum(sink, progress, tbl("k,v;a,1;b,2"), {"k"}, {}, &info).isOk());
    EXPECT_EQ(sink.sheets[1].name, QStringLiteral("汇总结果"));
    EXPECT_EQ(sink.sheets[1].table.size(), 6u);
    EXPECT_EQ(info.sumColumns, std::vector<int>{1});
    EXPECT_EQ(info.subtotalRows, 2);
    EXPECT_EQ(progress.texts, QStringList{"run"});
    EXPECT_EQ(progress.ranges, std::vector<int64_t>{6});
}

TEST(GroupSum, FunctionsAndTheirLabels) {
    EXPECT_EQ(withSumFunction(QStringLiteral("C (金额)"), SumFunction::Average),
              QStringLiteral("C (金额)（平均值）"));
    EXPECT_EQ(fieldWithSumFunction(QStringLiteral("金额"), SumFunction::Count),
              QStringLiteral("金额（计数）"));
    for (int f = 0; f < kSumFunctionCount; ++f)
        EXPECT_EQ(sumFunctionNamed(sumFunctionName(SumFunction(f))), SumFunction(f));
    EXPECT_FALSE(sumFunctionNamed(QStringLiteral("合计")));
    struct Case {
        const char* given;
        const char* label;
        SumFunction function;
    };
    const std::vector<Case> cases = {
        {"C (金额)（最大值）", "C (金额)", SumFunction::Maximum},
        {"C (金额)", "C (金额)", SumFunction::Sum},
        {"C (金额)（求和）", "C (金额)", SumFunction::Sum},
        // A field whose name ends like a function stays part of its label.
        {"C (金额（平均值）)", "C (金额（平均值）)", SumFunction::Sum},
        {"C (x)（未知）", "C (x)（未知）", SumFunction::Sum},
        {"（平均值）", "（平均值）", SumFunction::Sum},
        {"AD (额))（最小值）", "AD (额))", SumFunction::Minimum},
    };
    for (const Case& c : cases) {
        QString label;
        EXPECT_EQ(splitSumFunction(QString::fromUtf8(c.given), &label), c.function) << c.given;
        EXPECT_EQ(label, QString::fromUtf8(c.label)) << c.given;
    }
}

// One group, every function on a column of numbers, number texts, non-numbers and blanks,
// at the edges of what a cell may hold.
TEST(GroupSum, FunctionsOverNumbersTextsAndBlanks) {
    struct Case {
        const char* name;
        QStringList cells;
        const char* sum;
        const char* count;
        const char* average;
        const char* maximum;
        const char* minimum;
    };
    const std::vector<Case> cases = {
        {"number texts, a non-number and blanks",
         {" 1,000 ", "2", "abc", "", "  ", "\t-4\t"},
         "998.000000",
         "4.000000",
         "332.666667",
         "1000.000000",
         "-4.000000"},
        {"no number at all: empty cells, but the count and the sum",
         {"", "x", "１２", "1e-7"},
         "0.000000",
         "3.000000",
         "",
         "",
         ""},
        {"only blanks", {"", " "}, "0.000000", "0.000000", "", "", ""},
        {"0.1 and 0.2", {"0.1", "0.2"}, "0.300000", "2.000000", "0.150000", "0.200000", "0.100000"},
        {"-0 shows as 0", {"-0"}, "0.000000", "1.000000", "0.000000", "0.000000", "0.000000"},
        {"round amounts",
         {"10000000", "10000000"},
         "20000000.000000",
         "2.000000",
         "10000000.000000",
         "10000000.000000",
         "10000000.000000"},
        {"15 and 16 digits",
         {"123456789012345", "1234567890123456"},
         "1358024679135801.000000",
         "2.000000",
         "679012339567900.500000",
         "1234567890123456.000000",
         "123456789012345.000000"},
        {"tiny and negative",
         {"0.0000001", "-2.5", "x"},
         "-2.500000",
         "3.000000",
         "-1.250000",
         "0.000000",
         "-2.500000"},
        {"a long full-width text counts once",
         {QString(300, QChar(0x91D1)), "5"},
         "5.000000",
         "2.000000",
         "5.000000",
         "5.000000",
         "5.000000"},
    };
    for (const Case& c : cases) {
        std::vector<QStringList> rows = {{"k", "a", "b", "c", "d", "e"}};
        for (const QString& cell : c.cells)
            rows.push_back({"g", cell, cell, cell, cell, cell});
        const QStringList labels = {"B (a)", "C (b)（计数）", "D (c)（平均值）", "E (d)（最大值）",
                                    "F (e)（最小值）"};
        Result<RowTable> r = groupSum(makeTable(rows), {"k"}, labels);
        ASSERT_TRUE(r.isOk()) << c.name;
        const RowTable& t = r.value();
        ASSERT_EQ(t.size(), c.cells.size() + 3) << c.name;
        QStringList fieldCells;
        for (const CellRecord& cell : t[0])
            fieldCells.append(cell.text.toQString());
        EXPECT_EQ(fieldCells.join(u' '),
                  QStringLiteral("k a（求和） b（计数） c（平均值） d（最大值） e（最小值）"))
            << c.name;
        for (const Row* row : {&t[t.size() - 2], &t.back()}) {
            const QStringList expected = {QString::fromUtf8(c.sum), QString::fromUtf8(c.count),
                                          QString::fromUtf8(c.average), QString::fromUtf8(c.maximum),
                                          QString::fromUtf8(c.minimum)};
            for (int f = 0; f < 5; ++f)
                EXPECT_EQ((*row)[size_t(f + 1)].text.toQString(), expected[f]) << c.name << " function " << f;
        }
        EXPECT_EQ(t[t.size() - 2][0].text.toQString(), QStringLiteral("g小计")) << c.name;
    }
}

TEST(GroupSum, FunctionsOnEveryLevelAndTheGrandTotal) {
    // An average of a higher level is over its cells (1, 2, 6: 3), not over the averages below
    // (1.5 and 6: 3.75); counts add up; "合计" passes over an empty average at column A.
    const RowTable table = tbl("e,a,b,v,w;,x,p,1,1;,x,q,2,;,y,p,6,3");
    EXPECT_EQ(summed(table, {"a", "b"}, {"A (e)（平均值）", "D (v)（平均值）", "E (w)（计数）"}),
              QStringLiteral("e（平均值）:2 a:2 b:2 v（平均值）:2 w（计数）:2\n"
                             ":2 x:2 p:2 1:2 1:2\n"
                             ":39 :2 p小计:39 1.000000:39 1.000000:39\n"
                             ":2 x:2 q:2 2:2 :2\n"
                             ":39 :2 q小计:39 2.000000:39 0.000000:39\n"
                             ":36 x小计:36 :2 1.500000:36 1.000000:36\n"
                             ":2 y:2 p:2 6:2 3:2\n"
                             ":39 :2 p小计:39 6.000000:39 1.000000:39\n"
                             ":36 y小计:36 :2 6.000000:36 1.000000:36\n"
                             ":20 合计:2 :2 3.000000:20 2.000000:20"));
    // With sums only, naming the function changes nothing; a column given twice with one
    // function is summed as before, with two functions refused, naming the column.
    EXPECT_EQ(summed(table, {"a"}, {"D (v)（求和）"}), summed(table, {"a"}, {"D (v)"}));
    EXPECT_EQ(summed(table, {"a"}, {"D (v)", "D (v)"}), summed(table, {"a"}, {"D (v)"}));
    const QString refused = summed(table, {"a"}, {"D (v)", "D (v)（最大值）"});
    EXPECT_TRUE(refused.startsWith(QStringLiteral("error:")) && refused.contains(QStringLiteral("D (v)")) &&
                refused.contains(QStringLiteral("最大值")))
        << refused.toStdString();
}

// ---- literal reference: the sorts and scans as written, quadratic ----

// Labels may carry a function written as "（平均值）" after the label; the reference takes
// the function of each column over the cells as the sentence says: the count of non-blank
// cells, the average, maximum and minimum of the non-blank cells that parse as numbers
// (none: an empty cell), and names the functions in the field row unless all are sums.
class LiteralGroupSum {
public:
    LiteralGroupSum(RowTable table, const QStringList& groups, const QStringList& labels)
        : t_(std::move(table)) {
        int h = 0;
        const FieldList header = findFieldRow(t_, h);
        for (const QString& g : groups)
            cols_.push_back(indexOfField(header, g));
        out_.push_back(t_[size_t(h)]);
        const size_t first = size_t(h) + 1, n = t_.size();
        const QStringList names = {"求和", "计数", "平均值", "最大值", "最小值"};
        for (const QString& l : labels) {
            sums_.push_back(columnOfGroupSumLabel(l));
            int f = 0;
            for (int k = 1; k < names.size(); ++k)
                if (l.endsWith(QStringLiteral(")（") + names[k] + QStringLiteral("）"))) f = k;
            functions_.push_back(f);
        }
        bool onlySums = true;
        for (int f : functions_)
            onlySums = onlySums && f == 0;
        if (!onlySums)
            for (size_t s = 0; s < sums_.size(); ++s)
                out_[0][size_t(sums_[s])].text = SharedText(header[sums_[s]] + QStringLiteral("（") +
                                                            names[functions_[s]] + QStringLiteral("）"));
        if (labels.isEmpty() && first < n) {
            for (size_t c = 0; c < t_[first].size(); ++c) {
                bool all = true;
                for (size_t r = first; r < n; ++r)
                    all = all && number(t_[r][c].text, nullptr);
                if (all) {
                    sums_.push_back(int(c));
                    functions_.push_back(0);
                }
            }
        }
        sortLevel(0, first, n);
        groupLevel(0, first, n);
        Row grand = first < n ? t_[first] : t_[size_t(h)];
        for (CellRecord& c : grand)
            c.text = SharedText();
        for (size_t s = 0; s < sums_.size(); ++s) {
            grand[size_t(sums_[s])].text = cellOf(s, first, n - 1);
            grand[size_t(sums_[s])].fillColorIndex = 20;
        }
        for (size_t c = 0; c < grand.size(); ++c)
            if (grand[c].text.isEmpty() && std::find(sums_.begin(), sums_.end(), int(c)) == sums_.end()) {
                grand[c].text = SharedText(QStringLiteral("合计"));
                break;
            }
        out_.push_back(grand);
    }
    const RowTable& result() const { return out_; }

private:
    static bool number(const SharedText& t, double* v) {
        double x = 0;
        const bool ok = parseNumber(t, x);
        if (v) *v = x;
        return ok;
    }
    static double value(const SharedText& t) {
        double v = 0;
        return number(t, &v) ? v : 0;
    }
    static bool blank(const SharedText& t) {
        for (QChar c : t.toQString())
            if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\v' && c != u'\f' && c != u'\r') return false;
        return true;
    }
    // "%lf" as the C library prints it (halfway cases to even: 9496676078102.9453125 gives
    // ...945312, where QString::asprintf gives ...945313).
    static SharedText lf(double v) {
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%lf", v);
        return SharedText(QString::fromLatin1(buffer));
    }
    // Sum column s over the rows lo … hi (hi < lo: none).
    SharedText cellOf(size_t s, size_t lo, size_t hi) const {
        const size_t c = size_t(sums_[s]);
        double total = 0, best = 0;
        int numbers = 0;
        for (size_t r = lo; r <= hi && r < t_.size(); ++r) {
            const SharedText& text = t_[r][c].text;
            double v = 0;
            switch (functions_[s]) {
            case 0:
                total += value(text);
                break;
            case 1:
                total += blank(text) ? 0 : 1;
                break;
            default:
                if (blank(text) || !number(text, &v)) break;
                total += v;
                if (numbers == 0 || (functions_[s] == 3 && v > best) || (functions_[s] == 4 && v < best))
                    best = v;
                ++numbers;
            }
        }
        if (functions_[s] <= 1) return lf(total);
        if (numbers == 0) return SharedText();
        const double shown = functions_[s] == 2 ? total / numbers : best;
        return lf(shown == 0 ? 0.0 : shown);
    }
    const SharedText& key(size_t row, size_t level) const { return t_[row][size_t(cols_[level])].text; }

    std::vector<SharedText> distinctKeys(size_t level, size_t from, size_t to) const {
        std::vector<SharedText> keys;
        for (size_t r = from; r < to; ++r) {
            const SharedText& k = key(r, level);
            if (k.isEmpty()) continue;
            bool seen = false;
            for (const SharedText& e : keys)
                seen = seen || e == k;
            if (!seen) keys.push_back(k);
        }
        for (size_t i = 0; i + 1 < keys.size(); ++i)
            for (size_t j = i + 1; j < keys.size(); ++j) {
                double a = 0, b = 0;
                const bool both = number(keys[i], &a) && number(keys[j], &b);
                if (both ? b < a : keys[j] < keys[i]) std::swap(keys[i], keys[j]);
            }
        return keys;
    }
    void bounds(size_t level, size_t from, size_t to, const SharedText& k, size_t& lo, size_t& hi) const {
        lo = to;
        for (size_t r = from; r < to; ++r)
            if (key(r, level) == k) {
                if (lo == to) lo = r;
                hi = r;
            }
    }
    void sortLevel(size_t level, size_t from, size_t to) {
        if (level >= cols_.size()) return;
        for (size_t i = from; i + 1 < to; ++i)
            for (size_t j = i + 1; j < to; ++j)
                if (key(j, level) < key(i, level)) std::swap(t_[i], t_[j]);
        for (const SharedText& k : distinctKeys(level, from, to)) {
            size_t lo = 0, hi = 0;
            bounds(level, from, to, k, lo, hi);
            if (lo != hi) sortLevel(level + 1, lo, hi + 1);
        }
    }
    void groupLevel(size_t level, size_t from, size_t to) {
        if (level >= cols_.size()) return;
        for (const SharedText& k : distinctKeys(level, from, to)) {
            size_t lo = 0, hi = 0;
            bounds(level, from, to, k, lo, hi);
            groupLevel(level + 1, lo, hi + 1);
            for (size_t r = lo; r <= hi; ++r)
                if (level + 1 == cols_.size()) out_.push_back(t_[r]);
            Row sub = t_[from];
            for (CellRecord& c : sub)
                c.text = SharedText();
            const int colours[] = {36, 39, 35, 40, 24, 38};
            sub[size_t(cols_[level])].text = SharedText(k.toQString() + QStringLiteral("小计"));
            sub[size_t(cols_[level])].fillColorIndex = colours[level];
            for (size_t s = 0; s < sums_.size(); ++s) {
                sub[size_t(sums_[s])].text = cellOf(s, lo, hi);
                sub[size_t(sums_[s])].fillColorIndex = colours[level];
            }
            out_.push_back(sub);
        }
    }

    RowTable t_;
    std::vector<int> cols_, sums_;
    std::vector<int> functions_; // per sum column: index into names (0 = sum)
    RowTable out_;
};

TEST(GroupSum, AgreesWithTheLiteralProcedureOnRandomTables) {
    std::mt19937 rng(99);
    const QStringList keys = {"", "1", "2", "10", "9", "9.0", "-1", "a", "b", "A", "北京", "1a"};
    const QStringList numbers = {"1",
                                 "2.5",
                                 "",
                                 "1,000",
                                 "-3",
                                 "x",
                                 " 4 ",
                                 "  ",
                                 "-0",
                                 "0.1",
                                 "0.2",
                                 "１２",
                                 "12a",
                                 "10000000",
                                 "\t7\t",
                                 "1e-7",
                                 "0.0000001",
                                 "123456789012345",
                                 "1234567890123456",
                                 "-"};
    const QStringList functionNames = {"", "（求和）", "（计数）", "（平均值）", "（最大值）", "（最小值）"};
    for (int iteration = 0; iteration < 1500; ++iteration) {
        const int width = 3 + int(rng() % 3);
        QStringList fields;
        for (int c = 0; c < width; ++c)
            fields.append(QStringLiteral("f%1").arg(c));
        std::vector<QStringList> rows{fields};
        // Few distinct keys per table so that ties abound; sometimes only numbers.
        const bool numeric = rng() % 3 == 0;
        const size_t distinct = 1 + rng() % (numeric ? 6 : keys.size());
        const size_t n = rng() % 40;
        for (size_t r = 0; r < n; ++r) {
            QStringList row;
            for (int c = 0; c < width; ++c) {
                if (c < 3)
                    row.append(numeric ? keys[qsizetype(1 + rng() % distinct)]
                                       : keys[qsizetype(rng() % distinct)]);
                else
                    row.append(numbers[qsizetype(rng() % (rng() % 2 ? 6 : numbers.size()))]);
            }
            rows.push_back(row);
        }
        QStringList groups;
        const size_t levels = 1 + rng() % 3;
        for (size_t l = 0; l < levels; ++l)
            groups.append(fields[qsizetype(rng() % 3)]);
        QStringList labels;
        std::vector<int> chosen;
        if (rng() % 3 != 0) {
            const size_t count = 1 + rng() % 3;
            // Half the tables sum only (each label as it always was); the others give each
            // column a function, and a column only once (twice would need the same function).
            const bool functions = rng() % 2 == 0;
            for (size_t s = 0; s < count; ++s) {
                const int c = int(rng() % unsigned(width));
                if (functions && std::find(chosen.begin(), chosen.end(), c) != chosen.end()) continue;
                chosen.push_back(c);
                labels.append(
                    groupSumLabel(c, fields[c]) +
                    (functions ? functionNames[qsizetype(rng() % functionNames.size())] : QString()));
            }
        }
        RowTable table = makeTable(rows);
        for (Row& row : table)
            for (CellRecord& cell : row)
                cell.fillColorIndex = int32_t(2 + rng() % 3);
        Result<RowTable> fast = groupSum(table, groups, labels);
        ASSERT_TRUE(fast.isOk()) << fast.status().message().toStdString();
        ASSERT_EQ(tableText(fast.value()).toStdString(),
                  tableText(LiteralGroupSum(table, groups, labels).result()).toStdString())
            << "iteration " << iteration << " groups " << groups.join(u',').toStdString() << " sums "
            << labels.join(u',').toStdString();
    }
}

} // namespace
} // namespace quellar
