// Linux side of process.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace platform {
namespace {

std::string& CommandLine() {
    static std::string value;
    return value;
}

std::string& ModuleDirOverride() {
    static std::string value;
    return value;
}

std::string& ProgramNameOverride() {
    static std::string value;
    return value;
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Where ShellExecute would find the program: a path with a folder is taken
// as it is; a bare name is looked for in the working folder, then in PATH.
std::string FindProgram(const std::string& program, const std::string& workDir) {
    if (program.find('/') != std::string::npos) return ResolveCase(program);
    const std::string local =
        ResolveCase((workDir.empty() ? std::string(".") : workDir) + "/" + program);
    // A file of that name in the folder is the program, as on Windows, even
    // when it lacks the execute bit: falling through to PATH would start some
    // other program that merely shares the name (a registered file "rm").
    struct stat st;
    if (::stat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return local;
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t colon = rest.find(':', pos);
        if (colon == std::string::npos) colon = rest.size();
        const std::string dir = rest.substr(pos, colon - pos);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        if (IsExecutableFile(candidate)) return candidate;
        pos = colon + 1;
    }
    return local;
}

std::vector<std::string> SplitOnBlanks(const std::string& text) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos) break;
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) joined += ' ';
        joined += argv[i];
    }
    CommandLine() = joined;
}

void SetCommandLine(const std::string& commandLine) {
    CommandLine() = commandLine;
}
std::string GetCommandLine() {
    return CommandLine();
}

std::string GetModuleDir() {
    if (!ModuleDirOverride().empty()) return ModuleDirOverride();
    static const std::string dir = [] {
        const std::string exe = ExecutablePath();
        const size_t slash = exe.rfind('/');
        return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
    }();
    return dir;
}

void SetModuleDirForTest(const std::string& dirWithSeparator) {
    ModuleDirOverride() = dirWithSeparator;
}

std::string ProgramName() {
    if (!ProgramNameOverride().empty()) return ProgramNameOverride();
    std::string name = ExecutablePath();
    name = name.substr(name.rfind('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

void SetProgramName(const std::string& name) {
    ProgramNameOverride() = name;
}

void Sleep(uint32_t milliseconds) {
    struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool StartProcess(const std::string& program, const std::string& parameters,
                  const std::string& workDir, bool hidden) {
    if (!ActiveFrontEnd().ProcessStarting(program, parameters, workDir, hidden)) return true;

    const std::string path = FindProgram(program, workDir);
    std::vector<std::string> words = SplitOnBlanks(parameters);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    // The grandchild runs the program, so it is never our zombie; the pipe
    // (closed by a successful exec) tells whether the exec worked.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::fork() != 0) ::_exit(0);
        int error = 0;
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) error = errno;
        if (error == 0 && hidden) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                if (null > 2) ::close(null);
            }
        }
        if (error == 0) {
            ::execv(path.c_str(), argv.data());
            error = errno;
        }
        ssize_t ignored = ::write(pipeFds[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    while ((n = ::read(pipeFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    return n == 0;
}

}  // namespace platform
