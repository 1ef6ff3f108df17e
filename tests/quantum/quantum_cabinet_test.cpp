// Quantum cabinets built by our writer extract through FDICopy to the
// original files, for every window size, with the window in memory and in a
// spill file, as single cabinets and as sets whose blocks are split.
#include <gtest/gtest.h>

#include "cabbuild/cabinet_writer.h"
#include "decoders/quantum_state.h"
#include "quantum_test_support.h"
#include "tests/support/memory_fdi.h"

namespace {

using Files = std::map<std::string, std::vector<uint8_t>>;

// Context callbacks: the in-memory ones, except that an allocation of the
// refused size fails and the spill request gets a real temporary file.
constexpr int kSpillHandleBase = 1000000;
uint32_t g_refuseSize = 0;
int g_spillOpens = 0;

// Only the window is refused: the allocation of its size that follows the
// decoder's handle (the engine's 32768-byte output buffer may share the size).
void* Alloc(uint32_t cb) {
    static uint32_t last = 0;
    const bool refuse = cb == g_refuseSize && last == sizeof(quantum::QuantumDecoder);
    last = cb;
    return refuse ? nullptr : testsupport::MemAlloc(cb);
}
int Open(const char* path, int oflag, int pmode) {
    if (path[0] == '*' && path[1] == 0) {
        const int fd = qtest::SpillFiles::Open(path, oflag, pmode);
        if (fd == -1) return -1;
        ++g_spillOpens;
        return fd + kSpillHandleBase;
    }
    return testsupport::MemOpen(path, oflag, pmode);
}
uint32_t Read(int hf, void* pv, uint32_t cb) {
    return hf >= kSpillHandleBase ? qtest::SpillFiles::Read(hf - kSpillHandleBase, pv, cb)
                                  : testsupport::MemRead(hf, pv, cb);
}
uint32_t Write(int hf, const void* pv, uint32_t cb) {
    return hf >= kSpillHandleBase ? qtest::SpillFiles::Write(hf - kSpillHandleBase, pv, cb)
                                  : testsupport::MemWrite(hf, pv, cb);
}
int Close(int hf) {
    return hf >= kSpillHandleBase ? qtest::SpillFiles::Close(hf - kSpillHandleBase)
                                  : testsupport::MemClose(hf);
}
int32_t Seek(int hf, int32_t dist, int type) {
    return hf >= kSpillHandleBase ? qtest::SpillFiles::Seek(hf - kSpillHandleBase, dist, type)
                                  : testsupport::MemSeek(hf, dist, type);
}

Files SampleFiles(size_t scale) {
    Files files;
    files["big.txt"] = qtest::MixedData(3 * 32768 * scale + 1234, 41);
    files["empty"] = {};
    files["one"] = {7};
    files["dir\\exact.bin"] = qtest::MixedData(32768, 42);
    files["runs"] = std::vector<uint8_t>(70000, 0x55);
    files["tail.txt"] = qtest::MixedData(50000, 43);
    return files;
}

std::vector<cabbuild::CabinetImage> Build(const Files& files, const std::string& method,
                                          uint32_t maxCabinetSize) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = maxCabinetSize;
    options.cabinetName = cabbuild::SetNamer("q");
    cabbuild::CabinetWriter writer(options);
    std::string error;
    size_t i = 0;
    for (const auto& [name, data] : files) {
        // Two folders: the second one resets the decoder rather than recreating it.
        if (i++ % 3 == 0) {
            EXPECT_TRUE(writer.StartFolder(method, &error)) << error;
        }
        writer.AddFile(name, data);
    }
    std::vector<cabbuild::CabinetImage> images;
    EXPECT_TRUE(writer.Build(&images, &error)) << error;
    return images;
}

// Extracts every cabinet of the set in order on one context.
testsupport::ExtractResult ExtractAll(const std::vector<cabbuild::CabinetImage>& images,
                                      uint32_t refuseSize) {
    testsupport::MemoryFs fs;
    fs.files = testsupport::AsFiles(images);
    testsupport::ScopedMemoryFs scope(&fs);
    g_refuseSize = refuseSize;
    ERF erf{};
    HFDI hfdi =
        FDICreate(Alloc, testsupport::MemFree, Open, Read, Write, Close, Seek, cpu80386, &erf);
    testsupport::ExtractResult all;
    if (!hfdi) return all;
    all.ok = true;
    for (const auto& image : images) {
        auto one = testsupport::RunFdiCopyOn(fs, hfdi, &erf, image.name);
        for (auto& [name, bytes] : one.files) all.files[name] = std::move(bytes);
        if (!one.ok) {
            all.ok = false;
            all.erf = one.erf;
            break;
        }
    }
    FDIDestroy(hfdi);
    g_refuseSize = 0;
    all.handlesLeftOpen = fs.OpenHandles();
    return all;
}

class QuantumCabinet : public ::testing::TestWithParam<int> {};

TEST_P(QuantumCabinet, ExtractsInMemoryAndSpillModeAlone) {
    const int bits = GetParam();
    const Files files = SampleFiles(1);
    const auto images = Build(files, "quantum:" + std::to_string(bits), 0);
    ASSERT_EQ(images.size(), 1u);
    for (bool spill : {false, true}) {
        const int opens = g_spillOpens;
        const auto result = ExtractAll(images, spill ? 1u << bits : 0);
        ASSERT_TRUE(result.ok) << bits << " spill " << spill << " error " << result.erf.erfOper;
        EXPECT_TRUE(result.files == files) << bits << " spill " << spill;
        EXPECT_EQ(g_spillOpens - opens, spill ? 1 : 0);
    }
}

TEST_P(QuantumCabinet, ExtractsSetsWithSplitBlocks) {
    const int bits = GetParam();
    const Files files = SampleFiles(2);
    const auto images = Build(files, "quantum:" + std::to_string(bits), 20000);
    ASSERT_GE(images.size(), 3u);
    for (bool spill : {false, true}) {
        const auto result = ExtractAll(images, spill ? 1u << bits : 0);
        ASSERT_TRUE(result.ok) << bits << " spill " << spill << " error " << result.erf.erfOper;
        EXPECT_TRUE(result.files == files) << bits << " spill " << spill;
    }
}

INSTANTIATE_TEST_SUITE_P(AllWindows, QuantumCabinet, ::testing::Range(10, 22));

TEST(QuantumCabinetFailures, DamagedBlockAndRefusedSpill) {
    Files files;
    files["a.txt"] = qtest::MixedData(20000, 5);
    auto images = Build(files, "quantum:16", 0);
    // Without the window and with the spill request refused, the decoder
    // cannot be created.
    qtest::SpillFiles::refuseOpen = true;
    auto result = ExtractAll(images, 1u << 16);
    qtest::SpillFiles::refuseOpen = false;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FDIERROR_ALLOC_FAIL);
    // A truncated folder: the last data block loses its final bytes.
    auto& bytes = images[0].bytes;
    bytes.resize(bytes.size() - 3);
    result = ExtractAll(images, 0);
    EXPECT_FALSE(result.ok);
}

}  // namespace
