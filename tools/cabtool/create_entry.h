// Entry point of "cabtool create", which lives in create_command.cpp.
#pragma once

#if __has_include("tools/cabtool/create_command.h")
#include "tools/cabtool/create_command.h"
#else
int RunCreateCommand(int argc, char** argv);
#endif
