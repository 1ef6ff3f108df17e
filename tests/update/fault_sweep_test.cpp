// Makes the n-th file-system operation of an update run fail, for every n
// from the first to the last, and checks each run against what the steps
// promise: nothing is ever lost, a failed run puts the installation back (or
// says that it couldn't), and the download survives every failed run.
#include <cstdio>
#include <set>

#include "update_fixture.h"

namespace {

struct SweepFile {
    std::string filePath;  // manifest form
    std::string fileName;
    bool hadOld;
    bool oldReadOnly;
    bool packageReadOnly;
    int regFlag;
};

const SweepFile kFiles[] = {
    {"\\", "Game.dll", true, false, false, 0},
    {"\\", "ro.dat", true, true, false, 0},
    {"\\Plugins\\", "a.dll", true, false, false, 1},
    {"\\Plugins\\", "b.dll", false, false, false, 0},
    {"\\Plugins\\Deep\\Er\\", "c.dll", false, false, false, 0},
    {"\\Data\\", "d.bin", true, true, false, 0},
    {"\\Data\\", "e.bin", false, false, false, 0},
    {"\\Data\\Sub\\", "f.bin", false, false, false, 0},
    {"\\", "readme.txt", true, false, false, 0},
    {"\\", "config.ini", true, false, false, 0},
    {"\\Plugins\\", "g.dll", false, false, true, 0},
    {"\\", "Tool.exe", true, false, false, 0},
};

// Without a failure of its own the run succeeds; the other two scenarios
// fail on their last entry, so the sweep also reaches every operation of
// the undo in BackupTargets and of the restore in InstallFiles.
enum class Scenario { Clean, CopyFails, BackupBlocked };

const char* ScenarioName(Scenario s) {
    switch (s) {
        case Scenario::Clean: return "Clean";
        case Scenario::CopyFails: return "CopyFails";
        case Scenario::BackupBlocked: return "BackupBlocked";
    }
    return "";
}

std::string Rel(const SweepFile& f) {
    std::string rel = (f.filePath + f.fileName).substr(1);
    for (char& c : rel) {
        if (c == '\\') c = '/';
    }
    return rel;
}

class FaultSweep : public UpdateFixture, public ::testing::WithParamInterface<Scenario> {
protected:
    // Lays out a fresh installation and download.
    void Prepare() {
        fs::remove_all(install_);
        fs::remove_all(downTemp_);
        fs::create_directories(install_);
        fs::create_directories(package_);
        WriteFile(cabinet_, "cabinet bytes");
        WriteFile(install_ / "untouched.cfg", "not in the update");
        std::vector<ManifestEntry> entries;
        for (const SweepFile& f : kFiles) {
            AddPackageFile(Rel(f), "new " + Rel(f));
            if (f.packageReadOnly) SetReadOnlyOnDisk(package_ / Rel(f), true);
            if (f.hadOld) AddInstalledFile(Rel(f), "old " + Rel(f), f.oldReadOnly);
            entries.push_back({f.filePath, f.fileName, f.regFlag});
        }
        if (GetParam() == Scenario::CopyFails) {
            fs::create_directories(package_ / "zz" / "broken.dll");  // a folder: its copy fails
            AddInstalledFile("zz/broken.dll", "old zz/broken.dll");
            entries.push_back({"\\zz\\", "broken.dll"});
        } else if (GetParam() == Scenario::BackupBlocked) {
            AddPackageFile("blocked.dll", "new blocked.dll");
            AddInstalledFile("blocked.dll", "old blocked.dll");
            AddInstalledFile("blocked.dll" + std::to_string(kStart), "blocker");
            entries.push_back({"\\", "blocked.dll"});
        }
        WriteManifest(MakeManifest(entries));
    }

    struct Outcome {
        int result;
        std::vector<std::string> messages;
    };

    // One run from the manifest step on, with operation failAt failing (0: none).
    Outcome Run(uint64_t failAt, std::vector<uint64_t>* stepEnds = nullptr) {
        Prepare();
        platform::ScriptedFrontEnd ui;
        platform::InstallFrontEnd(&ui);
        CUpdateSteps steps;
        steps.m_tStart = kStart;
        steps.m_szSystemDir = system_.string();
        steps.m_strPackageRoot = package_.string();
        steps.m_strManifestPath = (package_ / "patch.update").string();
        steps.m_szInstallDir = install_.string();
        g_strInstallDir = extract_.string();

        platform::FailFsOpAt(failAt);
        int r = steps.LoadManifest();
        if (stepEnds) stepEnds->push_back(platform::FsOpCount());
        if (r == 0) r = steps.BackupTargets();
        if (stepEnds) stepEnds->push_back(platform::FsOpCount());
        if (r == 0) r = steps.InstallFiles();
        if (stepEnds) stepEnds->push_back(platform::FsOpCount());
        if (r == 0) r = steps.RegisterAndCleanUp();
        if (stepEnds) stepEnds->push_back(platform::FsOpCount());
        platform::FailFsOpAt(0);

        Outcome outcome{r, {}};
        for (const platform::UiRecord& rec : ui.Records("msgbox")) outcome.messages.push_back(rec.fields.at(1));
        platform::InstallFrontEnd(&ui_);
        return outcome;
    }

    std::map<std::string, std::string> OldInstallation() const {
        std::map<std::string, std::string> files{{"untouched.cfg", "not in the update"}};
        if (GetParam() == Scenario::CopyFails) files["zz/broken.dll"] = "old zz/broken.dll";
        if (GetParam() == Scenario::BackupBlocked) {
            files["blocked.dll"] = "old blocked.dll";
            files["blocked.dll" + std::to_string(kStart)] = "blocker";
        }
        for (const SweepFile& f : kFiles) {
            if (f.hadOld) files[Rel(f)] = "old " + Rel(f);
        }
        return files;
    }
};

TEST_P(FaultSweep, NoFailurePointLosesAFile) {
    std::vector<uint64_t> ends;
    ASSERT_EQ(Run(0, &ends).result, GetParam() == Scenario::Clean ? UPDATE_OK : UPDATE_ERROR);
    const uint64_t installEnd = ends[2];
    const uint64_t total = ends[3];
    ASSERT_GT(total, 40u);
    const std::string suffix = std::to_string(kStart);

    int succeeded = 0, restored = 0, restoreReported = 0, failedAfterInstall = 0;
    for (uint64_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("failing operation " + std::to_string(n) + " of " + std::to_string(total));
        const Outcome outcome = Run(n);
        const auto installed = Snapshot(install_);

        if (outcome.result == UPDATE_OK) {
            ++succeeded;
            for (const SweepFile& f : kFiles) EXPECT_EQ(installed.at(Rel(f)), "new " + Rel(f));
            EXPECT_EQ(installed.at("untouched.cfg"), "not in the update");
            // Only a backup whose own deletion failed may remain.
            int backups = 0;
            for (const auto& [name, bytes] : installed) {
                if (!name.ends_with(suffix)) continue;
                ++backups;
                EXPECT_EQ(bytes, "old " + name.substr(0, name.size() - suffix.size()));
            }
            EXPECT_LE(backups, 1);
            EXPECT_EQ(installed.size(), std::size(kFiles) + 1 + static_cast<size_t>(backups));
            continue;
        }

        // The download survives every failed run.
        EXPECT_EQ(ReadFile(cabinet_), "cabinet bytes");
        for (const SweepFile& f : kFiles) EXPECT_EQ(ReadFile(package_ / Rel(f)), "new " + Rel(f));

        if (n > installEnd) {
            // Registration could not start: what is installed stays installed.
            ++failedAfterInstall;
            for (const SweepFile& f : kFiles) EXPECT_EQ(installed.at(Rel(f)), "new " + Rel(f));
            continue;
        }

        // Nothing is lost: every old file is at its path or at its backup name.
        for (const auto& [rel, old] : OldInstallation()) {
            const auto at = installed.find(rel);
            const auto backup = installed.find(rel + suffix);
            EXPECT_TRUE((at != installed.end() && at->second == old) ||
                        (backup != installed.end() && backup->second == old))
                << rel;
        }

        const bool reported = !outcome.messages.empty() && outcome.messages.back() == kRestoreFailedText;
        if (reported) {
            ++restoreReported;
            continue;
        }
        // Not reported: the installation is exactly the old one, no file added.
        ++restored;
        EXPECT_EQ(installed, OldInstallation());
        for (const SweepFile& f : kFiles) {
            // A read-only old file may come back normal; others keep theirs.
            if (f.hadOld && !f.oldReadOnly) {
                EXPECT_FALSE(IsReadOnlyOnDisk(install_ / Rel(f))) << Rel(f);
            }
        }
        EXPECT_LE(outcome.messages.size(), 1u);
    }
    std::printf("fault sweep (%s): tried %llu failure points: %d succeeded, %d restored, %d restore failures reported, "
                "%d failed after installing\n",
                ScenarioName(GetParam()), static_cast<unsigned long long>(total), succeeded, restored, restoreReported, failedAfterInstall);
    EXPECT_GT(restored, 0);
    if (GetParam() == Scenario::Clean) {
        EXPECT_GT(succeeded, 0);
    } else {
        EXPECT_EQ(succeeded, 0);
        EXPECT_GT(restoreReported, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep,
                         ::testing::Values(Scenario::Clean, Scenario::CopyFails, Scenario::BackupBlocked),
                         [](const ::testing::TestParamInfo<Scenario>& p) {
                             return std::string(ScenarioName(p.param));
                         });

}  // namespace
