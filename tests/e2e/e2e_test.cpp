// End to end: the real Update binary in a temporary client folder, started
// by the stand-in client (notify mode) or directly (standalone mode), with a
// real cabinet built by our cabinet writer. Checks the installed tree, the
// result message, the relaunch, the registration processes and the clean-up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "platform/ui.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        if (item.is_regular_file()) files[fs::relative(item.path(), dir).string()] = ReadFile(item.path());
    }
    return files;
}

// Waits for a file that a started (not awaited) process writes.
std::string WaitForFile(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return ReadFile(path);
}

// Backup names: an installed path followed by the run's start time.
bool IsBackupOf(const std::string& name, const std::string& rel) {
    return name.size() > rel.size() && name.starts_with(rel) &&
           name.find_first_not_of("0123456789", rel.size()) == std::string::npos;
}

struct PackageFile {
    std::string storedName;  // as stored in the cabinet, e.g. "pkg\\Plugins\\a.dll"
    std::string bytes;
};

struct RunResult {
    int exitCode;
    std::string output;
};

class EndToEnd : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        const char* bin = std::getenv("MG_BINARY_DIR");
        ASSERT_NE(bin, nullptr);
        binary_ = bin;
        {
            cabbuild::CabinetWriter probe;
            std::string error;
            if (!probe.StartFolder(GetParam(), &error)) GTEST_SKIP() << "method not available yet: " << error;
        }
        std::string pattern = (fs::temp_directory_path() / "update-e2e-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        client_ = root_ / "client";
        system_ = root_ / "system";
        runtime_ = root_ / "runtime";
        fs::create_directories(client_ / "DownTemp");
        fs::create_directories(system_);
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        // The program finds DownTemp beside its own executable: it must live here.
        fs::copy_file(binary_ / "app" / "Update", client_ / "Update");
        fs::copy_file(binary_ / "tools" / "standin-client" / "standin-client", client_ / "Skarnfell.exe");
        // regsvr32 stand-in: logs its folder, arguments and standard output.
        WriteFile(system_ / "regsvr32.exe",
                  "#!/bin/sh\necho \"$(pwd)|$*|$(readlink /proc/$$/fd/1)\" >> " + (root_ / "regsvr32.log").string() +
                      "\n");
        fs::permissions(system_ / "regsvr32.exe", fs::perms::owner_all);
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void BuildCabinet(const std::string& name, const std::vector<PackageFile>& files) {
        cabbuild::CabinetWriter writer;
        std::string error;
        ASSERT_TRUE(writer.StartFolder(GetParam(), &error)) << error;
        for (const PackageFile& f : files) {
            writer.AddFile(f.storedName, std::vector<uint8_t>(f.bytes.begin(), f.bytes.end()), 0x5A21, 0x6000);
        }
        std::vector<cabbuild::CabinetImage> images;
        ASSERT_TRUE(writer.Build(&images, &error)) << error;
        ASSERT_EQ(images.size(), 1u);
        const auto& bytes = images[0].bytes;
        WriteFile(client_ / "DownTemp" / name, std::string(bytes.begin(), bytes.end()));
    }

    // Runs a command line with the test environment; returns exit code and output.
    RunResult Run(const std::string& command, const std::string& uiScript = "") {
        const std::string env = "XDG_RUNTIME_DIR='" + runtime_.string() + "' MG_SYSTEM_DIR='" + system_.string() +
                                "' MG_UI=script MG_UI_LAUNCH=1 MG_UI_SCRIPT='" + uiScript + "' MG_UI_RECORD='" +
                                record_.string() + "' MG_CLIENT_MARKER='" + (root_ / "relaunched").string() + "' ";
        FILE* pipe = ::popen((env + command + " 2>&1").c_str(), "r");
        RunResult result{-1, ""};
        if (pipe == nullptr) return result;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
        const int status = ::pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    RunResult RunNotify(const std::string& fields) {
        return Run("'" + (client_ / "Skarnfell.exe").string() + "' --folder '" + client_.string() + "' --timeout 30 '" +
                   fields + "'");
    }

    RunResult RunStandalone(const std::string& fields) {
        return Run("'" + (client_ / "Update").string() + "' '" + fields + "'", "confirm");
    }

    std::vector<platform::UiRecord> Records(const std::string& kind) const {
        std::vector<platform::UiRecord> found;
        for (const platform::UiRecord& r : platform::ReadRecordFile(record_.string())) {
            if (r.kind == kind) found.push_back(r);
        }
        return found;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& r : Records("msgbox")) texts.push_back(r.fields.at(1));
        return texts;
    }

    fs::path binary_, root_, client_, system_, runtime_;
    fs::path record_ = fs::temp_directory_path() / "unused";
};

const char kManifest[] =
    "[VerInfo]\r\nUpdateFileNum=4\r\n"
    "[File1]\r\nFileName=Game.dll\r\nFilePath=\\\r\n"
    "[File2]\r\nFileName=a.dll\r\nFilePath=\\Plugins\\\r\nRegFlag=1\r\n"
    "[File3]\r\nFileName=new.dat\r\nFilePath=\\Data\\Maps\\\r\n"
    "[File4]\r\nFileName=readme.txt\r\nFilePath=\\\r\n";

std::vector<PackageFile> PackageFiles() {
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 1000) & 0xFF);
    return {{"pkg\\patch.update", kManifest},
            {"pkg\\Game.dll", "new game " + big},
            {"pkg\\Plugins\\a.dll", "new plugin"},
            {"pkg\\Data\\Maps\\new.dat", std::string(5000, 'm')},
            {"pkg\\readme.txt", "new readme"}};
}

TEST_P(EndToEnd, NotifyModeInstallsRegistersCleansUpAndReports) {
    record_ = root_ / "record.txt";
    const fs::path install = client_ / "Bin";
    WriteFile(install / "Game.dll", "old game");
    WriteFile(install / "Plugins" / "a.dll", "old plugin");
    WriteFile(install / "readme.txt", "old readme");
    fs::permissions(install / "readme.txt", fs::perms::owner_read);
    WriteFile(install / "keep.cfg", "settings");
    WriteFile(client_ / "DownTemp" / "other.bin", "other download");
    const std::vector<PackageFile> files = PackageFiles();
    BuildCabinet("patch.cab", files);

    const RunResult run = RunNotify("^12^Game^patch.cab^Bin^");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("result 0"), std::string::npos) << run.output;

    EXPECT_EQ(Snapshot(install), (std::map<std::string, std::string>{{"Game.dll", files[1].bytes},
                                                                     {"Plugins/a.dll", "new plugin"},
                                                                     {"Data/Maps/new.dat", files[3].bytes},
                                                                     {"readme.txt", "new readme"},
                                                                     {"keep.cfg", "settings"}}));
    EXPECT_TRUE(MessageTexts().empty());
    const auto sent = Records("sendmsg");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].fields, (std::vector<std::string>{"WaitForUpdateResultWnd12", "8071", "0", "0"}));
    const auto starts = Records("start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].fields,
              (std::vector<std::string>{(system_ / "regsvr32.exe").string(), " /s a.dll", "", "hidden"}));
    EXPECT_EQ(WaitForFile(root_ / "regsvr32.log"), (install / "Plugins").string() + "|/s a.dll|/dev/null\n");
    // Clean-up: the cabinet and its folder are gone, other downloads stay.
    EXPECT_EQ(Snapshot(client_ / "DownTemp"), (std::map<std::string, std::string>{{"other.bin", "other download"}}));
    EXPECT_FALSE(fs::exists(root_ / "relaunched"));
}

TEST_P(EndToEnd, StandaloneModeInstallsBesideTheProgramAndRelaunchesTheClient) {
    record_ = root_ / "record.txt";
    WriteFile(client_ / "Game.dll", "old game");
    const std::vector<PackageFile> files = PackageFiles();
    BuildCabinet("patch.cab", files);

    const RunResult run = RunStandalone("^-1^Game^patch.cab^");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(ReadFile(client_ / "Game.dll"), files[1].bytes);
    EXPECT_EQ(ReadFile(client_ / "Plugins" / "a.dll"), "new plugin");
    EXPECT_EQ(ReadFile(client_ / "Data" / "Maps" / "new.dat"), files[3].bytes);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_TRUE(Records("sendmsg").empty());
    std::vector<std::string> statuses;
    for (const auto& r : Records("status")) statuses.push_back(r.fields.at(0));
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), "对战平台升级成功,正在调入...");
    const auto starts = Records("start");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].fields.at(1), " /s a.dll");
    EXPECT_EQ(starts[1].fields.at(0), (client_ / "Skarnfell.exe").string());
    EXPECT_EQ(starts[1].fields.at(1), "");
    EXPECT_EQ(WaitForFile(root_ / "relaunched"), "started\n");
    EXPECT_FALSE(fs::exists(client_ / "DownTemp" / "patch.cab"));
    EXPECT_FALSE(fs::exists(client_ / "DownTemp" / "patch.cab.Folder"));
}

TEST_P(EndToEnd, FailedRunKeepsTheInstallationAndTheDownload) {
    record_ = root_ / "record.txt";
    const fs::path install = client_ / "Bin";
    WriteFile(install / "Game.dll", "old game");
    WriteFile(install / "Plugins" / "a.dll", "old plugin");
    std::vector<PackageFile> files = PackageFiles();
    files.erase(files.begin() + 3);  // Data\Maps\new.dat is listed but missing
    BuildCabinet("patch.cab", files);
    const auto before = Snapshot(install);

    const RunResult run = RunNotify("^3^Game^patch.cab^Bin^");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("result -1"), std::string::npos) << run.output;
    const fs::path missing = client_ / "DownTemp" / "patch.cab.Folder" / "pkg" / "Data" / "Maps" / "new.dat";
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"下载文件有误:文件" + missing.string() + "不存在!"});
    EXPECT_EQ(Snapshot(install), before);
    EXPECT_TRUE(Records("start").empty());
    EXPECT_TRUE(fs::exists(client_ / "DownTemp" / "patch.cab"));
    EXPECT_TRUE(fs::exists(client_ / "DownTemp" / "patch.cab.Folder" / "pkg" / "Game.dll"));
}

// The n-th file-system operation of the real program fails, for every n of a
// notify-mode run (unpacking included). Whatever fails, the client gets a
// result, nothing installed is lost, and a failed run keeps the download.
TEST_P(EndToEnd, EveryFailurePointOfTheRealProgramIsSafe) {
    const fs::path install = client_ / "Bin";
    const std::map<std::string, std::string> oldFiles = {
        {"Game.dll", "old game"}, {"Plugins/a.dll", "old plugin"}, {"readme.txt", "old readme"}, {"keep.cfg", "settings"}};
    const std::vector<PackageFile> files = PackageFiles();
    std::map<std::string, std::string> newFiles = oldFiles;
    newFiles["Game.dll"] = files[1].bytes;
    newFiles["Plugins/a.dll"] = "new plugin";
    newFiles["Data/Maps/new.dat"] = files[3].bytes;
    newFiles["readme.txt"] = "new readme";
    const auto prepare = [&] {
        fs::remove_all(install);
        fs::remove_all(client_ / "DownTemp");
        for (const auto& [rel, bytes] : oldFiles) WriteFile(install / rel, bytes);
        fs::permissions(install / "readme.txt", fs::perms::owner_read);
        BuildCabinet("patch.cab", files);
    };

    prepare();
    record_ = root_ / "clean.txt";
    ASSERT_EQ(RunNotify("^5^Game^patch.cab^Bin^").exitCode, 0);
    const auto counts = Records("fsops");
    ASSERT_EQ(counts.size(), 1u);
    const int total = std::stoi(counts[0].fields.at(0));
    ASSERT_GT(total, 20);

    int succeeded = 0, failed = 0, reported = 0, afterInstall = 0;
    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE("failing operation " + std::to_string(n) + " of " + std::to_string(total));
        prepare();
        record_ = root_ / ("run" + std::to_string(n) + ".txt");
        const RunResult run = Run("MG_FAIL_FS_OP=" + std::to_string(n) + " '" + (client_ / "Skarnfell.exe").string() +
                                  "' --folder '" + client_.string() + "' --timeout 30 '^5^Game^patch.cab^Bin^'");
        ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.output;  // a result always arrives
        const auto installed = Snapshot(install);
        if (run.exitCode == 0) {
            ++succeeded;
            // A backup whose own deletion was the failed operation may remain.
            auto withoutBackups = installed;
            std::erase_if(withoutBackups, [&](const auto& item) {
                for (const auto& [rel, bytes] : oldFiles) {
                    if (IsBackupOf(item.first, rel)) return true;
                }
                return false;
            });
            EXPECT_EQ(withoutBackups, newFiles);
            continue;
        }
        ++failed;
        EXPECT_TRUE(fs::exists(client_ / "DownTemp" / "patch.cab"));
        const std::vector<std::string> messages = MessageTexts();
        const bool restoreReported =
            !messages.empty() &&
            messages.back() == "自动更新时发生了错误,原来的程序已经不能使用，请下载完整的安装文件！";
        if (installed == newFiles) {
            ++afterInstall;  // registration could not start; the files stay installed
            continue;
        }
        if (!restoreReported) {
            EXPECT_EQ(installed, oldFiles);
            continue;
        }
        ++reported;
        // Nothing lost: each old file is at its path or under its backup name.
        for (const auto& [rel, bytes] : oldFiles) {
            bool found = false;
            for (const auto& [name, content] : installed) {
                found = found || ((name == rel || IsBackupOf(name, rel)) && content == bytes);
            }
            EXPECT_TRUE(found) << rel;
        }
    }
    std::printf("real program (%s): tried %d failure points: %d succeeded, %d failed (%d after installing, "
                "%d with the restore message, the others with the old installation)\n",
                GetParam().c_str(), total, succeeded, failed, afterInstall, reported);
    EXPECT_GT(succeeded, 0);
    EXPECT_GT(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, EndToEnd, ::testing::Values("none", "mszip", "lzx", "quantum"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
