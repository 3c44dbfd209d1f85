// The .xls reader (compound file and BIFF8/BIFF5 records) and writer, on the workbooks of
// tests/data/xls (tests/data/xls/make_xls_fixtures.py: one file for each cause FreeXL refused
// real workbooks for, plus files written by xlwt and LibreOffice), differentially against
// python3-xlrd, and on hostile containers.

#include "base/CellOps.h"
#include "tests/TestSupport.h"
#include "tests/WorkbookCells.h"
#include "workbook/DisplayFormat.h"
#include "workbook/Workbook.h"
#include "workbook/WorkbookFormat.h"
#include "workbook/containers/CompoundFile.h"
#include "workbook/xls/BiffReader.h"
#include "workbook/xls/BiffWriter.h"
#include "workbook/xls/XlsFormat.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>

namespace quellar {
namespace {

using test::testDataPath;

Workbook readOk(const QString& path) {
    Workbook book;
    const Status s = readWorkbook(path, book);
    EXPECT_TRUE(s.isOk()) << path.toStdString() << ": " << s.message().toStdString();
    return book;
}
Workbook readData(const char* name) {
    return readOk(testDataPath(QStringLiteral("xls/") + QString::fromLatin1(name)));
}

const Cell* cellAt(const Sheet& sheet, const char* ref) {
    int32_t row, column;
    if (!xlsx::parseCellReference(ref, row, column)) return nullptr;
    return sheet.cell(row, column);
}
CellValue valueAt(const Sheet& sheet, const char* ref) {
    const Cell* c = cellAt(sheet, ref);
    return c ? c->value : CellValue();
}
QString textAt(const Sheet& sheet, const char* ref) {
    const Cell* c = cellAt(sheet, ref);
    return c ? c->value.text().toQString() : QStringLiteral("<none>");
}
const Style& styleAt(const Workbook& book, const Sheet& sheet, const char* ref) {
    static const Style none;
    const Cell* c = cellAt(sheet, ref);
    return c && c->style < book.styles.size() ? book.styles[c->style] : none;
}

void expectValue(const Sheet& s, const char* ref, CellValue::Type type, double number) {
    const CellValue v = valueAt(s, ref);
    EXPECT_EQ(v.type(), type) << ref;
    EXPECT_EQ(v.number(), number) << ref;
}
void expectText(const Sheet& s, const char* ref, const QString& text,
                CellValue::Type type = CellValue::Type::String) {
    const CellValue v = valueAt(s, ref);
    EXPECT_EQ(v.type(), type) << ref;
    EXPECT_EQ(v.text().toQString(), text) << ref;
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST(XlsRead, CellsFormulaResultsFormatsAndLayout) {
    for (const char* name : {"values.xls", "dates1904.xls"}) {
        SCOPED_TRACE(name);
        const bool in1904 = std::strcmp(name, "dates1904.xls") == 0;
        const double shift = in1904 ? 1462 : 0;
        const Workbook book = readData(name);
        ASSERT_EQ(book.sheets.size(), 2u);
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.name, QStringLiteral("数据"));
        EXPECT_EQ(book.activeSheet, 0);
        EXPECT_EQ(book.defaultFontName, QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(book.defaultFontSize, 10);

        expectText(s, "A1", QStringLiteral("名称"));
        expectText(s, "B1", QStringLiteral("Plain"));
        expectText(s, "C1", QString()); // an empty shared string
        expectText(s, "D1", QString()); // an empty LABEL
        expectText(s, "E1", QStringLiteral("金额"));
        expectValue(s, "A2", CellValue::Type::Number, 12.5);
        expectValue(s, "B2", CellValue::Type::Number, 42);    // RK integer
        expectValue(s, "C2", CellValue::Type::Number, 12.34); // RK hundredths
        expectValue(s, "D2", CellValue::Type::Number, 0.5);   // RK float
        expectValue(s, "A3", CellValue::Type::Number, 7);     // MULRK
        expectValue(s, "B3", CellValue::Type::Number, -3);
        EXPECT_EQ(styleAt(book, s, "B3").numberFormat, QStringLiteral("0.000"));
        for (const char* ref : {"C3", "D3", "E3"}) { // MULBLANK: formatted empty cells
            ASSERT_NE(cellAt(s, ref), nullptr) << ref;
            EXPECT_TRUE(valueAt(s, ref).isEmpty()) << ref;
        }
        EXPECT_TRUE(styleAt(book, s, "C3").hasFill);

        // Dates: built-in 14, the East Asian 31 and 57, a time of day, a custom date-time.
        expectValue(s, "A4", CellValue::Type::DateTime, 46363 + shift);
        EXPECT_EQ(styleAt(book, s, "A4").numberFormat, builtinNumberFormat(14));
        expectValue(s, "B4", CellValue::Type::DateTime, 46363 + shift);
        EXPECT_EQ(styleAt(book, s, "B4").numberFormat, QStringLiteral("yyyy\"年\"m\"月\"d\"日\""));
        expectValue(s, "C4", CellValue::Type::DateTime, 46363 + shift);
        EXPECT_EQ(styleAt(book, s, "C4").numberFormat, builtinNumberFormat(57));
        expectValue(s, "D4", CellValue::Type::DateTime, 0.5 + shift);
        expectValue(s, "E4", CellValue::Type::DateTime, 46363.75 + shift);
        EXPECT_EQ(styleAt(book, s, "E4").numberFormat, QStringLiteral("yyyy-mm-dd hh:mm"));
        expectValue(s, "F4", CellValue::Type::Number, 3.14159);
        expectValue(s, "G4", CellValue::Type::Number, 7); // an empty format code is General
        EXPECT_TRUE(styleAt(book, s, "G4").numberFormat.isEmpty());
        expectValue(s, "H4", CellValue::Type::DateTime, 0.75 + shift); // h"时"mm"分" (id 32)

        // Booleans and errors as the xlsx reader gives them.
        expectValue(s, "A5", CellValue::Type::Boolean, 1);
        expectValue(s, "B5", CellValue::Type::Boolean, 0);
        EXPECT_EQ(variantToText(valueAt(s, "A5")), QStringLiteral("-1"));
        expectText(s, "C5", QStringLiteral("#DIV/0!"), CellValue::Type::Error);
        expectText(s, "D5", QStringLiteral("#N/A"), CellValue::Type::Error);

        // Formula results: number, text (STRING record), boolean, error, empty text, date.
        expectValue(s, "A6", CellValue::Type::Number, 99.5);
        expectText(s, "B6", QStringLiteral("合计"));
        expectValue(s, "C6", CellValue::Type::Boolean, 1);
        expectText(s, "D6", QStringLiteral("#REF!"), CellValue::Type::Error);
        expectText(s, "E6", QString());
        expectValue(s, "F6", CellValue::Type::DateTime, 46363 + shift);
        expectText(s, "G6", QString());
        expectText(s, "A7", QStringLiteral("富文本")); // RSTRING

        // Fonts, fills, alignment.
        // 宋体 12 bold in red on yellow (palette 6), centred both ways, wrapped.
        EXPECT_EQ(test::styleText(styleAt(book, s, "A1")),
                  QStringLiteral("{|fill 1 6 ffff00|font 宋体 12 10 1 ff0000|align 2 2 1}"));
        const Style& b1 = styleAt(book, s, "B1");
        EXPECT_TRUE(b1.fontName.isEmpty()); // the default font
        EXPECT_TRUE(b1.italic);
        EXPECT_FALSE(b1.hasFill);
        EXPECT_EQ(b1.horizontal, HAlign::Right);
        EXPECT_EQ(b1.vertical, VAlign::Top);

        // Layout and page setup.
        EXPECT_EQ(s.merges, (std::vector<CellRange>{{0, 0, 0, 1}, {7, 2, 9, 3}}));
        EXPECT_DOUBLE_EQ(s.columnWidth(1), characterWidthToPoints(16));
        EXPECT_DOUBLE_EQ(s.columnWidth(2), characterWidthToPoints(16));
        EXPECT_DOUBLE_EQ(s.rowHeight(0), 30);
        ASSERT_NE(s.row(5), nullptr);
        EXPECT_TRUE(s.row(5)->hidden);
        EXPECT_DOUBLE_EQ(s.defaultRowHeight, 13.5);
        EXPECT_EQ(test::pageSetupText(s.pageSetup),
                  QStringLiteral(
                      "paper 9 landscape scale 85 fit 1x0 margins 0.5 0.6 0.7 0.8 0.25 0.35 titles 0-1"));
        EXPECT_EQ(s.rowBreaks, (std::vector<int32_t>{11, 21}));
        EXPECT_TRUE(s.isProtected);

        const Sheet& second = book.sheets[1];
        EXPECT_EQ(second.name, QStringLiteral("第二页"));
        EXPECT_TRUE(second.hidden);
        expectText(second, "A1", QStringLiteral("金额"));
    }
}

// Each file stands for one cause of FreeXL's refusals ("无法读取（错误代码 -2）").
TEST(XlsRead, WhatFreeXlRefused) {
    {
        SCOPED_TRACE("a chart embedded in the worksheet");
        const Workbook book = readData("chart_embedded.xls");
        ASSERT_EQ(book.sheets.size(), 1u);
        const Sheet& s = book.sheets[0];
        expectValue(s, "A1", CellValue::Type::Number, 1);
        expectValue(s, "B1", CellValue::Type::Number, 2);
        expectText(s, "A2", QStringLiteral("x"));
        expectText(s, "F6", QStringLiteral("after"));
    }
    {
        SCOPED_TRACE("empty strings");
        const Workbook book = readData("empty_strings.xls");
        const Sheet& s = book.sheets[0];
        expectText(s, "A1", QString());
        expectText(s, "B1", QStringLiteral("b"));
        expectText(s, "A2", QString());
        expectValue(s, "B2", CellValue::Type::Number, 5);
        expectText(s, "A3", QString());
    }
    {
        SCOPED_TRACE("cells outside DIMENSIONS");
        const Workbook book = readData("outside_dimensions.xls");
        const Sheet& s = book.sheets[0];
        expectValue(s, "A1", CellValue::Type::Number, 1);
        expectValue(s, "C5", CellValue::Type::Number, 3);
        expectText(s, "IV65536", QStringLiteral("last"));
        EXPECT_EQ(s.rows.size(), 3u); // memory for the cells present only
    }
    {
        SCOPED_TRACE("a 32,770-character string");
        const Workbook book = readData("long_string.xls");
        const Sheet& s = book.sheets[0];
        const QString expected = QString(20000, u'a') + QString(12770, QChar(u'长'));
        EXPECT_EQ(textAt(s, "A1").size(), 32770);
        EXPECT_TRUE(textAt(s, "A1") == expected);
        expectText(s, "A2", QStringLiteral("short"));
        EXPECT_TRUE(textAt(s, "A3") == QString(10000, QChar(u'字')));
    }
    for (const char* name : {"stream_4096.xls", "small_stream.xls", "upper_case.xls"}) {
        SCOPED_TRACE(name); // exactly 4096 bytes; in the mini stream at an offset; WORKBOOK
        const Workbook book = readData(name);
        ASSERT_EQ(book.sheets.size(), 1u);
        expectValue(book.sheets[0], "A1", CellValue::Type::Number, 4096);
        expectText(book.sheets[0], "B1", QStringLiteral("4096"));
    }
    {
        SCOPED_TRACE("not a whole number of sectors");
        EXPECT_NE(QFileInfo(testDataPath(QStringLiteral("xls/partial_sector.xls"))).size() % 512, 0);
        const Workbook book = readData("partial_sector.xls");
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.rows.size(), 401u);
        expectValue(s, "A400", CellValue::Type::Number, 399);
        expectText(s, "A401", QStringLiteral("end"));
    }
    {
        SCOPED_TRACE("BIFF5 with CODEPAGE 936");
        const Workbook book = readData("biff5_codepage.xls");
        ASSERT_EQ(book.sheets.size(), 1u);
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.name, QStringLiteral("表一"));
        expectText(s, "A1", QStringLiteral("中文文字"));
        expectText(s, "A2", QStringLiteral("第二行"));
        expectValue(s, "B1", CellValue::Type::DateTime, 46363);
        expectValue(s, "B2", CellValue::Type::Number, 5);
    }
    {
        SCOPED_TRACE("BIFF5 without CODEPAGE: Windows-1252");
        const Workbook book = readData("biff5_no_codepage.xls");
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.name, QStringLiteral("Feuille"));
        expectText(s, "A1", QStringLiteral("café €"));
        expectText(s, "A2", QStringLiteral("naïve"));
    }
    {
        SCOPED_TRACE("BIFF5 stream named BOOK");
        const Workbook book = readData("biff5_upper_case.xls");
        expectText(book.sheets[0], "A1", QStringLiteral("BOOK"));
    }
}

TEST(XlsRead, ActiveSheetAndWorksheetsOnly) {
    const Workbook second = readData("active_second.xls");
    ASSERT_EQ(second.sheets.size(), 2u);
    EXPECT_EQ(second.activeSheet, 1);

    // A chart sheet first, the worksheet active, then a macro sheet and a dialog sheet.
    const Workbook book = readData("chart_sheet_first.xls");
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].name, QStringLiteral("数据"));
    EXPECT_EQ(book.activeSheet, 0);
    expectText(book.sheets[0], "A1", QStringLiteral("数据"));
    expectValue(book.sheets[0], "A2", CellValue::Type::Number, 2);
}

TEST(XlsRead, EncryptedWorkbooksAreNamedAsSuch) {
    for (const char* name : {"encrypted.xls", "encrypted_package.xls"}) {
        Workbook book;
        const Status s = readWorkbook(testDataPath(QStringLiteral("xls/") + QString::fromLatin1(name)), book);
        ASSERT_FALSE(s.isOk()) << name;
        EXPECT_TRUE(s.message().contains(QStringLiteral("已加密"))) << s.message().toStdString();
        EXPECT_TRUE(s.message().contains(QString::fromLatin1(name))) << s.message().toStdString();
        EXPECT_TRUE(book.sheets.empty());
    }
}

TEST(XlsRead, WrittenByXlwtAndLibreOffice) {
    {
        const Workbook book = readData("xlwt.xls");
        ASSERT_EQ(book.sheets.size(), 2u);
        EXPECT_EQ(book.activeSheet, 1);
        const Sheet& s = book.sheets[0];
        expectText(s, "A1", QStringLiteral("名称"));
        EXPECT_TRUE(styleAt(book, s, "A1").bold);
        EXPECT_EQ(styleAt(book, s, "A1").fillRgb, 0xFFFF00u);
        expectValue(s, "B2", CellValue::Type::Number, -48.75);
        expectValue(s, "C2", CellValue::Type::DateTime, 43832);
        expectValue(s, "E2", CellValue::Type::Boolean, 0);
        EXPECT_EQ(s.merges, (std::vector<CellRange>{{201, 0, 202, 2}}));
        EXPECT_DOUBLE_EQ(s.rowHeight(1), 30);
    }
    {
        const Workbook book = readData("libreoffice.xls");
        ASSERT_EQ(book.sheets.size(), 2u);
        EXPECT_EQ(book.activeSheet, 1);
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.name, QStringLiteral("汇总"));
        expectValue(s, "D2", CellValue::Type::Number, 1.5); // =B2*C2, cached
        expectValue(s, "E2", CellValue::Type::DateTime, 46024);
        double sum = 0;
        for (int i = 1; i <= 30; ++i)
            sum += i * 1.5 * (i % 7);
        expectValue(s, "D33", CellValue::Type::Number, sum);
        expectText(s, "E33", QStringLiteral("大"));
        expectText(s, "F33", QStringLiteral("#DIV/0!"), CellValue::Type::Error);
        expectValue(s, "G33", CellValue::Type::Boolean, 1);
        expectText(s, "H33", QString());
        expectText(s, "I33", QStringLiteral("#N/A"), CellValue::Type::Error);
        EXPECT_EQ(s.merges, (std::vector<CellRange>{{34, 0, 35, 2}}));
        EXPECT_TRUE(styleAt(book, s, "A1").bold);
        EXPECT_EQ(styleAt(book, s, "A1").fillRgb, 0xFFFF00u);
        EXPECT_DOUBLE_EQ(s.rowHeight(0), 30);
        const Sheet& t = book.sheets[1];
        expectValue(t, "B2", CellValue::Type::DateTime, 0.5);
        expectValue(t, "B3", CellValue::Type::Boolean, 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile containers and records

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}
uint32_t get32(const QByteArray& b, int at) {
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}
void set32(QByteArray& b, int at, uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
Status readBytes(const QByteArray& bytes, Workbook& book) {
    const MemoryBytes source(std::string_view(bytes.constData(), size_t(bytes.size())));
    return XlsFormat::readFrom(source, book);
}

TEST(XlsRead, BrokenContainersEndInAMessage) {
    const QByteArray good = fileBytes(testDataPath(QStringLiteral("xls/small_stream.xls")));
    Workbook book;
    ASSERT_TRUE(readBytes(good, book).isOk());
    const uint32_t dirStart = get32(good, 48);
    struct Case {
        const char* what;
        std::function<void(QByteArray&)> change;
    } cases[] = {
        {"directory beyond the file", [](QByteArray& b) { set32(b, 48, 0x00FFFFF0); }},
        {"directory chain loops", [&](QByteArray& b) { set32(b, 512 + 4 * int(dirStart), dirStart); }},
        {"allocation table beyond the file", [](QByteArray& b) { set32(b, 76, 5000); }},
        {"bad sector size", [](QByteArray& b) { b[30] = 20; }},
        {"truncated header", [](QByteArray& b) { b.truncate(300); }},
        {"bad signature", [](QByteArray& b) { b[3] = 'x'; }},
        {"no directory", [](QByteArray& b) { set32(b, 48, 0xFFFFFFFE); }},
        {"mini stream chain loops",
         [](QByteArray& b) {
             // Every mini sector points at itself.
             const int miniFat = 512 + 512 * int(get32(b, 60));
             for (int i = 0; i < 128; ++i)
                 set32(b, miniFat + 4 * i, uint32_t(i));
         }},
    };
    for (const Case& c : cases) {
        QByteArray bytes = good;
        c.change(bytes);
        Workbook b;
        const Status s = readBytes(bytes, b);
        EXPECT_FALSE(s.isOk()) << c.what;
        EXPECT_FALSE(s.message().isEmpty()) << c.what;
        EXPECT_TRUE(b.sheets.empty()) << c.what;
    }
}

TEST(XlsRead, TruncatedAndScrambledStreamsNeverCrash) {
    for (const char* name : {"values.xls", "long_string.xls", "biff5_codepage.xls", "libreoffice.xls"}) {
        const QByteArray good = fileBytes(testDataPath(QStringLiteral("xls/") + QString::fromLatin1(name)));
        // Every cut of the file and a few thousand single-byte changes: a message or a workbook.
        for (int cut = 0; cut < good.size(); cut += 97) {
            Workbook book;
            const Status s = readBytes(good.left(cut), book);
            if (!s.isOk()) EXPECT_FALSE(s.message().isEmpty());
        }
        uint32_t state = 12345;
        for (int i = 0; i < 2000; ++i) {
            QByteArray bytes = good;
            state = state * 1103515245u + 12345u;
            const int at = 512 + int((state >> 8) % uint32_t(bytes.size() - 512));
            bytes[at] = char(state >> 24);
            Workbook book;
            const Status s = readBytes(bytes, book);
            if (!s.isOk()) EXPECT_FALSE(s.message().isEmpty());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Differential: xlrd 1.2 reads the same files

QJsonObject xlrdDump(const QString& python, const QString& path, const QString& encoding = {}) {
    QProcess p;
    QStringList arguments{testDataPath(QStringLiteral("xls/xlrd_dump.py")), path};
    if (!encoding.isEmpty()) arguments << encoding;
    p.start(python, arguments);
    if (!p.waitForFinished(300000)) return {};
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// Compares what xlrd reads with what our reader reads; names the first differences.
void expectSameAsXlrd(const QJsonObject& dump, const Workbook& book, const QString& what) {
    SCOPED_TRACE(what.toStdString());
    ASSERT_FALSE(dump.contains(QStringLiteral("error")))
        << dump.value(QStringLiteral("error")).toString().toStdString();
    const QJsonArray sheets = dump.value(QStringLiteral("sheets")).toArray();
    size_t ours = 0;
    int xlrdActive = -1, activeCount = 0;
    for (const QJsonValue& sv : sheets) {
        const QJsonObject sheet = sv.toObject();
        const QString name = sheet.value(QStringLiteral("name")).toString();
        // xlrd lists dialog sheets among the worksheets; this reader leaves them out.
        if (ours >= book.sheets.size() || book.sheets[ours].name != name) continue;
        if (sheet.value(QStringLiteral("active")).toBool()) {
            xlrdActive = int(ours);
            ++activeCount;
        }
        const Sheet& s = book.sheets[ours++];
        int differences = 0;
        size_t cellsThere = 0;
        for (const QJsonValue& cv : sheet.value(QStringLiteral("cells")).toArray()) {
            const QJsonArray c = cv.toArray();
            const int row = c[0].toInt(), column = c[1].toInt();
            const QString kind = c[2].toString();
            const QString where = name + QLatin1Char('!') + columnAddress(column + 1, row + 1);
            const Cell* cell = s.cell(row, column);
            ++cellsThere;
            if (!cell) {
                ADD_FAILURE() << where.toStdString() << ": missing";
                if (++differences > 5) break;
                continue;
            }
            const CellValue& v = cell->value;
            bool same = true;
            if (kind == u"text")
                same = v.type() == CellValue::Type::String && v.text().toQString() == c[3].toString();
            else if (kind == u"number")
                same = v.type() == CellValue::Type::Number && v.number() == c[3].toDouble();
            else if (kind == u"date")
                same = v.type() == CellValue::Type::DateTime && v.number() == c[3].toDouble();
            else if (kind == u"boolean")
                same = v.type() == CellValue::Type::Boolean && (v.number() != 0) == c[3].toBool();
            else if (kind == u"error")
                same = v.type() == CellValue::Type::Error && v.text().toQString() == c[3].toString();
            else if (kind == u"blank")
                same = v.type() == CellValue::Type::Empty;
            const QJsonValue fill = c[5];
            const Style& style = cell->style < book.styles.size() ? book.styles[cell->style] : Style();
            if (!fill.isNull()) same = same && style.hasFill && style.fillRgb == uint32_t(fill.toInt());
            if (!same) {
                ADD_FAILURE() << where.toStdString() << ": xlrd " << kind.toStdString() << " "
                              << QJsonDocument(c).toJson(QJsonDocument::Compact).toStdString()
                              << ", ours type " << int(v.type()) << " " << variantToText(v).toStdString();
                if (++differences > 5) break;
            }
        }
        // No cell of ours that xlrd does not have (xlrd drops nothing it reads).
        size_t ourCells = 0;
        for (const SheetRow& r : s.rows)
            ourCells += r.cells.size();
        EXPECT_EQ(ourCells, cellsThere) << name.toStdString();
        std::vector<CellRange> merges;
        for (const QJsonValue& mv : sheet.value(QStringLiteral("merges")).toArray()) {
            const QJsonArray m = mv.toArray(); // rlo, rhi, clo, chi; the high ends exclusive
            merges.push_back({m[0].toInt(), m[2].toInt(), m[1].toInt() - 1, m[3].toInt() - 1});
        }
        EXPECT_EQ(s.merges, merges) << name.toStdString();
        EXPECT_EQ(s.hidden, sheet.value(QStringLiteral("visible")).toInt() != 0) << name.toStdString();
    }
    EXPECT_EQ(ours, book.sheets.size());
    if (activeCount == 1) EXPECT_EQ(book.activeSheet, xlrdActive);
}

TEST(XlsDifferential, EveryFixtureReadsAsXlrdReadsIt) {
    const QString python = test::pythonWith("xlrd");
    if (python.isEmpty()) GTEST_SKIP() << "python3-xlrd is not installed (scripts/setup.sh installs it)";
    const QDir dir(testDataPath(QStringLiteral("xls")));
    int compared = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name)) {
        if (name.startsWith(u"encrypted")) continue; // xlrd refuses these too (tested above)
        const Workbook book = readOk(dir.filePath(name));
        // A BIFF5 file without CODEPAGE is Windows-1252, as Excel reads it (xlrd would assume ASCII).
        const QString encoding = name == u"biff5_no_codepage.xls" ? QStringLiteral("cp1252") : QString();
        expectSameAsXlrd(xlrdDump(python, dir.filePath(name), encoding), book, name);
        ++compared;
    }
    EXPECT_GE(compared, 15);
}

// ---------------------------------------------------------------------------------------------
// Writing

// A workbook with every kind of value and formatting the model holds.
Workbook richWorkbook() {
    Workbook book = Workbook::makeDefault();
    book.sheets.resize(3);
    Sheet& s = book.sheets[0];
    s.name = QStringLiteral("数据");
    Style header;
    header.bold = true;
    header.hasFill = true;
    header.fillPalette = 6;
    header.fillRgb = paletteColor(6);
    header.horizontal = HAlign::Center;
    header.vertical = VAlign::Center;
    header.wrapText = true;
    header.fontName = QStringLiteral("黑体");
    header.fontSize = 14;
    header.hasFontColor = true;
    header.fontRgb = 0xFF0000;
    const uint32_t h = book.internStyle(header);
    Style money;
    money.numberFormat = QStringLiteral("#,##0.00");
    const uint32_t m = book.internStyle(money);
    Style custom;
    custom.numberFormat = QStringLiteral("0.000;[Red]-0.000");
    custom.italic = true;
    const uint32_t c3 = book.internStyle(custom);
    Style longDate;
    longDate.numberFormat = QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    const uint32_t d = book.internStyle(longDate);
    const char16_t* heads[] = {u"名称", u"金额", u"日期", u"时间", u"布尔", u"错误", u"空"};
    for (int i = 0; i < 7; ++i) {
        Cell& cell = s.cellAt(0, i);
        cell.value = CellValue::fromString(QString::fromUtf16(heads[i]));
        cell.style = h;
    }
    for (int r = 1; r <= 300; ++r) {
        s.cellAt(r, 0).value = CellValue::fromString(QStringLiteral("项目%1 item").arg(r));
        Cell& amount = s.cellAt(r, 1);
        amount.value = CellValue::fromNumber(r * 1.25 - 100 + (r % 3 ? 0.001 : 1e-9));
        amount.style = m;
        s.cellAt(r, 2).value = CellValue::fromDateTime(46000 + r); // no date format: the program's
        s.cellAt(r, 3).value = CellValue::fromDateTime(double(r % 24) / 24 + 0.25 / 24);
        s.cellAt(r, 4).value = CellValue::fromBoolean(r % 2 == 0);
        s.cellAt(r, 5).value = CellValue::fromError(SharedText(r % 2 ? u"#DIV/0!" : u"#N/A"));
        s.cellAt(r, 6); // an empty cell
        Cell& e = s.cellAt(r, 7);
        e.value = CellValue::fromNumber(r == 1 ? 1e300 : -r / 7.0);
        e.style = c3;
        Cell& f = s.cellAt(r, 8);
        f.value = CellValue::fromDateTime(45000.5 + r);
        f.style = d;
    }
    s.cellAt(301, 0).value = CellValue::fromString(QString(20000, QChar(u'长')) + QStringLiteral("end"));
    s.cellAt(302, 0).value = CellValue::fromString(QString());
    s.cellAt(302, 1).value = CellValue::fromString(QStringLiteral("=1+1 as text"));
    s.cellAt(303, 0).value = CellValue::fromNumber(123456789012.0);
    s.cellAt(303, 1).value = CellValue::fromNumber(-0.1);
    s.cellAt(303, 2).value = CellValue::fromNumber(536870911);
    s.cellAt(303, 3).value = CellValue::fromNumber(536870912);
    Cell& formula = s.cellAt(304, 0);
    formula.value = CellValue::fromNumber(42);
    formula.formula = SharedText(u"=6*7");
    s.merges = {{305, 0, 306, 2}, {0, 9, 1, 10}};
    s.columnWidths[0] = 90;
    s.columnWidths[1] = 60;
    s.columnWidths[2] = 60;
    s.columnWidths[255] = 30;
    s.rowAt(0).height = 30;
    s.rowAt(10).hidden = true;
    s.pageSetup.paperSize = 8;
    s.pageSetup.landscape = true;
    s.pageSetup.marginLeft = 0.5;
    s.pageSetup.marginTop = 1.2;
    s.pageSetup.marginHeader = 0.2;
    s.pageSetup.fitToPage = true;
    s.pageSetup.fitToWidth = 1;
    s.pageSetup.fitToHeight = 0;
    s.pageSetup.printTitleFirstRow = 0;
    s.pageSetup.printTitleLastRow = 0;
    s.rowBreaks = {51, 101, 151};
    Sheet& t = book.sheets[1];
    t.name = QStringLiteral("Second");
    t.hidden = true;
    t.cellAt(0, 0).value = CellValue::fromString(QStringLiteral("第二页"));
    t.cellAt(65535, 255).value = CellValue::fromNumber(1);
    t.pageSetup.scale = 75;
    Sheet& u = book.sheets[2];
    u.name = QStringLiteral("空表");
    book.activeSheet = 2;
    return book;
}

void expectSameWorkbook(const Workbook& written, const Workbook& read) {
    ASSERT_EQ(read.sheets.size(), written.sheets.size());
    EXPECT_EQ(read.activeSheet, written.activeSheet);
    for (size_t i = 0; i < written.sheets.size(); ++i) {
        const Sheet& a = written.sheets[i];
        const Sheet& b = read.sheets[i];
        SCOPED_TRACE(a.name.toStdString());
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.hidden, a.hidden);
        EXPECT_EQ(b.merges, a.merges);
        EXPECT_EQ(b.rowBreaks, a.rowBreaks);
        EXPECT_EQ(b.pageSetup.paperSize, a.pageSetup.paperSize);
        EXPECT_EQ(b.pageSetup.landscape, a.pageSetup.landscape);
        EXPECT_EQ(b.pageSetup.scale, a.pageSetup.scale);
        EXPECT_EQ(b.pageSetup.fitToPage, a.pageSetup.fitToPage);
        EXPECT_EQ(b.pageSetup.fitToWidth, a.pageSetup.fitToWidth);
        EXPECT_EQ(b.pageSetup.fitToHeight, a.pageSetup.fitToHeight);
        EXPECT_DOUBLE_EQ(b.pageSetup.marginLeft, a.pageSetup.marginLeft);
        EXPECT_DOUBLE_EQ(b.pageSetup.marginTop, a.pageSetup.marginTop);
        EXPECT_DOUBLE_EQ(b.pageSetup.marginHeader, a.pageSetup.marginHeader);
        EXPECT_EQ(b.pageSetup.printTitleFirstRow, a.pageSetup.printTitleFirstRow);
        EXPECT_EQ(b.pageSetup.printTitleLastRow, a.pageSetup.printTitleLastRow);
        for (const auto& [column, width] : a.columnWidths)
            EXPECT_DOUBLE_EQ(b.columnWidth(column), std::round(width / 0.75) * 0.75) << column;
        int differences = 0;
        for (const SheetRow& row : a.rows) {
            if (row.height >= 0) EXPECT_DOUBLE_EQ(b.rowHeight(row.index), row.height);
            if (row.hidden) EXPECT_TRUE(b.row(row.index) && b.row(row.index)->hidden);
            for (const Cell& cell : row.cells) {
                const Cell* got = b.cell(row.index, int32_t(cell.column));
                const QString where = columnAddress(int(cell.column) + 1, row.index + 1);
                if (!got) {
                    ADD_FAILURE() << where.toStdString() << " missing";
                    if (++differences > 5) return;
                    continue;
                }
                const CellValue& v = cell.value;
                const CellValue& w = got->value;
                const bool same = v.type() == w.type() && v.number() == w.number() && v.text() == w.text();
                if (!same) {
                    ADD_FAILURE() << where.toStdString() << ": wrote type " << int(v.type()) << " "
                                  << variantToText(v).left(40).toStdString() << ", read type "
                                  << int(w.type()) << " " << variantToText(w).left(40).toStdString();
                    if (++differences > 5) return;
                }
                Style sa = written.styles[cell.style];
                const Style& sb = read.styles[got->style];
                if (sa.numberFormat.isEmpty() && v.type() == CellValue::Type::DateTime)
                    sa.numberFormat = sb.numberFormat;
                if (sa.hasFill) EXPECT_EQ(sb.fillRgb, paletteColor(sa.fillPalette)) << where.toStdString();
                EXPECT_EQ(sb.hasFill, sa.hasFill) << where.toStdString();
                EXPECT_EQ(sb.numberFormat, sa.numberFormat) << where.toStdString();
                EXPECT_EQ(sb.bold, sa.bold) << where.toStdString();
                EXPECT_EQ(sb.italic, sa.italic) << where.toStdString();
                EXPECT_EQ(sb.fontName, sa.fontName) << where.toStdString();
                EXPECT_EQ(sb.fontSize, sa.fontSize) << where.toStdString();
                EXPECT_EQ(sb.hasFontColor, sa.hasFontColor) << where.toStdString();
                EXPECT_EQ(sb.horizontal, sa.horizontal) << where.toStdString();
                EXPECT_EQ(sb.vertical, sa.vertical) << where.toStdString();
                EXPECT_EQ(sb.wrapText, sa.wrapText) << where.toStdString();
            }
        }
    }
}

TEST(XlsWrite, RealBiff8ThatReadsBackTheSame) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("结果.xls"));
    const Workbook book = richWorkbook();
    const Status written = writeWorkbook(book, path, fileKindForPath(path));
    ASSERT_TRUE(written.isOk()) << written.message().toStdString();
    const QByteArray bytes = fileBytes(path);
    ASSERT_TRUE(bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
    EXPECT_EQ(bytes.size() % 512, 0);
    const Workbook back = readOk(path);
    expectSameWorkbook(book, back);
    // The dates without a date format got the program's date formats.
    const Sheet& s = back.sheets[0];
    EXPECT_EQ(styleAt(back, s, "C2").numberFormat, DisplayFormat::dateTextFormat(0));
    EXPECT_EQ(styleAt(back, s, "D2").numberFormat, QStringLiteral("h:mm:ss"));
}

TEST(XlsWrite, XlrdReadsTheOutput) {
    const QString python = test::pythonWith("xlrd");
    if (python.isEmpty()) GTEST_SKIP() << "python3-xlrd is not installed (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.xls"));
    const Workbook book = richWorkbook();
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::Xls).isOk());
    const QJsonObject dump = xlrdDump(python, path);
    expectSameAsXlrd(dump, readOk(path), QStringLiteral("our own output"));
    // And what xlrd reads is what was written.
    const QJsonArray cells =
        dump.value(QStringLiteral("sheets")).toArray()[0].toObject().value(QStringLiteral("cells")).toArray();
    int dates = 0;
    for (const QJsonValue& c : cells)
        dates += c.toArray()[2].toString() == u"date";
    EXPECT_EQ(dates, 300 * 3); // C, D and I columns
}

TEST(XlsWrite, LibreOfficeOpensTheOutput) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lo.xls"));
    const Workbook book = richWorkbook();
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::Xls).isOk());
    QProcess p;
    p.start(soffice,
            {QStringLiteral("--headless"), QStringLiteral("--norestore"),
             QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
             QStringLiteral("--convert-to"), QStringLiteral("xlsx"), QStringLiteral("--outdir"),
             dir.filePath(QStringLiteral("out")), path});
    ASSERT_TRUE(p.waitForFinished(180000));
    const QString converted = dir.filePath(QStringLiteral("out/lo.xlsx"));
    ASSERT_TRUE(QFile::exists(converted)) << p.readAllStandardError().toStdString();
    const Workbook back = readOk(converted);
    ASSERT_EQ(back.sheets.size(), book.sheets.size());
    const Sheet& a = book.sheets[0];
    const Sheet& b = back.sheets[0];
    int differences = 0;
    for (const SheetRow& row : a.rows)
        for (const Cell& cell : row.cells) {
            const Cell* got = b.cell(row.index, int32_t(cell.column));
            const CellValue& v = cell.value;
            // LibreOffice keeps no cell for an empty text.
            if (v.isEmpty() || (v.type() == CellValue::Type::String && variantToText(v).isEmpty())) continue;
            // LibreOffice writes numbers to its xlsx with 15 significant digits.
            const bool same =
                got && got->value.type() == v.type() && got->value.text() == v.text() &&
                std::abs(got->value.number() - v.number()) <= 1e-14 * std::max(1.0, std::abs(v.number()));
            if (!same && ++differences <= 5)
                ADD_FAILURE() << columnAddress(int(cell.column) + 1, row.index + 1).toStdString() << ": "
                              << variantToText(v).left(40).toStdString() << " / "
                              << (got ? variantToText(got->value).left(40).toStdString()
                                      : std::string("missing"));
        }
    auto sorted = [](std::vector<CellRange> m) {
        std::sort(m.begin(), m.end(), [](const CellRange& x, const CellRange& y) {
            return std::tie(x.firstRow, x.firstColumn) < std::tie(y.firstRow, y.firstColumn);
        });
        return m;
    };
    EXPECT_EQ(sorted(b.merges), sorted(a.merges));
}

TEST(XlsWrite, BeyondTheXlsGridIsRefusedAndTheEarlierFileKept) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("旧.xls"));
    Workbook small = Workbook::makeDefault();
    small.sheets[0].cellAt(0, 0).value = CellValue::fromString(QStringLiteral("旧内容"));
    ASSERT_TRUE(writeWorkbook(small, path, FileKind::Xls).isOk());
    const QByteArray before = fileBytes(path);

    Workbook tall = Workbook::makeDefault();
    tall.sheets[0].name = QStringLiteral("明细");
    tall.sheets[0].cellAt(65536, 0).value = CellValue::fromNumber(1);
    Status s = writeWorkbook(tall, path, FileKind::Xls);
    ASSERT_FALSE(s.isOk());
    EXPECT_TRUE(s.message().contains(QStringLiteral("65536"))) << s.message().toStdString();
    EXPECT_TRUE(s.message().contains(QStringLiteral(".xlsx"))) << s.message().toStdString();
    EXPECT_TRUE(s.message().contains(QStringLiteral("明细"))) << s.message().toStdString();
    EXPECT_EQ(fileBytes(path), before);

    Workbook wide = Workbook::makeDefault();
    wide.sheets[0].cellAt(0, 256).value = CellValue::fromNumber(1);
    s = writeWorkbook(wide, path, FileKind::Xls);
    ASSERT_FALSE(s.isOk());
    EXPECT_TRUE(s.message().contains(QStringLiteral("256"))) << s.message().toStdString();
    EXPECT_TRUE(s.message().contains(QStringLiteral(".xlsx"))) << s.message().toStdString();
    EXPECT_EQ(fileBytes(path), before);

    Workbook merged = Workbook::makeDefault();
    merged.sheets[0].merges.push_back({65530, 0, 65540, 1});
    EXPECT_FALSE(writeWorkbook(merged, path, FileKind::Xls).isOk());
    EXPECT_EQ(fileBytes(path), before);

    // The largest sheet that fits is written.
    Workbook corner = Workbook::makeDefault();
    corner.sheets[0].cellAt(65535, 255).value = CellValue::fromNumber(7);
    ASSERT_TRUE(writeWorkbook(corner, path, FileKind::Xls).isOk());
    const Workbook back = readOk(path);
    expectValue(back.sheets[0], "IV65536", CellValue::Type::Number, 7);
}

TEST(XlsWrite, LargeStreamsUseTheAllocationIndex) {
    // More than 109 allocation-table sectors (about 7 MB) need DIFAT sectors.
    Workbook book = Workbook::makeDefault();
    Sheet& s = book.sheets[0];
    for (int r = 0; r < 65536; ++r)
        for (int c = 0; c < 12; ++c)
            s.cellAt(r, c).value = CellValue::fromNumber(r + c / 3.0 + 0.123456789);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.xls"));
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::Xls).isOk());
    EXPECT_GT(QFileInfo(path).size(), 8 << 20);
    const Workbook back = readOk(path);
    ASSERT_EQ(back.sheets[0].rows.size(), 65536u);
    expectValue(back.sheets[0], "L65536", CellValue::Type::Number, 65535 + 11 / 3.0 + 0.123456789);
}

TEST(XlsWrite, SharedStringsAcrossContinueRecords) {
    // Many texts, one and two bytes a character, some longer than a record.
    Workbook book = Workbook::makeDefault();
    Sheet& s = book.sheets[0];
    for (int r = 0; r < 3000; ++r) {
        QString text = r % 3 == 0 ? QStringLiteral("text %1").arg(r) : QStringLiteral("文字%1").arg(r);
        if (r % 500 == 7) text = QString(9000 + r, r % 2 ? QChar(u'x') : QChar(u'字'));
        s.cellAt(r, 0).value = CellValue::fromString(text);
        s.cellAt(r, 1).value = CellValue::fromString(QStringLiteral("same"));
    }
    std::string globals, sheets;
    ASSERT_TRUE(biff::buildWorkbookStream(book, globals, sheets).isOk());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sst.xls"));
    ASSERT_TRUE(writeWorkbook(book, path, FileKind::Xls).isOk());
    const Workbook back = readOk(path);
    for (int r = 0; r < 3000; ++r) {
        ASSERT_EQ(back.sheets[0].cell(r, 0)->value.text(), s.cell(r, 0)->value.text()) << r;
        ASSERT_EQ(back.sheets[0].cell(r, 1)->value.text().toQString(), QStringLiteral("same"));
    }
}

} // namespace
} // namespace quellar
