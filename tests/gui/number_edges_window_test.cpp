// The list of numbers at their edges (tests/NumberEdges.h) in the window: each operation's
// result pane holds exactly what the command line writes for the same files, value for value,
// in each input format; the working file 1.xml writes round amounts in plain digits; and page
// subtotals give the true sums in the workbook next to file 1.

#include "app/CQuellarDlg.h"
#include "base/CellOps.h"
#include "base/TextIO.h"
#include "components/SheetPane.h"
#include "dialogs/PageSumDlg.h"
#include "tests/CliRun.h"
#include "tests/NumberEdges.h"
#include "tests/gui/GuiTestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QAction>
#include <QFile>

#include <gtest/gtest.h>

using namespace quellar;
using Command = CQuellarDlg::Command;

namespace {

class EdgePrompts : public test::ScriptedPrompts {
public:
    std::optional<PageSumChoice> pageSumOptions(QWidget*, const QStringList&, int) override {
        return PageSumChoice{
            QStringLiteral("05"), QStringLiteral("1"), {columnLabel(1, QStringLiteral("金额"))}};
    }
};

// Every stored cell with a value: "row,column type value fill", numbers in full.
QString valuesText(const Workbook& book, const Sheet& sheet) {
    QStringList cells;
    for (const SheetRow& row : sheet.rows)
        for (const Cell& cell : row.cells) {
            const CellValue& v = cell.value;
            if (v.isEmpty() || (v.type() == CellValue::Type::String && v.text().isEmpty())) continue;
            char buffer[32];
            const QString value = v.type() == CellValue::Type::Number || v.type() == CellValue::Type::DateTime
                                      ? QString::fromLatin1(shortestNumberText(v.number(), buffer))
                                      : v.text().toQString() + QString::number(v.number());
            cells.append(QStringLiteral("%1,%2 %3 %4 %5")
                             .arg(row.index)
                             .arg(cell.column)
                             .arg(int(v.type()))
                             .arg(value)
                             .arg(test::fillOf(book, sheet, row.index, int32_t(cell.column))));
        }
    return cells.join(u'\n');
}

class NumberEdgesWindow : public test::WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<CQuellarDlg>(dir.path());
        auto owned = std::make_unique<EdgePrompts>();
        prompts = owned.get();
        window->setPrompts(std::move(owned));
        window->resize(1100, 760);
        window->show();
    }

    // The command line's result for `arguments` on `source`, read back from an .xml file.
    Workbook cliResult(QStringList arguments, const QString& source, const QString& name) {
        const QString target = dir.filePath(name + QStringLiteral(".xml"));
        arguments.replaceInStrings(QStringLiteral("@"), source);
        const test::CliRun run = test::runCli(arguments + QStringList{"-o", target, "--quiet"});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        Workbook book;
        EXPECT_TRUE(readWorkbook(target, book).isOk());
        return book;
    }
};

} // namespace

TEST_F(NumberEdgesWindow, EachOperationsResultEqualsTheCommandLinesOnEveryInputFormat) {
    const Workbook edges = test::edgeWorkbook();
    const QString amounts = columnLabel(1, QStringLiteral("金额"));
    for (const char* suffix : {"xml", "xls", "xlsx", "csv"}) {
        const QString source = dir.filePath(QStringLiteral("edges.") + QLatin1String(suffix));
        ASSERT_TRUE(writeWorkbook(edges, source, fileKindForPath(source)).isOk());
        open(1, source);
        open(2, source);
        ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();

        // The working file holds the round amounts in plain digits.
        const QByteArray working = test::bytesOf(dir.filePath(QStringLiteral("1.xml")));
        if (QLatin1String(suffix) != u"csv")
            EXPECT_TRUE(working.contains(">10000000<") && working.contains(">100000000000000<")) << suffix;
        EXPECT_FALSE(working.contains("e+07")) << suffix;

        struct Case {
            const char* name;
            Command command;
            std::function<void()> answer;
            QStringList arguments;
        };
        DiffChoice diff;
        diff.options.keyMode = true;
        diff.keys = QStringList{QStringLiteral("编号")};
        const std::vector<Case> cases = {
            {"compare",
             Command::CompareTables,
             [&] { prompts->diffAnswers.push_back(diff); },
             {"compare", "--key", "编号", "@", "@"}},
            {"join",
             Command::Join,
             [&] {
                 prompts->joinAnswers.push_back(JoinChoice{{QStringLiteral("编号")}, {}});
             },
             {"join", "--on", "编号", "@", "@"}},
            {"filter",
             Command::Filter,
             [&] {
                 prompts->filterAnswers.push_back(
                     FilterChoice{{QStringLiteral("组")}, {QStringLiteral("A")}});
             },
             {"filter", "--where", "组=A", "@", "@"}},
            {"blank-rows",
             Command::BlankRows,
             [&] { prompts->blankRowAnswers.push_back(1); },
             {"blank-rows", "--count", "1", "@"}},
            {"group-sum",
             Command::GroupSum,
             [&] {
                 prompts->groupSumAnswers.push_back(GroupSumChoice{{QStringLiteral("编号")}, {amounts}});
             },
             {"group-sum", "--group", "编号", "--sum", "金额", "@"}},
            {"summary",
             Command::ConditionalSum,
             [&] {
                 prompts->formAnswers.push_back([&](const QString&, FormReply& reply) {
                     reply.replyConditions = QStringLiteral("组|=|A|and");
                     reply.replyGroups = QStringLiteral("编号");
                     reply.replySums = amounts;
                 });
             },
             {"summary", "--conditions", "组|=|A|and", "--group", "编号", "--sum", "金额", "@"}}};
        for (const Case& c : cases) {
            c.answer();
            window->action(c.command)->trigger();
            ASSERT_TRUE(prompts->messages.isEmpty())
                << suffix << " " << c.name << ": " << prompts->messages.join(u'\n').toStdString();
            const Workbook& pane = window->resultPane()->workbook();
            const Workbook cli =
                cliResult(c.arguments, source,
                          QStringLiteral("%1-%2").arg(QLatin1String(suffix), QLatin1String(c.name)));
            const QString shown = valuesText(pane, pane.sheets[0]);
            EXPECT_TRUE(shown.contains(QStringLiteral(" 10000000 "))) << suffix << " " << c.name;
            EXPECT_EQ(shown.toStdString(), valuesText(cli, cli.sheets[0]).toStdString())
                << suffix << " " << c.name;
        }

        // Page subtotals: the workbook next to file 1 is the command line's, and its total is
        // the true sum.
        window->action(Command::PageSubtotals)->trigger();
        ASSERT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join(u'\n').toStdString();
        const QString written = dir.filePath(QStringLiteral("edges_分页汇总.xls"));
        Workbook fromWindow;
        ASSERT_TRUE(readWorkbook(written, fromWindow).isOk());
        const QString cliTarget = dir.filePath(QStringLiteral("cli-pages.xls"));
        const test::CliRun run = test::runCli({"page-subtotals", "--sum", "金额", "--rows-per-page", "5",
                                               "--label-column", "1", source, "-o", cliTarget, "--quiet"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        Workbook fromCli;
        ASSERT_TRUE(readWorkbook(cliTarget, fromCli).isOk());
        EXPECT_EQ(valuesText(fromWindow, fromWindow.sheets[0]).toStdString(),
                  valuesText(fromCli, fromCli.sheets[0]).toStdString())
            << suffix;
        double total = 0;
        for (double v : test::edgeAmounts())
            total += v;
        const Sheet& sheet = fromWindow.sheets[0];
        const Cell* last = sheet.cell(sheet.rows.back().index, 1);
        ASSERT_TRUE(last);
        EXPECT_EQ(last->value.number(), std::strtod(QString::asprintf("%f", total).toLatin1(), nullptr))
            << suffix;
        QFile::remove(written);
    }
}
