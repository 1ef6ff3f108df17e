#include "app/about_dlg.h"

#include "app/resources.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, "关于 Update") {
    AddControl(1000, platform::ControlKind::Label, "Update 1.0 版");
    AddControl(1002, platform::ControlKind::Label, "Lumo对战平台自动更新程序");
    AddControl(platform::IDOK, platform::ControlKind::Button, "确定");
}
