// The modal dialog and the application object (dialog.h).
#include "platform/dialog.h"

#include <cstdio>

#include "platform/crt.h"
#include "platform/fault.h"
#include "platform/process.h"

namespace platform {
namespace {
CWinApp* g_app = nullptr;
}  // namespace

void DDX_Text(CDataExchange* pDX, int controlId, std::string& value) {
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetControlText(controlId);
    else
        pDX->m_pDlgWnd->SetControlText(controlId, value);
}

CDialog::CDialog(int templateId, std::string caption)
    : m_templateId(templateId), m_caption(std::move(caption)) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    m_ended = false;
    m_result = IDCANCEL;
    if (!OnInitDialog()) {
        // A dialog whose initialisation fails is not shown.
        if (!m_ended) EndDialog(IDCANCEL);
    }
    if (!m_ended) ActiveFrontEnd().DialogShown(m_caption);
    while (!m_ended) {
        switch (ActiveFrontEnd().WaitForAction(View())) {
            case DialogAction::Confirm: {
                // Enter presses the first visible button.
                int button = -1;
                for (int id : m_order) {
                    const Control& control = m_controls.at(id);
                    if (control.kind == ControlKind::Button && control.visible) {
                        button = id;
                        break;
                    }
                }
                if (button >= 0) OnCommand(button);
                break;
            }
            case DialogAction::About:
                if (m_systemMenu.empty()) break;
                OnSysCommand(m_systemMenu.back().id, 0);
                break;
            case DialogAction::Close:
                OnSysCommand(SC_CLOSE, 0);
                break;
        }
    }
    return m_result;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnCommand(int controlId) {
    if (controlId == IDOK)
        OnOK();
    else if (controlId == IDCANCEL)
        OnCancel();
}

void CDialog::OnSysCommand(uint32_t id, intptr_t) {
    if ((id & 0xFFF0) == SC_CLOSE) OnCancel();
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return true;
}

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
}

void CDialog::AddControl(int id, ControlKind kind, const std::string& text) {
    if (m_controls.find(id) == m_controls.end()) m_order.push_back(id);
    // A status line starts empty: its template text is replaced before the
    // dialog is ever shown.
    m_controls[id] = Control{kind, kind == ControlKind::StatusText ? std::string() : text, true};
}

void CDialog::SetControlText(int id, const std::string& text) {
    auto it = m_controls.find(id);
    if (it == m_controls.end() || it->second.text == text) return;
    it->second.text = text;
    if (it->second.kind == ControlKind::StatusText) ActiveFrontEnd().StatusChanged(text);
}

std::string CDialog::GetControlText(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? std::string() : it->second.text;
}

void CDialog::ShowControl(int id, bool visible) {
    auto it = m_controls.find(id);
    if (it != m_controls.end()) it->second.visible = visible;
}

bool CDialog::IsControlVisible(int id) const {
    auto it = m_controls.find(id);
    return it != m_controls.end() && it->second.visible;
}

void CDialog::AppendSystemMenuItem(uint32_t commandId, const std::string& text) {
    m_systemMenu.push_back({commandId, text});
}

DialogView CDialog::View() const {
    DialogView view;
    view.caption = m_caption;
    for (int id : m_order) {
        const Control& control = m_controls.at(id);
        if (!control.visible) continue;
        if (control.kind == ControlKind::Button) {
            if (!view.confirmVisible) {
                view.confirmVisible = true;
                view.confirmText = control.text;
            }
        } else if (!control.text.empty()) {
            view.lines.push_back(control.text);
        }
    }
    view.hasAbout = !m_systemMenu.empty();
    return view;
}

CWinApp::CWinApp() {
    g_app = this;
}
CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
    return g_app;
}

int RunApplication(int argc, char** argv) {
    EnsureStandardDescriptors();
    SetCommandLine(argc, argv);
    ArmFsFaultFromEnvironment();
    if (!ConfigureFrontEndFromEnvironment()) {
        std::fprintf(stderr, "%s: MG_UI or MG_UI_SCRIPT not understood; see platform/ui.h\n",
                     ProgramName().c_str());
    }
    if (g_app != nullptr) g_app->InitInstance();
    ActiveFrontEnd().Record({"fsops", {std::to_string(FsOpCount())}});
    return 0;
}

}  // namespace platform
