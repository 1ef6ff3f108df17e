// Linux side of files.h.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/name_cache_linux.h"
#include "platform/paths.h"
#include "platform/readonly_linux.h"

namespace platform {
namespace {

// Hidden, system, archive and "normal" have no place in a Linux inode; they
// are kept in an extended attribute. Without it (files made by anyone else,
// or a file system without user attributes) a file reads as archive only.
constexpr char kAttributeXattr[] = "user.morrowgate.attributes";
constexpr uint32_t kKeptBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;

uint32_t AttributesOf(const std::string& path, const struct stat& st) {
    const bool folder = S_ISDIR(st.st_mode);
    uint32_t kept = folder ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    unsigned char stored[4];
    if (::getxattr(path.c_str(), kAttributeXattr, stored, sizeof stored) == sizeof stored) {
        kept =
            (static_cast<uint32_t>(stored[0]) | static_cast<uint32_t>(stored[1]) << 8) & kKeptBits;
    }
    uint32_t attributes = kept & ~FILE_ATTRIBUTE_NORMAL;
    if (folder) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (detail::IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
    // As on Windows, "normal" is what a file with no other attribute reads.
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    return attributes;
}

void StoreKeptBits(const std::string& path, uint32_t attributes) {
    const uint32_t kept = attributes & kKeptBits & ~FILE_ATTRIBUTE_NORMAL;
    const unsigned char stored[4] = {static_cast<unsigned char>(kept), 0, 0, 0};
    ::setxattr(path.c_str(), kAttributeXattr, stored, sizeof stored, 0);  // best effort
}

void CopyKeptBits(const std::string& from, const std::string& to) {
    unsigned char stored[4];
    if (::getxattr(from.c_str(), kAttributeXattr, stored, sizeof stored) == sizeof stored) {
        ::setxattr(to.c_str(), kAttributeXattr, stored, sizeof stored, 0);
    } else {
        ::removexattr(to.c_str(), kAttributeXattr);
    }
}

int CompareIgnoringAsciiCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = static_cast<unsigned char>(a[i]);
        int y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
}

bool CopyBytes(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// Removes the entry `name` of the open folder `parent` and, for a folder,
// everything in it. Links are unlinked, never followed.
bool RemoveAt(int parent, const char* name) {
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent, name, 0) == 0;
    // A folder without search or write permission can still be emptied by
    // its owner; make it so first (the shell deletes read-only trees too).
    if ((st.st_mode & 0700) != 0700) ::fchmodat(parent, name, (st.st_mode & 07777) | 0700, 0);
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    for (const std::string& child : names) ok = RemoveAt(::dirfd(dir), child.c_str()) && ok;
    ::closedir(dir);
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 && ok;
}

}  // namespace

bool MoveFile(const std::string& from, const std::string& to) {
    if (!CountFsOp()) return false;
    const std::string source = ResolveCase(from);
    const std::string target = ResolveCase(to);
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) return false;
    // renameat2(RENAME_NOREPLACE) would be atomic but is refused by some
    // file systems; the single thread makes the check-then-rename sound here.
    if (::lstat(target.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    detail::FolderChange leaving(source);
    detail::FolderChange arriving(target);
    const bool moved = ::rename(source.c_str(), target.c_str()) == 0;
    leaving.Done(moved, false);
    arriving.Done(moved, true);
    if (moved) detail::ForgetFolders(source);
    return moved;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    if (!CountFsOp()) return false;
    const std::string source = ResolveCase(from);
    const std::string target = ResolveCase(to);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    struct stat existing;
    const bool targetExists = ::stat(target.c_str(), &existing) == 0;
    if (targetExists &&
        (failIfExists || S_ISDIR(existing.st_mode) || detail::IsReadOnly(existing))) {
        ::close(in);
        errno = targetExists && failIfExists ? EEXIST : EACCES;
        return false;
    }
    detail::FolderChange change(target);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    change.Done(!targetExists && out >= 0, true);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = CopyBytes(in, out);
    CopyKeptBits(source, target);
    ok = ::fchmod(out, st.st_mode & 07777) == 0 && ok;
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ok = ::futimens(out, times) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    return ok;
}

uint32_t GetFileAttributes(const std::string& path) {
    if (!CountFsOp()) return INVALID_FILE_ATTRIBUTES;
    const std::string resolved = ResolveCase(path);
    struct stat st;
    if (::stat(resolved.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
    return AttributesOf(resolved, st);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    if (!CountFsOp()) return false;
    const std::string resolved = ResolveCase(path);
    struct stat st;
    if (::stat(resolved.c_str(), &st) != 0) return false;
    // The extended attribute needs a writable file for users other than
    // root: store it while the file is writable.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const mode_t mode = readOnly ? (st.st_mode & 07777 & static_cast<mode_t>(~0222))
                                 : ((st.st_mode & 07777) | S_IWUSR);
    bool ok = true;
    if (!readOnly && mode != (st.st_mode & 07777)) ok = ::chmod(resolved.c_str(), mode) == 0;
    StoreKeptBits(resolved, attributes);
    if (readOnly && mode != (st.st_mode & 07777)) ok = ::chmod(resolved.c_str(), mode) == 0;
    return ok;
}

bool FileExists(const std::string& path) {
    if (!CountFsOp()) return false;
    struct stat st;
    return ::stat(ResolveCase(path).c_str(), &st) == 0;
}

bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries, bool includeDots) {
    entries.clear();
    if (!CountFsOp()) return false;
    const std::string resolved = ResolveCase(folder);
    const int fd = ::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    std::vector<DirEntry> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::fstatat(fd, entry->d_name, &st, 0) != 0) continue;  // dangling link
        found.push_back({name, AttributesOf(resolved + "/" + name, st)});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const DirEntry& a, const DirEntry& b) {
        const int c = CompareIgnoringAsciiCase(a.name, b.name);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    if (includeDots) {
        entries.push_back({".", FILE_ATTRIBUTE_DIRECTORY});
        entries.push_back({"..", FILE_ATTRIBUTE_DIRECTORY});
    }
    entries.insert(entries.end(), found.begin(), found.end());
    return true;
}

bool CreateDirectory(const std::string& path) {
    if (!CountFsOp()) return false;
    const std::string resolved = ResolveCase(path);
    detail::FolderChange change(resolved);
    const bool made = ::mkdir(resolved.c_str(), 0777) == 0;
    change.Done(made, true);
    return made;
}

bool DeleteFile(const std::string& path) {
    if (!CountFsOp()) return false;
    const std::string resolved = ResolveCase(path);
    struct stat st;
    if (::lstat(resolved.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && detail::IsReadOnly(st))) {
        errno = EACCES;
        return false;
    }
    detail::FolderChange change(resolved);
    const bool removed = ::unlink(resolved.c_str()) == 0;
    change.Done(removed, false);
    return removed;
}

bool DeleteTree(const std::string& path) {
    if (!CountFsOp()) return false;
    std::string resolved = ResolveCase(path);
    while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
    if (resolved.empty() || resolved == "/") return false;
    const size_t slash = resolved.rfind('/');
    const std::string parent =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : resolved.substr(0, slash));
    const std::string name = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    if (name == "." || name == "..") return false;
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    const bool existed = ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    detail::FolderChange change(resolved);
    const bool ok = existed && RemoveAt(fd, name.c_str());
    ::close(fd);
    change.Done(existed, !ok && ::lstat(resolved.c_str(), &st) == 0);
    detail::ForgetFolders(resolved);
    return ok;
}

bool SetFileTimeFromDos(const std::string& path, uint16_t dosDate, uint16_t dosTime) {
    if (!CountFsOp()) return false;
    const int day = dosDate & 0x1F;
    const int month = (dosDate >> 5) & 0x0F;
    const int year = 1980 + (dosDate >> 9);
    const int seconds2 = dosTime & 0x1F;
    const int minute = (dosTime >> 5) & 0x3F;
    const int hour = dosTime >> 11;
    static const int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || seconds2 > 29) {
        errno = EINVAL;
        return false;
    }
    struct tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = seconds2 * 2;
    local.tm_isdst = -1;  // as the local rules say for that date
    const time_t when = ::mktime(&local);
    if (when == static_cast<time_t>(-1)) return false;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
    return ::utimensat(AT_FDCWD, ResolveCase(path).c_str(), times, 0) == 0;
}

std::string GetSystemDirectory() {
    const char* dir = std::getenv("MG_SYSTEM_DIR");
    std::string result = (dir != nullptr && *dir != '\0') ? dir : "/usr/lib/morrowgate/system";
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

}  // namespace platform
