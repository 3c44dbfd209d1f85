// The condition form window offscreen in the real Qt WebEngine: the program's js.js reads the
// chosen values and hands them back through window.external, the column lists move, the
// program's script is served when the working directory has none and the user's own is used
// when it is there, and closing the window without the button leaves the reply alone. Then
// 条件查询 and 条件汇总 from the main window: the page written into the working directory,
// the form answered, the result pane against the core's result for the same table, and the
// refusals ("check", "tj_msg", "sum_msg", a page that cannot be written).

#include "app/CQuellarDlg.h"
#include "components/SheetPane.h"
#include "forms/CMyHtmlView.h"
#include "forms/FormPages.h"
#include "forms/TjSelectDlg.h"
#include "table/ConditionalQuery.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/WaitUntil.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace quellar;

namespace {

using test::u;

using test::waitUntil;

// The page the program writes for `table`, in the test's folder.
QString writtenPage(const QTemporaryDir& dir, const RowTable& table, bool summary) {
    const Result<QString> page = summary ? buildSummaryPage(table) : buildQueryPage(table);
    EXPECT_TRUE(page.isOk()) << page.status().message().toStdString();
    const QString path = dir.filePath(summary ? kSummaryPageFile : kQueryPageFile);
    EXPECT_TRUE(writePageFile(path, page.value()).isOk());
    return path;
}

// The form window shown without blocking, and the page's script driven from the test.
class FormWindow {
public:
    // The reply goes to `target` when given (the window's own FormReply), else to `reply`.
    explicit FormWindow(const QString& pagePath, FormReply* target = nullptr)
        : reply(target ? *target : own_)
        , dialog_(pagePath, reply) {
        dialog_.view()->setAlertHandler([this](const QString& text) { alerts.append(text); });
        dialog_.show();
        loaded_ = waitUntil([this] { return dialog_.view()->pageLoaded(); }, 30000);
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
        if (!waitUntil([&] { return done; }, 10000))
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
        return waitUntil([this] { return !dialog_.isVisible(); }, 10000);
    }

    static QString jsString(const QString& text) {
        QString out = QStringLiteral("'");
        for (QChar c : text)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        return out + QStringLiteral("'");
    }

private:
    FormReply own_;

public:
    FormReply& reply;
    QStringList alerts;

private:
    TjSelectDlg dialog_;
    bool loaded_ = false;
};

class FormWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QTemporaryDir dir;
};

// 部门 gets one condition row, the numeric 工资 (with a blank) two, the empty 备注 none.
const RowTable kStaff = test::makeTable({{u(u"部门"), u(u"工资"), u(u"备注")},
                                         {u(u"技术部"), u(u"-5"), QString()},
                                         {u(u"人事部"), u(u"3"), QString()},
                                         {u(u"财务部"), QString(), QString()},
                                         {u(u"技术部"), u(u"8500"), QString()}});

} // namespace

TEST_F(FormWindowTest, TheQueryPageHandsBackTheChosenRowsOnly) {
    FormWindow form(writtenPage(dir, kStaff, false));
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
    FormWindow form(writtenPage(dir, kStaff, false));
    ASSERT_TRUE(form.loaded());
    form.reply.replyConditions = QStringLiteral("old");
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, QString());
}

TEST_F(FormWindowTest, ClosingTheWindowLeavesTheReplyAsItWas) {
    FormWindow form(writtenPage(dir, kStaff, false));
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
    // Condition rows: 工号 1, 部门 2, 工资 3 and 4.
    const RowTable table = test::makeTable({{u(u"工号"), u(u"部门"), u(u"工资")},
                                            {u(u"A1"), u(u"技术部"), u(u"-5")},
                                            {u(u"A2"), u(u"人事部"), u(u"3")},
                                            {u(u"A3"), u(u"财务部"), QString()}});
    FormWindow form(writtenPage(dir, table, true));
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

    // A column chosen with another function than 求和 carries it, and still joins only once.
    EXPECT_EQ(form.js(QStringLiteral("document.getElementsByName('HZFS')[0].value")).toString(), u(u"求和"));
    form.press(QStringLiteral("document.querySelector(\"input[value='  <<  ']\")"));
    form.choose(QStringLiteral("HZFS"), u(u"平均值"));
    form.chooseColumn(2);
    form.choose(QStringLiteral("HZFS"), u(u"求和"));
    form.chooseColumn(2);
    form.chooseColumn(1);
    EXPECT_EQ(form.order(), u(u"C (工资)（平均值）|B (部门)"));

    form.choose(QStringLiteral("HZTJ1"), u(u"部门"));
    form.choose(QStringLiteral("HZTJ3"), u(u"工号"));
    form.choose(QStringLiteral("BJF3"), QStringLiteral(">"));
    form.choose(QStringLiteral("BJZ3"), QStringLiteral("-5"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, u(u"工资|>|-5|and"));
    // HZTJ2 was left empty: it is not handed back.
    EXPECT_EQ(form.reply.replyGroups, u(u"部门|工号"));
    EXPECT_EQ(form.reply.replySums, u(u"C (工资)（平均值）|B (部门)"));
}

TEST_F(FormWindowTest, TextsWithMarkupCharactersComeBackAsTheyWere) {
    const QString odd = QStringLiteral("a\"<b>&'c");
    FormWindow form(writtenPage(dir, test::makeTable({{QStringLiteral("x<y>\"")}, {odd}}), false));
    ASSERT_TRUE(form.loaded());
    form.choose(QStringLiteral("BJZ1"), odd);
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, QStringLiteral("x<y>\"|=|") + odd + QStringLiteral("|and"));
}

TEST_F(FormWindowTest, AValueHoldingTheSeparatorIsRefusedOnThePage) {
    FormWindow form(writtenPage(dir, test::makeTable({{u(u"名称")}, {QStringLiteral("a|b")}}), false));
    ASSERT_TRUE(form.loaded());
    form.reply.replyConditions = QStringLiteral("old");
    form.choose(QStringLiteral("BJZ1"), QStringLiteral("a|b"));
    form.pressButton();
    ASSERT_TRUE(waitUntil([&] { return !form.alerts.isEmpty(); }, 5000));
    EXPECT_TRUE(form.alerts[0].contains(QStringLiteral("a|b")));
    QTest::qWait(200);
    EXPECT_TRUE(form.dialog().isVisible());
    EXPECT_EQ(form.reply.replyConditions, QStringLiteral("old"));
}

TEST_F(FormWindowTest, APageWithThirtyThousandValuesOpensAndHandsBackTheLastOne) {
    std::vector<QStringList> rows = {{u(u"编号")}};
    for (int i = 0; i < 30000; ++i)
        rows.push_back({QStringLiteral("K%1").arg(29999 - i, 5, 10, QLatin1Char('0'))});
    FormWindow form(writtenPage(dir, test::makeTable(rows), false));
    ASSERT_TRUE(form.loaded());
    EXPECT_EQ(form.js(QStringLiteral("document.getElementsByName('BJZ1')[0].options.length")).toInt(), 30001);
    form.choose(QStringLiteral("BJZ1"), QStringLiteral("K29999"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, u(u"编号|=|K29999|and"));
}

TEST_F(FormWindowTest, TheProgramsScriptIsServedWithoutWritingIntoTheWorkingDirectory) {
    QFile shipped(QStringLiteral(":/forms/js.js"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_TRUE(shipped.readAll().startsWith("\xef\xbb\xbf"));

    FormWindow form(writtenPage(dir, kStaff, false));
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
    FormWindow form(writtenPage(dir, kStaff, false));
    ASSERT_TRUE(form.loaded());
    EXPECT_EQ(form.js(QStringLiteral("typeof selectALL")).toString(), QStringLiteral("undefined"));
    form.pressButton();
    ASSERT_TRUE(form.waitClosed());
    EXPECT_EQ(form.reply.replyConditions, u(u"自己|=|1|and"));
}

// ---------------------------------------------------------------------------------------------
// The two window commands

namespace {

using Command = CQuellarDlg::Command;

// The used range of a workbook's first sheet as the window reads it.
RowTable readTable(const QString& path) {
    Workbook book;
    EXPECT_TRUE(readWorkbook(path, book).isOk());
    NullProgress progress;
    return readRange(book, book.sheets[0], clipUsedRange(book.sheets[0]), progress, 1);
}

using test::coreResult;

class FormCommandsTest : public test::WindowTest {
protected:
    void open(const QString& path) {
        WindowTest::open(1, path);
        ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    }

    // The form answered as its button would store the texts.
    void answer(const FormReply& reply, bool summary) {
        prompts->formAnswers.push_back([reply, summary](const QString&, FormReply& target) {
            target.replyConditions = reply.replyConditions;
            if (!summary) return;
            target.replyGroups = reply.replyGroups;
            target.replySums = reply.replySums;
        });
    }

    // The result pane's first sheet shows exactly what the core wrote, under its name.
    void expectResult(const Workbook& expected, const QString& sheetName) {
        const Workbook& book = window->resultPane()->workbook();
        const Sheet& sheet = book.sheets[0];
        EXPECT_EQ(sheet.name, sheetName);
        EXPECT_EQ(window->resultPane()->activeSheetIndex(), 0);
        EXPECT_EQ(test::sheetText(book, sheet, 14, 8).toStdString(),
                  test::sheetText(expected, expected.sheets[0], 14, 8).toStdString());
    }

    bool resultUntouched() const { return window->resultPane()->workbook().sheets[0].rows.empty(); }
};

} // namespace

TEST_F(FormCommandsTest, TheQueryRunsOnWhatThePageHandsBack) {
    open(test::staff(1));
    // The real form window, answered through its page.
    QString offeredSalaries;
    prompts->formAnswers.push_back([&](const QString& pagePath, FormReply& reply) {
        FormWindow form(pagePath, &reply);
        ASSERT_TRUE(form.loaded());
        offeredSalaries =
            form.js(QStringLiteral("Array.prototype.map.call(document.getElementsByName('BJZ4')[0]"
                                   ".options, function(o){return o.value;}).join(' ')"))
                .toString();
        form.choose(QStringLiteral("BJZ3"), u(u"技术部"));
        form.choose(QStringLiteral("BJF4"), QStringLiteral(">="));
        form.choose(QStringLiteral("BJZ4"), QStringLiteral("12800.000000"));
        form.pressButton();
        ASSERT_TRUE(form.waitClosed());
    });
    window->toolAction(Command::Query)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    ASSERT_EQ(prompts->formPages, QStringList{QDir(dir.path()).filePath(QStringLiteral("tj_select.htm"))});
    // Numbers as the panes give their texts, in value order after the empty entry.
    EXPECT_EQ(offeredSalaries.toStdString(), " 6200.000000 7600.000000 8500.000000 8900.000000 9200.000000 "
                                             "11500.000000 12800.000000 13600.000000");
    // The texts are used up.
    EXPECT_TRUE(window->formReply().replyConditions.isEmpty());

    const RowTable table = readTable(test::staff(1));
    expectResult(coreResult([&](ResultSink& sink, Progress& progress) {
                     return runConditionalQuery(sink, progress, table,
                                                u(u"部门|=|技术部|and|工资|>=|12800.000000|and"));
                 }),
                 u(u"筛选结果"));
    const Sheet& sheet = window->resultPane()->workbook().sheets[0];
    EXPECT_EQ(sheet.rows.size(), 3u); // the field row, 李娜 and 赵敏
}

TEST_F(FormCommandsTest, TheSummaryRunsOnWhatThePageHandsBack) {
    open(test::staff(1));
    prompts->formAnswers.push_back([&](const QString& pagePath, FormReply& reply) {
        FormWindow form(pagePath, &reply);
        ASSERT_TRUE(form.loaded());
        form.choose(QStringLiteral("BJF4"), QStringLiteral(">"));
        form.choose(QStringLiteral("BJZ4"), QStringLiteral("8500.000000"));
        form.choose(QStringLiteral("HZTJ1"), u(u"部门"));
        form.chooseColumn(3);
        form.pressButton();
        ASSERT_TRUE(form.waitClosed());
    });
    window->toolAction(Command::ConditionalSum)->trigger();
    ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
    ASSERT_EQ(prompts->formPages, QStringList{QDir(dir.path()).filePath(QStringLiteral("tj_sum.htm"))});
    // Conditions and sums are used up; the group fields stay.
    EXPECT_TRUE(window->formReply().replyConditions.isEmpty());
    EXPECT_TRUE(window->formReply().replySums.isEmpty());
    EXPECT_EQ(window->formReply().replyGroups, u(u"部门"));

    const RowTable table = readTable(test::staff(1));
    expectResult(coreResult([&](ResultSink& sink, Progress& progress) {
                     return runConditionalSummary(sink, progress, table, u(u"工资|>|8500.000000|and"),
                                                  u(u"部门"), u(u"D (工资)"));
                 }),
                 u(u"汇总结果"));
}

TEST_F(FormCommandsTest, NothingChosenOnThePageEndsWithTheMessage) {
    open(test::staff(1));
    window->toolAction(Command::Query)->trigger(); // closed without its button
    EXPECT_EQ(prompts->messages, QStringList{u(u"没有选择查询条件。")});
    EXPECT_TRUE(resultUntouched());

    // Conditions without sum columns: the summary stops, and its conditions are not left
    // behind for the next query, whose window is closed without its button.
    answer(FormReply{u(u"部门|=|技术部|and"), u(u"部门"), QString()}, true);
    window->toolAction(Command::ConditionalSum)->trigger();
    window->toolAction(Command::Query)->trigger();
    EXPECT_EQ(prompts->messages,
              (QStringList{u(u"没有选择查询条件。"), u(u"没有选择查询条件或没有选择汇总数字列。"),
                           u(u"没有选择查询条件。")}));
    EXPECT_TRUE(resultUntouched());
    EXPECT_EQ(prompts->formPages.size(), 3);
}

TEST_F(FormCommandsTest, ATableWithoutFieldRowShowsNoPage) {
    // Every row has an empty or a repeated text.
    const QString path = QDir(dir.path()).filePath(QStringLiteral("nofields.csv"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("a,a\n,b\nc,c\n");
    file.close();
    open(path);
    for (Command c : {Command::Query, Command::ConditionalSum})
        window->action(c)->trigger();
    EXPECT_EQ(prompts->messages, QStringList(2, u(u"Excel表第一行必须是不同名称的字段。")));
    EXPECT_TRUE(prompts->formPages.isEmpty());
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath(QStringLiteral("tj_select.htm"))));
}

TEST_F(FormCommandsTest, APageThatCannotBeWrittenIsReportedAndNotShown) {
    open(test::staff(1));
    // A folder where the page should go: the page cannot be written there, even as root.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tj_sum.htm")));
    answer(FormReply{u(u"部门|=|技术部|and"), u(u"部门"), u(u"D (工资)")}, true);
    window->toolAction(Command::ConditionalSum)->trigger();
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("tj_sum.htm")));
    EXPECT_TRUE(prompts->formPages.isEmpty());
    EXPECT_TRUE(resultUntouched());
    EXPECT_TRUE(QFileInfo(QDir(dir.path()).filePath(QStringLiteral("tj_sum.htm"))).isDir());
}
