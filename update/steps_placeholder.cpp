// Placeholders for the steps not yet built; each lands in its own file
// (unpack_step.cpp, manifest_step.cpp, replace_step.cpp, register_step.cpp)
// and removes its line here.
#include "update/update_steps.h"

