#include "tools/cabtool/tool_callbacks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/crt.h"

namespace cabtool {
namespace {

uint64_t g_bytesWritten = 0;
WriteObserver g_observer = nullptr;
void* g_observerContext = nullptr;

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

int OpenAnonymousTempFile() {
    const std::string folder = TempFolder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without O_TMPFILE: a named file unlinked at once.
        std::string name = folder + "/cabtool-spill-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd >= 0 && fd <= 2) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    return fd;
}

}  // namespace

void* ToolAlloc(uint32_t cb) { return std::malloc(cb); }
void ToolFree(void* pv) { std::free(pv); }

int ToolOpen(const char* pszFile, int oflag, int pmode) {
    if (pszFile == nullptr) return -1;
    if (pszFile[0] == '*' && pszFile[1] == '\0') {
        platform::EnsureStandardDescriptors();
        return OpenAnonymousTempFile();
    }
    return platform::_open(pszFile, oflag, pmode);
}

uint32_t ToolRead(int hf, void* pv, uint32_t cb) {
    if (hf == kDiscardHandle) return 0xFFFFFFFFu;
    return platform::_read(hf, pv, cb);
}

uint32_t ToolWrite(int hf, const void* pv, uint32_t cb) {
    const uint32_t written = hf == kDiscardHandle ? cb : platform::_write(hf, pv, cb);
    if (written != 0xFFFFFFFFu) g_bytesWritten += written;
    if (g_observer) g_observer(g_observerContext);
    return written;
}

int ToolClose(int hf) { return hf == kDiscardHandle ? 0 : platform::_close(hf); }

int32_t ToolSeek(int hf, int32_t dist, int seektype) {
    if (hf == kDiscardHandle) return -1;
    return platform::_lseek(hf, dist, seektype);
}

uint64_t BytesWritten() { return g_bytesWritten; }
void ResetBytesWritten() { g_bytesWritten = 0; }

void SetWriteObserver(WriteObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

}  // namespace cabtool
