// The condition form pages: whole pages against texts put together here from their fixed
// fragments, the condition rows (two for numeric fields, none for empty ones, numbers without
// gaps), value lists and their order (against the literal exchange sort on random lists, and
// the fallback order), escaping of names and values, column labels past Z, and the page file.

#include "base/CellOps.h"
#include "forms/FormPages.h"
#include "forms/FormReply.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace quellar {
namespace {

using test::makeTable;

QString operator""_q(const char16_t* text, size_t size) {
    return QString::fromUtf16(text, qsizetype(size));
}
QString u(const QString& text) {
    return text;
}

// The fixed parts of both pages, fragment by fragment.
QString head(const QString& title) {
    QString s = u"<html>"_q
                u"<head><meta http-equiv=Content-Type content='text/html; charset=gb2312'></head>"_q
                u"<body bgcolor=#EEEEEE leftmargin=0 topmargin=0>"_q
                u"<table width=100% height=100% border=0 cellspacing=0 cellpadding=0>"_q;
    s += u" <tr> "_q;
    s += u" <td height=33 align=center>"_q;
    s += u" <font color=#0000FF>"_q + title + u"</font> </td>"_q;
    s += u" </tr>"_q;
    s += u" <tr>"_q;
    s += u" <td valign=top align=center height=100%>"_q;
    s += u"<br>"_q;
    s += u"<div align=left style='OVERFLOW: auto; WIDTH: 98%; HEIGHT: 95%;BORDER: black 0px solid;'>"_q;
    s += u"<form id=form2> "_q;
    s += u"<br> "_q;
    s += u"<br> "_q;
    s +=
        u" <table border=1 cellspacing=0 cellpadding=0 align=center bordercolordark=#ffffff bordercolor=#9999CC "_q
        u"width=98%>"_q;
    s += u" <tr height=33> "_q;
    s += u" <td align=center> "_q;
    for (const QString& t : {u"比较名称"_q, u"比较符号"_q, u"比较值"_q})
        s += u" <font color=#0000FF>"_q + u(t) + u"</font></td>  <td align=center> "_q;
    s += u" <font color=#0000FF>"_q + u(u"逻辑条件"_q) + u"</font></td>  </tr> "_q;
    return s;
}

QString conditionRow(int k, const QString& field, const QString& values) {
    const QString cmp = u"<option value='=' title='等于'>&nbsp;=&nbsp;</option>"_q
                        u"<option value='>' title='大于'>&nbsp;&gt;&nbsp;</option>"_q
                        u"<option value='>=' title='大等于'>&nbsp;&gt;=&nbsp;</option>"_q
                        u"<option value='<' title='小于'>&nbsp;&lt;&nbsp;</option>"_q
                        u"<option value='<=' title='小等于'>&nbsp;&lt;=&nbsp;</option>"_q
                        u"<option value='!=' title='不等于'>&nbsp;!=&nbsp;</option>"_q;
    const QString n = QString::number(k);
    QString s = u" <tr height=33> "_q;
    s += u" <td> "_q + field + u" <input type=hidden name=MC"_q + n + u" value=\""_q + field + u"\"></td> "_q;
    s += u" <td> "_q + QString(u" <select size=1 name=BJF"_q) + n + u">"_q + cmp + u" </select></td> "_q;
    s += u" <td> "_q + QString(u" <select size=1 name=BJZ"_q) + n + u">"_q + values + u" </select></td> "_q;
    s += u" <td> "_q + QString(u" <select size=1 name=LJF"_q) + n + u">"_q +
         u"<option value='and'>并且</option>"_q + u" </select></td> "_q;
    s += u" </tr> "_q;
    return s;
}

QString options(const QStringList& values) {
    QString s;
    for (const QString& v : values)
        s += u" <option value=\""_q + v + u"\">"_q + v + u"</option>"_q;
    return s;
}

QString tail() {
    return u" </div> </td> </tr> </table></body></html>"_q
           u"<script language=JavaScript src=js.js> </script> "_q;
}

QString queryPage(const QString& rows, int size) {
    return head(u(u"条件查询"_q)) + rows + u" </table> "_q + u" <input type=hidden name=SIZE value=\""_q +
           QString::number(size) + u"\">"_q + u" <br> <p align=center> <input type=button value='"_q +
           u(u"查 询"_q) + u"' name=A1 onclick=tjSelect()></p> </form> "_q + tail();
}

QString summaryPage(const QString& rows, int size, const QStringList& fields) {
    QString s = head(u(u"条件汇总"_q)) + rows;
    s += u" <tr>  <td height=33 colspan=4>&nbsp; </td> <tr> "_q;
    for (int g = 1; g <= 6; ++g) {
        s += u" <tr>  <td height=33 colspan=2 align=center>"_q + u(u"分组条件"_q) + QString::number(g) +
             u" </td>"_q;
        s += u" <td colspan=2 align=center> <select size=1 name=HZTJ"_q + QString::number(g) + u">"_q;
        if (g >= 2) s += u"<option></option>"_q;
        s += options(fields);
        s += u" </select></td>  <td>  <tr> "_q;
    }
    s += u" <tr>  <td height=33 colspan=4 align=center>"_q + u(u"选择要汇总的数字列"_q) +
         u" </td> <tr>  <tr> "_q;
    s += u" <tr>  <td>  <select id=showField onChange=selField() size=10>"_q;
    QStringList labels;
    for (qsizetype p = 0; p < fields.size(); ++p)
        labels.append(columnLetters(int(p) + 1) + u" ("_q + fields[p] + u")"_q);
    s += options(labels);
    s +=
        u" </select></td>  <td>  <P align=right><INPUT type=button onClick=selectALL() value='  >>  '></P> "_q;
    s += u" <P align=right><INPUT type=button onClick=clearALL()  value='  <<  '></P>  </td> "_q;
    s += u" <td colspan=2 align=center>  <select name='order' size=10> </select>  </td>  <tr> "_q;
    s += u" <tr>  <td colspan=2>&nbsp; </td>  <td colspan=2 align=center>"_q + u(u"选中列的汇总方式："_q) +
         u" <select size=1 name=HZFS>"_q +
         options({u(u"求和"_q), u(u"计数"_q), u(u"平均值"_q), u(u"最大值"_q), u(u"最小值"_q)}) +
         u" </select></td>  <tr> "_q;
    s += u" </table> "_q;
    s += u" <input type=hidden name=SIZE value=\""_q + QString::number(size) + u"\">"_q;
    s += u" <br> <p align=center> <input type=button value='"_q + u(u"汇 总"_q) +
         u"' name=A1 onclick=tjSum()></p> </form> "_q;
    return s + tail();
}

// A text column, a numeric column with blanks, and a title row above the field row.
RowTable fruitTable() {
    return makeTable({{u(u"水果清单"_q), ""},
                      {u(u"名称"_q), u(u"数量"_q)},
                      {u(u"苹果"_q), "3"},
                      {"", "-5"},
                      {u(u"梨"_q), ""},
                      {u(u"苹果"_q), " 3 "}});
}

QString page(const Result<QString>& r) {
    return r.isOk() ? r.value() : u"error: "_q + r.status().message();
}

// Whole pages compared as UTF-8, so a failure shows where they part.
#define EXPECT_SAME_PAGE(a, b) EXPECT_EQ((a).toStdString(), (b).toStdString())

TEST(FormPages, QueryPageIsTheFixedTextWithTheTablesFieldsAndValues) {
    const QString names = options({"", u(u"梨"_q), u(u"苹果"_q)});
    const QString numbers = options({"-5", "", "3", " 3 "});
    const QString rows = conditionRow(1, u(u"名称"_q), names) + conditionRow(2, u(u"数量"_q), numbers) +
                         conditionRow(3, u(u"数量"_q), numbers);
    FormPageInfo info;
    EXPECT_SAME_PAGE(page(buildQueryPage(fruitTable(), &info)), queryPage(rows, 3));
    EXPECT_EQ(info.conditionRows, 3);
    EXPECT_TRUE(info.fallbackOrderFields.isEmpty());
}

TEST(FormPages, SummaryPageAddsGroupSelectsAndSumColumns) {
    const QString names = options({"", u(u"梨"_q), u(u"苹果"_q)});
    const QString numbers = options({"-5", "", "3", " 3 "});
    const QString rows = conditionRow(1, u(u"名称"_q), names) + conditionRow(2, u(u"数量"_q), numbers) +
                         conditionRow(3, u(u"数量"_q), numbers);
    EXPECT_SAME_PAGE(page(buildSummaryPage(fruitTable())),
                     summaryPage(rows, 3, {u(u"名称"_q), u(u"数量"_q)}));
}

TEST(FormPages, EmptyFieldsGetNoRowAndNumbersRunOnWithoutGaps) {
    // a: blanks; b: text; c: numbers with separators and a minus sign; d: one text among numbers.
    const RowTable table = makeTable(
        {{"a", "b", "c", "d"}, {"", "x", "1,000", "1"}, {" ", "y", "-2.5", "two"}, {"", "x", "", "3"}});
    // A blank text is not empty, and it parses as 0: column a is numeric.
    const QString rows = conditionRow(1, "a", options({"", " "})) + conditionRow(2, "a", options({"", " "})) +
                         conditionRow(3, "b", options({"", "x", "y"})) +
                         conditionRow(4, "c", options({"-2.5", "", "1,000"})) +
                         conditionRow(5, "c", options({"-2.5", "", "1,000"})) +
                         conditionRow(6, "d", options({"", "1", "3", "two"}));
    EXPECT_SAME_PAGE(page(buildQueryPage(table)), queryPage(rows, 6));

    const RowTable blank = makeTable({{"a", "b", "c"}, {"", "x", ""}, {"", "", ""}});
    FormPageInfo info;
    const QString text = page(buildQueryPage(blank, &info));
    EXPECT_EQ(info.conditionRows, 1);
    EXPECT_TRUE(text.contains(u"name=MC1 value=\"b\""_q));
    EXPECT_FALSE(text.contains(u"MC2"_q));
    EXPECT_TRUE(text.contains(u"name=SIZE value=\"1\""_q));

    // No data rows at all: no condition rows, SIZE 0.
    EXPECT_SAME_PAGE(page(buildQueryPage(makeTable({{"a", "b"}}))), queryPage(QString(), 0));
}

TEST(FormPages, TwentySevenFieldsAreLabelledUpToAA) {
    QStringList fields;
    for (int i = 0; i < 27; ++i)
        fields.append(QStringLiteral("f%1").arg(i));
    const QString text = page(buildSummaryPage(makeTable({fields})));
    EXPECT_TRUE(text.contains(u" <option value=\"A (f0)\">A (f0)</option>"_q));
    EXPECT_TRUE(text.contains(u" <option value=\"Z (f25)\">Z (f25)</option>"_q));
    EXPECT_TRUE(text.contains(u" <option value=\"AA (f26)\">AA (f26)</option> </select></td> "_q));
    EXPECT_EQ(text.count(u"<select size=1 name=HZTJ"_q), 6);
    EXPECT_EQ(text.count(u"<option></option>"_q), 5);
}

TEST(FormPages, NamesAndValuesAreEscapedAndLongValuesLeftOut) {
    const QString odd = u"\"<>&'"_q;
    const QString v79(79, u'x'), v80(80, u'y');
    const QString amp78 = QString(77, u'z') + u'&'; // 78 units before escaping, 82 after
    const RowTable table = makeTable({{"a<b", u"名'"_q}, {odd, "1"}, {v79, "2"}, {v80, "3"}, {amp78, "4"}});
    FormPageInfo info;
    const QString text = page(buildSummaryPage(table, &info));
    const QString escaped = u"&quot;&lt;&gt;&amp;&#39;"_q;
    EXPECT_TRUE(text.contains(u" <option value=\""_q + escaped + u"\">"_q + escaped + u"</option>"_q));
    EXPECT_TRUE(text.contains(u" <td> a&lt;b <input type=hidden name=MC1 value=\"a&lt;b\"></td> "_q));
    EXPECT_TRUE(text.contains(u" <option value=\"a&lt;b\">a&lt;b</option>"_q));
    EXPECT_TRUE(text.contains(u" <option value=\"B (名&#39;)\">B (名&#39;)</option>"_q));
    EXPECT_TRUE(text.contains(v79));
    EXPECT_FALSE(text.contains(v80));
    EXPECT_TRUE(text.contains(QString(77, u'z') + u"&amp;"_q));
    EXPECT_EQ(info.longValuesLeftOut, 1);
    // No raw markup from the table anywhere.
    EXPECT_FALSE(text.contains(odd));
    EXPECT_FALSE(text.contains(u"a<b"_q));
    EXPECT_EQ(escapePageText(u"a&b<c>d\"e'f"_q), u"a&amp;b&lt;c&gt;d&quot;e&#39;f"_q);
}

TEST(FormPages, ValuesContainingTheSeparatorAreReported) {
    const RowTable table = makeTable({{"a|b", "c"}, {"x|y", "1"}});
    FormPageInfo info;
    ASSERT_TRUE(buildQueryPage(table, &info).isOk());
    EXPECT_EQ(info.namesWithSeparator, QStringList({"a|b"}));
    EXPECT_EQ(info.valuesWithSeparator, 1);
    EXPECT_TRUE(formPageNote(info).contains(u"x|y"_q));
    FormPageInfo clean;
    ASSERT_TRUE(buildQueryPage(makeTable({{"a"}, {"1"}}), &clean).isOk());
    EXPECT_EQ(formPageNote(clean), QString());
}

TEST(FormPages, TableWithoutFieldRowGivesTheCheckMessage) {
    const Result<QString> r = buildQueryPage(makeTable({{"a", "a"}, {"", "b"}}));
    ASSERT_FALSE(r.isOk());
    EXPECT_EQ(r.status().message(), u(u"Excel表第一行必须是不同名称的字段。"_q));
    EXPECT_FALSE(buildSummaryPage(RowTable()).isOk());
}

TEST(FormPages, ColumnValuesStartEmptyAndFollowTheExchangeSort) {
    const RowTable table =
        makeTable({{"n", "t", "m"}, {"3", "b", "10"}, {"", "B", "9"}, {"-5", "", "a"}, {"3", "b", "1,0"}});
    EXPECT_EQ(columnValues(table, 0, 1, table.size()), QStringList({"-5", "", "3"}));
    EXPECT_EQ(columnValues(table, 1, 1, table.size()), QStringList({"", "B", "b"}));
    // Equal numbers keep the exchange sort's order: 10 before 1,0 (both 10).
    EXPECT_EQ(columnValues(table, 2, 1, table.size()), QStringList({"", "9", "10", "1,0", "a"}));
    // Only the given rows; a column past a short row reads as empty.
    EXPECT_EQ(columnValues(table, 0, 3, 4), QStringList({"-5", ""}));
    EXPECT_EQ(columnValues(table, 7, 1, table.size()), QStringList({""}));
}

TEST(FormPages, SortValuesMatchesTheLiteralProcedure) {
    std::mt19937 random(20261207);
    const QStringList pool = {"",  "0", "-1", "1",   "1.0", "1,0", "2", "10", "-0.5", "9",
                              "a", "A", "b",  "10a", "1a",  "-",   "z", "Z9", "09",   "ab"};
    for (int round = 0; round < 3000; ++round) {
        QStringList list;
        const int n = int(random() % 12);
        for (int i = 0; i < n; ++i) {
            const QString v = pool[qsizetype(random() % pool.size())];
            if (!list.contains(v)) list.append(v);
        }
        QStringList expected = list;
        auto less = [&](const QString& a, const QString& b) {
            double x = 0, y = 0;
            if (parseNumber(a, x) && parseNumber(b, y)) return x < y;
            return QStringView(a).compare(QStringView(b)) < 0;
        };
        for (qsizetype i = 0; i + 1 < expected.size(); ++i)
            for (qsizetype j = i + 1; j < expected.size(); ++j)
                if (less(expected[j], expected[i])) expected.swapItemsAt(i, j);
        QStringList got = list;
        EXPECT_EQ(sortValues(got), ValueOrder::ExchangeSort);
        ASSERT_EQ(got, expected) << list.join(u'/').toStdString();
    }
}

TEST(FormPages, LongDisorderedMixturesGetTheFallbackOrder) {
    // Numbers and texts interleaved in code-unit order and far from sorted: the procedure
    // would need far more than the budget.
    QStringList list;
    for (int i = 30000; i > 0; --i) {
        list.append(QString::number(i));
        list.append(QStringLiteral("%1x").arg(i));
    }
    const QStringList input = list;
    EXPECT_EQ(sortValues(list), ValueOrder::Fallback);
    ASSERT_EQ(list.size(), input.size());
    EXPECT_EQ(list.first(), "1");
    EXPECT_EQ(list[29999], "30000");
    EXPECT_EQ(list[30000], "10000x");
    for (qsizetype i = 30001; i < list.size(); ++i)
        ASSERT_LT(QStringView(list[i - 1]).compare(QStringView(list[i])), 0);

    const RowTable table = [&] {
        std::vector<QStringList> rows{{"id"}};
        for (const QString& v : input)
            rows.push_back({v});
        return makeTable(rows);
    }();
    FormPageInfo info;
    ASSERT_TRUE(buildQueryPage(table, &info).isOk());
    EXPECT_EQ(info.fallbackOrderFields, QStringList({"id"}));
}

TEST(FormPages, PageFileIsUtf16WithByteOrderMarkAndFinalLineBreak) {
    QTemporaryDir dir;
    const QString path = dir.filePath(kQueryPageFile);
    ASSERT_TRUE(writePageFile(path, u"<html>页</html>"_q).isOk());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    EXPECT_EQ(bytes.left(4), QByteArray("\xFF\xFE<\0", 4));
    EXPECT_EQ(bytes.right(4), QByteArray("\r\0\n\0", 4));
    EXPECT_EQ(bytes.size(), 2 + 14 * 2 + 4);

    // A page that cannot be written is reported with the file's name.
    const Status noFolder = writePageFile(path + u"/"_q + kQueryPageFile, u"x"_q);
    EXPECT_FALSE(noFolder.isOk());
    EXPECT_TRUE(noFolder.message().contains(kQueryPageFile)) << noFolder.message().toStdString();

    // A folder that cannot be written: the old page stays.
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString old = locked + u'/' + kSummaryPageFile;
    ASSERT_TRUE(writePageFile(old, u"old"_q).isOk());
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const Status s = writePageFile(old, u"new"_q);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (QFileInfo(locked).isWritable() && s.isOk())
        GTEST_SKIP() << "running with rights that ignore permissions";
    EXPECT_FALSE(s.isOk());
    EXPECT_TRUE(s.message().contains(kSummaryPageFile)) << s.message().toStdString();
    QFile kept(old);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll().mid(2, 6), QByteArray("o\0l\0d\0", 6));
}

TEST(FormReply, CommandsEmptyWhatTheyUsed) {
    FormReply reply;
    EXPECT_FALSE(reply.queryChosen());
    reply = {"a|=|1|and", "g", "A (a)"};
    EXPECT_TRUE(reply.summaryChosen());
    reply.summaryDone();
    EXPECT_EQ(reply.replyGroups, "g");
    EXPECT_FALSE(reply.summaryChosen());
    reply.replyConditions = "x";
    EXPECT_FALSE(reply.summaryChosen());
    EXPECT_TRUE(reply.queryChosen());
    reply.queryDone();
    EXPECT_FALSE(reply.queryChosen());
}

} // namespace
} // namespace quellar
