#include "tests/support/memory_fdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace testsupport {

namespace {

thread_local MemoryFs* g_fs = nullptr;

// Every block carries its size in front so that free can count it.
constexpr size_t kAllocHeader = 16;

struct CopyState {
    MemoryFs* fs;
    const ExtractOptions* options;
    ExtractResult* result;
    std::map<int, std::string> names;  // output handle -> file name
};

Notification Capture(FDINOTIFICATIONTYPE type, const FDINOTIFICATION* n) {
    auto str = [](const char* p) { return p ? std::string(p) : std::string(); };
    return {type,      n->cb,     str(n->psz1), str(n->psz2), str(n->psz3), n->hf,     n->date,
            n->time,   n->attribs, n->setID,    n->iCabinet,  n->iFolder,   n->fdie};
}

intptr_t Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
    auto* state = static_cast<CopyState*>(n->pv);
    state->result->notifications.push_back(Capture(type, n));
    if (state->options->answer) {
        if (auto answer = state->options->answer(type, n)) {
            if (type == fdintCOPY_FILE && *answer != 0 && *answer != -1)
                state->names[int(*answer)] = n->psz1 ? n->psz1 : "";
            return *answer;
        }
    }
    switch (type) {
        case fdintCOPY_FILE: {
            int hf = state->fs->CreateOutput();
            state->names[hf] = n->psz1;
            return hf;
        }
        case fdintCLOSE_FILE_INFO: {
            if (state->fs->IsOpen(n->hf)) {
                state->result->files[state->names[n->hf]] = state->fs->Output(n->hf);
                state->fs->Close(n->hf);
            }
            return 1;
        }
        case fdintNEXT_CABINET: return n->fdie == FDIERROR_NONE ? 0 : -1;
        default: return 0;
    }
}

int Decrypt(PFDIDECRYPT d) {
    auto* state = static_cast<CopyState*>(d->pvUser);
    DecryptCall call{};
    call.kind = d->fdidt;
    auto bytes = [](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        return p ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>();
    };
    switch (d->fdidt) {
        case fdidtNEW_CABINET:
            call.reserveNull = d->cabinet.pHeaderReserve == nullptr;
            call.reserve = bytes(d->cabinet.pHeaderReserve, d->cabinet.cbHeaderReserve);
            call.setID = d->cabinet.setID;
            call.index = uint16_t(d->cabinet.iCabinet);
            break;
        case fdidtNEW_FOLDER:
            call.reserveNull = d->folder.pFolderReserve == nullptr;
            call.reserve = bytes(d->folder.pFolderReserve, d->folder.cbFolderReserve);
            call.index = d->folder.iFolder;
            break;
        case fdidtDECRYPT:
            call.reserveNull = d->decrypt.pDataReserve == nullptr;
            call.reserve = bytes(d->decrypt.pDataReserve, d->decrypt.cbDataReserve);
            call.cbData = d->decrypt.cbData;
            call.cbPartial = d->decrypt.cbPartial;
            call.split = d->decrypt.fSplit != 0;
            call.data = bytes(d->decrypt.pbData, size_t(d->decrypt.cbData - d->decrypt.cbPartial));
            break;
    }
    state->result->decrypts.push_back(std::move(call));
    return state->options->decryptAnswer ? state->options->decryptAnswer(d) : 0;
}

}  // namespace

int MemoryFs::CreateOutput() {
    int hf = nextHandle_++;
    handles_[hf].output = true;
    return hf;
}

int MemoryFs::Close(int handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return -1;
    bool output = it->second.output;
    if (output) closedOutputs[handle] = std::move(it->second.out);
    handles_.erase(it);
    return output ? 0 : cabinetCloseResult;
}

ScopedMemoryFs::ScopedMemoryFs(MemoryFs* fs) : previous_(g_fs) { g_fs = fs; }
ScopedMemoryFs::~ScopedMemoryFs() { g_fs = previous_; }

void* MemAlloc(uint32_t cb) {
    if (g_fs && g_fs->failAllocAt > 0 && --g_fs->failAllocAt == 0) return nullptr;
    auto* p = static_cast<uint8_t*>(std::malloc(kAllocHeader + cb));
    if (!p) return nullptr;
    std::memcpy(p, &cb, sizeof cb);
    if (g_fs) {
        g_fs->bytesAllocated += cb;
        ++g_fs->allocationCount;
        g_fs->peakAllocated = std::max(g_fs->peakAllocated, g_fs->bytesAllocated);
    }
    return p + kAllocHeader;
}

void MemFree(void* pv) {
    if (!pv) return;
    auto* p = static_cast<uint8_t*>(pv) - kAllocHeader;
    uint32_t cb;
    std::memcpy(&cb, p, sizeof cb);
    if (g_fs) g_fs->bytesAllocated -= cb;
    std::free(p);
}

int MemOpen(const char* path, int oflag, int pmode) {
    MemoryFs* fs = g_fs;
    if (!fs) return -1;
    fs->opened.push_back(path);
    fs->openFlag = oflag;
    fs->openMode = pmode;
    if (std::find(fs->unopenable.begin(), fs->unopenable.end(), path) != fs->unopenable.end()) return -1;
    auto it = fs->files.find(path);
    if (it == fs->files.end()) return -1;
    int hf = fs->nextHandle_++;
    fs->handles_[hf].in = &it->second;
    return hf;
}

uint32_t MemRead(int hf, void* pv, uint32_t cb) {
    auto it = g_fs->handles_.find(hf);
    if (it == g_fs->handles_.end() || !it->second.in) return uint32_t(-1);
    MemoryFs::Handle& h = it->second;
    int64_t size = int64_t(h.in->size());
    int64_t n = std::clamp<int64_t>(size - h.pos, 0, cb);
    if (n > 0) std::memcpy(pv, h.in->data() + h.pos, size_t(n));
    h.pos += n;
    return uint32_t(n);
}

uint32_t MemWrite(int hf, const void* pv, uint32_t cb) {
    auto it = g_fs->handles_.find(hf);
    if (it == g_fs->handles_.end() || !it->second.output) return uint32_t(-1);
    const auto* b = static_cast<const uint8_t*>(pv);
    it->second.out.insert(it->second.out.end(), b, b + cb);
    return cb;
}

int MemClose(int hf) { return g_fs->Close(hf); }

int32_t MemSeek(int hf, int32_t dist, int seektype) {
    auto it = g_fs->handles_.find(hf);
    if (it == g_fs->handles_.end() || !it->second.in) return -1;
    MemoryFs::Handle& h = it->second;
    int64_t base = seektype == 0 ? 0 : seektype == 1 ? h.pos : int64_t(h.in->size());
    int64_t pos = base + dist;
    if (pos < 0 || pos > INT32_MAX) return -1;
    h.pos = pos;
    return int32_t(pos);
}

HFDI CreateMemoryFdi(ERF* erf, int cpuType) {
    return FDICreate(MemAlloc, MemFree, MemOpen, MemRead, MemWrite, MemClose, MemSeek, cpuType, erf);
}

ExtractResult RunFdiCopyOn(MemoryFs& fs, HFDI hfdi, ERF* erf, const std::string& cabinet,
                           const ExtractOptions& options) {
    ScopedMemoryFs scope(&fs);
    ExtractResult result;
    CopyState state{&fs, &options, &result, {}};
    result.ok = FDICopy(hfdi, cabinet.c_str(), options.cabPath.c_str(), 0, Notify,
                        options.decrypt ? Decrypt : nullptr, &state) != 0;
    result.erf = *erf;
    result.handlesLeftOpen = fs.OpenHandles();
    return result;
}

ExtractResult RunFdiCopy(const std::map<std::string, std::vector<uint8_t>>& cabinets,
                         const std::string& cabinet, const ExtractOptions& options) {
    MemoryFs fs;
    fs.files = cabinets;
    ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = CreateMemoryFdi(&erf);
    if (!hfdi) {
        ExtractResult result;
        result.erf = erf;
        return result;
    }
    ExtractResult result = RunFdiCopyOn(fs, hfdi, &erf, cabinet, options);
    FDIDestroy(hfdi);
    return result;
}

ExtractResult ExtractSet(const std::map<std::string, std::vector<uint8_t>>& cabinets,
                         const std::vector<std::string>& order) {
    MemoryFs fs;
    fs.files = cabinets;
    ScopedMemoryFs scope(&fs);
    ERF erf{};
    ExtractResult all;
    HFDI hfdi = CreateMemoryFdi(&erf);
    if (!hfdi) {
        all.erf = erf;
        return all;
    }
    all.ok = true;
    for (const auto& name : order) {
        ExtractResult one = RunFdiCopyOn(fs, hfdi, &erf, name);
        for (auto& [file, bytes] : one.files) all.files[file] = std::move(bytes);
        all.notifications.insert(all.notifications.end(), one.notifications.begin(), one.notifications.end());
        all.handlesLeftOpen = one.handlesLeftOpen;
        if (!one.ok) {
            all.ok = false;
            all.erf = one.erf;
            break;
        }
    }
    FDIDestroy(hfdi);
    return all;
}

std::map<std::string, std::vector<uint8_t>> AsFiles(const std::vector<cabbuild::CabinetImage>& images,
                                                    const std::string& cabPath) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& image : images) files[cabPath + image.name] = image.bytes;
    return files;
}

const char* NotificationName(FDINOTIFICATIONTYPE type) {
    switch (type) {
        case fdintCABINET_INFO: return "CABINET_INFO";
        case fdintPARTIAL_FILE: return "PARTIAL_FILE";
        case fdintCOPY_FILE: return "COPY_FILE";
        case fdintCLOSE_FILE_INFO: return "CLOSE_FILE_INFO";
        case fdintNEXT_CABINET: return "NEXT_CABINET";
        case fdintENUMERATE: return "ENUMERATE";
    }
    return "?";
}

}  // namespace testsupport
