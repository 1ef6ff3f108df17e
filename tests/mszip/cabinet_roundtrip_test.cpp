// MSZIP cabinets built by our writer (zlib underneath) extract through
// FDICopy to the original files: single cabinets, mixed folders and sets.
#include <gtest/gtest.h>

#include <algorithm>

#include "cabbuild/cabinet_writer.h"
#include "tests/mszip/mszip_helpers.h"
#include "tests/support/memory_fdi.h"

namespace mszip_test {
namespace {

using Files = std::map<std::string, Bytes>;

Files SampleFiles() {
    Files files;
    files["big.txt"] = PatternData(3 * kBlock + 1234, 21);  // spans several blocks
    files["empty"] = {};
    files["small.bin"] = RandomData(100, 22);
    files["dir\\exact.txt"] = PatternData(kBlock, 23);
    files["runs"] = Bytes(70000, 0x55);
    files["mixed.bin"] = RandomData(50000, 24);
    return files;
}

std::vector<cabbuild::CabinetImage> Build(const Files& files,
                                          const std::vector<std::string>& methods,
                                          uint32_t maxCabinetSize = 0, bool checksums = true) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = maxCabinetSize;
    options.checksums = checksums;
    options.cabinetName = cabbuild::SetNamer("pack");
    cabbuild::CabinetWriter writer(options);
    size_t i = 0;
    std::string error;
    for (const auto& [name, data] : files) {
        // Cycle through the methods, a new folder every other file.
        if (i % 2 == 0) {
            EXPECT_TRUE(writer.StartFolder(methods[(i / 2) % methods.size()], &error)) << error;
        }
        writer.AddFile(name, data);
        ++i;
    }
    std::vector<cabbuild::CabinetImage> images;
    EXPECT_TRUE(writer.Build(&images, &error)) << error;
    return images;
}

TEST(MszipCabinet, EveryLevelRoundTripsThroughFdiCopy) {
    const Files files = SampleFiles();
    for (int level = 0; level <= 9; ++level) {
        const std::string method = "mszip:" + std::to_string(level);
        const auto images = Build(files, {method});
        ASSERT_EQ(images.size(), 1u);
        const auto result = testsupport::RunFdiCopy(testsupport::AsFiles(images), images[0].name);
        ASSERT_TRUE(result.ok) << method << " error " << result.erf.erfOper;
        EXPECT_TRUE(result.files == files) << method;
    }
}

TEST(MszipCabinet, FoldersOfDifferentMethodsAndSets) {
    const Files files = SampleFiles();
    const auto single = Build(files, {"mszip", "none", "mszip:1"});
    auto result = testsupport::RunFdiCopy(testsupport::AsFiles(single), single[0].name);
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_TRUE(result.files == files);

    // A set of small cabinets: folders continue across cabinets, blocks are split.
    const auto set = Build(files, {"mszip:9", "none"}, 34000);
    ASSERT_GE(set.size(), 3u);
    std::vector<std::string> order;
    for (const auto& image : set) order.push_back(image.name);
    result = testsupport::ExtractSet(testsupport::AsFiles(set), order);
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_TRUE(result.files == files);
}

TEST(MszipCabinet, DamagedBlockFailsAsDecoderFailure) {
    Files files;
    files["a.txt"] = PatternData(5000, 31);
    auto images = Build(files, {"mszip"}, 0, /*checksums=*/false);
    // The only data block starts right after its 8-byte header, at the end of the cabinet.
    Bytes& bytes = images[0].bytes;
    const auto ck = std::search(bytes.begin(), bytes.end(), std::begin("CK"), std::begin("CK") + 2);
    ASSERT_NE(ck, bytes.end());
    ck[1] = 'X';
    const auto result = testsupport::RunFdiCopy(testsupport::AsFiles(images), images[0].name);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FDIERROR_MDI_FAIL);
}

}  // namespace
}  // namespace mszip_test
