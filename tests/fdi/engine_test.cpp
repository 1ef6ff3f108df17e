// The context as a whole: allocation failures, the error record, reuse
// across calls, bounded memory, decoder buffers and two threads at once.
#include <algorithm>
#include <cstring>
#include <thread>

#include "tests/fdi/fixtures.h"

using namespace fditest;
using testsupport::ExtractOptions;
using testsupport::MemoryFs;
using testsupport::RunFdiCopyOn;
using testsupport::ScopedMemoryFs;

namespace {

Files ReservedSet() {
    cabbuild::SetOptions options;
    options.maxCabinetSize = 45000;
    options.headerReserve = {1, 2, 3, 4, 5};
    options.folderReserveSize = 3;
    options.dataReserveSize = 2;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a", Pattern(20000, 1));
    writer.AddFile("b", Pattern(90000, 2));
    writer.StartFolder(cabbuild::MakeStoredCompressor);
    writer.AddFile("c", Pattern(3000, 3));
    return BuildSet(writer);
}

}  // namespace

TEST(Context, EveryAllocationFailureIsReportedAndNothingLeaks) {
    Files files = ReservedSet();
    bool succeeded = false;
    for (int failAt = 1; failAt < 50 && !succeeded; ++failAt) {
        MemoryFs fs;
        fs.files = files;
        ScopedMemoryFs scope(&fs);
        fs.failAllocAt = failAt;
        ERF erf{};
        HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
        if (!hfdi) {
            EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
            EXPECT_EQ(erf.fError, 1);
            continue;
        }
        auto r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
        if (r.ok) {
            succeeded = true;
            EXPECT_EQ(r.files["b"], Pattern(90000, 2));
        } else {
            EXPECT_EQ(r.erf.erfOper, FDIERROR_ALLOC_FAIL) << failAt;
        }
        EXPECT_EQ(fs.OpenHandles(), 0u) << failAt;
        FDIDestroy(hfdi);
        EXPECT_EQ(fs.bytesAllocated, 0u) << failAt;
    }
    EXPECT_TRUE(succeeded);
}

TEST(Context, ErfIsWrittenOnlyOnFailureWithTheFirstCode) {
    Files files = ReservedSet();
    MemoryFs fs;
    fs.files = files;
    ScopedMemoryFs scope(&fs);
    ERF erf{55, 66, 0};
    HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
    // A retried failure at fdintNEXT_CABINET is not the call's error.
    ExtractOptions options;
    int next = 0;
    options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t != fdintNEXT_CABINET) return std::nullopt;
        // The retry offers the name tried; the client corrects it.
        std::string name = next++ == 0 ? "nowhere.cab" : "set" + std::to_string(n->iCabinet + 1) + ".cab";
        std::strcpy(n->psz1, name.c_str());
        return next > 5 ? -1 : 0;
    };
    auto r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab", options);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(erf.erfOper, 55);
    EXPECT_EQ(erf.erfType, 66);
    EXPECT_EQ(erf.fError, 0);

    // A short write, whose cleanup close also fails, reports the write.
    fs.cabinetCloseResult = -1;
    ExtractOptions badHandle;
    badHandle.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION*) -> std::optional<intptr_t> {
        if (t == fdintCOPY_FILE) return 999;  // not an open handle: writes and closes fail
        return std::nullopt;
    };
    r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab", badHandle);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(erf.erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(erf.erfType, 0);
    EXPECT_EQ(erf.fError, 1);

    // A failing close of the cabinet before fdintNEXT_CABINET is corrupt.
    r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(erf.erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_TRUE(OfType(r, fdintNEXT_CABINET).empty());
    fs.cabinetCloseResult = 0;

    // The context stays usable after failures.
    r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.files["b"], Pattern(90000, 2));
    FDIDestroy(hfdi);
    EXPECT_EQ(fs.bytesAllocated, 0u);
}

TEST(Context, BuffersAreKeptWhileTheTypeWordStays) {
    cabbuild::CabinetWriter writer;
    for (int folder = 0; folder < 3; ++folder) {
        writer.StartFolder(cabbuild::MakeStoredCompressor);
        writer.AddFile("f" + std::to_string(folder), Pattern(5000, uint32_t(folder)));
    }
    Files same = BuildSet(writer);
    Files differing = BuildSet(writer, [](auto& cabs) { cabs[0].folders[1].typeCompress = 0x0100; });

    auto allocationsFor = [](const Files& files) {
        MemoryFs fs;
        fs.files = files;
        ScopedMemoryFs scope(&fs);
        ERF erf{};
        HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
        auto r1 = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
        uint64_t first = fs.allocationCount;
        auto r2 = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
        EXPECT_TRUE(r1.ok && r2.ok);
        EXPECT_EQ(r2.files["f2"], Pattern(5000, 2));
        uint64_t second = fs.allocationCount - first;
        FDIDestroy(hfdi);
        EXPECT_EQ(fs.bytesAllocated, 0u);
        return std::make_pair(first, second);
    };
    auto [sameFirst, sameSecond] = allocationsFor(same);
    auto [diffFirst, diffSecond] = allocationsFor(differing);
    // context, folder record, data record, one input buffer
    EXPECT_EQ(sameFirst, 4u);
    EXPECT_EQ(sameSecond, 0u) << "a later call reuses the buffers";
    EXPECT_EQ(diffFirst, 6u) << "two more changes of type word";
    EXPECT_EQ(diffSecond, 2u);
}

TEST(Context, MemoryStaysBoundedWhateverTheHeaderSays) {
    // A large stored file and a header claiming the most of everything.
    // A header reserve of 0xFFFF bytes once made every later cabinet
    // allocate another buffer.
    cabbuild::CabinetWriter writer;
    writer.AddFile("big", std::vector<uint8_t>(3 << 20, 0));
    Files files = BuildSet(writer, [](auto& cabs) {
        cabs[0].reservePresent = true;
        cabs[0].headerReserve.assign(65535, 0);
    });
    MemoryFs fs;
    fs.files = files;
    ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
    auto r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.files["big"].size(), size_t(3 << 20));
    EXPECT_LT(fs.peakAllocated, 65535u + 32768u + 8192u);

    auto bytes = files["set.cab"];
    PutLe16(bytes, 26, 0xFFFF);  // cFolders
    PutLe16(bytes, 28, 0xFFFF);  // cFiles
    fs.files["hostile.cab"] = bytes;
    r = RunFdiCopyOn(fs, hfdi, &erf, "hostile.cab");
    EXPECT_FALSE(r.ok);  // the data block's header reads as an entry far beyond the folder
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_LT(fs.peakAllocated, 65535u + 32768u + 8192u);
    FDIDestroy(hfdi);
}

TEST(Context, TwoContextsOnTwoThreads) {
    auto makeSet = [](uint32_t seed) {
        cabbuild::SetOptions options;
        options.maxCabinetSize = 40000;
        cabbuild::CabinetWriter writer(options);
        for (uint32_t i = 0; i < 5; ++i) writer.AddFile("f" + std::to_string(i), Pattern(15000 + i * 1000, seed + i));
        return BuildSet(writer);
    };
    auto work = [&](uint32_t seed, bool* ok) {
        Files files = makeSet(seed);
        std::vector<std::string> order;
        for (const auto& [name, bytes] : files) order.push_back(name);
        std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        *ok = true;
        for (int round = 0; round < 20; ++round) {
            auto r = testsupport::ExtractSet(files, order);
            for (uint32_t i = 0; i < 5; ++i)
                *ok = *ok && r.ok && r.files["f" + std::to_string(i)] == Pattern(15000 + i * 1000, seed + i);
        }
    };
    bool ok1 = false, ok2 = false;
    std::thread t1(work, 100u, &ok1), t2(work, 200u, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

TEST(Decoders, CompressedFoldersRoundTripWhenTheirCodecIsBuilt) {
    for (const char* method : {"mszip:6", "lzx:16", "quantum:16"}) {
        std::string error;
        if (!cabbuild::MakeCompressor(method, &error)) continue;  // codec not built yet
        cabbuild::CabinetWriter writer;
        ASSERT_TRUE(writer.StartFolder(method, &error)) << error;
        std::vector<uint8_t> text;
        for (int i = 0; i < 5000; ++i)
            for (char ch : "line " + std::to_string(i % 97) + " of text\n") text.push_back(uint8_t(ch));
        writer.AddFile("text", text);
        writer.AddFile("noise", Pattern(50000, 4));
        ASSERT_TRUE(writer.StartFolder(method, &error));
        writer.AddFile("second", Pattern(1000, 5));
        auto r = testsupport::RunFdiCopy(BuildSet(writer), "set.cab");
        ASSERT_TRUE(r.ok) << method << " " << r.erf.erfOper;
        EXPECT_EQ(r.files["text"], text) << method;
        EXPECT_EQ(r.files["noise"], Pattern(50000, 4)) << method;
        EXPECT_EQ(r.files["second"], Pattern(1000, 5)) << method;
    }
}

TEST(Decoders, SameTypeWordResetsDifferentWindowRecreates) {
    std::string error;
    if (!cabbuild::MakeCompressor("lzx:16", &error)) GTEST_SKIP() << "LZX compressor not built";
    auto build = [](const char* first, const char* second) {
        cabbuild::CabinetWriter writer;
        std::string e;
        EXPECT_TRUE(writer.StartFolder(first, &e));
        writer.AddFile("one", Pattern(20000, 1));
        EXPECT_TRUE(writer.StartFolder(second, &e));
        writer.AddFile("two", Pattern(20000, 2));
        return BuildSet(writer);
    };
    // Allocations made while the second folder is entered.
    auto allocationsForSecond = [](const Files& files) {
        MemoryFs fs;
        fs.files = files;
        ScopedMemoryFs scope(&fs);
        ERF erf{};
        HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
        uint64_t before = 0;
        ExtractOptions options;
        options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
            if (t == fdintCOPY_FILE && std::string(n->psz1) == "two") before = fs.allocationCount;
            return std::nullopt;
        };
        auto r = RunFdiCopyOn(fs, hfdi, &erf, "set.cab", options);
        EXPECT_TRUE(r.ok) << r.erf.erfOper;
        EXPECT_EQ(r.files["two"], Pattern(20000, 2));
        uint64_t during = fs.allocationCount - before;
        FDIDestroy(hfdi);
        EXPECT_EQ(fs.bytesAllocated, 0u);
        return during;
    };
    EXPECT_EQ(allocationsForSecond(build("lzx:16", "lzx:16")), 0u) << "the decoder is reset, not created again";
    EXPECT_GT(allocationsForSecond(build("lzx:16", "lzx:17")), 2u);
}
