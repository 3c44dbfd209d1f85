// quellar-cli compare and compare-books with the comparison rules and --summary: the rules
// change the marks as asked, the statistics file holds what the comparison found, the result
// without rules is unchanged by --summary, and every bad rule ends with a message naming the
// option and the field, exit status 2 and no file written.

#include "Cli.h"
#include "base/Progress.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;
using test::bytesOf;

namespace {

using test::CliRun;
using test::runCli;

void writeFile(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

QJsonObject readJson(const QString& path) {
    return QJsonDocument::fromJson(bytesOf(path)).object();
}

// The fills of the first result sheet of a JSON result, rows on lines.
QString fills(const QString& path) {
    QStringList lines;
    const QJsonArray rows = readJson(path)["sheets"].toArray()[0].toObject()["rows"].toArray();
    for (const QJsonValue& row : rows) {
        QString line;
        for (const QJsonValue& cell : row.toArray())
            line += QString::number(cell.toObject()["fill"].toInt());
        lines.append(line);
    }
    return lines.join(u' ');
}

struct Inputs {
    QTemporaryDir dir;
    QString a, b;
    Inputs() {
        a = dir.filePath("a.csv");
        b = dir.filePath("b.csv");
        writeFile(a,
                  QString::fromUtf16(u"编号,姓名,工资,时间\n1001,张 三,8500.00,9:00\n1002,李四,7200.5,9:01\n"
                                     u"1003,ＡＢＣ,100,9:02\n"));
        writeFile(b, QString::fromUtf16(u"编号,工资,姓名,部门,时间\n１００１,8500.004,张\u3000三,甲,8:00\n"
                                        u"1002,7300,李四,乙,8:00\n1003,100,ABC,丙,8:00\n"));
    }
};

} // namespace

TEST(CliRules, RulesChangeTheMarksAndTheSummarySaysSo) {
    Inputs in;
    const QString key = QString::fromUtf16(u"编号");
    const QString out = in.dir.filePath("r.json"), summary = in.dir.filePath("s.json");

    // Without rules: １００１ finds nothing, and times, a salary and a name differ.
    CliRun run = runCli({"compare", "--key", key, in.a, in.b, "-o", out, "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的单元格：4"))) << run.out.toStdString();

    run = runCli({"compare", "--key", key, in.a, in.b, "-o", out, "--summary", summary, "--tolerance", "0.01",
                  "--ignore-spaces", "--ignore-width", "--ignore-column", QString::fromUtf16(u"时间"),
                  "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // Only 1002's salary differs (by 99.5); the time column is neither red nor yellow/green,
    // the department column is file 2's alone.
    EXPECT_EQ(fills(out), "22222022242 22222022242 22322023242 22222022242");
    EXPECT_TRUE(run.out.contains(QString::fromUtf16(u"不同的单元格：1")));

    const QJsonObject s = readJson(summary);
    const QJsonObject rows = s["rows"].toObject();
    EXPECT_EQ(rows["file1"].toInt(), 3);
    EXPECT_EQ(rows["paired"].toInt(), 3);
    EXPECT_EQ(rows["only_in_file2"].toInt(), 0);
    EXPECT_EQ(rows["paired_with_differences"].toInt(), 1);
    EXPECT_EQ(s["cells"].toObject()["differing"].toInt(), 1);
    EXPECT_EQ(s["cells"].toObject()["only_in_file2"].toInt(), 3);
    const QJsonArray columns = s["columns"].toArray();
    ASSERT_EQ(columns.size(), 5);
    EXPECT_EQ(columns[2].toObject()["file1"].toString(), QString::fromUtf16(u"工资"));
    EXPECT_EQ(columns[2].toObject()["differing"].toInt(), 1);
    EXPECT_DOUBLE_EQ(columns[2].toObject()["max_difference"].toDouble(), 99.5);
    EXPECT_FALSE(columns[3].toObject()["compared"].toBool());
    EXPECT_TRUE(columns[4].toObject()["file1"].isNull());
    const QJsonObject rules = s["rules"].toObject();
    EXPECT_EQ(rules["tolerance"].toDouble(), 0.01);
    EXPECT_TRUE(rules["ignore_width"].toBool());
    EXPECT_EQ(rules["ignore_columns"].toArray().size(), 1);
}

TEST(CliRules, SummaryWithoutRulesLeavesEveryOutputAsItWas) {
    Inputs in;
    const QString key = QString::fromUtf16(u"编号");
    const QString plain = in.dir.filePath("plain.xml"), withSummary = in.dir.filePath("summary.xml");
    const QString summary = in.dir.filePath("s.json");
    const CliRun a = runCli({"compare", "--key", key, in.a, in.b, "-o", plain, "--quiet"});
    const CliRun b =
        runCli({"compare", "--key", key, in.a, in.b, "-o", withSummary, "--summary", summary, "--quiet"});
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(bytesOf(plain), bytesOf(withSummary));
    const QJsonObject s = readJson(summary);
    EXPECT_EQ(s["cells"].toObject()["differing"].toInt(), 4);
    EXPECT_FALSE(s["rules"].toObject()["ignore_spaces"].toBool());
    // By position, --columns-by-name pairs the salary columns although they moved.
    const QString out = in.dir.filePath("p.json");
    ASSERT_EQ(
        runCli({"compare", "--by-position", "--columns-by-name", in.a, in.b, "-o", out, "--summary", summary})
            .status,
        0);
    EXPECT_EQ(readJson(summary)["columns"].toArray()[2].toObject()["file2"].toString(),
              QString::fromUtf16(u"工资"));
}

TEST(CliRules, CompareBooksGivesOneSummaryPerSheetPair) {
    QTemporaryDir dir;
    const auto book = [&](const QString& name, const RowTable& first, const RowTable& second) {
        Workbook w = Workbook::makeDefault();
        NullProgress quiet;
        EXPECT_TRUE(writeTableToSheet(w, 1, "甲", first, quiet, 1).isOk());
        EXPECT_TRUE(writeTableToSheet(w, 2, "乙", second, quiet, 1).isOk());
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeWorkbook(w, path, FileKind::XmlSpreadsheet).isOk());
        return path;
    };
    const QString b1 = book("1.xml", test::tbl("a,b;1,x;2,y"), test::tbl("n,v;p,1.5"));
    const QString b2 = book("2.xml", test::tbl("b,a,c;x,1,0;z,2,0"), test::tbl("n,v;p,1.52"));
    const QString summary = dir.filePath("s.json");
    const CliRun run = runCli({"compare-books", b1, b2, "-o", dir.filePath("r.json"), "--columns-by-name",
                               "--tolerance", "v=0.05", "--summary", summary});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonArray sheets = readJson(summary)["sheets"].toArray();
    ASSERT_EQ(sheets.size(), 2);
    EXPECT_EQ(sheets[0].toObject()["name"].toString(), QString::fromUtf16(u"甲"));
    EXPECT_EQ(sheets[0].toObject()["cells"].toObject()["differing"].toInt(), 1); // y / z
    EXPECT_EQ(sheets[0].toObject()["columns"].toArray().size(), 3);
    EXPECT_TRUE(sheets[0].toObject()["columns"].toArray()[2].toObject()["file1"].isNull());
    EXPECT_EQ(sheets[1].toObject()["cells"].toObject()["differing"].toInt(), 0); // within 0.05
    // The field named by a rule needs to be in some sheet pair only.
    const CliRun unknown =
        runCli({"compare-books", b1, b2, "-o", dir.filePath("u.json"), "--tolerance", "w=1"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.contains("--tolerance") && unknown.err.contains(QString::fromUtf16(u"“w”")))
        << unknown.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("u.json")));
}

TEST(CliRules, BadRulesEndWithStatusTwoAndNoOutput) {
    Inputs in;
    const QString key = QString::fromUtf16(u"编号");
    const QString out = in.dir.filePath("out.json"), summary = in.dir.filePath("s.json");
    const QString noFields = in.dir.filePath("nofields.csv"), repeated = in.dir.filePath("repeated.csv");
    writeFile(noFields, "a,\n,b\n");
    writeFile(repeated, "x,x\n1,2\n");
    struct Case {
        const char* label;
        QStringList arguments;
        QStringList mentions;
    };
    const std::vector<Case> cases = {
        {"tolerance not a number", {"--tolerance", "abc"}, {"--tolerance", "abc"}},
        {"negative tolerance",
         {"--rel-tolerance", QString::fromUtf16(u"工资=-1%")},
         {"--rel-tolerance", QString::fromUtf16(u"工资")}},
        {"tolerance for an unknown field",
         {"--tolerance", QString::fromUtf16(u"奖金=1")},
         {"--tolerance", QString::fromUtf16(u"奖金")}},
        {"tolerance for the key",
         {"--tolerance", QString::fromUtf16(u"编号=1")},
         {"--tolerance", QString::fromUtf16(u"编号")}},
        {"ignored key", {"--ignore-column", key}, {"--ignore-column", key}},
        {"ignored unknown field", {"--ignore-column", "zz"}, {"--ignore-column", "zz"}},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(
            QStringList{"compare", "--key", key, in.a, in.b, "-o", out, "--summary", summary} + c.arguments);
        EXPECT_EQ(run.status, 2) << c.label;
        for (const QString& m : c.mentions)
            EXPECT_TRUE(run.err.contains(m)) << c.label << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(out) || QFile::exists(summary)) << c.label;
    }
    for (const QString& file : {noFields, repeated}) {
        const CliRun run = runCli(
            {"compare", "--by-position", "--columns-by-name", file, in.b, "-o", out, "--summary", summary});
        EXPECT_EQ(run.status, 2) << file.toStdString();
        EXPECT_TRUE(run.err.contains("--columns-by-name")) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(out) || QFile::exists(summary));
    }
}
