#include "platform/ui.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "platform/dialog.h"
#include "platform/process.h"
#include "temp_dir.h"

using namespace platform;

TEST(Records, FileRoundTripKeepsTabsNewlinesAndBackslashes) {
    TempDir dir;
    ScriptedFrontEnd frontEnd;
    frontEnd.RecordToFile(dir / "records");
    frontEnd.MessageBox("Update", "a\tb\nc\\d 中文");
    frontEnd.StatusChanged("");
    frontEnd.WindowMessageSent("WaitForUpdateResultWnd0", 8071, 0xFFFFFFFFu, 0);
    frontEnd.ProcessStarting("C:\\x\\regsvr32.exe", " /s a.dll", "", true);
    const std::vector<UiRecord> read = ReadRecordFile(dir / "records");
    EXPECT_EQ(read, frontEnd.Records());
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].fields[1], "a\tb\nc\\d 中文");
    EXPECT_EQ(read[1].Text(), "status|");
    EXPECT_EQ(frontEnd.Records("start").size(), 1u);
}

TEST(Records, ScriptText) {
    std::vector<ScriptStep> steps;
    ASSERT_TRUE(ScriptedFrontEnd::ParseScript("confirm,sleep=1,about,close", steps));
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].action, DialogAction::Confirm);
    EXPECT_FALSE(steps[0].before);
    EXPECT_EQ(steps[1].action, DialogAction::About);
    EXPECT_TRUE(steps[1].before) << "the pause runs before the about";
    EXPECT_EQ(steps[2].action, DialogAction::Close);
    EXPECT_TRUE(ScriptedFrontEnd::ParseScript("", steps));
    EXPECT_TRUE(steps.empty());
    EXPECT_FALSE(ScriptedFrontEnd::ParseScript("confirm,jump", steps));
    EXPECT_FALSE(ScriptedFrontEnd::ParseScript("sleep=x", steps));
}

TEST(Records, EnvironmentSelectsScriptedFrontEndAndRecordFile) {
    TempDir dir;
    ::setenv("MG_UI", "script", 1);
    ::setenv("MG_UI_SCRIPT", "about", 1);
    ::setenv("MG_UI_RECORD", (dir / "rec").c_str(), 1);
    EXPECT_TRUE(ConfigureFrontEndFromEnvironment());
    EXPECT_EQ(ActiveFrontEnd().WaitForAction({}), DialogAction::About);
    EXPECT_EQ(ActiveFrontEnd().WaitForAction({}), DialogAction::Close) << "script used up";
    SetProgramName("Update");
    ShowMessageBox("text");
    EXPECT_EQ(ReadRecordFile(dir / "rec").at(0).Text(), "msgbox|Update|text");
    ::setenv("MG_UI", "gui", 1);
    EXPECT_FALSE(ConfigureFrontEndFromEnvironment());
    for (const char* name : {"MG_UI", "MG_UI_SCRIPT", "MG_UI_RECORD"}) ::unsetenv(name);
    ConfigureFrontEndFromEnvironment();
}

TEST(ConsoleFrontEndTest, EnterConfirmsAndEndOfInputClosesAndAnswersLaterBoxes) {
    std::istringstream input("\na\n");
    std::streambuf* saved = std::cin.rdbuf(input.rdbuf());
    ConsoleFrontEnd console;
    DialogView view;
    view.confirmVisible = true;
    view.hasAbout = true;
    EXPECT_EQ(console.WaitForAction(view), DialogAction::Confirm);
    EXPECT_EQ(console.WaitForAction(view), DialogAction::About);
    EXPECT_EQ(console.WaitForAction(view), DialogAction::Close) << "end of input";
    console.MessageBox("Update", "shown, not waited for");
    EXPECT_EQ(console.WaitForAction(view), DialogAction::Close);
    EXPECT_EQ(console.Records("msgbox").size(), 1u);

    std::istringstream quit("q\n\n\n");
    std::cin.rdbuf(quit.rdbuf());
    ConsoleFrontEnd another;
    EXPECT_EQ(another.WaitForAction(view), DialogAction::Close);
    another.MessageBox("Update", "answered at once");
    EXPECT_EQ(quit.tellg(), 2) << "no more input consumed after q";
    std::cin.rdbuf(saved);
}

namespace {

class StatusDialog : public CDialog {
  public:
    StatusDialog() : CDialog(7, "Caption") {
        AddControl(1001, ControlKind::StatusText, "template text, never shown");
        AddControl(3, ControlKind::Button, "Confirm");
    }
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1001, m_status); }
    void OnCommand(int id) override {
        if (id == 3) {
            ++confirms;
            m_status = "confirmed";
            UpdateData(false);
        } else {
            CDialog::OnCommand(id);
        }
    }
    std::string m_status;
    int confirms = 0;
};

}  // namespace

TEST(DialogTest, DataExchangeBothWaysAndStatusChangesRecorded) {
    ScriptedFrontEnd frontEnd({{DialogAction::Confirm}, {DialogAction::Confirm}});
    InstallFrontEnd(&frontEnd);
    StatusDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL) << "script used up: closed";
    EXPECT_EQ(dialog.confirms, 2);
    ASSERT_EQ(frontEnd.Records().size(), 2u);
    EXPECT_EQ(frontEnd.Records()[0].Text(), "dialog|Caption");
    EXPECT_EQ(frontEnd.Records()[1].Text(), "status|confirmed") << "unchanged text is not a change";

    dialog.SetControlText(1001, "typed");
    dialog.UpdateData(true);
    EXPECT_EQ(dialog.m_status, "typed");
    dialog.ShowControl(3, false);
    EXPECT_FALSE(dialog.IsControlVisible(3));
    InstallFrontEnd(nullptr);
}
