// One cabinet file as plain records, and its serialisation.
//
// The writer produces these records, fills in every count, offset, size and
// checksum with FinalizeCabinet, and turns them into bytes with
// SerializeCabinet. Serialisation writes the fields exactly as they stand, so
// a test can change any field between the two calls to build a damaged
// cabinet (a wrong count, a bad checksum, inconsistent flags, ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabbuild {

inline constexpr uint32_t kCabinetSignature = 0x4643534D;  // "MSCF" read little-endian
inline constexpr uint32_t kHeaderSize = 36;
inline constexpr uint32_t kFolderEntrySize = 8;   // without its reserve
inline constexpr uint32_t kFileEntrySize = 16;    // without its name
inline constexpr uint32_t kDataHeaderSize = 8;    // without its reserve
inline constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
inline constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
inline constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

struct DataBlockRecord {
    uint32_t csum = 0;
    uint16_t cbData = 0;
    uint16_t cbUncomp = 0;  // 0 marks the first part of a block split across cabinets
    std::vector<uint8_t> reserve;
    std::vector<uint8_t> data;
    bool checksum = true;  // FinalizeCabinet computes csum when set, writes 0 otherwise
};

struct FolderRecord {
    uint32_t coffCabStart = 0;
    uint16_t cCFData = 0;
    uint16_t typeCompress = 0;
    std::vector<uint8_t> reserve;
    std::vector<DataBlockRecord> blocks;  // this folder's blocks stored in this cabinet
};

struct FileRecord {
    uint32_t cbFile = 0;
    uint32_t uoffFolderStart = 0;
    uint16_t iFolder = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
    std::string name;  // the stored bytes, written followed by one NUL
};

struct CabinetRecord {
    std::string fileName;  // the name this cabinet is stored under; not part of its bytes

    uint32_t signature = kCabinetSignature;
    uint32_t reserved1 = 0;
    uint32_t cbCabinet = 0;
    uint32_t reserved2 = 0;
    uint32_t coffFiles = 0;
    uint32_t reserved3 = 0;
    uint8_t versionMinor = 3;
    uint8_t versionMajor = 1;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t flags = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;

    // The reserve fields are written when reservePresent is set (flag 0x0004).
    bool reservePresent = false;
    uint16_t cbCFHeader = 0;
    uint8_t cbCFFolder = 0;
    uint8_t cbCFData = 0;
    std::vector<uint8_t> headerReserve;

    bool hasPrev = false;  // flag 0x0001 with prevCabinet and prevDisk
    bool hasNext = false;  // flag 0x0002 with nextCabinet and nextDisk
    std::string prevCabinet, prevDisk, nextCabinet, nextDisk;

    std::vector<FolderRecord> folders;
    std::vector<FileRecord> files;  // in the order they are listed
};

// Makes the record consistent: flags from reservePresent/hasPrev/hasNext,
// counts, cbCFHeader from the header reserve, folder and data reserves padded
// or cut to cbCFFolder and cbCFData, cbData from each block's bytes, every
// offset, checksums of the blocks that want one, and cbCabinet.
void FinalizeCabinet(CabinetRecord& cabinet);

// The cabinet's bytes, written field by field as the record holds them.
std::vector<uint8_t> SerializeCabinet(const CabinetRecord& cabinet);

// The checksum a data block's csum field must hold (header part included).
uint32_t DataBlockChecksum(const DataBlockRecord& block);

}  // namespace cabbuild
