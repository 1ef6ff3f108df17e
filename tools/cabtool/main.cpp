// cabtool: lists, tests, extracts (and creates) cabinet files.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/crt.h"
#include "tools/cabtool/cab_session.h"
#include "tools/cabtool/create_command.h"

namespace {

const char kUsage[] =
    "usage: cabtool list CABINET\n"
    "       cabtool test CABINET\n"
    "       cabtool extract [-d DIR] CABINET\n"
    "       cabtool create ...          (see cabtool create --help)\n"
    "       cabtool --help | --version\n"
    "\n"
    "  list     one line per file: size, date and time, attributes, name;\n"
    "           attributes are r(ead-only) h(idden) s(ystem) a(rchive)\n"
    "           x (run after extraction) u (UTF-8 name); then a total line\n"
    "  test     decodes every file and writes nothing\n"
    "  extract  writes the files below DIR (default: the current folder)\n"
    "\n"
    "Following cabinets of a set are looked for in the first cabinet's folder.\n"
    "Exit status: 0 success, 1-11 the cabinet error code (1 cabinet not found,\n"
    "2 not a cabinet, 4 corrupt, 8 target file, 9 reserve mismatch, 10 wrong\n"
    "cabinet, ...), 64 usage error.\n";

int UsageError(const std::string& what) {
    std::fprintf(stderr, "cabtool: %s (try 'cabtool --help')\n", what.c_str());
    return cabtool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    platform::EnsureStandardDescriptors();
    if (argc < 2) return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return cabtool::kExitOk;
    }
    if (command == "--version") {
        std::printf("cabtool %s\n", CABTOOL_VERSION);
        return cabtool::kExitOk;
    }
    if (command == "create") return RunCreateCommand(argc - 1, argv + 1);

    cabtool::SessionOptions options;
    if (command == "list") options.mode = cabtool::Mode::List;
    else if (command == "test") options.mode = cabtool::Mode::Test;
    else if (command == "extract") options.mode = cabtool::Mode::Extract;
    else return UsageError("unknown command '" + command + "'");

    bool haveDestination = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return cabtool::kExitOk;
        }
        if (options.mode == cabtool::Mode::Extract && arg == "-d") {
            if (haveDestination) return UsageError("-d given twice");
            if (i + 1 >= argc) return UsageError("-d needs a folder");
            options.destination = argv[++i];
            if (options.destination.empty()) return UsageError("-d needs a folder");
            haveDestination = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            return UsageError("unknown option '" + arg + "'");
        } else {
            if (arg == "--") {
                if (++i >= argc) break;
            }
            if (!options.cabinet.empty()) return UsageError("more than one cabinet given");
            options.cabinet = argv[i];
            if (options.cabinet.empty()) return UsageError("empty cabinet name");
        }
    }
    if (options.cabinet.empty()) return UsageError("no cabinet given");
    if (!haveDestination) options.destination = ".";
    options.progress = options.mode != cabtool::Mode::List && ::isatty(STDERR_FILENO) != 0;
    return cabtool::RunSession(options);
}
