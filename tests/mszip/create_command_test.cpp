// "cabtool create" followed by "cabtool extract" reproduces a tree: bytes,
// names, dates and read-only/executable state, for both methods and for sets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/mszip/mszip_helpers.h"

namespace mszip_test {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CreateCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/mszip-create-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        // Read-only files are removable; read-only folders are not made here.
        fs::remove_all(root_, ec);
    }

    ToolRun Cabtool(const std::vector<std::string>& args) {
        const fs::path out = root_ / ".out", err = root_ / ".err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
                ::chdir(root_.c_str()) != 0)
                ::_exit(127);
            std::vector<char*> argv{const_cast<char*>(CABTOOL_PATH)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(CABTOOL_PATH, argv.data());
            ::_exit(127);
        }
        ToolRun run;
        int wstatus = 0;
        if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
            run.status = WEXITSTATUS(wstatus);
        run.out = Slurp(out);
        run.err = Slurp(err);
        return run;
    }

    void Put(const std::string& rel, const Bytes& data, std::time_t mtime, mode_t mode = 0644) {
        const fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
        ASSERT_EQ(::chmod(p.c_str(), mode), 0);
    }

    // The sample tree under "src".
    void MakeTree() {
        const std::time_t base = 1700000000;  // an even second
        Put("src/readme.txt", PatternData(5000, 1), base);
        Put("src/big/code.bin", PatternData(3 * kBlock + 77, 2), base + 2);
        Put("src/big/noise.bin", RandomData(70000, 3), base + 4);
        Put("src/empty", {}, base + 6);
        Put("src/tool.sh", PatternData(300, 4), base + 8, 0755);
        Put("src/locked.dat", PatternData(400, 5), base + 10, 0444);
        Put("src/deep/er/\xE4\xB8\xAD\xE6\x96\x87.txt", PatternData(600, 6), base + 12);
        Put("extra.txt", PatternData(700, 7), base + 14);
    }

    // Every regular file below `dir`: relative path -> bytes, mtime, user write/exec bits.
    struct Seen {
        std::string bytes;
        std::time_t mtime;
        bool writable, executable;
        bool operator==(const Seen&) const = default;
    };
    std::map<std::string, Seen> Tree(const fs::path& dir) {
        std::map<std::string, Seen> tree;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            struct stat st {};
            ::stat(entry.path().c_str(), &st);
            tree[fs::relative(entry.path(), dir).string()] = {Slurp(entry.path()), st.st_mtime,
                                                              (st.st_mode & S_IWUSR) != 0,
                                                              (st.st_mode & S_IXUSR) != 0};
        }
        return tree;
    }

    fs::path root_;
};

TEST_F(CreateCommand, CreateThenExtractReproducesTheTree) {
    MakeTree();
    auto expected = Tree(root_ / "src");
    expected["extra.txt"] = Tree(root_)["extra.txt"];
    struct Case {
        std::vector<std::string> options;
        size_t cabinets;  // 0: more than one
    };
    const Case cases[] = {
        {{"-m", "mszip"}, 1},
        {{"-m", "none"}, 1},
        {{"-m", "mszip:0"}, 1},
        {{"-m", "mszip:9"}, 1},
        {{}, 1},  // default method
        {{"-m", "mszip", "--max-cabinet-size", "40000"}, 0},
        {{"-m", "none", "--max-cabinet-size", "50000"}, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = "out" + std::to_string(n), dest = "x" + std::to_string(n++);
        fs::create_directories(root_ / out);
        std::vector<std::string> args{"create"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"-o", out + "/pack.cab", "src", "extra.txt"});
        const ToolRun created = Cabtool(args);
        ASSERT_EQ(created.status, 0) << created.err;
        const size_t cabinets =
            static_cast<size_t>(std::distance(fs::directory_iterator(root_ / out), {}));
        if (c.cabinets == 0) {
            EXPECT_GT(cabinets, 1u);
            EXPECT_TRUE(fs::exists(root_ / out / "pack2.cab"));
        } else {
            EXPECT_EQ(cabinets, c.cabinets);
        }
        const ToolRun extracted = Cabtool({"extract", "-d", dest, out + "/pack.cab"});
        ASSERT_EQ(extracted.status, 0) << extracted.err;
        EXPECT_TRUE(Tree(root_ / dest) == expected) << "case " << n - 1;
    }
}

TEST_F(CreateCommand, StoredNamesAndFlags) {
    MakeTree();
    ASSERT_EQ(Cabtool({"create", "-o", "a.cab", "src"}).status, 0);
    const ToolRun list = Cabtool({"list", "a.cab"});
    ASSERT_EQ(list.status, 0) << list.err;
    // Names relative to the given folder, backslash-separated; the UTF-8 one flagged.
    EXPECT_NE(list.out.find("big\\code.bin"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("src"), std::string::npos) << list.out;
    const size_t utf = list.out.find("deep\\er\\\xE4\xB8\xAD");
    ASSERT_NE(utf, std::string::npos) << list.out;
    const std::string line =
        list.out.substr(list.out.rfind('\n', utf) + 1, utf - list.out.rfind('\n', utf) - 1);
    EXPECT_NE(line.find('u'), std::string::npos) << line;
    const size_t ascii = list.out.find("readme.txt");
    const std::string asciiLine =
        list.out.substr(list.out.rfind('\n', ascii) + 1, ascii - list.out.rfind('\n', ascii) - 1);
    EXPECT_EQ(asciiLine.find('u'), std::string::npos) << asciiLine;
}

TEST_F(CreateCommand, BadCommandLinesAndInputs) {
    MakeTree();
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"create", "src"}, 64},                                   // no -o
        {{"create", "-o", "a.cab"}, 64},                           // nothing to pack
        {{"create", "-m", "zip", "-o", "a.cab", "src"}, 64},       // unknown method
        {{"create", "-m", "mszip:10", "-o", "a.cab", "src"}, 64},  // level out of range
        {{"create", "--max-cabinet-size", "12x", "-o", "a.cab", "src"}, 64},
        {{"create", "--bogus", "-o", "a.cab", "src"}, 64},
        {{"create", "-o", "a.cab", "missing"}, 1},
        {{"create", "-o", "a.cab", "src/readme.txt", "src"}, 1},  // "readme.txt" twice
        {{"create", "-o", "no/such/dir/a.cab", "src"}, 1},
        {{"create", "--max-cabinet-size", "100", "-o", "a.cab", "src"},
         1},  // too small for a block
    };
    for (const Case& c : cases) {
        const ToolRun run = Cabtool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args.back() << ": " << run.err;
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(Cabtool({"create", "--help"}).status, 0);
}

}  // namespace
}  // namespace mszip_test
