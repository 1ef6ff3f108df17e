// Selecting folders, managing the decoder and reading and decoding data blocks.
#include "decoders/registry.h"
#include "fdi/context.h"

namespace fdi {

namespace {

constexpr uint32_t kStoredInputSize = kBlockSize;
// Largest input buffer a decoder may ask for; both parts of a split block
// together never exceed 65535 + 65535 bytes.
constexpr uint32_t kMaxInputSize = 2 * 65535;

unsigned Method(uint16_t typeWord) { return typeWord & tcompMASK_TYPE; }

bool HasDecoderObject(const Context& c) {
    unsigned m = Method(c.typeWord);
    return c.typeWord != kNoDecoder && m >= 1 && m <= 3 && c.ops && c.decoderHandle;
}

void FreeBuffers(Context& c) {
    if (c.input) c.free(c.input);
    if (c.output) c.free(c.output);
    c.input = c.output = c.decoded = nullptr;
    c.inputSize = 0;
}

decoders::DecoderConfig ConfigFor(const Context& c, uint16_t typeWord) {
    int32_t windowBits = (typeWord & tcompMASK_WINDOW) >> tcompSHIFT_WINDOW;
    if (Method(typeWord) == tcompTYPE_QUANTUM) return {windowBits, c.cpuType};
    return {int32_t(1) << windowBits, 0};
}

decoders::DecoderFileCallbacks FilesOf(const Context& c) {
    return {c.open, c.read, c.write, c.close, c.seek};
}

bool Decode(Context& c) {
    // The output buffer holds one block; a larger claim is not a block we can decode.
    if (c.blockUncompressed > kBlockSize) return Fail(c, FDIERROR_CORRUPT_CABINET);
    unsigned method = Method(c.typeWord);
    if (c.typeWord == kNoDecoder || method > 3) return Fail(c, FDIERROR_BAD_COMPR_TYPE);
    uint32_t produced;
    if (method == tcompTYPE_NONE) {
        // A stored block is written straight from the input buffer.
        c.decoded = c.input;
        produced = c.blockCompressed;
    } else {
        produced = method == tcompTYPE_MSZIP ? kBlockSize : c.blockUncompressed;
        if (c.ops->decompress(c.decoderHandle, c.input, c.blockCompressed, c.output, &produced) != 0)
            return Fail(c, FDIERROR_MDI_FAIL);
        c.decoded = c.output;
    }
    c.hasCurrentBlock = true;
    return produced == c.blockUncompressed || Fail(c, FDIERROR_MDI_FAIL);
}

}  // namespace

void ReleaseDecoder(Context& c) {
    if (HasDecoderObject(c)) c.ops->destroy(c.decoderHandle);
    c.decoderHandle = nullptr;
    c.ops = nullptr;
    FreeBuffers(c);
    c.typeWord = kNoDecoder;
    c.hasCurrentBlock = false;
}

bool SetDecoderType(Context& c, uint16_t typeWord) {
    // 15 marks "no decoder" inside the engine; in a file it is a bad method.
    if (typeWord == c.typeWord && Method(typeWord) <= 3) return true;
    if (HasDecoderObject(c) && c.ops->destroy(c.decoderHandle) != 0) return Fail(c, FDIERROR_MDI_FAIL);
    c.decoderHandle = nullptr;
    c.ops = nullptr;
    FreeBuffers(c);
    c.hasCurrentBlock = false;
    c.typeWord = typeWord;
    ++c.decoderGeneration;

    auto failed = [&c](FDIERROR code) {
        FreeBuffers(c);
        c.decoderHandle = nullptr;
        c.ops = nullptr;
        c.typeWord = kNoDecoder;
        return Fail(c, code);
    };
    unsigned method = Method(typeWord);
    if (method > 3) return failed(FDIERROR_BAD_COMPR_TYPE);
    decoders::DecoderConfig config = ConfigFor(c, typeWord);
    const decoders::DecoderConfig* configArg = method == tcompTYPE_MSZIP ? nullptr : &config;
    decoders::DecoderFileCallbacks files = FilesOf(c);
    const decoders::DecoderFileCallbacks* filesArg = method == tcompTYPE_MSZIP ? nullptr : &files;
    uint32_t inputSize = kStoredInputSize;
    if (method != tcompTYPE_NONE) {
        c.ops = decoders::DecoderForMethod(method);
        if (!c.ops) return failed(FDIERROR_BAD_COMPR_TYPE);
        uint32_t maxOutput = kBlockSize;
        if (c.ops->create(&maxOutput, configArg, nullptr, nullptr, &inputSize, nullptr, filesArg) != 0 ||
            inputSize == 0 || inputSize > kMaxInputSize)
            return failed(FDIERROR_MDI_FAIL);
    }
    c.input = static_cast<uint8_t*>(c.alloc(inputSize));
    if (!c.input) return failed(FDIERROR_ALLOC_FAIL);
    c.inputSize = inputSize;
    if (method != tcompTYPE_NONE) {
        // A stored block needs no second buffer: it is written from the input.
        c.output = static_cast<uint8_t*>(c.alloc(kBlockSize));
        if (!c.output) return failed(FDIERROR_ALLOC_FAIL);
        uint32_t maxOutput = kBlockSize;
        int result = c.ops->create(&maxOutput, configArg, c.alloc, c.free, &inputSize, &c.decoderHandle, filesArg);
        if (result != 0) return failed(result == decoders::DECODER_ERROR_NO_MEMORY ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL);
    }
    return true;
}

bool SelectFolder(Context& c, uint32_t index) {
    c.currentFolder = index;
    c.hasCurrentBlock = false;
    if (index >= HeaderFolders(c)) return Fail(c, FDIERROR_CORRUPT_CABINET);
    int64_t position = int64_t(c.folderTableOffset) + int64_t(index) * c.folderRecordSize;
    if (position > INT32_MAX || c.seek(c.dataHandle, int32_t(position), 0) == -1 ||
        c.read(c.dataHandle, c.folderRecord, c.folderRecordSize) != c.folderRecordSize)
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    uint32_t coffCabStart = Le32(c.folderRecord);
    if (coffCabStart > INT32_MAX || c.seek(c.dataHandle, int32_t(coffCabStart), 0) == -1)
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    c.blocksRemaining = Le16(c.folderRecord + 4);
    if (!SetDecoderType(c, Le16(c.folderRecord + 6))) return false;

    auto& rec = c.decryptRecord.folder;
    uint32_t reserve = c.folderRecordSize - 8;
    rec.pFolderReserve = reserve ? c.folderRecord + 8 : nullptr;
    rec.cbFolderReserve = uint16_t(reserve);
    rec.iFolder = uint16_t(index);
    return CallDecrypt(c, fdidtNEW_FOLDER);
}

bool EnterFolder(Context& c, uint16_t iFolder) {
    if (c.spanned) return true;
    uint32_t folders = HeaderFolders(c);
    uint32_t index = iFolder;
    if (IsContinuedToNext(iFolder)) {
        if (folders == 0) return Fail(c, FDIERROR_CORRUPT_CABINET);
        index = folders - 1;
    }
    if (index >= folders) return Fail(c, FDIERROR_CORRUPT_CABINET);
    if (index == c.currentFolder && c.hasCurrentBlock) return true;
    if (HasDecoderObject(c) && c.ops->reset(c.decoderHandle) != 0) return Fail(c, FDIERROR_MDI_FAIL);
    if (!SelectFolder(c, index) || !NextDataBlock(c)) return false;
    c.blockStart = 0;
    return true;
}

bool ReadDataBlock(Context& c, uint32_t offset) {
    if (c.read(c.dataHandle, c.dataRecord, c.dataRecordSize) != c.dataRecordSize)
        return Fail(c, FDIERROR_CORRUPT_CABINET);
    uint32_t cbData = Le16(c.dataRecord + 4);
    if (offset + cbData > c.inputSize) return Fail(c, FDIERROR_CORRUPT_CABINET);
    uint8_t* part = c.input + offset;
    if (c.read(c.dataHandle, part, cbData) != cbData) return Fail(c, FDIERROR_CORRUPT_CABINET);
    uint32_t csum = Le32(c.dataRecord);
    if (csum != 0) {
        uint32_t seed = FDIChecksum(part, cbData, 0);
        if (FDIChecksum(c.dataRecord + 4, c.dataRecordSize - 4, seed) != csum)
            return Fail(c, FDIERROR_CORRUPT_CABINET);
    }
    c.blockCompressed = offset + cbData;
    c.blockUncompressed = Le16(c.dataRecord + 6);
    StoreLe16(c.dataRecord + 4, uint16_t(c.blockCompressed));

    auto& rec = c.decryptRecord.decrypt;
    uint32_t reserve = c.dataRecordSize - 8;
    rec.pDataReserve = reserve ? c.dataRecord + 8 : nullptr;
    rec.cbDataReserve = uint16_t(reserve);
    rec.pbData = part;
    rec.cbData = uint16_t(c.blockCompressed);
    rec.fSplit = offset != 0 || c.blockUncompressed == 0;
    rec.cbPartial = uint16_t(offset);
    return CallDecrypt(c, fdidtDECRYPT);
}

bool NextDataBlock(Context& c) {
    if (c.hasCurrentBlock) c.blockStart += c.blockUncompressed;
    c.hasCurrentBlock = false;
    if (c.blocksRemaining == 0 && !OpenNextCabinet(c)) return false;
    if (c.blocksRemaining == 0) return Fail(c, FDIERROR_CORRUPT_CABINET);
    --c.blocksRemaining;
    if (!ReadDataBlock(c, 0)) return false;
    if (c.blockUncompressed == 0) {
        // The first part of a split block: the rest is the first block of
        // folder 0 in the next cabinet.
        uint32_t firstPart = c.blockCompressed;
        if (!OpenNextCabinet(c)) return false;
        if (c.blocksRemaining == 0) return Fail(c, FDIERROR_CORRUPT_CABINET);
        --c.blocksRemaining;
        if (!ReadDataBlock(c, firstPart)) return false;
    }
    return Decode(c);
}

}  // namespace fdi
