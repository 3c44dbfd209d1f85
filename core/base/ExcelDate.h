#pragma once
// ExcelDate: the one place that turns spreadsheet day serials into calendar dates and back.
//
// A date-time cell holds a serial of the 1900 date system: whole days since 1899-12-31 plus
// the time as a fraction of a day. That system counts a 29 February 1900 that never was
// (serial 60), so serials from 61 on (1900-03-01) are one day ahead of a plain day count;
// serial 0 is the "day 0" that times without a date fall on. Workbooks saved in the 1904
// date system count from 1904-01-01 instead; their serials are moved to the 1900 system
// when read (`serialFrom1904`). Dates are proleptic Gregorian; every function here is pure
// and cannot fail other than by returning false.

#include <cstdint>

namespace quellar::exceldate {

// Serial 10000-01-01: every serial at or beyond it is no date.
constexpr double kLastSerial = 2958466;
// 1904-01-01 as a serial of the 1900 system.
constexpr double k1904Offset = 1462;

inline double serialFrom1904(double serial) {
    return serial + k1904Offset;
}
inline double serialTo1904(double serial) {
    return serial - k1904Offset;
}

// Days since 1970-01-01 of a date, and back.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
void civilFromDays(int64_t days, int& year, int& month, int& day);

// Whether the day exists in the calendar (1900-02-29 does not).
bool isValidDate(int year, int month, int day);

// The whole-day serial of a date: 1900-02-29 gives 60, days before 1900-03-01 the plain count
// from 1899-12-31 (so 1899-12-31 and 1899-12-30 both give 0), earlier dates negative serials.
int64_t serialFromCivil(int64_t year, unsigned month, unsigned day);

// The date of a whole-day serial: 60 is 1900-02-29, 0 is 1899-12-31 (shown as day 0 of
// January 1900 by programs that keep that quirk).
void civilFromSerial(int64_t serial, int& year, int& month, int& day);

// A serial split into its day and the time of day in `ticksPerDay` units (86400 for seconds,
// 86400000 for milliseconds), rounded to the nearest tick; a time that rounds up to midnight
// moves to the next day.
struct SerialTime {
    int64_t day = 0;
    int64_t ticks = 0;
};
SerialTime splitSerial(double serial, int64_t ticksPerDay);

} // namespace quellar::exceldate
