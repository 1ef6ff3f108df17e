#include "cabbuild/cabinet_record.h"

#include "fdi/fdi.h"

namespace cabbuild {

namespace {

class ByteSink {
public:
    explicit ByteSink(std::vector<uint8_t>& out) : out_(out) {}
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) {
        U8(uint8_t(v));
        U8(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void Bytes(const std::vector<uint8_t>& v) { out_.insert(out_.end(), v.begin(), v.end()); }
    void Name(const std::string& s) {
        out_.insert(out_.end(), s.begin(), s.end());
        U8(0);
    }

private:
    std::vector<uint8_t>& out_;
};

uint32_t NameSize(const std::string& s) { return uint32_t(s.size() + 1); }

}  // namespace

uint32_t DataBlockChecksum(const DataBlockRecord& block) {
    uint32_t seed = FDIChecksum(block.data.data(), uint32_t(block.data.size()), 0);
    std::vector<uint8_t> header;
    ByteSink sink(header);
    sink.U16(block.cbData);
    sink.U16(block.cbUncomp);
    sink.Bytes(block.reserve);
    return FDIChecksum(header.data(), uint32_t(header.size()), seed);
}

void FinalizeCabinet(CabinetRecord& cab) {
    cab.flags = uint16_t((cab.hasPrev ? 0x0001 : 0) | (cab.hasNext ? 0x0002 : 0) |
                         (cab.reservePresent ? 0x0004 : 0));
    cab.cFolders = uint16_t(cab.folders.size());
    cab.cFiles = uint16_t(cab.files.size());
    cab.cbCFHeader = uint16_t(cab.headerReserve.size());
    if (!cab.reservePresent) cab.cbCFFolder = cab.cbCFData = 0;

    uint32_t offset = kHeaderSize;
    if (cab.reservePresent) offset += 4 + cab.cbCFHeader;
    if (cab.hasPrev) offset += NameSize(cab.prevCabinet) + NameSize(cab.prevDisk);
    if (cab.hasNext) offset += NameSize(cab.nextCabinet) + NameSize(cab.nextDisk);
    offset += uint32_t(cab.folders.size()) * (kFolderEntrySize + cab.cbCFFolder);
    cab.coffFiles = offset;
    for (const auto& file : cab.files) offset += kFileEntrySize + NameSize(file.name);
    for (auto& folder : cab.folders) {
        folder.reserve.resize(cab.cbCFFolder);
        folder.coffCabStart = offset;
        folder.cCFData = uint16_t(folder.blocks.size());
        for (auto& block : folder.blocks) {
            block.reserve.resize(cab.cbCFData);
            block.cbData = uint16_t(block.data.size());
            block.csum = block.checksum ? DataBlockChecksum(block) : 0;
            offset += kDataHeaderSize + cab.cbCFData + uint32_t(block.data.size());
        }
    }
    cab.cbCabinet = offset;
}

std::vector<uint8_t> SerializeCabinet(const CabinetRecord& cab) {
    std::vector<uint8_t> out;
    out.reserve(cab.cbCabinet);
    ByteSink sink(out);
    sink.U32(cab.signature);
    sink.U32(cab.reserved1);
    sink.U32(cab.cbCabinet);
    sink.U32(cab.reserved2);
    sink.U32(cab.coffFiles);
    sink.U32(cab.reserved3);
    sink.U8(cab.versionMinor);
    sink.U8(cab.versionMajor);
    sink.U16(cab.cFolders);
    sink.U16(cab.cFiles);
    sink.U16(cab.flags);
    sink.U16(cab.setID);
    sink.U16(cab.iCabinet);
    if (cab.reservePresent) {
        sink.U16(cab.cbCFHeader);
        sink.U8(cab.cbCFFolder);
        sink.U8(cab.cbCFData);
        sink.Bytes(cab.headerReserve);
    }
    if (cab.hasPrev) {
        sink.Name(cab.prevCabinet);
        sink.Name(cab.prevDisk);
    }
    if (cab.hasNext) {
        sink.Name(cab.nextCabinet);
        sink.Name(cab.nextDisk);
    }
    for (const auto& folder : cab.folders) {
        sink.U32(folder.coffCabStart);
        sink.U16(folder.cCFData);
        sink.U16(folder.typeCompress);
        sink.Bytes(folder.reserve);
    }
    for (const auto& file : cab.files) {
        sink.U32(file.cbFile);
        sink.U32(file.uoffFolderStart);
        sink.U16(file.iFolder);
        sink.U16(file.date);
        sink.U16(file.time);
        sink.U16(file.attribs);
        sink.Name(file.name);
    }
    for (const auto& folder : cab.folders) {
        for (const auto& block : folder.blocks) {
            sink.U32(block.csum);
            sink.U16(block.cbData);
            sink.U16(block.cbUncomp);
            sink.Bytes(block.reserve);
            sink.Bytes(block.data);
        }
    }
    return out;
}

}  // namespace cabbuild
