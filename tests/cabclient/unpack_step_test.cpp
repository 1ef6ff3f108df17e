#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cab_fixture.h"
#include "platform/ui.h"
#include "update/process_values.h"
#include "update/update_steps.h"

namespace {

using cabtest::Exists;
using cabtest::MakeCabinet;
using cabtest::ReadFile;
using cabtest::TempDir;
using cabtest::WriteFile;

class UnpackStep : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InstallFrontEnd(&m_ui);
        ::mkdir((m_tmp / "DownTemp").c_str(), 0755);
    }
    void TearDown() override { platform::InstallFrontEnd(nullptr); }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& r : m_ui.Records("msgbox")) texts.push_back(r.fields.at(1));
        return texts;
    }

    TempDir m_tmp;
    platform::ScriptedFrontEnd m_ui;
    CUpdateSteps m_steps;
};

TEST_F(UnpackStep, ExtractsAndFindsTheTopFolderAndManifest) {
    MakeCabinet(m_tmp / "DownTemp", {{"pkg\\patch.update", "[VerInfo]\n"},
                                     {"pkg\\bin\\a.dll", "dll"}},
                0, "patch");
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    EXPECT_EQ(g_strInstallDir, m_tmp / "DownTemp/patch.cab.Folder");
    EXPECT_EQ(m_steps.m_szManifestName, "patch.update");
    ASSERT_EQ(m_steps.LocatePackageRoot(), UPDATE_OK);
    EXPECT_EQ(m_steps.m_strPackageRoot, m_tmp / "DownTemp/patch.cab.Folder/pkg");
    EXPECT_EQ(m_steps.m_strManifestPath, m_tmp / "DownTemp/patch.cab.Folder/pkg/patch.update");
    EXPECT_EQ(ReadFile(m_steps.m_strManifestPath), "[VerInfo]\n");
    EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(UnpackStep, ManifestNameReplacesTheLastExtension) {
    MakeCabinet(m_tmp / "DownTemp", {{"p\\a.b.update", "x"}}, 0, "a.b");
    g_strCabinetPath = m_tmp / "DownTemp/a.b.cab";
    ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    EXPECT_EQ(m_steps.m_szManifestName, "a.b.update");
}

TEST_F(UnpackStep, MissingCabinetShowsOneMessageAndCreatesNothing) {
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    EXPECT_EQ(m_steps.UnpackPackage(), UPDATE_ERROR);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"待解压的文件" + g_strCabinetPath + "不存在!"}));
    EXPECT_FALSE(Exists(m_tmp / "DownTemp/patch.cab.Folder"));
}

TEST_F(UnpackStep, UnusableNamesFailWithoutAMessageAndExtractNothing) {
    const std::string longName = std::string(96, 'n') + ".cab";  // 100 characters
    const std::string fits = std::string(92, 'n') + ".cab";      // .update makes 99
    for (const std::string& name : {std::string("patch"), longName}) {
        SCOPED_TRACE(name);
        WriteFile(m_tmp / "DownTemp/" + name, ReadFile(MakeCabinet(m_tmp.Path(), {{"p\\x", "x"}})));
        g_strCabinetPath = m_tmp / "DownTemp/" + name;
        EXPECT_EQ(m_steps.UnpackPackage(), UPDATE_ERROR);
        EXPECT_FALSE(Exists(g_strCabinetPath + ".Folder"));
    }
    EXPECT_TRUE(MessageTexts().empty());
    WriteFile(m_tmp / "DownTemp/" + fits, ReadFile(MakeCabinet(m_tmp.Path(), {{"p\\x", "x"}})));
    g_strCabinetPath = m_tmp / "DownTemp/" + fits;
    EXPECT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    EXPECT_EQ(m_steps.m_szManifestName.size(), 99u);
}

TEST_F(UnpackStep, FailedExtractionShowsTheCabinetPath) {
    WriteFile(m_tmp / "DownTemp/patch.cab", "this is not a cabinet at all, not even close....");
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    EXPECT_EQ(m_steps.UnpackPackage(), UPDATE_ERROR);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                  "解压下载的文件失败【" + g_strCabinetPath +
                                  "】,请确认下载的文件是否正确!"}));
}

TEST_F(UnpackStep, StaleExtractionFolderIsRemovedFirst) {
    const std::string folder = m_tmp / "DownTemp/patch.cab.Folder";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/AAA-old").c_str(), 0755);
    WriteFile(folder + "/AAA-old/patch.update", "stale");
    ::mkdir((m_tmp / "keep").c_str(), 0755);
    WriteFile(m_tmp / "keep/precious", "p");
    ::symlink((m_tmp / "keep").c_str(), (folder + "/link").c_str());
    MakeCabinet(m_tmp / "DownTemp", {{"pkg\\patch.update", "fresh"}}, 0, "patch");
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    ASSERT_EQ(m_steps.LocatePackageRoot(), UPDATE_OK);
    EXPECT_EQ(m_steps.m_strPackageRoot, folder + "/pkg");
    EXPECT_FALSE(Exists(folder + "/AAA-old"));
    EXPECT_EQ(ReadFile(m_tmp / "keep/precious"), "p");  // the link was not followed
}

TEST_F(UnpackStep, LinkInPlaceOfTheExtractionFolderIsRemovedNotFollowed) {
    ::mkdir((m_tmp / "elsewhere").c_str(), 0755);
    const std::string folder = m_tmp / "DownTemp/patch.cab.Folder";
    ASSERT_EQ(::symlink((m_tmp / "elsewhere").c_str(), folder.c_str()), 0);
    ASSERT_EQ(::symlink((m_tmp / "not-yet").c_str(), (m_tmp / "DownTemp/other.cab.Folder").c_str()), 0);
    MakeCabinet(m_tmp / "DownTemp", {{"pkg\\patch.update", "x"}}, 0, "patch");
    MakeCabinet(m_tmp / "DownTemp", {{"pkg\\other.update", "x"}}, 0, "other");
    for (const char* name : {"patch.cab", "other.cab"}) {
        SCOPED_TRACE(name);
        g_strCabinetPath = m_tmp / "DownTemp/" + name;
        ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
        struct stat st;
        ASSERT_EQ(::lstat(g_strInstallDir.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    EXPECT_FALSE(Exists(m_tmp / "elsewhere/pkg"));
    EXPECT_FALSE(Exists(m_tmp / "not-yet"));
}

TEST_F(UnpackStep, TopLevelFilesArePassedOverAndListingIsSortedByNameIgnoringCase) {
    MakeCabinet(m_tmp / "DownTemp", {{"aaa.txt", "1"}, {"ro.txt", "2", 0x21}, {"zeta\\x", "z"},
                                     {"Beta\\patch.update", "b"}},
                0, "patch");
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    ASSERT_EQ(m_steps.LocatePackageRoot(), UPDATE_OK);
    EXPECT_EQ(m_steps.m_strPackageRoot, g_strInstallDir + "/Beta");
}

TEST_F(UnpackStep, OnlyPlainFilesAtTopLevelMeansNoPackage) {
    MakeCabinet(m_tmp / "DownTemp", {{"a.txt", "1"}, {"b.txt", "2", 0x21}}, 0, "patch");
    g_strCabinetPath = m_tmp / "DownTemp/patch.cab";
    ASSERT_EQ(m_steps.UnpackPackage(), UPDATE_OK);
    EXPECT_EQ(m_steps.LocatePackageRoot(), UPDATE_BAD_PACKAGE);
    EXPECT_TRUE(MessageTexts().empty());  // the driver shows its own message
}

}  // namespace
