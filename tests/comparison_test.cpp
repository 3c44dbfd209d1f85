// The two-table comparison: cell comparison, common field names, pairing, marks, result
// layout, counts and the result phase; the indexed pairing is checked against a literal
// nested scan on many random small tables.

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "table/compare/Comparison.h"
#include "table/compare/Report.h"
#include "tests/RefusedComparisons.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace quellar {
namespace {

using test::makeTable;
using test::tableText;

using test::tbl;

CompareOptions opts(bool text, bool formula, bool format, bool ignoreCase, bool keyMode) {
    return CompareOptions{text, formula, format, ignoreCase, keyMode};
}

const CompareOptions kKey = opts(true, false, false, false, true);
const CompareOptions kPosition = opts(true, false, false, false, false);

CellRecord cell(const QString& text, const QString& formula = {}, const QString& format = {}) {
    CellRecord c;
    c.text = SharedText(text);
    c.formula = SharedText(formula);
    c.setNumberFormat(SharedText(format));
    c.fillColorIndex = Fill::White;
    c.mergeState = MergeState::Single;
    return c;
}

TEST(CellsEqual, FollowsTheContentOptions) {
    struct Case {
        const char* name;
        CellRecord a, b;
        CompareOptions options;
        bool equal;
    };
    const CompareOptions text = opts(true, false, false, false, true);
    const CompareOptions textIc = opts(true, false, false, true, true);
    const CompareOptions formula = opts(false, true, false, false, true);
    const CompareOptions formulaIc = opts(true, true, false, true, true);
    const CompareOptions format = opts(false, false, true, false, true);
    const CompareOptions none = opts(false, false, false, false, true);
    const CompareOptions onlyIc = opts(false, false, false, true, true);
    const std::vector<Case> cases = {
        {"same text", cell("abc"), cell("abc"), text, true},
        {"text differs in case", cell("abc"), cell("ABC"), text, false},
        {"ignore case, ASCII", cell("abc"), cell("ABC"), textIc, true},
        {"ignore case, mixed", cell("aBc1-z"), cell("AbC1-Z"), textIc, true},
        {"ignore case, full-width letters stay", cell("ａｂｃ"), cell("ＡＢＣ"), textIc, false},
        {"ignore case, accented letters stay", cell("é"), cell("É"), textIc, false},
        {"ignore case, different lengths", cell("ab"), cell("ABC"), textIc, false},
        {"ignore case alone compares nothing", cell("a"), cell("b"), onlyIc, true},
        {"text not compared", cell("a"), cell("b"), none, true},
        {"long texts", cell("a long text of cells"), cell("a long text of cellz"), text, false},
        {"formula on, plain values", cell("1", ""), cell("1", ""), formula, true},
        {"formula on, neither starts with =", cell("1", "x"), cell("1", "y"), formula, true},
        {"formula on, one formula", cell("1", "=A1"), cell("1", ""), formula, false},
        {"formula on, other side formula", cell("1", "b"), cell("1", "=b"), formula, false},
        {"formula on, same formula", cell("1", "=A1"), cell("1", "=A1"), formula, true},
        {"formula case stays with ignore case", cell("1", "=a1"), cell("1", "=A1"), formulaIc, false},
        {"formula off ignores formulas", cell("1", "=a1"), cell("1", "=B2"), text, true},
        {"number format on, differs", cell("1", "", "0.00"), cell("1", "", "0.0"), format, false},
        {"number format on, same", cell("1", "", "0.00"), cell("1", "", "0.00"), format, true},
        {"number format on, one general", cell("1", "", "0"), cell("1"), format, false},
        {"number format off", cell("1", "", "0.00"), cell("1", "", "0.0"), text, true},
        {"all off, everything equal", cell("a", "=x", "0"), cell("b", "=y", "1"), none, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cellsEqual(c.a, c.b, c.options), c.equal) << c.name;
        EXPECT_EQ(cellsEqual(c.b, c.a, c.options), c.equal) << c.name << " (swapped)";
    }
}

TEST(CommonFieldNames, Table2OrderExactNames) {
    EXPECT_EQ(commonFieldNames(tbl("a,b,c,D"), tbl("d,c,x,a")), (QStringList{"c", "a"}));
    // The field row of table 2 is its first valid row.
    EXPECT_EQ(commonFieldNames(tbl("a,b"), tbl(",x;b,a;1,2")), (QStringList{"b", "a"}));
    EXPECT_EQ(commonFieldNames(tbl("a,b"), tbl("A,B")), QStringList{});
}

struct TableCase {
    const char* name;
    RowTable t1, t2;
    CompareOptions options;
    QStringList keys;
    QString expected;
    CompareCounts counts; // differentRows, differentCells, red, yellow, green
};

std::string countsText(const CompareCounts& c) {
    return QStringLiteral("rows %1 cells %2 red %3 yellow %4 green %5")
        .arg(c.differentRows)
        .arg(c.differentCells)
        .arg(c.redCells)
        .arg(c.yellowCells)
        .arg(c.greenCells)
        .toStdString();
}

RowTable withFormula(RowTable t, int row, int column, const QString& formula) {
    t[size_t(row)][size_t(column)].formula = SharedText(formula);
    return t;
}
RowTable withFormat(RowTable t, int row, int column, const QString& format) {
    t[size_t(row)][size_t(column)].setNumberFormat(SharedText(format));
    return t;
}

TEST(CompareTables, ResultLayoutMarksAndCounts) {
    const std::vector<TableCase> cases = {
        {"identical tables by key",
         tbl("id,v;1,a;2,b"),
         tbl("id,v;1,a;2,b"),
         kKey,
         {"id"},
         "id:2 v:2 1*20 id:2 v:2\n"
         "1:2 a:2 2*20 1:2 a:2\n"
         "2:2 b:2 3*20 2:2 b:2",
         {0, 0, 0, 0, 0}},
        {"repeated keys on both sides, key absent from table 2",
         tbl("id,v;1,a;2,c;1,b"),
         tbl("id,v;1,a;1,b;1,q"),
         kKey,
         {"id"},
         "id:2 v:2 1*20 id:2 v:2\n"
         "1:2 a:2 2*20 1:2 a:2\n"
         "2:6 c:6 ~ ~ ~\n"
         "1:2 b:2 3*20 1:2 b:2\n"
         "~ ~ 4*20 1:4 q:4",
         {2, 0, 0, 2, 2}},
        {"repeated key pairs in table 2's order, then unpaired rows in table 2's order",
         tbl("id,v;1,x;1,y"),
         tbl("id,v;2,m;1,p;3,n;1,q;1,r"),
         kKey,
         {"id"},
         "id:2 v:2 1*20 id:2 v:2\n"
         "1:2 x:3 3*20 1:2 p:3\n"
         "1:2 y:3 5*20 1:2 q:3\n"
         "~ ~ 2*20 2:4 m:4\n"
         "~ ~ 4*20 3:4 n:4\n"
         "~ ~ 6*20 1:4 r:4",
         {5, 2, 4, 0, 6}},
        {"fields only in one table",
         tbl("id,a,b;1,x,y"),
         tbl("id,c,b;1,z,y"),
         kKey,
         {"id"},
         "id:2 a:6 b:2 1*20 id:2 c:4 b:2\n"
         "1:2 x:6 y:2 2*20 1:2 z:4 y:2",
         {2, 0, 0, 2, 2}},
        {"columns matched by name, not position",
         tbl("id,x,y;1,p,q;2,r,s"),
         tbl("y,id,x;q,1,p;t,2,r"),
         kKey,
         {"id"},
         "id:2 x:2 y:2 1*20 y:2 id:2 x:2\n"
         "1:2 p:2 q:2 2*20 q:2 1:2 p:2\n"
         "2:2 r:2 s:3 3*20 t:3 2:2 r:2",
         {1, 1, 2, 0, 0}},
        {"two keys, both must match",
         tbl("a,b,v;1,1,x;1,2,y"),
         tbl("a,b,v;1,2,y;1,1,z"),
         kKey,
         {"b", "a"},
         "a:2 b:2 v:2 1*20 a:2 b:2 v:2\n"
         "1:2 1:2 x:3 3*20 1:2 1:2 z:3\n"
         "1:2 2:2 y:2 2*20 1:2 2:2 y:2",
         {1, 1, 2, 0, 0}},
        {"the same key twice",
         tbl("k,v;1,a"),
         tbl("k,v;1,a"),
         kKey,
         {"k", "k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 a:2 2*20 1:2 a:2",
         {0, 0, 0, 0, 0}},
        {"one differing cell",
         tbl("k,v,w;1,a,b"),
         tbl("k,v,w;1,a,c"),
         kKey,
         {"k"},
         "k:2 v:2 w:2 1*20 k:2 v:2 w:2\n1:2 a:2 b:3 2*20 1:2 a:2 c:3",
         {1, 1, 2, 0, 0}},
        {"key mode without keys pairs by position until table 2 runs out",
         tbl("k,v;1,a;2,b;3,c"),
         tbl("k,v;9,a"),
         kKey,
         {},
         "k:2 v:2 1*20 k:2 v:2\n1:3 a:2 2*20 9:3 a:2\n2:6 b:6 ~ ~ ~\n3:6 c:6 ~ ~ ~",
         {3, 1, 2, 4, 0}},
        {"positional, table 1 wider by two columns",
         tbl("a,b,c,d;1,2,3,4"),
         tbl("a,b;1,9"),
         kPosition,
         {},
         "a:2 b:2 c:6 d:6 1*20 a:2 b:2\n1:2 2:3 3:6 4:6 2*20 1:2 9:3",
         {2, 1, 2, 4, 0}},
        {"positional, table 2 wider",
         tbl("a;1"),
         tbl("a,b;1,2"),
         kPosition,
         {},
         "a:2 1*20 a:2 b:4\n1:2 2*20 1:2 2:4",
         {2, 0, 0, 0, 2}},
        {"positional, table 2 longer: extra rows appended green",
         tbl("a;1"),
         tbl("a;1;2;3"),
         kPosition,
         {},
         "a:2 1*20 a:2\n1:2 2*20 1:2\n~ 3*20 2:4\n~ 4*20 3:4",
         {2, 0, 0, 0, 2}},
        {"positional, table 1 longer without keys",
         tbl("a;1;2"),
         tbl("a;1"),
         kPosition,
         {},
         "a:2 1*20 a:2\n1:2 2*20 1:2\n2:6 ~ ~",
         {1, 0, 0, 1, 0}},
        {"positional, table 1 longer pairs by the keys",
         tbl("k,v;2,b;1,a"),
         tbl("k,v;1,a"),
         kPosition,
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n2:6 b:6 ~ ~ ~\n1:2 a:2 2*20 1:2 a:2",
         {1, 0, 0, 2, 0}},
        {"positional, table 1 not longer ignores the keys' values",
         tbl("k;2;1"),
         tbl("k;1;2"),
         kPosition,
         {"k"},
         "k:2 1*20 k:2\n2:3 2*20 1:3\n1:3 3*20 2:3",
         {2, 2, 4, 0, 0}},
        {"positional, field names need not be valid",
         tbl(",;x,x"),
         tbl(",;x,y"),
         kPosition,
         {},
         ":2 :2 1*20 :2 :2\nx:2 x:3 2*20 x:2 y:3",
         {1, 1, 2, 0, 0}},
        {"ignore case: ASCII letters equal, full-width letters differ",
         tbl("k,v;1,abc;2,ａｂｃ"),
         tbl("k,v;1,ABC;2,ＡＢＣ"),
         opts(true, false, false, true, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 abc:2 2*20 1:2 ABC:2\n2:2 ａｂｃ:3 3*20 2:2 ＡＢＣ:3",
         {1, 1, 2, 0, 0}},
        {"ignore case pairs keys that differ in case",
         tbl("k,v;x,1"),
         tbl("k,v;X,1"),
         opts(true, false, false, true, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\nx:2 1:2 2*20 X:2 1:2",
         {0, 0, 0, 0, 0}},
        {"case matters without ignore case",
         tbl("k,v;x,1"),
         tbl("k,v;X,1"),
         kKey,
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\nx:6 1:6 ~ ~ ~\n~ ~ 2*20 X:4 1:4",
         {2, 0, 0, 2, 2}},
        {"formula option: =a1 and =A1 differ even ignoring case",
         withFormula(tbl("k,v;1,5"), 1, 1, "=a1"),
         withFormula(tbl("k,v;1,5"), 1, 1, "=A1"),
         opts(true, true, false, true, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 5:3 2*20 1:2 5:3",
         {1, 1, 2, 0, 0}},
        {"formula option with plain values on both sides",
         tbl("k,v;1,5"),
         tbl("k,v;1,5"),
         opts(true, true, false, false, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 5:2 2*20 1:2 5:2",
         {0, 0, 0, 0, 0}},
        {"formula option off ignores formulas",
         withFormula(tbl("k,v;1,5"), 1, 1, "=A1"),
         tbl("k,v;1,5"),
         kKey,
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 5:2 2*20 1:2 5:2",
         {0, 0, 0, 0, 0}},
        {"formula in a key cell keeps rows apart",
         withFormula(tbl("k,v;1,5"), 1, 0, "=1"),
         tbl("k,v;1,5"),
         opts(true, true, false, false, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:6 5:6 ~ ~ ~\n~ ~ 2*20 1:4 5:4",
         {2, 0, 0, 2, 2}},
        {"number format option",
         withFormat(tbl("k,v;1,5"), 1, 1, "0.00"),
         withFormat(tbl("k,v;1,5"), 1, 1, "0.0"),
         opts(true, false, true, false, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 5:3 2*20 1:2 5:3",
         {1, 1, 2, 0, 0}},
        {"number format off",
         withFormat(tbl("k,v;1,5"), 1, 1, "0.00"),
         withFormat(tbl("k,v;1,5"), 1, 1, "0.0"),
         kKey,
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 5:2 2*20 1:2 5:2",
         {0, 0, 0, 0, 0}},
        {"all content options off: every key matches, rows pair by position",
         tbl("k,v;1,a;2,b"),
         tbl("k,v;9,x;8,y;7,z"),
         opts(false, false, false, false, true),
         {"k"},
         "k:2 v:2 1*20 k:2 v:2\n1:2 a:2 2*20 9:2 x:2\n2:2 b:2 3*20 8:2 y:2\n~ ~ 4*20 7:4 z:4",
         {1, 0, 0, 0, 2}},
        {"only ignore case: marks only cells without a partner",
         tbl("a,b;1,2;3,4"),
         tbl("a;x"),
         opts(false, false, false, true, false),
         {},
         "a:2 b:6 1*20 a:2\n1:2 2:6 2*20 x:2\n3:6 4:6 ~ ~",
         {3, 0, 0, 4, 0}},
        {"short rows read as empty cells",
         RowTable{tbl("a,b")[0], tbl("1")[0]},
         tbl("a,b;1,"),
         kPosition,
         {},
         "a:2 b:2 1*20 a:2 b:2\n1:2 :2 2*20 1:2 :2",
         {0, 0, 0, 0, 0}},
        {"empty table 1, positional",
         RowTable{},
         tbl("a;1"),
         kPosition,
         {},
         "1*20 a:4\n2*20 1:4",
         {2, 0, 0, 0, 2}},
        {"two empty tables", RowTable{}, RowTable{}, kPosition, {}, "", {0, 0, 0, 0, 0}},
    };
    for (const TableCase& c : cases) {
        CompareCounts counts;
        Result<RowTable> result = compareTables(c.t1, c.t2, c.options, c.keys, &counts);
        ASSERT_TRUE(result.isOk()) << c.name << ": " << result.status().message().toStdString();
        EXPECT_EQ(tableText(result.value()).toStdString(), c.expected.toStdString()) << c.name;
        EXPECT_EQ(countsText(counts), countsText(c.counts)) << c.name;
    }
}

TEST(CompareTables, SeparatorAndFillerCells) {
    Result<RowTable> result = compareTables(tbl("k;1;2"), tbl("k;1"), kKey, {"k"}, nullptr);
    ASSERT_TRUE(result.isOk());
    const Row& paired = result.value()[1];
    const CellRecord& separator = paired[1];
    EXPECT_EQ(separator.mergeState, MergeState::TextOnly);
    EXPECT_EQ(separator.fillColorIndex, Fill::LightTurquoise);
    EXPECT_EQ(separator.alignment1, Align::Center);
    EXPECT_EQ(separator.alignment2, Align::Center);
    EXPECT_EQ(separator.text.toQString(), "2");
    const Row& unpaired = result.value()[2];
    for (size_t c = 1; c < unpaired.size(); ++c) {
        EXPECT_EQ(unpaired[c].mergeState, MergeState::Covered);
        EXPECT_EQ(unpaired[c].fillColorIndex, 0);
        EXPECT_TRUE(unpaired[c].text.isEmpty());
    }
}

TEST(CompareTables, SourceTablesStayUnmarked) {
    const RowTable t1 = tbl("k,v;1,a;2,b"), t2 = tbl("k,v;1,x");
    ASSERT_TRUE(compareTables(t1, t2, kKey, {"k"}, nullptr).isOk());
    EXPECT_EQ(tableText(t1), "k:2 v:2\n1:2 a:2\n2:2 b:2");
    EXPECT_EQ(tableText(t2), "k:2 v:2\n1:2 x:2");
}

TEST(CompareTables, SeparatorShowsLargeRowNumbers) {
    std::vector<QStringList> rows{{"k"}};
    for (int i = 0; i < 12345; ++i)
        rows.push_back({QString::number(i)});
    const RowTable t2 = makeTable(rows);
    const RowTable t1 = makeTable({{"k"}, {"12343"}});
    Result<RowTable> result = compareTables(t1, t2, kKey, {"k"}, nullptr);
    ASSERT_TRUE(result.isOk());
    EXPECT_EQ(result.value()[1][1].text.toQString(), "12345");
    EXPECT_EQ(result.value().back()[1].text.toQString(), "12346");
}

TEST(CompareTables, RefusesInputItCannotCompare) {
    const std::vector<test::RefusedComparison> cases = {
        {"table 1 without a field row", tbl("a,a;1,1"), tbl("k;1"), kKey, {"k"}, {"文件一", "字段行"}},
        {"table 2 without a field row", tbl("k;1"), tbl("a,;,"), kKey, {"k"}, {"文件二", "字段行"}},
        {"empty table in key mode", RowTable{}, tbl("k;1"), kKey, {}, {"文件一"}},
        {"key missing from table 1", tbl("a,b;1,2"), tbl("a,c;1,2"), kKey, {"c"}, {"“c”", "文件一", "a、b"}},
        {"key missing from table 2",
         tbl("a,b;1,2"),
         tbl("a,c;1,2"),
         kKey,
         {"a", "b"},
         {"“b”", "文件二", "a、c"}},
        {"key missing in positional mode", tbl("a;1;2"), tbl("a;1"), kPosition, {"zz"}, {"“zz”"}},
        {"key missing in positional mode, table 1 shorter",
         tbl("a;1"),
         tbl("a;1;2"),
         kPosition,
         {"zz"},
         {"“zz”"}},
    };
    test::expectRefused(cases);
}

TEST(RunTableComparison, ProgressSinkAndReport) {
    std::vector<QStringList> rows{{"k", "v"}};
    for (int i = 0; i < 249; ++i)
        rows.push_back({QString::number(i), "x"});
    const RowTable t1 = makeTable(rows);
    rows[5][1] = "changed";
    const RowTable t2 = makeTable(rows);

    test::RecordingSink sink;
    test::RecordingProgress progress;
    QString report = "earlier";
    CompareCounts counts;
    ASSERT_TRUE(runTableComparison(sink, progress, std::move(t1), std::move(t2), kKey, {"k"}, 3, "对比结果",
                                   report, &counts));

    EXPECT_EQ(progress.texts, QStringList{"run"});
    EXPECT_EQ(progress.ranges, std::vector<int64_t>{250});
    EXPECT_EQ(progress.steps, std::vector<int64_t>{2});
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_EQ(progress.positions.front(), 0);
    EXPECT_EQ(progress.position(), 250);

    ASSERT_EQ(sink.sheets.count(3), 1u);
    EXPECT_EQ(sink.sheets[3].name, "对比结果");
    EXPECT_EQ(sink.sheets[3].step, 2);
    EXPECT_EQ(sink.sheets[3].table.size(), 250u);
    EXPECT_EQ(countsText(counts), countsText(CompareCounts{1, 1, 2, 0, 0}));
    EXPECT_EQ(report, "earlier" + reportRows("对比结果", counts));
}

class FailingSink : public ResultSink {
public:
    Status writeResult(int, const QString&, const RowTable&, Progress&, int64_t) override {
        return Status::ioError("写入失败");
    }
};

TEST(RunTableComparison, FailuresLeaveTheReportAlone) {
    NullProgress progress;
    QString report = "earlier";
    FailingSink failing;
    EXPECT_EQ(
        runTableComparison(failing, progress, tbl("k;1"), tbl("k;1"), kKey, {"k"}, 1, "t", report).message(),
        "写入失败");
    test::RecordingSink sink;
    EXPECT_FALSE(runTableComparison(sink, progress, tbl("k;1"), tbl("k;1"), kKey, {"nope"}, 1, "t", report));
    EXPECT_TRUE(sink.sheets.empty());
    EXPECT_EQ(report, "earlier");
}

// ---- The literal nested-scan comparison, as a reference for the indexed pairing ----

QString refUpper(QString s) {
    for (QChar& c : s)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
    return s;
}

bool refCellsEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& o) {
    bool textEqual = true, formulaEqual = true, formatEqual = true;
    if (o.compareText) {
        QString ta = a.text.toQString(), tb = b.text.toQString();
        if (o.ignoreCase) {
            ta = refUpper(ta);
            tb = refUpper(tb);
        }
        textEqual = ta == tb;
    }
    if (o.compareFormula) {
        const QString fa = a.formula.toQString(), fb = b.formula.toQString();
        if (fa.startsWith(u'=') || fb.startsWith(u'=')) formulaEqual = fa == fb;
    }
    if (o.compareNumberFormat) formatEqual = a.numberFormat().toQString() == b.numberFormat().toQString();
    return textEqual && formulaEqual && formatEqual;
}

RowTable refCompare(RowTable t1, RowTable t2, const CompareOptions& o, const QStringList& keys) {
    int unused = 0;
    const FieldList names1 = findFieldRow(t1, unused), names2 = findFieldRow(t2, unused);
    const int W1 = t1.empty() ? 0 : int(t1[0].size()), W2 = t2.empty() ? 0 : int(t2[0].size());
    const int L1 = int(t1.size()), L2 = int(t2.size());
    std::vector<int> unpaired(static_cast<size_t>(L2), 0);
    for (int r = 0; r < L2; ++r)
        unpaired[size_t(r)] = r;
    CellRecord separator;
    separator.fillColorIndex = 20;
    separator.alignment1 = separator.alignment2 = -4108;
    separator.mergeState = MergeState::TextOnly;
    const CellRecord filler;
    RowTable result;
    for (int i = 0; i < L1; ++i) {
        int j = -1;
        if (!o.keyMode && L1 <= L2) {
            j = i;
            unpaired[size_t(i)] = -1;
        } else {
            for (int& s : unpaired) {
                if (s == -1) continue;
                int count = 0;
                for (const QString& k : keys)
                    if (refCellsEqual(t1[size_t(i)][size_t(indexOfField(names1, k))],
                                      t2[size_t(s)][size_t(indexOfField(names2, k))], o))
                        ++count;
                if (count == keys.size()) {
                    j = s;
                    s = -1;
                    break;
                }
            }
        }
        Row out;
        if (j >= 0) {
            Row& r1 = t1[size_t(i)];
            Row& r2 = t2[size_t(j)];
            if (o.keyMode) {
                for (int c = 0; c < W1; ++c) {
                    const int c2 = indexOfField(names2, names1[c]);
                    if (c2 == -1)
                        r1[size_t(c)].fillColorIndex = 6;
                    else if (!refCellsEqual(r1[size_t(c)], r2[size_t(c2)], o))
                        r1[size_t(c)].fillColorIndex = r2[size_t(c2)].fillColorIndex = 3;
                }
            } else {
                for (int c = 0; c < std::min(W1, W2); ++c)
                    if (!refCellsEqual(r1[size_t(c)], r2[size_t(c)], o))
                        r1[size_t(c)].fillColorIndex = r2[size_t(c)].fillColorIndex = 3;
                for (int c = std::min(W1, W2); c < std::max(W1, W2); ++c) {
                    if (W1 > W2)
                        r1[size_t(c)].fillColorIndex = 6;
                    else
                        r2[size_t(c)].fillColorIndex = 4;
                }
            }
            for (int c = 0; c < W1; ++c)
                out.push_back(r1[size_t(c)]);
            separator.text = SharedText(QString::asprintf("%d", j + 1));
            out.push_back(separator);
            for (int c2 = 0; c2 < W2; ++c2) {
                if (o.keyMode && indexOfField(names1, names2[c2]) == -1) r2[size_t(c2)].fillColorIndex = 4;
                out.push_back(r2[size_t(c2)]);
            }
        } else {
            for (int c = 0; c < W1; ++c) {
                t1[size_t(i)][size_t(c)].fillColorIndex = 6;
                out.push_back(t1[size_t(i)][size_t(c)]);
            }
            for (int c = 0; c <= W2; ++c)
                out.push_back(filler);
        }
        result.push_back(out);
    }
    for (int s : unpaired) {
        if (s == -1) continue;
        Row out(size_t(W1), filler);
        separator.text = SharedText(QString::asprintf("%d", s + 1));
        out.push_back(separator);
        for (int c = 0; c < W2; ++c) {
            t2[size_t(s)][size_t(c)].fillColorIndex = 4;
            out.push_back(t2[size_t(s)][size_t(c)]);
        }
        result.push_back(out);
    }
    return result;
}

CompareCounts refCounts(const RowTable& result) {
    CompareCounts counts;
    if (result.empty()) return counts;
    const size_t width = result[0].size();
    for (const Row& row : result) {
        bool marked = false;
        for (size_t c = 0; c < width; ++c) {
            const int f = row[c].fillColorIndex;
            counts.redCells += f == 3;
            counts.yellowCells += f == 6;
            counts.greenCells += f == 4;
            marked = marked || f == 3 || f == 6 || f == 4;
        }
        counts.differentRows += marked;
    }
    counts.differentCells = counts.redCells / 2;
    return counts;
}

// Every field of a cell that the comparison may carry into the result.
QString fullText(const RowTable& table) {
    return test::cellFieldsText(table, true);
}

TEST(CompareTables, IndexedPairingMatchesNestedScan) {
    std::mt19937 random(20261206);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const QStringList fieldPool = {"a", "b", "c", "d"};
    const QStringList textPool = {"x", "X", "y", "", "long text", "LONG TEXT", "ｘ"};
    const QStringList formulaPool = {"", "", "=a", "=A", "b"};
    const QStringList formatPool = {"", "", "0.00"};

    const auto randomTable = [&](int width) {
        QStringList fields = fieldPool;
        std::shuffle(fields.begin(), fields.end(), random);
        fields = fields.mid(0, width);
        RowTable t = makeTable({fields});
        const int length = pick(7);
        for (int r = 0; r < length; ++r) {
            Row row;
            for (int c = 0; c < width; ++c) {
                CellRecord cell =
                    makeTable({{textPool[pick(3) == 0 ? pick(int(textPool.size())) : pick(2)]}})[0][0];
                cell.formula = SharedText(formulaPool[pick(int(formulaPool.size()))]);
                cell.setNumberFormat(SharedText(formatPool[pick(int(formatPool.size()))]));
                row.push_back(cell);
            }
            t.push_back(row);
        }
        return t;
    };

    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        const RowTable t1 = randomTable(1 + pick(4));
        const RowTable t2 = randomTable(1 + pick(4));
        const FieldList common = commonFieldNames(t1, t2);
        QStringList keys;
        if (!common.isEmpty()) {
            const int n = pick(4);
            for (int k = 0; k < n; ++k)
                keys.append(common[pick(int(common.size()))]);
        }
        // In every eighth round each case is also run with the result rows built on two
        // cores, as for large tables (bit 32).
        for (int bits = 0; bits < (round % 8 == 0 ? 64 : 32); ++bits) {
            setParallelRowFloor(bits & 32 ? 1 : kParallelRowsOff);
            const CompareOptions o = opts(bits & 1, bits & 2, bits & 4, bits & 8, bits & 16);
            CompareCounts counts;
            Result<RowTable> result = compareTables(t1, t2, o, keys, &counts);
            ASSERT_TRUE(result.isOk()) << result.status().message().toStdString();
            const RowTable expected = refCompare(t1, t2, o, keys);
            ASSERT_EQ(fullText(result.value()), fullText(expected))
                << "round " << round << " options " << bits << " keys " << keys.join(',').toStdString()
                << "\ntable 1:\n"
                << fullText(t1).toStdString() << "\ntable 2:\n"
                << fullText(t2).toStdString();
            ASSERT_EQ(countsText(counts), countsText(refCounts(expected)));

            // Consuming the tables gives the same result and leaves them empty.
            RowTable c1 = t1, c2 = t2;
            Result<RowTable> consumed = compareTables(std::move(c1), std::move(c2), o, keys, nullptr);
            ASSERT_TRUE(consumed.isOk());
            ASSERT_EQ(fullText(consumed.value()), fullText(expected));
            ASSERT_TRUE(c1.empty() && c2.empty());
            ++compared;
        }
    }
    setParallelRowFloor(kParallelRowsOff);
    EXPECT_EQ(compared, 400 * 32 + 50 * 32);
}

} // namespace
} // namespace quellar
