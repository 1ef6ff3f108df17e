// A stand-in for the game client (Skarnfell.exe): the program that starts
// Update and waits for its result.
//
//   standin-client [--folder DIR] [--timeout SECONDS] [--no-start] ^N^name^cab^dir^
//       Holds the mutex "Morrowgate.Update", owns the window
//       "WaitForUpdateResultWnd<N>", starts DIR/Update (DIR defaults to this
//       program's folder) with the caret fields, waits for message 8071,
//       prints "result <code>" and exits 0 only for result 0 (1 for any
//       other result, 2 when no result came, 3 on a usage or set-up error).
//       --no-start waits for a result without starting Update.
//   standin-client --hold SECONDS
//       Holds the mutex for that long, as a running client does; prints
//       "holding" once it has it.
//   standin-client
//       Started without arguments, as Update relaunches the client: prints a
//       line, appends one to $MG_CLIENT_MARKER when that is set, and exits.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/names.h"
#include "platform/ipc.h"
#include "platform/process.h"

extern char** environ;

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: standin-client [--folder DIR] [--timeout SECONDS] [--no-start] ^N^name^cab^dir^\n"
        "       standin-client --hold SECONDS\n");
    return 3;
}

int Relaunched() {
    std::printf("Skarnfell: started without arguments\n");
    if (const char* marker = std::getenv("MG_CLIENT_MARKER");
        marker != nullptr && *marker != '\0') {
        std::ofstream(marker, std::ios::app) << "started\n";
    }
    return 0;
}

platform::NamedMutex HoldMutex() {
    bool alreadyExists = false;
    platform::NamedMutex mutex = platform::CreateNamedMutex(kUpdateMutexName, &alreadyExists);
    if (!mutex.IsHeld()) {
        std::fprintf(stderr, "Skarnfell: mutex %s %s\n", kUpdateMutexName,
                     alreadyExists ? "is held by another process" : "could not be created");
    }
    return mutex;
}

// Starts Update and keeps its pid, so the wait can end when it dies.
pid_t StartUpdate(const std::string& folder, const std::string& fields) {
    const std::string program = folder + "/Update";
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(fields.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Relaunched();

    std::string folder = platform::GetModuleDir();
    if (folder.size() > 1) folder.pop_back();
    double timeoutSeconds = 60;
    bool start = true;
    std::string fields;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--hold" && hasValue) {
            platform::NamedMutex mutex = HoldMutex();
            if (mutex.IsHeld()) std::printf("holding\n");
            std::fflush(stdout);
            platform::Sleep(static_cast<uint32_t>(std::atof(args[++i].c_str()) * 1000));
            return mutex.IsHeld() ? 0 : 3;
        } else if (arg == "--folder" && hasValue) {
            folder = args[++i];
        } else if (arg == "--timeout" && hasValue) {
            timeoutSeconds = std::atof(args[++i].c_str());
        } else if (arg == "--no-start") {
            start = false;
        } else if (fields.empty() && arg.find('^') != std::string::npos) {
            fields = arg;
        } else {
            return Usage();
        }
    }
    if (fields.empty()) return Usage();

    const int windowNumber = ParseWindowNumber(ParseCaretFields(fields).field[0]);
    platform::NamedMutex mutex = HoldMutex();
    platform::MessageWindow window;
    if (!window.Create(ResultWindowTitle(windowNumber))) {
        std::fprintf(stderr, "Skarnfell: cannot own window %s\n",
                     ResultWindowTitle(windowNumber).c_str());
        return 3;
    }
    pid_t update = -1;
    if (start) {
        update = StartUpdate(folder, fields);
        if (update < 0) {
            std::fprintf(stderr, "Skarnfell: cannot start %s/Update\n", folder.c_str());
            return 3;
        }
    }

    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int64_t>(timeoutSeconds * 1000));
    std::optional<platform::WindowMessage> message;
    bool updateGone = false;
    while (std::chrono::steady_clock::now() < deadline) {
        message = window.Receive(100);
        if (message && message->message == platform::WM_UPDATE_RESULT) break;
        message.reset();
        // Update blocks in its send until we answer, so once it has ended
        // without a message none is coming.
        if (update > 0 && waitpid(update, nullptr, WNOHANG) == update) {
            update = -1;
            updateGone = true;
            message = window.Receive(0);
            break;
        }
    }
    if (update > 0 && message) waitpid(update, nullptr, 0);
    if (!message || message->message != platform::WM_UPDATE_RESULT) {
        std::printf("no result (%s)\n",
                    updateGone ? "Update ended without sending one" : "timed out");
        return 2;
    }
    const int32_t result = static_cast<int32_t>(message->wParam);
    std::printf("result %d (wParam 0x%08X, lParam %u)\n", result, message->wParam, message->lParam);
    return result == 0 ? 0 : 1;
}
