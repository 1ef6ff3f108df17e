// The file table that the manifest step fills and the replacement and
// registration steps read: for each file of the update, where it lies in the
// unpacked package (source side) and where it goes in the installation
// (target side). Index k of both arrays holds manifest section File(k+1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int kFileTableCapacity = 1024;
// Longest composed paths, in characters, as the installed base has always
// limited them.
inline constexpr size_t kMaxFullPathChars = 259;
inline constexpr size_t kMaxBackupPathChars = 279;

// Paths are UTF-8 with native separators.
struct FileEntry {
    std::string FileName;
    std::string FilePath;    // begins with a separator; ends with one for a subfolder
    std::string FullPath;    // package root or installation folder + FilePath + FileName
    std::string BackupPath;  // target side only: FullPath + the run's start time
    int32_t RegFlag = 0;
};

// What this run did to each target, so an undo touches exactly what the run
// changed (not what merely exists when the undo runs).
struct EntryRunState {
    bool backedUp = false;  // the old file was moved to BackupPath by this run
    bool written = false;   // a copy onto the target was attempted by this run
};

struct FileTable {
    std::array<FileEntry, kFileTableCapacity> source;
    std::array<FileEntry, kFileTableCapacity> target;
    std::array<EntryRunState, kFileTableCapacity> state;

    void Clear();
};

// The one table of the process (static storage).
FileTable& GetFileTable();
