// Placeholder until the front ends land.
#include "platform/message_box.h"

#include <cstdio>

namespace platform {
void ShowMessageBox(const std::string& text) { std::fprintf(stderr, "Update: %s\n", text.c_str()); }
}  // namespace platform
