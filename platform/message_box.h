// OK-only message boxes, captioned with the program's name. Kept for the
// callers that include it; the front ends live in ui.h.
#pragma once

#include "platform/ui.h"
