// cabtool as a user runs it: exit statuses, output and what lands on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../cabclient/cab_fixture.h"

namespace {

using cabtest::Exists;
using cabtest::FileSpec;
using cabtest::ReadFile;
using cabtest::TempDir;
using cabtest::WriteFile;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

RunResult RunCabtool(const std::vector<std::string>& args, const std::string& workDir) {
    TempDir capture;
    const std::string outPath = capture / "out", errPath = capture / "err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(workDir.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(CABTOOL_PATH));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(CABTOOL_PATH, argv.data());
        ::_exit(127);
    }
    RunResult result;
    int wstatus = 0;
    if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

// Standard error on a terminal (a pseudo-terminal whose other side we read).
RunResult RunOnTerminal(const std::vector<std::string>& args, const std::string& workDir) {
    int master = -1, slave = -1;
    RunResult result;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (::dup2(slave, 2) < 0 || ::dup2(devnull, 1) < 0 || ::chdir(workDir.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(CABTOOL_PATH));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(CABTOOL_PATH, argv.data());
        ::_exit(127);
    }
    ::close(slave);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master, buffer, sizeof buffer)) > 0) result.err.append(buffer, static_cast<size_t>(n));
    ::close(master);
    int wstatus = 0;
    if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    return result;
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class Cabtool : public ::testing::Test {
protected:
    RunResult Run(const std::vector<std::string>& args) { return RunCabtool(args, m_tmp.Path()); }
    TempDir m_tmp;
};

TEST_F(Cabtool, UsageErrorsExit64WithOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", "x.cab"},
        {"list"},
        {"list", "a.cab", "b.cab"},
        {"extract", "-d"},
        {"extract", "-d", "x", "-d", "y", "a.cab"},
        {"list", "-q", "a.cab"},
    };
    for (const auto& args : bad) {
        const auto r = Run(args);
        EXPECT_EQ(r.status, 64) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(Cabtool, HelpAndVersion) {
    const auto help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("cabtool extract [-d DIR] CABINET"), std::string::npos);
    const auto version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("cabtool ", 0), 0u);
    EXPECT_EQ(Lines(version.out), 1u);
}

TEST_F(Cabtool, ListShowsEveryFileOnceAcrossTheSet) {
    const auto images = cabtest::BuildCabinets(
        {{"pkg\\big.bin", std::string(40000, 'b')},
         {"\xB2\xB9\xB6\xA1\\\x81\x5C.txt", "cp936", 0x21},
         {"run.exe", "MZ", 0x60},
         {"utf.txt", "u", 0xA0}},
        34000, "set");
    ASSERT_GE(images.size(), 2u);
    cabtest::WriteCabinets(images, m_tmp.Path());
    const auto r = Run({"list", "set.cab"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.out,
              "       40000  2026-12-11 04:31:30  ---a--  pkg\\big.bin\n"
              "           5  2026-12-11 04:31:30  r--a--  补丁\\乗.txt\n"
              "           2  2026-12-11 04:31:30  ---ax-  run.exe\n"
              "           1  2026-12-11 04:31:30  ---a-u  utf.txt\n"
              "       40008  4 files\n");
}

// A file that lies wholly in a later cabinet, inside a folder continued
// from earlier ones, is only ever announced as a partial file.
TEST_F(Cabtool, ListShowsFilesOfAFolderContinuedOverSeveralCabinets) {
    const auto images = cabtest::BuildCabinets(
        {{"huge.bin", std::string(120000, 'h')}, {"tail.txt", "tail"}}, 34000, "long");
    ASSERT_GE(images.size(), 4u);
    cabtest::WriteCabinets(images, m_tmp.Path());
    const auto r = Run({"list", "long.cab"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "      120000  2026-12-11 04:31:30  ---a--  huge.bin\n"
              "           4  2026-12-11 04:31:30  ---a--  tail.txt\n"
              "      120004  2 files\n");
    EXPECT_EQ(Run({"extract", "-d", "out", "long.cab"}).status, 0);
    EXPECT_EQ(ReadFile(m_tmp / "out/tail.txt"), "tail");
    EXPECT_EQ(ReadFile(m_tmp / "out/huge.bin"), std::string(120000, 'h'));
}

TEST_F(Cabtool, ExtractWritesTheSetAndTestWritesNothing) {
    const std::string big(70000, 'b');
    const auto images = cabtest::BuildCabinets(
        {{"pkg\\big.bin", big}, {"pkg\\sub\\a.txt", "a"}, {"later.txt", std::string(25000, 'l')},
         {"last.txt", "z"}},
        34000, "set");
    ASSERT_GE(images.size(), 3u);
    ::mkdir((m_tmp / "cabs").c_str(), 0755);
    cabtest::WriteCabinets(images, m_tmp / "cabs");

    const auto test = Run({"test", "cabs/set.cab"});
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_TRUE(test.err.empty());
    EXPECT_FALSE(Exists(m_tmp / "pkg"));

    const auto r = Run({"extract", "-d", "out", "cabs/set.cab"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(ReadFile(m_tmp / "out/pkg/big.bin"), big);
    EXPECT_EQ(ReadFile(m_tmp / "out/pkg/sub/a.txt"), "a");
    EXPECT_EQ(ReadFile(m_tmp / "out/later.txt"), std::string(25000, 'l'));
    EXPECT_EQ(ReadFile(m_tmp / "out/last.txt"), "z");

    // Without -d the current folder is the destination.
    const auto here = Run({"extract", "cabs/set.cab"});
    EXPECT_EQ(here.status, 0) << here.err;
    EXPECT_EQ(ReadFile(m_tmp / "last.txt"), "z");
}

TEST_F(Cabtool, LongExtractionShowsAProgressLineOnATerminalOnly) {
    const std::string big(24u << 20, 'p');
    cabtest::MakeCabinet(m_tmp.Path(), {{"big.bin", big}, {"small.txt", "s"}}, 0, "big");
    const auto r = RunOnTerminal({"extract", "-d", "out", "big.cab"}, m_tmp.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("\r\033[Kcabtool: extracting: 1 files"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("MiB"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");  // the line is cleared at the end
    EXPECT_EQ(ReadFile(m_tmp / "out/small.txt"), "s");
    // Not a terminal: nothing on standard error.
    EXPECT_TRUE(Run({"extract", "-d", "again", "big.cab"}).err.empty());
}

TEST_F(Cabtool, EngineErrorsExitWithTheirCode) {
    WriteFile(m_tmp / "short.cab", "MSCF");
    WriteFile(m_tmp / "text.cab", std::string(200, 't'));
    auto version = ReadFile(cabtest::MakeCabinet(m_tmp.Path(), {{"a", "a"}}, 0, "v"));
    version[24] = 4;  // version 1.4
    WriteFile(m_tmp / "version.cab", version);
    auto corrupt = ReadFile(cabtest::MakeCabinet(m_tmp.Path(), {{"a", std::string(100, 'a')}}, 0, "c"));
    corrupt[corrupt.size() - 1] ^= 0x55;  // the block's checksum no longer matches
    WriteFile(m_tmp / "corrupt.cab", corrupt);

    const struct {
        std::vector<std::string> args;
        int status;
        const char* name;
    } cases[] = {
        {{"list", "missing.cab"}, 1, "FDIERROR_CABINET_NOT_FOUND"},
        {{"list", "short.cab"}, 2, "FDIERROR_NOT_A_CABINET"},
        {{"extract", "text.cab"}, 2, "FDIERROR_NOT_A_CABINET"},
        {{"test", "version.cab"}, 3, "FDIERROR_UNKNOWN_CABINET_VERSION"},
        {{"test", "corrupt.cab"}, 4, "FDIERROR_CORRUPT_CABINET"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find(c.args.back()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.name), std::string::npos) << r.err;
    }
}

TEST_F(Cabtool, NextCabinetProblemsExitWithThatAttemptsCode) {
    const std::vector<FileSpec> files = {{"big.bin", std::string(40000, 'b')}};
    const auto good = cabtest::BuildCabinets(files, 34000, "set");
    ASSERT_GE(good.size(), 2u);

    // Another set of the same names with another set id, and one with the
    // same id but a data reserve.
    cabbuild::SetOptions other;
    other.maxCabinetSize = 34000;
    other.setID = 0x4321;
    other.cabinetName = cabbuild::SetNamer("set");
    cabbuild::SetOptions reserved = other;
    reserved.setID = 0x1234;
    reserved.reservePresent = true;
    reserved.dataReserveSize = 4;
    std::vector<cabbuild::CabinetImage> wrongSet, wrongReserve;
    std::string error;
    for (auto [options, out] : {std::pair{&other, &wrongSet}, std::pair{&reserved, &wrongReserve}}) {
        cabbuild::CabinetWriter writer(*options);
        ASSERT_TRUE(writer.StartFolder("none", &error));
        writer.AddFile("big.bin", cabtest::Bytes(std::string(40000, 'b')), cabtest::kDate, cabtest::kTime);
        ASSERT_TRUE(writer.Build(out, &error)) << error;
    }

    const struct {
        const char* folder;
        const cabbuild::CabinetImage* second;  // nullptr: missing
        int status;
        const char* name;
    } cases[] = {
        {"missing", nullptr, 1, "FDIERROR_CABINET_NOT_FOUND"},
        {"wrongset", &wrongSet[1], 10, "FDIERROR_WRONG_CABINET"},
        {"reserve", &wrongReserve[1], 9, "FDIERROR_RESERVE_MISMATCH"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        ::mkdir((m_tmp / c.folder).c_str(), 0755);
        std::vector<cabbuild::CabinetImage> images = {good[0]};
        if (c.second) images.push_back(*c.second);
        cabtest::WriteCabinets(images, m_tmp / c.folder);
        const std::string cab = std::string(c.folder) + "/set.cab";
        const std::vector<std::vector<std::string>> runs = {
            {"list", cab}, {"test", cab}, {"extract", "-d", "out", cab}};
        for (const auto& args : runs) {
            const auto r = Run(args);
            EXPECT_EQ(r.status, c.status) << args[0] << ": " << r.err;
            EXPECT_EQ(Lines(r.err), 1u) << r.err;
            EXPECT_NE(r.err.find(c.name), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("set2.cab"), std::string::npos) << r.err;
        }
    }
}

TEST_F(Cabtool, HostileNamesAreRefusedAndNothingLeavesTheDestination) {
    ::mkdir((m_tmp / "a").c_str(), 0755);
    ::mkdir((m_tmp / "a/dest").c_str(), 0755);
    ::mkdir((m_tmp / "outside").c_str(), 0755);
    ASSERT_EQ(::symlink((m_tmp / "outside").c_str(), (m_tmp / "a/dest/link").c_str()), 0);
    for (const char* name : {"..\\..\\evil.txt", "\\abs.txt", "C:\\x.txt", "a/../../evil.txt",
                             "link\\evil.txt"}) {
        SCOPED_TRACE(name);
        const std::string cab = cabtest::MakeCabinet(m_tmp.Path(), {{name, "evil"}}, 0, "hostile");
        const auto r = Run({"extract", "-d", "a/dest", "hostile.cab"});
        EXPECT_EQ(r.status, 8) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("FDIERROR_TARGET_FILE"), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(m_tmp / "evil.txt"));
        EXPECT_FALSE(Exists(m_tmp / "a/evil.txt"));
        EXPECT_FALSE(Exists(m_tmp / "outside/evil.txt"));
        EXPECT_FALSE(Exists("/abs.txt"));
    }
}

}  // namespace
