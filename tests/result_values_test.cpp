// How numbers and dates come back in results: the date rule for texts written into a
// sheet, the shorter forms a General number may be drawn with in a narrow column, and date
// cells surviving export as .xlsx and .xls (re-read by the engine, by openpyxl, and by the
// command line's outputs, where JSON and CSV keep the texts).

#include "Cli.h"
#include "base/CellOps.h"
#include "base/ExcelDate.h"
#include "tests/TestSupport.h"
#include "workbook/DisplayFormat.h"
#include "workbook/RangeReader.h"
#include "workbook/TableWriter.h"
#include "workbook/WorkbookFormat.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

using namespace quellar;

namespace {

QString shownText(const Workbook& book, const Cell* cell) {
    return DisplayFormat::parse(book.styles[cell->style].numberFormat).apply(cell->value).text;
}

// The texts of a result holding dates, near-dates and numbers, column by column.
const QStringList kDateTexts{QStringLiteral("2015/1/1"), QStringLiteral("2026/12/7 9:05:07"),
                             QStringLiteral("1900/1/1"), QStringLiteral("9999/12/31 23:59:59")};
const QStringList kNearDates{QStringLiteral("2015-1-1"),          QStringLiteral("2015/13/1"),
                             QStringLiteral("2015/2/30"),         QStringLiteral("1899/12/31"),
                             QStringLiteral("2015/01/01"),        QStringLiteral("2015/1/1 0:00:00"),
                             QStringLiteral("2015/1/1 09:05:07"), QStringLiteral("1900/2/29"),
                             QStringLiteral("2015/1/1 24:00:00"), QStringLiteral(" 2015/1/1"),
                             QStringLiteral("10000/1/1"),         QStringLiteral("2015/1/1 9:05"),
                             QStringLiteral("２０１５/1/1"),      QStringLiteral("2015/1/1 9:05:07x")};

} // namespace

TEST(TypedTextToDate, OnlyTheExactTextsThatDatesAreWrittenAsQualify) {
    double serial = 0;
    ASSERT_TRUE(typedTextToDate(u"2026/12/7", serial));
    EXPECT_EQ(serial, 46363);
    ASSERT_TRUE(typedTextToDate(u"2026/12/7 9:05:07", serial));
    EXPECT_EQ(serial, 46363 + (9 * 3600 + 5 * 60 + 7) / 86400.0);
    ASSERT_TRUE(typedTextToDate(u"1900/1/1", serial));
    EXPECT_EQ(serial, 1);
    ASSERT_TRUE(typedTextToDate(u"1900/2/28", serial));
    EXPECT_EQ(serial, 59);
    ASSERT_TRUE(typedTextToDate(u"1900/3/1", serial));
    EXPECT_EQ(serial, 61);
    for (const QString& text : kNearDates)
        EXPECT_FALSE(typedTextToDate(text, serial)) << text.toStdString();

    // Every date the program writes reads back as its serial, and the number format chosen
    // for it shows the same text again.
    for (double day = 1; day < 2958466; day += 997) {
        for (double time : {0.0, 0.25, (13 * 3600 + 7 * 60 + 59) / 86400.0}) {
            const double s = day + time;
            if (s == 60) continue; // 1900/2/29 is a text
            const QString text = dateSerialToText(s);
            ASSERT_TRUE(typedTextToDate(text, serial)) << text.toStdString();
            EXPECT_EQ(dateSerialToText(serial), text);
            EXPECT_EQ(DisplayFormat::parse(DisplayFormat::dateTextFormat(serial))
                          .apply(CellValue::fromDateTime(serial))
                          .text,
                      text);
        }
    }
}

// Date texts are written digit by digit; they must be what the plain formatting gives, for
// every kind of serial: day 0 (a time alone), the 1900 leap day, the last day, times that
// round up to the next second, minute, hour and day, and serials outside the dates.
TEST(DateSerialToText, EqualsThePlainFormatting) {
    auto plain = [](double serial) {
        if (!std::isfinite(serial) || serial < 0 || serial > exceldate::kLastSerial)
            return realToText(serial);
        const exceldate::SerialTime t = exceldate::splitSerial(serial, 86400);
        QString date;
        if (t.day > 0) {
            int year, month, day;
            exceldate::civilFromSerial(t.day, year, month, day);
            date = QStringLiteral("%1/%2/%3").arg(year).arg(month).arg(day);
        }
        if (t.ticks == 0) return date.isEmpty() ? QStringLiteral("0:00:00") : date;
        const QString time = QStringLiteral("%1:%2:%3")
                                 .arg(t.ticks / 3600)
                                 .arg((t.ticks / 60) % 60, 2, 10, QChar(u'0'))
                                 .arg(t.ticks % 60, 2, 10, QChar(u'0'));
        return date.isEmpty() ? time : date + u' ' + time;
    };
    std::vector<double> serials{0,
                                0.5,
                                1,
                                59,
                                60,
                                61,
                                1.0 / 86400,
                                86399.5 / 86400,
                                0.9999999999,
                                46363.999999,
                                2958465.9999999,
                                exceldate::kLastSerial,
                                -1,
                                -0.0,
                                2958467,
                                1e-7,
                                std::nan(""),
                                45000.000005787};
    std::mt19937_64 random(8);
    for (int i = 0; i < 200000; ++i)
        serials.push_back(std::ldexp(double(random() >> 11), -53) * 2958466.0);
    for (double serial : serials)
        ASSERT_EQ(dateSerialToText(serial), plain(serial)) << serial;
}

TEST(DisplayFormat, NarrowFormsOfGeneralNumbersLoseDecimalsThenDigits) {
    auto forms = [](double v) {
        QStringList list;
        for (const QString& t : DisplayFormat::generalNarrowing(v))
            list.append(t);
        return list.join(u' ');
    };
    EXPECT_EQ(forms(20257.5), "20257.5 20258 2.02575E+04 2.0258E+04 2.026E+04 2.03E+04 2E+04");
    EXPECT_EQ(forms(1234567890), "1234567890 1.23457E+09 1.2346E+09 1.235E+09 1.23E+09 1.2E+09 1E+09");
    EXPECT_EQ(forms(0.000123), "0.000123 0.00012 0.0001 1.23E-04 1.2E-04 1E-04");
    EXPECT_EQ(forms(-0.5), "-0.5 -1 -5E-01"); // rounded away from zero, never "-0"
    EXPECT_EQ(forms(99.96), "99.96 100 9.996E+01 1E+02");
    EXPECT_EQ(forms(0), "0");

    // Texts, booleans and errors are cut as texts; formatted numbers and dates only have
    // their full text (a cell too narrow for it shows "#").
    const DisplayFormat general;
    EXPECT_TRUE(general.narrowTexts(CellValue::fromString(SharedText(QStringLiteral("12345")))).empty());
    EXPECT_TRUE(general.narrowTexts(CellValue::fromBoolean(true)).empty());
    EXPECT_TRUE(general.narrowTexts(CellValue()).empty());
    EXPECT_EQ(general.narrowTexts(CellValue::fromDateTime(46363)), std::vector<QString>{"2026/12/7"});
    EXPECT_EQ(DisplayFormat::parse("#,##0.00").narrowTexts(CellValue::fromNumber(20257.5)),
              std::vector<QString>{"20,257.50"});
    EXPECT_EQ(DisplayFormat::parse("yyyy/m/d").narrowTexts(CellValue::fromNumber(46363)),
              std::vector<QString>{"2026/12/7"});
}

TEST(WriteTableToSheet, DatesBecomeDateCellsThatShowTheSameTextAndNearDatesStayTexts) {
    Workbook book = Workbook::makeDefault();
    const QStringList header{QStringLiteral("日期")};
    std::vector<QStringList> rows{header};
    for (const QString& t : kDateTexts + kNearDates)
        rows.push_back({t, QStringLiteral("20257.500000")});
    RowTable table = test::makeTable(rows);
    table[2][0].fillColorIndex = Fill::Red; // a comparison mark stays on a date
    table[3][0].mergeState = MergeState::Anchor;
    table[3][0].mergeColumns = 2;
    table[3][1].mergeState = MergeState::Covered;
    NullProgress progress;
    ASSERT_TRUE(writeTableToSheet(book, 1, QStringLiteral("结果"), table, progress, 1).isOk());

    const Sheet& sheet = book.sheets[0];
    for (qsizetype i = 0; i < kDateTexts.size(); ++i) {
        const Cell* cell = sheet.cell(int32_t(i) + 1, 0);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->value.type(), CellValue::Type::DateTime) << kDateTexts[i].toStdString();
        EXPECT_EQ(shownText(book, cell), kDateTexts[i]);
        EXPECT_EQ(book.styles[cell->style].numberFormat,
                  kDateTexts[i].contains(u':') ? "yyyy/m/d h:mm:ss" : "yyyy/m/d");
    }
    EXPECT_EQ(book.styles[sheet.cell(2, 0)->style].fillPalette, Fill::Red);
    EXPECT_EQ(sheet.merges, (std::vector<CellRange>{CellRange{3, 0, 3, 1}}));
    for (qsizetype i = 0; i < kNearDates.size(); ++i) {
        const Cell* cell = sheet.cell(int32_t(i + kDateTexts.size()) + 1, 0);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->value.type(), CellValue::Type::String) << kNearDates[i].toStdString();
        EXPECT_EQ(cell->value.text().toQString(), kNearDates[i]);
        EXPECT_TRUE(book.styles[cell->style].numberFormat.isEmpty());
    }
    EXPECT_EQ(sheet.cell(2, 1)->value.type(), CellValue::Type::Number);

    // Read back as a table, the result gives the texts it was written from (trimmed, as
    // every cell read is).
    const RowTable back = readRange(book, sheet, clipUsedRange(sheet), progress, 1);
    ASSERT_EQ(back.size(), table.size());
    for (size_t r = 0; r < back.size(); ++r)
        EXPECT_EQ(back[r][0].text.toQString(), table[r][0].text.toQString().trimmed()) << r;

    // Exported and re-read, the dates are date cells showing the same text.
    QTemporaryDir dir;
    for (const auto& [name, kind] :
         {std::pair{"r.xlsx", FileKind::Xlsx}, std::pair{"r.xls", FileKind::Xls}}) {
        const QString path = dir.filePath(QLatin1String(name));
        ASSERT_TRUE(writeWorkbook(book, path, kind).isOk()) << name;
        Workbook reread;
        ASSERT_TRUE(readWorkbook(path, reread).isOk()) << name;
        const Sheet& s = reread.sheets[0];
        for (qsizetype i = 0; i < kDateTexts.size(); ++i) {
            const Cell* cell = s.cell(int32_t(i) + 1, 0);
            ASSERT_NE(cell, nullptr) << name;
            EXPECT_EQ(cell->value.type(), CellValue::Type::DateTime)
                << name << " " << kDateTexts[i].toStdString();
            EXPECT_EQ(shownText(reread, cell), kDateTexts[i]) << name;
        }
        EXPECT_EQ(reread.styles[s.cell(2, 0)->style].fillPalette, Fill::Red) << name;
        for (qsizetype i = 0; i < kNearDates.size(); ++i) {
            const Cell* cell = s.cell(int32_t(i + kDateTexts.size()) + 1, 0);
            ASSERT_NE(cell, nullptr) << name;
            EXPECT_EQ(cell->value.type(), CellValue::Type::String)
                << name << " " << kNearDates[i].toStdString();
        }
    }
}

namespace {

struct CliRun {
    int status = -1;
    QString err;
};

CliRun runCli(const QStringList& arguments) {
    std::ostringstream out, err;
    CliRun run;
    run.status = cli::runCli(arguments, out, err, false);
    run.err = QString::fromStdString(err.str());
    return run;
}

} // namespace

TEST(CliResultDates, WorkbookOutputsHoldDateCellsWhileJsonAndCsvKeepTheTexts) {
    QTemporaryDir dir;
    const QString source = dir.filePath("staff.csv");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("工号,入职日期,工资\n"
                                  "A1,2015/1/1,8500\n"
                                  "A2,2015-1-1,9000.5\n"
                                  "A3,2026/12/7 9:05:07,20257.5\n")
                       .toUtf8());
    }
    auto run = [&](const QString& output) {
        const CliRun r = runCli({"blank-rows", "--count", "1", source, "-o", output, "--quiet"});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
    };
    // Every row is followed by a blank one: data rows land on 0-based rows 2, 4 and 6.
    for (const char* name : {"r.xlsx", "r.xls"}) {
        const QString output = dir.filePath(QLatin1String(name));
        run(output);
        Workbook book;
        ASSERT_TRUE(readWorkbook(output, book).isOk()) << name;
        const Sheet& sheet = book.sheets[0];
        EXPECT_EQ(sheet.cell(2, 1)->value.type(), CellValue::Type::DateTime) << name;
        EXPECT_EQ(shownText(book, sheet.cell(2, 1)), "2015/1/1") << name;
        EXPECT_EQ(sheet.cell(4, 1)->value.type(), CellValue::Type::String) << name;
        EXPECT_EQ(sheet.cell(6, 1)->value.type(), CellValue::Type::DateTime) << name;
        EXPECT_EQ(shownText(book, sheet.cell(6, 1)), "2026/12/7 9:05:07") << name;
        EXPECT_EQ(sheet.cell(6, 2)->value.type(), CellValue::Type::Number) << name;
    }

    const QString csv = dir.filePath("r.csv");
    run(csv);
    QFile csvFile(csv);
    ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
    const QString csvText = QString::fromUtf8(csvFile.readAll());
    EXPECT_TRUE(csvText.contains("A1,2015/1/1,")) << csvText.toStdString();
    EXPECT_TRUE(csvText.contains("A3,2026/12/7 9:05:07,")) << csvText.toStdString();

    const QString json = dir.filePath("r.json");
    run(json);
    QFile jsonFile(json);
    ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(jsonFile.readAll())
                                .object()["sheets"]
                                .toArray()[0]
                                .toObject()["rows"]
                                .toArray();
    ASSERT_GE(rows.size(), 7);
    EXPECT_EQ(rows[2].toArray()[1].toObject()["text"].toString(), "2015/1/1");
    EXPECT_EQ(rows[6].toArray()[1].toObject()["text"].toString(), "2026/12/7 9:05:07");

    // A real xlsx reader sees date cells whose format shows the same text.
    // openpyxl: the reader many users' scripts use.
    const QString python = test::pythonWith("openpyxl");
    if (python.isEmpty())
        GTEST_SKIP() << "python3 with openpyxl is not installed (scripts/setup.sh installs it)";
    QProcess p;
    p.start(python, {"-c",
                     "import sys, openpyxl\n"
                     "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                     "for row in (3, 5, 7):\n"
                     "    c = ws.cell(row=row, column=2)\n"
                     "    v = c.value\n"
                     "    shown = f'{v.year}/{v.month}/{v.day}' if c.is_date else str(v)\n"
                     "    if c.is_date and (v.hour or v.minute or v.second):\n"
                     "        shown += f' {v.hour}:{v.minute:02}:{v.second:02}'\n"
                     "    print(c.is_date, c.number_format, shown, sep='|')\n",
                     dir.filePath("r.xlsx")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), "True|yyyy/m/d|2015/1/1\n"
                                                            "False|General|2015-1-1\n"
                                                            "True|yyyy/m/d h:mm:ss|2026/12/7 9:05:07\n")
        << p.readAllStandardError().toStdString();
}
