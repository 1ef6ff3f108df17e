// Drives the extraction engine over one folder whose data blocks come from
// the fuzzer's input, in a cabinet that is otherwise well formed (no
// checksums), so the fuzzer spends its time in block decoding rather than in
// the header. Two files share the folder; the first input byte chooses where
// the first one ends.
//
// Input: [split byte] ([window byte] when the method has a window) then
// records of [cbUncomp: 2 bytes][length: 2 bytes][payload].
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cabbuild/cabinet_record.h"
#include "tests/support/memory_fdi.h"

namespace fuzzing {

struct FolderMethod {
    uint16_t method;        // compression method bits
    unsigned firstBits;     // lowest window parameter tried
    unsigned bitChoices;    // how many window parameters; 0: no window byte
};

inline int FuzzOneFolder(const uint8_t* data, size_t size, const FolderMethod& m) {
    const size_t header = m.bitChoices ? 2 : 1;
    if (size < header) return 0;
    cabbuild::CabinetRecord cabinet;
    cabinet.fileName = "f.cab";
    cabbuild::FolderRecord folder;
    const unsigned bits = m.bitChoices ? m.firstBits + data[1] % m.bitChoices : 0;
    folder.typeCompress = static_cast<uint16_t>(m.method | (bits << 8));
    uint32_t total = 0;
    size_t pos = header;
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

}  // namespace fuzzing
