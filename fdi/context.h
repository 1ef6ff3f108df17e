// The FDI context: every piece of extraction state lives here, so separate
// contexts can run on separate threads. The engine's steps below each either
// succeed or record one FDIERROR code in the context and fail; FDICopy
// reports the recorded code when it returns FALSE.
#pragma once

#include <cstdint>
#include <cstring>

#include "decoders/decoder.h"
#include "fdi/fdi.h"

namespace fdi {

inline constexpr uint32_t kContextMagic = 0x49444643;  // "CFDI"
inline constexpr uint32_t kNoFolder = 0xFFFFFFFF;
// Outside the 16-bit range: 0xFFFF is a valid header reserve size.
inline constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
inline constexpr uint16_t kNoDecoder = tcompBAD;
inline constexpr uint32_t kBlockSize = 32768;  // the output buffer; no block decodes to more
inline constexpr uint32_t kNameBytes = 256;    // a name and its NUL
inline constexpr uint32_t kHeaderBytes = 36;
inline constexpr uint32_t kFileEntryBytes = 16;
inline constexpr int kOpenFlag = FDI_O_BINARY;                  // 0x8000: read-only, binary
inline constexpr int kOpenMode = FDI_S_IREAD | FDI_S_IWRITE;    // 0x180

struct Context {
    uint32_t magic;
    PERF perf;
    PFNFREE free;
    PFNALLOC alloc;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    int cpuType;
    PFNFDINOTIFY notify;
    PFNFDIDECRYPT decrypt;

    int32_t folderTableOffset;
    uint64_t blockStart;  // folder offset of the block in the output buffer
    const decoders::DecoderOps* ops;
    void* decoderHandle;
    void* user;
    uint8_t* input;
    uint8_t* output;     // the decoder's output buffer
    uint8_t* decoded;    // where the current block's bytes are (the input for stored folders)
    uint8_t* folderRecord;
    uint8_t* dataRecord;
    uint8_t* headerReserve;
    uint8_t header[kHeaderBytes];
    uint8_t fileEntry[kFileEntryBytes];
    int dataHandle;
    int listHandle;
    int targetHandle;
    uint32_t currentFolder;
    uint32_t inputSize;
    uint32_t blockCompressed;  // compressed size of the current block, both parts of a split one
    uint32_t blockUncompressed;
    bool spanned;
    bool hasCurrentBlock;
    uint32_t headerReserveSize;
    uint32_t folderRecordSize;
    uint32_t dataRecordSize;
    uint16_t entriesRemaining;
    uint32_t skipCount;
    uint16_t blocksRemaining;
    uint16_t typeWord;
    uint32_t decoderGeneration;  // counts decoder (re)creations

    char fileName[FDI_NAME_BUFFER];
    char prevCabinet[FDI_NAME_BUFFER];
    char prevDisk[FDI_NAME_BUFFER];
    char nextCabinet[FDI_NAME_BUFFER];
    char nextDisk[FDI_NAME_BUFFER];
    char cabPath[FDI_NAME_BUFFER];
    char joinedPath[FDI_NAME_BUFFER];
    // What fdintNEXT_CABINET offers and the client may change; kept apart
    // from the names that opening a cabinet overwrites.
    char requestCabinet[FDI_NAME_BUFFER];
    char requestDisk[FDI_NAME_BUFFER];

    FDINOTIFICATION notification;
    FDIDECRYPT decryptRecord;

    FDIERROR error;     // the first failure of the current operation
    int32_t errorType;  // its extra value
};

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Header fields of the current cabinet.
inline uint32_t HeaderSignature(const Context& c) { return Le32(c.header); }
inline uint32_t HeaderCoffFiles(const Context& c) { return Le32(c.header + 16); }
inline uint16_t HeaderVersion(const Context& c) { return Le16(c.header + 24); }
inline uint16_t HeaderFolders(const Context& c) { return Le16(c.header + 26); }
inline uint16_t HeaderFiles(const Context& c) { return Le16(c.header + 28); }
inline uint16_t HeaderFlags(const Context& c) { return Le16(c.header + 30); }
inline uint16_t HeaderSetId(const Context& c) { return Le16(c.header + 32); }
inline uint16_t HeaderIndex(const Context& c) { return Le16(c.header + 34); }

// Fields of the current file entry.
inline uint32_t FileSize(const Context& c) { return Le32(c.fileEntry); }
inline uint32_t FileOffset(const Context& c) { return Le32(c.fileEntry + 4); }
inline uint16_t FileFolder(const Context& c) { return Le16(c.fileEntry + 8); }
inline uint16_t FileDate(const Context& c) { return Le16(c.fileEntry + 10); }
inline uint16_t FileTime(const Context& c) { return Le16(c.fileEntry + 12); }
inline uint16_t FileAttribs(const Context& c) { return Le16(c.fileEntry + 14); }

inline bool IsContinuedFromPrev(uint16_t iFolder) {
    return iFolder == ifoldCONTINUED_FROM_PREV || iFolder == ifoldCONTINUED_PREV_AND_NEXT;
}
inline bool IsContinuedToNext(uint16_t iFolder) {
    return iFolder == ifoldCONTINUED_TO_NEXT || iFolder == ifoldCONTINUED_PREV_AND_NEXT;
}

// Records the failure (the first one only) and returns false.
inline bool Fail(Context& c, FDIERROR code, int32_t type = 0) {
    if (c.error == FDIERROR_NONE) {
        c.error = code;
        c.errorType = type;
    }
    return false;
}

inline void WriteErf(PERF perf, FDIERROR code, int32_t type) {
    if (!perf) return;
    perf->erfOper = code;
    perf->erfType = type;
    perf->fError = 1;
}

// Sends a notification; -1 is a user abort.
inline bool Notify(Context& c, FDINOTIFICATIONTYPE type, intptr_t* result = nullptr) {
    c.notification.pv = c.user;
    intptr_t r = c.notify(type, &c.notification);
    if (result) *result = r;
    return r != -1 || Fail(c, FDIERROR_USER_ABORT);
}

// Calls the decrypt callback, if any, with the prepared record.
inline bool CallDecrypt(Context& c, FDIDECRYPTTYPE kind) {
    if (!c.decrypt) return true;
    c.decryptRecord.fdidt = kind;
    c.decryptRecord.pvUser = c.user;
    return c.decrypt(&c.decryptRecord) != -1 || Fail(c, FDIERROR_USER_ABORT);
}

// Steps of FDICopy (cabinet_reader.cpp, folder_reader.cpp, extract_file.cpp).
bool ReadName(Context& c, char* buffer);
bool OpenCabinet(Context& c, const char* name, uint16_t expectedSetId, uint32_t expectedIndex);
void CloseCabinet(Context& c);
bool SendEnumerate(Context& c);
bool ReadFileEntry(Context& c);
bool OpenNextCabinet(Context& c);
bool ExtractFile(Context& c);
bool EnterFolder(Context& c, uint16_t iFolder);
bool SelectFolder(Context& c, uint32_t index);
bool SetDecoderType(Context& c, uint16_t typeWord);
void ReleaseDecoder(Context& c);
bool NextDataBlock(Context& c);
bool ReadDataBlock(Context& c, uint32_t offset);

}  // namespace fdi
