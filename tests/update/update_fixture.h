// A client folder in a temporary directory, laid out as an update run finds
// it: <root>/Bin is the installation, <root>/DownTemp/patch.cab the cabinet
// and <root>/DownTemp/patch.cab.Folder/pkg the unpacked package with its
// manifest. The steps run in-process with a scripted front end that records
// message boxes and started processes.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/ui.h"
#include "update/file_table.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace fs = std::filesystem;

struct ManifestEntry {
    std::string filePath;  // as written in the manifest, e.g. "\\Plugins\\"
    std::string fileName;
    int regFlag = 0;       // written only when nonzero
};

inline std::string MakeManifest(const std::vector<ManifestEntry>& entries, int count = -1) {
    std::string text = "[VerInfo]\r\nUpdateFileNum=" +
                       std::to_string(count < 0 ? static_cast<int>(entries.size()) : count) + "\r\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        text += "[File" + std::to_string(i + 1) + "]\r\nFileName=" + entries[i].fileName +
                "\r\nFilePath=" + entries[i].filePath + "\r\n";
        if (entries[i].regFlag != 0) text += "RegFlag=" + std::to_string(entries[i].regFlag) + "\r\n";
    }
    return text;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool IsReadOnlyOnDisk(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

inline void SetReadOnlyOnDisk(const fs::path& path, bool readOnly) {
    fs::permissions(path, readOnly ? fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read
                                   : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                         fs::perms::others_read);
}

// Every regular file below dir, by relative path, with its bytes.
inline std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    if (!fs::exists(dir)) return files;
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        if (item.is_regular_file()) files[fs::relative(item.path(), dir).string()] = ReadFile(item.path());
    }
    return files;
}

class UpdateFixture : public ::testing::Test {
protected:
    static constexpr uint32_t kStart = 1316000000;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "update-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        install_ = root_ / "Bin";
        downTemp_ = root_ / "DownTemp";
        cabinet_ = downTemp_ / "patch.cab";
        extract_ = downTemp_ / "patch.cab.Folder";
        package_ = extract_ / "pkg";
        system_ = root_ / "system";
        fs::create_directories(install_);
        fs::create_directories(package_);
        fs::create_directories(system_);
        WriteFile(cabinet_, "cabinet bytes");
        savedCwd_ = fs::current_path();

        platform::InstallFrontEnd(&ui_);
        platform::FailFsOpAt(0);
        g_strBlockingApp = "Game";
        g_strCabinetPath = cabinet_.string();
        g_strInstallDir = extract_.string();
        steps_.m_tStart = kStart;
        steps_.m_szSystemDir = system_.string();
        steps_.m_szManifestName = "patch.update";
        steps_.m_strPackageRoot = package_.string();
        steps_.m_strManifestPath = (package_ / "patch.update").string();
        steps_.m_szInstallDir = install_.string();
    }

    void TearDown() override {
        platform::FailFsOpAt(0);
        platform::InstallFrontEnd(nullptr);
        fs::current_path(savedCwd_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void WriteManifest(const std::string& text) { WriteFile(package_ / "patch.update", text); }
    void AddPackageFile(const std::string& rel, const std::string& bytes) { WriteFile(package_ / rel, bytes); }
    void AddInstalledFile(const std::string& rel, const std::string& bytes, bool readOnly = false) {
        WriteFile(install_ / rel, bytes);
        if (readOnly) SetReadOnlyOnDisk(install_ / rel, true);
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const platform::UiRecord& r : ui_.Records("msgbox")) texts.push_back(r.fields.at(1));
        return texts;
    }
    std::vector<platform::UiRecord> Starts() const { return ui_.Records("start"); }

    // LoadManifest, BackupTargets, InstallFiles, RegisterAndCleanUp as the
    // driver calls them, stopping at the first failure.
    int RunFromManifest() {
        int r = steps_.LoadManifest();
        if (r == 0) r = steps_.BackupTargets();
        if (r == 0) r = steps_.InstallFiles();
        if (r == 0) r = steps_.RegisterAndCleanUp();
        return r;
    }

    fs::path root_, install_, downTemp_, cabinet_, extract_, package_, system_, savedCwd_;
    platform::ScriptedFrontEnd ui_;
    CUpdateSteps steps_;
};

inline const char kRestoreFailedText[] =
    "自动更新时发生了错误,原来的程序已经不能使用，请下载完整的安装文件！";
