#include <chrono>
#include <thread>

#include "app/resources.h"
#include "app_fixture.h"
#include "platform/ipc.h"

namespace {

using platform::DialogAction;

const std::string kAskToClose = "status|安装程序需要更新大厅，请您先关闭Lumo对战平台";
const std::string kDialogShown = "dialog|Lumo对战平台更新程序";
const std::string kStarting = "status|开始升级Lumo对战平台，请稍候...";

class StandaloneTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        g_nResultWndId = -1;
        g_strInstallDir = moduleDir;
        g_strCabinetPath = moduleDir + "DownTemp/patch.cab";
    }
};

TEST_F(StandaloneTest, SuccessRelaunchesTheClientAfterThePause) {
    UseScript({{DialogAction::Confirm}});
    StubRunDlg dialog(UPDATE_OK);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog.DoModal(), platform::IDOK);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_EQ(dialog.installDirAtRun, m_dir.Path()) << "without its final separator";
    EXPECT_EQ(RecordTexts(),
              (std::vector<std::string>{kAskToClose, kDialogShown, kStarting,
                                        "status|对战平台升级成功,正在调入...",
                                        "start|" + moduleDir + "Skarnfell.exe|||shown"}));
    EXPECT_FALSE(dialog.IsControlVisible(IDC_CONFIRM));
}

TEST_F(StandaloneTest, FailureDoesNotRelaunch) {
    for (int result : {UPDATE_ERROR, UPDATE_BAD_PACKAGE}) {
        UseScript({{DialogAction::Confirm}});
        StubRunDlg dialog(result);
        EXPECT_EQ(dialog.DoModal(), platform::IDOK);
        EXPECT_EQ(RecordTexts(), (std::vector<std::string>{kAskToClose, kDialogShown, kStarting,
                                                           "status|Lumo对战平台升级失败！"}));
    }
}

TEST_F(StandaloneTest, ConfirmWhileTheClientHoldsTheMutex) {
    bool exists = false;
    platform::NamedMutex client = platform::CreateNamedMutex("Morrowgate.Update", &exists);
    ASSERT_TRUE(client.IsHeld());
    StubRunDlg* dialogSeen = nullptr;
    int runsBeforeSecondConfirm = -1;
    bool buttonVisible = false;
    size_t boxesBeforeSecondConfirm = 0;
    UseScript({{DialogAction::Confirm}, {DialogAction::Confirm, [&] {
                                             runsBeforeSecondConfirm = dialogSeen->runs;
                                             buttonVisible =
                                                 dialogSeen->IsControlVisible(IDC_CONFIRM);
                                             boxesBeforeSecondConfirm =
                                                 FrontEnd().Records("msgbox").size();
                                             client.Close();  // the user closes the client
                                         }}});
    StubRunDlg dialog(UPDATE_ERROR);
    dialogSeen = &dialog;
    dialog.DoModal();
    EXPECT_EQ(runsBeforeSecondConfirm, 0) << "no step ran";
    EXPECT_TRUE(buttonVisible) << "the button stays";
    EXPECT_EQ(boxesBeforeSecondConfirm, 1u);
    EXPECT_EQ(dialog.runs, 1) << "Confirm works once the mutex is free";
    const auto boxes = FrontEnd().Records("msgbox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text(), "msgbox|Update|请先关闭大厅才能进行自动安装！");

    // The run holds the mutex from then on.
    {
        platform::NamedMutex again = platform::CreateNamedMutex("Morrowgate.Update", &exists);
        EXPECT_FALSE(again.IsHeld());
        EXPECT_TRUE(exists);
    }
}

TEST_F(StandaloneTest, ClosingWhileWaitingEndsWithoutRun) {
    UseScript({{DialogAction::Close}});
    StubRunDlg dialog(UPDATE_OK);
    EXPECT_EQ(dialog.DoModal(), platform::IDCANCEL);
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(RecordTexts(), (std::vector<std::string>{kAskToClose, kDialogShown}));
    bool exists = true;
    EXPECT_TRUE(platform::CreateNamedMutex("Morrowgate.Update", &exists).IsHeld())
        << "never created";
}

TEST_F(StandaloneTest, AboutBoxFromTheSystemMenu) {
    // about opens the box, confirm presses its OK, then the main dialog is closed.
    UseScript({{DialogAction::About}, {DialogAction::Confirm}, {DialogAction::Close}});
    StubRunDlg dialog(UPDATE_OK);
    dialog.DoModal();
    ASSERT_FALSE(dialog.SystemMenu().empty());
    EXPECT_EQ(dialog.SystemMenu().back().id, 16u);
    EXPECT_EQ(dialog.SystemMenu().back().text, "关于 Update(&A)...");
    EXPECT_EQ(dialog.runs, 0) << "the about box's OK is not the main Confirm";
    EXPECT_EQ(RecordTexts(),
              (std::vector<std::string>{kAskToClose, kDialogShown, "dialog|关于 Update"}));
}

struct NotifyCase {
    int window;
    int result;
    uint32_t wParam;
};

void PrintTo(const NotifyCase& c, std::ostream* os) {
    *os << "window " << c.window << " result " << c.result;
}

class NotifyTest : public AppTest, public testing::WithParamInterface<NotifyCase> {};

TEST_P(NotifyTest, ResultReachesTheClientWindow) {
    const NotifyCase& c = GetParam();
    g_nResultWndId = c.window;
    g_strInstallDir = moduleDir + "Bin/";
    ::setenv("MG_SYSTEM_DIR", "/opt/system32", 1);
    const std::string title = "WaitForUpdateResultWnd" + std::to_string(c.window);
    platform::MessageWindow client;
    ASSERT_TRUE(client.Create(title));
    std::optional<platform::WindowMessage> received;
    std::thread receiver([&] { received = client.Receive(10000); });

    UseScript({});
    StubRunDlg dialog(c.result);
    EXPECT_EQ(dialog.DoModal(), platform::IDOK) << "ends without waiting for the user";
    receiver.join();
    ::unsetenv("MG_SYSTEM_DIR");

    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->message, 8071u);
    EXPECT_EQ(received->wParam, c.wParam);
    EXPECT_EQ(received->lParam, 0u);
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_EQ(dialog.installDirAtRun, moduleDir + "Bin");
    EXPECT_EQ(dialog.systemDirAtRun, "/opt/system32");
    EXPECT_EQ(RecordTexts(), (std::vector<std::string>{"sendmsg|" + title + "|8071|" +
                                                       std::to_string(c.wParam) + "|0"}))
        << "no status line, no dialog shown";
}

INSTANTIATE_TEST_SUITE_P(Results, NotifyTest,
                         testing::Values(NotifyCase{12, UPDATE_OK, 0},
                                         NotifyCase{0, UPDATE_BAD_PACKAGE, 1},
                                         NotifyCase{12, UPDATE_ERROR, 0xFFFFFFFFu}));

TEST_F(AppTest, NotifyWithoutClientWindowSendsNothing) {
    g_nResultWndId = 5;
    g_strInstallDir = moduleDir + "Bin/";
    platform::MessageWindow otherClient;
    ASSERT_TRUE(otherClient.Create("WaitForUpdateResultWnd50"));
    UseScript({});
    StubRunDlg dialog(UPDATE_ERROR);
    EXPECT_EQ(dialog.DoModal(), platform::IDOK);
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_TRUE(FrontEnd().Records().empty());
    EXPECT_FALSE(otherClient.Receive(0).has_value());
}

}  // namespace
