#include "platform/crt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/fault.h"
#include "temp_dir.h"

using namespace platform;

namespace {

bool IsCloseOnExec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

}  // namespace

TEST(Crt, ExtractorFlagsCreateWriteSeekAndRead) {
    TempDir dir;
    const std::string path = dir / "out.bin";
    // 0x8121 / 0x180: how the cabinet client creates an output file.
    const int out = _open(path.c_str(), 0x8121, 0x180);
    ASSERT_GE(out, 3);
    EXPECT_TRUE(IsCloseOnExec(out));
    EXPECT_EQ(_write(out, "hello world", 11), 11u);
    EXPECT_EQ(_close(out), 0);
    EXPECT_EQ(ModeOf(path) & 0200, 0200u);

    // 0x8000 read-only binary; 0x8020 adds the sequential hint.
    for (int flags : {0x8000, 0x8020}) {
        const int in = _open(path.c_str(), flags, 0);
        ASSERT_GE(in, 3);
        EXPECT_EQ(_lseek(in, 6, kSEEK_SET), 6);
        char buffer[16] = {};
        EXPECT_EQ(_read(in, buffer, sizeof buffer), 5u);
        EXPECT_STREQ(buffer, "world");
        EXPECT_EQ(_lseek(in, -2, kSEEK_END), 9);
        EXPECT_EQ(_lseek(in, 0, 7), -1) << "unknown origin";
        EXPECT_EQ(_write(in, "x", 1), 0xFFFFFFFFu) << "opened for reading only";
        EXPECT_EQ(_close(in), 0);
    }
    EXPECT_EQ(_open((dir / "missing").c_str(), 0x8000, 0), -1);
    EXPECT_EQ(_open(dir.Path().c_str(), 0x8000, 0), -1) << "a folder is not a file";
}

TEST(Crt, CreateWithoutTruncateKeepsTailOfLongerFile) {
    TempDir dir;
    const std::string path = dir / "f";
    TempDir::Write(path, "0123456789");
    const int fd = _open(path.c_str(), 0x8121, 0x180);
    ASSERT_GE(fd, 3);
    _write(fd, "ab", 2);
    _close(fd);
    EXPECT_EQ(TempDir::Read(path), "ab23456789");
    const int truncating = _open(path.c_str(), kO_BINARY | kO_WRONLY | kO_CREAT | kO_TRUNC, 0x180);
    ASSERT_GE(truncating, 3);
    _close(truncating);
    EXPECT_EQ(TempDir::Read(path), "");
}

TEST(Crt, ReadOnlyFilesRefuseWritingAndUnlinkEvenForRoot) {
    TempDir dir;
    const std::string path = dir / "ro.txt";
    // Permission 0x100 alone creates a read-only file; the open handle can
    // still be written, as on Windows.
    const int fd = _open(path.c_str(), 0x8121, 0x100);
    ASSERT_GE(fd, 3);
    EXPECT_EQ(_write(fd, "data", 4), 4u);
    _close(fd);
    EXPECT_EQ(ModeOf(path) & 0222, 0u);

    EXPECT_EQ(_open(path.c_str(), 0x8121, 0x180), -1);
    EXPECT_EQ(_open(path.c_str(), kO_RDWR, 0), -1);
    EXPECT_GE(_close(_open(path.c_str(), 0x8000, 0)), 0) << "reading stays allowed";
    EXPECT_EQ(_access(path.c_str(), kAccessExists), 0);
    EXPECT_EQ(_access(path.c_str(), kAccessWrite), -1);
    EXPECT_EQ(_unlink(path.c_str()), -1);
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(_unlink(path.c_str()), 0);
    EXPECT_EQ(_access(path.c_str(), kAccessExists), -1);
}

TEST(Crt, FolderOperations) {
    TempDir dir;
    const std::string sub = dir / "Sub";
    EXPECT_EQ(_mkdir(sub.c_str()), 0);
    EXPECT_EQ(_mkdir(sub.c_str()), -1) << "exists";
    EXPECT_EQ(_mkdir((dir / "no/such").c_str()), -1) << "one level at a time";
    EXPECT_EQ(_unlink(sub.c_str()), -1) << "folders are not unlinked";

    char before[4096];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    EXPECT_EQ(_chdir((dir / "SUB").c_str()), 0) << "found ignoring case";
    char now[4096];
    ASSERT_NE(::getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(std::string(now), std::filesystem::canonical(sub).string());
    EXPECT_EQ(_chdir((dir / "nowhere").c_str()), -1);
    ASSERT_EQ(::chdir(before), 0);
}

TEST(Crt, NeverHandsOutStandardDescriptors) {
    TempDir dir;
    TempDir::Write(dir / "f", "x");
    const int savedIn = ::dup(0);
    ::close(0);
    const int fd = _open((dir / "f").c_str(), 0x8000, 0);
    EXPECT_GE(fd, 3);
    _close(fd);
    EnsureStandardDescriptors();
    EXPECT_NE(::fcntl(0, F_GETFD), -1) << "descriptor 0 exists again";
    ::dup2(savedIn, 0);
    ::close(savedIn);
}

TEST(Crt, CaseInsensitiveLookupWhenUniqueNewNamesKeepCase) {
    TempDir dir;
    TempDir::Write(dir / "Data/File.TXT", "content");
    const std::string other = dir / "data/file.txt";
    const int fd = _open(other.c_str(), 0x8000, 0);
    ASSERT_GE(fd, 3);
    char buffer[8] = {};
    EXPECT_EQ(_read(fd, buffer, 7), 7u);
    _close(fd);

    // Writing through another spelling reaches the same file, no new one.
    const int w = _open((dir / "DATA/FILE.txt").c_str(), 0x8121 | kO_TRUNC, 0x180);
    ASSERT_GE(w, 3);
    _write(w, "new", 3);
    _close(w);
    EXPECT_EQ(TempDir::Read(dir / "Data/File.TXT"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir / "DATA"));

    // A new name inside an existing folder of another spelling keeps its case.
    const int n = _open((dir / "DATA/New.Name").c_str(), 0x8121, 0x180);
    ASSERT_GE(n, 3);
    _close(n);
    EXPECT_TRUE(std::filesystem::exists(dir / "Data/New.Name"));

    // Two candidates and no exact match: nothing is found.
    TempDir::Write(dir / "Twin", "1");
    TempDir::Write(dir / "TWIN", "2");
    EXPECT_EQ(_access((dir / "twin").c_str(), kAccessExists), -1);
    EXPECT_EQ(_access((dir / "Twin").c_str(), kAccessExists), 0);
}

TEST(Fault, NthOperationFailsAndOperationsAreCounted) {
    TempDir dir;
    const std::string path = dir / "f";
    FailFsOpAt(2);
    const int fd = _open(path.c_str(), 0x8121, 0x180);  // 1
    ASSERT_GE(fd, 3);
    EXPECT_EQ(_write(fd, "abc", 3), 0xFFFFFFFFu);  // 2: injected
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(_write(fd, "abc", 3), 3u);  // 3
    EXPECT_EQ(_close(fd), 0);             // 4
    EXPECT_EQ(FsOpCount(), 4u);
    EXPECT_EQ(TempDir::Read(path), "abc");

    // An injected close still releases the descriptor.
    FailFsOpAt(2);
    const int again = _open(path.c_str(), 0x8000, 0);
    EXPECT_EQ(_close(again), -1);
    EXPECT_EQ(::fcntl(again, F_GETFD), -1);
    FailFsOpAt(0);
}

TEST(Fault, ArmedFromEnvironment) {
    TempDir dir;
    ::setenv("MG_FAIL_FS_OP", "1", 1);
    ArmFsFaultFromEnvironment();
    ::unsetenv("MG_FAIL_FS_OP");
    EXPECT_EQ(_mkdir((dir / "a").c_str()), -1);
    EXPECT_EQ(_mkdir((dir / "a").c_str()), 0);
    FailFsOpAt(0);
}

TEST(Crt, LookupSeesChangesByOthersAndByItself) {
    TempDir dir;
    // Our own creation in a folder whose listing is kept...
    const int fd = _open((dir / "Own.Dat").c_str(), 0x8121, 0x180);
    ASSERT_GE(fd, 3);
    _close(fd);
    EXPECT_EQ(_access((dir / "OWN.DAT").c_str(), kAccessExists), 0);
    // ...then changes by someone else are seen at once.
    TempDir::Write(dir / "Ext.TXT", "x");
    EXPECT_EQ(_access((dir / "ext.txt").c_str(), kAccessExists), 0);
    TempDir::Write(dir / "EXT.txt", "y");
    EXPECT_EQ(_access((dir / "ext.txt").c_str(), kAccessExists), -1) << "now ambiguous";
    std::filesystem::remove(dir / "Ext.TXT");
    EXPECT_EQ(_access((dir / "ext.txt").c_str(), kAccessExists), 0) << "unique again";

    // Our own removals and renames keep the kept listing right.
    EXPECT_EQ(_unlink((dir / "own.dat").c_str()), 0);
    EXPECT_EQ(_access((dir / "OWN.DAT").c_str(), kAccessExists), -1);
    EXPECT_EQ(_mkdir((dir / "Sub").c_str()), 0);
    EXPECT_EQ(_access((dir / "SUB").c_str(), kAccessExists), 0);
    EXPECT_EQ(_access((dir / "sub/x").c_str(), kAccessExists), -1);
}
