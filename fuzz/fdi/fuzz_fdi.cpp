// FDICopy over one to four in-memory cabinets.
//
// Input layout: one option byte, then the cabinets separated by the 8 bytes
// "\xFF\xFECABSEP". The cabinets are named c0, c1, ...; FDICopy starts at c0
// and every fdintNEXT_CABINET is pointed at the next one in order (a repeated
// request, after a failure, is answered with -1). Option bits: 1 decrypt
// callback, 2 skip every second file, 4 answer the close with 0 now and
// then, 8 run a second FDICopy on the same context starting at c1.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fdi/fdi.h"
#include "tests/support/memory_fdi.h"

namespace {

constexpr std::string_view kSeparator("\xFF\xFE" "CABSEP", 8);

struct Run {
    testsupport::MemoryFs* fs;
    uint8_t options;
    int files = 0;
    int nextCabinet = 1;
};

// Output bytes are only counted: a hostile list can write one block many times.
uint32_t CountingWrite(int hf, const void*, uint32_t cb) {
    (void)hf;
    return cb;
}

intptr_t Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
    auto* run = static_cast<Run*>(n->pv);
    switch (type) {
        case fdintCOPY_FILE:
            if ((run->options & 2) && run->files++ % 2) return 0;
            return run->fs->CreateOutput();
        case fdintCLOSE_FILE_INFO: {
            int result = (run->options & 4) && run->files % 5 == 4 ? 0 : 1;
            run->fs->Close(n->hf);
            return result;
        }
        case fdintNEXT_CABINET: {
            if (n->fdie != FDIERROR_NONE) return -1;
            std::string name = "c" + std::to_string(run->nextCabinet++);
            std::strcpy(n->psz1, name.c_str());
            return 0;
        }
        default: return 0;
    }
}

int Decrypt(PFDIDECRYPT d) {
    // Touch what the record points at, so that a wrong pointer shows.
    volatile uint8_t sink = 0;
    if (d->fdidt == fdidtDECRYPT && d->decrypt.pbData) {
        const auto* p = static_cast<const uint8_t*>(d->decrypt.pbData);
        for (uint32_t i = 0; i < uint32_t(d->decrypt.cbData - d->decrypt.cbPartial); ++i) sink = sink ^ p[i];
        if (d->decrypt.pDataReserve) sink = sink ^ static_cast<const uint8_t*>(d->decrypt.pDataReserve)[d->decrypt.cbDataReserve - 1];
    }
    return 0;
}

void Copy(testsupport::MemoryFs& fs, HFDI hfdi, uint8_t options, const char* first) {
    Run run{&fs, options};
    FDICopy(hfdi, first, "", 0, Notify, (options & 1) ? Decrypt : nullptr, &run);
    // Every cabinet handle is closed when FDICopy returns; outputs may stay
    // open only where the client kept them (a close answered with 0 still
    // closed them here).
    if (fs.OpenHandles() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t options = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    testsupport::MemoryFs fs;
    for (int i = 0; i < 4; ++i) {
        size_t cut = rest.find(kSeparator);
        std::string_view part = rest.substr(0, cut);
        fs.files["c" + std::to_string(i)].assign(part.begin(), part.end());
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + kSeparator.size());
    }
    testsupport::ScopedMemoryFs scope(&fs);
    ERF erf{};
    HFDI hfdi = FDICreate(testsupport::MemAlloc, testsupport::MemFree, testsupport::MemOpen, testsupport::MemRead,
                          CountingWrite, testsupport::MemClose, testsupport::MemSeek, cpu80386, &erf);
    if (!hfdi) return 0;

    int hf = testsupport::MemOpen("c0", FDI_O_BINARY, 0);
    FDICABINETINFO info;
    FDIIsCabinet(hfdi, hf, &info);
    testsupport::MemClose(hf);

    Copy(fs, hfdi, options, "c0");
    if (options & 8) Copy(fs, hfdi, options, "c1");
    FDIDestroy(hfdi);
    if (fs.bytesAllocated != 0) __builtin_trap();
    return 0;
}
