#include "base/ExcelDate.h"

#include <cmath>

namespace quellar::exceldate {

namespace {
constexpr int64_t kSerialOf1970 = 25569; // 1970-01-01 as a serial of the 1900 system
}

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(y + (month <= 2));
}

bool isValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int64_t serialFromCivil(int64_t year, unsigned month, unsigned day) {
    if (year == 1900 && month == 2 && day == 29) return 60;
    int64_t serial = daysFromCivil(year, month, day) + kSerialOf1970;
    if (serial > 0 && serial < 61) serial -= 1; // before the day that never was
    return serial;
}

void civilFromSerial(int64_t serial, int& year, int& month, int& day) {
    if (serial == 60) {
        year = 1900, month = 2, day = 29;
        return;
    }
    civilFromDays(serial < 60 ? serial - kSerialOf1970 + 1 : serial - kSerialOf1970, year, month, day);
}

SerialTime splitSerial(double serial, int64_t ticksPerDay) {
    SerialTime t;
    t.day = int64_t(std::floor(serial));
    t.ticks = std::llround((serial - double(t.day)) * double(ticksPerDay));
    if (t.ticks >= ticksPerDay) {
        t.ticks -= ticksPerDay;
        ++t.day;
    }
    return t;
}

} // namespace quellar::exceldate
