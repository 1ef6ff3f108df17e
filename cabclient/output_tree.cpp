#include "cabclient/output_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/crt.h"
#include "platform/fault.h"
#include "platform/paths.h"

namespace cabclient {
namespace {

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Descriptors 0 to 2 are never handed out: the engine reads 0 as "skip".
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

std::string Below(const std::string& dirKey, const std::string& name) {
    return dirKey.empty() ? name : dirKey + "/" + name;
}

std::string ErrnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

}  // namespace

std::string TrimTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

OutputTree::OutputTree(std::string destination)
    : m_destination(TrimTrailingSeparators(std::move(destination))) {}

OutputTree::~OutputTree() {
    if (m_rootFd >= 0) ::close(m_rootFd);
}

std::string OutputTree::OutputPath(const std::vector<std::string>& components) const {
    std::string path = m_destination == "/" ? std::string() : m_destination;
    for (const auto& part : components) {
        path += '/';
        path += part;
    }
    return path;
}

int OutputTree::OpenRoot(std::string& error) {
    if (m_rootFd >= 0) return m_rootFd;
    platform::EnsureStandardDescriptors();
    const std::string root = m_destination.empty() ? std::string(".")
                                                   : platform::ResolveCase(m_destination);
    // Create the destination and its parents; results are ignored, a folder
    // that is still missing makes the open below fail.
    for (size_t pos = root.find('/', 1); pos != std::string::npos; pos = root.find('/', pos + 1))
        ::mkdir(root.substr(0, pos).c_str(), 0777);
    ::mkdir(root.c_str(), 0777);
    if (!platform::CountFsOp()) {
        error = ErrnoText("cannot open " + m_destination, errno);
        return -1;
    }
    m_rootFd = AboveStandard(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (m_rootFd < 0) error = ErrnoText("cannot open " + m_destination, errno);
    return m_rootFd;
}

std::string OutputTree::ExistingName(int dirFd, const std::string& dirKey,
                                     const std::string& name) {
    auto found = m_listings.find(dirKey);
    if (found == m_listings.end()) {
        // First visit of this folder in this extraction: list it once, later
        // creations are remembered, so a large cabinet costs no rescans.
        auto& listing = m_listings[dirKey];
        const int copy = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string entryName = entry->d_name;
                if (entryName == "." || entryName == "..") continue;
                listing[AsciiLower(entryName)].push_back(entryName);
            }
            ::closedir(dir);
        } else if (copy >= 0) {
            ::close(copy);
        }
        found = m_listings.find(dirKey);
    }
    const auto candidates = found->second.find(AsciiLower(name));
    if (candidates == found->second.end()) return name;
    for (const auto& candidate : candidates->second)
        if (candidate == name) return name;
    return candidates->second.size() == 1 ? candidates->second.front() : name;
}

void OutputTree::Remember(const std::string& dirKey, const std::string& name) {
    auto found = m_listings.find(dirKey);
    if (found == m_listings.end()) return;
    auto& names = found->second[AsciiLower(name)];
    for (const auto& known : names)
        if (known == name) return;
    names.push_back(name);
}

int OutputTree::CreateFile(const std::vector<std::string>& components, std::string& error) {
    if (components.empty()) {
        error = "empty file name";
        return -1;
    }
    const int root = OpenRoot(error);
    if (root < 0) return -1;

    int dirFd = root;  // owned unless it is the root
    std::string dirKey;
    auto closeDir = [&] {
        if (dirFd != root) ::close(dirFd);
    };
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string name = ExistingName(dirFd, dirKey, components[i]);
        // As with CreateDirectory, a failed creation is not an error by
        // itself: entering the folder below decides.
        if (platform::CountFsOp() && ::mkdirat(dirFd, name.c_str(), 0777) == 0) Remember(dirKey, name);
        const int next = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int err = errno;
            struct stat st;
            const bool link = ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(st.st_mode);
            const std::string shown = OutputPath({Below(dirKey, name)});
            error = link ? "refusing to follow symbolic link " + shown
                         : ErrnoText("cannot enter folder " + shown, err);
            closeDir();
            return -1;
        }
        closeDir();
        dirFd = next;
        dirKey = Below(dirKey, name);
    }

    const std::string leaf = ExistingName(dirFd, dirKey, components.back());
    const std::string shown = OutputPath({Below(dirKey, leaf)});
    struct stat st;
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        std::string refusal;
        if (S_ISLNK(st.st_mode)) refusal = "refusing to write through symbolic link " + shown;
        else if (S_ISDIR(st.st_mode)) refusal = "a folder is in the way: " + shown;
        else if (!S_ISREG(st.st_mode)) refusal = "not a regular file: " + shown;
        // Read-only is the owner write bit; refused even for root, as on Windows.
        else if ((st.st_mode & S_IWUSR) == 0) refusal = "existing file is read-only: " + shown;
        if (!refusal.empty()) {
            error = refusal;
            closeDir();
            return -1;
        }
    }
    if (!platform::CountFsOp()) {
        error = ErrnoText("cannot create " + shown, errno);
        closeDir();
        return -1;
    }
    int fd = ::openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int err = errno;
    if (fd >= 0) Remember(dirKey, leaf);
    closeDir();
    fd = AboveStandard(fd);
    if (fd < 0) error = ErrnoText("cannot create " + shown, err);
    return fd;
}

}  // namespace cabclient
