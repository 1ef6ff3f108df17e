// Installs an update of 1,000 files totalling a little over 100 MB (every
// file replaces an installed one, in nested folders) and compares it with
// `cp -r` of the same package tree, in the same run.
//
//   bench_update [work folder]   (default: a new folder under $TMPDIR or /tmp)
//
// Each measurement is the median of several rounds; the installation is laid
// out again (untimed) before each round. The update round runs the manifest,
// backup, install and clean-up steps as the program does.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1000;
constexpr size_t kFileBytes = 105 * 1024;  // 1,000 files: 107.5 MB
constexpr int kRounds = 3;

void WriteBytes(const fs::path& path, size_t size, unsigned seed) {
    fs::create_directories(path.parent_path());
    std::string bytes(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string RelativeName(int i) {
    return "d" + std::to_string(i % 10) + "/s" + std::to_string(i / 10 % 10) + "/file" + std::to_string(i) + ".bin";
}

// The package (with its manifest) once; it is reused by every round.
void BuildPackage(const fs::path& package) {
    std::string manifest = "[VerInfo]\r\nUpdateFileNum=" + std::to_string(kFiles) + "\r\n";
    for (int i = 0; i < kFiles; ++i) {
        const std::string rel = RelativeName(i);
        WriteBytes(package / rel, kFileBytes, static_cast<unsigned>(i));
        const size_t slash = rel.rfind('/');
        std::string folder = "\\" + rel.substr(0, slash + 1);
        std::replace(folder.begin(), folder.end(), '/', '\\');
        manifest += "[File" + std::to_string(i + 1) + "]\r\nFileName=" + rel.substr(slash + 1) +
                    "\r\nFilePath=" + folder + "\r\n";
    }
    std::ofstream(package / "patch.update", std::ios::binary) << manifest;
}

void BuildInstallation(const fs::path& install) {
    fs::remove_all(install);
    for (int i = 0; i < kFiles; ++i) WriteBytes(install / RelativeName(i), kFileBytes / 2, 7u + static_cast<unsigned>(i));
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct StepTimes {
    double manifest = 0, backup = 0, install = 0, cleanup = 0;
    double Total() const { return manifest + backup + install + cleanup; }
};

StepTimes TimeUpdate(const fs::path& work) {
    const fs::path download = work / "DownTemp";
    const fs::path extract = download / "patch.cab.Folder";
    const fs::path install = work / "Bin";
    fs::remove_all(extract);
    fs::create_directories(extract);
    fs::copy(work / "package", extract / "pkg", fs::copy_options::recursive);
    std::ofstream(download / "patch.cab") << "cabinet";
    BuildInstallation(install);
    ::sync();

    CUpdateSteps steps;
    steps.m_strPackageRoot = (extract / "pkg").string();
    steps.m_strManifestPath = (extract / "pkg" / "patch.update").string();
    steps.m_szInstallDir = install.string();
    g_strCabinetPath = (download / "patch.cab").string();
    g_strInstallDir = extract.string();

    StepTimes times;
    auto start = std::chrono::steady_clock::now();
    int r = steps.LoadManifest();
    times.manifest = Seconds(start);
    start = std::chrono::steady_clock::now();
    if (r == 0) r = steps.BackupTargets();
    times.backup = Seconds(start);
    start = std::chrono::steady_clock::now();
    if (r == 0) r = steps.InstallFiles();
    times.install = Seconds(start);
    start = std::chrono::steady_clock::now();
    if (r == 0) r = steps.RegisterAndCleanUp();
    times.cleanup = Seconds(start);
    if (r != 0) {
        std::fprintf(stderr, "update failed with %d\n", r);
        std::exit(1);
    }
    return times;
}

// The same work done by the shell: old tree aside, new tree copied in, old
// tree and download deleted. Deleting 2,000 files is a large part of both.
double TimeShellEquivalent(const fs::path& work) {
    const fs::path download = work / "DownTemp";
    const fs::path extract = download / "patch.cab.Folder";
    const fs::path install = work / "Bin";
    fs::remove_all(extract);
    fs::create_directories(extract);
    fs::copy(work / "package", extract / "pkg", fs::copy_options::recursive);
    BuildInstallation(install);
    ::sync();
    const std::string i = install.string(), e = extract.string();
    const std::string command = "mv '" + i + "' '" + i + ".old' && cp -r '" + e + "/pkg' '" + i + "' && rm -rf '" + i +
                                ".old' '" + e + "'";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "shell equivalent failed\n");
        std::exit(1);
    }
    return Seconds(start);
}

double TimeCopy(const fs::path& work) {
    const fs::path target = work / "cp-target";
    fs::remove_all(target);
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "cp -r '" + (work / "package").string() + "' '" + target.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cp -r failed\n");
        std::exit(1);
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work;
    if (argc > 1) {
        work = argv[1];
        fs::create_directories(work);
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench-update-XXXXXX";
        work = mkdtemp(pattern.data());
    }
    platform::ScriptedFrontEnd ui;  // no console output from the steps
    platform::InstallFrontEnd(&ui);

    BuildPackage(work / "package");
    std::vector<double> update, copy, shell;
    std::vector<StepTimes> steps;
    TimeCopy(work);  // warms the cache for the package bytes
    for (int round = 0; round < kRounds; ++round) {
        steps.push_back(TimeUpdate(work));
        update.push_back(steps.back().Total());
        copy.push_back(TimeCopy(work));
        shell.push_back(TimeShellEquivalent(work));
    }
    const double mb = static_cast<double>(kFiles) * static_cast<double>(kFileBytes) / 1e6;
    const double u = Median(update), c = Median(copy);
    std::printf("update of %d files, %.1f MB (each replacing an installed file)\n", kFiles, mb);
    std::printf("  Update steps (manifest, backup, install, clean-up): %.3f s  (%.0f MB/s)\n", u, mb / u);
    const StepTimes& last = steps.back();
    std::printf("    last round by step: manifest %.3f s, backup %.3f s, install %.3f s, clean-up %.3f s\n",
                last.manifest, last.backup, last.install, last.cleanup);
    std::printf("  cp -r of the same tree:                             %.3f s  (%.0f MB/s)\n", c, mb / c);
    const double sh = Median(shell);
    std::printf("  shell mv + cp -r + rm -rf (old tree, download):   %.3f s\n", sh);
    std::printf("  ratio update / cp -r: %.2f  (median of %d rounds)\n", u / c, kRounds);
    std::printf("  ratio update / shell equivalent: %.2f\n", u / sh);
    // The part that corresponds to cp -r: moving aside, copying in and
    // dropping the backups, without the manifest and the download's deletion.
    std::vector<double> replace;
    for (const StepTimes& t : steps) replace.push_back(t.backup + t.install);
    std::printf("  ratio backup+install / cp -r: %.2f\n", Median(replace) / c);
    if (!ui.Records("msgbox").empty()) std::printf("  unexpected message: %s\n", ui.Records("msgbox")[0].Text().c_str());
    platform::InstallFrontEnd(nullptr);
    if (argc <= 1) fs::remove_all(work);
    return 0;
}
