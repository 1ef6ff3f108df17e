// The program's resources: dialog, control and string identifiers, and the
// string table (the texts the user sees, UTF-8).
#pragma once

#include <string>

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_UPDATE_DIALOG = 102;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDR_MAINFRAME = 128;  // the program icon
inline constexpr int IDC_CONFIRM = 3;
inline constexpr int IDC_STATUS = 1001;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// LoadString: the text of a string resource, empty for an unknown id.
std::string LoadResourceString(int id);
