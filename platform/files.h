// Windows file operations (MoveFileA, CopyFileA, Get/SetFileAttributesA,
// FindFirstFileA, CreateDirectoryA, DeleteFileA, SHFileOperationA's delete,
// SetFileTime from an MS-DOS date and time, GetSystemDirectoryA) with their
// Windows semantics, on top of the Linux file system.
//
// Attribute word: read-only (0x01) is the owner write bit; folder (0x10) is
// the file type; hidden (0x02), system (0x04) and archive (0x20) are kept in
// the extended attribute "user.morrowgate.attributes" by SetFileAttributes and
// CopyFile. A file without that record (any file made by other programs, or
// on a file system without user attributes) reads 0x20, or 0x21 when
// read-only; a folder reads 0x10 (0x11). As on Windows, a file with no flag
// at all reads FILE_ATTRIBUTE_NORMAL (0x80). Read-only files refuse writing
// and deleting even to root, as on Windows.
//
// All paths are UTF-8 with '/' separators; existing names are found without
// regard to ASCII case when there is no exact match and exactly one candidate
// (paths.h). Each call is one file-system operation for fault injection
// (fault.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Renames a file or folder; fails when the target exists (MoveFileA).
bool MoveFile(const std::string& from, const std::string& to);

// Copies a file's bytes, attributes, permission bits and modification time. With
// failIfExists false an existing target is overwritten, unless it is
// read-only (then the copy fails, as on Windows).
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);

// The attribute word, or INVALID_FILE_ATTRIBUTES when the path doesn't exist.
uint32_t GetFileAttributes(const std::string& path);

// Sets the attribute word as Windows does: read-only set clears every write
// bit, clear sets the owner write bit; hidden, system and archive are kept as
// given (FILE_ATTRIBUTE_NORMAL or 0 clear them all). The folder bit is ignored.
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// FindFirstFileA on a plain path: true when the file or folder exists.
bool FileExists(const std::string& path);

struct DirEntry {
    std::string name;     // as on disk
    uint32_t attributes;  // as GetFileAttributes gives it
};

// Lists a folder (FindFirstFileA/FindNextFileA on "folder/*.*"), sorted by
// name without regard to ASCII case (ties by byte order). With includeDots
// the list starts with "." and "..", as Windows returns them for a subfolder.
// Returns false when the folder can't be listed.
bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries,
                   bool includeDots = false);

// Creates one folder; fails when it exists or its parent is missing.
bool CreateDirectory(const std::string& path);

// Deletes a file; fails for folders and read-only files.
bool DeleteFile(const std::string& path);

// Deletes a file, or a folder with everything in it, read-only entries
// included, silently. Never follows symbolic links: a link is removed as a
// link, whatever it points to. Returns false when anything is left.
bool DeleteTree(const std::string& path);

// Sets the modification time (and the creation time where the system can;
// Linux can't) from an MS-DOS date and time taken as local time. The access
// time is left alone. Fails for a date or time that doesn't convert (month 0
// or above 12, day 0 or past the month's end, hour above 23, minute above 59,
// seconds field above 29).
bool SetFileTimeFromDos(const std::string& path, uint16_t dosDate, uint16_t dosTime);

// GetSystemDirectoryA: the folder where system programs such as regsvr32.exe
// are found, without a trailing separator. It is $MG_SYSTEM_DIR when set
// (tests put stand-in programs there), else "/usr/lib/morrowgate/system".
std::string GetSystemDirectory();

}  // namespace platform
