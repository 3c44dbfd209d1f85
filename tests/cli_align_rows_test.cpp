// quellar-cli compare --by-position --align-rows and compare-books --align-rows: the aligned
// result and every output that reads it (counts, summary, tabular diff, only the
// differences), the refusal without --by-position, and the message on stderr when a stretch is
// too different to align.

#include "tests/CliRun.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using test::CliRun;
using test::runCli;

namespace {

void writeFile(const QString& path, const QString& text) {
    ASSERT_TRUE(test::writeBytes(path, text.toUtf8())) << path.toStdString();
}

QJsonObject readJson(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(f.readAll()).object();
}

// Each result row of a JSON result as "texts|fills".
QStringList resultRows(const QString& path) {
    QStringList lines;
    const QJsonArray rows = readJson(path)["sheets"].toArray()[0].toObject()["rows"].toArray();
    for (const QJsonValue& row : rows) {
        QStringList texts;
        QString fills;
        for (const QJsonValue& cell : row.toArray()) {
            texts.append(cell.toObject()["text"].toString());
            fills += QString::number(cell.toObject()["fill"].toInt());
        }
        lines.append(texts.join(u',') + u'|' + fills);
    }
    return lines;
}

struct Inputs {
    QTemporaryDir dir;
    QString a, b;
    Inputs() {
        QDir().mkpath(dir.filePath("1"));
        QDir().mkpath(dir.filePath("2"));
        a = dir.filePath("1/价目.csv");
        b = dir.filePath("2/价目.csv");
        // A price list without a key: a row inserted at the top of the data, one deleted, one
        // price changed.
        writeFile(a, QString::fromUtf16(u"品名,单位,单价\n苹果,斤,5\n梨,斤,4\n李子,斤,6\n无花果,个,2\n"));
        writeFile(b, QString::fromUtf16(u"品名,单位,单价\n桃,斤,7\n苹果,斤,5\n梨,斤,4.5\n无花果,个,2\n"));
    }
};

} // namespace

TEST(CliAlignRows, ComparesByPositionWithInsertedAndDeletedRowsRecognised) {
    Inputs in;
    const QString out = in.dir.filePath("r.json"), summary = in.dir.filePath("s.json"),
                  diff = in.dir.filePath("d.csv"), only = in.dir.filePath("o.json");
    CliRun run = runCli(
        {"compare", "--by-position", "--align-rows", in.a, in.b, "-o", out, "--summary", summary, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    // Fills: 2 white, 20 the separator, 3 red, 6 yellow, 4 green, 0 none.
    EXPECT_EQ(resultRows(out).join(u'\n'),
              QString::fromUtf16(u"品名,单位,单价,1,品名,单位,单价|22220222\n"
                                 u",,,2,桃,斤,7.000000|00020444\n"
                                 u"苹果,斤,5.000000,3,苹果,斤,5.000000|22220222\n"
                                 u"梨,斤,4.000000,4,梨,斤,4.500000|22320223\n"
                                 u"李子,斤,6.000000,,,,|6660000\n"
                                 u"无花果,个,2.000000,5,无花果,个,2.000000|22220222"));
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的行数：3"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的单元格：1")));
    const QJsonObject rows = readJson(summary)["rows"].toObject();
    EXPECT_EQ(rows["paired"].toInt(), 3);
    EXPECT_EQ(rows["only_in_file1"].toInt(), 1);
    EXPECT_EQ(rows["only_in_file2"].toInt(), 1);

    run = runCli({"compare", "--by-position", "--align-rows", in.a, in.b, "-o", diff, "--format",
                  "highlighter", "--context", "all", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(test::bytesOf(diff)).remove(QChar(0xFEFF)),
              QString::fromUtf16(u"@@,品名,单位,单价\r\n+++,桃,斤,7\r\n,苹果,斤,5\r\n->,梨,斤,4->4.5\r\n"
                                 u"---,李子,斤,6\r\n,无花果,个,2\r\n"));

    run = runCli({"compare", "--by-position", "--align-rows", in.a, in.b, "-o", only, "--only-differences",
                  "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(resultRows(only).size(), 4); // the field row and the three marked rows

    // Without the option the rows pair one by one, as always.
    run = runCli({"compare", "--by-position", in.a, in.b, "-o", out, "--quiet"});
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的单元格：6"))) << run.out.toStdString();
}

TEST(CliAlignRows, WorkbooksAlignEachSheetPairAndTheOptionNeedsByPosition) {
    Inputs in;
    const QString books = in.dir.filePath("books.json"), table = in.dir.filePath("table.json");
    CliRun run = runCli({"compare-books", "--align-rows", in.a, in.b, "-o", books, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    run = runCli({"compare", "--by-position", "--align-rows", in.a, in.b, "-o", table, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(resultRows(books), resultRows(table));

    test::expectRefused(
        {"compare"},
        {{"key mode",
          {"--align-rows", "--key", QString::fromUtf16(u"品名"), in.a, in.b, "-o", table},
          QStringLiteral("--by-position")},
         {"no mode", {"--align-rows", in.a, in.b, "-o", table}, QStringLiteral("--align-rows")}});
}

TEST(CliAlignRows, SaysOnStderrWhereTablesAreTooDifferentToAlign) {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.csv"), b = dir.filePath("b.csv"), out = dir.filePath("r.csv");
    QString textA = QStringLiteral("k,v\n"), textB = QStringLiteral("k,v\n");
    for (int r = 0; r < 20005; ++r) {
        textA += QStringLiteral("a%1,1\n").arg(r);
        textB += QStringLiteral("b%1,2\n").arg(r);
    }
    writeFile(a, textA);
    writeFile(b, textB);
    const CliRun run = runCli({"compare", "--by-position", "--align-rows", a, b, "-o", out, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("识别插入和删除的行"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("20005 行"))) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的单元格：40010"))) << run.out.toStdString();
}
