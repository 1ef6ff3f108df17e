// The main dialog: owns an update run. Standalone mode (g_nResultWndId == -1)
// waits for Confirm, runs, shows the outcome and relaunches the client after
// success; notify mode runs at once inside OnInitDialog and sends the result
// to the client's window. The six steps are inherited from CUpdateSteps.
#pragma once

#include <string>

#include "app/names.h"
#include "platform/dialog.h"
#include "platform/ipc.h"
#include "update/update_steps.h"

class CUpdateDlg : public platform::CDialog, public CUpdateSteps {
  public:
    CUpdateDlg();
    ~CUpdateDlg() override;

    bool OnInitDialog() override;
    void OnOK() override;  // the update driver
    void OnCommand(int controlId) override;
    void OnSysCommand(uint32_t id, intptr_t lParam) override;
    void DoDataExchange(platform::CDataExchange* pDX) override;

    void OnConfirm();
    // Runs the steps in order and stops at the first failure. Virtual so
    // tests can stand in a run with a given outcome.
    virtual int RunUpdateSteps();

    std::string m_strStatus;  // the status line, control 1001
    int m_hIcon;              // icon group 128; painting it is the front end's business

  private:
    // Created by Confirm and held until the dialog (and with it the
    // program) ends: its existence tells a starting client to wait.
    platform::NamedMutex m_mutex;
};
