// quellar-cli end to end, in-process: results, counts on stdout, reports, and every kind of
// bad input ending with one clear line on stderr, exit status 2 and no output file.

#include "Cli.h"
#include "base/Faults.h"
#include "tests/CliRun.h"
#include "tests/TestSupport.h"
#include "workbook/WorkbookFormat.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

using namespace quellar;

namespace {

using test::CliRun;
using test::runCli;

QString data(const char* name) {
    return test::testDataPath(QStringLiteral("cli/") + QLatin1String(name));
}

QByteArray digest(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The texts and fills of one JSON sheet as "text:fill" cells, rows on lines.
QString jsonSheetText(const QJsonObject& sheet) {
    QStringList lines;
    for (const QJsonValue& row : sheet["rows"].toArray()) {
        QStringList cells;
        for (const QJsonValue& cell : row.toArray()) {
            const QJsonObject c = cell.toObject();
            cells.append(c["merge"].toString() == "covered"
                             ? QStringLiteral("~")
                             : c["text"].toString() + ':' + QString::number(c["fill"].toInt()));
        }
        lines.append(cells.join(' '));
    }
    return lines.join('\n');
}

} // namespace

TEST(Cli, CompareByKeyWritesResultCountsAndReport) {
    QTemporaryDir dir;
    const QString output = dir.filePath("result.json");
    const QString report = dir.filePath("report.htm");
    const QByteArray before = digest(data("list1.csv"));
    const CliRun run = runCli({"compare", "--key", QString::fromUtf16(u"编号"), data("list1.csv"),
                               data("list2.csv"), "-o", output, "--report", report});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QString::fromUtf16(u"工作表名称：对比结果\n不同的行数：3\n不同的单元格：1\n"
                                          u"文件一独有的单元格：3\n文件2独有的单元格：3\n"));
    EXPECT_EQ(digest(data("list1.csv")), before);

    const QJsonObject json = readJson(output);
    const QJsonArray sheets = json["sheets"].toArray();
    ASSERT_EQ(sheets.size(), 3);
    EXPECT_EQ(sheets[0].toObject()["name"].toString(), QString::fromUtf16(u"对比结果"));
    EXPECT_EQ(sheets[1].toObject()["name"].toString(), "Sheet2");
    EXPECT_TRUE(sheets[2].toObject()["rows"].toArray().isEmpty());
    EXPECT_EQ(jsonSheetText(sheets[0].toObject()),
              QString::fromUtf16(u"编号:2 姓名:2 金额:2 1:20 编号:2 姓名:2 金额:2\n"
                                 u"1.000000:2 张三:2 100.000000:2 3:20 1.000000:2 张三:2 100.000000:2\n"
                                 u"2.000000:2 李四:2 200.000000:3 2:20 2.000000:2 李四:2 250.000000:3\n"
                                 u"3.000000:6 王五:6 300.000000:6 ~ ~ ~ ~\n"
                                 u"~ ~ ~ 4:20 4.000000:4 赵六:4 400.000000:4"));
    const QJsonObject separator = sheets[0].toObject()["rows"].toArray()[0].toArray()[3].toObject();
    EXPECT_EQ(separator["merge"].toString(), "text-only");

    QFile page(report);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QByteArray bytes = page.readAll();
    ASSERT_GT(bytes.size(), 2);
    EXPECT_EQ(bytes.left(2), QByteArray("\xFF\xFE"));
    const QString html =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    EXPECT_TRUE(html.startsWith("<html>\n<head>\n"));
    EXPECT_TRUE(html.contains(QString::fromUtf16(u"<title>对比对比</title>")));
    EXPECT_TRUE(html.contains(QDir::cleanPath(QFileInfo(data("list2.csv")).absoluteFilePath())));

    EXPECT_EQ(runCli({"compare", "--key", QString::fromUtf16(u"编号"), data("list1.csv"), data("list2.csv"),
                      "-o", output, "--exit-code"})
                  .status,
              1);
    EXPECT_EQ(runCli({"compare", "--key", QString::fromUtf16(u"编号"), data("list1.csv"), data("list1.csv"),
                      "-o", dir.filePath("same.csv"), "--exit-code"})
                  .status,
              0);
}

TEST(Cli, CompareBooksPairsSheetsByName) {
    QTemporaryDir dir;
    const QString output = dir.filePath("books.json");
    const CliRun run = runCli({"compare-books", data("book1.xml"), data("book2.xml"), "-o", output});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out,
              QString::fromUtf16(u"工作表名称：a\n不同的行数：2\n不同的单元格：1\n文件一独有的单元格：0\n"
                                 u"文件2独有的单元格：2\n工作表名称：c\n不同的行数：0\n不同的单元格：0\n"
                                 u"文件一独有的单元格：0\n文件2独有的单元格：0\n"));
    const QJsonArray sheets = readJson(output)["sheets"].toArray();
    ASSERT_EQ(sheets.size(), 3);
    EXPECT_EQ(sheets[0].toObject()["name"].toString(), "a");
    EXPECT_EQ(sheets[1].toObject()["name"].toString(), "c");
    EXPECT_EQ(sheets[2].toObject()["name"].toString(), "Sheet3");

    // Other output formats of the same result.
    for (const char* name : {"books.xml", "books.csv"}) {
        const CliRun again = runCli(
            {"compare-books", data("book1.xml"), data("book2.xml"), "-o", dir.filePath(name), "--quiet"});
        EXPECT_EQ(again.status, 0) << name << again.err.toStdString();
        EXPECT_TRUE(QFileInfo(dir.filePath(name)).size() > 0) << name;
    }
}

TEST(Cli, ConvertThenCompareGivesNoDifferences) {
    QTemporaryDir dir;
    const QString converted = dir.filePath("copy.xml");
    ASSERT_EQ(runCli({"convert", data("book1.xml"), converted}).status, 0);
    const CliRun run =
        runCli({"compare-books", data("book1.xml"), converted, "-o", dir.filePath("r.json"), "--exit-code"});
    EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
    const QJsonArray sheets = readJson(dir.filePath("r.json"))["sheets"].toArray();
    EXPECT_EQ(sheets.size(), 3);

    ASSERT_EQ(runCli({"convert", data("list1.csv"), dir.filePath("list.json")}).status, 0);
    const QJsonArray listSheets = readJson(dir.filePath("list.json"))["sheets"].toArray();
    ASSERT_EQ(listSheets.size(), 1);
    EXPECT_EQ(listSheets[0].toObject()["rows"].toArray().size(), 4);
}

TEST(Cli, BadInputEndsWithOneClearLineAndStatusTwo) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.json");
    const QString key = QString::fromUtf16(u"编号");
    const std::vector<test::RefusedRun> cases = {
        {"no command", {}, ""},
        {"unknown command", {"frobnicate"}, "frobnicate"},
        {"not built yet", {"query", data("list1.csv"), "-o", out}, "query"},
        {"missing file",
         {"compare", "--key", key, dir.filePath("nope.xlsx"), data("list2.csv"), "-o", out},
         "nope.xlsx"},
        {"not a workbook",
         {"compare", "--key", key, data("junk.bin"), data("list2.csv"), "-o", out},
         "junk.bin"},
        {"no key in key mode", {"compare", data("list1.csv"), data("list2.csv"), "-o", out}, "--key"},
        {"unknown key", {"compare", "--key", "ID", data("list1.csv"), data("list2.csv"), "-o", out}, "ID"},
        {"seven keys",
         {"compare", "--key", key, "--key", key, "--key", key, "--key", key, "--key", key, "--key", key,
          "--key", key, data("list1.csv"), data("list2.csv"), "-o", out},
         "6"},
        {"missing sheet",
         {"compare-books", data("book1.xml"), data("book2.xml"), "-o", out, "--sheet1", "x"},
         "sheet1"},
        {"sheet not there",
         {"compare", "--by-position", "--sheet1", "zz", data("book1.xml"), data("book2.xml"), "-o", out},
         "zz"},
        {"bad range",
         {"compare", "--by-position", "--range1", "A1:ZZZZ9", data("list1.csv"), data("list2.csv"), "-o",
          out},
         "A1:ZZZZ9"},
        {"no output", {"compare", "--by-position", data("list1.csv"), data("list2.csv")}, "-o"},
        {"output folder missing",
         {"compare", "--by-position", data("list1.csv"), data("list2.csv"), "-o",
          dir.filePath("no/such/out.json")},
         "no/such"},
        {"unknown output kind",
         {"compare", "--by-position", data("list1.csv"), data("list2.csv"), "-o", dir.filePath("out.doc")},
         "out.doc"},
        {"unknown option", {"compare", "--frob", data("list1.csv"), data("list2.csv"), "-o", out}, "--frob"},
        {"option without value", {"compare", data("list1.csv"), data("list2.csv"), "-o"}, "output"},
        {"one file only", {"compare", "--by-position", data("list1.csv"), "-o", out}, "2"},
        {"nothing to compare",
         {"compare-books", "--no-text", data("book1.xml"), data("book2.xml"), "-o", out},
         "--no-text"},
        {"range too large to read",
         {"convert", test::testDataPath("broken/whole_grid_dimension.xlsx"), out},
         "XFD1048576"},
        {"compare a range too large",
         {"compare", "--by-position", test::testDataPath("broken/whole_grid_dimension.xlsx"),
          data("list2.csv"), "-o", out},
         "XFD1048576"},
        {"report folder missing",
         {"compare-books", data("book1.xml"), data("book2.xml"), "-o", out, "--report",
          dir.filePath("x/r.htm")},
         "x"},
    };
    test::expectRefused({}, cases, [&](const test::RefusedRun& r, const CliRun&) {
        EXPECT_FALSE(QFile::exists(out)) << r.label;
    });
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 0);
}

TEST(Cli, OperationsWriteTheirResultSheet) {
    QTemporaryDir dir;
    const QString key = QString::fromUtf16(u"编号");
    struct Case {
        const char* label;
        QStringList arguments;
        QString sheetName;
        int rows;
    };
    const std::vector<Case> cases = {
        {"join",
         {"join", "--on", key, data("list1.csv"), data("list2.csv")},
         QString::fromUtf16(u"连接结果"),
         5},
        {"filter",
         {"filter", "--where", QString::fromUtf16(u"姓名=李四"), data("list1.csv"), data("list2.csv")},
         QString::fromUtf16(u"筛选结果"),
         1},
        {"blank-rows",
         {"blank-rows", "--count", "2", data("list1.csv")},
         QString::fromUtf16(u"增加结果"),
         12},
        {"group-sum",
         {"group-sum", "--group", QString::fromUtf16(u"地区"), "--sum", QString::fromUtf16(u"金额"),
          data("sales.csv")},
         QString::fromUtf16(u"汇总结果"),
         8},
    };
    for (const Case& c : cases) {
        const QString output = dir.filePath(QString::fromLatin1(c.label) + ".json");
        const CliRun run = runCli(c.arguments + QStringList{"-o", output});
        ASSERT_EQ(run.status, 0) << c.label << run.err.toStdString();
        const QJsonArray sheets = readJson(output)["sheets"].toArray();
        ASSERT_EQ(sheets.size(), 3) << c.label;
        EXPECT_EQ(sheets[0].toObject()["name"].toString(), c.sheetName) << c.label;
        EXPECT_EQ(sheets[0].toObject()["rows"].toArray().size(), c.rows) << c.label;
    }

    const QString output = dir.filePath("bad.json");
    std::vector<test::RefusedRun> bad = {
        {"join without --on", {"join", data("list1.csv"), data("list2.csv")}, "--on"},
        {"join on a missing field", {"join", "--on", "ID", data("list1.csv"), data("list2.csv")}, "ID"},
        {"filter without --where",
         {"filter", data("list1.csv"), data("list2.csv")},
         QString::fromUtf16(u"没有选择查询条件。")},
        {"filter without =", {"filter", "--where", "abc", data("list1.csv"), data("list2.csv")}, "abc"},
        {"blank rows zero", {"blank-rows", "--count", "0", data("list1.csv")}, "0"},
        {"blank rows text", {"blank-rows", "--count", "abc", data("list1.csv")}, "abc"},
        {"group on a missing field", {"group-sum", "--group", "x", data("sales.csv")}, "x"},
        {"sum of a missing field",
         {"group-sum", "--group", QString::fromUtf16(u"地区"), "--sum", "y", data("sales.csv")},
         "y"},
    };
    for (test::RefusedRun& c : bad)
        c.arguments << QStringLiteral("-o") << output;
    test::expectRefused({}, bad, [&](const test::RefusedRun& r, const CliRun&) {
        EXPECT_FALSE(QFile::exists(output)) << r.label;
    });
}

TEST(Cli, XlsxResultKeepsValuesAndColours) {
    QTemporaryDir dir;
    for (const char* name : {"result.xlsx", "RESULT.XLS"}) {
        const QString output = dir.filePath(name);
        const CliRun run = runCli({"compare", "--key", QString::fromUtf16(u"编号"), data("list1.csv"),
                                   data("list2.csv"), "-o", output, "--quiet"});
        ASSERT_EQ(run.status, 0) << name << run.err.toStdString();
        Workbook book;
        ASSERT_TRUE(readWorkbook(output, book).isOk()) << name;
        ASSERT_EQ(book.sheets.size(), 3u) << name;
        const Sheet& sheet = book.sheets[0];
        EXPECT_EQ(sheet.name, QString::fromUtf16(u"对比结果")) << name;
        // Row 3 (李四): 金额 differs on both sides; row 4 (王五) is only in file 1.
        const Cell* changed = sheet.cell(2, 2);
        ASSERT_NE(changed, nullptr) << name;
        EXPECT_EQ(changed->value.type(), CellValue::Type::Number) << name;
        EXPECT_EQ(changed->value.number(), 200) << name;
        EXPECT_EQ(book.styles[changed->style].fillPalette, 3) << name;
        EXPECT_EQ(book.styles[sheet.cell(3, 1)->style].fillPalette, 6) << name;
        EXPECT_EQ(book.styles[sheet.cell(4, 4)->style].fillPalette, 4) << name;
        EXPECT_EQ(book.styles[sheet.cell(0, 3)->style].fillPalette, 20) << name;
    }
}

// Every command meets an allocation failure at each point it can come (reading, the
// operation, writing the result and the report): it ends with one line naming the command and
// the failure, status 2, the earlier output and report untouched and no other file left. The
// failure points are tried in turn until the command gets through.
TEST(Cli, AnAllocationFailureAnywhereEndsTheCommandCleanly) {
    const QString key = QString::fromUtf16(u"编号");
    const std::vector<std::pair<const char*, QStringList>> commands = {
        {"compare", {"compare", "--key", key, data("list1.csv"), data("list2.csv"), "--report", "REPORT"}},
        {"compare-books", {"compare-books", data("book1.xml"), data("book2.xml"), "--report", "REPORT"}},
        {"join", {"join", "--on", key, data("list1.csv"), data("list2.csv")}},
        {"filter",
         {"filter", "--where", QString::fromUtf16(u"姓名=李四"), data("list1.csv"), data("list2.csv")}},
        {"blank-rows", {"blank-rows", "--count", "2", data("list1.csv")}},
        {"group-sum", {"group-sum", "--group", QString::fromUtf16(u"地区"), data("sales.csv")}},
        {"convert", {"convert", data("book1.xml"), "OUTPUT"}},
    };
    for (const auto& [name, pattern] : commands) {
        QTemporaryDir dir;
        const QString output = dir.filePath("out.json"), report = dir.filePath("report.htm");
        for (const QString& path : {output, report})
            ASSERT_TRUE(test::writeBytes(path, "earlier"));
        QStringList arguments = pattern;
        arguments.replaceInStrings(QRegularExpression("^REPORT$"), report);
        if (arguments.contains("OUTPUT"))
            arguments.replaceInStrings(QRegularExpression("^OUTPUT$"), output);
        else
            arguments << "-o" << output;
        arguments << "--quiet";

        int failures = 0;
        for (int point = 1; point < 500; ++point) {
            faults::failAllocationAt(point);
            const CliRun run = runCli(arguments);
            faults::failAllocationAt(0);
            if (run.status == 0) break; // past the last checkpoint
            ++failures;
            ASSERT_EQ(run.status, 2) << name << " at " << point << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.startsWith(QStringLiteral("quellar-cli %1：").arg(name)))
                << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QString::fromUtf16(u"内存不足"))) << name << " at " << point;
            EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
            EXPECT_TRUE(run.out.isEmpty()) << name << " at " << point;
            EXPECT_EQ(digest(output), QCryptographicHash::hash("earlier", QCryptographicHash::Sha256))
                << name;
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                      QStringList({"out.json", "report.htm"}))
                << name << " at " << point;
        }
        EXPECT_GE(failures, 3) << name;
        EXPECT_NE(digest(output), QCryptographicHash::hash("earlier", QCryptographicHash::Sha256)) << name;
    }
}

// A device that fills up part way through: the report, and each output format written as a
// stream, end with status 2 and a line naming the file and the reason; the earlier file is
// kept and no temporary file is left.
TEST(Cli, AFullDeviceKeepsTheEarlierFileAndSaysWhy) {
    const QString key = QString::fromUtf16(u"编号");
    const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
    QTemporaryDir dir;
    const QByteArray earlier = QCryptographicHash::hash("earlier", QCryptographicHash::Sha256);
    struct Case {
        QString failing; // the file the device fills up on
        QStringList extra;
    };
    const std::vector<Case> cases = {
        {"report.htm", {"-o", dir.filePath("r.json"), "--report", dir.filePath("report.htm")}},
        {"r.json", {"-o", dir.filePath("r.json")}},
        {"r.csv", {"-o", dir.filePath("r.csv")}},
        {"r.xml", {"-o", dir.filePath("r.xml")}},
    };
    for (const Case& c : cases) {
        for (int64_t limit : {0, 1, 100}) {
            for (const QString& name : {c.failing, QStringLiteral("r.json")})
                ASSERT_TRUE(test::writeBytes(dir.filePath(name), "earlier"));
            faults::failWritesAfter(limit);
            const CliRun run =
                runCli(QStringList{"compare", "--key", key, data("list1.csv"), data("list2.csv"), "--quiet"} +
                       c.extra);
            faults::failWritesAfter(-1);
            const std::string label = c.failing.toStdString() + " after " + std::to_string(limit);
            EXPECT_EQ(run.status, 2) << label;
            EXPECT_TRUE(run.err.contains(c.failing)) << label << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(noSpace)) << label << ": " << run.err.toStdString();
            EXPECT_EQ(digest(dir.filePath(c.failing)), earlier) << label;
            EXPECT_EQ(digest(dir.filePath("r.json")), earlier) << label;
        }
        EXPECT_TRUE(QDir(dir.path()).entryList({"*.tmp", ".*"}, QDir::Files | QDir::Hidden).isEmpty());
    }
    // With room again the same command replaces the report.
    const CliRun run = runCli({"compare", "--key", key, data("list1.csv"), data("list2.csv"), "--quiet", "-o",
                               dir.filePath("r.json"), "--report", dir.filePath("report.htm")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_NE(digest(dir.filePath("report.htm")), earlier);
}
