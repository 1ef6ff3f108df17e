#include "cabclient/output_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "temp_dir.h"

namespace {

using cabtest::Exists;
using cabtest::ReadFile;
using cabtest::TempDir;
using cabtest::WriteFile;

std::string WriteThrough(cabclient::OutputTree& tree, const std::vector<std::string>& parts,
                         const std::string& bytes) {
    std::string error;
    const int fd = tree.CreateFile(parts, error);
    if (fd < 0) return error.empty() ? "failed without a reason" : error;
    EXPECT_GT(fd, 2);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    return {};
}

TEST(OutputTree, CreatesTheDestinationAndSubfolders) {
    TempDir tmp;
    // Trailing separators of any kind name the same folder.
    for (const char* suffix : {"", "/", "//", "\\", "\\\\/"}) {
        cabclient::OutputTree tree(tmp / "out" + suffix);
        EXPECT_EQ(tree.OutputPath({"a", "b.txt"}), tmp / "out/a/b.txt");
    }
    cabclient::OutputTree tree(tmp / "new/deeper/out/");
    ASSERT_EQ(WriteThrough(tree, {"pkg", "sub", "f.txt"}, "hello"), "");
    EXPECT_EQ(ReadFile(tmp / "new/deeper/out/pkg/sub/f.txt"), "hello");
}

TEST(OutputTree, TruncatesAnExistingFile) {
    TempDir tmp;
    WriteFile(tmp / "f.txt", "a much longer old content");
    cabclient::OutputTree tree(tmp.Path());
    ASSERT_EQ(WriteThrough(tree, {"f.txt"}, "new"), "");
    EXPECT_EQ(ReadFile(tmp / "f.txt"), "new");
}

TEST(OutputTree, RefusesAnExistingReadOnlyFileEvenForRoot) {
    TempDir tmp;
    WriteFile(tmp / "ro.txt", "keep");
    ::chmod((tmp / "ro.txt").c_str(), 0444);
    cabclient::OutputTree tree(tmp.Path());
    EXPECT_NE(WriteThrough(tree, {"ro.txt"}, "x"), "");
    EXPECT_EQ(ReadFile(tmp / "ro.txt"), "keep");
}

TEST(OutputTree, NeverFollowsSymbolicLinks) {
    TempDir tmp;
    TempDir outside;
    ::mkdir((tmp / "dest").c_str(), 0755);
    ASSERT_EQ(::symlink(outside.Path().c_str(), (tmp / "dest/link").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "target.txt").c_str(), (tmp / "dest/leaf.txt").c_str()), 0);
    WriteFile(outside / "target.txt", "untouched");

    cabclient::OutputTree tree(tmp / "dest");
    EXPECT_NE(WriteThrough(tree, {"link", "evil.txt"}, "x"), "");
    EXPECT_NE(WriteThrough(tree, {"LINK", "evil.txt"}, "x"), "");  // found without regard to case
    EXPECT_NE(WriteThrough(tree, {"leaf.txt"}, "x"), "");
    EXPECT_FALSE(Exists(outside / "evil.txt"));
    EXPECT_EQ(ReadFile(outside / "target.txt"), "untouched");
}

TEST(OutputTree, FindsExistingNamesWithoutRegardToCase) {
    TempDir tmp;
    cabclient::OutputTree tree(tmp.Path());
    ASSERT_EQ(WriteThrough(tree, {"Bin", "a.dll"}, "a"), "");
    ASSERT_EQ(WriteThrough(tree, {"bin", "b.dll"}, "b"), "");
    ASSERT_EQ(WriteThrough(tree, {"BIN", "A.DLL"}, "second"), "");
    EXPECT_EQ(ReadFile(tmp / "Bin/a.dll"), "second");
    EXPECT_EQ(ReadFile(tmp / "Bin/b.dll"), "b");
    EXPECT_FALSE(Exists(tmp / "bin"));
}

TEST(OutputTree, LongPathsAreNotCutAt260Bytes) {
    TempDir tmp;
    std::string dest = tmp.Path();
    while (dest.size() < 250) dest += "/d123456789";
    cabclient::OutputTree tree(dest);
    // A stored name of 255 characters: folders of 50 and a file name.
    std::vector<std::string> parts(4, std::string(50, 'f'));
    parts.push_back(std::string(255 - 4 * 51, 'n'));
    ASSERT_EQ(WriteThrough(tree, parts, "deep"), "");
    EXPECT_EQ(ReadFile(tree.OutputPath(parts)), "deep");
    EXPECT_GT(tree.OutputPath(parts).size(), 500u);
}

TEST(OutputTree, RefusesAFolderOrSpecialFileInTheWay) {
    TempDir tmp;
    ::mkdir((tmp / "dir").c_str(), 0755);
    ::mkfifo((tmp / "fifo").c_str(), 0644);
    WriteFile(tmp / "file", "x");
    cabclient::OutputTree tree(tmp.Path());
    EXPECT_NE(WriteThrough(tree, {"dir"}, "x"), "");
    EXPECT_NE(WriteThrough(tree, {"fifo"}, "x"), "");
    EXPECT_NE(WriteThrough(tree, {"file", "inner"}, "x"), "");
}

}  // namespace
