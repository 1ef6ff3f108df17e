#include "cabbuild/lzx_e8.h"

namespace cabbuild::lzx_detail {

void EncodeE8Frame(uint8_t* frame, uint32_t size, uint32_t translationSize, uint32_t frameOffset) {
    if (size <= 10) return;
    const uint32_t last = size - 10;  // E8 bytes from here on stay as they are
    for (uint32_t k = 0; k < last;) {
        if (frame[k] != 0xE8) {
            ++k;
            continue;
        }
        const uint32_t current = frameOffset + k;
        uint8_t* operand = frame + k + 1;
        uint32_t value = uint32_t{operand[0]} | (uint32_t{operand[1]} << 8) |
                         (uint32_t{operand[2]} << 16) | (uint32_t{operand[3]} << 24);
        if (value + current < translationSize) {
            value += current;  // target inside the image: store it absolute
        } else if (value - (translationSize - current) < current) {
            value -= translationSize;  // the decoder adds the size back
        }
        for (int i = 0; i < 4; ++i) operand[i] = static_cast<uint8_t>(value >> (8 * i));
        k += 5;
    }
}

bool LooksLikeText(const uint8_t* data, uint32_t size) {
    uint32_t textual = 0;
    for (uint32_t i = 0; i < size; ++i) {
        uint8_t c = data[i];
        if ((c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t' || c >= 0x80) ++textual;
    }
    // Bytes of 0x80 and up count as text too (UTF-8 and code-page text),
    // where E8 is a common lead byte rather than a CALL.
    uint32_t controls = size - textual;
    return uint64_t{controls} * 50 < size;
}

}  // namespace cabbuild::lzx_detail
