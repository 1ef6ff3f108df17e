// MS-DOS dates and times as a cabinet stores them.
#pragma once

#include <cstdint>
#include <ctime>

namespace cabclient {

// Converts a DOS date and time taken as local time into seconds since 1970
// (UTC). False for values that name no real moment (month 0 or above 12, day
// 0 or past the month's end, hour above 23, minute above 59, seconds field
// above 29).
bool DosDateTimeToUnix(uint16_t dosDate, uint16_t dosTime, std::time_t& out);

// "YYYY-MM-DD HH:MM:SS" from the fields as stored (no conversion, no check).
void FormatDosDateTime(uint16_t dosDate, uint16_t dosTime, char (&buffer)[20]);

}  // namespace cabclient
