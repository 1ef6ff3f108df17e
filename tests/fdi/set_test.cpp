// Cabinet sets: following a folder into the next cabinet, split blocks, the
// fdintNEXT_CABINET retry loop, skip counts and reserve sizes across cabinets.
#include <cstring>

#include "tests/fdi/fixtures.h"

using namespace fditest;
using testsupport::ExtractOptions;
using testsupport::RunFdiCopy;

namespace {

struct SetFile {
    std::string name;
    std::vector<uint8_t> data;
};

// One stored folder over three cabinets: "big" runs across both joins.
std::vector<SetFile> ThreeCabinetFiles() {
    return {{"head", Pattern(20000, 1)}, {"big", Pattern(90000, 2)}, {"tail", Pattern(5000, 3)}};
}

Files BuildFiles(const std::vector<SetFile>& files, uint32_t maxSize,
                 const std::function<void(std::vector<CabinetRecord>&)>& change = {}, bool split = true,
                 bool refinalize = true) {
    cabbuild::SetOptions options;
    options.maxCabinetSize = maxSize;
    options.setID = 777;
    options.splitBlocks = split;
    options.diskName = [](unsigned k) { return "Disk " + std::to_string(k + 1); };
    cabbuild::CabinetWriter writer(options);
    for (const auto& f : files) writer.AddFile(f.name, f.data);
    return BuildSet(writer, change, refinalize);
}

std::vector<std::string> Names(const Files& files) {
    std::vector<std::string> names{"set.cab"};
    for (size_t k = 2; k <= files.size(); ++k) names.push_back("set" + std::to_string(k) + ".cab");
    return names;
}

}  // namespace

TEST(Sets, FileContinuedAcrossBothJoinsIsExtractedFromTheFirstCabinet) {
    auto input = ThreeCabinetFiles();
    Files files = BuildFiles(input, 45000);
    ASSERT_EQ(files.size(), 3u);
    auto r = RunFdiCopy(files, "set.cab");
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(r.files["head"], input[0].data);
    EXPECT_EQ(r.files["big"], input[1].data);
    auto next = OfType(r, fdintNEXT_CABINET);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0]->psz1, "set2.cab");
    EXPECT_EQ(next[0]->psz2, "Disk 2");
    EXPECT_EQ(next[0]->setID, 777);
    EXPECT_EQ(next[0]->iCabinet, 1);
    EXPECT_EQ(next[0]->fdie, FDIERROR_NONE);
    EXPECT_EQ(next[1]->psz1, "set3.cab");
    EXPECT_EQ(next[1]->iCabinet, 2);
    EXPECT_EQ(OfType(r, fdintCABINET_INFO).size(), 3u);
    EXPECT_EQ(OfType(r, fdintPARTIAL_FILE).size(), 0u);
    EXPECT_EQ(r.handlesLeftOpen, 0u);

    // The whole set, one call per cabinet, gives every file exactly once.
    auto all = testsupport::ExtractSet(files, Names(files));
    ASSERT_TRUE(all.ok);
    for (const auto& f : input) EXPECT_EQ(all.files[f.name], f.data) << f.name;
    EXPECT_EQ(OfType(all, fdintCLOSE_FILE_INFO).size(), input.size());
}

TEST(Sets, SecondCabinetOpenedFirstReportsContinuedFilesAsPartial) {
    auto input = ThreeCabinetFiles();
    Files files = BuildFiles(input, 45000);
    auto r = RunFdiCopy(files, "set2.cab");
    ASSERT_TRUE(r.ok);
    auto partial = OfType(r, fdintPARTIAL_FILE);
    ASSERT_FALSE(partial.empty());
    EXPECT_EQ(partial[0]->psz1, "big");
    EXPECT_EQ(partial[0]->psz2, "set.cab");
    EXPECT_EQ(partial[0]->psz3, "Disk 1");
    EXPECT_EQ(r.files.count("big"), 0u);
    EXPECT_EQ(OfType(r, fdintNEXT_CABINET).size(), 0u);
}

TEST(Sets, WrongNextCabinetIsAskedForAgainUntilTheRightOne) {
    auto input = ThreeCabinetFiles();
    Files files = BuildFiles(input, 45000);
    // A cabinet of another set and one of the right set at the wrong index.
    Files otherSet = BuildFiles(input, 45000, [](auto& cabs) {
        for (auto& cab : cabs) cab.setID = 778;
    });
    files["other.cab"] = otherSet["set2.cab"];
    files["wrongindex.cab"] = files["set3.cab"];
    ExtractOptions options;
    int calls = 0;
    options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t != fdintNEXT_CABINET) return std::nullopt;
        const char* names[] = {"other.cab", "wrongindex.cab", "missing.cab", "set2.cab", "set3.cab"};
        std::strcpy(n->psz1, names[std::min(calls++, 4)]);
        return 0;
    };
    auto r = RunFdiCopy(files, "set.cab", options);
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(r.files["big"], input[1].data);
    auto next = OfType(r, fdintNEXT_CABINET);
    ASSERT_EQ(next.size(), 5u);
    EXPECT_EQ(next[0]->fdie, FDIERROR_NONE);
    EXPECT_EQ(next[1]->fdie, FDIERROR_WRONG_CABINET);
    EXPECT_EQ(next[1]->psz1, "other.cab") << "the retry shows the name that was tried";
    EXPECT_EQ(next[2]->fdie, FDIERROR_WRONG_CABINET);
    EXPECT_EQ(next[3]->fdie, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(next[3]->iCabinet, 1);
    EXPECT_EQ(next[4]->fdie, FDIERROR_NONE);
    EXPECT_EQ(next[4]->iCabinet, 2);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}

TEST(Sets, GivingUpAtTheRetryIsAUserAbort) {
    Files files = BuildFiles(ThreeCabinetFiles(), 45000);
    files.erase("set2.cab");
    auto r = RunFdiCopy(files, "set.cab");  // the helper answers -1 to a repeated request
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_USER_ABORT);
    ASSERT_EQ(OfType(r, fdintNEXT_CABINET).size(), 2u);
    EXPECT_EQ(OfType(r, fdintNEXT_CABINET)[1]->fdie, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(r.handlesLeftOpen, 0u) << "including the partly written file";
}

TEST(Sets, SplitBlockPartsAreCheckedApartAndJoined) {
    auto input = ThreeCabinetFiles();
    Files files = BuildFiles(input, 45000);
    ExtractOptions options;
    options.decrypt = true;
    auto r = RunFdiCopy(files, "set.cab", options);
    ASSERT_TRUE(r.ok);
    std::vector<const testsupport::DecryptCall*> split;
    for (const auto& d : r.decrypts)
        if (d.kind == fdidtDECRYPT && d.split) split.push_back(&d);
    ASSERT_GE(split.size(), 2u);
    EXPECT_EQ(split[0]->cbPartial, 0);
    EXPECT_EQ(split[1]->cbPartial, split[0]->cbData);
    EXPECT_EQ(split[1]->cbData, split[0]->cbData + split[1]->data.size());

    // A damaged second part fails its own checksum.
    Files damaged = BuildFiles(
        input, 45000, [](auto& cabs) { cabs[1].folders[0].blocks[0].data[0] ^= 1; }, true, false);
    r = RunFdiCopy(damaged, "set.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
}

TEST(Sets, LayoutsOfTheWriterExtractCompletely) {
    struct Case {
        uint32_t maxSize;
        bool split;
    } cases[] = {{0, true}, {45000, true}, {45000, false}, {34000, true}, {70000, true}, {33500, false}};
    std::vector<SetFile> input;
    for (uint32_t i = 0; i < 12; ++i) input.push_back({"f" + std::to_string(i), Pattern(i * 7919 % 30000, i)});
    input.push_back({"zero", {}});
    input.push_back({"large", Pattern(100000, 99)});
    for (const auto& c : cases) {
        Files files = BuildFiles(input, c.maxSize, {}, c.split);
        for (const auto& [name, bytes] : files) {
            if (c.maxSize) {
                EXPECT_LE(bytes.size(), c.maxSize) << name;
            }
        }
        auto all = testsupport::ExtractSet(files, Names(files));
        ASSERT_TRUE(all.ok) << c.maxSize << " " << all.erf.erfOper;
        for (const auto& f : input) EXPECT_EQ(all.files[f.name], f.data) << f.name << " max " << c.maxSize;
        EXPECT_EQ(OfType(all, fdintCLOSE_FILE_INFO).size(), input.size()) << c.maxSize;
    }
}

TEST(Sets, SkippedContinuedFilesAreSkippedInTheNextCabinetToo) {
    // a, b and c all touch the block split between the two cabinets.
    std::vector<SetFile> input = {{"a", Pattern(40000, 1)}, {"b", Pattern(1000, 2)}, {"c", Pattern(1000, 3)}};
    Files files = BuildFiles(input, 35000);
    ASSERT_EQ(files.size(), 2u);
    ExtractOptions skipA;
    skipA.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t == fdintCOPY_FILE && std::string(n->psz1) == "a") return 0;
        return std::nullopt;
    };
    auto r = RunFdiCopy(files, "set.cab", skipA);
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(r.files.count("a"), 0u);
    EXPECT_EQ(r.files["b"], input[1].data);
    EXPECT_EQ(r.files["c"], input[2].data);

    // The next cabinet lists fewer entries than there are to skip.
    Files shortList = BuildFiles(input, 35000, [](auto& cabs) { cabs[1].files.resize(1); });
    r = RunFdiCopy(shortList, "set.cab", skipA);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
}

TEST(Sets, DamagedContinuationsAreCorrupt) {
    std::vector<SetFile> input = {{"a", Pattern(40000, 1)}, {"b", Pattern(1000, 2)}, {"c", Pattern(1000, 3)}};
    struct Case {
        const char* what;
        std::function<void(std::vector<CabinetRecord>&)> change;
        FDIERROR code;  // a failure that a retry could cure is offered again, then given up
    } cases[] = {
        {"continued file starting before the block in the buffer",
         [](auto& cabs) { cabs[1].files[2].uoffFolderStart = 0; }, FDIERROR_CORRUPT_CABINET},
        {"continued folder with another type word", [](auto& cabs) { cabs[1].folders[0].typeCompress = 0x0100; },
         FDIERROR_CORRUPT_CABINET},
        {"no folder in the next cabinet", [](auto& cabs) { cabs[1].folders.clear(); }, FDIERROR_USER_ABORT},
    };
    for (const auto& c : cases) {
        Files files = BuildFiles(input, 35000, c.change);
        ExtractOptions options;
        int nextCalls = 0;
        options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION*) -> std::optional<intptr_t> {
            if (t == fdintNEXT_CABINET && nextCalls++ > 0) return -1;
            return std::nullopt;
        };
        auto r = RunFdiCopy(files, "set.cab", options);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.erf.erfOper, c.code) << c.what;
        EXPECT_EQ(nextCalls, c.code == FDIERROR_USER_ABORT ? 2 : 1) << c.what;
        if (nextCalls > 1) {
            EXPECT_EQ(OfType(r, fdintNEXT_CABINET)[1]->fdie, FDIERROR_CORRUPT_CABINET) << c.what;
        }
        EXPECT_EQ(r.handlesLeftOpen, 0u) << c.what;
    }
}

TEST(Sets, FolderWithoutBlocksHereAsksForTheNextCabinetAtOnce) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("x", Pattern(100, 1));
    Files one = BuildSet(writer, [](auto& cabs) {
        CabinetRecord second = cabs[0];
        cabs[0].hasNext = true;
        cabs[0].nextCabinet = "b.cab";
        cabs[0].folders[0].blocks.clear();
        cabs[0].files[0].iFolder = 0xFFFE;
        second.fileName = "b.cab";
        second.iCabinet = 1;
        second.hasPrev = true;
        second.prevCabinet = "set.cab";
        second.files[0].iFolder = 0xFFFD;
        cabs.push_back(second);
    });
    ExtractOptions options;
    options.decrypt = true;
    auto r = RunFdiCopy(one, "set.cab", options);
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(Sequence(r), (std::vector<std::string>{"CABINET_INFO", "ENUMERATE", "COPY_FILE", "NEXT_CABINET",
                                                     "CABINET_INFO", "CLOSE_FILE_INFO", "ENUMERATE"}));
    EXPECT_EQ(r.files["x"], Pattern(100, 1));
}

TEST(Sets, ReserveSizesBelongToTheFirstCabinetOfTheContext) {
    auto plain = [] {
        cabbuild::CabinetWriter writer;
        writer.AddFile("p", Pattern(10, 1));
        return BuildSet(writer)["set.cab"];
    }();
    auto reserved = [](std::vector<uint8_t> header, uint8_t data) {
        cabbuild::SetOptions options;
        options.headerReserve = std::move(header);
        options.dataReserveSize = data;
        cabbuild::CabinetWriter writer(options);
        writer.AddFile("r", Pattern(10, 2));
        return BuildSet(writer)["set.cab"];
    };
    auto runBoth = [](const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
        testsupport::MemoryFs fs;
        fs.files = {{"1.cab", first}, {"2.cab", second}};
        testsupport::ScopedMemoryFs scope(&fs);
        ERF erf{};
        HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
        auto r1 = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "1.cab");
        auto r2 = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "2.cab");
        FDIDestroy(hfdi);
        EXPECT_TRUE(r1.ok);
        return r2;
    };
    auto r = runBoth(plain, reserved({}, 4));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_RESERVE_MISMATCH);
    EXPECT_EQ(r.handlesLeftOpen, 0u);

    // The header reserve is read with the first cabinet's size: a second
    // cabinet whose cbCFHeader claims more is still read right.
    auto second = reserved({1, 2, 3, 4}, 0);
    second[36] = 8;
    r = runBoth(reserved({5, 6, 7, 8}, 0), second);
    EXPECT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(r.files["r"], Pattern(10, 2));
}

TEST(Sets, AFailedAttemptThatDroppedTheDecoderCannotContinueTheFolder) {
    std::vector<SetFile> input = {{"a", Pattern(40000, 1)}, {"b", Pattern(1000, 2)}};
    Files files = BuildFiles(input, 35000);
    Files bad = BuildFiles(input, 35000, [](auto& cabs) { cabs[1].folders[0].typeCompress = 4; });
    files["bad.cab"] = bad["set2.cab"];
    ExtractOptions options;
    int calls = 0;
    options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t != fdintNEXT_CABINET) return std::nullopt;
        std::strcpy(n->psz1, calls++ == 0 ? "bad.cab" : "set2.cab");
        return calls > 3 ? -1 : 0;
    };
    auto r = RunFdiCopy(files, "set.cab", options);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET) << "the first part of the split block is gone";
    auto next = OfType(r, fdintNEXT_CABINET);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[1]->fdie, FDIERROR_BAD_COMPR_TYPE);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}
