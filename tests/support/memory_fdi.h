// In-memory cabinets and outputs for driving the FDI interface in tests,
// fuzzers and benchmarks.
//
// The FDI callbacks are plain function pointers without a user value, so the
// files they see belong to the MemoryFs installed on the calling thread
// (ScopedMemoryFs); each thread can run its own extraction.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "fdi/fdi.h"

namespace testsupport {

class MemoryFs {
public:
    // Readable files by the exact path the engine opens (cabinet path + name).
    std::map<std::string, std::vector<uint8_t>> files;

    // Failure injection: the open callback fails for these paths; the n-th
    // allocation from now (1 = the next) returns NULL when failAllocAt > 0.
    std::vector<std::string> unopenable;
    int failAllocAt = 0;
    // A close of a cabinet handle returns this value (0 = success).
    int cabinetCloseResult = 0;

    // Output handles, created by CreateOutput; their bytes grow with writes.
    int CreateOutput();
    std::vector<uint8_t>& Output(int handle) { return handles_.at(handle).out; }
    bool IsOpen(int handle) const { return handles_.count(handle) != 0; }
    size_t OpenHandles() const { return handles_.size(); }
    // Closes a handle; outputs keep their bytes in closedOutputs.
    int Close(int handle);
    std::map<int, std::vector<uint8_t>> closedOutputs;

    // Statistics.
    uint64_t bytesAllocated = 0;  // currently live through the alloc callback
    uint64_t peakAllocated = 0;
    uint64_t allocationCount = 0;  // successful allocations so far
    std::vector<std::string> opened;  // every path passed to open, in order
    int openFlag = -1, openMode = -1;  // the last ones seen

    // Filled by the callbacks.
    struct Handle {
        const std::vector<uint8_t>* in = nullptr;  // cabinet: the bytes read
        std::vector<uint8_t> out;                  // output: the bytes written
        int64_t pos = 0;
        bool output = false;
    };
    std::map<int, Handle> handles_;
    int nextHandle_ = 3;
};

// Installs a MemoryFs for the FDI callbacks on this thread while in scope.
class ScopedMemoryFs {
public:
    explicit ScopedMemoryFs(MemoryFs* fs);
    ~ScopedMemoryFs();
    ScopedMemoryFs(const ScopedMemoryFs&) = delete;
    ScopedMemoryFs& operator=(const ScopedMemoryFs&) = delete;

private:
    MemoryFs* previous_;
};

// The seven callbacks working on the thread's MemoryFs.
void* MemAlloc(uint32_t cb);
void MemFree(void* pv);
int MemOpen(const char* path, int oflag, int pmode);
uint32_t MemRead(int hf, void* pv, uint32_t cb);
uint32_t MemWrite(int hf, const void* pv, uint32_t cb);
int MemClose(int hf);
int32_t MemSeek(int hf, int32_t dist, int seektype);

// FDICreate with the memory callbacks.
HFDI CreateMemoryFdi(ERF* erf, int cpuType = cpu80386);

// One notification as the engine sent it (strings copied at the time).
struct Notification {
    FDINOTIFICATIONTYPE type;
    int32_t cb;
    std::string psz1, psz2, psz3;
    int hf;
    uint16_t date, time, attribs, setID, iCabinet, iFolder;
    FDIERROR fdie;
};

struct DecryptCall {
    FDIDECRYPTTYPE kind;
    std::vector<uint8_t> reserve;  // the reserve bytes passed (empty for NULL)
    bool reserveNull;
    uint16_t setID = 0, index = 0;  // cabinet: setID, iCabinet; folder: iFolder
    std::vector<uint8_t> data;      // decrypt: the part just read
    uint16_t cbData = 0, cbPartial = 0;
    bool split = false;
};

struct ExtractOptions {
    std::string cabPath;  // pszCabPath
    // Called for every notification before the default answer; a value
    // replaces the default (default: extract every file, continue at
    // CABINET_INFO/PARTIAL/ENUMERATE, 0 at the first NEXT_CABINET and -1 when
    // it repeats with an error).
    std::function<std::optional<intptr_t>(FDINOTIFICATIONTYPE, FDINOTIFICATION*)> answer;
    bool decrypt = false;  // pass a decrypt callback that records its calls
    std::function<int(FDIDECRYPT*)> decryptAnswer;  // result of the decrypt callback (default 0)
};

struct ExtractResult {
    bool ok = false;
    ERF erf{};
    std::map<std::string, std::vector<uint8_t>> files;  // name -> bytes, at CLOSE_FILE_INFO
    std::vector<Notification> notifications;
    std::vector<DecryptCall> decrypts;
    size_t handlesLeftOpen = 0;  // cabinet and output handles still open after FDICopy
};

// Runs one FDICopy on a fresh context over in-memory cabinets (keyed by the
// path the engine opens, i.e. cabPath + name) and collects what it produced.
ExtractResult RunFdiCopy(const std::map<std::string, std::vector<uint8_t>>& cabinets,
                         const std::string& cabinet, const ExtractOptions& options = {});

// The same on a given MemoryFs and context (for repeated calls, failure
// injection and several contexts).
ExtractResult RunFdiCopyOn(MemoryFs& fs, HFDI hfdi, ERF* erf, const std::string& cabinet,
                           const ExtractOptions& options = {});

// Extracts a whole set: one FDICopy per cabinet in order, every one on the
// same context; the files of all calls together. Stops at the first failure.
ExtractResult ExtractSet(const std::map<std::string, std::vector<uint8_t>>& cabinets,
                         const std::vector<std::string>& order);

const char* NotificationName(FDINOTIFICATIONTYPE type);

// The images of a built set as files keyed by cabPath + name.
std::map<std::string, std::vector<uint8_t>> AsFiles(const std::vector<cabbuild::CabinetImage>& images,
                                                    const std::string& cabPath = "");

}  // namespace testsupport
