#include "cabclient/file_finish.h"

#include <sys/stat.h>

#include <ctime>

#include "cabclient/dos_time.h"
#include "fdi/fdi.h"

namespace cabclient {
namespace {

mode_t ProcessUmask() {
    static const mode_t mask = [] {
        const mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    return mask;
}

}  // namespace

FinishResult FinishOutputFile(int fd, uint16_t dosDate, uint16_t dosTime, uint16_t attribs,
                              bool runAfterExtract) {
    FinishResult result;
    std::time_t when = 0;
    if (DosDateTimeToUnix(dosDate, dosTime, when)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;  // the access time is left alone
        times[1].tv_sec = when;
        times[1].tv_nsec = 0;
        result.timeSet = ::futimens(fd, times) == 0;
    }
    mode_t mode = 0666 & ~ProcessUmask();
    if ((attribs & kKeptAttributes) & _A_RDONLY) mode &= static_cast<mode_t>(~0222);
    if (runAfterExtract) mode |= (mode & 0444) >> 2;
    result.attributesSet = ::fchmod(fd, mode) == 0;
    return result;
}

}  // namespace cabclient
