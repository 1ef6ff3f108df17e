// Steps 1 and 2 of an update run: unpack the downloaded cabinet into an
// extraction folder beside it, then find the package's top folder and the
// manifest in there.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cabclient/cab_extractor.h"
#include "platform/crt.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace {

// The manifest name holds 99 characters at most.
constexpr size_t kMaxManifestName = 99;

size_t CountCharacters(const std::string& utf8) {
    size_t count = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

bool ExistsNoFollow(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string WithPath(const char* before, const std::string& path, const char* after) {
    return std::string(before) + path + after;
}

}  // namespace

int CUpdateSteps::UnpackPackage() {
    cabclient::CCabExtractor extractor;

    if (platform::_access(g_strCabinetPath.c_str(), platform::kAccessExists) != 0) {
        platform::ShowMessageBox(WithPath("待解压的文件", g_strCabinetPath, "不存在!"));
        return UPDATE_ERROR;
    }
    g_strInstallDir = g_strCabinetPath + ".Folder";

    const size_t slash = g_strCabinetPath.rfind('/');
    if (slash == std::string::npos) return UPDATE_ERROR;
    std::string name = g_strCabinetPath.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return UPDATE_ERROR;
    // Both the cabinet's name and the manifest name made from it must fit.
    if (CountCharacters(name) > kMaxManifestName) return UPDATE_ERROR;
    name = name.substr(0, dot) + ".update";
    if (CountCharacters(name) > kMaxManifestName) return UPDATE_ERROR;
    m_szManifestName = name;

    // A folder left by an earlier failed run could hold files of an older
    // package that the new cabinet doesn't overwrite; they must not be
    // installed. DeleteTree never follows links (a link there, even a
    // dangling one, is removed as a link).
    platform::DeleteTree(g_strInstallDir);
    const bool clean = !ExistsNoFollow(platform::ResolveCase(g_strInstallDir));
    if (!clean || !extractor.Extract(g_strCabinetPath, g_strInstallDir)) {
        platform::ShowMessageBox(WithPath("解压下载的文件失败【", g_strCabinetPath,
                                          "】,请确认下载的文件是否正确!"));
        return UPDATE_ERROR;
    }
    return UPDATE_OK;
}

int CUpdateSteps::LocatePackageRoot() {
    // Sorted by name without regard to case, as Windows lists a folder, so
    // the choice never depends on the file system's own order.
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(g_strInstallDir, entries)) return UPDATE_BAD_PACKAGE;
    for (const auto& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;
        // Plain files (archive, perhaps read-only) are passed over; folders
        // and anything else qualify.
        if (entry.attributes == 0x20 || entry.attributes == 0x21) continue;
        std::string root = g_strInstallDir;
        if (!root.empty() && root.back() != '/') root += '/';
        m_strPackageRoot = root + entry.name;
        m_strManifestPath = m_strPackageRoot + "/" + m_szManifestName;
        return UPDATE_OK;
    }
    return UPDATE_BAD_PACKAGE;
}
