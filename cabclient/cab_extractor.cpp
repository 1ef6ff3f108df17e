#include "cabclient/cab_extractor.h"

#include <vector>

#include "cabclient/file_finish.h"
#include "cabclient/stored_name.h"

namespace cabclient {

CCabExtractor* g_pActiveExtractor = nullptr;
std::string g_szExtractDir;

CCabExtractor::CCabExtractor() { g_szExtractDir.clear(); }

CCabExtractor::~CCabExtractor() = default;

namespace {

// The cabinet path split at its last separator: the folder keeps the
// separator, a path without one is all name.
void SplitCabinetPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

intptr_t OnCopyFile(OutputTree& output, PFDINOTIFICATION pfdin,
                    CopyFileEvent& event, std::string& clientError) {
    std::vector<std::string> components;
    const NameError nameError = ParseStoredName(pfdin->psz1, pfdin->attribs, components);
    if (nameError != NameError::None) {
        // Never written anywhere: a name that could leave the destination
        // ends the whole extraction.
        clientError = std::string("refusing stored name \"") + pfdin->psz1 + "\": " +
                      NameErrorText(nameError);
        return -1;
    }
    const std::string outputPath = output.OutputPath(components);
    intptr_t handle = 0;
    bool extract = true;
    event.Fire(outputPath, pfdin->cb, &handle, &extract);
    if (!extract) return handle;
    handle = output.CreateFile(components, clientError);
    return handle;
}

intptr_t OnCloseFileInfo(OutputTree& output, PFDINOTIFICATION pfdin, CloseFileInfoEvent& event) {
    std::vector<std::string> components;
    ParseStoredName(pfdin->psz1, pfdin->attribs, components);
    const std::string outputPath = output.OutputPath(components);
    bool finish = true;
    intptr_t answer = 1;
    int* hf = &pfdin->hf;
    event.Fire(outputPath, hf, pfdin->date, pfdin->time, pfdin->attribs, pfdin->iFolder, pfdin,
               &finish, &answer);
    if (finish) {
        // Times and attributes go through the descriptor the file was
        // written with; failures there keep the file as it is.
        FinishOutputFile(*hf, pfdin->date, pfdin->time, pfdin->attribs, pfdin->cb == 1);
        CabClose(*hf);
    }
    return answer;
}

}  // namespace

intptr_t HandleNotification(CCabExtractor& self, FDINOTIFICATIONTYPE fdint,
                            PFDINOTIFICATION pfdin) {
    intptr_t answer = 0;
    switch (fdint) {
        case fdintCABINET_INFO:
            self.m_evCabinetInfo.Fire(pfdin->psz1, pfdin->psz2, pfdin->psz3, pfdin->setID,
                                      pfdin->iCabinet, &answer);
            return answer;
        case fdintPARTIAL_FILE:
            self.m_evPartialFile.Fire(pfdin->psz1, pfdin->psz2, pfdin->psz3, &answer);
            return answer;
        case fdintCOPY_FILE:
            if (!self.m_output) self.m_output = std::make_unique<OutputTree>(g_szExtractDir);
            return OnCopyFile(*self.m_output, pfdin, self.m_evCopyFile, self.m_strClientError);
        case fdintCLOSE_FILE_INFO:
            if (!self.m_output) self.m_output = std::make_unique<OutputTree>(g_szExtractDir);
            return OnCloseFileInfo(*self.m_output, pfdin, self.m_evCloseFileInfo);
        case fdintNEXT_CABINET:
            // A repeated notification reports that the previous attempt
            // failed (fdie): retrying the same name can only fail again.
            if (pfdin->fdie != FDIERROR_NONE) answer = -1;
            else if (!PrepareNextCabinetName(pfdin->psz1, FDI_NAME_BUFFER)) answer = -1;
            self.m_evNextCabinet.Fire(pfdin->psz1, pfdin->psz2, pfdin->psz3, &answer);
            return answer;
        case fdintENUMERATE:
            self.m_evEnumerate.Fire(pfdin, &pfdin->iFolder, &answer);
            return answer;
    }
    return 0;
}

intptr_t CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    if (g_pActiveExtractor == nullptr || pfdin == nullptr) return -1;
    return HandleNotification(*g_pActiveExtractor, fdint, pfdin);
}

bool CCabExtractor::Extract(std::string cabinetPath, const std::string& destination) {
    g_pActiveExtractor = this;
    m_strClientError.clear();
    HFDI hfdi = FDICreate(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                          cpu80386, &m_erfExtract);
    if (hfdi == nullptr) return false;

    const int hf = CabOpen(cabinetPath.c_str(), FDI_O_BINARY | FDI_O_SEQUENTIAL, 0);
    if (hf == -1) {
        FDIDestroy(hfdi);
        return false;
    }
    FDICABINETINFO info{};
    if (!FDIIsCabinet(hfdi, hf, &info)) {
        CabClose(hf);
        FDIDestroy(hfdi);
        return false;
    }
    CabClose(hf);

    std::string folder, name;
    SplitCabinetPath(cabinetPath, folder, name);
    g_szExtractDir = destination;
    m_output.reset();  // created at the first file, so a failure before creates nothing
    const bool copied = FDICopy(hfdi, name.c_str(), folder.c_str(), 0, CabNotify, nullptr, nullptr);
    m_output.reset();
    if (!copied) {
        FDIDestroy(hfdi);
        return false;
    }
    return FDIDestroy(hfdi) != 0;
}

}  // namespace cabclient
