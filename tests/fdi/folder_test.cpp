// Finding a file's bytes in its folder: blocks read and decoded, checksums,
// decoders by type word, and the decrypt callback's calls.
#include "tests/fdi/fixtures.h"

using namespace fditest;
using testsupport::ExtractOptions;
using testsupport::RunFdiCopy;

namespace {

// Runs FDICopy with the decrypt callback on, noting at every close
// notification how many data blocks had been read so far.
struct Traced {
    testsupport::ExtractResult result;
    std::map<std::string, size_t> blocksReadAtClose;
};

Traced RunTraced(const Files& files, const std::string& cabinet = "set.cab") {
    Traced t;
    size_t blocks = 0;
    ExtractOptions options;
    options.decrypt = true;
    options.decryptAnswer = [&](FDIDECRYPT* d) {
        if (d->fdidt == fdidtDECRYPT) ++blocks;
        return 0;
    };
    options.answer = [&](FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (type == fdintCLOSE_FILE_INFO) t.blocksReadAtClose[n->psz1] = blocks;
        return std::nullopt;
    };
    t.result = RunFdiCopy(files, cabinet, options);
    return t;
}

}  // namespace

TEST(Blocks, TwoFilesInOneBlockReadItOnce) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("a", Pattern(1000, 1));
    writer.AddFile("b", Pattern(2000, 2));
    auto t = RunTraced(BuildSet(writer));
    ASSERT_TRUE(t.result.ok);
    EXPECT_EQ(t.blocksReadAtClose["a"], 1u);
    EXPECT_EQ(t.blocksReadAtClose["b"], 1u);
    EXPECT_EQ(t.result.files["b"], Pattern(2000, 2));
}

TEST(Blocks, FileEndingOnABoundaryDoesNotReadTheNextBlock) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("a", Pattern(2 * 32768, 1));
    writer.AddFile("b", Pattern(10, 2));
    auto t = RunTraced(BuildSet(writer));
    ASSERT_TRUE(t.result.ok);
    EXPECT_EQ(t.blocksReadAtClose["a"], 2u);
    EXPECT_EQ(t.blocksReadAtClose["b"], 3u);
    EXPECT_EQ(t.result.files["a"], Pattern(2 * 32768, 1));
    EXPECT_EQ(t.result.files["b"], Pattern(10, 2));
}

TEST(Blocks, FileListedAfterALaterFileDecodesTheFolderAgain) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("early", Pattern(40000, 1));
    writer.AddFile("late", Pattern(40000, 2));
    Files files = BuildSet(writer, [](auto& cabs) { std::swap(cabs[0].files[0], cabs[0].files[1]); });
    auto t = RunTraced(files);
    ASSERT_TRUE(t.result.ok);
    EXPECT_EQ(t.result.files["early"], Pattern(40000, 1));
    EXPECT_EQ(t.result.files["late"], Pattern(40000, 2));
    EXPECT_EQ(t.blocksReadAtClose["late"], 3u);
    EXPECT_EQ(t.blocksReadAtClose["early"], 5u);  // blocks 1 and 2 again
}

TEST(Blocks, FilesAcrossSeveralFoldersAndBlocks) {
    cabbuild::CabinetWriter writer;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> expected;
    for (int folder = 0; folder < 3; ++folder) {
        writer.StartFolder(cabbuild::MakeStoredCompressor);
        for (int i = 0; i < 4; ++i) {
            std::string name = "f" + std::to_string(folder) + "_" + std::to_string(i);
            auto data = Pattern(size_t(i * 17000 + folder * 5), uint32_t(folder * 10 + i));
            writer.AddFile(name, data);
            expected.emplace_back(name, data);
        }
    }
    auto r = RunFdiCopy(BuildSet(writer), "set.cab");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.files.size(), expected.size());
    for (const auto& [name, data] : expected) EXPECT_EQ(r.files[name], data) << name;
}

TEST(Blocks, ChecksumZeroIsNeverVerifiedAndAWrongOneIsCorrupt) {
    for (bool withChecksum : {false, true}) {
        cabbuild::SetOptions options;
        options.checksums = withChecksum;
        cabbuild::CabinetWriter writer(options);
        writer.AddFile("a", Pattern(100, 1));
        Files files = BuildSet(writer);
        auto& bytes = files["set.cab"];
        bytes.back() ^= 0x5A;  // damage the last data byte
        auto r = RunFdiCopy(files, "set.cab");
        if (withChecksum) {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
        } else {
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.files["a"].back(), uint8_t(Pattern(100, 1).back() ^ 0x5A));
        }
    }
}

TEST(Blocks, ChecksumCoversHeaderAndReserve) {
    cabbuild::SetOptions options;
    options.dataReserveSize = 6;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a", Pattern(100, 1));
    Files good = BuildSet(writer, [](auto& cabs) { cabs[0].folders[0].blocks[0].reserve = {1, 2, 3, 4, 5, 6}; });
    EXPECT_TRUE(RunFdiCopy(good, "set.cab").ok);
    Files bad = BuildSet(writer, [](auto& cabs) {
        cabbuild::FinalizeCabinet(cabs[0]);
        cabs[0].folders[0].blocks[0].reserve[5] = 9;  // after the checksum was taken
    }, false);
    auto r = RunFdiCopy(bad, "set.cab");
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
}

TEST(Blocks, MalformedBlocksFailWithTheirCode) {
    struct Case {
        const char* what;
        std::function<void(std::vector<CabinetRecord>&)> change;
        FDIERROR code;
    } cases[] = {
        {"stored cbUncomp differs from cbData",
         [](auto& cabs) {
             cabs[0].folders[0].blocks[0].cbUncomp = 99;
             cabs[0].folders[0].blocks[0].checksum = false;
         },
         FDIERROR_MDI_FAIL},
        {"stored block larger than the input buffer",
         [](auto& cabs) {
             auto& block = cabs[0].folders[0].blocks[0];
             block.data.resize(40000);
             block.cbUncomp = 40000;
             cabs[0].files[0].cbFile = 40000;
         },
         FDIERROR_CORRUPT_CABINET},
        {"folder without blocks in a cabinet without a next one",
         [](auto& cabs) { cabs[0].folders[0].blocks.clear(); }, FDIERROR_CORRUPT_CABINET},
        {"data blocks beyond the end", [](auto& cabs) { cabs[0].folders[0].coffCabStart = 0x7FFFFFFF; },
         FDIERROR_CORRUPT_CABINET},
        {"method 4", [](auto& cabs) { cabs[0].folders[0].typeCompress = 4; }, FDIERROR_BAD_COMPR_TYPE},
        {"method 15", [](auto& cabs) { cabs[0].folders[0].typeCompress = 15; }, FDIERROR_BAD_COMPR_TYPE},
        {"method 1 with bytes that are no MSZIP block", [](auto& cabs) { cabs[0].folders[0].typeCompress = 1; },
         FDIERROR_MDI_FAIL},
        {"method 3 with bytes that are no LZX block", [](auto& cabs) { cabs[0].folders[0].typeCompress = 0x1503; },
         FDIERROR_MDI_FAIL},
    };
    for (const auto& c : cases) {
        cabbuild::CabinetWriter writer;
        writer.AddFile("a", std::vector<uint8_t>(100, 0xFF));
        bool refinalize = std::string(c.what).find("beyond the end") == std::string::npos;
        auto r = RunFdiCopy(BuildSet(writer, c.change, refinalize), "set.cab");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.erf.erfOper, c.code) << c.what;
        EXPECT_EQ(r.handlesLeftOpen, 0u) << c.what;
    }
}

TEST(Blocks, BadMethodFailsOnlyWhenAFileOfThatFolderIsExtracted) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("stored", Pattern(100, 1));
    writer.StartFolder(cabbuild::MakeStoredCompressor);
    writer.AddFile("odd", Pattern(100, 2));
    Files files = BuildSet(writer, [](auto& cabs) { cabs[0].folders[1].typeCompress = 4; });

    auto r = RunFdiCopy(files, "set.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_BAD_COMPR_TYPE);
    EXPECT_EQ(r.files["stored"], Pattern(100, 1));

    ExtractOptions skipOdd;
    skipOdd.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t == fdintCOPY_FILE && std::string(n->psz1) == "odd") return 0;
        return std::nullopt;
    };
    r = RunFdiCopy(files, "set.cab", skipOdd);
    EXPECT_TRUE(r.ok);
}

TEST(Blocks, ReservesReachTheDecryptCallback) {
    cabbuild::SetOptions options;
    options.headerReserve = {9, 8, 7};
    options.folderReserveSize = 2;
    options.dataReserveSize = 3;
    options.setID = 5;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a", Pattern(40000, 1));
    Files files = BuildSet(writer, [](auto& cabs) {
        cabs[0].folders[0].reserve = {0xF1, 0xF2};
        cabs[0].folders[0].blocks[1].reserve = {0xD1, 0xD2, 0xD3};
    });
    ExtractOptions opts;
    opts.decrypt = true;
    auto r = RunFdiCopy(files, "set.cab", opts);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.decrypts.size(), 4u);
    EXPECT_EQ(r.decrypts[0].kind, fdidtNEW_CABINET);
    EXPECT_EQ(r.decrypts[0].reserve, (std::vector<uint8_t>{9, 8, 7}));
    EXPECT_EQ(r.decrypts[0].setID, 5);
    EXPECT_EQ(r.decrypts[1].kind, fdidtNEW_FOLDER);
    EXPECT_EQ(r.decrypts[1].reserve, (std::vector<uint8_t>{0xF1, 0xF2}));
    EXPECT_EQ(r.decrypts[2].kind, fdidtDECRYPT);
    EXPECT_EQ(r.decrypts[2].cbData, 32768);
    EXPECT_FALSE(r.decrypts[2].split);
    EXPECT_EQ(r.decrypts[3].reserve, (std::vector<uint8_t>{0xD1, 0xD2, 0xD3}));
    auto data = Pattern(40000, 1);
    EXPECT_EQ(r.decrypts[3].data, std::vector<uint8_t>(data.begin() + 32768, data.end()));

    // Without reserves the folder and data calls get NULL.
    cabbuild::CabinetWriter plain;
    plain.AddFile("a", Pattern(10, 1));
    r = RunFdiCopy(BuildSet(plain), "set.cab", opts);
    ASSERT_EQ(r.decrypts.size(), 3u);
    EXPECT_TRUE(r.decrypts[0].reserveNull);
    EXPECT_TRUE(r.decrypts[1].reserveNull);
    EXPECT_TRUE(r.decrypts[2].reserveNull);

    // -1 from the decrypt callback is a user abort.
    opts.decryptAnswer = [](FDIDECRYPT* d) { return d->fdidt == fdidtDECRYPT ? -1 : 0; };
    r = RunFdiCopy(files, "set.cab", opts);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_USER_ABORT);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}
