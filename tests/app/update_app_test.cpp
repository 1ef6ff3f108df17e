#include <thread>

#include "app_fixture.h"

namespace {

// Runs InitInstance with a command line; records the values the dialog
// would see instead of running it.
class ProbeApp : public CUpdateApp {
  public:
    int dialogs = 0;

  protected:
    void RunMainDialog() override { ++dialogs; }
};

struct StartCase {
    const char* arguments;
    int window;
    const char* blockingApp;
    const char* cabinet;  // below the module folder
    const char* installDir;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << (*c.arguments != 0 ? c.arguments : "(no arguments)");
}

class StartUp : public AppTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartUp, SetsProcessValues) {
    const StartCase& c = GetParam();
    UseScript({});
    platform::SetCommandLine(moduleDir + "Update " + c.arguments);
    ProbeApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.dialogs, 1);
    EXPECT_EQ(g_nResultWndId, c.window);
    EXPECT_EQ(g_strBlockingApp, c.blockingApp);
    EXPECT_EQ(g_strCabinetPath, moduleDir + c.cabinet);
    EXPECT_EQ(g_strInstallDir, moduleDir + c.installDir);
    EXPECT_TRUE(FrontEnd().Records().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUp,
    testing::Values(StartCase{"^-1^Game^patch.cab^", -1, "Game", "DownTemp/patch.cab", ""},
                    StartCase{"^-1^Game^patch.cab^Bin^", -1, "Game", "DownTemp/patch.cab", ""},
                    StartCase{"^12^Game^patch.cab^Bin^", 12, "Game", "DownTemp/patch.cab", "Bin/"},
                    StartCase{"^abc^Game^patch.cab^Bin^", 0, "Game", "DownTemp/patch.cab", "Bin/"},
                    StartCase{"^12^Game^sub\\patch.cab^Bin\\Sub^", 12, "Game",
                              "DownTemp/sub/patch.cab", "Bin/Sub/"},
                    StartCase{"", 0, "", "DownTemp/", "/"},
                    StartCase{"^-1^..\\x^patch.cab^..^", -1, "..\\x", "DownTemp/patch.cab", ""}));

TEST_F(AppTest, SocketStartUpFailureShowsString103AndRunsNothing) {
    UseScript({});
    platform::SetCommandLine("Update ^12^Game^patch.cab^Bin^");
    platform::SetSocketInitFails(true);
    ProbeApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.dialogs, 0);
    EXPECT_EQ(RecordTexts(),
              std::vector<std::string>{"msgbox|Update|Windows 通信端口初始化失败。"});
}

TEST_F(AppTest, FieldsLeavingTheClientFolderAreRefusedAndReportedAsFailure) {
    const std::pair<const char*, bool> cases[] = {{"^12^Game^..\\..\\patch.cab^Bin^", true},
                                                  {"^12^Game^patch.cab^..\\Other^", true},
                                                  {"^12^Game^/etc/patch.cab^Bin^", true},
                                                  {"^-1^Game^..\\patch.cab^", false}};
    for (const auto& [arguments, notify] : cases) {
        UseScript({});
        platform::MessageWindow client;
        ASSERT_TRUE(client.Create("WaitForUpdateResultWnd12"));
        std::optional<platform::WindowMessage> received;
        std::thread receiver([&, notify = notify] {
            if (notify) received = client.Receive(5000);
        });
        platform::SetCommandLine(std::string("Update ") + arguments);
        ProbeApp app;
        app.InitInstance();
        receiver.join();
        EXPECT_EQ(app.dialogs, 0) << arguments;
        ASSERT_EQ(FrontEnd().Records("msgbox").size(), 1u) << arguments;
        if (notify) {
            ASSERT_TRUE(received.has_value()) << arguments;
            EXPECT_EQ(received->wParam, 0xFFFFFFFFu);
        } else {
            EXPECT_TRUE(FrontEnd().Records("sendmsg").empty());
        }
    }
}

}  // namespace
