// Any cabinet bytes through the updater's extraction client: no crash, and
// nothing is ever created outside the destination folder.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cabclient/cab_extractor.h"
#include "platform/files.h"

namespace {

// Entries of a folder besides "." and "..".
int CountEntries(const std::string& dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
        ::closedir(d);
    }
    return n;
}

const std::string& WorkDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-cabclient-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    static const bool cleanup = (std::atexit([] { platform::DeleteTree(WorkDir()); }), true);
    (void)cleanup;
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Layout: WORK/in.cab and the destination WORK/a/b/dest; a name that
    // escaped would land in WORK, WORK/a or WORK/a/b.
    const std::string& work = WorkDir();
    const std::string cab = work + "/in.cab";
    const std::string dest = work + "/a/b/dest";
    ::mkdir((work + "/a").c_str(), 0755);
    ::mkdir((work + "/a/b").c_str(), 0755);
    if (std::FILE* f = std::fopen(cab.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    {
        cabclient::CCabExtractor extractor;
        extractor.Extract(cab, dest);
    }
    if (CountEntries(work) != 2 || CountEntries(work + "/a") != 1 || CountEntries(work + "/a/b") > 1)
        __builtin_trap();
    platform::DeleteTree(dest);
    return 0;
}
