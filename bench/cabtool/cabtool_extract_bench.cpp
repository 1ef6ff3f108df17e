// cabtool extract of a large stored cabinet against cp of the same bytes,
// measured in one run. Usage: bench_cabtool_extract [MiB] [runs]
//
// Both read warm from the page cache and write into the same folder, each
// after a sync, so the ratio shows what the cabinet engine and the client add
// on top of moving the bytes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"

namespace {

double RunMs(const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned mib = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 256;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("bench-cabtool-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);

    // Files of 16 MiB of pseudo-random bytes in one stored folder.
    cabbuild::CabinetWriter writer;
    std::string error;
    if (!writer.StartFolder("none", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::mt19937 rng(42);
    const unsigned fileMib = 16;
    for (unsigned i = 0; i * fileMib < mib; ++i) {
        std::vector<uint8_t> data(static_cast<size_t>(fileMib) << 20);
        for (size_t k = 0; k + 4 <= data.size(); k += 4) {
            const auto v = static_cast<uint32_t>(rng());
            std::copy_n(reinterpret_cast<const uint8_t*>(&v), 4, data.begin() + static_cast<long>(k));
        }
        writer.AddFile("data\\part" + std::to_string(i) + ".bin", std::move(data));
    }
    std::vector<cabbuild::CabinetImage> images;
    if (!writer.Build(&images, &error) || images.size() != 1 ||
        !cabbuild::WriteCabinetFiles(images, dir, &error)) {
        std::fprintf(stderr, "cannot build the cabinet: %s\n", error.c_str());
        return 1;
    }
    const std::string cab = dir + "/" + images[0].name;
    const double bytes = static_cast<double>(images[0].bytes.size());
    images.clear();

    double bestExtract = 1e30, bestCopy = 1e30;
    RunMs({"cp", cab, dir + "/warm.cab"});  // brings the cabinet into the page cache
    std::filesystem::remove(dir + "/warm.cab");
    for (int r = 0; r < runs; ++r) {
        std::filesystem::remove_all(dir + "/out");
        std::filesystem::remove(dir + "/copy.cab");
        // Written-back pages between runs, so neither pays for the other's.
        RunMs({"sync"});
        bestExtract = std::min(bestExtract, RunMs({CABTOOL_PATH, "extract", "-d", dir + "/out", cab}));
        RunMs({"sync"});
        bestCopy = std::min(bestCopy, RunMs({"cp", cab, dir + "/copy.cab"}));
    }
    std::filesystem::remove_all(dir);

    const double mb = bytes / (1024.0 * 1024.0);
    std::printf("stored cabinet: %.0f MiB, best of %d runs\n", mb, runs);
    std::printf("cabtool extract: %8.1f ms  %7.1f MiB/s\n", bestExtract, mb / (bestExtract / 1000));
    std::printf("cp:              %8.1f ms  %7.1f MiB/s\n", bestCopy, mb / (bestCopy / 1000));
    std::printf("ratio extract/cp: %.2f\n", bestExtract / bestCopy);
    return 0;
}
