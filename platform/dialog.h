// The dialog framework's application object and modal dialogs (CWinApp,
// CDialog, data exchange with DDX_Text, the system menu), reduced to what the
// program uses. A dialog's controls are kept as texts and visibility; the
// active front end (ui.h) shows them and supplies the user's actions.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr uint32_t SC_CLOSE = 0xF060;

enum class ControlKind { Label, StatusText, Button };

class CDialog;

class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    bool m_bSaveAndValidate;  // true: controls -> members
    CDialog* m_pDlgWnd;
};

// Exchanges a string member with the text of a control.
void DDX_Text(CDataExchange* pDX, int controlId, std::string& value);

class CDialog {
  public:
    CDialog(int templateId, std::string caption);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog: OnInitDialog, then the user's actions until the dialog
    // is ended. Returns the value given to EndDialog.
    int DoModal();

    virtual bool OnInitDialog();  // transfers members to controls
    virtual void OnOK();          // reads the controls back, ends with IDOK
    virtual void OnCancel();      // ends with IDCANCEL
    // BN_CLICKED of a button: IDOK -> OnOK, IDCANCEL -> OnCancel.
    virtual void OnCommand(int controlId);
    // WM_SYSCOMMAND: SC_CLOSE -> OnCancel, anything else is ignored.
    virtual void OnSysCommand(uint32_t id, intptr_t lParam);
    virtual void DoDataExchange(CDataExchange* pDX);

    bool UpdateData(bool saveAndValidate = true);
    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }

    // Controls, as the dialog template defines them.
    void AddControl(int id, ControlKind kind, const std::string& text);
    void SetControlText(int id, const std::string& text);
    std::string GetControlText(int id) const;
    void ShowControl(int id, bool visible);  // GetDlgItem(id)->ShowWindow
    bool IsControlVisible(int id) const;

    // The system menu: a separator and an item are appended (AppendMenu).
    void AppendSystemMenuItem(uint32_t commandId, const std::string& text);
    struct MenuItem {
        uint32_t id;
        std::string text;
    };
    const std::vector<MenuItem>& SystemMenu() const { return m_systemMenu; }

    int TemplateId() const { return m_templateId; }
    const std::string& Caption() const { return m_caption; }

  private:
    struct Control {
        ControlKind kind;
        std::string text;
        bool visible = true;
    };
    DialogView View() const;

    int m_templateId;
    std::string m_caption;
    std::map<int, Control> m_controls;
    std::vector<int> m_order;
    std::vector<MenuItem> m_systemMenu;
    bool m_ended = false;
    int m_result = IDCANCEL;
};

// The application object: the program defines one global instance, whose
// constructor registers it.
class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The whole start-up and run; returning false ends the program.
    virtual bool InitInstance() = 0;

    CDialog* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// The program's main: makes descriptors 0-2 exist, stores the command line,
// arms fault injection and the front end from the environment, runs
// InitInstance of the registered application object, writes the "fsops"
// record, and returns the exit code (0; the exit code carries no result).
int RunApplication(int argc, char** argv);

}  // namespace platform
