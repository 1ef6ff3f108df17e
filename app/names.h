// The names through which Update and the client meet: the mutex that a
// running client holds, the client's executable and the title of the window
// that waits for the result.
#pragma once

#include <string>

inline constexpr char kUpdateMutexName[] = "Morrowgate.Update";
inline constexpr char kClientExeName[] = "Skarnfell.exe";

// "WaitForUpdateResultWnd%d"
inline std::string ResultWindowTitle(int windowNumber) {
    return "WaitForUpdateResultWnd" + std::to_string(windowNumber);
}
