// Builds a cabinet, or a set of cabinets limited in size, from files grouped
// into folders.
//
// Usage: StartFolder (a method text or a compressor factory), AddFile for the
// files of that folder, more folders, then Build (bytes of every cabinet) or
// BuildRecords (the records, for changing fields before SerializeCabinet).
//
// Sets: with a maximum cabinet size the folders are laid out cabinet after
// cabinet. A folder that does not fit continues in the next cabinet as its
// folder 0; a data block that does not fit is split (its first part has
// cbUncomp 0, the second part is the first block of the next cabinet).
// Every file that needs data of a later cabinet is listed in each cabinet it
// touches: 0xFFFE where it starts, 0xFFFF in between and 0xFFFD at the end.
// Files of a folder continued from the previous cabinet are listed as
// continued there too: they can only be decoded by following the folder from
// its start, so extracting the set cabinet by cabinet yields every file once.
// uoffFolderStart always counts from the start of the whole folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cabbuild/cabinet_record.h"
#include "cabbuild/folder_compressor.h"

namespace cabbuild {

using CompressorFactory = std::function<std::unique_ptr<FolderCompressor>()>;

struct SetOptions {
    // Largest size of one cabinet in bytes; 0 puts everything into one cabinet.
    // A block is split over two cabinets at most, so a limit must leave room
    // for the rest of one block (about 33 KB) after a cabinet's header area.
    uint32_t maxCabinetSize = 0;
    uint16_t setID = 0;
    // Reserve areas: the fields are written when reservePresent is set or any
    // reserve is not empty.
    bool reservePresent = false;
    std::vector<uint8_t> headerReserve;
    uint8_t folderReserveSize = 0;
    uint8_t dataReserveSize = 0;
    bool checksums = true;
    bool splitBlocks = true;
    // Stored name of cabinet number `index` (0 for the first); the default is
    // SetNamer("set").
    std::function<std::string(unsigned index)> cabinetName;
    // Disk name of cabinet `index`; empty by default.
    std::function<std::string(unsigned index)> diskName;
};

// Names "BASE.cab", "BASE2.cab", "BASE3.cab", ...
std::function<std::string(unsigned)> SetNamer(const std::string& base);

struct CabinetImage {
    std::string name;
    std::vector<uint8_t> bytes;
};

class CabinetWriter {
public:
    explicit CabinetWriter(SetOptions options = {});

    // Starts a new folder; the files added afterwards go into it. The factory
    // is called once per folder of the result (a folder that a size limit
    // cuts short is continued by a new folder with a fresh compressor).
    void StartFolder(CompressorFactory factory);
    // The same for a method text as MakeCompressor takes ("none", "mszip:6",
    // ...); false with *error for a bad or unavailable method.
    bool StartFolder(const std::string& method, std::string* error);

    // Adds a file to the current folder (a stored folder is started first if
    // there is none). name: the bytes stored, without a NUL.
    void AddFile(std::string name, std::vector<uint8_t> data, uint16_t date = 0,
                 uint16_t time = 0, uint16_t attribs = 0x20);

    // Compresses every folder and lays out the set; false with *error when a
    // limit of the format is exceeded or the maximum size is too small.
    bool BuildRecords(std::vector<CabinetRecord>* cabinets, std::string* error);
    // BuildRecords, then the bytes of every cabinet.
    bool Build(std::vector<CabinetImage>* images, std::string* error);

private:
    struct PendingFile {
        std::string name;
        std::vector<uint8_t> data;
        uint16_t date, time, attribs;
    };
    struct PendingFolder {
        CompressorFactory factory;
        std::vector<PendingFile> files;
    };

    SetOptions options_;
    std::vector<PendingFolder> folders_;
};

// Writes every image to DIRECTORY/name; false with *error on the first failure.
bool WriteCabinetFiles(const std::vector<CabinetImage>& images, const std::string& directory,
                       std::string* error);

}  // namespace cabbuild
