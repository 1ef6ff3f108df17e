// The compressor's side of the E8 (x86 CALL operand) translation.
#pragma once

#include <cstdint>

namespace cabbuild::lzx_detail {

// Translation size announced in a folder's first block header. A multiple of
// 2^24 keeps the decoder's tail scan (which sees 0xE8 in place of a frame's
// last 6 bytes) from changing any real byte of a frame's last 10.
inline constexpr uint32_t kE8TranslationSize = 1u << 24;

// Turns the CALL operands of one frame into the form the decoder turns back:
// operands of E8 bytes before the frame's last 10 bytes, scanning as the
// decoder does (an operand's bytes are never taken for E8 bytes).
void EncodeE8Frame(uint8_t* frame, uint32_t size, uint32_t translationSize, uint32_t frameOffset);

// True when a folder's first frame looks like text, for which the
// translation only costs.
bool LooksLikeText(const uint8_t* data, uint32_t size);

}  // namespace cabbuild::lzx_detail
