#include "cabclient/dos_time.h"

#include <cstdio>

namespace cabclient {
namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool DosDateTimeToUnix(uint16_t dosDate, uint16_t dosTime, std::time_t& out) {
    const int year = 1980 + (dosDate >> 9);
    const int month = (dosDate >> 5) & 0x0F;
    const int day = dosDate & 0x1F;
    const int hour = dosTime >> 11;
    const int minute = (dosTime >> 5) & 0x3F;
    const int halfSeconds = dosTime & 0x1F;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    if (hour > 23 || minute > 59 || halfSeconds > 29) return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = halfSeconds * 2;
    tm.tm_isdst = -1;  // let the zone's rules for that date decide
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return false;
    out = t;
    return true;
}

void FormatDosDateTime(uint16_t dosDate, uint16_t dosTime, char (&buffer)[20]) {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u",
                  1980u + (dosDate >> 9) % 128u, (dosDate >> 5) & 0x0Fu, dosDate & 0x1Fu,
                  (dosTime >> 11) % 32u, (dosTime >> 5) & 0x3Fu, (dosTime & 0x1Fu) * 2u);
}

}  // namespace cabclient
