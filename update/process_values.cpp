#include "update/process_values.h"

int g_nResultWndId = 0;
std::string g_strBlockingApp;
std::string g_strCabinetPath;
std::string g_strInstallDir;
