// Linux side of crt.h: translates the Windows flags and values.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/crt.h"
#include "platform/fault.h"
#include "platform/name_cache_linux.h"
#include "platform/paths.h"
#include "platform/readonly_linux.h"

namespace platform {
namespace {

int TranslateOpenFlags(int oflag) {
    int flags = O_CLOEXEC;
    switch (oflag & (kO_WRONLY | kO_RDWR)) {
        case kO_WRONLY:
            flags |= O_WRONLY;
            break;
        case kO_RDWR:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
    }
    if (oflag & kO_APPEND) flags |= O_APPEND;
    if (oflag & kO_CREAT) flags |= O_CREAT;
    if (oflag & kO_TRUNC) flags |= O_TRUNC;
    if (oflag & kO_EXCL) flags |= O_EXCL;
    return flags;
}

mode_t TranslatePermission(int pmode) {
    // Windows has no group or other bits: readable for all, writable only by
    // the owner, as a new file there would be.
    mode_t mode = 0444;
    if (pmode & kS_IWRITE) mode |= 0200;
    return mode;
}

}  // namespace

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened > 2) ::close(opened);  // a lower slot was free after all
    }
}

int _open(const char* path, int oflag, int pmode) {
    static const bool standardReady = (EnsureStandardDescriptors(), true);
    (void)standardReady;
    if (!CountFsOp()) return -1;
    const std::string resolved = ResolveCase(path);
    const bool writing = (oflag & (kO_WRONLY | kO_RDWR)) != 0 || (oflag & kO_TRUNC) != 0;
    struct stat st;
    const bool exists = ::stat(resolved.c_str(), &st) == 0;
    // Folders are not files to the runtime, and read-only files stay so.
    if (exists && (S_ISDIR(st.st_mode) || (writing && detail::IsReadOnly(st)))) {
        errno = EACCES;
        return -1;
    }
    detail::FolderChange change(resolved);
    int fd = ::open(resolved.c_str(), TranslateOpenFlags(oflag), TranslatePermission(pmode));
    change.Done(!exists && fd >= 0, true);
    if (fd >= 0 && fd <= 2) {
        // Someone closed a standard descriptor after start-up: never hand
        // out 0 (the cabinet engine reads it as "skip this file").
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    return fd;
}

uint32_t _read(int fd, void* buffer, uint32_t count) {
    if (!CountFsOp()) return 0xFFFFFFFFu;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 0xFFFFFFFFu;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<uint32_t>(done);
}

uint32_t _write(int fd, const void* buffer, uint32_t count) {
    if (!CountFsOp()) return 0xFFFFFFFFu;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? static_cast<uint32_t>(done) : 0xFFFFFFFFu;
        done += static_cast<size_t>(n);
    }
    return static_cast<uint32_t>(done);
}

int _close(int fd) {
    const bool allowed = CountFsOp();
    const int rc = ::close(fd);
    return allowed && rc == 0 ? 0 : -1;
}

int32_t _lseek(int fd, int32_t offset, int origin) {
    if (!CountFsOp()) return -1;
    int whence = SEEK_SET;
    if (origin == kSEEK_CUR)
        whence = SEEK_CUR;
    else if (origin == kSEEK_END)
        whence = SEEK_END;
    else if (origin != kSEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    const off_t pos = ::lseek(fd, offset, whence);
    if (pos < 0 || pos > INT32_MAX) return -1;
    return static_cast<int32_t>(pos);
}

int _access(const char* path, int mode) {
    if (!CountFsOp()) return -1;
    const std::string resolved = ResolveCase(path);
    struct stat st;
    if (::stat(resolved.c_str(), &st) != 0) return -1;
    if ((mode & kAccessWrite) && !S_ISDIR(st.st_mode) && detail::IsReadOnly(st)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

int _mkdir(const char* path) {
    if (!CountFsOp()) return -1;
    const std::string resolved = ResolveCase(path);
    detail::FolderChange change(resolved);
    const bool made = ::mkdir(resolved.c_str(), 0777) == 0;
    change.Done(made, true);
    return made ? 0 : -1;
}

int _chdir(const char* path) {
    if (!CountFsOp()) return -1;
    return ::chdir(ResolveCase(path).c_str()) == 0 ? 0 : -1;
}

int _unlink(const char* path) {
    if (!CountFsOp()) return -1;
    const std::string resolved = ResolveCase(path);
    struct stat st;
    if (::lstat(resolved.c_str(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && detail::IsReadOnly(st))) {
        errno = EACCES;
        return -1;
    }
    detail::FolderChange change(resolved);
    const bool removed = ::unlink(resolved.c_str()) == 0;
    change.Done(removed, false);
    return removed ? 0 : -1;
}

}  // namespace platform
