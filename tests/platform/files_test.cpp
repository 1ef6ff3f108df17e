#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/fault.h"
#include "temp_dir.h"

using namespace platform;

TEST(Files, AttributeWords) {
    TempDir dir;
    TempDir::Write(dir / "plain", "x");
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(GetFileAttributes(dir / "plain"), 0x20u) << "made by someone else: archive";
    EXPECT_EQ(GetFileAttributes(dir / "folder"), 0x10u);
    EXPECT_EQ(GetFileAttributes(dir / "missing"), INVALID_FILE_ATTRIBUTES);

    EXPECT_TRUE(SetFileAttributes(dir / "plain", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributes(dir / "PLAIN"), 0x21u);
    EXPECT_FALSE(DeleteFile(dir / "plain")) << "read-only";
    EXPECT_TRUE(SetFileAttributes(dir / "plain", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributes(dir / "plain"), 0x80u) << "no flag left: normal";
    EXPECT_TRUE(DeleteFile(dir / "plain"));
    EXPECT_FALSE(FileExists(dir / "plain"));
    EXPECT_FALSE(DeleteFile(dir / "folder")) << "folders are not files";
    EXPECT_FALSE(SetFileAttributes(dir / "missing", FILE_ATTRIBUTE_NORMAL));

    // What the cabinet client asks for (attribs & 0x27) reads back as given.
    TempDir::Write(dir / "f", "x");
    const std::pair<uint32_t, uint32_t> words[] = {{0x00, 0x80}, {0x01, 0x01}, {0x02, 0x02},
                                                   {0x22, 0x22}, {0x27, 0x27}, {0x20, 0x20},
                                                   {0x80, 0x80}, {0x81, 0x01}};
    for (const auto& [set, read] : words) {
        EXPECT_TRUE(SetFileAttributes(dir / "f", set));
        EXPECT_EQ(GetFileAttributes(dir / "f"), read) << "set " << set;
    }
    EXPECT_TRUE(SetFileAttributes(dir / "folder", 0x02));
    EXPECT_EQ(GetFileAttributes(dir / "folder"), 0x12u);
    EXPECT_TRUE(SetFileAttributes(dir / "folder", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributes(dir / "folder"), 0x10u);
}

TEST(Files, MoveFailsOnExistingTargetCopyOverwrites) {
    TempDir dir;
    TempDir::Write(dir / "a", "AAA");
    TempDir::Write(dir / "b", "B");
    EXPECT_FALSE(MoveFile(dir / "a", dir / "b"));
    EXPECT_EQ(TempDir::Read(dir / "b"), "B");
    EXPECT_TRUE(MoveFile(dir / "a", dir / "c"));
    EXPECT_FALSE(FileExists(dir / "a"));
    EXPECT_FALSE(MoveFile(dir / "a", dir / "d")) << "source gone";

    // Read-only files can be moved (the backup step relies on it only after
    // clearing the flag, but Windows allows it too).
    SetFileAttributes(dir / "c", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(MoveFile(dir / "c", dir / "a"));
    EXPECT_EQ(GetFileAttributes(dir / "a"), 0x01u) << "read-only alone";

    EXPECT_TRUE(CopyFile(dir / "a", dir / "b", false));
    EXPECT_EQ(TempDir::Read(dir / "b"), "AAA");
    EXPECT_EQ(GetFileAttributes(dir / "b"), 0x01u) << "attributes travel with the copy";
    EXPECT_FALSE(CopyFile(dir / "a", dir / "b", false)) << "target read-only";
    SetFileAttributes(dir / "b", FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(CopyFile(dir / "a", dir / "b", true)) << "failIfExists";
    TempDir::Write(dir / "a2", "longer content");
    EXPECT_TRUE(CopyFile(dir / "a2", dir / "b", false));
    EXPECT_EQ(TempDir::Read(dir / "b"), "longer content");
    SetFileAttributes(dir / "a", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(CopyFile(dir / "a", dir / "b", false));
    EXPECT_EQ(GetFileAttributes(dir / "b"), 0x02u);
    EXPECT_TRUE(MoveFile(dir / "b", dir / "moved"));
    EXPECT_EQ(GetFileAttributes(dir / "moved"), 0x02u) << "a move keeps them";
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "x", false));
    EXPECT_FALSE(FileExists(dir / "x"));
}

TEST(Files, ListingSortedIgnoringCaseWithAttributes) {
    TempDir dir;
    TempDir::Write(dir / "list/beta.txt", "");
    TempDir::Write(dir / "list/Alpha.txt", "");
    TempDir::Write(dir / "list/ro", "");
    SetFileAttributes(dir / "list/ro", FILE_ATTRIBUTE_READONLY);
    std::filesystem::create_directory(dir / "list/Gamma");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(ListDirectory(dir / "LIST", entries));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "Alpha.txt");
    EXPECT_EQ(entries[1].name, "beta.txt");
    EXPECT_EQ(entries[2].name, "Gamma");
    EXPECT_EQ(entries[2].attributes, 0x10u);
    EXPECT_EQ(entries[3].name, "ro");
    EXPECT_EQ(entries[3].attributes, 0x01u);
    EXPECT_EQ(entries[0].attributes, 0x20u);

    ASSERT_TRUE(ListDirectory(dir / "list", entries, true));
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].name, ".");
    EXPECT_EQ(entries[1].name, "..");
    EXPECT_FALSE(ListDirectory(dir / "missing", entries));
    EXPECT_TRUE(entries.empty());
}

TEST(Files, CreateDirectoryOneLevel) {
    TempDir dir;
    EXPECT_TRUE(CreateDirectory(dir / "new"));
    EXPECT_FALSE(CreateDirectory(dir / "new")) << "exists";
    EXPECT_FALSE(CreateDirectory(dir / "a/b")) << "parent missing";
    EXPECT_TRUE(CreateDirectory(dir / "NEW/Child"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new/Child"));
}

TEST(Files, DeleteTreeRemovesReadOnlyEntriesAndNeverFollowsLinks) {
    TempDir dir;
    TempDir::Write(dir / "outside/keep.txt", "precious");
    TempDir::Write(dir / "tree/a/b/file", "x");
    TempDir::Write(dir / "tree/ro", "x");
    SetFileAttributes(dir / "tree/ro", FILE_ATTRIBUTE_READONLY);
    ::chmod((dir / "tree/a/b").c_str(), 0500);
    std::filesystem::create_directory_symlink(dir / "outside", dir / "tree/a/link");
    std::filesystem::create_symlink(dir / "outside/keep.txt", dir / "tree/filelink");

    EXPECT_TRUE(DeleteTree(dir / "tree"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tree"));
    EXPECT_EQ(TempDir::Read(dir / "outside/keep.txt"), "precious");

    // A link given as the tree itself is removed as a link.
    std::filesystem::create_directory_symlink(dir / "outside", dir / "linkroot");
    EXPECT_TRUE(DeleteTree(dir / "linkroot"));
    EXPECT_TRUE(std::filesystem::exists(dir / "outside/keep.txt"));

    TempDir::Write(dir / "single", "x");
    EXPECT_TRUE(DeleteTree(dir / "single"));
    EXPECT_FALSE(DeleteTree(dir / "single")) << "nothing there";
}

TEST(Files, DosTimeIsLocalTime) {
    TempDir dir;
    TempDir::Write(dir / "f", "x");
    // 2011-09-14 13:45:30: date (31 << 9) | (9 << 5) | 14, time (13 << 11) | (45 << 5) | 15.
    const uint16_t date = static_cast<uint16_t>((31 << 9) | (9 << 5) | 14);
    const uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | 15);
    struct stat before;
    ::stat((dir / "f").c_str(), &before);
    ASSERT_TRUE(SetFileTimeFromDos(dir / "f", date, time));
    struct tm local = {};
    local.tm_year = 111;
    local.tm_mon = 8;
    local.tm_mday = 14;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    struct stat after;
    ::stat((dir / "f").c_str(), &after);
    EXPECT_EQ(after.st_mtime, ::mktime(&local));
    EXPECT_EQ(after.st_atime, before.st_atime) << "access time untouched";

    const uint16_t feb29_2011 = static_cast<uint16_t>((31 << 9) | (2 << 5) | 29);
    const uint16_t feb29_2012 = static_cast<uint16_t>((32 << 9) | (2 << 5) | 29);
    EXPECT_FALSE(SetFileTimeFromDos(dir / "f", feb29_2011, 0));
    EXPECT_TRUE(SetFileTimeFromDos(dir / "f", feb29_2012, 0));
    EXPECT_FALSE(SetFileTimeFromDos(dir / "f", 0, 0)) << "month 0";
    EXPECT_FALSE(SetFileTimeFromDos(dir / "f", date, static_cast<uint16_t>(24 << 11)));
    EXPECT_FALSE(SetFileTimeFromDos(dir / "f", date, static_cast<uint16_t>(60 << 5)));
    EXPECT_FALSE(SetFileTimeFromDos(dir / "f", date, 30));
    EXPECT_FALSE(SetFileTimeFromDos(dir / "missing", date, time));
}

TEST(Files, SystemDirectoryFromEnvironment) {
    ::setenv("MG_SYSTEM_DIR", "/opt/sys/", 1);
    EXPECT_EQ(GetSystemDirectory(), "/opt/sys");
    ::unsetenv("MG_SYSTEM_DIR");
    EXPECT_FALSE(GetSystemDirectory().empty());
}

TEST(Files, EveryOperationGoesThroughTheFaultCounter) {
    TempDir dir;
    TempDir::Write(dir / "a", "x");
    std::vector<DirEntry> entries;
    FailFsOpAt(1);
    EXPECT_FALSE(FileExists(dir / "a"));
    FailFsOpAt(1);
    EXPECT_EQ(GetFileAttributes(dir / "a"), INVALID_FILE_ATTRIBUTES);
    FailFsOpAt(1);
    EXPECT_FALSE(CopyFile(dir / "a", dir / "b", false));
    FailFsOpAt(1);
    EXPECT_FALSE(MoveFile(dir / "a", dir / "b"));
    FailFsOpAt(1);
    EXPECT_FALSE(ListDirectory(dir.Path(), entries));
    FailFsOpAt(1);
    EXPECT_FALSE(DeleteTree(dir / "a"));
    FailFsOpAt(1);
    EXPECT_FALSE(DeleteFile(dir / "a"));
    EXPECT_TRUE(FileExists(dir / "a")) << "the failed calls did nothing";
    EXPECT_FALSE(FileExists(dir / "b"));
    EXPECT_EQ(FsOpCount(), 3u);
    FailFsOpAt(0);
}

TEST(Files, LookupAfterMovesCopiesAndTreeDeletes) {
    TempDir dir;
    TempDir::Write(dir / "Game.dll", "x");
    ASSERT_TRUE(MoveFile(dir / "game.DLL", dir / "Game.dll1316000000"));
    EXPECT_FALSE(FileExists(dir / "GAME.DLL"));
    EXPECT_TRUE(FileExists(dir / "game.dll1316000000"));
    ASSERT_TRUE(CopyFile(dir / "GAME.DLL1316000000", dir / "Game.dll", false));
    EXPECT_TRUE(FileExists(dir / "game.dll"));
    ASSERT_TRUE(CreateDirectory(dir / "Tree"));
    ASSERT_TRUE(CreateDirectory(dir / "TREE/Inner"));
    TempDir::Write(dir / "Tree/Inner/f", "x");
    EXPECT_TRUE(FileExists(dir / "tree/inner/F"));
    ASSERT_TRUE(DeleteTree(dir / "tree"));
    EXPECT_FALSE(FileExists(dir / "TREE"));
    EXPECT_FALSE(FileExists(dir / "tree/inner"));
    ASSERT_TRUE(CreateDirectory(dir / "tree"));
    EXPECT_TRUE(FileExists(dir / "TREE")) << "a new folder of the same name is found";
    EXPECT_FALSE(FileExists(dir / "tree/inner"));
}
