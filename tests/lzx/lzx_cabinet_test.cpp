// LZX cabinets built by our writer extract through FDICopy to the original
// files: every window size, alone and as sets whose blocks are split.
#include <gtest/gtest.h>

#include "cabbuild/cabinet_writer.h"
#include "lzx_test_support.h"
#include "tests/support/memory_fdi.h"

namespace {

using Files = std::map<std::string, std::vector<uint8_t>>;
using lzx_test::MixedData;

Files SampleFiles(size_t scale) {
    Files files;
    files["big.bin"] = MixedData(3 * 32768 * scale + 1234, 41);
    files["empty"] = {};
    files["one"] = {0xE8};
    files["dir\\exact.bin"] = MixedData(32768, 42);
    files["runs"] = std::vector<uint8_t>(70000, 0x55);
    files["tail.bin"] = MixedData(50001, 43);
    return files;
}

// Folders of three files each; `methods` gives each folder's method in turn.
std::vector<cabbuild::CabinetImage> Build(const Files& files,
                                          const std::vector<std::string>& methods,
                                          uint32_t maxCabinetSize) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = maxCabinetSize;
    options.cabinetName = cabbuild::SetNamer("lzx");
    cabbuild::CabinetWriter writer(options);
    std::string error;
    size_t i = 0;
    for (const auto& [name, data] : files) {
        if (i % 3 == 0) {
            EXPECT_TRUE(writer.StartFolder(methods[(i / 3) % methods.size()], &error)) << error;
        }
        ++i;
        writer.AddFile(name, data);
    }
    std::vector<cabbuild::CabinetImage> images;
    EXPECT_TRUE(writer.Build(&images, &error)) << error;
    return images;
}

testsupport::ExtractResult ExtractAll(const std::vector<cabbuild::CabinetImage>& images) {
    std::vector<std::string> order;
    for (const auto& image : images) order.push_back(image.name);
    return testsupport::ExtractSet(testsupport::AsFiles(images), order);
}

class LzxCabinet : public ::testing::TestWithParam<int> {};

TEST_P(LzxCabinet, SingleCabinetWithTwoFolders) {
    const std::string method = "lzx:" + std::to_string(GetParam());
    const Files files = SampleFiles(1);
    const auto images = Build(files, {method}, 0);
    ASSERT_EQ(images.size(), 1u);
    const auto result = ExtractAll(images);
    ASSERT_TRUE(result.ok) << "error " << result.erf.erfOper;
    EXPECT_TRUE(result.files == files);
}

TEST_P(LzxCabinet, SetWithSplitBlocks) {
    const std::string method = "lzx:" + std::to_string(GetParam());
    const Files files = SampleFiles(2);
    const auto images = Build(files, {method}, 12000);
    ASSERT_GE(images.size(), 3u);
    const auto result = ExtractAll(images);
    ASSERT_TRUE(result.ok) << "error " << result.erf.erfOper;
    EXPECT_TRUE(result.files == files);
}

INSTANTIATE_TEST_SUITE_P(AllWindows, LzxCabinet, ::testing::Range(15, 22));

TEST(LzxCabinetMixed, FoldersWithDifferentWindowsAndMethods) {
    const Files files = SampleFiles(1);
    const auto images = Build(files, {"lzx:15", "lzx:21", "mszip", "lzx:17"}, 0);
    const auto result = ExtractAll(images);
    ASSERT_TRUE(result.ok) << "error " << result.erf.erfOper;
    EXPECT_TRUE(result.files == files);
}

TEST(LzxCabinetMixed, DamagedBlockFailsTheExtraction) {
    Files files;
    files["a.bin"] = MixedData(100000, 5);
    cabbuild::SetOptions options;
    options.checksums = false;  // let the damage reach the decoder
    cabbuild::CabinetWriter writer(options);
    std::string error;
    ASSERT_TRUE(writer.StartFolder("lzx:16", &error));
    writer.AddFile("a.bin", files["a.bin"]);
    std::vector<cabbuild::CabinetImage> images;
    ASSERT_TRUE(writer.Build(&images, &error)) << error;
    auto& bytes = images[0].bytes;
    for (size_t i = bytes.size() - 2000; i < bytes.size() - 1000; ++i) bytes[i] ^= 0x5A;
    const auto result = ExtractAll(images);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FDIERROR_MDI_FAIL);
}

}  // namespace
