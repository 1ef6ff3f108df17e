// The application object: start-up from the command line, then the main
// dialog, run modally. The program ends when InitInstance returns.
#pragma once

#include "platform/dialog.h"

class CUpdateApp : public platform::CWinApp {
  public:
    // Always false: the program ends once the dialog has closed.
    bool InitInstance() override;

  protected:
    // Runs the main dialog; tests put a dialog with a stand-in run here.
    virtual void RunMainDialog();
};
