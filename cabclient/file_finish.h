// Giving an extracted file the date, time and attributes its cabinet
// records, through the descriptor it was written with (never by path, so a
// link swapped in meanwhile is never followed).
#pragma once

#include <cstdint>

namespace cabclient {

// Attribute bits that carry over to the file (read-only, hidden, system,
// archive). On Linux only read-only has an effect: it clears the write bits.
inline constexpr uint16_t kKeptAttributes = 0x27;

struct FinishResult {
    bool timeSet = false;        // false when the date or time doesn't convert
    bool attributesSet = false;
};

// Sets the modification time from the DOS date and time (local time) and the
// permission bits from attribs & 0x27; runAfterExtract (the cabinet's 0x40)
// adds execute permission where there is read permission, so programs a
// package delivers can be started. Does not close fd.
FinishResult FinishOutputFile(int fd, uint16_t dosDate, uint16_t dosTime, uint16_t attribs,
                              bool runAfterExtract);

}  // namespace cabclient
