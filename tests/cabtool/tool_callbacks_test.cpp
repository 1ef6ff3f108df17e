#include "tools/cabtool/tool_callbacks.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "../cabclient/temp_dir.h"

namespace {

size_t EntriesIn(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
        ::closedir(d);
    }
    return n;
}

// The Quantum decoder asks for its spill file by the name "*": it gets a
// private read-write file that leaves nothing behind.
TEST(ToolCallbacks, SpillRequestGetsAnAnonymousTemporaryFile) {
    cabtest::TempDir tmp;
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("TMPDIR", tmp.Path().c_str(), 1);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(tmp.Path().c_str()), 0);

    const int a = cabtool::ToolOpen("*", 0x8102, 0x180);
    const int b = cabtool::ToolOpen("*", 0x8102, 0x180);
    ASSERT_EQ(::chdir(cwd), 0);
    if (saved) ::setenv("TMPDIR", savedValue.c_str(), 1);
    else ::unsetenv("TMPDIR");

    ASSERT_GT(a, 2);
    ASSERT_GT(b, 2);
    EXPECT_NE(a, b);
    const char data[] = "window bytes";
    EXPECT_EQ(cabtool::ToolWrite(a, data, sizeof data), sizeof data);
    EXPECT_EQ(cabtool::ToolSeek(a, 3, 0), 3);
    char back[sizeof data] = {};
    EXPECT_EQ(cabtool::ToolRead(a, back, sizeof data - 3), sizeof data - 3);
    EXPECT_STREQ(back, data + 3);
    EXPECT_EQ(cabtool::ToolSeek(b, 0, 2), 0);  // the second one is its own file
    EXPECT_EQ(EntriesIn(tmp.Path()), 0u);
    EXPECT_EQ(cabtool::ToolClose(a), 0);
    EXPECT_EQ(cabtool::ToolClose(b), 0);
}

TEST(ToolCallbacks, DiscardHandleSwallowsWrites) {
    EXPECT_EQ(cabtool::ToolWrite(cabtool::kDiscardHandle, "abc", 3), 3u);
    EXPECT_EQ(cabtool::ToolClose(cabtool::kDiscardHandle), 0);
}

}  // namespace
