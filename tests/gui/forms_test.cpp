// The condition form window offscreen in the real Qt WebEngine: the program's js.js reads the
// chosen values and hands them back through window.external, the column lists move, the
// program's script is served when the working directory has none and the user's own is used
// when it is there, and closing the window without the button leaves the reply alone.

#include "forms/CMyHtmlView.h"
#include "forms/TjSelectDlg.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

QString u(const char16_t* text) {
    return QString::fromUtf16(text);
}

QString escaped(QString text) {
    return text.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"))
        .replace(u'"', QLatin1String("&quot;"))
        .replace(u'\'', QLatin1String("&#39;"));
}

// One condition row of a page: the field and its value list in page order (the empty value
// included).
struct ConditionRow {
    QString field;
    QStringList values;
};

// A page in the form the program writes: head, condition rows, then the query button or
// the summary part (six group selects over `fields`, the column lists).
QString formPage(const std::vector<ConditionRow>& rows, const QStringList& fields, bool summary) {
    const QString q = QStringLiteral("\"");
    QString cmp;
    const char* const cmps[] = {"=", ">", ">=", "<", "<=", "!="};
    const char* const shown[] = {"=", "&gt;", "&gt;=", "&lt;", "&lt;=", "!="};
    for (int i = 0; i < 6; ++i)
        cmp += QStringLiteral("<option value='%1' title='t'>&nbsp;%2&nbsp;</option>")
                   .arg(QLatin1String(cmps[i]), QLatin1String(shown[i]));
    QString page = QStringLiteral("<html><head><meta http-equiv=Content-Type content='text/html; "
                                  "charset=gb2312'></head><body bgcolor=#EEEEEE leftmargin=0 topmargin=0>"
                                  "<table width=100% height=100% border=0 cellspacing=0 cellpadding=0> <tr> "
                                  " <td height=33 align=center> <font color=#0000FF>") +
                   (summary ? u(u"条件汇总") : u(u"条件查询")) +
                   QStringLiteral("</font> </td> </tr> <tr> <td valign=top align=center height=100%><br>"
                                  "<div align=left style='OVERFLOW: auto; WIDTH: 98%; HEIGHT: 95%;BORDER: "
                                  "black 0px solid;'><form id=form2> <br> <br>  <table border=1>");
    int k = 1;
    for (const ConditionRow& row : rows) {
        QString values;
        for (const QString& v : row.values)
            values += QStringLiteral(" <option value=") + q + escaped(v) + q + QStringLiteral(">") +
                      escaped(v) + QStringLiteral("</option>");
        const QString n = QString::number(k++);
        page += QStringLiteral(" <tr height=33>  <td> ") + escaped(row.field) +
                QStringLiteral(" <input type=hidden name=MC") + n + QStringLiteral(" value=") + q +
                escaped(row.field) + q + QStringLiteral("></td>  <td>  <select size=1 name=BJF") + n +
                QStringLiteral(">") + cmp + QStringLiteral(" </select></td>  <td>  <select size=1 name=BJZ") +
                n + QStringLiteral(">") + values +
                QStringLiteral(" </select></td>  <td>  <select size=1 name=LJF") + n +
                QStringLiteral("><option value='and'>并且</option> </select></td>  </tr> ");
    }
    if (summary) {
        page += QStringLiteral(" <tr>  <td height=33 colspan=4>&nbsp; </td> <tr> ");
        for (int g = 1; g <= 6; ++g) {
            page +=
                QStringLiteral(" <tr>  <td height=33 colspan=2 align=center>分组条件%1 </td> <td colspan=2 "
                               "align=center> <select size=1 name=HZTJ%1>")
                    .arg(g);
            if (g >= 2) page += QStringLiteral("<option></option>");
            for (const QString& f : fields)
                page += QStringLiteral(" <option value=") + q + escaped(f) + q + QStringLiteral(">") +
                        escaped(f) + QStringLiteral("</option>");
            page += QStringLiteral(" </select></td>  <td>  <tr> ");
        }
        page +=
            QStringLiteral(" <tr>  <td height=33 colspan=4 align=center>选择要汇总的数字列 </td> <tr>  <tr>  "
                           "<tr>  <td>  <select id=showField onChange=selField() size=10>");
        for (int p = 0; p < fields.size(); ++p) {
            const QString label =
                QString(QChar(u'A' + p)) + QStringLiteral(" (") + fields[p] + QStringLiteral(")");
            page += QStringLiteral(" <option value=") + q + escaped(label) + q + QStringLiteral(">") +
                    escaped(label) + QStringLiteral("</option>");
        }
        page += QStringLiteral(
            " </select></td>  <td>  <P align=right><INPUT type=button onClick=selectALL() "
            "value='  >>  '></P>  <P align=right><INPUT type=button onClick=clearALL()  value='  "
            "<<  '></P>  </td>  <td colspan=2 align=center>  <select name='order' size=10> "
            "</select>  </td>  <tr> ");
    }
    page += QStringLiteral(" </table>  <input type=hidden name=SIZE value=") + q + QString::number(k - 1) +
            q + QStringLiteral("> <br> <p align=center> <input type=button value='") +
            (summary ? QStringLiteral("汇 总' name=A1 onclick=tjSum()></p> </form> ")
                     : QStringLiteral("查 询' name=A1 onclick=tjSelect()></p> </form> ")) +
            QStringLiteral(" </div> </td> </tr> </table></body></html><script language=JavaScript src=js.js> "
                           "</script> ");
    return page;
}

void writePage(const QString& path, const QString& page) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xff\xfe", 2);
    file.write(reinterpret_cast<const char*>(page.utf16()), page.size() * 2);
    file.write("\r\0\n\0", 4);
}

// The form window shown without blocking, and the page's script driven from the test.
class FormWindow {
public:
    explicit FormWindow(const QString& pagePath)
        : dialog_(pagePath, reply) {
        dialog_.view()->setAlertHandler([this](const QString& text) { alerts.append(text); });
        dialog_.show();
        loaded_ = QTest::qWaitFor([this] { return dialog_.view()->pageLoaded(); }, 30000);
    }

    bool loaded() const { return loaded_; }
    TjSelectDlg& dialog() { return dialog_; }

    // Runs a script in the page and hands back its value.
    QVariant js(const QString& script) {
        QVariant result;
        bool done = false;
        dialog_.view()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 10000))
            ADD_FAILURE() << "script did not answer: " << script.toStdString();
        return result;
    }

    // Chooses the option with this value in the select of this name, as the user would.
    void choose(const QString& name, const QString& value) {
        js(QStringLiteral("(function(){var s=document.getElementsByName('%1')[0];"
                          "for(var i=0;i<s.options.length;i++) if(s.options[i].value==%2){s.selectedIndex=i;"
                          "s.dispatchEvent(new Event('change'));}})()")
               .arg(name, jsString(value)));
    }
    // Chooses one entry of the column list by its position.
    void chooseColumn(int index) {
        js(QStringLiteral("var s=document.getElementById('showField'); s.selectedIndex=%1;"
                          "s.dispatchEvent(new Event('change'));")
               .arg(index));
    }
    void press(const QString& buttonScript) { js(buttonScript + QStringLiteral(".click()")); }
    void pressButton() { press(QStringLiteral("document.getElementsByName('A1')[0]")); }
    // The values of the list "order", joined by "|".
    QString order() {
        return js(QStringLiteral("Array.prototype.map.call(document.getElementsByName('order')[0].options,"
                                 "function(o){return o.value;}).join('|')"))
            .toString();
    }
    bool waitClosed() {
        return QTest::qWaitFor([this] { return !dialog_.isVisible(); }, 10000);
    }

    static QString jsString(const QString& text) {
        QString out = QStringLiteral("'");
        for (QChar c : text)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        return out + QStringLiteral("'");
    }

    FormReply reply;
    QStringList alerts;

private:
    TjSelectDlg dialog_;
    bool loaded_ = false;
};

class FormWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString queryPage(const std::vector<ConditionRow>& rows) {
        const QString path = dir.filePath(QStringLiteral("tj_select.htm"));
        writePage(path, formPage(rows, {}, false));
        return path;
    }
    QString summaryPage(const std::vector<ConditionRow>& rows, const QStringList& fields) {
        const QString path = dir.filePath(QStringLiteral("tj_sum.htm"));
        writePage(path, formPage(rows, fields, true));
        return path;
    }

    QTemporaryDir dir;
};

const std::vector<ConditionRow> kStaffRows = {
    {u(u"部门"), {QString(), u(u"人事部"), u(u"技术部"), u(u"财务部")}},
    {u(u"工资"), {u(u"-5"), QString(), u(u"3"), u(u"8500")}},
    {u(u"工资"), {u(u"-5"), QString(), u(u"3"), u(u"8500")}},
};

} // namespace

TEST_F(FormWindowTest, TheQueryPageHandsBackTheChosenRowsOnly) {
    FormWindow form(queryPage(kStaffRows));
    ASSERT_TRUE(form.loaded());
    EXPECT_EQ(form.dialog().windowTitle(), u(u"条件查询汇总"));
    EXPECT_EQ(form.dialog().minimumSize(), form.dialog().maximumSize());
    // Every value list starts at its empty entry, also in a numeric column where it stands
    // after -5.
    EXPECT_EQ(form.js(QStringLiteral("[1,2,3].map(function(k){return document.getElementsByName('BJZ'+k)[0]"
                                     ".selectedIndex;}).join(',')"))
                  .toString(),
              QStringLiteral("0,1,1"));
    form.reply.replyGroups = QStringLiteral("kept");
    form.reply.replySums = QStringLiteral("kept too");

    form.choose(QStringLiteral("BJF1"), QStringLiteral("!="));
    form.choose(QStringLiteral("BJZ1"), u(u"技术部"));
    form.choose(QStringLiteral("BJF3"), QStringLiteral("<="));
    form.choose(QStringLiteral("BJZ3"), QStringLiteral("8500"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    // The second 工资 row was left at its empty value: it is no condition.
    EXPECT_EQ(form.reply.replyConditions, u(u"部门|!=|技术部|and|工资|<=|8500|and"));
    EXPECT_EQ(form.reply.replyGroups, QStringLiteral("kept"));
    EXPECT_EQ(form.reply.replySums, QStringLiteral("kept too"));
    EXPECT_TRUE(form.alerts.isEmpty());
}

TEST_F(FormWindowTest, AnUntouchedQueryPageHandsBackAnEmptyText) {
    FormWindow form(queryPage(kStaffRows));
    ASSERT_TRUE(form.loaded());
    form.reply.replyConditions = QStringLiteral("old");
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, QString());
}

TEST_F(FormWindowTest, ClosingTheWindowLeavesTheReplyAsItWas) {
    FormWindow form(queryPage(kStaffRows));
    ASSERT_TRUE(form.loaded());
    form.reply = FormReply{QStringLiteral("a|=|1|and"), QStringLiteral("g"), QStringLiteral("s")};
    form.choose(QStringLiteral("BJZ1"), u(u"人事部"));
    form.dialog().close();
    QTest::qWait(200);
    EXPECT_EQ(form.reply.replyConditions, QStringLiteral("a|=|1|and"));
    EXPECT_EQ(form.reply.replyGroups, QStringLiteral("g"));
    EXPECT_EQ(form.reply.replySums, QStringLiteral("s"));
}

TEST_F(FormWindowTest, TheSummaryPageMovesColumnsAndHandsBackAllThreeTexts) {
    const QStringList fields = {u(u"工号"), u(u"部门"), u(u"工资")};
    FormWindow form(summaryPage(kStaffRows, fields));
    ASSERT_TRUE(form.loaded());

    // One column at a time, never twice; all of them; none.
    form.chooseColumn(2);
    form.chooseColumn(2);
    EXPECT_EQ(form.order(), u(u"C (工资)"));
    form.chooseColumn(0);
    EXPECT_EQ(form.order(), u(u"C (工资)|A (工号)"));
    form.press(QStringLiteral("document.querySelector(\"input[value='  >>  ']\")"));
    EXPECT_EQ(form.order(), u(u"C (工资)|A (工号)|B (部门)"));
    form.press(QStringLiteral("document.querySelector(\"input[value='  <<  ']\")"));
    EXPECT_EQ(form.order(), QString());
    // The list of all columns is never emptied, and a column can be chosen again.
    EXPECT_EQ(form.js(QStringLiteral("document.getElementById('showField').options.length")).toInt(), 3);
    form.chooseColumn(2);
    form.chooseColumn(1);
    EXPECT_EQ(form.order(), u(u"C (工资)|B (部门)"));

    form.choose(QStringLiteral("HZTJ1"), u(u"部门"));
    form.choose(QStringLiteral("HZTJ3"), u(u"工号"));
    form.choose(QStringLiteral("BJF2"), QStringLiteral(">"));
    form.choose(QStringLiteral("BJZ2"), QStringLiteral("-5"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, u(u"工资|>|-5|and"));
    // HZTJ2 was left empty: it is not handed back.
    EXPECT_EQ(form.reply.replyGroups, u(u"部门|工号"));
    EXPECT_EQ(form.reply.replySums, u(u"C (工资)|B (部门)"));
}

TEST_F(FormWindowTest, TextsWithMarkupCharactersComeBackAsTheyWere) {
    const QString odd = QStringLiteral("a\"<b>&'c");
    FormWindow form(queryPage({{QStringLiteral("x<y>\""), {QString(), odd}}}));
    ASSERT_TRUE(form.loaded());
    form.choose(QStringLiteral("BJZ1"), odd);
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, QStringLiteral("x<y>\"|=|") + odd + QStringLiteral("|and"));
}

TEST_F(FormWindowTest, AValueHoldingTheSeparatorIsRefusedOnThePage) {
    FormWindow form(queryPage({{u(u"名称"), {QString(), QStringLiteral("a|b")}}}));
    ASSERT_TRUE(form.loaded());
    form.reply.replyConditions = QStringLiteral("old");
    form.choose(QStringLiteral("BJZ1"), QStringLiteral("a|b"));
    form.pressButton();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.alerts.isEmpty(); }, 5000));
    EXPECT_TRUE(form.alerts[0].contains(QStringLiteral("a|b")));
    QTest::qWait(200);
    EXPECT_TRUE(form.dialog().isVisible());
    EXPECT_EQ(form.reply.replyConditions, QStringLiteral("old"));
}

TEST_F(FormWindowTest, TheProgramsScriptIsServedWithoutWritingIntoTheWorkingDirectory) {
    QFile shipped(QStringLiteral(":/forms/js.js"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_TRUE(shipped.readAll().startsWith("\xef\xbb\xbf"));

    FormWindow form(queryPage(kStaffRows));
    ASSERT_TRUE(form.loaded());
    EXPECT_EQ(form.js(QStringLiteral("[typeof tjSelect, typeof tjSum, typeof selField, typeof selectALL, "
                                     "typeof clearALL].join(' ')"))
                  .toString(),
              QStringLiteral("function function function function function"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("js.js"))));
}

TEST_F(FormWindowTest, TheUsersOwnScriptIsUsedWhenTheWorkingDirectoryHasOne) {
    QFile own(dir.filePath(QStringLiteral("js.js")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("\xef\xbb\xbf"
              "function tjSelect() { window.external.tjSelect('\xe8\x87\xaa\xe5\xb7\xb1|=|1|and'); }\n");
    own.close();
    FormWindow form(queryPage(kStaffRows));
    ASSERT_TRUE(form.loaded());
    EXPECT_EQ(form.js(QStringLiteral("typeof selectALL")).toString(), QStringLiteral("undefined"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, u(u"自己|=|1|and"));
}
