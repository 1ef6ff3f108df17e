// Writing one file from its folder's decoded blocks to the client's handle.
#include <algorithm>

#include "fdi/context.h"

namespace fdi {

namespace {

bool WriteFileBytes(Context& c) {
    uint64_t position = FileOffset(c);
    uint64_t left = FileSize(c);
    if (c.blockStart > position) {
        // The file starts before the block in the buffer: decode its folder
        // again from the start. After following a folder into this cabinet
        // its start is out of reach.
        if (c.spanned) return Fail(c, FDIERROR_CORRUPT_CABINET);
        c.currentFolder = kNoFolder;
    }
    if (!EnterFolder(c, FileFolder(c))) return false;
    if (c.blockStart > position) return Fail(c, FDIERROR_CORRUPT_CABINET);
    while (c.blockStart + c.blockUncompressed <= position)
        if (!NextDataBlock(c)) return false;
    for (;;) {
        uint64_t offset = position - c.blockStart;
        uint32_t count = uint32_t(std::min<uint64_t>(c.blockUncompressed - offset, left));
        if (c.write(c.targetHandle, c.decoded + offset, count) != count) return Fail(c, FDIERROR_TARGET_FILE);
        position += count;
        left -= count;
        if (left == 0) return true;
        if (!NextDataBlock(c)) return false;
    }
}

}  // namespace

bool ExtractFile(Context& c) {
    if (FileSize(c) != 0 && !WriteFileBytes(c)) {
        c.close(c.targetHandle);
        c.targetHandle = -1;
        return false;
    }
    FDINOTIFICATION& n = c.notification;
    uint16_t attribs = FileAttribs(c);
    n.psz1 = c.fileName;
    n.hf = c.targetHandle;
    n.date = FileDate(c);
    n.time = FileTime(c);
    n.iFolder = FileFolder(c);
    n.cb = (attribs & _A_EXEC) ? 1 : 0;
    n.attribs = uint16_t(attribs & ~_A_EXEC);
    intptr_t result = 0;
    bool notified = Notify(c, fdintCLOSE_FILE_INFO, &result);
    if (!notified) c.close(c.targetHandle);  // -1: the client left the handle to us
    c.targetHandle = -1;
    if (!notified) return false;
    return result != 0 || Fail(c, FDIERROR_TARGET_FILE);
}

}  // namespace fdi
