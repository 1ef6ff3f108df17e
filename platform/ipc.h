// Windows named mutexes (CreateMutexA + ERROR_ALREADY_EXISTS), top-level
// windows found by title (FindWindowA) and the blocking SendMessageA, plus
// the socket start-up (AfxSocketInit).
//
// On Linux both objects live in the per-user runtime folder (paths.h,
// RuntimeDir):
//  - a named mutex is an flock()ed file "mutex-<name>"; it "exists" while
//    any process (or another handle in this one) holds it;
//  - a window is a stream socket "wnd-<title>". The sender connects, writes
//    message, wParam and lParam (three little-endian 32-bit words) and waits
//    until the receiver answers with one 32-bit result word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

class NamedMutex {
  public:
    NamedMutex() = default;
    ~NamedMutex();  // releases (CloseHandle)
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool IsHeld() const { return m_fd >= 0; }
    void Close();

  private:
    friend NamedMutex CreateNamedMutex(const std::string& name, bool* alreadyExists);
    int m_fd = -1;
};

// CreateMutexA with initial ownership. When the mutex already exists the
// result holds nothing and *alreadyExists is true (ERROR_ALREADY_EXISTS; the
// caller "closes the handle" by dropping the result). When the runtime folder
// can't be used the result holds nothing and *alreadyExists is false.
NamedMutex CreateNamedMutex(const std::string& name, bool* alreadyExists);

inline constexpr uint32_t WM_UPDATE_RESULT = 8071;

struct WindowMessage {
    uint32_t message = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
};

// A connection to a window found by title; move-only.
class WindowHandle {
  public:
    WindowHandle() = default;
    ~WindowHandle();
    WindowHandle(WindowHandle&& other) noexcept;
    WindowHandle& operator=(WindowHandle&& other) noexcept;
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;

    const std::string& Title() const { return m_title; }

  private:
    friend std::optional<WindowHandle> FindWindowByTitle(const std::string& title);
    friend std::optional<uint32_t> SendWindowMessage(WindowHandle& window, uint32_t message,
                                                     uint32_t wParam, uint32_t lParam);
    int m_fd = -1;
    std::string m_title;
};

// FindWindowA(nullptr, title): the window when one with that title exists.
std::optional<WindowHandle> FindWindowByTitle(const std::string& title);

// SendMessageA: blocks until the window's owner has handled the message and
// returns its answer (nothing when the window went away). The message is
// reported to the active front end (ui.h) for recording. One message per
// handle: FindWindowByTitle again for the next one.
std::optional<uint32_t> SendWindowMessage(WindowHandle& window, uint32_t message, uint32_t wParam,
                                          uint32_t lParam);

// The receiving side: a window with a title that other processes can find.
class MessageWindow {
  public:
    MessageWindow() = default;
    ~MessageWindow();  // destroys the window
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Fails when the runtime folder is unusable, the title doesn't fit a
    // socket name, or a live window already has this title.
    bool Create(const std::string& title);
    void Destroy();

    // Waits up to timeoutMs (-1: forever) for the next message, answers it
    // with `answer` and returns it. Connections that close without a message
    // (a FindWindowByTitle without a send) are passed over.
    std::optional<WindowMessage> Receive(int timeoutMs, uint32_t answer = 0);

  private:
    int m_fd = -1;
    std::string m_path;
};

// AfxSocketInit: always succeeds on Linux, unless a test made it fail, in
// process (SetSocketInitFails) or across exec (MG_FAIL_SOCKET_INIT=1).
bool SocketInit();
void SetSocketInitFails(bool fails);

}  // namespace platform
