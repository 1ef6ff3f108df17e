#include "platform/ipc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/paths.h"
#include "platform/ui.h"
#include "temp_dir.h"

using namespace platform;

TEST(NamedMutexTest, ExistsWhileHeldAnywhere) {
    TempDir dir;
    bool exists = true;
    NamedMutex first = CreateNamedMutex("Morrowgate.Update", &exists);
    EXPECT_TRUE(first.IsHeld());
    EXPECT_FALSE(exists);

    NamedMutex second = CreateNamedMutex("Morrowgate.Update", &exists);
    EXPECT_FALSE(second.IsHeld());
    EXPECT_TRUE(exists);

    NamedMutex other = CreateNamedMutex("Other", &exists);
    EXPECT_TRUE(other.IsHeld()) << "names are separate";

    first.Close();
    NamedMutex third = CreateNamedMutex("Morrowgate.Update", &exists);
    EXPECT_TRUE(third.IsHeld());
    EXPECT_FALSE(exists);

    NamedMutex moved = std::move(third);
    EXPECT_TRUE(moved.IsHeld());
    EXPECT_FALSE(CreateNamedMutex("Morrowgate.Update", &exists).IsHeld())
        << "the move keeps it held";
}

TEST(ResultWindow, MessageArrivesAndSenderWaitsForTheAnswer) {
    TempDir dir;
    ScriptedFrontEnd recorder;
    InstallFrontEnd(&recorder);
    MessageWindow window;
    ASSERT_TRUE(window.Create("WaitForUpdateResultWnd12"));
    MessageWindow duplicate;
    EXPECT_FALSE(duplicate.Create("WaitForUpdateResultWnd12")) << "title owned";

    std::optional<WindowMessage> received;
    std::thread receiver([&] { received = window.Receive(5000, 77); });
    auto handle = FindWindowByTitle("WaitForUpdateResultWnd12");
    ASSERT_TRUE(handle.has_value());
    const auto answer = SendWindowMessage(*handle, WM_UPDATE_RESULT, 0xFFFFFFFFu, 0);
    receiver.join();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, 77u) << "the send returns only with the receiver's answer";
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->message, 8071u);
    EXPECT_EQ(received->wParam, 0xFFFFFFFFu);
    EXPECT_EQ(received->lParam, 0u);
    ASSERT_EQ(recorder.Records().size(), 1u);
    EXPECT_EQ(recorder.Records()[0].Text(), "sendmsg|WaitForUpdateResultWnd12|8071|4294967295|0");
    InstallFrontEnd(nullptr);
}

TEST(ResultWindow, LookupWithoutSendIsPassedOver) {
    TempDir dir;
    MessageWindow window;
    ASSERT_TRUE(window.Create("W"));
    std::optional<WindowMessage> received;
    std::thread receiver([&] { received = window.Receive(5000); });
    { auto lookedUp = FindWindowByTitle("W"); }
    auto handle = FindWindowByTitle("W");
    ASSERT_TRUE(handle.has_value());
    SendWindowMessage(*handle, 5, 6, 7);
    receiver.join();
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->message, 5u);
}

TEST(ResultWindow, NoWindowNoLookup) {
    TempDir dir;
    EXPECT_FALSE(FindWindowByTitle("WaitForUpdateResultWnd3").has_value());
    {
        MessageWindow window;
        ASSERT_TRUE(window.Create("WaitForUpdateResultWnd3"));
        EXPECT_TRUE(FindWindowByTitle("WaitForUpdateResultWnd3").has_value());
    }
    EXPECT_FALSE(FindWindowByTitle("WaitForUpdateResultWnd3").has_value())
        << "destroyed with its owner";
    MessageWindow quiet;
    ASSERT_TRUE(quiet.Create("quiet"));
    EXPECT_FALSE(quiet.Receive(50).has_value());
}

TEST(RuntimeFolder, PrivateFolderUnderTempRefusedWhenForeign) {
    TempDir dir;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.Path().c_str(), 1);
    const std::string own = RuntimeDir();
    ASSERT_EQ(own, dir / ("morrowgate-" + std::to_string(::getuid())));
    struct stat st;
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::filesystem::remove(own);
    std::filesystem::create_directory(own);
    ::chmod(own.c_str(), 0700);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(own.c_str(), 4242, 4242), 0);
        EXPECT_EQ(RuntimeDir(), "") << "owned by another user";
        bool exists = true;
        EXPECT_FALSE(CreateNamedMutex("M", &exists).IsHeld());
        EXPECT_FALSE(exists);
        ASSERT_EQ(::chown(own.c_str(), 0, 0), 0);
    }
    ::chmod(own.c_str(), 0777);
    EXPECT_EQ(RuntimeDir(), "") << "open to others";
    std::filesystem::remove(own);
    std::filesystem::create_directory_symlink(dir.Path(), own);
    EXPECT_EQ(RuntimeDir(), "") << "a link in its place";
    ::unsetenv("TMPDIR");
}

TEST(SocketStartUp, FailsOnlyWhenAsked) {
    EXPECT_TRUE(SocketInit());
    SetSocketInitFails(true);
    EXPECT_FALSE(SocketInit());
    SetSocketInitFails(false);
    ::setenv("MG_FAIL_SOCKET_INIT", "1", 1);
    EXPECT_FALSE(SocketInit());
    ::unsetenv("MG_FAIL_SOCKET_INIT");
}
