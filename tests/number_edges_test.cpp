// Numbers at their edges through every path: the form the XML Spreadsheet files (the
// window's working files among them) write, each format's writer read back by our readers
// and by xlrd / openpyxl, page subtotals over every spelling of a number, each operation
// on each input format into each output format, .xls formula cells under older record ids,
// and the numbers the details page and the status line show.

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "table/PageSubtotals.h"
#include "table/compare/CompareRules.h"
#include "table/compare/CompareStatistics.h"
#include "table/compare/Comparison.h"
#include "table/compare/DetailsPage.h"
#include "tests/CliRun.h"
#include "tests/NumberEdges.h"
#include "tests/TestSupport.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/xmlss/SpreadsheetML.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace quellar;
using test::bytesOf;
using test::edgeAmounts;
using test::edgeId;
using test::edgeNumberOf;

namespace {

// A value as the XML Spreadsheet writer writes it.
std::string written(double value) {
    char buffer[32];
    return std::string(shortestNumberText(value, buffer));
}

// The value of each number cell, "kind:text" of every other cell, keyed by "row,column".
std::map<QString, QString> cellMap(const Sheet& sheet) {
    std::map<QString, QString> cells;
    for (const SheetRow& row : sheet.rows)
        for (const Cell& cell : row.cells) {
            const CellValue& v = cell.value;
            QString text;
            switch (v.type()) {
            case CellValue::Type::Empty:
                continue;
            case CellValue::Type::Number:
            case CellValue::Type::DateTime:
                text =
                    QStringLiteral("n:") + QString::fromStdString(written(v.number() == 0 ? 0 : v.number()));
                break;
            case CellValue::Type::Boolean:
                text = QStringLiteral("b:%1").arg(v.number() != 0 ? 1 : 0);
                break;
            case CellValue::Type::Error:
                text = QStringLiteral("e:") + v.text().toQString();
                break;
            case CellValue::Type::String:
                if (v.text().isEmpty()) continue;
                text = QStringLiteral("s:") + v.text().toQString();
                break;
            }
            cells[QStringLiteral("%1,%2").arg(row.index).arg(cell.column)] = text;
        }
    return cells;
}

// What xlrd (.xls) and openpyxl (.xlsx) read from each file, in the form of cellMap; empty
// when python3 with both is not installed.
std::map<QString, std::map<QString, QString>> referenceCells(const QStringList& paths) {
    std::map<QString, std::map<QString, QString>> files;
    const QString python = test::pythonWith("xlrd, openpyxl");
    if (python.isEmpty() || paths.isEmpty()) return files;
    QProcess p;
    p.start(python, QStringList{test::testDataPath(QStringLiteral("numbers/dump_cells.py"))} + paths);
    EXPECT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QJsonObject all = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QString& path : paths) {
        std::map<QString, QString>& cells = files[path];
        for (const QJsonValue& entry : all[path].toArray()) {
            const QJsonArray e = entry.toArray();
            QString text = e[3].toString();
            if (e[2].toString() == u"n") {
                const std::string repr = text.toStdString();
                double v = 0;
                std::from_chars(repr.data(), repr.data() + repr.size(), v);
                text = QString::fromStdString(written(v == 0 ? 0 : v));
            }
            cells[QStringLiteral("%1,%2").arg(e[0].toInt()).arg(e[1].toInt())] =
                e[2].toString() + u':' + text;
        }
    }
    return files;
}

// xlrd and openpyxl read `paths` as our reader does, cell for cell.
void expectReferenceReadersAgree(const QStringList& paths) {
    const auto reference = referenceCells(paths);
    for (const auto& [path, cells] : reference) {
        Workbook ours;
        ASSERT_TRUE(readWorkbook(path, ours).isOk()) << path.toStdString();
        const auto mine = cellMap(ours.sheets[0]);
        for (const auto& [at, text] : mine) {
            const auto it = cells.find(at);
            EXPECT_TRUE(it != cells.end() && it->second == text)
                << path.toStdString() << " " << at.toStdString() << ": ours " << text.toStdString()
                << ", reference " << (it == cells.end() ? std::string("<none>") : it->second.toStdString());
        }
        EXPECT_EQ(mine.size(), cells.size()) << path.toStdString();
    }
}

QString writeEdgeInput(const QTemporaryDir& dir, const char* suffix) {
    const QString path = dir.filePath(QStringLiteral("edges.") + QLatin1String(suffix));
    const Status s = writeWorkbook(test::edgeWorkbook(), path, fileKindForPath(path));
    EXPECT_TRUE(s.isOk()) << s.message().toStdString();
    return path;
}

} // namespace

// The working files' form: positional shortest digits from 10^-6 up to below 10^21, and
// every form another program writes reads back.
TEST(NumberForms, WorkingFilesWriteShortestPositionalDigitsAndReadEveryForm) {
    const std::vector<std::pair<double, std::string>> forms = {{1e5, "100000"},
                                                               {1e7, "10000000"},
                                                               {30000000, "30000000"},
                                                               {1e14, "100000000000000"},
                                                               {999999999999999.0, "999999999999999"},
                                                               {1e15, "1000000000000000"},
                                                               {1.5e20, "150000000000000000000"},
                                                               {1234567890123456.0, "1234567890123456"},
                                                               {9007199254740993.0, "9007199254740992"},
                                                               {-1e7, "-10000000"},
                                                               {0.1 + 0.2, "0.30000000000000004"},
                                                               {0.00001, "0.00001"},
                                                               {0.000012, "0.000012"},
                                                               {1e-6, "0.000001"},
                                                               {1e-7, "1e-07"},
                                                               {-2.5e-7, "-2.5e-07"},
                                                               {0.0, "0"},
                                                               {-0.0, "-0"},
                                                               {0.5, "0.5"},
                                                               {46363.378553240741, "46363.37855324074"},
                                                               {1e21, "1e+21"},
                                                               {5e-324, "5e-324"}};
    for (const auto& [value, text] : forms)
        EXPECT_EQ(written(value), text) << value;

    // Random values of every size read back exactly, without exponent inside the range.
    std::mt19937_64 random(29);
    for (int i = 0; i < 20000; ++i) {
        const double v =
            std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random), int(random() % 120) - 60);
        const double round = std::round(v * 1e4) / 1e4; // amounts with a few decimals, often whole
        for (double x : {v, round, std::trunc(v * 1e9)}) {
            const std::string text = written(x);
            double back = 0;
            ASSERT_TRUE(spreadsheetml::readNumber(text, back)) << text;
            EXPECT_EQ(back, x) << text;
            const double a = std::fabs(x);
            if (a >= 1e-6 && a < 1e21) EXPECT_EQ(text.find('e'), std::string::npos) << text;
        }
    }

    // Reading takes every spelling; anything else is no number.
    const std::vector<std::pair<std::string, double>> spellings = {
        {"1E+7", 1e7}, {"1e+07", 1e7}, {" 10000000 ", 1e7}, {"+5", 5}, {"1.5e-3", 0.0015},
        {".5", 0.5},   {"-0", 0}};
    for (const auto& [text, value] : spellings) {
        double v = -1;
        EXPECT_TRUE(spreadsheetml::readNumber(text, v) && v == value) << text;
    }
    for (const char* text : {"12a", "1,234", "", " ", "1e400", "inf", "0x10"}) {
        double v = 0;
        EXPECT_FALSE(spreadsheetml::readNumber(text, v)) << text;
    }
}

// Each writer's file read back by our reader holds every value; xlrd and openpyxl read the
// same values from the .xls and .xlsx files.
TEST(NumberEdges, EveryFormatWrittenReadsBackWithEachValue) {
    QTemporaryDir dir;
    const Workbook book = test::edgeWorkbook();
    const auto original = cellMap(book.sheets[0]);
    QStringList references;
    for (const char* suffix : {"xml", "xls", "xlsx", "csv"}) {
        const QString path = writeEdgeInput(dir, suffix);
        Workbook back;
        ASSERT_TRUE(readWorkbook(path, back).isOk()) << suffix;
        const auto cells = cellMap(back.sheets[0]);
        for (const auto& [at, text] : original) {
            const auto it = cells.find(at);
            const QString got = it == cells.end() ? QStringLiteral("<none>") : it->second;
            if (QLatin1String(suffix) == u"csv") {
                // CSV holds texts: a number comes back as a number or as a text of its digits,
                // a date as its text; booleans and errors are texts.
                if (!text.startsWith(u"n:")) continue;
                const int32_t r = at.section(u',', 0, 0).toInt(), c = at.section(u',', 1).toInt();
                const Cell* cell = back.sheets[0].cell(r, c);
                const CellValue& wanted = book.sheets[0].cell(r, c)->value;
                double v = 0;
                const bool same =
                    wanted.type() == CellValue::Type::DateTime
                        ? cell && variantToText(cell->value) == dateSerialToText(wanted.number())
                        : edgeNumberOf(cell, v) && v == wanted.number();
                EXPECT_TRUE(same) << suffix << " " << at.toStdString() << " " << text.toStdString() << " "
                                  << got.toStdString();
                continue;
            }
            if (QLatin1String(suffix) == u"xlsx" && text.startsWith(u"n:") && got.startsWith(u"n:")) {
                const std::string want = text.mid(2).toStdString(), have = got.mid(2).toStdString();
                double a = 0, b = 0;
                std::from_chars(want.data(), want.data() + want.size(), a);
                std::from_chars(have.data(), have.data() + have.size(), b);
                if (b == a) continue; // the same number in other digits
            }
            EXPECT_EQ(got, text) << suffix << " " << at.toStdString();
        }
        if (QLatin1String(suffix) == u"xml") {
            // The working-file form: no exponent for these values.
            const QByteArray bytes = bytesOf(path);
            EXPECT_TRUE(bytes.contains(">10000000<") && bytes.contains(">-30000000<") &&
                        bytes.contains(">100000000000000<") && bytes.contains(">1000000000000000<"));
            EXPECT_FALSE(bytes.contains("e+07") || bytes.contains("e+05"));
        }
        if (QLatin1String(suffix).startsWith(u"xls")) references.append(path);
    }
    expectReferenceReadersAgree(references);

    // LibreOffice, where installed, opens the XML Spreadsheet file with the same values.
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) return;
    QProcess p;
    p.start(soffice,
            {"--headless", "--convert-to", "xls", "--outdir", dir.filePath("lo"), dir.filePath("edges.xml")});
    ASSERT_TRUE(p.waitForFinished(180000));
    Workbook converted;
    ASSERT_TRUE(readWorkbook(dir.filePath("lo/edges.xls"), converted).isOk());
    const auto cells = cellMap(converted.sheets[0]);
    for (size_t i = 0; i < edgeAmounts().size(); ++i) {
        const QString at = QStringLiteral("%1,1").arg(i + 1);
        EXPECT_EQ(cells.count(at) ? cells.at(at) : QString(), original.at(at))
            << "LibreOffice " << at.toStdString();
    }
}

// Page subtotals add up every Data of type Number, however it is spelt; texts of String cells
// keep the strict rule.
TEST(PageSubtotalsNumbers, NumberDataCountsWhateverItsSpelling) {
    QTemporaryDir dir;
    auto row = [](const QString& type, const QString& text) {
        return QStringLiteral(
                   "<Row><Cell><Data ss:Type=\"String\">x</Data></Cell><Cell><Data ss:Type=\"%1\">%2</Data>"
                   "</Cell></Row>\n")
            .arg(type, text);
    };
    // Pages of three rows: the round amounts as Excel, this program and others spell them; then
    // texts that are not numbers and a Number that does not read; then signed and tiny values.
    QString rows = QStringLiteral("<Row><Cell><Data ss:Type=\"String\">名</Data></Cell>"
                                  "<Cell><Data ss:Type=\"String\">金额</Data></Cell></Row>\n");
    const QList<QPair<QString, QString>> cells = {
        {"Number", "10000000"}, {"Number", "1E+7"},   {"Number", " 1e+07 "},
        {"String", "12a"},      {"String", ""},       {"Number", "12a"},
        {"Number", "-3.0E+07"}, {"Number", "1.5e-3"}, {"String", "1,000"}};
    for (const auto& [type, text] : cells)
        rows += row(type, text);
    const QString xml =
        QStringLiteral("<?xml version=\"1.0\"?>\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:"
                       "spreadsheet\" xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">\n"
                       "<Worksheet ss:Name=\"S\"><Table>\n%1</Table></Worksheet></Workbook>\n")
            .arg(rows);
    const QString source = dir.filePath("1.xml"), target = dir.filePath("3.xml");
    ASSERT_TRUE(test::writeBytes(source, xml.toUtf8()));
    Result<PageSheet> sheet = readPageSheet(source, QStringLiteral("S"));
    ASSERT_TRUE(sheet.isOk());
    PageSubtotalOptions options;
    options.rowsPerPage = 3;
    options.labelColumn = 1;
    options.sumColumns = {1};
    ASSERT_TRUE(writePageSubtotals(sheet.value(), options, target).isOk());
    Workbook book;
    ASSERT_TRUE(readWorkbook(target, book).isOk());
    QStringList sums;
    for (const SheetRow& r : book.sheets[0].rows) {
        const Cell* label = book.sheets[0].cell(r.index, 0);
        if (!label || label->value.text().toQString() == u"x" || r.index == 0) continue;
        const Cell* sum = book.sheets[0].cell(r.index, 1);
        sums.append(label->value.text().toQString() + u'=' +
                    (sum && sum->value.type() == CellValue::Type::Number
                         ? shownNumberText(sum->value.number())
                         : QStringLiteral("空")));
    }
    EXPECT_EQ(sums, (QStringList{"小计=30000000", "小计=空", "小计=-29998999.9985", "合计=1000.0015"}));
}

// Each operation on the list in each input format, into each output format: every amount of a
// data row comes back with its value, every text as it was, page subtotals are the true sums,
// and xlrd and openpyxl read the .xls and .xlsx results as we do.
TEST(NumberEdges, EveryOperationOnEveryInputFormatKeepsEachNumber) {
    QTemporaryDir dir;
    const std::vector<std::pair<const char*, QStringList>> operations = {
        {"compare", {"compare", "--key", "编号", "@", "@"}},
        {"join", {"join", "--on", "编号", "@", "@"}},
        {"filter", {"filter", "--where", "组=A", "@", "@"}},
        {"blank-rows", {"blank-rows", "--count", "1", "@"}},
        {"group-sum", {"group-sum", "--group", "编号", "--sum", "金额", "@"}},
        {"summary", {"summary", "--conditions", "组|=|A|and", "--group", "编号", "--sum", "金额", "@"}},
        {"page-subtotals",
         {"page-subtotals", "--sum", "金额", "--rows-per-page", "5", "--label-column", "1", "@"}}};
    QStringList references;
    for (const char* input : {"xml", "xls", "xlsx", "csv"}) {
        const QString source = writeEdgeInput(dir, input);
        for (const auto& [name, pattern] : operations) {
            for (const char* output : {"xml", "xls", "xlsx", "csv"}) {
                if (QLatin1String(name) == u"page-subtotals" && QLatin1String(output) == u"csv") continue;
                const QString label =
                    QStringLiteral("%1 → %2 → %3")
                        .arg(QLatin1String(input), QLatin1String(name), QLatin1String(output));
                const QString target =
                    dir.filePath(QStringLiteral("%1-%2.%3")
                                     .arg(QLatin1String(input), QLatin1String(name), QLatin1String(output)));
                QStringList arguments = pattern;
                arguments.replaceInStrings(QStringLiteral("@"), source);
                const test::CliRun run = test::runCli(arguments + QStringList{"-o", target, "--quiet"});
                ASSERT_EQ(run.status, 0) << label.toStdString() << ": " << run.err.toStdString();
                Workbook book;
                ASSERT_TRUE(readWorkbook(target, book).isOk()) << label.toStdString();
                const Sheet& sheet = book.sheets[0];
                if (QLatin1String(output) == u"xls")
                    EXPECT_TRUE(bytesOf(target).startsWith("\xD0\xCF\x11\xE0")) << label.toStdString();
                if (QLatin1String(output) == u"xlsx")
                    EXPECT_TRUE(bytesOf(target).startsWith("PK")) << label.toStdString();
                if (QLatin1String(output) == u"xml")
                    EXPECT_TRUE(bytesOf(target).contains("<Workbook")) << label.toStdString();

                // The first row of each id is its data row (subtotal rows follow their group).
                std::map<QString, int32_t> rowOf;
                for (const SheetRow& r : sheet.rows)
                    if (const Cell* id = sheet.cell(r.index, 0);
                        id && id->value.type() == CellValue::Type::String)
                        rowOf.emplace(id->value.text().toQString(), r.index);
                for (size_t i = 0; i < edgeAmounts().size(); ++i) {
                    const auto it = rowOf.find(edgeId(i));
                    ASSERT_TRUE(it != rowOf.end()) << label.toStdString() << " " << edgeId(i).toStdString();
                    double v = 0;
                    const bool number = edgeNumberOf(sheet.cell(it->second, 1), v);
                    EXPECT_TRUE(number && v == edgeAmounts()[i])
                        << label.toStdString() << " " << edgeId(i).toStdString() << " " << edgeAmounts()[i];
                    if (i < size_t(test::edgeTexts().size())) {
                        const Cell* text = sheet.cell(it->second, 3);
                        EXPECT_TRUE(text && shownCellText(variantToText(text->value)) ==
                                                shownCellText(test::edgeTexts()[qsizetype(i)]))
                            << label.toStdString() << " " << test::edgeTexts()[qsizetype(i)].toStdString();
                    }
                }
                if (QLatin1String(name) == u"page-subtotals") {
                    // Pages of five: each subtotal and the total are the sums of the amounts
                    // (written with six decimals).
                    std::vector<double> expected;
                    double page = 0, total = 0;
                    for (size_t i = 0; i < edgeAmounts().size(); ++i) {
                        page += edgeAmounts()[i];
                        total += edgeAmounts()[i];
                        if ((i + 1) % 5 == 0 || i + 1 == edgeAmounts().size()) {
                            expected.push_back(page);
                            page = 0;
                        }
                    }
                    expected.push_back(total);
                    std::vector<double> sums;
                    for (const SheetRow& r : sheet.rows) {
                        const Cell* id = sheet.cell(r.index, 0);
                        double v = 0;
                        if (id && id->value.text().toQString().contains(u"计") &&
                            edgeNumberOf(sheet.cell(r.index, 1), v))
                            sums.push_back(v);
                    }
                    ASSERT_EQ(sums.size(), expected.size()) << label.toStdString();
                    for (size_t k = 0; k < sums.size(); ++k)
                        EXPECT_EQ(sums[k],
                                  std::strtod(QString::asprintf("%f", expected[k]).toLatin1(), nullptr))
                            << label.toStdString() << " sum " << k;
                }
                if (QLatin1String(output).startsWith(u"xls") && QLatin1String(input) == u"xml")
                    references.append(target);
            }
        }
    }
    expectReferenceReadersAgree(references);
}

// A BIFF8 stream whose formula cells are stored under the FORMULA record ids of BIFF3 (0x0206)
// and BIFF4 (0x0406) keeps their cached values, as xlrd reads them.
TEST(XlsFormulaRecords, OlderRecordIdsKeepTheirCachedValues) {
    const QString python = test::pythonWith("xlwt, xlrd");
    if (python.isEmpty()) GTEST_SKIP() << "python3 with xlwt and xlrd is not installed (scripts/setup.sh)";
    QTemporaryDir dir;
    const QString path = dir.filePath("formulas.xls");
    // xlwt writes the formulas' records; the cached values and the record ids are set here.
    QProcess p;
    p.start(python, {"-c",
                     "import sys, struct, xlwt, xlrd\n"
                     "wb = xlwt.Workbook(); ws = wb.add_sheet('S')\n"
                     "for r, v in enumerate([10000000, 0.30000000000000004, 1e-07, -30000000]):\n"
                     "    ws.write(r, 0, xlwt.Formula('1+%d' % r))\n"
                     "wb.save(sys.argv[1])\n"
                     "data = bytearray(open(sys.argv[1], 'rb').read())\n"
                     "values = [10000000, 0.30000000000000004, 1e-07, -30000000]\n"
                     "ids = [0x0206, 0x0406, 0x0006, 0x0406]\n"
                     "i = 0; k = 0\n"
                     "while k < len(values):\n"
                     "    i = data.index(b'\\x06\\x00', i)\n"
                     "    size, row, col = struct.unpack_from('<HHH', data, i + 2)\n"
                     "    if size >= 20 and row == k and col == 0:\n"
                     "        struct.pack_into('<H', data, i, ids[k])\n"
                     "        struct.pack_into('<d', data, i + 10, values[k])\n"
                     "        k += 1\n"
                     "    i += 2\n"
                     "open(sys.argv[1], 'wb').write(bytes(data))\n"
                     "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                     "print(' '.join(repr(s.cell_value(r, 0)) for r in range(s.nrows)))\n",
                     path});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
              QStringLiteral("10000000.0 0.30000000000000004 1e-07 -30000000.0"));
    Workbook book;
    ASSERT_TRUE(readWorkbook(path, book).isOk());
    QStringList values;
    for (int r = 0; r < 4; ++r) {
        const Cell* cell = book.sheets[0].cell(r, 0);
        values.append(cell ? QString::fromStdString(written(cell->value.number()))
                           : QStringLiteral("<none>"));
    }
    EXPECT_EQ(values, (QStringList{"10000000", "0.30000000000000004", "1e-07", "-30000000"}));
}

// The details page and the status line show numbers as the grid does; the tolerances and the
// largest differences are rounded to the digits spreadsheets keep, without an exponent.
TEST(NumberEdges, DetailsPageAndStatusShowNumbersAsTheGridDoes) {
    CompareOptions options;
    options.rules.tolerance = 1000000;
    options.rules.relTolerance = 0.07;
    const QString rules = rulesSummaryText(options.rules, false);
    EXPECT_TRUE(rules.contains(QStringLiteral("数值容差 1000000、相对 7%"))) << rules.toStdString();

    CompareStatistics statistics;
    CompareLayout layout;
    CompareCounts counts;
    CompareOptions plain;
    Result<RowTable> result =
        compareTables(test::tbl("id,n,m;1,100416.000000,1.000000;2,16172835.000000,0"),
                      test::tbl("id,n,m;1,100416.000000,1.000000;2,16174835.000000,10000000.000000"), plain,
                      {QStringLiteral("id")}, &counts, &layout, &statistics);
    ASSERT_TRUE(result.isOk());
    DetailsPage page(QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("b"), {});
    const DetailsStatistics columns = detailsStatistics(statistics);
    page.addComparison(QStringLiteral("S"), QStringLiteral("S"), result.value(), layout, counts, &columns);
    const QString html = page.html();
    EXPECT_TRUE(
        html.contains(QStringLiteral("n：<span class=\"old\">16172835</span> <span class=\"arrow\">→</span> "
                                     "<span class=\"new\">16174835</span>")))
        << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<td>m</td><td>m</td><td>是</td><td>1</td><td>10000000</td>")))
        << html.toStdString();
    EXPECT_FALSE(html.contains(QStringLiteral(".000000")) || html.contains(QStringLiteral("e+")));

    // Computed values lose the noise of binary fractions; texts that are not numbers stay.
    EXPECT_EQ(shownNumberText(0.07 * 100), QStringLiteral("7"));
    EXPECT_EQ(shownNumberText(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(shownNumberText(-0.0), QStringLiteral("0"));
    EXPECT_EQ(shownNumberText(1e15), QStringLiteral("1000000000000000"));
    EXPECT_EQ(shownNumberText(1e21), QStringLiteral("1e+21"));
    EXPECT_EQ(shownCellText(u"-2.500000"), QStringLiteral("-2.5"));
    for (const char16_t* text :
         {u"007", u"1e5", u"1,234", u"2015/1/1", u"１２３", u"1000000000000000.000000"})
        EXPECT_EQ(shownCellText(text), QString::fromUtf16(text));
}
