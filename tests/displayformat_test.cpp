// How the grid shows values under their number formats, and the workbook conversion that
// makes the working files.

#include "tests/TestSupport.h"
#include "workbook/DisplayFormat.h"
#include "workbook/ExcelDriver.h"
#include "workbook/WorkbookFormat.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quellar;

namespace {

QString show(const char16_t* format, double value) {
    return DisplayFormat::parse(QString::fromUtf16(format)).apply(CellValue::fromNumber(value)).text;
}

// 2026-12-06 09:05:07 as a 1900-system serial.
constexpr double kSerial = 46362.0 + (9 * 3600 + 5 * 60 + 7) / 86400.0;

} // namespace

TEST(DisplayFormat, ShowsNumbersUnderTheirFormats) {
    struct Case {
        const char16_t* format;
        double value;
        const char16_t* shown;
    };
    const Case cases[] = {
        // General: at most 11 characters, scientific for huge and tiny magnitudes.
        {u"", 3, u"3"},
        {u"General", -2.5, u"-2.5"},
        {u"", 0.1 + 0.2, u"0.3"},
        {u"", 1234567.891, u"1234567.891"},
        {u"", 123456789012.0, u"1.23457E+11"},
        {u"", 0.0000012, u"1.2E-06"},
        {u"", 0, u"0"},
        // Fixed decimals and thousands.
        {u"0", 2.5, u"3"},
        {u"0.00", 3.14159, u"3.14"},
        {u"0.00", -0.001, u"0.00"},
        {u"#,##0", 1234567.4, u"1,234,567"},
        {u"#,##0.00", -1234.5, u"-1,234.50"},
        {u"#,##0.00_);(#,##0.00)", -1234.5, u"(1,234.50)"},
        {u"#.##", 0.5, u".5"},
        {u"0.0#", 2.5, u"2.5"},
        {u"0.0#", 2.567, u"2.57"},
        {u"000000", 42, u"000042"},
        // Percent and scientific.
        {u"0%", 0.256, u"26%"},
        {u"0.00%", 0.5, u"50.00%"},
        {u"0.00E+00", 12345, u"1.23E+04"},
        {u"0.0E+0", 0.00042, u"4.2E-4"},
        // Literal text, currency, sections.
        {u"¥#,##0.00", 1500, u"¥1,500.00"},
        {u"[$¥-804]#,##0", 88, u"¥88"},
        {u"0\"元\"", 12, u"12元"},
        {u"0.0;[Red]-0.0;\"零\"", 0, u"零"},
        {u"0.0;[Red]-0.0", -1.25, u"-1.3"},
        {u"General;General;\"-\"", 0, u"-"},
        // Named formats of XML Spreadsheet 2003.
        {u"Fixed", 1, u"1.00"},
        {u"Standard", 12345.678, u"12,345.68"},
        {u"Percent", 0.125, u"12.50%"},
        {u"Scientific", 1500, u"1.50E+03"},
        // Dates and times.
        {u"yyyy/m/d", kSerial, u"2026/12/6"},
        {u"yyyy-mm-dd hh:mm:ss", kSerial, u"2026-12-06 09:05:07"},
        {u"yyyy\"年\"m\"月\"d\"日\"", kSerial, u"2026年12月6日"},
        {u"m/d/yy", kSerial, u"12/6/26"},
        {u"d-mmm-yy", kSerial, u"6-Dec-26"},
        {u"mmmm", kSerial, u"December"},
        {u"aaaa", kSerial, u"星期日"},
        {u"h:mm AM/PM", kSerial, u"9:05 AM"},
        {u"上午/下午h\"时\"mm\"分\"", kSerial + 0.5, u"下午9时05分"},
        {u"[h]:mm", 1.5, u"36:00"},
        {u"Short Date", kSerial, u"2026/12/6"},
        {u"yyyy/m/d", 60, u"1900/2/29"},
        {u"yyyy/m/d", 61, u"1900/3/1"},
        {u"yyyy/m/d", -1, u"-1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(show(c.format, c.value), QString::fromUtf16(c.shown))
            << "format " << QString::fromUtf16(c.format).toStdString() << " value " << c.value;
}

TEST(DisplayFormat, ShowsOtherValueKinds) {
    const DisplayFormat general;
    EXPECT_EQ(general.apply(CellValue()).text, QString());
    EXPECT_EQ(general.apply(CellValue::fromString(SharedText(u"007"))).text, QStringLiteral("007"));
    EXPECT_EQ(general.apply(CellValue::fromBoolean(true)).text, QStringLiteral("TRUE"));
    EXPECT_EQ(general.apply(CellValue::fromError(SharedText(u"#N/A"))).text, QStringLiteral("#N/A"));
    EXPECT_EQ(general.apply(CellValue::fromDateTime(kSerial)).text, QStringLiteral("2026/12/6 9:05:07"));
    // Text under a text format; a number format leaves texts alone.
    EXPECT_EQ(
        DisplayFormat::parse(QStringLiteral("\"编号\"@")).apply(CellValue::fromString(SharedText(u"7"))).text,
        QStringLiteral("编号7"));
    EXPECT_EQ(
        DisplayFormat::parse(QStringLiteral("0.00")).apply(CellValue::fromString(SharedText(u"abc"))).text,
        QStringLiteral("abc"));
    // A colour code comes back with the text.
    const DisplayText red =
        DisplayFormat::parse(QStringLiteral("0;[Red]-0")).apply(CellValue::fromNumber(-4));
    EXPECT_EQ(red.text, QStringLiteral("-4"));
    EXPECT_EQ(red.color, 0xFF0000);
    EXPECT_TRUE(DisplayFormat::parse(QStringLiteral("yyyy/m/d")).isDate());
    EXPECT_FALSE(DisplayFormat::parse(QStringLiteral("0.00")).isDate());
    EXPECT_TRUE(DisplayFormat::parse(QString()).isGeneral());
}

TEST(DisplayFormat, StrangeFormatsNeverHideAValue) {
    struct Case {
        const char16_t* format;
        const char16_t* shown;
    };
    const Case cases[] = {{u"[", u"12.5"},   {u"\"unterminated", u"unterminated"},
                          {u"@@@", u"12.5"}, {u"[>100]0", u"13"},
                          {u"*", u"12.5"},   {u"\\", u"12.5"}};
    for (const Case& c : cases)
        EXPECT_EQ(show(c.format, 12.5), QString::fromUtf16(c.shown))
            << QString::fromUtf16(c.format).toStdString();
    // An empty section hides values on purpose, as spreadsheet programs do.
    EXPECT_EQ(show(u";;;", 12.5), QString());
}

// The readers, the writers and the grid share one rule for date formats. These are the codes
// on which the reader's rule and the grid's rule once disagreed: AM/PM markers, the weekday
// and a lone m beside digit placeholders.
TEST(DisplayFormat, OneRuleForDateFormats) {
    struct Case {
        const char16_t* code;
        bool date;
    } cases[] = {
        {u"AM/PM", true},  {u"A/P", true},       {u"上午/下午", true}, {u"aaa", true},   {u"aaaa", true},
        {u"m", true},      {u"mmm", true},       {u"[mm]", true},      {u"0.0m", false}, {u"#,##0 m", false},
        {u"0 \\m", false}, {u"\"am\" 0", false}, {u"0;m", true}, // a later section may be the date
    };
    for (const Case& c : cases) {
        const QString code = QString::fromUtf16(c.code);
        EXPECT_EQ(isDateFormatCode(code), c.date) << code.toStdString();
        if (!code.contains(u';')) {
            EXPECT_EQ(isDateFormatSection(code), c.date) << code.toStdString();
            EXPECT_EQ(DisplayFormat::parse(code).isDate(), c.date) << code.toStdString();
        }
    }
    // What the grid then shows.
    const double evening = 46363.75; // 2026-12-07 18:00
    EXPECT_EQ(show(u"AM/PM", evening), QStringLiteral("PM"));
    EXPECT_EQ(show(u"h A/P", evening), QStringLiteral("6 P"));
    EXPECT_EQ(show(u"0.0m", 2.5), QStringLiteral("2.5m"));
}

TEST(ExcelDriver, ConvertWorkbookWritesTheFormatOfTheCode) {
    QTemporaryDir dir;
    const QString source = test::testDataPath(QStringLiteral("xlsx/basic.xlsx"));
    Workbook original;
    ASSERT_TRUE(readWorkbook(source, original).isOk());
    struct Case {
        const char* code;
        const char* target;
        const char* magic;
    };
    // "1" (page subtotals' .xls) and "56" give a real BIFF8 workbook in a compound file.
    const Case cases[] = {{"46", "1.xml", "<?xml"},
                          {"51", "out.xlsx", "PK"},
                          {"1", "page.xls", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"},
                          {"56", "excel8.xls", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"}};
    for (const Case& c : cases) {
        const QString target = dir.filePath(QLatin1String(c.target));
        Workbook converted;
        ASSERT_TRUE(ConvertWorkbook(source, target, QLatin1String(c.code), &converted).isOk()) << c.code;
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(8).startsWith(c.magic)) << c.code;
        Workbook back;
        ASSERT_TRUE(readWorkbook(target, back).isOk());
        ASSERT_EQ(back.sheets.size(), original.sheets.size());
        EXPECT_EQ(converted.sheets.size(), original.sheets.size());
        for (size_t i = 0; i < back.sheets.size(); ++i)
            EXPECT_EQ(back.sheets[i].name, original.sheets[i].name);
    }
}

TEST(ExcelDriver, FailuresNameTheFileAndLeaveTheTargetAlone) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("1.xml"));
    ASSERT_TRUE(test::writeBytes(target, "earlier"));

    Workbook untouched = Workbook::makeDefault();
    const QString broken = test::testDataPath(QStringLiteral("broken/truncated.xlsx"));
    const Status status = ConvertWorkbook(broken, target, QStringLiteral("46"), &untouched);
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("truncated.xlsx")))
        << status.message().toStdString();
    EXPECT_EQ(untouched.sheets.size(), 3u);
    EXPECT_EQ(test::bytesOf(target), QByteArray("earlier"));

    EXPECT_FALSE(
        ConvertWorkbook(test::testDataPath(QStringLiteral("xlsx/basic.xlsx")), target, QStringLiteral("99"))
            .isOk());
    // Never over the source itself.
    EXPECT_FALSE(ConvertWorkbook(target, target, QStringLiteral("46")).isOk());
}
