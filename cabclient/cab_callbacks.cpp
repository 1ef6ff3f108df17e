// The memory and file callbacks handed to the engine.
#include <cstdlib>

#include "cabclient/cab_extractor.h"
#include "platform/crt.h"

namespace cabclient {

void* CabAlloc(uint32_t cb) { return std::malloc(cb); }
void CabFree(void* pv) { std::free(pv); }

int CabOpen(const char* pszFile, int oflag, int pmode) {
    // The Quantum decoder asks for its spill file by the name "*". The
    // runtime refuses that name, so the updater fails such a request
    // instead of creating a file called "*" in the working folder.
    if (pszFile == nullptr || (pszFile[0] == '*' && pszFile[1] == '\0')) return -1;
    return platform::_open(pszFile, oflag, pmode);
}

uint32_t CabRead(int hf, void* pv, uint32_t cb) { return platform::_read(hf, pv, cb); }
uint32_t CabWrite(int hf, const void* pv, uint32_t cb) { return platform::_write(hf, pv, cb); }
int CabClose(int hf) { return platform::_close(hf); }
int32_t CabSeek(int hf, int32_t dist, int seektype) { return platform::_lseek(hf, dist, seektype); }

}  // namespace cabclient
