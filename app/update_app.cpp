#include "app/update_app.h"

#include "app/command_line.h"
#include "app/resources.h"
#include "app/update_dlg.h"
#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "update/process_values.h"

namespace {

// A cabinet name or installation folder that leaves the client's folder
// would let the run install into, or delete, arbitrary folders.
bool RejectEscapingField(const std::string& field) {
    if (StaysInside(field)) return false;
    platform::ShowMessageBox("命令行参数有误:" + field);
    if (g_nResultWndId != -1) {
        if (auto window = platform::FindWindowByTitle(ResultWindowTitle(g_nResultWndId))) {
            platform::SendWindowMessage(*window, platform::WM_UPDATE_RESULT,
                                        static_cast<uint32_t>(UPDATE_ERROR), 0);
        }
    }
    return true;
}

}  // namespace

bool CUpdateApp::InitInstance() {
    if (!platform::SocketInit()) {
        platform::ShowMessageBox(LoadResourceString(IDP_SOCKETS_INIT_FAILED));
        return false;
    }

    const CaretFields fields = ParseCaretFields(platform::GetCommandLine());
    const std::string moduleDir = platform::GetModuleDir();
    g_nResultWndId = ParseWindowNumber(fields.field[0]);
    g_strBlockingApp = fields.field[1];
    g_strCabinetPath = moduleDir + "DownTemp/" + platform::ToNativeSeparators(fields.field[2]);
    if (g_nResultWndId == -1) {
        g_strInstallDir = moduleDir;
    } else {
        g_strInstallDir = moduleDir + platform::ToNativeSeparators(fields.field[3]) + "/";
    }
    if (RejectEscapingField(fields.field[2])) return false;
    if (g_nResultWndId != -1 && RejectEscapingField(fields.field[3])) return false;

    RunMainDialog();
    return false;
}

void CUpdateApp::RunMainDialog() {
    CUpdateDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
}
