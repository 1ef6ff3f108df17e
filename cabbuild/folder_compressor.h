// A compressor for one folder of a cabinet being built.
//
// The writer cuts a folder's uncompressed bytes into frames of 32768 bytes
// (the last one may be shorter) and asks the folder's compressor for one data
// block per frame. A compressor keeps whatever state its method carries from
// block to block (history, models, repeated distances) for the whole folder.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cabbuild {

inline constexpr uint32_t kFrameSize = 32768;

class FolderCompressor {
public:
    virtual ~FolderCompressor() = default;
    // The folder's compression type word (method bits and window parameter).
    virtual uint16_t TypeWord() const = 0;
    // The payload of the data block for the next frame (at most kFrameSize bytes).
    virtual std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) = 0;
};

// Each method's compressor; each lives in its own file.
std::unique_ptr<FolderCompressor> MakeStoredCompressor();
std::unique_ptr<FolderCompressor> MakeMszipCompressor(int level);       // zlib level 0..9
std::unique_ptr<FolderCompressor> MakeLzxCompressor(int windowBits);    // 15..21
std::unique_ptr<FolderCompressor> MakeQuantumCompressor(int windowBits);// 10..21

// Parses "none", "mszip[:LEVEL]", "lzx[:15..21]" or "quantum[:10..21]" and
// returns a fresh compressor; nullptr with *error set for a bad method text or
// a method not built yet.
std::unique_ptr<FolderCompressor> MakeCompressor(const std::string& method, std::string* error);

}  // namespace cabbuild
