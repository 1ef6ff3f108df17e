#include "update_fixture.h"
#include "update/manifest_paths.h"

namespace {

class ManifestStep : public UpdateFixture {};

TEST_F(ManifestStep, ReadsTheListedEntriesAndIgnoresLaterSections) {
    AddPackageFile("Game.dll", "g");
    AddPackageFile("Plugins/a.dll", "a");
    // File3 names a file the package lacks: reading it would fail the step.
    WriteManifest(MakeManifest({{"\\", "Game.dll"}, {"\\Plugins\\", "a.dll", 1}, {"\\", "missing.dll"}}, 2));
    ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK);
    EXPECT_EQ(steps_.m_nFileCount, 2);
    EXPECT_TRUE(Messages().empty());

    const FileTable& table = GetFileTable();
    EXPECT_EQ(table.source[0].FullPath, (package_ / "Game.dll").string());
    EXPECT_EQ(table.target[0].FullPath, (install_ / "Game.dll").string());
    EXPECT_EQ(table.target[0].RegFlag, 0);  // no RegFlag key: not registered
    EXPECT_EQ(table.source[1].FilePath, "/Plugins/");
    EXPECT_EQ(table.source[1].FileName, "a.dll");
    EXPECT_EQ(table.source[1].FullPath, (package_ / "Plugins" / "a.dll").string());
    EXPECT_EQ(table.target[1].FullPath, (install_ / "Plugins" / "a.dll").string());
    EXPECT_EQ(table.target[1].RegFlag, 1);
    // Backup name: the target's full name followed by the start time.
    EXPECT_EQ(table.target[1].BackupPath, (install_ / "Plugins" / "a.dll1316000000").string());
}

TEST_F(ManifestStep, MatchesNamesWithoutRegardToCase) {
    AddPackageFile("x.dll", "x");
    WriteManifest("[verinfo]\nupdatefilenum=1\n[file1]\nfilename=x.dll\nfilepath=\\\nregflag=3\n");
    ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK);
    EXPECT_EQ(steps_.m_nFileCount, 1);
    EXPECT_EQ(GetFileTable().target[0].RegFlag, 3);
}

TEST_F(ManifestStep, UnreadableManifestIsABadPackage) {
    EXPECT_EQ(steps_.LoadManifest(), UPDATE_BAD_PACKAGE);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ManifestStep, FindsTheManifestWhateverItsCase) {
    AddPackageFile("x.dll", "x");
    WriteFile(package_ / "PATCH.update", MakeManifest({{"\\", "x.dll"}}));
    EXPECT_EQ(steps_.LoadManifest(), UPDATE_OK);
}

TEST_F(ManifestStep, RejectsAnUnusableFileCountWithoutMessage) {
    AddPackageFile("x.dll", "x");
    // File1 names a missing file: if it were read, a message would show.
    const std::string entry = "[File1]\nFileName=missing.dll\nFilePath=\\\n";
    for (const char* count : {"", "UpdateFileNum=0\n", "UpdateFileNum=-3\n", "UpdateFileNum=abc\n",
                              "UpdateFileNum=  \n", "UpdateFileNum=1025\n", "UpdateFileNum=99999999999\n"}) {
        WriteManifest(std::string("[VerInfo]\n") + count + entry);
        EXPECT_EQ(steps_.LoadManifest(), UPDATE_ERROR) << count;
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ManifestStep, AcceptsTheFullTable) {
    std::vector<ManifestEntry> entries;
    for (int i = 0; i < kFileTableCapacity; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        AddPackageFile("many/" + name, "");
        entries.push_back({"\\many\\", name});
    }
    WriteManifest(MakeManifest(entries));
    ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK);
    EXPECT_EQ(steps_.m_nFileCount, kFileTableCapacity);
    EXPECT_EQ(GetFileTable().target[1023].FileName, "f1023.dat");
}

TEST_F(ManifestStep, SecondOfThreeMissingShowsOneMessageAndStops) {
    AddPackageFile("one.dll", "new1");
    AddInstalledFile("one.dll", "old1");
    AddInstalledFile("two.dll", "old2");
    // The third entry is missing too: a second message would show if it were read.
    WriteManifest(MakeManifest({{"\\", "one.dll"}, {"\\", "two.dll"}, {"\\", "three.dll"}}));
    const auto before = Snapshot(install_);
    EXPECT_EQ(steps_.LoadManifest(), UPDATE_ERROR);
    EXPECT_EQ(Messages(), std::vector<std::string>{"下载文件有误:文件" + (package_ / "two.dll").string() + "不存在!"});
    EXPECT_EQ(Snapshot(install_), before);
    EXPECT_TRUE(fs::exists(cabinet_));
}

struct RejectedEntry {
    const char* what;
    std::string filePath;
    std::string fileName;
};

TEST_F(ManifestStep, RejectsEntriesThatWouldLeaveTheirFolders) {
    AddPackageFile("x.dll", "x");
    WriteFile(root_ / "outside.dll", "outside");
    WriteFile(root_ / "Binx.dll", "sibling");
    const RejectedEntry cases[] = {
        {"empty file name", "\\", ""},
        {"absent file name", "\\", ""},
        {"parent component in path", "\\..\\", "outside.dll"},
        {"parent component in name", "\\", "..\\outside.dll"},
        {"parent component with slashes", "/sub/../../", "outside.dll"},
        {"bare parent name", "\\", ".."},
        {"the folder itself", "\\Plugins\\", "."},
        {"absolute file name", "\\", "\\etc\\passwd"},
        {"absolute slash name", "\\", "/etc/passwd"},
        {"drive letter in path", "C:\\Windows\\", "x.dll"},
        {"drive letter in name", "\\", "C:x.dll"},
        {"network path", "\\\\server\\share\\", "x.dll"},
        {"path without leading separator", "", "x.dll"},
        {"relative path joined to folder name", "x", ".dll"},
        {"name ending in a separator", "\\", "x.dll\\"},
        {"value too long", "\\" + std::string(300, 'd') + "\\", "x.dll"},
        {"composed path too long", "\\" + std::string(250, 'd') + "\\", "x.dll"},
    };
    for (const RejectedEntry& c : cases) {
        std::string text = "[VerInfo]\nUpdateFileNum=1\n[File1]\nFilePath=" + c.filePath + "\n";
        if (std::string(c.what) != "absent file name") text += "FileName=" + c.fileName + "\n";
        WriteManifest(text);
        EXPECT_EQ(steps_.LoadManifest(), UPDATE_ERROR) << c.what;
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ManifestStep, ReadsGbkManifests) {
    // "更新\插件.dll" in code page 936.
    AddPackageFile("更新/插件.dll", "x");
    WriteManifest(MakeManifest({{"\\\xB8\xFC\xD0\xC2\\", "\xB2\xE5\xBC\xFE.dll"}}));
    ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK);
    EXPECT_EQ(GetFileTable().target[0].FullPath, (install_ / "更新" / "插件.dll").string());
}

TEST_F(ManifestStep, ReadsUtf8ManifestsWithOrWithoutByteOrderMark) {
    AddPackageFile("更新/插件.dll", "x");
    for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
        WriteManifest(bom + MakeManifest({{"\\更新\\", "插件.dll"}}));
        ASSERT_EQ(steps_.LoadManifest(), UPDATE_OK) << bom.size();
        EXPECT_EQ(GetFileTable().target[0].FullPath, (install_ / "更新" / "插件.dll").string());
    }
}

TEST_F(ManifestStep, RejectsValuesInvalidInTheirEncoding) {
    AddPackageFile("x.dll", "x");
    // Not UTF-8, so GBK: a lead byte at the end of a value has no trail byte.
    WriteManifest(MakeManifest({{"\\", "x.dll\xB8"}}));
    EXPECT_EQ(steps_.LoadManifest(), UPDATE_ERROR);
}

TEST(ManifestPaths, DetectsTheEncoding) {
    using manifest::TextEncoding;
    EXPECT_EQ(manifest::DetectEncoding("plain ascii"), TextEncoding::Utf8);
    EXPECT_EQ(manifest::DetectEncoding("更新"), TextEncoding::Utf8);
    EXPECT_EQ(manifest::DetectEncoding("\xB8\xFC\xD0\xC2"), TextEncoding::Gbk);
    EXPECT_EQ(manifest::DetectEncoding("\xC0\xAF"), TextEncoding::Gbk);          // overlong '/'
    EXPECT_EQ(manifest::DetectEncoding("\xED\xA0\x80"), TextEncoding::Gbk);      // surrogate
    EXPECT_EQ(manifest::DetectEncoding("\xF4\x90\x80\x80"), TextEncoding::Gbk);  // above U+10FFFF
    EXPECT_EQ(manifest::DetectEncoding("\xE6\x9B"), TextEncoding::Gbk);          // cut short
    std::string out;
    ASSERT_TRUE(manifest::ToUtf8("\x80", TextEncoding::Gbk, out));
    EXPECT_EQ(out, "€");
    EXPECT_EQ(manifest::CountChars("a更新"), 3u);
}

}  // namespace

namespace {

// Every combination of hostile and ordinary fragments: whatever the check
// accepts must, once joined and converted, name a file strictly below the
// folder it is joined to.
TEST(ManifestPaths, AcceptedEntriesStayInsideTheirFolder) {
    const std::string paths[] = {"", "\\", "/", "\\\\", "\\a\\", "\\a", "a\\", "\\..\\", "\\a\\..\\", "\\a\\..\\..\\",
                                 "\\.\\", "\\...\\", "C:\\", "\\C:", "\\a/b\\", "..", "\\..", "\\a\\.."};
    const std::string names[] = {"", "x.dll", "..", ".", "...", "\\x.dll", "/x.dll", "a\\x.dll", "..\\x.dll",
                                 "a\\..\\..\\x.dll", "x.dll\\", "C:x.dll", "x..dll", ".x", "a/../x"};
    const fs::path base = "/inst/Bin";
    int accepted = 0;
    for (const std::string& p : paths) {
        for (const std::string& n : names) {
            if (!manifest::IsContainedRelativePath(p, n)) continue;
            ++accepted;
            std::string joined = base.string() + p + n;
            for (char& c : joined) {
                if (c == '\\') c = '/';
            }
            const fs::path normal = fs::path(joined).lexically_normal();
            const fs::path rel = normal.lexically_relative(base);
            EXPECT_FALSE(rel.empty() || rel == "." || *rel.begin() == "..") << p << " + " << n << " -> " << normal;
            EXPECT_EQ(normal.string().find(':'), std::string::npos);
        }
    }
    EXPECT_GT(accepted, 10);
}

}  // namespace
