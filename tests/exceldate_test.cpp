// The Excel date module: serials of the 1900 and 1904 systems, the 1900 leap-day quirk, and
// the readers, writers and displays that rely on it agreeing with one another.

#include "base/CellOps.h"
#include "base/ExcelDate.h"
#include "workbook/DisplayFormat.h"
#include "workbook/xlsx/XlsxFormat.h"

#include <gtest/gtest.h>

#include <QString>

using namespace quellar;

namespace {

QString dateOf(int64_t serial) {
    int y, m, d;
    exceldate::civilFromSerial(serial, y, m, d);
    return QStringLiteral("%1-%2-%3").arg(y).arg(m).arg(d);
}

} // namespace

TEST(ExcelDate, SerialsOfTheNineteenHundredSystem) {
    // Day 0, the first day, the last real day of February, the day that never was, and after.
    EXPECT_EQ(exceldate::serialFromCivil(1899, 12, 31), 0);
    EXPECT_EQ(exceldate::serialFromCivil(1900, 1, 1), 1);
    EXPECT_EQ(exceldate::serialFromCivil(1900, 2, 28), 59);
    EXPECT_EQ(exceldate::serialFromCivil(1900, 2, 29), 60);
    EXPECT_EQ(exceldate::serialFromCivil(1900, 3, 1), 61);
    EXPECT_EQ(exceldate::serialFromCivil(1904, 1, 1), 1462);
    EXPECT_EQ(exceldate::serialFromCivil(2026, 12, 7), 46363);
    EXPECT_EQ(exceldate::serialFromCivil(9999, 12, 31), 2958465);

    EXPECT_EQ(dateOf(0), "1899-12-31");
    EXPECT_EQ(dateOf(59), "1900-2-28");
    EXPECT_EQ(dateOf(60), "1900-2-29");
    EXPECT_EQ(dateOf(61), "1900-3-1");
    EXPECT_EQ(dateOf(46363), "2026-12-7");
    EXPECT_EQ(dateOf(2958465), "9999-12-31");
}

TEST(ExcelDate, EveryDayRoundTrips) {
    for (int64_t serial = 1; serial < int64_t(exceldate::kLastSerial); ++serial) {
        int y, m, d;
        exceldate::civilFromSerial(serial, y, m, d);
        ASSERT_EQ(exceldate::serialFromCivil(y, unsigned(m), unsigned(d)), serial)
            << y << '-' << m << '-' << d;
        ASSERT_TRUE(exceldate::isValidDate(y, m, d) || serial == 60) << serial;
    }
}

TEST(ExcelDate, CalendarAndTimeOfDay) {
    EXPECT_TRUE(exceldate::isValidDate(2000, 2, 29));
    EXPECT_TRUE(exceldate::isValidDate(2024, 2, 29));
    EXPECT_FALSE(exceldate::isValidDate(1900, 2, 29));
    EXPECT_FALSE(exceldate::isValidDate(2023, 2, 29));
    EXPECT_FALSE(exceldate::isValidDate(2023, 4, 31));
    EXPECT_FALSE(exceldate::isValidDate(2023, 13, 1));

    // Noon, and a time a hair before midnight that rounds into the next day.
    exceldate::SerialTime t = exceldate::splitSerial(46363.5, 86400);
    EXPECT_EQ(t.day, 46363);
    EXPECT_EQ(t.ticks, 43200);
    t = exceldate::splitSerial(46363.9999999, 86400);
    EXPECT_EQ(t.day, 46364);
    EXPECT_EQ(t.ticks, 0);
    t = exceldate::splitSerial(46363.25, 86400000);
    EXPECT_EQ(t.ticks, 21600000);

    // A workbook of the 1904 system counts its day 0 as 1904-01-01.
    EXPECT_EQ(exceldate::serialFrom1904(0), 1462);
    EXPECT_EQ(exceldate::serialTo1904(exceldate::serialFrom1904(44000.25)), 44000.25);
}

TEST(ExcelDate, ReadersAndDisplaysAgree) {
    // The same moment as read from an ISO text, shown by variantToText and by a date format.
    double serial = 0;
    ASSERT_TRUE(xlsx::isoDateToSerial("2026-12-07T09:05:07", serial));
    EXPECT_EQ(variantToText(CellValue::fromDateTime(serial)), "2026/12/7 9:05:07");
    EXPECT_EQ(DisplayFormat::parse("yyyy-mm-dd hh:mm:ss").apply(CellValue::fromDateTime(serial)).text,
              "2026-12-07 09:05:07");

    // The leap-day quirk reads, shows and formats the same everywhere.
    ASSERT_TRUE(xlsx::isoDateToSerial("1900-02-28", serial));
    EXPECT_EQ(serial, 59);
    ASSERT_TRUE(xlsx::isoDateToSerial("1900-02-29", serial));
    EXPECT_EQ(serial, 60);
    ASSERT_TRUE(xlsx::isoDateToSerial("1900-03-01", serial));
    EXPECT_EQ(serial, 61);
    EXPECT_EQ(variantToText(CellValue::fromDateTime(60)), "1900/2/29");
    EXPECT_EQ(DisplayFormat::parse("yyyy-mm-dd").apply(CellValue::fromDateTime(60)).text, "1900-02-29");
    const DisplayFormat::DateTimeParts p = DisplayFormat::dateParts(0.75);
    EXPECT_EQ(p.year, 1900);
    EXPECT_EQ(p.month, 1);
    EXPECT_EQ(p.day, 0);
    EXPECT_EQ(p.hour, 18);
    EXPECT_EQ(variantToText(CellValue::fromDateTime(0.75)), "18:00:00");
}
