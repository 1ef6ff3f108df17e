// MSZIP folders: each frame becomes "CK" and a complete raw deflate stream
// made by zlib. The previous frame is the stream's preset dictionary, so
// matches reach back across blocks as the decoder's shared window allows.
#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "cabbuild/folder_compressor.h"

namespace cabbuild {

namespace {

constexpr uint16_t kTypeMszip = 1;
// The decoder takes at most a frame plus 12 bytes; a block that deflate
// cannot keep under that is sent as one stored deflate block instead.
constexpr size_t kMaxPayload = kFrameSize + 12;

class MszipCompressor final : public FolderCompressor {
  public:
    explicit MszipCompressor(int level) {
        // memLevel 9: the largest symbol buffer, so zlib cuts fewer deflate blocks.
        if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib deflateInit2 failed");
    }
    ~MszipCompressor() override { deflateEnd(&stream_); }
    MszipCompressor(const MszipCompressor&) = delete;
    MszipCompressor& operator=(const MszipCompressor&) = delete;

    uint16_t TypeWord() const override { return kTypeMszip; }

    std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) override {
        if (frame.size() > kFrameSize)
            throw std::invalid_argument("MSZIP frame larger than 32768 bytes");
        std::vector<uint8_t> payload = Deflate(frame);
        if (payload.empty() || payload.size() > kMaxPayload) payload = Stored(frame);
        // The decoder's window is its output buffer: the previous block is the
        // history only when it filled the whole buffer.
        if (frame.size() == kFrameSize) {
            history_.assign(frame.begin(), frame.end());
        } else {
            history_.clear();
        }
        return payload;
    }

  private:
    std::vector<uint8_t> Deflate(std::span<const uint8_t> frame) {
        if (deflateReset(&stream_) != Z_OK) return {};
        if (!history_.empty() && deflateSetDictionary(&stream_, history_.data(),
                                                      static_cast<uInt>(history_.size())) != Z_OK)
            return {};
        std::vector<uint8_t> payload(2 + deflateBound(&stream_, static_cast<uLong>(frame.size())));
        payload[0] = 'C';
        payload[1] = 'K';
        stream_.next_in = const_cast<Bytef*>(frame.data());
        stream_.avail_in = static_cast<uInt>(frame.size());
        stream_.next_out = payload.data() + 2;
        stream_.avail_out = static_cast<uInt>(payload.size() - 2);
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return {};
        payload.resize(payload.size() - stream_.avail_out);
        return payload;
    }

    // One final stored deflate block holding the whole frame.
    static std::vector<uint8_t> Stored(std::span<const uint8_t> frame) {
        const auto len = static_cast<uint16_t>(frame.size());
        const auto nlen = static_cast<uint16_t>(~len);
        std::vector<uint8_t> payload = {'C',
                                        'K',
                                        0x01,  // final, stored
                                        static_cast<uint8_t>(len),
                                        static_cast<uint8_t>(len >> 8),
                                        static_cast<uint8_t>(nlen),
                                        static_cast<uint8_t>(nlen >> 8)};
        payload.insert(payload.end(), frame.begin(), frame.end());
        return payload;
    }

    z_stream stream_{};
    std::vector<uint8_t> history_;
};

}  // namespace

std::unique_ptr<FolderCompressor> MakeMszipCompressor(int level) {
    if (level < 0 || level > 9) return nullptr;
    return std::make_unique<MszipCompressor>(level);
}

}  // namespace cabbuild
