// The cabinet extraction client: unpacks one cabinet into a folder through
// the FDI interface, turning the engine's notifications into files with their
// stored times and attributes.
//
// Each notification is first offered to an event of the object; listeners
// attached there may change the handler's defaults through the out-arguments
// they receive. The updater attaches none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cabclient/cab_event.h"
#include "cabclient/output_tree.h"
#include "fdi/fdi.h"

namespace cabclient {

// psz1 (next cabinet), psz2 (next disk), psz3 (cabinet path), setID,
// iCabinet, answer.
using CabinetInfoEvent =
    CCabEvent<const char*, const char*, const char*, uint16_t, uint16_t, intptr_t*>;
// psz1 (file name), psz2 (previous cabinet), psz3 (previous disk), answer.
using PartialFileEvent = CCabEvent<const char*, const char*, const char*, intptr_t*>;
// Output path, file size, handle to return (0 skips), extract flag (clear it
// to keep the handle a listener chose).
using CopyFileEvent = CCabEvent<const std::string&, int32_t, intptr_t*, bool*>;
// Output path, handle, date, time, attribs, iFolder, the record, finish flag
// (clear it to do the closing yourself), answer.
using CloseFileInfoEvent = CCabEvent<const std::string&, int*, uint16_t, uint16_t, uint16_t,
                                     uint16_t, FDINOTIFICATION*, bool*, intptr_t*>;
// psz1 (next cabinet name, may be rewritten), psz2, psz3 (cabinet path, may
// be rewritten), answer.
using NextCabinetEvent = CCabEvent<char*, char*, char*, intptr_t*>;
// The record, its iFolder (entries still to come), answer.
using EnumerateEvent = CCabEvent<FDINOTIFICATION*, uint16_t*, intptr_t*>;

class CCabExtractor {
public:
    CCabExtractor();
    virtual ~CCabExtractor();
    CCabExtractor(const CCabExtractor&) = delete;
    CCabExtractor& operator=(const CCabExtractor&) = delete;

    // Extracts the whole cabinet (and what continues into the next cabinets
    // of its set, looked for in the same folder) below destination. Nonzero
    // when everything was extracted. Files written before a failure stay.
    bool Extract(std::string cabinetPath, const std::string& destination);

    CabinetInfoEvent m_evCabinetInfo;
    PartialFileEvent m_evPartialFile;
    CopyFileEvent m_evCopyFile;
    CloseFileInfoEvent m_evCloseFileInfo;
    NextCabinetEvent m_evNextCabinet;
    EnumerateEvent m_evEnumerate;

    ERF m_erfExtract{};             // filled by the engine on failure
    std::string m_strClientError;   // why this client stopped the extraction, if it did

private:
    friend intptr_t HandleNotification(CCabExtractor& self, FDINOTIFICATIONTYPE fdint,
                                       PFDINOTIFICATION pfdin);
    std::unique_ptr<OutputTree> m_output;  // exists while Extract runs
};

// The extraction whose FDICopy runs: the engine is given no user value.
extern CCabExtractor* g_pActiveExtractor;
// Destination folder of the running extraction; emptied by every constructor.
extern std::string g_szExtractDir;

// The FDI callbacks: memory and the C-runtime file functions, unchanged,
// except that the open refuses the Quantum spill request's name ("*"), as the
// Windows runtime does.
void* CabAlloc(uint32_t cb);
void CabFree(void* pv);
int CabOpen(const char* pszFile, int oflag, int pmode);
uint32_t CabRead(int hf, void* pv, uint32_t cb);
uint32_t CabWrite(int hf, const void* pv, uint32_t cb);
int CabClose(int hf);
int32_t CabSeek(int hf, int32_t dist, int seektype);
intptr_t CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

}  // namespace cabclient
