// Linux side of paths.h.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/name_cache_linux.h"
#include "platform/paths.h"

namespace platform {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string ResolveCase(const std::string& path) {
    if (path.empty() || Exists(path)) return path;
    std::string result;
    size_t pos = 0;
    if (path[0] == '/') {
        result = "/";
        pos = 1;
    }
    bool resolving = true;  // once a component is missing, the rest is new
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string name = path.substr(pos, slash - pos);
        if (!name.empty() && name != "." && name != "..") {
            std::string candidate = result + name;
            if (resolving && !Exists(candidate)) {
                name = detail::MatchInFolder(result, name);
                candidate = result + name;
                resolving = Exists(candidate);
            }
        }
        result += name;
        if (slash < path.size()) result += '/';
        pos = slash + 1;
    }
    return result;
}

std::string ToNativeSeparators(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::string RuntimeDir() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && *xdg != '\0') return xdg;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    dir += "/morrowgate-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st;
    // Someone else's folder (or a link planted in its place) would let them
    // see or fake our mutexes and windows.
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0077) != 0) {
        return {};
    }
    return dir;
}

}  // namespace platform
