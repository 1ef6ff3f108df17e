// PLACEHOLDER until create_command.cpp lands: "cabtool create" is not built
// yet. Weak, so the real RunCreateCommand replaces it without any edit here.
#include <cstdio>

#include "tools/cabtool/create_entry.h"

__attribute__((weak)) int RunCreateCommand(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "cabtool: create: not built yet\n");
    return 64;
}
