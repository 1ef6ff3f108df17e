#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "platform/ui.h"
#include "temp_dir.h"

using namespace platform;

namespace {

// Waits (bounded) for a file the started program writes.
std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 400; ++i) {
        if (std::filesystem::exists(path)) {
            const std::string content = TempDir::Read(path);
            if (!content.empty() && content.back() == '\n') return content;
        }
        Sleep(25);
    }
    return {};
}

void WriteScript(const std::string& path, const std::string& body) {
    TempDir::Write(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
}

}  // namespace

TEST(Process, CommandLineIsProgramAndArgumentsJoinedByBlanks) {
    const char* argv[] = {"/opt/Game/Update", "^12^Game^patch.cab^Bin^", "x y"};
    SetCommandLine(3, argv);
    EXPECT_EQ(GetCommandLine(), "/opt/Game/Update ^12^Game^patch.cab^Bin^ x y");
}

TEST(Process, ModuleFolderAndProgramName) {
    const std::string dir = GetModuleDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(dir + ProgramName()));
    SetModuleDirForTest("/x/y/");
    EXPECT_EQ(GetModuleDir(), "/x/y/");
    SetModuleDirForTest("");
    EXPECT_EQ(GetModuleDir(), dir);
}

TEST(Process, StartsWithSplitParametersInFolderWithoutWaiting) {
    TempDir dir;
    ScriptedFrontEnd frontEnd({}, true);
    InstallFrontEnd(&frontEnd);
    WriteScript(dir / "work/Tool.exe", "sleep 2\necho \"$#:$1:$2:$3\" > out.txt\npwd >> out.txt\n");
    const auto before = std::chrono::steady_clock::now();
    // A bare name is looked for in the working folder; blanks separate the
    // arguments (runs of blanks included).
    EXPECT_TRUE(StartProcess("tool.EXE", " /s  a.dll", dir / "work", true));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500))
        << "not awaited";
    EXPECT_EQ(WaitForFile(dir / "work/out.txt"),
              "2:/s:a.dll:\n" + std::filesystem::canonical(dir / "work").string() + "\n");
    ASSERT_EQ(frontEnd.Records().size(), 1u);
    EXPECT_EQ(frontEnd.Records()[0].Text(),
              "start|tool.EXE| /s  a.dll|" + (dir / "work") + "|hidden");
    EXPECT_FALSE(StartProcess(dir / "missing.exe", "", "", false));
    InstallFrontEnd(nullptr);
}

TEST(Process, ScriptedFrontEndRecordsWithoutStartingUnlessAsked) {
    TempDir dir;
    ScriptedFrontEnd frontEnd;
    InstallFrontEnd(&frontEnd);
    WriteScript(dir / "client", "echo started > started.txt\n");
    EXPECT_TRUE(StartProcess(dir / "client", "", dir.Path(), false));
    Sleep(200);
    EXPECT_FALSE(std::filesystem::exists(dir / "started.txt"));
    ASSERT_EQ(frontEnd.Records("start").size(), 1u);
    EXPECT_EQ(frontEnd.Records("start")[0].fields[3], "shown");
    InstallFrontEnd(nullptr);
}
