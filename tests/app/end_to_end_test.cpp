// Runs the real programs: the stand-in client starts Update in a temporary
// client folder and waits for its result.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "platform/ui.h"
#include "tests/platform/temp_dir.h"

namespace {

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class EndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        client = m_dir / "client";
        std::filesystem::create_directories(client + "/DownTemp");
        std::filesystem::create_directories(client + "/Bin");
        std::filesystem::copy_file(MG_UPDATE_BINARY, client + "/Update");
        std::filesystem::copy_file(MG_CLIENT_BINARY, client + "/Skarnfell.exe");
        records = m_dir / "records";
        ::setenv("MG_UI", "script", 1);
        ::setenv("MG_UI_RECORD", records.c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : {"MG_UI", "MG_UI_SCRIPT", "MG_UI_RECORD", "MG_FAIL_SOCKET_INIT"})
            ::unsetenv(name);
    }
    std::vector<std::string> Records(const std::string& kind) const {
        std::vector<std::string> texts;
        for (const auto& record : platform::ReadRecordFile(records)) {
            if (record.kind == kind) texts.push_back(record.Text());
        }
        return texts;
    }

    TempDir m_dir;
    std::string client;
    std::string records;
};

TEST_F(EndToEnd, ClientReceivesTheResultUpdateSent) {
    // No package in DownTemp: whatever step notices it, the run fails.
    const CommandResult run =
        RunCommand(client + "/Skarnfell.exe --timeout 60 '^7^Game^patch.cab^Bin^'");
    int result = 0;
    ASSERT_EQ(std::sscanf(run.output.c_str(), "result %d", &result), 1) << run.output;
    EXPECT_NE(result, 0);
    EXPECT_EQ(run.status, 1) << "exit status 0 only for result 0";
    EXPECT_EQ(Records("sendmsg"),
              std::vector<std::string>{"sendmsg|WaitForUpdateResultWnd7|8071|" +
                                       std::to_string(static_cast<uint32_t>(result)) + "|0"});
    EXPECT_EQ(Records("fsops").size(), 1u) << "Update ran to its end";
}

TEST_F(EndToEnd, SocketStartUpFailureReportsNothingToTheClient) {
    ::setenv("MG_FAIL_SOCKET_INIT", "1", 1);
    const CommandResult run =
        RunCommand(client + "/Skarnfell.exe --timeout 60 '^7^Game^patch.cab^Bin^'");
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("Update ended without sending one"), std::string::npos) << run.output;
    EXPECT_EQ(Records("msgbox"),
              std::vector<std::string>{"msgbox|Update|Windows 通信端口初始化失败。"});
    EXPECT_TRUE(Records("sendmsg").empty());
}

TEST_F(EndToEnd, NotifyWithoutClientWindowEndsQuietly) {
    const CommandResult run = RunCommand(client + "/Update '^9^Game^patch.cab^Bin^' </dev/null");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(Records("sendmsg").empty());
    EXPECT_TRUE(Records("status").empty());
    EXPECT_EQ(Records("fsops").size(), 1u);
}

TEST_F(EndToEnd, FaultInjectionReachesTheRealBinary) {
    TempDir::Write(client + "/DownTemp/patch.cab", "not a cabinet");
    const std::string command = client + "/Update '^9^Game^patch.cab^Bin^' </dev/null";
    ASSERT_EQ(RunCommand(command).status, 0);
    const auto normalBoxes = Records("msgbox");
    const auto counts = Records("fsops");
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_NE(counts[0], "fsops|0") << "the run used the file system";

    std::filesystem::remove(records);
    ::setenv("MG_FAIL_FS_OP", "1", 1);
    const CommandResult injected = RunCommand(command);
    ::unsetenv("MG_FAIL_FS_OP");
    ASSERT_EQ(injected.status, 0);
    EXPECT_EQ(Records("fsops").size(), 1u);
    EXPECT_NE(Records("msgbox"), normalBoxes) << "the first file-system operation failed";
}

TEST_F(EndToEnd, StandaloneConfirmRefusedWhileAnotherProcessHoldsTheMutex) {
    FILE* holder = ::popen((client + "/Skarnfell.exe --hold 2").c_str(), "r");
    ASSERT_NE(holder, nullptr);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, holder), nullptr);
    EXPECT_STREQ(line, "holding\n");
    ::setenv("MG_UI_SCRIPT", "confirm", 1);
    const CommandResult run = RunCommand(client + "/Update '^-1^Game^patch.cab^'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Records("msgbox"),
              std::vector<std::string>{"msgbox|Update|请先关闭大厅才能进行自动安装！"});
    EXPECT_EQ(Records("status"),
              std::vector<std::string>{"status|安装程序需要更新大厅，请您先关闭Lumo对战平台"})
        << "no run started";
    ::pclose(holder);
}

}  // namespace
