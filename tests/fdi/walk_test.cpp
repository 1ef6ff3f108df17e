// Walking the file list of one cabinet: notification order and fields, the
// client's answers, and what the engine does with each.
#include "tests/fdi/fixtures.h"

using namespace fditest;
using testsupport::ExtractOptions;
using testsupport::RunFdiCopy;

namespace {

Files ThreeFiles() {
    cabbuild::SetOptions options;
    options.setID = 42;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("one", Pattern(1000, 1), 0x1111, 0x2222, 0x21);
    writer.AddFile("two", Pattern(2000, 2), 0x3333, 0x4444, 0x61);
    writer.AddFile("three", Pattern(3000, 3), 0x5555, 0x6666, 0x01);
    return BuildSet(writer);
}

std::optional<intptr_t> Answer(FDINOTIFICATIONTYPE type, FDINOTIFICATIONTYPE at, intptr_t value) {
    if (type == at) return value;
    return std::nullopt;
}

}  // namespace

TEST(Walk, NotificationsInOrderWithTheirFields) {
    auto r = RunFdiCopy(ThreeFiles(), "set.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(Sequence(r), (std::vector<std::string>{"CABINET_INFO", "ENUMERATE", "COPY_FILE", "CLOSE_FILE_INFO",
                                                     "COPY_FILE", "CLOSE_FILE_INFO", "COPY_FILE", "CLOSE_FILE_INFO",
                                                     "ENUMERATE"}));
    const auto& info = r.notifications[0];
    EXPECT_EQ(info.psz1, "");
    EXPECT_EQ(info.psz3, "");
    EXPECT_EQ(info.setID, 42);
    EXPECT_EQ(info.iCabinet, 0);
    EXPECT_EQ(r.notifications[1].iFolder, 3);  // entries still to come
    EXPECT_EQ(r.notifications.back().iFolder, 0);

    const auto& copy = r.notifications[4];
    EXPECT_EQ(copy.psz1, "two");
    EXPECT_EQ(copy.cb, 2000);
    EXPECT_EQ(copy.date, 0x3333);
    EXPECT_EQ(copy.time, 0x4444);
    EXPECT_EQ(copy.attribs, 0x61);
    EXPECT_EQ(copy.iFolder, 0);
    // The run-after-extraction bit is reported apart at the close.
    const auto& closeTwo = r.notifications[5];
    EXPECT_EQ(closeTwo.attribs, 0x21);
    EXPECT_EQ(closeTwo.cb, 1);
    EXPECT_EQ(r.notifications[3].attribs, 0x21);
    EXPECT_EQ(r.notifications[3].cb, 0);

    EXPECT_EQ(r.files["one"], Pattern(1000, 1));
    EXPECT_EQ(r.files["two"], Pattern(2000, 2));
    EXPECT_EQ(r.files["three"], Pattern(3000, 3));
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}

TEST(Walk, CabinetWithoutFiles) {
    cabbuild::CabinetWriter writer;
    auto r = RunFdiCopy(BuildSet(writer), "set.cab");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(Sequence(r), (std::vector<std::string>{"CABINET_INFO", "ENUMERATE"}));
    EXPECT_EQ(r.notifications[1].iFolder, 0);
}

TEST(Walk, EmptyFileIsClosedWithoutReadingAnyBlock) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("empty", {});
    // The folder's table entry points nowhere: touching it would fail.
    Files files = BuildSet(writer, [](auto& cabs) { cabs[0].folders[0].coffCabStart = 0x7FFFFFF0; }, false);
    ExtractOptions options;
    options.decrypt = true;
    auto r = RunFdiCopy(files, "set.cab", options);
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(Sequence(r), (std::vector<std::string>{"CABINET_INFO", "ENUMERATE", "COPY_FILE", "CLOSE_FILE_INFO",
                                                     "ENUMERATE"}));
    EXPECT_EQ(r.files["empty"].size(), 0u);
    EXPECT_EQ(r.decrypts.size(), 1u);  // only the new-cabinet call
}

TEST(Walk, SkippedFilesAreNotWritten) {
    ExtractOptions options;
    options.answer = [](FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (type == fdintCOPY_FILE && std::string(n->psz1) == "two") return 0;
        return std::nullopt;
    };
    auto r = RunFdiCopy(ThreeFiles(), "set.cab", options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.count("two"), 0u);
    EXPECT_EQ(r.files["three"], Pattern(3000, 3));
}

TEST(Walk, MinusOneFromAnyNotificationAborts) {
    for (auto type : {fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE, fdintCLOSE_FILE_INFO}) {
        ExtractOptions options;
        options.answer = [type](FDINOTIFICATIONTYPE t, FDINOTIFICATION*) { return Answer(t, type, -1); };
        auto r = RunFdiCopy(ThreeFiles(), "set.cab", options);
        EXPECT_FALSE(r.ok) << type;
        EXPECT_EQ(r.erf.erfOper, FDIERROR_USER_ABORT) << type;
        EXPECT_EQ(r.handlesLeftOpen, 0u) << "the engine closes the handle after -1 at the close";
        EXPECT_EQ(OfType(r, type).size(), 1u);
    }
}

TEST(Walk, CloseAnsweredZeroIsATargetFailureAfterTheWholeFile) {
    testsupport::MemoryFs fs;
    fs.files = ThreeFiles();
    testsupport::ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
    ExtractOptions options;
    int handle = -1;
    options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t != fdintCLOSE_FILE_INFO) return std::nullopt;
        handle = n->hf;
        return 0;
    };
    auto r = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "set.cab", options);
    FDIDestroy(hfdi);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_TARGET_FILE);
    ASSERT_TRUE(fs.IsOpen(handle)) << "the handle is the client's after the close notification";
    EXPECT_EQ(fs.Output(handle), Pattern(1000, 1));
}

TEST(Walk, ShortWriteIsATargetFailureAndTheEngineClosesTheHandle) {
    testsupport::MemoryFs fs;
    fs.files = ThreeFiles();
    testsupport::ScopedMemoryFs scope(&fs);
    ERF erf{};
    struct Short {
        static uint32_t Write(int, const void*, uint32_t cb) { return cb - 1; }
    };
    HFDI hfdi = FDICreate(testsupport::MemAlloc, testsupport::MemFree, testsupport::MemOpen, testsupport::MemRead,
                          Short::Write, testsupport::MemClose, testsupport::MemSeek, cpu80386, &erf);
    auto r = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "set.cab");
    FDIDestroy(hfdi);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
    EXPECT_EQ(OfType(r, fdintCLOSE_FILE_INFO).size(), 0u);
}

TEST(Walk, EnumerateAnswerSetsCountAndPosition) {
    // Answer the first ENUMERATE with 1 entry at the third entry's offset.
    Files files = ThreeFiles();
    const auto& bytes = files["set.cab"];
    uint32_t coffFiles = uint32_t(bytes[16] | bytes[17] << 8);
    uint32_t third = coffFiles + 2 * 16 + 4 + 4;  // "one\0", "two\0"
    ExtractOptions options;
    int enumerates = 0;
    options.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t == fdintENUMERATE && enumerates++ == 0) {
            EXPECT_EQ(uint32_t(n->cb), coffFiles);
            n->cb = int32_t(third);
            n->iFolder = 1;
        }
        return std::nullopt;
    };
    auto r = RunFdiCopy(files, "set.cab", options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files["three"], Pattern(3000, 3));

    // A position that cannot be reached is a user abort; 0 ends the walk.
    options.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t == fdintENUMERATE) n->cb = -5;
        return std::nullopt;
    };
    r = RunFdiCopy(files, "set.cab", options);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_USER_ABORT);
    options.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION* n) -> std::optional<intptr_t> {
        if (t == fdintENUMERATE) n->iFolder = 0;
        return std::nullopt;
    };
    r = RunFdiCopy(files, "set.cab", options);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.files.empty());
}

TEST(Walk, FileEntriesThatNameNoFolderAreCorrupt) {
    struct Case {
        const char* what;
        std::function<void(std::vector<CabinetRecord>&)> change;
    } cases[] = {
        {"index equal to cFolders", [](auto& cabs) { cabs[0].files[0].iFolder = 1; }},
        {"index far beyond", [](auto& cabs) { cabs[0].files[0].iFolder = 0x1234; }},
        {"continued to next without folders",
         [](auto& cabs) {
             cabs[0].folders.clear();
             cabs[0].files[0].iFolder = 0xFFFE;
         }},
    };
    for (const auto& c : cases) {
        cabbuild::CabinetWriter writer;
        writer.AddFile("f", Pattern(100, 1));
        auto r = RunFdiCopy(BuildSet(writer, c.change), "set.cab");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET) << c.what;
        EXPECT_EQ(r.handlesLeftOpen, 0u) << c.what;
    }
}

TEST(Walk, ContinuedEntriesOfAFreshCallArePartial) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("a", Pattern(10, 1));
    writer.AddFile("b", Pattern(10, 2));
    Files files = BuildSet(writer, [](auto& cabs) {
        cabs[0].files[0].iFolder = 0xFFFD;
        cabs[0].files[1].iFolder = 0xFFFF;
        cabs[0].hasPrev = true;
        cabs[0].prevCabinet = "prev.cab";
        cabs[0].prevDisk = "disk 1";
    });
    auto r = RunFdiCopy(files, "set.cab");
    ASSERT_TRUE(r.ok);
    auto partial = OfType(r, fdintPARTIAL_FILE);
    ASSERT_EQ(partial.size(), 2u);
    EXPECT_EQ(partial[0]->psz1, "a");
    EXPECT_EQ(partial[0]->psz2, "prev.cab");
    EXPECT_EQ(partial[0]->psz3, "disk 1");
    EXPECT_EQ(partial[1]->iFolder, 0xFFFF);
    EXPECT_TRUE(r.files.empty());
}
