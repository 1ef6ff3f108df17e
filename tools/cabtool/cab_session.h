// One run of "cabtool list|test|extract" over a cabinet and the rest of its
// set (the next cabinets are looked for in the first cabinet's folder).
#pragma once

#include <cstdio>
#include <string>

namespace cabtool {

enum class Mode { List, Test, Extract };

struct SessionOptions {
    Mode mode = Mode::List;
    std::string cabinet;      // path of the first cabinet to read
    std::string destination;  // extract: folder to write into
    bool progress = false;    // show a progress line on standard error
    std::FILE* out = stdout;  // list output
    std::FILE* err = stderr;  // error and progress lines
};

// Exit statuses besides the FDIERROR codes 1 to 11.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;

// Runs the session; returns the exit status (0, or the FDIERROR code).
int RunSession(const SessionOptions& options);

// "FDIERROR_CORRUPT_CABINET" etc.; "FDIERROR_UNKNOWN" outside 0 to 11.
const char* FdiErrorName(int code);

}  // namespace cabtool
