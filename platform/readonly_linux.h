// Windows' read-only attribute on Linux: the owner write bit. Root ignores
// permission bits, so the operations that Windows refuses on a read-only file
// check it themselves.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform::detail {

inline bool IsReadOnly(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// True when path exists, is not a folder and is read-only.
inline bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && IsReadOnly(st);
}

}  // namespace platform::detail
