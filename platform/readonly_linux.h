// Windows' read-only attribute on Linux: the owner write bit. Root ignores
// permission bits, so the operations that Windows refuses on a read-only file
// check it themselves.
#pragma once

#include <sys/stat.h>

namespace platform::detail {

inline bool IsReadOnly(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

}  // namespace platform::detail
