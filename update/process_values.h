// The process-wide values that start-up sets from the command line and the
// steps of an update run read. Paths are UTF-8 with native separators.
#pragma once

#include <string>

extern int g_nResultWndId;            // -1 selects standalone mode
extern std::string g_strBlockingApp;  // program the user is asked to close
extern std::string g_strCabinetPath;  // module folder + "DownTemp/" + cabinet name
extern std::string g_strInstallDir;   // ends in a separator; later the extraction folder
