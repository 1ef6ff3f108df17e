#include "update/manifest_paths.h"

#include <cstdint>

#include "platform/text.h"

namespace manifest {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

TextEncoding DetectEncoding(std::string_view text) {
    return platform::IsValidUtf8(text) ? TextEncoding::Utf8 : TextEncoding::Gbk;
}

bool ToUtf8(std::string_view raw, TextEncoding encoding, std::string& out) {
    if (encoding == TextEncoding::Gbk) return platform::Cp936ToUtf8(raw, out);
    if (!platform::IsValidUtf8(raw)) return false;
    out.assign(raw);
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
