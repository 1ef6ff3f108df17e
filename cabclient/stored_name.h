// Names as a cabinet stores them, turned into path components that stay
// below the destination folder.
//
// A stored name is Windows-style: '\' (or '/') separates folders and the bytes
// are code page 936 unless the entry carries _A_NAME_IS_UTF (then UTF-8). The
// whole name is converted before it is split, so the second byte of a
// double-byte character (which may be 0x5C) is never taken for a separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cabclient {

enum class NameError {
    None,
    Unconvertible,    // not valid in its code page
    Empty,            // no file name (empty, or ends with a separator)
    Absolute,         // begins with a separator
    DriveLetter,      // "C:..." or any other ':' (drive or stream syntax)
    ParentReference,  // a ".." component
};

// Short English description, for error lines.
const char* NameErrorText(NameError error);

// Converts stored bytes to UTF-8. Pure ASCII is copied as it is.
bool ConvertStoredName(const char* stored, uint16_t attribs, std::string& utf8);

// Splits a converted name at '\' and '/'. "." components and empty ones
// between separators are dropped (Windows collapses them). Anything that
// could reach outside the destination is refused.
NameError SplitStoredName(const std::string& utf8, std::vector<std::string>& components);

// Both steps; components are UTF-8.
NameError ParseStoredName(const char* stored, uint16_t attribs,
                          std::vector<std::string>& components);

// Components joined with '/'.
std::string JoinComponents(const std::vector<std::string>& components);

}  // namespace cabclient

namespace cabclient {

// Prepares the next cabinet's name that fdintNEXT_CABINET offers in its
// 257-byte buffer: converts it from code page 936 to UTF-8 in place, so it
// matches the file on disk. False (buffer unchanged) when it doesn't convert,
// doesn't fit, is empty, or is anything but a plain file name: the next
// cabinet is only ever looked for in the folder of the first one.
bool PrepareNextCabinetName(char* psz1, size_t bufferSize);

}  // namespace cabclient
