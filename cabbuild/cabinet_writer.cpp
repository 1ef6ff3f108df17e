#include "cabbuild/cabinet_writer.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <fstream>

namespace cabbuild {

namespace {

constexpr uint64_t kUnlimited = UINT64_MAX;

struct FileInput {
    const std::string* name;
    const std::vector<uint8_t>* data;
    uint16_t date, time, attribs;
    uint64_t start;  // offset in the folder's uncompressed data
};

// Where one folder of the set ended up and which cabinets list each file.
struct PlacedFolder {
    std::vector<FileInput> files;
    std::vector<int> firstCab, lastCab;  // per file, -1 while not listed
    unsigned startCab = 0;               // cabinet where the folder begins
};

// Lays folders out over cabinets of at most `max` bytes.
class SetLayout {
public:
    SetLayout(const SetOptions& options, std::string* error) : opt_(options), error_(error) {
        max_ = options.maxCabinetSize ? options.maxCabinetSize : kUnlimited;
        reserve_ = options.reservePresent || !options.headerReserve.empty() ||
                   options.folderReserveSize || options.dataReserveSize;
        OpenCabinet();
    }

    bool AddFolder(PlacedFolder placed, const CompressorFactory& factory);
    bool Finish(std::vector<CabinetRecord>* out);

private:
    std::string CabName(unsigned k) const { return opt_.cabinetName(k); }
    std::string DiskName(unsigned k) const { return opt_.diskName ? opt_.diskName(k) : std::string(); }
    uint64_t FolderEntrySize() const { return kFolderEntrySize + (reserve_ ? opt_.folderReserveSize : 0); }
    uint64_t DataHeaderSize() const { return kDataHeaderSize + (reserve_ ? opt_.dataReserveSize : 0); }
    static uint64_t EntrySize(const FileInput& f) { return kFileEntrySize + f.name->size() + 1; }
    uint64_t Remaining() const { return max_ == kUnlimited ? kUnlimited : max_ - std::min(max_, used_); }

    void OpenCabinet();
    void NextCabinet() {
        ++k_;
        OpenCabinet();
    }
    // Adds the folder to the current cabinet (continued: as its folder 0).
    void EnterCabinet(size_t placedIndex) {
        cabs_.back().folders.emplace_back();
        cabs_.back().folders.back().typeCompress = typeWord_;
        used_ += FolderEntrySize();
        placedIndex_.back().push_back(placedIndex);
    }
    uint64_t NewEntriesSize(const PlacedFolder& folder, size_t first, size_t last) const {
        uint64_t size = 0;
        for (size_t i = first; i < last; ++i)
            if (folder.lastCab[i] != int(k_)) size += EntrySize(folder.files[i]);
        return size;
    }
    void ListFiles(PlacedFolder& folder, size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            if (folder.lastCab[i] == int(k_)) continue;
            if (folder.firstCab[i] < 0) folder.firstCab[i] = int(k_);
            folder.lastCab[i] = int(k_);
            used_ += EntrySize(folder.files[i]);
        }
    }
    void AddBlock(std::vector<uint8_t> data, uint16_t cbUncomp) {
        DataBlockRecord block;
        block.cbUncomp = cbUncomp;
        used_ += DataHeaderSize() + data.size();
        block.data = std::move(data);
        block.checksum = opt_.checksums;
        cabs_.back().folders.back().blocks.push_back(std::move(block));
    }
    bool Fail(const std::string& text) {
        *error_ = text;
        return false;
    }

    const SetOptions& opt_;
    std::string* error_;
    uint64_t max_;
    bool reserve_;
    unsigned k_ = 0;
    uint64_t used_ = 0;
    uint16_t typeWord_ = 0;
    std::vector<CabinetRecord> cabs_;
    std::deque<PlacedFolder> placed_;
    std::vector<std::vector<size_t>> placedIndex_;  // per cabinet: placed folders in order
};

void SetLayout::OpenCabinet() {
    CabinetRecord cab;
    cab.fileName = CabName(k_);
    cab.setID = opt_.setID;
    cab.iCabinet = uint16_t(k_);
    cab.reservePresent = reserve_;
    cab.headerReserve = opt_.headerReserve;
    cab.cbCFFolder = reserve_ ? opt_.folderReserveSize : 0;
    cab.cbCFData = reserve_ ? opt_.dataReserveSize : 0;
    used_ = kHeaderSize + (reserve_ ? 4 + opt_.headerReserve.size() : 0);
    if (k_ > 0) {
        cab.hasPrev = true;
        cab.prevCabinet = CabName(k_ - 1);
        cab.prevDisk = DiskName(k_ - 1);
        used_ += cab.prevCabinet.size() + cab.prevDisk.size() + 2;
        cabs_.back().hasNext = true;
        cabs_.back().nextCabinet = cab.fileName;
        cabs_.back().nextDisk = DiskName(k_);
    }
    // Room for the next names is kept whenever the set may go on.
    if (max_ != kUnlimited) used_ += CabName(k_ + 1).size() + DiskName(k_ + 1).size() + 2;
    cabs_.push_back(std::move(cab));
    placedIndex_.emplace_back();
}

bool SetLayout::AddFolder(PlacedFolder folder, const CompressorFactory& factory) {
    auto compressor = factory();
    if (!compressor) return Fail("the folder's compressor could not be created");
    typeWord_ = compressor->TypeWord();
    size_t n = folder.files.size();
    folder.firstCab.assign(n, -1);
    folder.lastCab.assign(n, -1);
    uint64_t total = n ? folder.files.back().start + folder.files.back().data->size() : 0;
    uint64_t frames = (total + kFrameSize - 1) / kFrameSize;

    // A new folder needs room for its entry, its files' entries up to the
    // first frame and at least one byte of a block.
    auto firstFrameEnd = std::min<uint64_t>(total, kFrameSize);
    size_t firstFiles = 0;
    while (firstFiles < n && (folder.files[firstFiles].start < firstFrameEnd ||
                              (frames <= 1 && folder.files[firstFiles].start <= firstFrameEnd)))
        ++firstFiles;
    uint64_t need = FolderEntrySize() + (frames ? DataHeaderSize() + 1 : 0);
    for (size_t i = 0; i < firstFiles; ++i) need += EntrySize(folder.files[i]);
    if (Remaining() < need && !cabs_.back().folders.empty()) NextCabinet();
    if (Remaining() < need) return Fail("the maximum cabinet size is too small for a folder");

    folder.startCab = k_;
    placed_.push_back(std::move(folder));
    const size_t index = placed_.size() - 1;
    PlacedFolder& f = placed_.back();
    EnterCabinet(index);
    if (frames == 0) {
        ListFiles(f, 0, n);
        return true;
    }

    std::vector<uint8_t> frame;
    size_t firstTouch = 0;  // first file that may still touch the current frame
    for (uint64_t j = 0; j < frames; ++j) {
        uint64_t fs = j * kFrameSize, fe = std::min(total, fs + kFrameSize);
        bool lastFrame = j + 1 == frames;
        while (firstTouch < n) {
            const auto& file = f.files[firstTouch];
            uint64_t end = file.start + file.data->size();
            bool before = file.data->empty() ? file.start < fs : end <= fs;
            if (!before) break;
            ++firstTouch;
        }
        size_t endTouch = firstTouch;
        while (endTouch < n && (f.files[endTouch].start < fe || (lastFrame && f.files[endTouch].start == fe)))
            ++endTouch;

        uint64_t entries = NewEntriesSize(f, firstTouch, endTouch);
        if (Remaining() < DataHeaderSize() + 1 + entries) {
            // No room for any of this frame here. If no file runs across the
            // frame's start, the rest becomes a new folder in the next
            // cabinet, so that its files stay extractable from there.
            bool crossing = firstTouch < endTouch && f.files[firstTouch].start < fs;
            if (!crossing) {
                PlacedFolder rest;
                uint64_t base = f.files[firstTouch].start;
                for (size_t i = firstTouch; i < n; ++i) {
                    rest.files.push_back(f.files[i]);
                    rest.files.back().start -= base;
                }
                f.files.resize(firstTouch);
                f.firstCab.resize(firstTouch);
                f.lastCab.resize(firstTouch);
                return AddFolder(std::move(rest), factory);
            }
            NextCabinet();
            EnterCabinet(index);
            entries = NewEntriesSize(f, firstTouch, endTouch);
            if (Remaining() < DataHeaderSize() + 1 + entries)
                return Fail("the maximum cabinet size is too small for the files' entries");
        }

        frame.clear();
        for (size_t i = firstTouch; i < endTouch; ++i) {
            const auto& file = f.files[i];
            uint64_t from = std::max(fs, file.start), to = std::min(fe, file.start + file.data->size());
            if (to > from)
                frame.insert(frame.end(), file.data->begin() + std::ptrdiff_t(from - file.start),
                             file.data->begin() + std::ptrdiff_t(to - file.start));
        }
        std::vector<uint8_t> payload = compressor->CompressBlock(frame);
        if (payload.size() > UINT16_MAX) return Fail("a compressed block is larger than 65535 bytes");
        ListFiles(f, firstTouch, endTouch);

        uint16_t uncompressed = uint16_t(fe - fs);
        if (DataHeaderSize() + payload.size() <= Remaining()) {
            AddBlock(std::move(payload), uncompressed);
            continue;
        }
        if (opt_.splitBlocks) {
            size_t firstPart = size_t(Remaining() - DataHeaderSize());
            AddBlock({payload.begin(), payload.begin() + std::ptrdiff_t(firstPart)}, 0);
            payload.erase(payload.begin(), payload.begin() + std::ptrdiff_t(firstPart));
        }
        NextCabinet();
        EnterCabinet(index);
        ListFiles(f, firstTouch, endTouch);
        if (DataHeaderSize() + payload.size() > Remaining())
            return Fail("the maximum cabinet size is too small for one data block");
        AddBlock(std::move(payload), uncompressed);
    }
    return true;
}

bool SetLayout::Finish(std::vector<CabinetRecord>* out) {
    // The file lists: per cabinet, the files of its folders in folder order.
    for (unsigned k = 0; k < cabs_.size(); ++k) {
        auto& cab = cabs_[k];
        const auto& indices = placedIndex_[k];
        for (size_t slot = 0; slot < indices.size(); ++slot) {
            const PlacedFolder& f = placed_[indices[slot]];
            bool folderContinued = f.startCab < k;
            for (size_t i = 0; i < f.files.size(); ++i) {
                if (f.firstCab[i] < 0 || int(k) < f.firstCab[i] || int(k) > f.lastCab[i]) continue;
                const FileInput& in = f.files[i];
                FileRecord rec;
                rec.cbFile = uint32_t(in.data->size());
                rec.uoffFolderStart = uint32_t(in.start);
                bool fromPrev = folderContinued || int(k) > f.firstCab[i];
                bool toNext = int(k) < f.lastCab[i];
                rec.iFolder = fromPrev && toNext ? kFolderContinuedPrevAndNext
                              : fromPrev         ? kFolderContinuedFromPrev
                              : toNext           ? kFolderContinuedToNext
                                                 : uint16_t(slot);
                rec.date = in.date;
                rec.time = in.time;
                rec.attribs = in.attribs;
                rec.name = *in.name;
                cab.files.push_back(std::move(rec));
            }
        }
        if (cab.folders.size() > UINT16_MAX || cab.files.size() > UINT16_MAX)
            return Fail("a cabinet would hold more than 65535 folders or files");
        for (const auto& folder : cab.folders)
            if (folder.blocks.size() > UINT16_MAX) return Fail("a folder would hold more than 65535 blocks in one cabinet");
        FinalizeCabinet(cab);
        // cbCabinet is 32 bits; recount in 64 bits to catch an overflow.
        uint64_t size = cab.coffFiles;
        for (const auto& file : cab.files) size += kFileEntrySize + file.name.size() + 1;
        for (const auto& folder : cab.folders)
            for (const auto& block : folder.blocks) size += DataHeaderSize() + block.data.size();
        if (size > UINT32_MAX) return Fail("a cabinet would be larger than 4 GB");
    }
    *out = std::move(cabs_);
    return true;
}

}  // namespace

std::function<std::string(unsigned)> SetNamer(const std::string& base) {
    return [base](unsigned index) {
        return index == 0 ? base + ".cab" : base + std::to_string(index + 1) + ".cab";
    };
}

CabinetWriter::CabinetWriter(SetOptions options) : options_(std::move(options)) {
    if (!options_.cabinetName) options_.cabinetName = SetNamer("set");
}

void CabinetWriter::StartFolder(CompressorFactory factory) {
    folders_.push_back({std::move(factory), {}});
}

bool CabinetWriter::StartFolder(const std::string& method, std::string* error) {
    if (!MakeCompressor(method, error)) return false;
    StartFolder([method] {
        std::string ignored;
        return MakeCompressor(method, &ignored);
    });
    return true;
}

void CabinetWriter::AddFile(std::string name, std::vector<uint8_t> data, uint16_t date,
                            uint16_t time, uint16_t attribs) {
    if (folders_.empty()) StartFolder(MakeStoredCompressor);
    folders_.back().files.push_back({std::move(name), std::move(data), date, time, attribs});
}

bool CabinetWriter::BuildRecords(std::vector<CabinetRecord>* cabinets, std::string* error) {
    SetLayout layout(options_, error);
    for (const auto& folder : folders_) {
        PlacedFolder placed;
        uint64_t offset = 0;
        for (const auto& file : folder.files) {
            placed.files.push_back({&file.name, &file.data, file.date, file.time, file.attribs, offset});
            offset += file.data.size();
        }
        if (offset > UINT32_MAX) {
            *error = "a folder would hold more than 4 GB";
            return false;
        }
        if (!layout.AddFolder(std::move(placed), folder.factory)) return false;
    }
    return layout.Finish(cabinets);
}

bool CabinetWriter::Build(std::vector<CabinetImage>* images, std::string* error) {
    std::vector<CabinetRecord> cabinets;
    if (!BuildRecords(&cabinets, error)) return false;
    images->clear();
    for (auto& cab : cabinets) {
        images->push_back({cab.fileName, SerializeCabinet(cab)});
        cab.folders.clear();  // the block bytes are no longer needed
    }
    return true;
}

bool WriteCabinetFiles(const std::vector<CabinetImage>& images, const std::string& directory,
                       std::string* error) {
    for (const auto& image : images) {
        std::string path = directory.empty() ? image.name : directory + "/" + image.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.bytes.data()), std::streamsize(image.bytes.size()));
        out.close();
        if (!out) {
            *error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

}  // namespace cabbuild
