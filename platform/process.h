// The Windows process calls: GetCommandLineA, the module folder
// (GetModuleFileNameA cut after the last separator), the program's name used
// as message-box caption, Sleep, and process start without waiting
// (ShellExecuteA / ShellExecuteExA).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Set once at start-up from main's arguments: the program path and the
// arguments joined by blanks, as GetCommandLineA would give them.
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(const std::string& commandLine);  // tests
std::string GetCommandLine();

// The running executable's folder, ending in '/'. Computed on the first call
// (from /proc/self/exe) and kept; tests may override it.
std::string GetModuleDir();
void SetModuleDirForTest(const std::string& dirWithSeparator);

// The program's name: the executable's base name without a ".exe" suffix
// ("Update"). Message boxes carry it as their caption. Tests may override it.
std::string ProgramName();
void SetProgramName(const std::string& name);

void Sleep(uint32_t milliseconds);

// Starts a program and does not wait for it (ShellExecuteA). parameters is
// split on blanks into the arguments (no quoting, as the callers never quote).
// A program named without '/' is looked for in workDir (or the current folder
// when workDir is empty), then in PATH. workDir empty: the started process
// inherits the current folder. hidden (SW_HIDE): its standard input and
// output are /dev/null. The start is reported to the active front end
// (ui.h), which may record it and which decides whether the process is
// really started (the scripted front end doesn't unless asked to).
// Returns false when the program could not be started.
bool StartProcess(const std::string& program, const std::string& parameters,
                  const std::string& workDir, bool hidden);

}  // namespace platform
