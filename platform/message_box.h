// OK-only message boxes, captioned with the program's name.
#pragma once

#include <string>

namespace platform {

// Shows text (UTF-8) through the active front end and returns once the user
// has answered.
void ShowMessageBox(const std::string& text);

}  // namespace platform
