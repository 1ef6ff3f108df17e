// "cabtool create": reads the given files and folder trees and writes them as
// one cabinet, or as a set OUT.cab, OUT2.cab, ... when a size limit is given.
#include "tools/cabtool/create_command.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "cabbuild/folder_compressor.h"
#include "fdi/fdi.h"
#include "platform/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 64;
constexpr size_t kMaxStoredName = 255;  // the entry holds 256 bytes with the NUL
// A folder counts its blocks in 16 bits; start a new one well before that.
constexpr uint64_t kFolderLimit = uint64_t{60000} * cabbuild::kFrameSize;

const char kCreateUsage[] =
    "usage: cabtool create [-m METHOD] [--max-cabinet-size BYTES] -o OUT.cab PATH...\n"
    "\n"
    "Packs files and folder trees into a cabinet. A folder's files are stored\n"
    "with names relative to that folder (its subfolders separated by '\\'); a\n"
    "file given directly is stored under its own name. Dates, times and the\n"
    "read-only and executable state are kept; names that are not ASCII are\n"
    "stored as UTF-8 and flagged so.\n"
    "\n"
    "  -m METHOD    none, mszip[:LEVEL] (LEVEL 0-9, default 6), lzx[:WINDOW]\n"
    "               (window bits 15-21, default 21) or quantum[:WINDOW] (window\n"
    "               bits 10-21, default 21); default mszip\n"
    "  --max-cabinet-size BYTES\n"
    "               split into a set OUT.cab, OUT2.cab, ... of cabinets no larger\n"
    "               than BYTES each; 0 (the default) means one cabinet\n"
    "  -o OUT.cab   the (first) cabinet to write\n"
    "\n"
    "Exit status: 0 success, 1 failure, 64 usage error.\n";

struct CreateOptions {
    std::string method = "mszip";
    uint32_t maxCabinetSize = 0;
    std::string output;
    std::vector<std::string> paths;
};

struct InputFile {
    std::string storedName;  // Windows-style, UTF-8
    std::string path;        // where to read it
    uint64_t size = 0;
    uint16_t date = 0, time = 0, attribs = 0;
};

int UsageError(const std::string& what) {
    std::fprintf(stderr, "cabtool: create: %s (try 'cabtool create --help')\n", what.c_str());
    return kExitUsage;
}

int Failure(const std::string& what) {
    std::fprintf(stderr, "cabtool: create: %s\n", what.c_str());
    return kExitFailed;
}

// 0: parsed; otherwise the exit status to return at once.
int ParseArguments(int argc, char** argv, CreateOptions& options, bool& helpShown) {
    bool haveMethod = false, haveSize = false, onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyPaths || arg.empty() || arg[0] != '-' || arg == "-") {
            if (arg.empty()) return UsageError("empty path");
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kCreateUsage, stdout);
            helpShown = true;
            return kExitOk;
        } else if (arg == "-m" || arg == "-o" || arg == "--max-cabinet-size") {
            if (i + 1 >= argc) return UsageError(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "-m") {
                if (haveMethod) return UsageError("-m given twice");
                std::string error;
                if (!cabbuild::MakeCompressor(value, &error)) return UsageError(error);
                options.method = value;
                haveMethod = true;
            } else if (arg == "-o") {
                if (!options.output.empty()) return UsageError("-o given twice");
                if (value.empty()) return UsageError("-o needs a file name");
                options.output = value;
            } else {
                if (haveSize) return UsageError("--max-cabinet-size given twice");
                const char* end = value.data() + value.size();
                auto [ptr, ec] = std::from_chars(value.data(), end, options.maxCabinetSize);
                if (value.empty() || ec != std::errc() || ptr != end)
                    return UsageError("bad cabinet size '" + value + "' (bytes, 0 to 4294967295)");
                haveSize = true;
            }
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (options.output.empty()) return UsageError("no output cabinet given (-o OUT.cab)");
    if (options.paths.empty()) return UsageError("nothing to pack");
    return kExitOk;
}

// The file's modification time as local DOS date and time (2-second steps,
// clamped to the years DOS can hold).
void ToDosDateTime(std::time_t when, uint16_t& date, uint16_t& time) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr || local.tm_year < 80) {
        date = (1 << 5) | 1;  // 1980-01-01 00:00:00
        time = 0;
        return;
    }
    if (local.tm_year > 80 + 127) {
        date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
        time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
        return;
    }
    date = static_cast<uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                 local.tm_mday);
    time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

class Collector {
  public:
    explicit Collector(std::vector<InputFile>& files) : files_(files) {}

    bool AddPath(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return Error("cannot read " + path + ": " + std::strerror(errno));
        if (S_ISDIR(st.st_mode)) return AddTree(path, "");
        if (!S_ISREG(st.st_mode)) return Error(path + " is neither a file nor a folder");
        std::string name = path;
        while (name.size() > 1 && name.back() == '/') name.pop_back();
        name = name.substr(name.find_last_of('/') + 1);
        if (name.find('\\') != std::string::npos)
            return Error("name contains a backslash: " + path);
        return AddFile(path, name, st);
    }

    const std::string& error() const { return error_; }

  private:
    bool Error(const std::string& text) {
        error_ = text;
        return false;
    }

    // Adds every file below `dir`, in name order; `prefix` is the stored
    // name of `dir` relative to the given path, with a trailing '\'.
    bool AddTree(const std::string& dir, const std::string& prefix) {
        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) return Error("cannot read folder " + dir + ": " + std::strerror(errno));
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = dir + "/" + name;
            // In a stored name a backslash separates folders.
            if (name.find('\\') != std::string::npos)
                return Error("name contains a backslash: " + path);
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0)
                return Error("cannot read " + path + ": " + std::strerror(errno));
            if (S_ISLNK(st.st_mode)) {
                // Linked files are packed as files; linked folders are not
                // followed, so a link cannot lead the walk in circles.
                if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                    std::fprintf(stderr, "cabtool: create: skipping link %s\n", path.c_str());
                    continue;
                }
            }
            if (S_ISDIR(st.st_mode)) {
                if (!AddTree(path, prefix + name + "\\")) return false;
            } else if (S_ISREG(st.st_mode)) {
                if (!AddFile(path, prefix + name, st)) return false;
            } else {
                std::fprintf(stderr, "cabtool: create: skipping %s (not a regular file)\n",
                             path.c_str());
            }
        }
        return true;
    }

    bool AddFile(const std::string& path, const std::string& storedName, const struct stat& st) {
        if (storedName.size() > kMaxStoredName)
            return Error("name too long for a cabinet: " + storedName);
        const bool ascii = std::all_of(storedName.begin(), storedName.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii && !platform::IsValidUtf8(storedName)) return Error("name is not valid UTF-8: " + path);
        if (!names_.insert(storedName).second)
            return Error("two files would be stored as " + storedName);
        if (static_cast<uint64_t>(st.st_size) > UINT32_MAX)
            return Error("file too large for a cabinet: " + path);

        InputFile file;
        file.storedName = storedName;
        file.path = path;
        file.size = static_cast<uint64_t>(st.st_size);
        ToDosDateTime(st.st_mtime, file.date, file.time);
        file.attribs = _A_ARCH;
        if ((st.st_mode & S_IWUSR) == 0) file.attribs |= _A_RDONLY;
        if ((st.st_mode & S_IXUSR) != 0) file.attribs |= _A_EXEC;
        if (!ascii) file.attribs |= _A_NAME_IS_UTF;
        files_.push_back(std::move(file));
        return true;
    }

    std::vector<InputFile>& files_;
    std::set<std::string> names_;
    std::string error_;
};

bool ReadWholeFile(const std::string& path, uint64_t expectedSize, std::vector<uint8_t>& data) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    data.resize(static_cast<size_t>(expectedSize) + 1);  // one more byte notices growth
    size_t used = 0;
    for (;;) {
        if (used == data.size()) data.resize(data.size() * 2);
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int savedErrno = errno;
            ::close(fd);
            data.resize(used);
            errno = savedErrno;
            return n == 0;
        }
        used += static_cast<size_t>(n);
    }
}

// "dir/name.cab" -> directory "dir", names "name.cab", "name2.cab", ...
struct OutputNames {
    std::string directory;
    std::string stem, extension;
    std::string Name(unsigned index) const {
        return index == 0 ? stem + extension : stem + std::to_string(index + 1) + extension;
    }
};

OutputNames SplitOutput(const std::string& output) {
    OutputNames names;
    const size_t slash = output.find_last_of('/');
    std::string base = output;
    if (slash != std::string::npos) {
        names.directory = slash == 0 ? "/" : output.substr(0, slash);
        base = output.substr(slash + 1);
    }
    const size_t dot = base.find_last_of('.');
    names.stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    names.extension = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    return names;
}

// A set ID that differs between different sets, yet is the same for the
// same input, so rebuilding gives the same bytes.
uint16_t SetIdFor(const std::vector<InputFile>& files) {
    uint32_t h = 2166136261u;
    for (const InputFile& f : files) {
        for (char c : f.storedName) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        h = (h ^ static_cast<uint32_t>(f.size)) * 16777619u;
    }
    return static_cast<uint16_t>(h ^ (h >> 16));
}

}  // namespace

int RunCreateCommand(int argc, char** argv) {
    CreateOptions options;
    bool helpShown = false;
    if (int status = ParseArguments(argc, argv, options, helpShown); status != kExitOk || helpShown)
        return status;

    std::vector<InputFile> files;
    Collector collector(files);
    for (const std::string& path : options.paths)
        if (!collector.AddPath(path)) return Failure(collector.error());
    if (files.empty()) return Failure("no files to pack (empty folders are not stored)");

    const OutputNames names = SplitOutput(options.output);
    if (names.stem.empty()) return UsageError("bad output name '" + options.output + "'");
    cabbuild::SetOptions setOptions;
    setOptions.maxCabinetSize = options.maxCabinetSize;
    setOptions.setID = SetIdFor(files);
    setOptions.cabinetName = [names](unsigned index) { return names.Name(index); };
    cabbuild::CabinetWriter writer(setOptions);

    std::string error;
    uint64_t folderBytes = 0;
    bool folderOpen = false;
    for (InputFile& file : files) {
        if (!folderOpen || folderBytes + file.size > kFolderLimit) {
            if (!writer.StartFolder(options.method, &error)) return Failure(error);
            folderOpen = true;
            folderBytes = 0;
        }
        std::vector<uint8_t> data;
        if (!ReadWholeFile(file.path, file.size, data))
            return Failure("cannot read " + file.path + ": " + std::strerror(errno));
        folderBytes += data.size();
        writer.AddFile(file.storedName, std::move(data), file.date, file.time, file.attribs);
    }

    std::vector<cabbuild::CabinetImage> images;
    if (!writer.Build(&images, &error)) return Failure(error);
    if (!cabbuild::WriteCabinetFiles(images, names.directory, &error)) return Failure(error);
    for (const auto& image : images) {
        const std::string path =
            names.directory.empty() ? image.name : names.directory + "/" + image.name;
        std::printf("%s: %zu bytes\n", path.c_str(), image.bytes.size());
    }
    return kExitOk;
}
