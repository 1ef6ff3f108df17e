#include "ini/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "ini-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path Write(const std::string& name, const std::string& bytes) const {
        const fs::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// One small file and one lookup: what GetString gives (default "<def>") and
// whether the key counts as found.
struct LookupCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    bool found;
    std::string value;  // as GetString returns it (the default when absent)
};

const LookupCase kLookups[] = {
    {"empty file", "", "VerInfo", "UpdateFileNum", false, "<def>"},
    {"plain", "[VerInfo]\r\nUpdateFileNum=2\r\n", "VerInfo", "UpdateFileNum", true, "2"},
    {"header at the very end", "x=1\r\n[VerInfo]", "VerInfo", "x", false, "<def>"},
    {"section name in other case", "[verinfo]\nupdatefilenum=3\n", "VerInfo", "UpdateFileNum", true, "3"},
    {"looked-up name in other case", "[VerInfo]\nUpdateFileNum=3\n", "VERINFO", "updatefilenum", true, "3"},
    {"header followed by a letter", "[VerInfo]x\nUpdateFileNum=3\n", "VerInfo", "UpdateFileNum", false, "<def>"},
    {"header followed by '='", "[VerInfo]=\nk=v\n", "VerInfo", "k", true, "v"},
    {"rest of header line ignored", "[VerInfo] junk k=no\nk=yes\n", "VerInfo", "k", true, "yes"},
    {"blank lines after header", "[S]\r\n\r\n\n\rk=v\n", "S", "k", true, "v"},
    {"blank inside brackets is part of the name", "[Ver Info]\nk=v\n", "VerInfo", "k", false, "<def>"},
    {"spaces around '='", "[S]\nk   =   7\n", "S", "k", true, "7"},
    {"tabs around '='", "[S]\nk\t=\t7\n", "S", "k", true, "7"},
    {"inner and trailing spaces kept", "[S]\nk=a b  \n", "S", "k", true, "a b  "},
    {"value ended by a tab", "[S]\nk=ab\tmore\n", "S", "k", true, "ab"},
    {"value at end of text without line end", "[S]\nk=ab", "S", "k", true, "ab"},
    {"all-blank value is absent", "[S]\nk=  \t \nk=later\n", "S", "k", false, "<def>"},
    {"empty value is absent", "[S]\nk=\n", "S", "k", false, "<def>"},
    {"key is only the start of a longer key", "[S]\nFileName=a.dll\n", "S", "File", false, "<def>"},
    {"key is only the end of a longer key", "[S]\nFileName=a.dll\n", "S", "Name", false, "<def>"},
    {"first of two keys wins", "[S]\nk=1\nk=2\n", "S", "k", true, "1"},
    {"first of two sections wins", "[S]\nj=1\n[S]\nk=2\n", "S", "k", false, "<def>"},
    {"key not followed by '=' is skipped", "[S]\na= k x\nk=v\n", "S", "k", true, "v"},
    {"key elsewhere on a line", "[S]\na=1 k=v\n", "S", "k", true, "v"},
    {"semicolon right before key hides it", "[S]\n;k=1\n", "S", "k", false, "<def>"},
    {"semicolon and blank do not", "[S]\n; k=1\n", "S", "k", true, "1"},
    {"next section ends the body", "[S]\n[T]\nk=1\n", "S", "k", false, "<def>"},
    {"indented header ends the body", "[S]\n  \t[T]\nk=1\n", "S", "k", false, "<def>"},
    {"bracket inside a line does not", "[S]\na=[x]\nk=1\n", "S", "k", true, "1"},
    {"header found inside a value", "[A]\nx= [S]\nk=v\n", "S", "k", true, "v"},
    {"rest of that line is not the body", "[A]\nx= [S] k=v\n", "S", "k", false, "<def>"},
    {"value keeps stored case", "[S]\nk=MiXeD\n", "s", "K", true, "MiXeD"},
    {"CR only line ends", "[S]\rk=v\rj=w\r", "S", "j", true, "w"},
    {"key at end of text is never found", "[S]\nk", "S", "k", false, "<def>"},
    {"no section", "k=v\n", "S", "k", false, "<def>"},
    {"GBK value passes unchanged", "[S]\nk=\xB8\xFC\xD0\xC2.dll\n", "S", "k", true, "\xB8\xFC\xD0\xC2.dll"},
};

class IniLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniLookup, FindsWhatTheTokenSearchAccepts) {
    const LookupCase& c = GetParam();
    TempDir dir;
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("t.ini", c.text).c_str(), false), 0);
    char buf[260];
    const uint32_t got = ini.ReadValue(c.section, c.key, buf, sizeof buf);
    EXPECT_EQ(got != 0, c.found);
    const uint32_t length = ini.GetString(c.section, c.key, buf, sizeof buf, "<def>");
    EXPECT_EQ(std::string(buf), c.value);
    EXPECT_EQ(length, c.value.size());
}

INSTANTIATE_TEST_SUITE_P(Table, IniLookup, ::testing::ValuesIn(kLookups),
                         [](const ::testing::TestParamInfo<LookupCase>& p) {
                             std::string name = p.param.what;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

struct IntCase {
    const char* value;
    int32_t expected;
};

TEST(IniFile, ReadsIntegersLikeAtolAndSaturates) {
    const IntCase cases[] = {
        {"42", 42},          {"-7", -7},        {"+5", 5},       {"12abc", 12},
        {"abc", 0},          {"0", 0},          {"2147483647", 2147483647},
        {"2147483648", 2147483647},             {"99999999999999999999", 2147483647},
        {"-2147483648", INT32_MIN},             {"-99999999999999", INT32_MIN},
        {"\v3", 3},
    };
    TempDir dir;
    for (const IntCase& c : cases) {
        CIniFile ini;
        ASSERT_EQ(ini.Load(dir.Write("i.ini", std::string("[S]\nk=") + c.value + "\n").c_str(), false), 0);
        int32_t result = 1234;
        EXPECT_TRUE(ini.GetInt("S", "k", &result, -1)) << c.value;
        EXPECT_EQ(result, c.expected) << c.value;
    }
}

TEST(IniFile, AbsentIntegerGivesDefaultAndReadIntLeavesResult) {
    TempDir dir;
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("i.ini", "[S]\nk= \n").c_str(), false), 0);
    int32_t result = 55;
    EXPECT_FALSE(ini.ReadInt("S", "k", &result));
    EXPECT_EQ(result, 55);
    EXPECT_FALSE(ini.GetInt("S", "k", &result, -1));
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(ini.GetInt("S", "missing", &result, 0));
    EXPECT_EQ(result, 0);
}

TEST(IniFile, FullBufferDropsATrailingHighByte) {
    TempDir dir;
    CIniFile ini;
    // "ab" + a GBK character: with a buffer of 4 the copy ends on its lead byte.
    ASSERT_EQ(ini.Load(dir.Write("d.ini", "[S]\nk=ab\xB8\xFC\nj=abc\nh=\xB8\xFC\n").c_str(), false), 0);
    char buf[8];
    EXPECT_EQ(ini.ReadValue("S", "k", buf, 4), 2u);
    EXPECT_STREQ(buf, "ab");
    // Ending on the trail byte drops it too.
    EXPECT_EQ(ini.ReadValue("S", "k", buf, 5), 3u);
    EXPECT_STREQ(buf, "ab\xB8");
    // The buffer not full: the value is complete.
    EXPECT_EQ(ini.ReadValue("S", "k", buf, 8), 4u);
    EXPECT_STREQ(buf, "ab\xB8\xFC");
    // Plain bytes at a full buffer are kept.
    EXPECT_EQ(ini.ReadValue("S", "j", buf, 3), 2u);
    EXPECT_STREQ(buf, "ab");
    // One byte: only the terminator.
    buf[0] = 'x';
    EXPECT_EQ(ini.ReadValue("S", "j", buf, 1), 0u);
    EXPECT_EQ(buf[0], '\0');
    // A value reduced to nothing reads as absent and GetString gives the default.
    EXPECT_EQ(ini.GetString("S", "h", buf, 2, "d"), 1u);
    EXPECT_STREQ(buf, "d");
}

TEST(IniFile, GetStringTruncatesTheDefaultAndIgnoresSizeZero) {
    TempDir dir;
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("g.ini", "[S]\n").c_str(), false), 0);
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ini.GetString("S", "k", buf, 0, "default"), 0u);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(ini.GetString("S", "k", buf, 4, "default"), 3u);
    EXPECT_STREQ(buf, "def");
}

TEST(IniFile, NotLoadedReadsEverythingAsAbsent) {
    CIniFile ini;
    EXPECT_FALSE(ini.IsLoaded());
    char buf[16];
    EXPECT_EQ(ini.ReadValue("S", "k", buf, sizeof buf), 0u);
    EXPECT_EQ(ini.GetString("S", "k", buf, sizeof buf, "d"), 1u);
    int32_t v = 0;
    EXPECT_FALSE(ini.GetInt("S", "k", &v, 9));
    EXPECT_EQ(v, 9);
    EXPECT_EQ(ini.Load("/nonexistent/dir/x.ini", false), -1);
    EXPECT_FALSE(ini.IsLoaded());
    EXPECT_EQ(ini.Load(nullptr, false), -1);
}

TEST(IniFile, NullArgumentsReadAsAbsent) {
    TempDir dir;
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("n.ini", "[S]\nk=v\n").c_str(), false), 0);
    char buf[16];
    EXPECT_EQ(ini.ReadValue(nullptr, "k", buf, sizeof buf), 0u);
    EXPECT_EQ(ini.ReadValue("S", nullptr, buf, sizeof buf), 0u);
    EXPECT_EQ(ini.ReadValue("S", "k", nullptr, sizeof buf), 0u);
    EXPECT_EQ(ini.ReadValue("S", "", buf, sizeof buf), 0u);
    EXPECT_FALSE(ini.ReadInt("S", "k", nullptr));
    EXPECT_EQ(ini.GetString("S", "x", buf, sizeof buf, nullptr), 0u);
}

TEST(IniFile, SecondLoadReadsTheStoredPath) {
    TempDir dir;
    const fs::path first = dir.Write("first.ini", "[S]\nk=first\n");
    const fs::path second = dir.Write("second.ini", "[S]\nk=second\n");
    CIniFile ini;
    ASSERT_EQ(ini.Load(first.c_str(), false), 0);
    ASSERT_EQ(ini.Load(second.c_str(), false), 0);
    char buf[32];
    ini.GetString("S", "k", buf, sizeof buf, "");
    EXPECT_STREQ(buf, "first");
    EXPECT_STREQ(ini.Path(), first.c_str());
    // Clear keeps the stored path too.
    ini.Clear();
    EXPECT_FALSE(ini.IsLoaded());
    ASSERT_EQ(ini.Load("", false), 0);
    EXPECT_STREQ(ini.Path(), first.c_str());
}

TEST(IniFile, CreateIfMissingMakesAnEmptyFile) {
    TempDir dir;
    const fs::path path = dir.path() / "new.ini";
    CIniFile ini;
    EXPECT_EQ(ini.Load(path.c_str(), false), -1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ini.Load(path.c_str(), true), 0);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(ini.IsLoaded());
    EXPECT_EQ(ini.Length(), 0);
}

TEST(IniFile, KeepsTheBytesAsStored) {
    TempDir dir;
    const std::string text = std::string("[S]\r\nK=V\0x\r\n", 12);
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("b.ini", text).c_str(), false), 0);
    EXPECT_EQ(ini.Length(), 12);
    EXPECT_EQ(std::string(ini.Text(), 12), text);
    char buf[8];
    EXPECT_EQ(ini.GetString("s", "k", buf, sizeof buf, ""), 1u);
    EXPECT_STREQ(buf, "V");
}

TEST(IniFile, IgnoresAByteOrderMark) {
    TempDir dir;
    CIniFile ini;
    ASSERT_EQ(ini.Load(dir.Write("bom.ini", "\xEF\xBB\xBF[VerInfo]\nUpdateFileNum=1\n").c_str(), false), 0);
    int32_t n = 0;
    EXPECT_TRUE(ini.GetInt("VerInfo", "UpdateFileNum", &n, -1));
    EXPECT_EQ(n, 1);
}

TEST(IniFile, RefusesFoldersAndOverlongPaths) {
    TempDir dir;
    CIniFile ini;
    EXPECT_EQ(ini.Load(dir.path().c_str(), false), -1);
    CIniFile longPath;
    const std::string name = (dir.path() / std::string(300, 'a')).string();
    EXPECT_EQ(longPath.Load(name.c_str(), true), -1);
    EXPECT_STREQ(longPath.Path(), "");
}

}  // namespace
