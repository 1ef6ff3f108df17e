#include "cabclient/cab_extractor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "cab_fixture.h"
#include "platform/fault.h"

namespace {

using cabtest::Exists;
using cabtest::FileSpec;
using cabtest::MakeCabinet;
using cabtest::ReadFile;
using cabtest::TempDir;
using cabtest::WriteFile;

class Extractor : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        m_hadTz = tz != nullptr;
        if (tz) m_savedTz = tz;
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    void TearDown() override {
        if (m_hadTz) ::setenv("TZ", m_savedTz.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    static struct stat Stat(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st;
    }

    TempDir m_tmp;
    std::string m_savedTz;
    bool m_hadTz = false;
};

TEST_F(Extractor, WritesFilesWithFoldersTimesAndAttributes) {
    const std::string cab = MakeCabinet(m_tmp.Path(), {
        {"pkg\\test.update", "[VerInfo]\n"},
        {"pkg\\sub\\deeper\\data.bin", std::string(70000, 'x')},
        {"pkg\\readonly.txt", "ro", 0x21},
        {"pkg\\hidden.sys", "hs", 0x26},
        {"pkg\\run.sh", "#!/bin/sh\n", 0x60},
        {"pkg\\empty.txt", ""},
        {"\xB2\xB9\xB6\xA1\\\x81\x5C.txt", "cp936"},
        {"utf\\中文.txt", "utf8", 0xA0},
    });
    cabclient::CCabExtractor extractor;
    ASSERT_TRUE(extractor.Extract(cab, m_tmp / "out"));

    EXPECT_EQ(ReadFile(m_tmp / "out/pkg/test.update"), "[VerInfo]\n");
    EXPECT_EQ(ReadFile(m_tmp / "out/pkg/sub/deeper/data.bin"), std::string(70000, 'x'));
    EXPECT_EQ(ReadFile(m_tmp / "out/补丁/乗.txt"), "cp936");
    EXPECT_EQ(ReadFile(m_tmp / "out/utf/中文.txt"), "utf8");
    EXPECT_TRUE(Exists(m_tmp / "out/pkg/empty.txt"));

    const auto plain = Stat(m_tmp / "out/pkg/test.update");
    EXPECT_EQ(plain.st_mtime, cabtest::kUnixUtc);
    EXPECT_NE(plain.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(plain.st_mode & 0111, 0u);
    EXPECT_EQ(Stat(m_tmp / "out/pkg/readonly.txt").st_mode & 0222, 0u);
    EXPECT_NE(Stat(m_tmp / "out/pkg/hidden.sys").st_mode & S_IWUSR, 0u);
    // 0x40 (run after extraction) makes a program that can be started.
    EXPECT_NE(Stat(m_tmp / "out/pkg/run.sh").st_mode & S_IXUSR, 0u);
    EXPECT_EQ(Stat(m_tmp / "out/pkg/empty.txt").st_mtime, cabtest::kUnixUtc);
}

TEST_F(Extractor, CabinetPathWithoutSeparatorIsOpenedInTheCurrentFolder) {
    MakeCabinet(m_tmp.Path(), {{"big.bin", std::string(40000, 'b')}, {"tail.txt", "t"}}, 34000, "bare");
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(m_tmp.Path().c_str()), 0);
    cabclient::CCabExtractor extractor;
    const bool ok = extractor.Extract("bare.cab", "out");
    ASSERT_EQ(::chdir(saved), 0);
    ASSERT_TRUE(ok);
    // The file that continues is completed from bare2.cab, found by its bare name.
    EXPECT_EQ(ReadFile(m_tmp / "out/big.bin"), std::string(40000, 'b'));
}

TEST_F(Extractor, TrailingSeparatorsOfTheDestinationChangeNothing) {
    const std::string cab = MakeCabinet(m_tmp.Path(), {{"d\\f.txt", "f"}});
    for (const char* suffix : {"/", "//", "\\", "/\\/"}) {
        std::vector<std::string> seen;
        struct Recorder : cabclient::CCabListener<const std::string&, int32_t, intptr_t*, bool*> {
            explicit Recorder(std::vector<std::string>& s) : m_seen(s) {}
            void Invoke(const std::string& path, int32_t, intptr_t*, bool*) override {
                m_seen.push_back(path);
            }
            std::vector<std::string>& m_seen;
        };
        cabclient::CCabExtractor extractor;
        extractor.m_evCopyFile.Attach(std::make_unique<Recorder>(seen));
        ASSERT_TRUE(extractor.Extract(cab, m_tmp / "out" + suffix)) << suffix;
        EXPECT_EQ(seen, (std::vector<std::string>{m_tmp / "out/d/f.txt"})) << suffix;
    }
    EXPECT_EQ(ReadFile(m_tmp / "out/d/f.txt"), "f");
}

TEST_F(Extractor, ExistingReadOnlyOutputFailsAndExistingWritableIsTruncated) {
    const std::string cab = MakeCabinet(m_tmp.Path(), {{"a.txt", "new"}, {"b.txt", "new"}});
    ::mkdir((m_tmp / "out").c_str(), 0755);
    WriteFile(m_tmp / "out/a.txt", "old content that is longer");
    cabclient::CCabExtractor first;
    ASSERT_TRUE(first.Extract(cab, m_tmp / "out"));
    EXPECT_EQ(ReadFile(m_tmp / "out/a.txt"), "new");

    ::chmod((m_tmp / "out/b.txt").c_str(), 0444);
    WriteFile(m_tmp / "out/a.txt", "changed");
    cabclient::CCabExtractor second;
    EXPECT_FALSE(second.Extract(cab, m_tmp / "out"));
    EXPECT_EQ(ReadFile(m_tmp / "out/b.txt"), "new");
}

TEST_F(Extractor, UnconvertibleDateKeepsTheTimesButSetsAttributes) {
    const uint16_t badDate = static_cast<uint16_t>((46 << 9) | (0 << 5) | 11);  // month 0
    const std::string cab = MakeCabinet(m_tmp.Path(), {{"f.txt", "f", 0x21, badDate, cabtest::kTime}});
    const std::time_t before = std::time(nullptr);
    cabclient::CCabExtractor extractor;
    ASSERT_TRUE(extractor.Extract(cab, m_tmp / "out"));
    const auto st = Stat(m_tmp / "out/f.txt");
    EXPECT_GE(st.st_mtime, before - 2);
    EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST_F(Extractor, PartialFileIsSkippedWhenStartingFromALaterCabinet) {
    const auto images = cabtest::BuildCabinets(
        {{"first.bin", std::string(40000, '1')}, {"second.txt", "2"}}, 34000, "set");
    ASSERT_GE(images.size(), 2u);
    cabtest::WriteCabinets(images, m_tmp.Path());
    cabclient::CCabExtractor extractor;
    ASSERT_TRUE(extractor.Extract(m_tmp / images.back().name, m_tmp / "late"));
    EXPECT_FALSE(Exists(m_tmp / "late/first.bin"));

    cabclient::CCabExtractor whole;
    ASSERT_TRUE(whole.Extract(m_tmp / images.front().name, m_tmp / "all"));
    EXPECT_EQ(ReadFile(m_tmp / "all/first.bin"), std::string(40000, '1'));
}

TEST_F(Extractor, MissingNextCabinetEndsTheRun) {
    const auto images = cabtest::BuildCabinets({{"big.bin", std::string(40000, 'b')}}, 34000, "gone");
    ASSERT_GE(images.size(), 2u);
    cabtest::WriteCabinets({images.front()}, m_tmp.Path());
    cabclient::CCabExtractor extractor;
    // The repeated fdintNEXT_CABINET is answered -1, so this ends.
    EXPECT_FALSE(extractor.Extract(m_tmp / images.front().name, m_tmp / "out"));
    EXPECT_EQ(extractor.m_erfExtract.erfOper, FDIERROR_USER_ABORT);
}

TEST_F(Extractor, NonCabinetCreatesNothing) {
    WriteFile(m_tmp / "not.cab", std::string(100, 'Z'));
    cabclient::CCabExtractor extractor;
    EXPECT_FALSE(extractor.Extract(m_tmp / "not.cab", m_tmp / "out"));
    EXPECT_FALSE(extractor.Extract(m_tmp / "missing.cab", m_tmp / "out"));
    EXPECT_FALSE(Exists(m_tmp / "out"));
}

TEST_F(Extractor, HostileNamesNeverWriteOutsideTheDestination) {
    const char* hostile[] = {"..\\..\\evil.txt", "\\abs.txt", "C:\\x.txt", "a/../../b",
                             "link\\evil.txt", "leaf.txt"};
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        TempDir tmp;
        ::mkdir((tmp / "x").c_str(), 0755);
        ::mkdir((tmp / "x/y").c_str(), 0755);
        const std::string dest = tmp / "x/y/dest";
        ::mkdir(dest.c_str(), 0755);
        ::mkdir((tmp / "outside").c_str(), 0755);
        ASSERT_EQ(::symlink((tmp / "outside").c_str(), (dest + "/link").c_str()), 0);
        ASSERT_EQ(::symlink((tmp / "outside/leaf.txt").c_str(), (dest + "/leaf.txt").c_str()), 0);
        const std::string cab = MakeCabinet(tmp.Path(), {{"ok.txt", "ok"}, {name, "evil"}});
        cabclient::CCabExtractor extractor;
        EXPECT_FALSE(extractor.Extract(cab, dest));
        EXPECT_FALSE(extractor.m_strClientError.empty());
        EXPECT_FALSE(Exists(tmp / "evil.txt"));
        EXPECT_FALSE(Exists(tmp / "x/evil.txt"));
        EXPECT_FALSE(Exists(tmp / "x/b"));
        EXPECT_FALSE(Exists(tmp / "b"));
        EXPECT_FALSE(Exists("/abs.txt"));
        EXPECT_FALSE(Exists(tmp / "outside/evil.txt"));
        EXPECT_FALSE(Exists(tmp / "outside/leaf.txt"));
    }
}

TEST_F(Extractor, ListenerCanSkipAFile) {
    struct Skipper : cabclient::CCabListener<const std::string&, int32_t, intptr_t*, bool*> {
        void Invoke(const std::string& path, int32_t, intptr_t* handle, bool* extract) override {
            if (path.ends_with("skip.txt")) {
                *handle = 0;
                *extract = false;
            }
        }
    };
    const std::string cab = MakeCabinet(m_tmp.Path(), {{"skip.txt", "s"}, {"keep.txt", "k"}});
    cabclient::CCabExtractor extractor;
    extractor.m_evCopyFile.Attach(std::make_unique<Skipper>());
    ASSERT_TRUE(extractor.Extract(cab, m_tmp / "out"));
    EXPECT_FALSE(Exists(m_tmp / "out/skip.txt"));
    EXPECT_EQ(ReadFile(m_tmp / "out/keep.txt"), "k");
}

TEST_F(Extractor, LongDestinationAndLongStoredNameAreNotCut) {
    std::string dest = m_tmp.Path();
    while (dest.size() < 259) dest += "/folder";
    dest.resize(259);  // 259 bytes: the longest folder the program would take
    // 255 characters: three folders and a file name.
    const std::string name = std::string(60, 'a') + "\\" + std::string(60, 'b') + "\\" +
                             std::string(60, 'c') + "\\" + std::string(72, 'f');
    ASSERT_EQ(name.size(), 255u);
    const std::string cab = MakeCabinet(m_tmp.Path(), {{name, "deep"}});
    cabclient::CCabExtractor extractor;
    ASSERT_TRUE(extractor.Extract(cab, dest));
    std::string path = dest + "/" + name;
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_GT(path.size(), 500u);
    EXPECT_EQ(ReadFile(path), "deep");
}

TEST_F(Extractor, OpenRefusesTheSpillRequestName) {
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(m_tmp.Path().c_str()), 0);
    const int fd = cabclient::CabOpen("*", 0x8102, 0x180);
    ASSERT_EQ(::chdir(saved), 0);
    EXPECT_EQ(fd, -1);
    EXPECT_FALSE(Exists(m_tmp / "*"));
}

}  // namespace

namespace {

// Whichever single file-system operation fails, the extraction either
// reports failure or has written every file completely.
TEST_F(Extractor, NoFailingOperationIsReportedAsSuccess) {
    const std::vector<FileSpec> files = {
        {"pkg\\a\\one.bin", std::string(50000, '1')},
        {"pkg\\b\\two.txt", "two", 0x21},
        {"pkg\\three.txt", "three"},
    };
    const std::string cab = MakeCabinet(m_tmp.Path(), files);
    platform::ResetFsOpCount();
    {
        cabclient::CCabExtractor clean;
        ASSERT_TRUE(clean.Extract(cab, m_tmp / "clean"));
    }
    const uint64_t operations = platform::FsOpCount();
    ASSERT_GT(operations, 5u);
    for (uint64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE(n);
        const std::string dest = m_tmp / ("run" + std::to_string(n));
        platform::FailFsOpAt(n);
        cabclient::CCabExtractor extractor;
        const bool ok = extractor.Extract(cab, dest);
        platform::FailFsOpAt(0);
        if (!ok) continue;
        EXPECT_EQ(ReadFile(dest + "/pkg/a/one.bin"), files[0].data);
        EXPECT_EQ(ReadFile(dest + "/pkg/b/two.txt"), "two");
        EXPECT_EQ(ReadFile(dest + "/pkg/three.txt"), "three");
    }
}

}  // namespace
