#include "update_fixture.h"
#include "update/file_ops.h"

namespace {

class ReplaceStep : public UpdateFixture {
protected:
    int LoadAndBackUp() {
        int r = steps_.LoadManifest();
        if (r == 0) r = steps_.BackupTargets();
        return r;
    }
    int LoadBackUpInstall() {
        int r = LoadAndBackUp();
        if (r == 0) r = steps_.InstallFiles();
        return r;
    }
    bool AnyBackupLeft() const {
        for (const auto& item : fs::recursive_directory_iterator(install_)) {
            if (item.path().filename().string().find("1316000000") != std::string::npos) return true;
        }
        return false;
    }
};

TEST_F(ReplaceStep, InstallsNewAndReplacedFilesAndDropsTheBackups) {
    AddPackageFile("Game.dll", "new game");
    AddPackageFile("Plugins/New/a.dll", "new a");
    AddPackageFile("ro.dat", "new ro");
    AddInstalledFile("Game.dll", "old game");
    AddInstalledFile("ro.dat", "old ro", true);
    WriteManifest(MakeManifest({{"\\", "Game.dll"}, {"\\Plugins\\New\\", "a.dll"}, {"\\", "ro.dat"}}));

    ASSERT_EQ(LoadBackUpInstall(), UPDATE_OK);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(ReadFile(install_ / "Game.dll"), "new game");
    EXPECT_EQ(ReadFile(install_ / "Plugins/New/a.dll"), "new a");
    EXPECT_EQ(ReadFile(install_ / "ro.dat"), "new ro");
    // The new file takes what the copy gives it: the package file is writable.
    EXPECT_FALSE(IsReadOnlyOnDisk(install_ / "ro.dat"));
    EXPECT_FALSE(AnyBackupLeft());
    // The package itself is left as it was.
    EXPECT_EQ(ReadFile(package_ / "Game.dll"), "new game");
}

TEST_F(ReplaceStep, ReplacesInstalledFilesWhateverTheCaseOfTheirNames) {
    AddPackageFile("plugins/a.dll", "new a");
    AddInstalledFile("Plugins/A.DLL", "old a");
    WriteManifest(MakeManifest({{"\\plugins\\", "a.dll"}}));
    ASSERT_EQ(LoadBackUpInstall(), UPDATE_OK);
    // One file, in the existing folder; as on Windows the new file takes the
    // manifest's spelling, since the old one was moved aside first.
    EXPECT_EQ(Snapshot(install_), (std::map<std::string, std::string>{{"Plugins/a.dll", "new a"}}));
}

TEST_F(ReplaceStep, EnsureFolderExistsCreatesEachLevel) {
    const fs::path target = install_ / "Plugins" / "New" / "a.dll";
    EXPECT_TRUE(EnsureFolderExists(target.string()));
    EXPECT_TRUE(fs::is_directory(install_ / "Plugins" / "New"));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(EnsureFolderExists(target.string()));  // already there
    EXPECT_FALSE(EnsureFolderExists("no-separator.dll"));
    WriteFile(install_ / "file", "x");
    EXPECT_FALSE(EnsureFolderExists((install_ / "file" / "sub" / "a.dll").string()));
}

TEST_F(ReplaceStep, CopyKeepsTheAttributeWordsOfBothFiles) {
    WriteFile(root_ / "src", "new");
    WriteFile(root_ / "dst", "old");
    SetReadOnlyOnDisk(root_ / "src", true);
    SetReadOnlyOnDisk(root_ / "dst", true);
    ASSERT_TRUE(CopyFileKeepAttributes((root_ / "src").string(), (root_ / "dst").string()));
    EXPECT_EQ(ReadFile(root_ / "dst"), "new");
    EXPECT_TRUE(IsReadOnlyOnDisk(root_ / "src"));
    EXPECT_TRUE(IsReadOnlyOnDisk(root_ / "dst"));
    EXPECT_FALSE(CopyFileKeepAttributes((root_ / "nothing").string(), (root_ / "dst2").string()));
    EXPECT_FALSE(fs::exists(root_ / "dst2"));
    EXPECT_TRUE(FileExists((root_ / "src").string()));
    EXPECT_FALSE(FileExists((root_ / "nothing").string()));
}

TEST_F(ReplaceStep, TargetThatCannotBeMovedAsideUndoesTheEarlierMoves) {
    AddPackageFile("a.dll", "new a");
    AddPackageFile("b.dll", "new b");
    AddPackageFile("c.dll", "new c");
    AddInstalledFile("a.dll", "old a", true);
    AddInstalledFile("b.dll", "old b");
    AddInstalledFile("c.dll", "old c");
    // Something already holds b.dll's backup name, so b.dll can't be moved there.
    AddInstalledFile("b.dll1316000000", "blocker");
    WriteManifest(MakeManifest({{"\\", "a.dll"}, {"\\", "b.dll"}, {"\\", "c.dll"}}));

    EXPECT_EQ(LoadAndBackUp(), UPDATE_ERROR);
    EXPECT_EQ(Messages(), std::vector<std::string>{"文件" + (install_ / "b.dll").string() +
                                                   "无法更新,如果Game正在运行,请先关闭!"});
    EXPECT_EQ(ReadFile(install_ / "a.dll"), "old a");
    EXPECT_FALSE(IsReadOnlyOnDisk(install_ / "a.dll"));  // comes back normal
    EXPECT_EQ(ReadFile(install_ / "b.dll"), "old b");
    EXPECT_EQ(ReadFile(install_ / "c.dll"), "old c");
    EXPECT_FALSE(fs::exists(install_ / "a.dll1316000000"));
    EXPECT_EQ(ReadFile(install_ / "b.dll1316000000"), "blocker");
}

TEST_F(ReplaceStep, UndoOfTwoEntriesWithOneTargetKeepsTheOldFile) {
    AddPackageFile("a.dll", "new a");
    AddPackageFile("b.dll", "new b");
    AddInstalledFile("a.dll", "old a");
    AddInstalledFile("b.dll", "old b");
    AddInstalledFile("b.dll1316000000", "blocker");
    WriteManifest(MakeManifest({{"\\", "a.dll"}, {"\\", "a.dll"}, {"\\", "b.dll"}}));

    EXPECT_EQ(LoadAndBackUp(), UPDATE_ERROR);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(ReadFile(install_ / "a.dll"), "old a");
    EXPECT_FALSE(fs::exists(install_ / "a.dll1316000000"));
}

TEST_F(ReplaceStep, FailedCopyOfEntryTwoOfFourRestoresEveryEntry) {
    AddPackageFile("one.dll", "new 1");
    fs::create_directories(package_ / "two.dll");  // a folder: its copy fails
    AddPackageFile("three.dll", "new 3");
    AddPackageFile("four.dll", "new 4");
    AddInstalledFile("one.dll", "old 1");
    AddInstalledFile("two.dll", "old 2");
    AddInstalledFile("three.dll", "old 3", true);
    AddInstalledFile("four.dll", "old 4");
    WriteManifest(MakeManifest({{"\\", "one.dll"}, {"\\", "two.dll"}, {"\\", "three.dll"}, {"\\", "four.dll"}}));

    EXPECT_EQ(LoadBackUpInstall(), UPDATE_ERROR);
    EXPECT_EQ(Messages(), std::vector<std::string>{"更新文件失败:文件【" + (package_ / "two.dll").string() +
                                                   "】覆盖【" + (install_ / "two.dll").string() + "】失败!"});
    EXPECT_EQ(Snapshot(install_), (std::map<std::string, std::string>{
                                      {"one.dll", "old 1"}, {"two.dll", "old 2"},
                                      {"three.dll", "old 3"}, {"four.dll", "old 4"}}));
    EXPECT_FALSE(IsReadOnlyOnDisk(install_ / "three.dll"));
    EXPECT_TRUE(fs::exists(cabinet_));
    EXPECT_TRUE(fs::exists(package_ / "one.dll"));
}

TEST_F(ReplaceStep, FailedCopyRemovesTheFilesThisRunAdded) {
    AddPackageFile("Plugins/new.dll", "new file");
    AddPackageFile("old.dll", "new old");
    fs::create_directories(package_ / "bad.dll");
    AddInstalledFile("old.dll", "old old");
    WriteManifest(MakeManifest({{"\\Plugins\\", "new.dll"}, {"\\", "old.dll"}, {"\\", "bad.dll"}}));

    EXPECT_EQ(LoadBackUpInstall(), UPDATE_ERROR);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Snapshot(install_), (std::map<std::string, std::string>{{"old.dll", "old old"}}));
}

TEST_F(ReplaceStep, FolderThatCannotBeCreatedRestoresLikeAFailedCopy) {
    AddPackageFile("a.dll", "new a");
    AddPackageFile("Sub/b.dll", "new b");
    AddInstalledFile("a.dll", "old a");
    AddInstalledFile("Sub", "a file where a folder is needed");
    WriteManifest(MakeManifest({{"\\", "a.dll"}, {"\\Sub\\", "b.dll"}}));

    EXPECT_EQ(LoadBackUpInstall(), UPDATE_ERROR);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Snapshot(install_), (std::map<std::string, std::string>{
                                      {"a.dll", "old a"}, {"Sub", "a file where a folder is needed"}}));
}

TEST_F(ReplaceStep, RestoreThatCannotMoveABackupBackSaysSoOnceAndGoesOn) {
    AddPackageFile("a.dll", "new a");
    AddPackageFile("b.dll", "new b");
    fs::create_directories(package_ / "c.dll");
    AddInstalledFile("a.dll", "old a");
    AddInstalledFile("b.dll", "old b");
    AddInstalledFile("c.dll", "old c");
    WriteManifest(MakeManifest({{"\\", "a.dll"}, {"\\", "b.dll"}, {"\\", "c.dll"}}));
    ASSERT_EQ(LoadAndBackUp(), UPDATE_OK);
    // a.dll's backup is taken away, so it can't be moved back.
    fs::rename(install_ / "a.dll1316000000", root_ / "kept-aside");

    EXPECT_EQ(steps_.InstallFiles(), UPDATE_ERROR);
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[1], kRestoreFailedText);
    // The other entries were still restored.
    EXPECT_EQ(ReadFile(install_ / "b.dll"), "old b");
    EXPECT_EQ(ReadFile(install_ / "c.dll"), "old c");
}

}  // namespace
