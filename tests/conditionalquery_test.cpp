// The conditional query and summary: token splitting, the cell test (numbers, texts, blanks,
// comparators), the result's shape (field row, row numbers, rows above the field row), refused
// inputs, the result phase; then both cores against literal references on random tables
// (every row tested against every condition; the summary as the group summary of the rows
// the reference keeps).

#include "base/CellOps.h"
#include "table/ConditionalQuery.h"
#include "table/GroupSum.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace quellar {
namespace {

using test::makeTable;
using test::tableText;
using test::tbl;

QString split(const QString& text) {
    const Result<QStringList> r = splitTokens(text);
    if (!r.isOk()) return QStringLiteral("error");
    return QStringLiteral("[") + r.value().join(QStringLiteral("][")) + QStringLiteral("]");
}

TEST(ConditionalQuery, SplitsTokens) {
    EXPECT_EQ(split("a|b|"), "[a][b]");
    EXPECT_EQ(split("a||b"), "[a][][b]");
    EXPECT_EQ(split("|a"), "[][a]");
    EXPECT_EQ(split("a|b||"), "[a][b|]");
    EXPECT_EQ(split("  x|=| 1 |and|  "), "[x][=][ 1 ][and]");
    EXPECT_EQ(split("abc"), "[abc]");
    EXPECT_EQ(split("a"), "[a]");
    EXPECT_EQ(split("|"), "[]");
    EXPECT_EQ(split("||"), "[|]");
    EXPECT_EQ(split(""), "error");
    EXPECT_EQ(split(" \t\n"), "error");
    const Result<QStringList> blank = splitTokens("   ");
    EXPECT_EQ(blank.status().code(), Status::Code::InvalidInput);
    EXPECT_EQ(splitTokens("a;b", QLatin1Char(';')).value(), QStringList({"a", "b"}));
}

TEST(ConditionalQuery, TestsOneCell) {
    struct Case {
        const char* cell;
        const char* op;
        const char* value;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"15", ">=", "10", true},  {"1,5", ">=", "10", true}, {"1,5", "<=", "20", true},
        {"21", "<=", "20", false}, {"10", ">", "9", true},    {"10a", ">", "9", false},
        {"10a", "<", "9", true},   {"", "=", "", true},       {"  ", "=", "", true},
        {"0", "=", "", true},      {"0.0", "=", "", true},    {"x", "=", "", false},
        {"", "<", "1", true},      {" 7 ", "=", "7", true},   {"7", "=", " 7 ", true},
        {"N", ">", "M", true},     {"m", ">", "M", true},     {"L", ">", "M", false},
        {"M", ">", "M", false},    {"MA", ">", "M", true},    {"M", "!=", "M", false},
        {"3", "!=", "3.0", false}, {"3", "!=", "4", true},    {"b", "<=", "b", true},
        {"3", " =", "3", false},   {"3", "", "3", false},     {"3", "==", "3", false},
        {"-5", "<", "-4", true},   {"abc", ">=", "ab", true}, {"\xef\xbd\x81", ">", "z", true},
    };
    for (const Case& c : cases) {
        QueryCondition condition;
        condition.comparator = QString::fromUtf8(c.op);
        condition.value = QString::fromUtf8(c.value);
        EXPECT_EQ(matchCondition(QString::fromUtf8(c.cell), condition), c.expected)
            << c.cell << " " << c.op << " " << c.value;
    }
}

QString queried(const RowTable& table, const QString& conditions) {
    Result<RowTable> r = conditionalQuery(table, conditions);
    if (!r.isOk()) return QStringLiteral("error: ") + r.status().message();
    return tableText(r.value());
}

TEST(ConditionalQuery, ListsMatchingRowsWithRowNumbers) {
    auto z = [](const char16_t* t) { return QString::fromUtf16(t); };
    RowTable table = makeTable({{z(u"清单"), "", ""},
                                {z(u"名称"), z(u"价格"), z(u"地区")},
                                {"a", "10", z(u"东部")},
                                {"b", " 1,5 ", z(u"西部")},
                                {"c", "21", ""},
                                {"d", "9", z(u"东部")},
                                {"e", "x", z(u"东部")}});
    table[1][0].fillColorIndex = 6; // the field row keeps its own formatting
    EXPECT_EQ(queried(table, QString::fromUtf16(u"价格|>=|10|and|价格|<=|20|and")),
              QString::fromUtf16(u"名称:6 价格:2 地区:2\na:2 10:2 东部:2 2*20\nb:2 1,5:2 西部:2 3*20"));
    // An empty value keeps the empty cells (and cells that read as 0).
    EXPECT_EQ(queried(table, QString::fromUtf16(u"地区|=||and")),
              QString::fromUtf16(u"名称:6 价格:2 地区:2\nc:2 21:2 :2 4*20"));
    // Fewer than four tokens: every data row; the tokens after the last group of four are ignored.
    const QString all =
        QString::fromUtf16(u"名称:6 价格:2 地区:2\na:2 10:2 东部:2 2*20\nb:2  1,5 :2 西部:2 3*20\n"
                           u"c:2 21:2 :2 4*20\nd:2 9:2 东部:2 5*20\ne:2 x:2 东部:2 6*20");
    EXPECT_EQ(queried(table, "abc"), all);
    EXPECT_EQ(queried(table, QString::fromUtf16(u"名称|>|a|and|价格")),
              QString::fromUtf16(u"名称:6 价格:2 地区:2\nb:2  1,5 :2 西部:2 3*20\nc:2 21:2 :2 4*20\n"
                                 u"d:2 9:2 东部:2 5*20\ne:2 x:2 东部:2 6*20"));
    // No row: the field row alone. An unknown comparator matches nothing.
    EXPECT_EQ(queried(table, QString::fromUtf16(u"名称|=|zz|and")),
              QString::fromUtf16(u"名称:6 价格:2 地区:2"));
    EXPECT_EQ(queried(table, QString::fromUtf16(u"名称|~|a|and")),
              QString::fromUtf16(u"名称:6 价格:2 地区:2"));

    const Result<RowTable> r = conditionalQuery(table, QString::fromUtf16(u"名称|=|a|and"));
    ASSERT_TRUE(r.isOk());
    const CellRecord& number = r.value()[1][3];
    EXPECT_EQ(number.mergeState, MergeState::TextOnly);
    EXPECT_EQ(number.alignment1, Align::Center);
    EXPECT_EQ(number.alignment2, Align::Center);
}

TEST(ConditionalQuery, RefusesWhatItCannotEvaluate) {
    const RowTable table = tbl(QString::fromUtf16(u"名称,价格;a,1"));
    EXPECT_EQ(queried(table, QString::fromUtf16(u"产地|=|x|and")),
              QString::fromUtf16(u"error: 条件中的字段“产地”不是表中的字段。表中的字段有：名称，价格"));
    EXPECT_TRUE(queried(table, "  ").startsWith("error"));
    EXPECT_EQ(queried(tbl("a,a;1,1"), "a|=|1|and"),
              QString::fromUtf16(u"error: Excel表第一行必须是不同名称的字段。"));
}

TEST(ConditionalQuery, ResultPhaseWritesTheQuerySheet) {
    test::RecordingSink sink;
    test::RecordingProgress progress;
    ConditionalQueryInfo info;
    ASSERT_TRUE(runConditionalQuery(sink, progress, tbl("k,v;a,1;b,2;c,3"), "v|>|1|and", &info).isOk());
    EXPECT_EQ(sink.sheets[1].name, QString::fromUtf16(u"筛选结果"));
    EXPECT_EQ(tableText(sink.sheets[1].table), "k:2 v:2\nb:2 2:2 2*20\nc:2 3:2 3*20");
    EXPECT_EQ(progress.texts.first(), "run");
    EXPECT_EQ(info.conditions, 1);
    EXPECT_EQ(info.matchingRows, 2);

    test::RecordingSink untouched;
    EXPECT_FALSE(runConditionalQuery(untouched, progress, tbl("k,v;a,1"), "w|>|1|and").isOk());
    EXPECT_TRUE(untouched.sheets.empty());
}

QString summed(const RowTable& table, const QString& c, const QString& g, const QString& s) {
    Result<RowTable> r = conditionalSummary(table, c, g, s);
    if (!r.isOk()) return QStringLiteral("error: ") + r.status().message();
    return tableText(r.value());
}

TEST(ConditionalSummary, GroupsTheMatchingRows) {
    const RowTable table = tbl(QString::fromUtf16(u"报表,,;区,类,额;北,x,1;南,y,2;北,y,4;南,x,8"));
    const QString sumBoth = QString::fromUtf16(u"C (额)");
    EXPECT_EQ(summed(table, QString::fromUtf16(u"额|>|1|and"), QString::fromUtf16(u"区"), sumBoth),
              tableText(groupSum(tbl(QString::fromUtf16(u"区,类,额;南,y,2;北,y,4;南,x,8")),
                                 {QString::fromUtf16(u"区")}, {sumBoth})
                            .value()));
    // Fewer than four tokens: the group summary of the whole table.
    EXPECT_EQ(
        summed(table, "x", QString::fromUtf16(u"区|类"), sumBoth),
        tableText(
            groupSum(table, {QString::fromUtf16(u"区"), QString::fromUtf16(u"类")}, {sumBoth}).value()));
    // No matching row: the group summary of the field row alone.
    EXPECT_EQ(
        summed(table, QString::fromUtf16(u"额|>|100|and"), QString::fromUtf16(u"区"), sumBoth),
        tableText(
            groupSum(tbl(QString::fromUtf16(u"区,类,额")), {QString::fromUtf16(u"区")}, {sumBoth}).value()));
}

TEST(ConditionalSummary, RefusesBlankTextsAndUnknownGroups) {
    const RowTable table = tbl(QString::fromUtf16(u"区,类,额;北,x,1"));
    const QString c = QString::fromUtf16(u"额|>|0|and");
    EXPECT_TRUE(summed(table, " ", QString::fromUtf16(u"区"), "C").startsWith("error"));
    EXPECT_TRUE(summed(table, c, " ", "C").startsWith("error"));
    EXPECT_TRUE(summed(table, c, QString::fromUtf16(u"区"), "  ").startsWith("error"));
    EXPECT_EQ(summed(table, c, QString::fromUtf16(u"区||类"), "C"),
              QString::fromUtf16(u"error: 分组字段“”不是表中的字段。表中的字段有：区，类，额"));
    EXPECT_TRUE(
        summed(table, QString::fromUtf16(u"州|=|x|and"), QString::fromUtf16(u"区"), "C").contains(u"州"));
    EXPECT_TRUE(summed(table, c, QString::fromUtf16(u"区"), "Q (x)").startsWith("error"));

    test::RecordingSink sink;
    NullProgress progress;
    EXPECT_FALSE(runConditionalSummary(sink, progress, table, c, QString::fromUtf16(u"区||类"), "C").isOk());
    EXPECT_TRUE(sink.sheets.empty());
    ConditionalSummaryInfo info;
    ASSERT_TRUE(
        runConditionalSummary(sink, progress, table, c, QString::fromUtf16(u"区"), "C (额)", &info).isOk());
    EXPECT_EQ(sink.sheets[1].name, QString::fromUtf16(u"汇总结果"));
    EXPECT_EQ(info.matchingRows, 1);
    EXPECT_EQ(info.groups.sumColumns, std::vector<int>({2}));
}

// ---------------------------------------------------------------------------------------------
// Against literal references

bool referenceMatch(QString cell, QString value, const QString& op) {
    cell = cell.trimmed();
    value = value.trimmed();
    double v = 0, c = 0;
    int order;
    if (parseNumber(value, v) && parseNumber(cell, c))
        order = c < v ? -1 : (c > v ? 1 : 0);
    else
        order = QStringView(cell).compare(QStringView(value)); // code units, unsigned
    if (op == "=") return order == 0;
    if (op == ">") return order > 0;
    if (op == ">=") return order >= 0;
    if (op == "<") return order < 0;
    if (op == "<=") return order <= 0;
    if (op == "!=") return order != 0;
    return false;
}

// Every data row tested against every condition; matching rows trimmed in the tested columns.
RowTable referenceFiltered(const RowTable& table, const QStringList& tokens, bool rowNumbers) {
    int h = -1;
    const FieldList fields = findFieldRow(table, h);
    RowTable out{table[size_t(h)]};
    const qsizetype n = tokens.size() / 4;
    for (size_t r = size_t(h) + 1; r < table.size(); ++r) {
        Row row = table[r];
        int count = 0;
        for (qsizetype c = 0; c < n; ++c) {
            const int p = int(fields.indexOf(tokens[4 * c]));
            QString text = row[size_t(p)].text.toQString();
            if (referenceMatch(text, tokens[4 * c + 2], tokens[4 * c + 1])) ++count;
            row[size_t(p)].text = SharedText(text.trimmed());
        }
        if (count != n) continue;
        row.resize(size_t(fields.size()));
        if (rowNumbers) {
            CellRecord number;
            number.text = SharedText(QString::number(r));
            number.mergeState = MergeState::TextOnly;
            number.fillColorIndex = Fill::LightTurquoise;
            row.push_back(number);
        }
        out.push_back(row);
    }
    return out;
}

TEST(ConditionalQuery, AgreesWithLiteralReferenceOnRandomTables) {
    std::mt19937 random(97);
    const QStringList pool = {"",    " ", "0", "1",  " 2",  "10", "1,0", "-3",
                              "9.5", "a", "A", "b ", "10a", "ab", "-"};
    const QStringList ops = {"=", ">", ">=", "<", "<=", "!=", "?"};
    for (int round = 0; round < 400; ++round) {
        const int columns = 1 + int(random() % 4);
        std::vector<QStringList> rows;
        if (random() % 3 == 0) rows.push_back(QStringList(columns, QString())); // a row above the field row
        QStringList fields;
        for (int c = 0; c < columns; ++c)
            fields.append(QStringLiteral("f%1").arg(c));
        rows.push_back(fields);
        const int dataRows = int(random() % 30);
        for (int r = 0; r < dataRows; ++r) {
            QStringList row;
            for (int c = 0; c < columns; ++c)
                row.append(pool[qsizetype(random() % pool.size())]);
            rows.push_back(row);
        }
        const RowTable table = makeTable(rows);
        QStringList tokens;
        const int conditions = int(random() % 4);
        for (int c = 0; c < conditions; ++c)
            tokens << fields[qsizetype(random() % fields.size())] << ops[qsizetype(random() % ops.size())]
                   << pool[qsizetype(random() % pool.size())] << "and";
        if (random() % 4 == 0) tokens << "f0"; // an incomplete group: ignored
        QString text = tokens.join(u'|');
        if (text.trimmed().isEmpty()) text = "x";
        // The reference splits with a plain split; keep texts where both agree.
        const QStringList refTokens = splitTokens(text).value();

        const Result<RowTable> query = conditionalQuery(table, text);
        ASSERT_TRUE(query.isOk()) << text.toStdString();
        ASSERT_EQ(tableText(query.value()), tableText(referenceFiltered(table, refTokens, true)))
            << text.toStdString();

        const QString group = fields[qsizetype(random() % fields.size())];
        const QString sum = groupSumLabel(int(random() % columns), "x");
        const Result<RowTable> summary = conditionalSummary(table, text, group, sum);
        const Result<RowTable> expected =
            groupSum(referenceFiltered(table, refTokens, false), {group}, {sum});
        ASSERT_EQ(summary.isOk(), expected.isOk());
        if (summary.isOk())
            ASSERT_EQ(tableText(summary.value()), tableText(expected.value())) << text.toStdString();
    }
}

} // namespace
} // namespace quellar
