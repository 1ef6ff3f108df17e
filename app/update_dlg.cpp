#include "app/update_dlg.h"

#include "app/about_dlg.h"
#include "app/resources.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "update/process_values.h"

namespace {
bool IsStandalone() {
    return g_nResultWndId == -1;
}
}  // namespace

CUpdateDlg::CUpdateDlg()
    : CDialog(IDD_UPDATE_DIALOG, "Lumo对战平台更新程序"), m_hIcon(IDR_MAINFRAME) {
    AddControl(IDC_STATUS, platform::ControlKind::StatusText,
               "安装程序需要更新Lumo对战平台，请您先关闭Lumo对战平台");
    AddControl(IDC_CONFIRM, platform::ControlKind::Button, "确认");
    m_strStatus.clear();
}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange(platform::CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    platform::DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

bool CUpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    const std::string aboutText = LoadResourceString(IDS_ABOUTBOX);
    if (!aboutText.empty()) AppendSystemMenuItem(IDM_ABOUTBOX, aboutText);

    m_szInstallDir = g_strInstallDir;
    if (!m_szInstallDir.empty() && m_szInstallDir.back() == '/') m_szInstallDir.pop_back();
    m_szSystemDir = platform::GetSystemDirectory();

    if (!IsStandalone()) {
        OnOK();  // the whole run happens before the dialog is ever shown
        return true;
    }
    m_szClientExe = platform::GetModuleDir() + kClientExeName;
    m_strStatus = "安装程序需要更新大厅，请您先关闭Lumo对战平台";
    UpdateData(false);
    return true;
}

void CUpdateDlg::OnCommand(int controlId) {
    if (controlId == IDC_CONFIRM)
        OnConfirm();
    else
        CDialog::OnCommand(controlId);
}

void CUpdateDlg::OnSysCommand(uint32_t id, intptr_t lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CUpdateDlg::OnConfirm() {
    bool alreadyExists = false;
    platform::NamedMutex mutex = platform::CreateNamedMutex(kUpdateMutexName, &alreadyExists);
    if (alreadyExists) {
        platform::ShowMessageBox("请先关闭大厅才能进行自动安装！");
        return;
    }
    m_mutex = std::move(mutex);
    ShowControl(IDC_CONFIRM, false);
    m_strStatus = "开始升级Lumo对战平台，请稍候...";
    UpdateData(false);
    OnOK();
}

void CUpdateDlg::OnOK() {
    const int result = RunUpdateSteps();
    if (!IsStandalone()) {
        if (auto window = platform::FindWindowByTitle(ResultWindowTitle(g_nResultWndId))) {
            platform::SendWindowMessage(*window, platform::WM_UPDATE_RESULT,
                                        static_cast<uint32_t>(result), 0);
        }
    } else if (result == UPDATE_OK) {
        m_strStatus = "对战平台升级成功,正在调入...";
        UpdateData(false);
        platform::Sleep(500);
        platform::StartProcess(m_szClientExe, "", "", false);
    } else {
        m_strStatus = "Lumo对战平台升级失败！";
        UpdateData(false);
    }
    CDialog::OnOK();
}

int CUpdateDlg::RunUpdateSteps() {
    int r = UnpackPackage();
    if (r != 0) return r;
    r = LocatePackageRoot();
    if (r != 0) {
        platform::ShowMessageBox("下载的文件有误!");
        return r;
    }
    r = LoadManifest();
    if (r != 0) return r;
    r = BackupTargets();
    if (r != 0) return r;
    r = InstallFiles();
    if (r != 0) return r;
    return RegisterAndCleanUp();
}
