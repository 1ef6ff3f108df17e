// Opening cabinets, reading their header area and walking the file list.
#include <cstring>

#include "fdi/context.h"

namespace fdi {

namespace {

bool ReadExactly(Context& c, int hf, void* buffer, uint32_t count) {
    return c.read(hf, buffer, count) == count;
}

// Copies a NUL-terminated string into a name-sized buffer; false if it does not fit.
bool CopyBounded(char* to, const char* from, size_t extra = 0) {
    size_t len = std::strlen(from);
    if (extra + len >= FDI_NAME_BUFFER) return false;  // 256 characters and the NUL at most
    std::memcpy(to + extra, from, len + 1);
    return true;
}

// Allocates a record buffer the first time; later cabinets must match its size.
bool PrepareRecord(Context& c, uint8_t** buffer, uint32_t* size, uint32_t wanted) {
    if (!*buffer) {
        *buffer = static_cast<uint8_t*>(c.alloc(wanted));
        if (!*buffer) return Fail(c, FDIERROR_ALLOC_FAIL);
        *size = wanted;
        return true;
    }
    return *size == wanted || Fail(c, FDIERROR_RESERVE_MISMATCH);
}

}  // namespace

bool ReadName(Context& c, char* buffer) {
    int32_t position = c.seek(c.listHandle, 0, 1);
    if (position == -1) return Fail(c, FDIERROR_CORRUPT_CABINET);
    uint32_t got = c.read(c.listHandle, buffer, kNameBytes);
    if (int32_t(got) <= 0 || got > kNameBytes) return Fail(c, FDIERROR_CORRUPT_CABINET);
    // Only the bytes actually read count: without a NUL among them the name
    // is cut off or longer than 255 characters.
    const void* nul = std::memchr(buffer, 0, got);
    if (!nul) {
        buffer[0] = 0;
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    }
    int64_t length = static_cast<const char*>(nul) - buffer;
    int64_t next = int64_t(position) + length + 1;
    if (next > INT32_MAX || c.seek(c.listHandle, int32_t(next), 0) == -1)
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    return true;
}

bool OpenCabinet(Context& c, const char* name, uint16_t expectedSetId, uint32_t expectedIndex) {
    // A path that does not fit the buffer cannot name a cabinet we could open.
    size_t pathLength = std::strlen(c.cabPath);
    if (pathLength >= FDI_NAME_BUFFER) return Fail(c, FDIERROR_CABINET_NOT_FOUND);
    std::memcpy(c.joinedPath, c.cabPath, pathLength);
    if (!CopyBounded(c.joinedPath, name, pathLength)) return Fail(c, FDIERROR_CABINET_NOT_FOUND);

    c.listHandle = c.open(c.joinedPath, kOpenFlag, kOpenMode);
    if (c.listHandle == -1) return Fail(c, FDIERROR_CABINET_NOT_FOUND);
    c.dataHandle = c.open(c.joinedPath, kOpenFlag, kOpenMode);
    if (c.dataHandle == -1) return Fail(c, FDIERROR_CABINET_NOT_FOUND);

    uint8_t header[kHeaderBytes];
    if (!ReadExactly(c, c.listHandle, header, kHeaderBytes) || Le32(header) != 0x4643534D)
        return Fail(c, FDIERROR_NOT_A_CABINET);
    uint16_t version = Le16(header + 24);
    if (version != 0x0103) return Fail(c, FDIERROR_UNKNOWN_CABINET_VERSION, version);
    if (expectedIndex != 0xFFFF && (Le16(header + 32) != expectedSetId || Le16(header + 34) != expectedIndex))
        return Fail(c, FDIERROR_WRONG_CABINET);
    std::memcpy(c.header, header, kHeaderBytes);

    uint32_t folderReserve = 0, dataReserve = 0;
    uint16_t flags = HeaderFlags(c);
    if (flags & cfhdrRESERVE_PRESENT) {
        uint8_t sizes[4];
        if (!ReadExactly(c, c.listHandle, sizes, 4)) return Fail(c, FDIERROR_NOT_A_CABINET);
        folderReserve = sizes[2];
        dataReserve = sizes[3];
        // The first cabinet with reserves fixes the header reserve size for
        // the context; later cabinets are read with it.
        if (c.headerReserveSize == kUnknownSize) {
            c.headerReserveSize = Le16(sizes);
            if (c.headerReserveSize != 0) {
                c.headerReserve = static_cast<uint8_t*>(c.alloc(c.headerReserveSize));
                if (!c.headerReserve) {
                    c.headerReserveSize = kUnknownSize;
                    return Fail(c, FDIERROR_ALLOC_FAIL);
                }
            }
        }
        if (c.headerReserveSize != 0 && !ReadExactly(c, c.listHandle, c.headerReserve, c.headerReserveSize))
            return Fail(c, FDIERROR_NOT_A_CABINET);
    }
    if (!PrepareRecord(c, &c.folderRecord, &c.folderRecordSize, 8 + folderReserve) ||
        !PrepareRecord(c, &c.dataRecord, &c.dataRecordSize, 8 + dataReserve))
        return false;

    c.prevCabinet[0] = c.prevDisk[0] = c.nextCabinet[0] = c.nextDisk[0] = 0;
    if ((flags & cfhdrPREV_CABINET) && (!ReadName(c, c.prevCabinet) || !ReadName(c, c.prevDisk))) return false;
    if ((flags & cfhdrNEXT_CABINET) && (!ReadName(c, c.nextCabinet) || !ReadName(c, c.nextDisk))) return false;

    c.folderTableOffset = c.seek(c.listHandle, 0, 1);
    uint32_t coffFiles = HeaderCoffFiles(c);
    if (c.folderTableOffset == -1 || coffFiles > INT32_MAX || c.seek(c.listHandle, int32_t(coffFiles), 0) == -1)
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    c.entriesRemaining = HeaderFiles(c);

    FDINOTIFICATION& n = c.notification;
    n.psz1 = c.nextCabinet;
    n.psz2 = c.nextDisk;
    n.psz3 = c.cabPath;
    n.setID = HeaderSetId(c);
    n.iCabinet = HeaderIndex(c);
    if (!Notify(c, fdintCABINET_INFO)) return false;

    auto& rec = c.decryptRecord.cabinet;
    rec.pHeaderReserve = c.headerReserve;
    rec.cbHeaderReserve = uint16_t(c.headerReserveSize == kUnknownSize ? 0 : c.headerReserveSize);
    rec.setID = HeaderSetId(c);
    rec.iCabinet = HeaderIndex(c);
    return CallDecrypt(c, fdidtNEW_CABINET);
}

void CloseCabinet(Context& c) {
    if (c.listHandle != -1) c.close(c.listHandle);
    if (c.dataHandle != -1) c.close(c.dataHandle);
    c.listHandle = c.dataHandle = -1;
}

bool SendEnumerate(Context& c) {
    int32_t position = c.seek(c.listHandle, 0, 1);
    if (position == -1) return Fail(c, FDIERROR_CORRUPT_CABINET);
    FDINOTIFICATION& n = c.notification;
    n.iFolder = c.entriesRemaining;
    n.setID = HeaderSetId(c);
    n.cb = position;
    if (!Notify(c, fdintENUMERATE)) return false;
    c.entriesRemaining = n.iFolder;
    if (c.entriesRemaining == 0) return true;
    if (n.cb != position && c.seek(c.listHandle, n.cb, 0) == -1) return Fail(c, FDIERROR_USER_ABORT);
    return true;
}

bool ReadFileEntry(Context& c) {
    if (!ReadExactly(c, c.listHandle, c.fileEntry, kFileEntryBytes)) return Fail(c, FDIERROR_CORRUPT_CABINET);
    return ReadName(c, c.fileName);
}

bool OpenNextCabinet(Context& c) {
    // Data missing from a cabinet that names no successor cannot be found.
    if (!(HeaderFlags(c) & cfhdrNEXT_CABINET)) return Fail(c, FDIERROR_CORRUPT_CABINET);
    const uint16_t setId = HeaderSetId(c);
    const uint32_t index = uint32_t(HeaderIndex(c)) + 1;
    std::memcpy(c.requestCabinet, c.nextCabinet, FDI_NAME_BUFFER);
    std::memcpy(c.requestDisk, c.nextDisk, FDI_NAME_BUFFER);
    const uint32_t generation = c.decoderGeneration;
    FDIERROR lastError = FDIERROR_NONE;
    for (;;) {
        bool closedOk = true;
        if (c.dataHandle != -1) closedOk = c.close(c.dataHandle) == 0;
        if (c.listHandle != -1) closedOk = c.close(c.listHandle) == 0 && closedOk;
        c.dataHandle = c.listHandle = -1;
        if (!closedOk) return Fail(c, FDIERROR_CORRUPT_CABINET);

        FDINOTIFICATION& n = c.notification;
        c.requestCabinet[FDI_NAME_BUFFER - 1] = 0;  // the client may have filled the buffers
        c.cabPath[FDI_NAME_BUFFER - 1] = 0;
        n.psz1 = c.requestCabinet;
        n.psz2 = c.requestDisk;
        n.psz3 = c.cabPath;
        n.setID = setId;
        n.iCabinet = uint16_t(index);
        n.fdie = lastError;
        if (!Notify(c, fdintNEXT_CABINET)) return false;
        c.requestCabinet[FDI_NAME_BUFFER - 1] = 0;
        c.cabPath[FDI_NAME_BUFFER - 1] = 0;

        // A failed attempt is retried, so it is not the call's error.
        if (index <= 0xFFFF && OpenCabinet(c, c.requestCabinet, setId, index) && SelectFolder(c, 0)) break;
        if (index > 0xFFFF) Fail(c, FDIERROR_WRONG_CABINET);
        if (c.error == FDIERROR_USER_ABORT) return false;
        lastError = c.error;
        c.error = FDIERROR_NONE;
        c.errorType = 0;
    }

    // The folder goes on here with the same decoder and buffers (the first
    // part of a split block is in the input buffer). A cabinet that made us
    // change them, by another type word here or in a failed attempt, leaves
    // nothing to continue from.
    if (c.decoderGeneration != generation) return Fail(c, FDIERROR_CORRUPT_CABINET);

    // Pass over the entries at the head of the new list that belong to the
    // file being extracted and to the continued files skipped before it.
    uint32_t skip = c.skipCount + 1;
    c.skipCount = 0;
    while (skip-- != 0) {
        if (c.entriesRemaining == 0) return Fail(c, FDIERROR_CORRUPT_CABINET);
        --c.entriesRemaining;
        if (!ReadFileEntry(c)) return false;
    }
    c.spanned = true;
    return true;
}

}  // namespace fdi
