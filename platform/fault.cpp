#include "platform/fault.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {
std::atomic<uint64_t> g_count{0};
std::atomic<uint64_t> g_failAt{0};
}  // namespace

bool CountFsOp() {
    const uint64_t n = ++g_count;
    if (n == g_failAt.load()) {
        errno = EIO;
        return false;
    }
    return true;
}

void FailFsOpAt(uint64_t n) {
    g_count = 0;
    g_failAt = n;
}

uint64_t FsOpCount() {
    return g_count.load();
}
void ResetFsOpCount() {
    g_count = 0;
}

void ArmFsFaultFromEnvironment() {
    const char* value = std::getenv("MG_FAIL_FS_OP");
    if (value == nullptr || *value == '\0') return;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(value, &end, 10);
    if (end != nullptr && *end == '\0') FailFsOpAt(n);
}

}  // namespace platform
