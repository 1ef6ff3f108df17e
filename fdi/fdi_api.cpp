// The four FDI operations and the walk over a cabinet's file list.
#include <cstring>
#include <new>

#include "fdi/context.h"

using fdi::Context;

namespace {

Context* FromHandle(HFDI hfdi) {
    auto* c = static_cast<Context*>(hfdi);
    return c && c->magic == fdi::kContextMagic ? c : nullptr;
}

// Offers every file entry of the cabinet(s) and extracts what the client asks for.
bool WalkFileList(Context& c) {
    for (;;) {
        if (c.entriesRemaining == 0) return true;
        --c.entriesRemaining;
        if (!fdi::ReadFileEntry(c)) return false;

        FDINOTIFICATION& n = c.notification;
        uint16_t iFolder = fdi::FileFolder(c);
        n.cb = int32_t(fdi::FileSize(c));
        n.psz1 = c.fileName;
        n.psz2 = c.prevCabinet;
        n.psz3 = c.prevDisk;
        n.date = fdi::FileDate(c);
        n.time = fdi::FileTime(c);
        n.attribs = fdi::FileAttribs(c);
        n.iFolder = iFolder;
        if (fdi::IsContinuedFromPrev(iFolder) && !c.spanned) {
            if (!fdi::Notify(c, fdintPARTIAL_FILE)) return false;
        } else if (!fdi::IsContinuedFromPrev(iFolder) && c.spanned) {
            // After following a folder, the walk ends where that folder's files end.
            c.entriesRemaining = 0;
        } else {
            intptr_t handle = 0;
            if (!fdi::Notify(c, fdintCOPY_FILE, &handle)) return false;
            if (handle == 0) {
                if (fdi::IsContinuedToNext(iFolder)) ++c.skipCount;
            } else {
                c.targetHandle = int(handle);
                if (!fdi::ExtractFile(c)) return false;
            }
        }
        if (c.entriesRemaining == 0 && !fdi::SendEnumerate(c)) return false;
    }
}

}  // namespace

extern "C" HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                          PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf) {
    void* memory = pfnalloc(sizeof(Context));
    if (!memory) {
        fdi::WriteErf(perf, FDIERROR_ALLOC_FAIL, 0);
        return nullptr;
    }
    std::memset(memory, 0, sizeof(Context));
    auto* c = new (memory) Context;
    c->magic = fdi::kContextMagic;
    c->perf = perf;
    c->free = pfnfree;
    c->alloc = pfnalloc;
    c->open = pfnopen;
    c->read = pfnread;
    c->write = pfnwrite;
    c->close = pfnclose;
    c->seek = pfnseek;
    c->cpuType = cpuType;
    c->typeWord = fdi::kNoDecoder;
    c->dataHandle = c->listHandle = c->targetHandle = -1;
    c->currentFolder = fdi::kNoFolder;
    c->headerReserveSize = c->folderRecordSize = c->dataRecordSize = fdi::kUnknownSize;
    return c;
}

extern "C" BOOL32 FDIIsCabinet(HFDI hfdi, int hf, PFDICABINETINFO pfdici) {
    Context* c = FromHandle(hfdi);
    if (!c) return 0;
    uint8_t h[fdi::kHeaderBytes];
    if (c->read(hf, h, sizeof h) != sizeof h || fdi::Le32(h) != 0x4643534D) return 0;
    uint16_t version = fdi::Le16(h + 24);
    if (version != 0x0103) {
        fdi::WriteErf(c->perf, FDIERROR_UNKNOWN_CABINET_VERSION, version);
        return 0;
    }
    uint16_t flags = fdi::Le16(h + 30);
    if (pfdici) {
        pfdici->cbCabinet = int32_t(fdi::Le32(h + 8));
        pfdici->cFolders = fdi::Le16(h + 26);
        pfdici->cFiles = fdi::Le16(h + 28);
        pfdici->setID = fdi::Le16(h + 32);
        pfdici->iCabinet = fdi::Le16(h + 34);
        pfdici->fReserve = (flags & cfhdrRESERVE_PRESENT) ? 1 : 0;
        pfdici->hasprev = (flags & cfhdrPREV_CABINET) ? 1 : 0;
        pfdici->hasnext = flags & cfhdrNEXT_CABINET;
    }
    return 1;
}

extern "C" BOOL32 FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags,
                          PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser) {
    (void)flags;
    Context* c = FromHandle(hfdi);
    if (!c) return 0;
    c->error = FDIERROR_NONE;
    c->errorType = 0;
    c->user = pvUser;
    c->notify = pfnfdin;
    c->decrypt = pfnfdid;
    c->skipCount = 0;
    c->spanned = false;
    c->currentFolder = fdi::kNoFolder;
    c->entriesRemaining = 0;

    bool ok = false;
    size_t pathLength = pszCabPath ? std::strlen(pszCabPath) : 0;
    if (!pszCabinet || !pfnfdin || pathLength >= FDI_NAME_BUFFER) {
        fdi::Fail(*c, FDIERROR_CABINET_NOT_FOUND);
    } else {
        std::memcpy(c->cabPath, pszCabPath ? pszCabPath : "", pathLength + 1);
        if (fdi::OpenCabinet(*c, pszCabinet, 0, 0xFFFF)) {
            // Undo any change the client made to the path at fdintCABINET_INFO.
            std::memcpy(c->cabPath, pszCabPath ? pszCabPath : "", pathLength + 1);
            ok = fdi::SendEnumerate(*c) && WalkFileList(*c);
        }
    }
    if (c->targetHandle != -1) {
        c->close(c->targetHandle);
        c->targetHandle = -1;
    }
    fdi::CloseCabinet(*c);
    if (!ok) fdi::WriteErf(c->perf, c->error == FDIERROR_NONE ? FDIERROR_CORRUPT_CABINET : c->error, c->errorType);
    return ok ? 1 : 0;
}

extern "C" BOOL32 FDIDestroy(HFDI hfdi) {
    Context* c = FromHandle(hfdi);
    if (!c) return 1;
    fdi::ReleaseDecoder(*c);
    if (c->headerReserve) c->free(c->headerReserve);
    if (c->folderRecord) c->free(c->folderRecord);
    if (c->dataRecord) c->free(c->dataRecord);
    fdi::CloseCabinet(*c);
    c->magic = 0;
    PFNFREE release = c->free;
    c->~Context();
    release(c);
    return 1;
}
