// Linux side of ipc.h: flock()ed files as named mutexes, Unix stream sockets
// as result windows, both in the per-user runtime folder.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ipc.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace platform {
namespace {

std::atomic<bool> g_socketInitFails{false};

// Names of Windows objects may hold any character but '\'; keep file names
// flat by replacing '/' too.
std::string ObjectPath(const char* prefix, const std::string& name) {
    const std::string dir = RuntimeDir();
    if (dir.empty()) return {};
    std::string flat = name;
    for (char& c : flat) {
        if (c == '/' || c == '\\') c = '_';
    }
    return dir + "/" + prefix + flat;
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

int ConnectTo(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void PutWord(unsigned char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetWord(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

}  // namespace

NamedMutex::~NamedMutex() {
    Close();
}

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void NamedMutex::Close() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    m_fd = -1;
}

NamedMutex CreateNamedMutex(const std::string& name, bool* alreadyExists) {
    *alreadyExists = false;
    NamedMutex result;
    const std::string path = ObjectPath("mutex-", name);
    if (path.empty()) return result;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return result;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *alreadyExists = errno == EWOULDBLOCK;
        ::close(fd);
        return result;
    }
    result.m_fd = fd;
    return result;
}

WindowHandle::~WindowHandle() {
    if (m_fd >= 0) ::close(m_fd);
}

WindowHandle::WindowHandle(WindowHandle&& other) noexcept
    : m_fd(other.m_fd), m_title(std::move(other.m_title)) {
    other.m_fd = -1;
}

WindowHandle& WindowHandle::operator=(WindowHandle&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_title = std::move(other.m_title);
        other.m_fd = -1;
    }
    return *this;
}

std::optional<WindowHandle> FindWindowByTitle(const std::string& title) {
    const int fd = ConnectTo(ObjectPath("wnd-", title));
    if (fd < 0) return std::nullopt;
    WindowHandle handle;
    handle.m_fd = fd;
    handle.m_title = title;
    return handle;
}

std::optional<uint32_t> SendWindowMessage(WindowHandle& window, uint32_t message, uint32_t wParam,
                                          uint32_t lParam) {
    if (window.m_fd < 0) return std::nullopt;
    ActiveFrontEnd().WindowMessageSent(window.m_title, message, wParam, lParam);
    unsigned char packet[12];
    PutWord(packet, message);
    PutWord(packet + 4, wParam);
    PutWord(packet + 8, lParam);
    unsigned char answer[4];
    const bool ok =
        WriteAll(window.m_fd, packet, sizeof packet) && ReadAll(window.m_fd, answer, sizeof answer);
    ::close(window.m_fd);
    window.m_fd = -1;
    if (!ok) return std::nullopt;
    return GetWord(answer);
}

MessageWindow::~MessageWindow() {
    Destroy();
}

bool MessageWindow::Create(const std::string& title) {
    Destroy();
    const std::string path = ObjectPath("wnd-", title);
    sockaddr_un address;
    if (!MakeAddress(path, address)) return false;
    const int live = ConnectTo(path);
    if (live >= 0) {  // someone owns this title
        ::close(live);
        return false;
    }
    ::unlink(path.c_str());  // left behind by a window that died
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

void MessageWindow::Destroy() {
    if (m_fd < 0) return;
    ::close(m_fd);
    ::unlink(m_path.c_str());
    m_fd = -1;
    m_path.clear();
}

std::optional<WindowMessage> MessageWindow::Receive(int timeoutMs, uint32_t answer) {
    if (m_fd < 0) return std::nullopt;
    for (;;) {
        pollfd waiting = {m_fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        const int peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) continue;
        unsigned char packet[12];
        if (!ReadAll(peer, packet, sizeof packet)) {  // looked up, never sent
            ::close(peer);
            continue;
        }
        WindowMessage message{GetWord(packet), GetWord(packet + 4), GetWord(packet + 8)};
        unsigned char reply[4];
        PutWord(reply, answer);
        WriteAll(peer, reply, sizeof reply);
        ::close(peer);
        return message;
    }
}

bool SocketInit() {
    if (g_socketInitFails.load()) return false;
    const char* value = std::getenv("MG_FAIL_SOCKET_INIT");
    return value == nullptr || std::strcmp(value, "1") != 0;
}

void SetSocketInitFails(bool fails) {
    g_socketInitFails = fails;
}

}  // namespace platform
