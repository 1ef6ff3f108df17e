// The extraction engine with a Quantum folder whose data blocks come from the
// input, in a cabinet that is otherwise well formed (no checksums).
// Input: [split byte][window bits] then records of
// [cbUncomp: 2 bytes][length: 2 bytes][payload].
#include <cstdint>
#include <string>
#include <vector>

#include "cabbuild/cabinet_record.h"
#include "tests/support/memory_fdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    cabbuild::CabinetRecord cabinet;
    cabinet.fileName = "f.cab";
    cabbuild::FolderRecord folder;
    // Mostly valid window bits, sometimes out of range (9 to 22).
    const unsigned bits = 9 + data[1] % 14;
    folder.typeCompress = static_cast<uint16_t>(2 | (bits << 8));
    uint32_t total = 0;
    size_t pos = 2;
    while (size - pos >= 4 && folder.blocks.size() < 64) {
        cabbuild::DataBlockRecord block;
        block.cbUncomp = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
        if (block.cbUncomp > 32768) block.cbUncomp = 32768;
        size_t length = data[pos + 2] | (size_t{data[pos + 3]} << 8);
        pos += 4;
        length = std::min(length, size - pos);
        block.data.assign(data + pos, data + pos + length);
        block.checksum = false;
        pos += length;
        total += block.cbUncomp;
        folder.blocks.push_back(std::move(block));
    }
    if (folder.blocks.empty()) return 0;
    cabinet.folders.push_back(std::move(folder));
    const uint32_t split = static_cast<uint32_t>(uint64_t{total} * data[0] / 255);
    cabbuild::FileRecord first;
    first.cbFile = split;
    first.name = "a";
    first.attribs = 0x20;
    cabbuild::FileRecord second = first;
    second.cbFile = total - split;
    second.uoffFolderStart = split;
    second.name = "dir\\b";
    cabinet.files = {first, second};
    cabbuild::FinalizeCabinet(cabinet);
    const std::map<std::string, std::vector<uint8_t>> files = {
        {"f.cab", cabbuild::SerializeCabinet(cabinet)}};
    testsupport::RunFdiCopy(files, "f.cab");
    return 0;
}
