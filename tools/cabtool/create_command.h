// "cabtool create": packs files and folders into a cabinet or a cabinet set.
#pragma once

// argv[0] is "create"; returns the exit status (0 success, 1 failure, 64 usage).
int RunCreateCommand(int argc, char** argv);
