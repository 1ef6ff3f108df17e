#include <iconv.h>

#include <cstdint>

#include "platform/text.h"

namespace platform {

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not valid.
size_t SequenceLength(std::string_view text, size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) return 1;
    size_t length = 0;
    uint32_t min = 0;
    uint32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, min = 0x80, cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, min = 0x800, cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, min = 0x10000, cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool Cp936ToUtf8(std::string_view cp936, std::string& utf8) {
    if (IsAscii(cp936)) {
        if (cp936.find('\0') != std::string_view::npos) return false;
        utf8.assign(cp936);
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // Every byte, single or half of a pair, becomes at most three UTF-8 bytes
    // (0x80 alone is the euro sign, three bytes for one).
    std::string in(cp936);
    std::string out(cp936.size() * 3 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    if (out.find('\0') != std::string::npos) return false;
    utf8 = std::move(out);
    return true;
}

}  // namespace platform
