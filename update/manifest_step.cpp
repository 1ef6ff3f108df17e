// Step 3 of an update run: read the package's manifest into the file table
// and check that every listed file is in the package, before anything in the
// installation is touched.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/crt.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "update/file_table.h"
#include "update/manifest_paths.h"
#include "update/update_steps.h"

namespace {

// Values longer than this are refused rather than cut to another name.
constexpr size_t kMaxValueBytes = 259;
// Read buffer larger than any acceptable value, so a longer one shows.
constexpr uint32_t kValueBuffer = 1024;

// Reads one string value of an entry; false when it is too long or not
// valid in the manifest's encoding. Absent reads as empty.
bool ReadPathValue(const CIniFile& ini, const char* section, const char* key,
                   manifest::TextEncoding encoding, std::string& out) {
    char raw[kValueBuffer];
    const uint32_t length = ini.GetString(section, key, raw, sizeof raw, "");
    if (length > kMaxValueBytes) return false;
    return manifest::ToUtf8(std::string_view(raw, length), encoding, out);
}

bool Fits(const std::string& path, size_t maxChars) { return manifest::CountChars(path) <= maxChars; }

}  // namespace

int CUpdateSteps::LoadManifest() {
    FileTable& table = GetFileTable();
    table.Clear();
    m_nFileCount = 0;

    // Names in the package are found without regard to case, as on Windows.
    const std::string manifestPath = platform::ResolveCase(m_strManifestPath);
    if (m_manifest.Load(manifestPath.c_str(), false) != 0) return UPDATE_BAD_PACKAGE;

    int32_t count = -1;
    m_manifest.GetInt("VerInfo", "UpdateFileNum", &count, -1);
    // The table has room for kFileTableCapacity entries; a larger count is
    // refused before any entry is read.
    if (count <= 0 || count > kFileTableCapacity) return UPDATE_ERROR;
    m_nFileCount = count;

    const manifest::TextEncoding encoding = manifest::DetectEncoding(
        std::string_view(m_manifest.Text(), static_cast<size_t>(m_manifest.Length())));

    for (int i = 1; i <= count; ++i) {
        const auto k = static_cast<size_t>(i - 1);
        char section[32];
        std::snprintf(section, sizeof section, "File%d", i);

        FileEntry& source = table.source[k];
        std::string fileName, filePath;
        if (!ReadPathValue(m_manifest, section, "FileName", encoding, fileName) ||
            !ReadPathValue(m_manifest, section, "FilePath", encoding, filePath)) {
            return UPDATE_ERROR;
        }
        // An empty name would make the target a folder of the installation;
        // a name reaching outside would write beyond it.
        if (!manifest::IsContainedRelativePath(filePath, fileName)) return UPDATE_ERROR;
        source.FileName = platform::ToNativeSeparators(fileName);
        source.FilePath = platform::ToNativeSeparators(filePath);
        m_manifest.GetInt(section, "RegFlag", &source.RegFlag, 0);
        source.FullPath = m_strPackageRoot + source.FilePath + source.FileName;

        FileEntry& target = table.target[k];
        target = source;
        target.FullPath = m_szInstallDir + source.FilePath + source.FileName;
        target.BackupPath = target.FullPath + std::to_string(m_tStart);
        if (!Fits(source.FullPath, kMaxFullPathChars) || !Fits(target.FullPath, kMaxFullPathChars) ||
            !Fits(target.BackupPath, kMaxBackupPathChars)) {
            return UPDATE_ERROR;
        }

        if (platform::_access(source.FullPath.c_str(), platform::kAccessExists) != 0) {
            platform::ShowMessageBox("下载文件有误:文件" + source.FullPath + "不存在!");
            return UPDATE_ERROR;
        }
    }
    return UPDATE_OK;
}
