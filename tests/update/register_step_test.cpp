#include <chrono>
#include <thread>

#include "update_fixture.h"

namespace {

class RegisterStep : public UpdateFixture {
protected:
    // Installs the entries, then runs the registration and clean-up.
    int InstallAndRegister(const std::vector<ManifestEntry>& entries) {
        for (const ManifestEntry& e : entries) {
            std::string rel = e.filePath + e.fileName;
            for (char& c : rel) {
                if (c == '\\') c = '/';
            }
            if (!fs::exists(package_ / rel.substr(1))) AddPackageFile(rel.substr(1), "bytes of " + rel);
        }
        WriteManifest(MakeManifest(entries));
        return RunFromManifest();
    }
};

TEST_F(RegisterStep, StartsTheRightRegistrationForEachKind) {
    ASSERT_EQ(InstallAndRegister({{"\\Plugins\\", "a.dll", 1},
                                  {"\\", "Tool.exe", 1},
                                  {"\\", "TOOL2.EXE", 2},
                                  {"\\", "NoDot", 1},
                                  {"\\", "plain.dll", 0},
                                  {"\\", "skipped.dll"},
                                  {"\\Sub\\", "b.ocx", -1}}),
              UPDATE_OK);
    const std::vector<platform::UiRecord> starts = Starts();
    const std::string regsvr = (system_ / "regsvr32.exe").string();
    ASSERT_EQ(starts.size(), 5u);
    EXPECT_EQ(starts[0].fields, (std::vector<std::string>{regsvr, " /s a.dll", "", "hidden"}));
    EXPECT_EQ(starts[1].fields, (std::vector<std::string>{"Tool.exe", " /Regserver", "", "hidden"}));
    EXPECT_EQ(starts[2].fields, (std::vector<std::string>{"TOOL2.EXE", " /Regserver", "", "hidden"}));
    EXPECT_EQ(starts[3].fields, (std::vector<std::string>{"NoDot", " /Regserver", "", "hidden"}));
    EXPECT_EQ(starts[4].fields, (std::vector<std::string>{regsvr, " /s b.ocx", "", "hidden"}));
    // The current folder is left at the last registered file's folder.
    EXPECT_EQ(fs::current_path(), install_ / "Sub");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(RegisterStep, CleansUpOnlyTheCabinetAndItsFolder) {
    WriteFile(downTemp_ / "other.cab", "other");
    WriteFile(downTemp_ / "other.cab.Folder" / "x", "x");
    WriteFile(extract_ / "readonly-in-tree", "r");
    SetReadOnlyOnDisk(extract_ / "readonly-in-tree", true);
    ASSERT_EQ(InstallAndRegister({{"\\", "a.dll", 0}}), UPDATE_OK);
    EXPECT_TRUE(Starts().empty());
    EXPECT_FALSE(fs::exists(cabinet_));
    EXPECT_FALSE(fs::exists(extract_));
    EXPECT_EQ(Snapshot(downTemp_), (std::map<std::string, std::string>{{"other.cab", "other"},
                                                                       {"other.cab.Folder/x", "x"}}));
    EXPECT_EQ(ReadFile(install_ / "a.dll"), "bytes of /a.dll");
}

TEST_F(RegisterStep, FolderThatCannotBeMadeCurrentKeepsTheDownload) {
    AddPackageFile("a.dll", "new");
    WriteManifest(MakeManifest({{"\\", "a.dll", 1}}));
    ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK);
    ASSERT_EQ(steps_.BackupTargets(), UPDATE_OK);
    ASSERT_EQ(steps_.InstallFiles(), UPDATE_OK);
    platform::FailFsOpAt(1);  // the _chdir into the file's folder
    EXPECT_EQ(steps_.RegisterAndCleanUp(), UPDATE_ERROR);
    EXPECT_TRUE(Starts().empty());
    EXPECT_TRUE(fs::exists(cabinet_));
    EXPECT_TRUE(fs::exists(package_ / "a.dll"));
    EXPECT_EQ(ReadFile(install_ / "a.dll"), "new");
}

// Waits for a file that a started process writes.
std::string WaitForFile(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ReadFile(path);
}

TEST_F(RegisterStep, StartedProcessesRunHiddenInTheFilesFolder) {
    platform::ScriptedFrontEnd launching({}, true);
    platform::InstallFrontEnd(&launching);
    const fs::path log = root_ / "log";
    // Each stand-in writes its current folder, arguments and standard output.
    const std::string script = "#!/bin/sh\necho \"$(pwd)|$*|$(readlink /proc/$$/fd/1)\" > " +
                               log.string() + ".$(basename $0)\n";
    WriteFile(system_ / "regsvr32.exe", script);
    fs::permissions(system_ / "regsvr32.exe", fs::perms::owner_all);
    AddPackageFile("Tools/Tool.exe", script);
    fs::permissions(package_ / "Tools/Tool.exe", fs::perms::owner_all);
    AddPackageFile("Plugins/a.dll", "dll");
    WriteManifest(MakeManifest({{"\\Plugins\\", "a.dll", 1}, {"\\Tools\\", "Tool.exe", 1}}));

    ASSERT_EQ(RunFromManifest(), UPDATE_OK);
    EXPECT_EQ(WaitForFile(root_ / "log.regsvr32.exe"),
              (install_ / "Plugins").string() + "|/s a.dll|/dev/null\n");
    EXPECT_EQ(WaitForFile(root_ / "log.Tool.exe"), (install_ / "Tools").string() + "|/Regserver|/dev/null\n");
}

}  // namespace

namespace {

// A registered file without '.' shares its name with a program in PATH; the
// installed file (not executable here) must be what is started, never the
// program from PATH.
TEST_F(RegisterStep, NeverStartsAProgramFromPathInsteadOfTheInstalledFile) {
    platform::ScriptedFrontEnd launching({}, true);
    platform::InstallFrontEnd(&launching);
    const fs::path bin = root_ / "pathbin";
    const fs::path marker = root_ / "path-program-ran";
    WriteFile(bin / "regtool", "#!/bin/sh\ntouch " + marker.string() + "\n");
    fs::permissions(bin / "regtool", fs::perms::owner_all);
    const std::string savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + savedPath).c_str(), 1);

    AddPackageFile("regtool", "not a program");
    WriteManifest(MakeManifest({{"\\", "regtool", 1}}));
    const int result = RunFromManifest();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(result, UPDATE_OK);
    ASSERT_EQ(launching.Records("start").size(), 1u);
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
