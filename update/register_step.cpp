// Step 6 of an update run: start the registration of the installed files
// that the manifest marks, without waiting for it, then delete the cabinet
// and the folder it was unpacked into.
#include <strings.h>

#include <string>

#include "platform/crt.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/file_ops.h"
#include "update/file_table.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace {

// A file registers itself when its path ends in ".exe" (any case) or holds
// no '.' at all; anything else is a server library for regsvr32.
bool IsSelfRegistering(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || strcasecmp(path.c_str() + dot + 1, "EXE") == 0;
}

}  // namespace

bool ShellDeleteTree(std::string path) {
    const uint32_t attributes = platform::GetFileAttributes(path);
    if (attributes != platform::INVALID_FILE_ATTRIBUTES &&
        (attributes & platform::FILE_ATTRIBUTE_READONLY) != 0) {
        platform::SetFileAttributes(path, attributes & ~platform::FILE_ATTRIBUTE_READONLY);
    }
    platform::DeleteTree(path);
    return true;
}

int CUpdateSteps::RegisterAndCleanUp() {
    const FileTable& table = GetFileTable();
    for (int k = 0; k < m_nFileCount; ++k) {
        const FileEntry& target = table.target[k];
        if (target.RegFlag == 0) continue;
        const size_t slash = target.FullPath.rfind('/');
        if (slash == std::string::npos) return UPDATE_ERROR;
        const std::string folder = slash == 0 ? "/" : target.FullPath.substr(0, slash);
        const std::string name = target.FullPath.substr(slash + 1);
        // The registration runs in the file's folder and names it without one.
        if (platform::_chdir(folder.c_str()) != 0) return UPDATE_ERROR;
        if (IsSelfRegistering(target.FullPath)) {
            platform::StartProcess(name, " /Regserver", "", true);
        } else {
            platform::StartProcess(m_szSystemDir + "/regsvr32.exe", " /s " + name, "", true);
        }
    }
    platform::_unlink(g_strCabinetPath.c_str());
    ShellDeleteTree(g_strInstallDir);
    return UPDATE_OK;
}
