// The about box, reached from the main dialog's system menu.
#pragma once

#include "platform/dialog.h"

class CAboutDlg : public platform::CDialog {
  public:
    CAboutDlg();
};
