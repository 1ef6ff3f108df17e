// The cabinet writer's set layout: names, size limits and the continuation
// values the engine relies on.
#include "tests/fdi/fixtures.h"

using namespace fditest;

namespace {

std::vector<CabinetRecord> Records(cabbuild::CabinetWriter& writer) {
    std::vector<CabinetRecord> cabs;
    std::string error;
    EXPECT_TRUE(writer.BuildRecords(&cabs, &error)) << error;
    return cabs;
}

}  // namespace

TEST(Writer, SetNamesAndLinks) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = 40000;
    options.cabinetName = cabbuild::SetNamer("OUT");
    options.setID = 9;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("big", Pattern(100000, 1));
    auto cabs = Records(writer);
    ASSERT_EQ(cabs.size(), 3u);
    EXPECT_EQ(cabs[0].fileName, "OUT.cab");
    EXPECT_EQ(cabs[1].fileName, "OUT2.cab");
    EXPECT_EQ(cabs[2].fileName, "OUT3.cab");
    for (unsigned k = 0; k < 3; ++k) {
        EXPECT_EQ(cabs[k].iCabinet, k);
        EXPECT_EQ(cabs[k].setID, 9);
        EXPECT_EQ(cabs[k].hasPrev, k > 0);
        EXPECT_EQ(cabs[k].hasNext, k < 2);
        EXPECT_LE(cabs[k].cbCabinet, 40000u);
    }
    EXPECT_EQ(cabs[1].prevCabinet, "OUT.cab");
    EXPECT_EQ(cabs[1].nextCabinet, "OUT3.cab");
    // The one file runs through all three.
    EXPECT_EQ(cabs[0].files[0].iFolder, 0xFFFE);
    EXPECT_EQ(cabs[1].files[0].iFolder, 0xFFFF);
    EXPECT_EQ(cabs[2].files[0].iFolder, 0xFFFD);
    // Split blocks: a first part with cbUncomp 0 ends each of the first two.
    EXPECT_EQ(cabs[0].folders[0].blocks.back().cbUncomp, 0);
    EXPECT_EQ(cabs[1].folders[0].blocks.back().cbUncomp, 0);
}

TEST(Writer, ContinuedFilesOpenTheNextCabinetInTheSameOrder) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = 35000;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a", Pattern(40000, 1));
    writer.AddFile("b", Pattern(1000, 2));
    writer.AddFile("c", Pattern(1000, 3));
    auto cabs = Records(writer);
    ASSERT_EQ(cabs.size(), 2u);
    std::vector<std::string> continued, resumed;
    for (const auto& f : cabs[0].files)
        if (f.iFolder == 0xFFFE) continued.push_back(f.name);
    for (const auto& f : cabs[1].files)
        if (f.iFolder == 0xFFFD) resumed.push_back(f.name);
    EXPECT_EQ(continued, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(resumed, continued);
    // Offsets count from the start of the whole folder in every cabinet.
    EXPECT_EQ(cabs[1].files[1].uoffFolderStart, 40000u);
}

TEST(Writer, FullCabinetAtAFileBoundaryStartsANewFolder) {
    // "a" fills one block exactly; the limit leaves no room for any of "b".
    cabbuild::SetOptions options;
    options.maxCabinetSize = 36 + 10 + 8 + 18 + 8 + 32768 + 20;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a", Pattern(32768, 1));
    writer.AddFile("b", Pattern(100, 2));
    auto cabs = Records(writer);
    ASSERT_EQ(cabs.size(), 2u);
    ASSERT_EQ(cabs[1].files.size(), 1u);
    EXPECT_EQ(cabs[1].files[0].iFolder, 0) << "b starts a folder of its own";
    EXPECT_EQ(cabs[1].files[0].uoffFolderStart, 0u);
    Files files;
    for (const auto& cab : cabs) files[cab.fileName] = cabbuild::SerializeCabinet(cab);
    auto r = testsupport::RunFdiCopy(files, "set2.cab");  // extractable from its own cabinet
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files["b"], Pattern(100, 2));
}

TEST(Writer, LimitsOfTheFormatAreReported) {
    std::string error;
    std::vector<CabinetRecord> cabs;
    cabbuild::SetOptions tiny;
    tiny.maxCabinetSize = 5000;
    cabbuild::CabinetWriter small(tiny);
    small.AddFile("a", Pattern(50000, 1));
    EXPECT_FALSE(small.BuildRecords(&cabs, &error));
    EXPECT_NE(error.find("too small"), std::string::npos) << error;

    cabbuild::CabinetWriter bad;
    EXPECT_FALSE(bad.StartFolder("zip", &error));
    EXPECT_FALSE(error.empty());
}

TEST(Writer, EmptySetAndEmptyFolders) {
    cabbuild::CabinetWriter writer;
    writer.StartFolder(cabbuild::MakeStoredCompressor);
    writer.StartFolder(cabbuild::MakeStoredCompressor);
    writer.AddFile("zero", {});
    auto cabs = Records(writer);
    ASSERT_EQ(cabs.size(), 1u);
    EXPECT_EQ(cabs[0].cFolders, 2);
    EXPECT_EQ(cabs[0].folders[1].cCFData, 0);
    EXPECT_EQ(cabs[0].files[0].iFolder, 1);
    Files files{{"set.cab", cabbuild::SerializeCabinet(cabs[0])}};
    auto r = testsupport::RunFdiCopy(files, "set.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.count("zero"), 1u);
}
