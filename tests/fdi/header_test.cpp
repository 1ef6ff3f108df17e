// The cabinet header area: FDIIsCabinet, and the failures FDICopy reports
// while opening a cabinet and reading its names.
#include <cstring>

#include "tests/fdi/fixtures.h"

using namespace fditest;
using testsupport::ExtractOptions;
using testsupport::RunFdiCopy;

namespace {

std::vector<uint8_t> SimpleCabinet(uint16_t flagsSet = 0) {
    cabbuild::SetOptions options;
    options.setID = 0x1234;
    cabbuild::CabinetWriter writer(options);
    writer.AddFile("a.txt", Pattern(100, 1));
    writer.AddFile("b.txt", Pattern(50, 2));
    Files files = BuildSet(writer, [&](std::vector<CabinetRecord>& cabs) {
        cabs[0].iCabinet = 3;
        cabs[0].hasPrev = flagsSet & cfhdrPREV_CABINET;
        cabs[0].hasNext = flagsSet & cfhdrNEXT_CABINET;
        cabs[0].reservePresent = flagsSet & cfhdrRESERVE_PRESENT;
    });
    return files.begin()->second;
}

struct IsCabinetRun {
    BOOL32 result;
    ERF erf;
    FDICABINETINFO info;
    int32_t positionAfter;
};

IsCabinetRun RunIsCabinet(const std::vector<uint8_t>& bytes) {
    testsupport::MemoryFs fs;
    fs.files["x.cab"] = bytes;
    testsupport::ScopedMemoryFs scope(&fs);
    IsCabinetRun run{};
    run.erf = {77, 78, 0};  // must stay as it is unless the version is wrong
    std::memset(&run.info, 0xAB, sizeof run.info);
    HFDI hfdi = testsupport::CreateMemoryFdi(&run.erf);
    EXPECT_NE(hfdi, nullptr);
    int hf = testsupport::MemOpen("x.cab", FDI_O_BINARY, 0);
    run.result = FDIIsCabinet(hfdi, hf, &run.info);
    run.positionAfter = testsupport::MemSeek(hf, 0, 1);
    testsupport::MemClose(hf);
    FDIDestroy(hfdi);
    return run;
}

}  // namespace

TEST(IsCabinet, ReportsHeaderFieldsAndFlagValues) {
    struct Case {
        uint16_t flags;
        BOOL32 reserve, prev, next;
    } cases[] = {
        {0, 0, 0, 0},
        {cfhdrNEXT_CABINET, 0, 0, 2},
        {cfhdrPREV_CABINET | cfhdrRESERVE_PRESENT, 1, 1, 0},
        {cfhdrPREV_CABINET | cfhdrNEXT_CABINET | cfhdrRESERVE_PRESENT, 1, 1, 2},
    };
    for (const auto& c : cases) {
        auto bytes = SimpleCabinet(c.flags);
        auto run = RunIsCabinet(bytes);
        ASSERT_TRUE(run.result) << c.flags;
        EXPECT_EQ(run.info.cbCabinet, int32_t(bytes.size()));
        EXPECT_EQ(run.info.cFolders, 1);
        EXPECT_EQ(run.info.cFiles, 2);
        EXPECT_EQ(run.info.setID, 0x1234);
        EXPECT_EQ(run.info.iCabinet, 3);
        EXPECT_EQ(run.info.fReserve, c.reserve);
        EXPECT_EQ(run.info.hasprev, c.prev);
        EXPECT_EQ(run.info.hasnext, c.next);
        EXPECT_EQ(run.positionAfter, 36) << "reads the header where the handle stands, no seek back";
        EXPECT_EQ(run.erf.erfOper, 77);
    }
}

TEST(IsCabinet, NotACabinetLeavesErfAndInfoAlone) {
    auto good = SimpleCabinet();
    auto wrongSignature = good;
    wrongSignature[0] = 'X';
    for (const auto& bytes : {std::vector<uint8_t>(good.begin(), good.begin() + 35), wrongSignature,
                              std::vector<uint8_t>()}) {
        auto run = RunIsCabinet(bytes);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.erf.erfOper, 77);
        EXPECT_EQ(run.erf.erfType, 78);
        EXPECT_EQ(run.erf.fError, 0);
        EXPECT_EQ(run.info.cFiles, 0xABAB);
    }
}

TEST(IsCabinet, UnknownVersionReportsTheVersionWord) {
    auto bytes = SimpleCabinet();
    bytes[24] = 4;
    bytes[25] = 1;
    auto run = RunIsCabinet(bytes);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.erf.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
    EXPECT_EQ(run.erf.erfType, 260);
    EXPECT_EQ(run.erf.fError, 1);
}

TEST(OpenCabinet, DamagedHeaderAreaGivesItsCode) {
    auto good = SimpleCabinet();
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        FDIERROR code;
        int32_t type;
    } cases[] = {
        {"shorter than a header", [](auto& b) { b.resize(30); }, FDIERROR_NOT_A_CABINET, 0},
        {"wrong signature", [](auto& b) { b[3] = 'G'; }, FDIERROR_NOT_A_CABINET, 0},
        {"version 1.4", [](auto& b) { b[24] = 4; }, FDIERROR_UNKNOWN_CABINET_VERSION, 260},
        {"reserve sizes cut off", [](auto& b) { b[30] |= cfhdrRESERVE_PRESENT; b.resize(38); },
         FDIERROR_NOT_A_CABINET, 0},
        {"header reserve cut off", [](auto& b) { b[30] |= cfhdrRESERVE_PRESENT; PutLe16(b, 36, 60000); },
         FDIERROR_NOT_A_CABINET, 0},
        {"file list beyond the end", [](auto& b) { b[16] = 0xF0; b[17] = 0xFF; }, FDIERROR_CORRUPT_CABINET, 0},
        {"file list at a negative offset", [](auto& b) { b[19] = 0x80; }, FDIERROR_CORRUPT_CABINET, 0},
        {"folder index beyond cFolders", [](auto& b) { PutLe16(b, 26, 0); }, FDIERROR_CORRUPT_CABINET, 0},
        {"next names flagged but missing", [](auto& b) { b[30] |= cfhdrNEXT_CABINET; b.resize(36); },
         FDIERROR_CORRUPT_CABINET, 0},
    };
    for (const auto& c : cases) {
        auto bytes = good;
        c.damage(bytes);
        auto r = RunFdiCopy({{"x.cab", bytes}}, "x.cab");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.erf.erfOper, c.code) << c.what;
        EXPECT_EQ(r.erf.erfType, c.type) << c.what;
        EXPECT_EQ(r.erf.fError, 1) << c.what;
        EXPECT_EQ(r.handlesLeftOpen, 0u) << c.what;
    }
}

TEST(OpenCabinet, OpensTwiceReadOnlyAtPathFollowedByName) {
    testsupport::MemoryFs fs;
    fs.files["dir\\sub\\x.cab"] = SimpleCabinet();
    testsupport::ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = testsupport::CreateMemoryFdi(&erf);
    ExtractOptions options;
    options.cabPath = "dir\\sub\\";
    auto r = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "x.cab", options);
    FDIDestroy(hfdi);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(fs.opened, (std::vector<std::string>{"dir\\sub\\x.cab", "dir\\sub\\x.cab"}));
    EXPECT_EQ(fs.openFlag, 0x8000);
    EXPECT_EQ(fs.openMode, 0x180);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}

TEST(OpenCabinet, MissingOrOverlongPathIsNotFound) {
    auto bytes = SimpleCabinet();
    std::string dir255(250, 'd');  // with the 5-character name: 255 characters
    struct Case {
        std::string path, name;
        bool found;
    } cases[] = {
        {"", "missing.cab", false},
        {std::string(300, 'p'), "x.cab", false},
        {std::string(252, 'p'), "x.cab", false},  // 257 characters joined
        {std::string(251, 'p'), "x.cab", true},   // 256 characters joined
    };
    for (const auto& c : cases) {
        ExtractOptions options;
        options.cabPath = c.path;
        auto r = RunFdiCopy({{c.path + "x.cab", bytes}}, c.name, options);
        EXPECT_EQ(r.ok, c.found) << c.path.size();
        if (!c.found) {
            EXPECT_EQ(r.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
        }
    }
}

// Fails every second open: the data handle of each cabinet.
int OpenListHandleOnly(const char* path, int flag, int mode) {
    static thread_local int calls = 0;
    return ++calls % 2 == 0 ? -1 : testsupport::MemOpen(path, flag, mode);
}

TEST(OpenCabinet, SecondOpenFailingIsNotFoundAndClosesTheFirst) {
    testsupport::MemoryFs fs;
    fs.files["x.cab"] = SimpleCabinet();
    testsupport::ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = FDICreate(testsupport::MemAlloc, testsupport::MemFree, OpenListHandleOnly, testsupport::MemRead,
                          testsupport::MemWrite, testsupport::MemClose, testsupport::MemSeek, cpu80386, &erf);
    auto r = testsupport::RunFdiCopyOn(fs, hfdi, &erf, "x.cab");
    FDIDestroy(hfdi);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(fs.opened.size(), 1u);
    EXPECT_EQ(r.handlesLeftOpen, 0u);
}

TEST(Names, LongestNameAcceptedOneMoreRefused) {
    for (size_t length : {255u, 256u}) {
        cabbuild::CabinetWriter writer;
        writer.AddFile(std::string(length, 'n'), Pattern(10, 3));
        auto r = RunFdiCopy(BuildSet(writer), "set.cab");
        if (length == 255) {
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.files.count(std::string(255, 'n')), 1u);
        } else {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
        }
    }
    for (size_t length : {255u, 256u}) {
        cabbuild::CabinetWriter writer;
        writer.AddFile("f", Pattern(10, 3));
        auto r = RunFdiCopy(BuildSet(writer,
                                     [&](auto& cabs) {
                                         cabs[0].hasPrev = true;
                                         cabs[0].prevCabinet = std::string(length, 'p');
                                         cabs[0].prevDisk = "disk";
                                     }),
                            "set.cab");
        EXPECT_EQ(r.ok, length == 255) << length;
    }
}

TEST(Names, NameCutOffAtTheEndOfTheFileIsCorrupt) {
    cabbuild::CabinetWriter writer;
    writer.AddFile("", {});
    writer.AddFile("last-name", {});
    Files files = BuildSet(writer);
    auto bytes = files["set.cab"];
    bytes.pop_back();  // the NUL of the last name
    auto r = RunFdiCopy({{"set.cab", bytes}}, "set.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    // The first, empty, name was fine.
    ASSERT_FALSE(OfType(r, fdintCOPY_FILE).empty());
    EXPECT_EQ(OfType(r, fdintCOPY_FILE)[0]->psz1, "");
}

TEST(Names, NamesReachTheClientAsStoredBytes) {
    cabbuild::CabinetWriter writer;
    std::string gbk = "\xD6\xD0\xCE\xC4\\sub\\file.txt";
    writer.AddFile(gbk, Pattern(5, 1), 0x5A21, 0x6000, 0x80 | 0x20);
    auto r = RunFdiCopy(BuildSet(writer), "set.cab");
    ASSERT_TRUE(r.ok);
    auto copies = OfType(r, fdintCOPY_FILE);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0]->psz1, gbk);
    EXPECT_EQ(copies[0]->date, 0x5A21);
    EXPECT_EQ(copies[0]->time, 0x6000);
    EXPECT_EQ(copies[0]->attribs, 0xA0);
}
