// The comparison rules and the statistics: the text and number rules on their own, the
// refusals, and the whole comparison under random rules checked against a literal reference
// (nested scans, normalised copies of the texts, QString number parsing) on many small
// random tables with rounding noise, spaces, full-width forms, reordered and extra columns
// and ignored columns.

#include "base/CellOps.h"
#include "base/ParallelRows.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "tests/RefusedComparisons.h"
#include "tests/TestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

namespace quellar {
namespace {

using test::tableText;
using test::tbl;

CompareOptions keyOptions(const CompareRules& rules = {}) {
    CompareOptions o;
    o.rules = rules;
    return o;
}

CompareOptions positionOptions(const CompareRules& rules = {}) {
    CompareOptions o = keyOptions(rules);
    o.keyMode = false;
    return o;
}

TEST(CompareRules, TextAndNumberRules) {
    const TextRules none, spaces{false, true, false}, width{false, false, true}, all{true, true, true};
    struct Case {
        const char16_t* a;
        const char16_t* b;
        TextRules rules;
        bool equal;
    };
    const Case cases[] = {
        {u"张 三", u"张  三", none, false},
        {u"张 三", u"张  三", spaces, true},
        {u"张 三", u"张\u3000三", spaces, true},
        {u"张 三", u"张三", spaces, false},
        {u"\u3000张三 ", u"张三", spaces, true},
        {u"a\t\nb", u"a b", spaces, true},
        {u"１２３", u"123", width, true},
        {u"ＡＢＣ", u"ABC", width, true},
        {u"ＡＢＣ", u"abc", width, false},
        {u"ａｂｃ", u"ABC", all, true},
        {u"a\u3000b", u"a b", width, true},
        {u"a\u3000\u3000b", u"a b", width, false},
        {u"a\u3000\u3000b", u"a b", all, true},
        {u"（注）", u"(注)", width, true},
        {u"\uFF5F", u"\uFF5F", width, true}, // beyond the full-width ASCII block, unchanged
        {u"\uFF5F", u"~", width, false},
        {u"１００１", u"1001.000000", width, true}, // a number cell holds six decimals
        {u"1001", u"1001.000000", width, true},
        {u"7200.5", u"7200.500000", width, true},
        {u"-０.１", u"-0.100000", width, true},
        {u"1001.0", u"1001.000000", width, false},
        {u"1001.000000", u"1001", none, false},
        {u"10.000000x", u"10", width, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textsEqual(c.a, c.b, c.rules), c.equal)
            << QString::fromUtf16(c.a).toStdString() << " / " << QString::fromUtf16(c.b).toStdString();
        if (c.equal)
            EXPECT_EQ(hashNormalised(1, c.a, c.rules), hashNormalised(1, c.b, c.rules))
                << QString::fromUtf16(c.a).toStdString();
    }

    double v = 0;
    EXPECT_TRUE(cellNumber(u"8500.000000", false, v) && v == 8500);
    EXPECT_TRUE(cellNumber(u"-3", false, v) && v == -3);
    EXPECT_TRUE(cellNumber(u".5", false, v) && v == 0.5);
    EXPECT_TRUE(cellNumber(u"１２.５", true, v) && v == 12.5);
    for (const char16_t* text :
         {u"", u"-", u".", u"1.2.3", u"1-2", u"1e5", u"1,234", u"+3", u"inf", u" 3", u"１２"})
        EXPECT_FALSE(cellNumber(text, false, v)) << QString::fromUtf16(text).toStdString();

    // The limit itself counts as within, also where the decimal values are not exact doubles.
    EXPECT_TRUE(withinTolerance(100.2, 100.1, {true, 0.1, 0}));
    EXPECT_TRUE(withinTolerance(1.25, 1.2, {true, 0.05, 0}));
    EXPECT_FALSE(withinTolerance(100.21, 100.1, {true, 0.1, 0}));
    EXPECT_TRUE(withinTolerance(101, 100, {true, 0, 0.01})); // relative to file 2's value
    EXPECT_FALSE(withinTolerance(100, 101, {true, 0, 0.0098}));
    EXPECT_TRUE(withinTolerance(8500, 8500.000000, {true, 0, 0}));
}

TEST(CompareRules, ToleranceOptionTexts) {
    CompareRules rules;
    EXPECT_TRUE(addToleranceText(rules, "0.01", false).isOk());
    EXPECT_TRUE(addToleranceText(rules, "工资=0.5", false).isOk());
    EXPECT_TRUE(addToleranceText(rules, "0.5%", true).isOk());
    EXPECT_TRUE(addToleranceText(rules, "a=b=0.02", true).isOk());
    EXPECT_EQ(*rules.tolerance, 0.01);
    EXPECT_DOUBLE_EQ(*rules.relTolerance, 0.005);
    ASSERT_EQ(rules.fieldTolerances.size(), 1u);
    EXPECT_EQ(rules.fieldTolerances[0].field, "工资");
    EXPECT_EQ(rules.fieldTolerances[0].value, 0.5);
    ASSERT_EQ(rules.fieldRelTolerances.size(), 1u);
    EXPECT_EQ(rules.fieldRelTolerances[0].field, "a=b");

    struct Bad {
        const char* text;
        bool relative;
        QStringList mentions;
    };
    const Bad bad[] = {
        {"abc", false, {"--tolerance", "abc", "不是数字"}},
        {"-1", false, {"--tolerance", "负数"}},
        {"工资=-0.5", false, {"--tolerance", "工资", "负数"}},
        {"工资=", true, {"--rel-tolerance", "工资", "不是数字"}},
        {"=3", false, {"--tolerance", "字段名"}},
        {"5%", false, {"--tolerance", "不是数字"}}, // a percentage only for the relative tolerance
        {"1e3", false, {"不是数字"}},
    };
    for (const Bad& b : bad) {
        CompareRules r;
        const Status s = addToleranceText(r, QString::fromUtf8(b.text), b.relative);
        ASSERT_FALSE(s.isOk()) << b.text;
        for (const QString& m : b.mentions)
            EXPECT_TRUE(s.message().contains(m)) << b.text << ": " << s.message().toStdString();
        EXPECT_TRUE(r.isDefault()) << b.text;
    }
}

TEST(CompareRules, TheWindowNamesABadToleranceByItsBoxAndRulesReadBackFromTheirTexts) {
    // The dialog names its own box, never the command-line option.
    for (bool relative : {false, true}) {
        CompareRules r;
        const Status s = addToleranceText(r, QStringLiteral("工资=abc"), relative, RuleNaming::Box);
        ASSERT_FALSE(s.isOk());
        EXPECT_TRUE(
            s.message().contains(relative ? QStringLiteral("“相对容差”") : QStringLiteral("“数值容差”")))
            << s.message().toStdString();
        EXPECT_TRUE(s.message().contains(QStringLiteral("工资")));
        EXPECT_FALSE(s.message().contains(QStringLiteral("--"))) << s.message().toStdString();
        const Status missing = addToleranceText(r, QStringLiteral("=1"), relative, RuleNaming::Box);
        EXPECT_FALSE(missing.message().contains(QStringLiteral("--"))) << missing.message().toStdString();
    }

    // Every value reads back as the very same double from the texts made of it, without an
    // exponent: round amounts, 15 and 16 digits, 0.1 + 0.2, 1e-7, tiny and huge values.
    const double values[] = {0,         0.01, 0.5,   10000000, 123456789012345, 1234567890123456,
                             0.1 + 0.2, 1e-7, 0.005, 0.0007,   1e-300,          1e300,
                             5e-324};
    for (bool relative : {false, true}) {
        CompareRules rules;
        (relative ? rules.relTolerance : rules.tolerance) = 0.02;
        for (double v : values)
            (relative ? rules.fieldRelTolerances : rules.fieldTolerances)
                .push_back({QStringLiteral("金额"), v});
        (relative ? rules.fieldRelTolerances : rules.fieldTolerances).push_back({QStringLiteral("a=b"), 3});
        const QStringList texts = toleranceTexts(rules, relative);
        ASSERT_EQ(texts.size(), qsizetype(std::size(values)) + 2);
        CompareRules back;
        for (const QString& text : texts) {
            EXPECT_FALSE(text.contains(u'e')) << text.toStdString();
            ASSERT_TRUE(addToleranceText(back, text, relative).isOk()) << text.toStdString();
        }
        EXPECT_EQ(back.tolerance, rules.tolerance);
        EXPECT_EQ(back.relTolerance, rules.relTolerance);
        const auto& want = relative ? rules.fieldRelTolerances : rules.fieldTolerances;
        const auto& got = relative ? back.fieldRelTolerances : back.fieldTolerances;
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].field, want[i].field);
            EXPECT_EQ(got[i].value, want[i].value) << texts[qsizetype(i) + 1].toStdString();
        }
    }
    CompareRules percent;
    percent.relTolerance = 0.005;
    percent.fieldRelTolerances.push_back({QStringLiteral("工资"), 0.1});
    EXPECT_EQ(toleranceTexts(percent, true), (QStringList{"0.5%", "工资=10%"}));
    EXPECT_TRUE(toleranceTexts(CompareRules(), false).isEmpty());
}

TEST(CompareRules, KeysMatchUnderTextRulesButNeverWithTolerance) {
    CompareRules width;
    width.ignoreWidth = true;
    // １００１ finds 1001; keys made equal pair in order, as repeated keys do.
    Result<RowTable> r = compareTables(tbl("编号,v;１００１,a;1001,b"), tbl("编号,v;1001,b;１００１,a"),
                                       keyOptions(width), {"编号"}, nullptr);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()), "编号:2 v:2 1*20 编号:2 v:2\n"
                                    "１００１:2 a:3 2*20 1001:2 b:3\n"
                                    "1001:2 b:3 3*20 １００１:2 a:3");

    CompareRules tolerance;
    tolerance.tolerance = 5;
    r = compareTables(tbl("编号,v;1001,10"), tbl("编号,v;1002,12"), keyOptions(tolerance), {"编号"}, nullptr);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()), "编号:2 v:2 1*20 编号:2 v:2\n"
                                    "1001:6 10:6 ~ ~ ~\n"
                                    "~ ~ 2*20 1002:4 12:4");
    // In the positional mode the same column is compared with the tolerance.
    r = compareTables(tbl("编号,v;1001,10"), tbl("编号,v;1002,12"), positionOptions(tolerance), {}, nullptr);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(tableText(r.value()), "编号:2 v:2 1*20 编号:2 v:2\n1001:2 10:2 2*20 1002:2 12:2");
}

TEST(CompareRules, RefusesRulesThatCannotApply) {
    CompareRules unknownTolerance;
    unknownTolerance.fieldTolerances = {{"工资", 1}};
    CompareRules unknownIgnored;
    unknownIgnored.ignoredColumns = {"备注"};
    CompareRules ignoreKey;
    ignoreKey.ignoredColumns = {"id"};
    CompareRules keyTolerance;
    keyTolerance.fieldRelTolerances = {{"id", 0.1}};
    CompareRules byName;
    byName.columnsByName = true;
    const std::vector<test::RefusedComparison> cases = {
        {"tolerance for a field neither table has",
         tbl("id,v;1,2"),
         tbl("id,w;1,2"),
         keyOptions(unknownTolerance),
         {"id"},
         {"--tolerance", "“工资”", "id、v", "id、w"}},
        {"ignored field neither table has",
         tbl("id,v;1,2"),
         tbl("id,v;1,2"),
         positionOptions(unknownIgnored),
         {},
         {"--ignore-column", "“备注”"}},
        {"field named without a field row",
         tbl("a,a;1,1"),
         tbl("a,a;1,1"),
         positionOptions(unknownIgnored),
         {},
         {"--ignore-column", "无字段行"}},
        {"ignored key",
         tbl("id,v;1,2"),
         tbl("id,v;1,2"),
         keyOptions(ignoreKey),
         {"id"},
         {"--ignore-column", "“id”", "对比字段"}},
        {"tolerance for a key",
         tbl("id,v;1,2"),
         tbl("id,v;1,2"),
         keyOptions(keyTolerance),
         {"id"},
         {"--rel-tolerance", "“id”", "对比字段"}},
        {"columns by name, no field row",
         tbl("a,;1,"),
         tbl("a,b;1,2"),
         positionOptions(byName),
         {},
         {"--columns-by-name", "文件一", "字段行"}},
        {"columns by name, repeated name",
         tbl("a,b;1,2"),
         tbl("标题,;a,a;1,2;3,4"),
         positionOptions(byName),
         {},
         {"--columns-by-name", "文件二", "“a”"}},
    };
    test::expectRefused(cases);
    // In key mode columns already pair by name: the option is accepted and changes nothing.
    const RowTable t1 = tbl("id,x,y;1,p,q"), t2 = tbl("y,id,z;q,1,r");
    Result<RowTable> plain = compareTables(t1, t2, keyOptions(), {"id"}, nullptr);
    Result<RowTable> named = compareTables(t1, t2, keyOptions(byName), {"id"}, nullptr);
    ASSERT_TRUE(plain.isOk() && named.isOk());
    EXPECT_EQ(tableText(named.value()), tableText(plain.value()));
}

TEST(CompareStatistics, JsonOfOnePair) {
    CompareRules rules;
    rules.tolerance = 0.01;
    rules.fieldRelTolerances = {{"金额", 0.005}};
    rules.ignoredColumns = {"时间"};
    CompareStatistics s;
    const Result<RowTable> r =
        compareTables(tbl("编号,金额,名称,时间;1,101,甲,9:00;2,7,乙,9:01;3,1,丙,9:02"),
                      tbl("编号,名称,金额,时间,部门;1,甲,100,8:00,x;2,丁,7.004,8:00,y;4,戊,1,8:00,z"),
                      keyOptions(rules), {"编号"}, nullptr, nullptr, &s);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ(
        statisticsJson(s),
        "{\"rows\": {\"file1\": 3, \"file2\": 3, \"paired\": 2, \"only_in_file1\": 1, \"only_in_file2\": 1, "
        "\"paired_with_differences\": 2},\n"
        " \"cells\": {\"differing\": 2, \"only_in_file1\": 3, \"only_in_file2\": 6},\n"
        " \"columns\": [\n"
        "  {\"file1\": \"编号\", \"file2\": \"编号\", \"compared\": true, \"differing\": 0, "
        "\"max_difference\": null},\n"
        "  {\"file1\": \"金额\", \"file2\": \"金额\", \"compared\": true, \"differing\": 1, "
        "\"max_difference\": 1},\n"
        "  {\"file1\": \"名称\", \"file2\": \"名称\", \"compared\": true, \"differing\": 1, "
        "\"max_difference\": null},\n"
        "  {\"file1\": \"时间\", \"file2\": \"时间\", \"compared\": false, \"differing\": 0, "
        "\"max_difference\": null},\n"
        "  {\"file1\": null, \"file2\": \"部门\", \"compared\": false, \"differing\": 0, \"max_difference\": "
        "null}],\n"
        " \"rules\": {\"tolerance\": 0.01, \"tolerance_by_column\": {}, \"rel_tolerance\": null, "
        "\"rel_tolerance_by_column\": {\"金额\": 0.005}, \"ignore_spaces\": false, \"ignore_width\": false, "
        "\"ignore_case\": false, \"ignore_columns\": [\"时间\"], \"columns_by_name\": false}}");
    ASSERT_NE(s.mostDifferent(), nullptr);
    EXPECT_EQ(s.mostDifferent()->file1, "金额");
}

// ---- The literal reference ----

bool refWhite(QChar c) {
    static const QString white = QString::fromUtf16(
        u" \t\n\v\f\r\u0085\u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A"
        u"\u2028\u2029\u202F\u205F\u3000");
    return white.contains(c);
}

QString refNormalise(const QString& text, const CompareOptions& o) {
    QString s;
    if (o.rules.ignoreSpaces) {
        QStringList words;
        QString word;
        for (QChar c : text) {
            if (refWhite(c)) {
                if (!word.isEmpty()) words.append(word);
                word.clear();
            } else {
                word += c;
            }
        }
        if (!word.isEmpty()) words.append(word);
        s = words.join(u' ');
    } else {
        s = text;
    }
    for (QChar& c : s) {
        if (o.rules.ignoreWidth && c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(c.unicode() - 0xFEE0);
        if (o.rules.ignoreWidth && c.unicode() == 0x3000) c = u' ';
        if (o.ignoreCase && c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
    }
    // A number cell's six decimals compare as the number is typed.
    static const QRegularExpression sixDecimals(QStringLiteral("^-?\\d+\\.\\d{6}$"));
    if (o.rules.ignoreWidth && sixDecimals.match(s).hasMatch()) {
        while (s.endsWith(u'0'))
            s.chop(1);
        if (s.endsWith(u'.')) s.chop(1);
    }
    return s;
}

bool refNumber(QString text, bool width, double& value) {
    if (width)
        for (QChar& c : text)
            if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E) c = QChar(c.unicode() - 0xFEE0);
    static const QRegularExpression number(QStringLiteral("^-?(\\d+\\.?\\d*|\\.\\d+)$"));
    if (!number.match(text).hasMatch()) return false;
    bool ok = false;
    value = text.toDouble(&ok);
    return ok;
}

struct RefRule {
    bool numeric = false;
    double absolute = 0, relative = 0;
};

bool refEqual(const CellRecord& a, const CellRecord& b, const CompareOptions& o, const RefRule& rule) {
    if (refNormalise(a.text.toQString(), o) == refNormalise(b.text.toQString(), o)) return true;
    double x = 0, y = 0;
    if (!rule.numeric || !refNumber(a.text.toQString(), o.rules.ignoreWidth, x) ||
        !refNumber(b.text.toQString(), o.rules.ignoreWidth, y))
        return false;
    return std::fabs(x - y) <= rule.absolute + rule.relative * std::fabs(y) +
                                   4 * DBL_EPSILON * std::max(std::fabs(x), std::fabs(y));
}

struct RefOutcome {
    RowTable result;
    CompareStatistics statistics;
};

// Both tables have their field row first. Key mode pairs by the keys (text only), the
// positional mode row i with row i while table 2 has one.
RefOutcome refCompare(RowTable t1, RowTable t2, const CompareOptions& o, const QStringList& keys) {
    const int L1 = int(t1.size()), L2 = int(t2.size());
    const int W1 = int(t1[0].size()), W2 = int(t2[0].size());
    QStringList n1, n2;
    for (const CellRecord& c : t1[0])
        n1.append(c.text.toQString());
    for (const CellRecord& c : t2[0])
        n2.append(c.text.toQString());
    const bool byName = o.keyMode || o.rules.columnsByName;
    const auto partnerColumn = [&](int c1) { return byName ? int(n2.indexOf(n1[c1])) : (c1 < W2 ? c1 : -1); };
    const auto ignoredName = [&](const QString& name) { return o.rules.ignoredColumns.contains(name); };
    const auto ruleFor = [&](int c1, int c2) {
        RefRule rule;
        if (o.keyMode && keys.contains(n1[c1])) return rule;
        std::optional<double> a = o.rules.tolerance, r = o.rules.relTolerance;
        for (const FieldValue& v : o.rules.fieldTolerances)
            if (v.field == n1[c1] || v.field == n2[c2]) a = v.value;
        for (const FieldValue& v : o.rules.fieldRelTolerances)
            if (v.field == n1[c1] || v.field == n2[c2]) r = v.value;
        rule.numeric = a || r;
        rule.absolute = a.value_or(0);
        rule.relative = r.value_or(0);
        return rule;
    };

    std::vector<int> partner(size_t(L1), -1);
    std::vector<bool> taken(size_t(L2), false);
    for (int i = 0; i < L1; ++i) {
        for (int j = 0; j < L2; ++j) {
            bool match = !taken[size_t(j)];
            if (!o.keyMode) match = match && j == i;
            for (const QString& k : keys)
                match = match && refNormalise(t1[size_t(i)][size_t(n1.indexOf(k))].text.toQString(), o) ==
                                     refNormalise(t2[size_t(j)][size_t(n2.indexOf(k))].text.toQString(), o);
            if (match) {
                partner[size_t(i)] = j;
                taken[size_t(j)] = true;
                break;
            }
        }
    }

    RefOutcome outcome;
    CompareStatistics& s = outcome.statistics;
    s.rules = o.rules;
    s.ignoreCase = o.ignoreCase;
    s.rowsFile1 = L1 - 1;
    s.rowsFile2 = L2 - 1;
    std::vector<int> seen2(size_t(W2), 0);
    for (int c = 0; c < W1; ++c) {
        const int c2 = partnerColumn(c);
        ColumnStatistics column;
        column.inFile1 = true;
        column.file1 = n1[c];
        if (c2 >= 0) {
            column.inFile2 = true;
            column.file2 = n2[c2];
            seen2[size_t(c2)] = 1;
        }
        column.compared = c2 >= 0 && !ignoredName(n1[c]) && !ignoredName(c2 >= 0 ? n2[c2] : QString());
        s.columns.push_back(column);
    }
    for (int c2 = 0; c2 < W2; ++c2) {
        if (seen2[size_t(c2)]) continue;
        ColumnStatistics column;
        column.inFile2 = true;
        column.file2 = n2[c2];
        s.columns.push_back(column);
    }

    CellRecord separator;
    separator.fillColorIndex = 20;
    separator.alignment1 = separator.alignment2 = -4108;
    separator.mergeState = MergeState::TextOnly;
    for (int i = 0; i < L1; ++i) {
        Row r1 = t1[size_t(i)];
        const int j = partner[size_t(i)];
        Row out;
        if (j < 0) {
            for (int c = 0; c < W1; ++c)
                if (!ignoredName(n1[c])) r1[size_t(c)].fillColorIndex = 6;
            out = r1;
            out.resize(size_t(W1 + 1 + W2));
            if (i > 0)
                s.cellsOnlyInFile1 +=
                    std::count_if(r1.begin(), r1.end(), [](auto& c) { return c.fillColorIndex == 6; });
        } else {
            Row r2 = t2[size_t(j)];
            bool differs = false;
            for (int c = 0; c < W1; ++c) {
                const int c2 = partnerColumn(c);
                ColumnStatistics& column = s.columns[size_t(c)];
                if (c2 < 0) {
                    if (!ignoredName(n1[c])) r1[size_t(c)].fillColorIndex = 6;
                } else if (column.compared && !refEqual(r1[size_t(c)], r2[size_t(c2)], o, ruleFor(c, c2))) {
                    r1[size_t(c)].fillColorIndex = r2[size_t(c2)].fillColorIndex = 3;
                    if (i > 0 && j > 0) {
                        ++column.differing;
                        differs = true;
                        double x = 0, y = 0;
                        if (refNumber(r1[size_t(c)].text.toQString(), o.rules.ignoreWidth, x) &&
                            refNumber(r2[size_t(c2)].text.toQString(), o.rules.ignoreWidth, y)) {
                            column.maxDifference = std::max(
                                column.hasMaxDifference ? column.maxDifference : 0.0, std::fabs(x - y));
                            column.hasMaxDifference = true;
                        }
                    }
                }
            }
            for (int c2 = 0; c2 < W2; ++c2)
                if (!seen2[size_t(c2)] && !ignoredName(n2[c2])) r2[size_t(c2)].fillColorIndex = 4;
            if (i > 0) {
                for (const CellRecord& c : r1)
                    s.cellsOnlyInFile1 += c.fillColorIndex == 6;
                for (const CellRecord& c : r2)
                    s.cellsOnlyInFile2 += c.fillColorIndex == 4;
            }
            if (i > 0 && j > 0) {
                ++s.paired;
                s.pairedWithDifferences += differs;
            }
            out = r1;
            separator.text = SharedText(QString::number(j + 1));
            out.push_back(separator);
            out.insert(out.end(), r2.begin(), r2.end());
        }
        outcome.result.push_back(out);
    }
    for (int j = 0; j < L2; ++j) {
        if (taken[size_t(j)]) continue;
        Row out(static_cast<size_t>(W1));
        separator.text = SharedText(QString::number(j + 1));
        out.push_back(separator);
        for (int c2 = 0; c2 < W2; ++c2) {
            CellRecord cell = t2[size_t(j)][size_t(c2)];
            if (!ignoredName(n2[c2])) cell.fillColorIndex = 4;
            if (j > 0) s.cellsOnlyInFile2 += cell.fillColorIndex == 4;
            out.push_back(cell);
        }
        outcome.result.push_back(out);
    }
    for (const ColumnStatistics& c : s.columns)
        s.cellsDiffering += c.differing;
    s.onlyInFile1 = s.rowsFile1 - s.paired;
    s.onlyInFile2 = s.rowsFile2 - s.paired;
    return outcome;
}

TEST(CompareRules, RandomTablesMatchTheLiteralReference) {
    std::mt19937 random(20261207);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const QStringList fieldPool = {"编号", "金额", "名称", "数量", "时间"};
    const QStringList keyPool = {"1001", "１００１", "1001.000000", "1002", "1003", "Ａ7", "a7", "10 01"};
    const QStringList textPool = {"张 三", "张  三", "张\u3000三", "张三", "ＡＢＣ",
                                  "abc",   "ABC",    "（注）",     "(注)", ""};
    const auto numberText = [&] {
        static const double bases[] = {8500, 0.1, -3.5, 12345.678, 0};
        const double base = bases[pick(5)];
        const double noise[] = {0, 0.004, -0.004, 0.01, 0.05, 0.3, base * 0.004};
        const double value = base + noise[pick(7)];
        QString text = pick(3) == 0 ? QString::number(value, 'f', 6) : QString::number(value, 'f', pick(3));
        if (pick(8) == 0) {
            for (QChar& c : text)
                if (c.isDigit() || c == u'.') c = QChar(c.unicode() + 0xFEE0);
        }
        return pick(12) == 0 ? QStringLiteral("n/a") : text;
    };
    const auto valueFor = [&](const QString& field) {
        if (field == u"编号") return keyPool[pick(int(keyPool.size()))];
        if (field == u"金额" || field == u"数量") return numberText();
        return textPool[pick(int(textPool.size()))];
    };
    const auto randomTable = [&](const QStringList& fields, int length) {
        std::vector<QStringList> rows{fields};
        for (int r = 0; r < length; ++r) {
            QStringList row;
            for (const QString& f : fields)
                row.append(valueFor(f));
            rows.push_back(row);
        }
        return test::makeTable(rows);
    };
    const auto randomFields = [&] {
        QStringList fields = fieldPool.mid(1);
        std::shuffle(fields.begin(), fields.end(), random);
        fields = fields.mid(0, 1 + pick(4));
        fields.insert(pick(int(fields.size()) + 1), QStringLiteral("编号"));
        return fields;
    };

    int compared = 0;
    for (int round = 0; round < 600; ++round) {
        const QStringList fields1 = randomFields(), fields2 = randomFields();
        const RowTable t1 = randomTable(fields1, pick(7));
        RowTable t2 = randomTable(fields2, pick(7));
        // Now and then table 2 is table 1 with noise, so most rows pair.
        CompareOptions o;
        o.keyMode = pick(2) == 0;
        o.ignoreCase = pick(3) == 0;
        o.rules.ignoreSpaces = pick(2) == 0;
        o.rules.ignoreWidth = pick(2) == 0;
        o.rules.columnsByName = !o.keyMode && pick(2) == 0;
        if (pick(2) == 0) o.rules.tolerance = pick(2) ? 0.01 : 0.0;
        if (pick(3) == 0) o.rules.relTolerance = 0.005;
        const QStringList all = fields1 + fields2;
        if (pick(3) == 0) o.rules.fieldTolerances.push_back({all[pick(int(all.size()))], 0.05});
        if (pick(4) == 0) o.rules.fieldRelTolerances.push_back({all[pick(int(all.size()))], 0.0});
        if (pick(3) == 0) o.rules.ignoredColumns.append(all[pick(int(all.size()))]);
        const QStringList keys = o.keyMode ? QStringList{"编号"} : QStringList{};
        // Key fields are neither ignored nor given a tolerance (refused, tested above).
        if (o.keyMode) {
            o.rules.ignoredColumns.removeAll(QStringLiteral("编号"));
            std::erase_if(o.rules.fieldTolerances, [](const FieldValue& v) { return v.field == u"编号"; });
            std::erase_if(o.rules.fieldRelTolerances, [](const FieldValue& v) { return v.field == u"编号"; });
        }
        // The positional mode pairs row i with row i: make table 2 at least as long.
        while (!o.keyMode && t2.size() < t1.size())
            t2.push_back(randomTable(fields2, 1)[1]);

        setParallelRowFloor(round % 4 == 0 ? 1 : kParallelRowsOff);
        CompareStatistics statistics;
        CompareCounts counts;
        Result<RowTable> result = compareTables(t1, t2, o, keys, &counts, nullptr, &statistics);
        ASSERT_TRUE(result.isOk()) << round << ": " << result.status().message().toStdString();
        const RefOutcome expected = refCompare(t1, t2, o, keys);
        ASSERT_EQ(test::cellFieldsText(result.value()), test::cellFieldsText(expected.result))
            << "round " << round << "\ntable 1:\n"
            << test::cellFieldsText(t1).toStdString() << "\ntable 2:\n"
            << test::cellFieldsText(t2).toStdString() << "\nrules: " << statisticsJson(expected.statistics);
        ASSERT_EQ(statisticsJson(statistics), statisticsJson(expected.statistics)) << "round " << round;
        ++compared;
    }
    setParallelRowFloor(kParallelRowsOff);
    EXPECT_EQ(compared, 600);
}

} // namespace
} // namespace quellar
