#include "update/manifest_paths.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace manifest {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

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

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

TextEncoding DetectEncoding(std::string_view text) {
    return IsValidUtf8(text) ? TextEncoding::Utf8 : TextEncoding::Gbk;
}

bool ToUtf8(std::string_view raw, TextEncoding encoding, std::string& out) {
    if (encoding == TextEncoding::Utf8) {
        if (!IsValidUtf8(raw)) return false;
        out.assign(raw);
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(raw);
    // Every GBK character becomes at most three UTF-8 bytes for its two.
    std::vector<char> output(raw.size() * 2 + 4);
    char* in = input.data();
    size_t inLeft = input.size();
    char* dst = output.data();
    size_t outLeft = output.size();
    const size_t result = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.assign(output.data(), output.size() - outLeft);
    return true;
}

size_t CountChars(std::string_view utf8) {
    size_t count = 0;
    for (char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

bool IsContainedRelativePath(std::string_view filePath, std::string_view fileName) {
    if (fileName.empty() || IsSeparator(fileName.front()) || IsSeparator(fileName.back())) return false;
    const std::string joined = std::string(filePath) + std::string(fileName);
    if (!IsSeparator(joined[0]) || (joined.size() > 1 && IsSeparator(joined[1]))) return false;
    if (joined.find(':') != std::string::npos) return false;
    size_t start = 1;
    while (start <= joined.size()) {
        size_t end = start;
        while (end < joined.size() && !IsSeparator(joined[end])) ++end;
        // ".." climbs out; "." as the last name would make the folder itself
        // the target. Neither has a place in a manifest.
        if (joined.compare(start, end - start, "..") == 0 || joined.compare(start, end - start, ".") == 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace manifest
