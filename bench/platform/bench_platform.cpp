// Cost of creating files through the C-runtime stand-ins as a folder fills
// up. Every new name is looked up ignoring case first, so the cost per file
// must not grow with the folder: the harness prints the time per file for a
// small and a large folder and their ratio (about 1 when it doesn't grow),
// and the same for files written with plain open(2) as the floor.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/crt.h"

namespace {

using Clock = std::chrono::steady_clock;

// Best of three runs: the machine is shared, and the first run also pays for
// warming the file system up.
template <typename Create>
double MicrosPerFile(const std::string& folder, int count, Create create) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) create(folder + "/File" + std::to_string(i) + ".dat");
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (run == 0 || seconds < best) best = seconds;
    }
    std::filesystem::remove_all(folder);
    return best * 1e6 / count;
}

void PlatformCreate(const std::string& path) {
    platform::_close(platform::_open(path.c_str(), 0x8121, 0x180));
}

void PlainCreate(const std::string& path) {
    ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

}  // namespace

int main(int argc, char** argv) {
    const int small = 500;
    const int large = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("bench-platform-" + std::to_string(::getpid())))
            .string();
    const double plainSmall = MicrosPerFile(folder, small, PlainCreate);
    const double plainLarge = MicrosPerFile(folder, large, PlainCreate);
    const double ourSmall = MicrosPerFile(folder, small, PlatformCreate);
    const double ourLarge = MicrosPerFile(folder, large, PlatformCreate);
    std::printf(
        "create via open(2):   %6.1f us/file at %5d files, %6.1f us/file at %5d (ratio %.2f)\n",
        plainSmall, small, plainLarge, large, plainLarge / plainSmall);
    std::printf(
        "create via _open:     %6.1f us/file at %5d files, %6.1f us/file at %5d (ratio %.2f)\n",
        ourSmall, small, ourLarge, large, ourLarge / ourSmall);
    std::printf("_open over open(2) at %d files: %.2fx\n", large, ourLarge / plainLarge);
    return 0;
}
