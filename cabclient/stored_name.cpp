#include "cabclient/stored_name.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "fdi/fdi.h"

namespace cabclient {
namespace {

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = 0;
        uint32_t cp = 0;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1Fu; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0Fu; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07u; }
        else return false;
        if (i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        i += len;
    }
    return true;
}

}  // namespace

const char* NameErrorText(NameError error) {
    switch (error) {
        case NameError::None: return "valid";
        case NameError::Unconvertible: return "not valid in its code page";
        case NameError::Empty: return "no file name";
        case NameError::Absolute: return "absolute path";
        case NameError::DriveLetter: return "drive letter or ':' in name";
        case NameError::ParentReference: return "'..' component";
    }
    return "invalid name";
}

bool Cp936ToUtf8(const std::string& cp936, std::string& utf8) {
    if (IsAscii(cp936)) {
        utf8 = cp936;
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // A double-byte character becomes at most 3 bytes, a single byte at most 3.
    std::string out(cp936.size() * 3 + 4, '\0');
    std::string in = cp936;
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    // A byte that maps to U+0000 would cut the name short later on.
    if (out.find('\0') != std::string::npos) return false;
    utf8 = std::move(out);
    return true;
}

bool ConvertStoredName(const char* stored, uint16_t attribs, std::string& utf8) {
    const std::string bytes(stored);
    if (attribs & _A_NAME_IS_UTF) {
        if (!IsValidUtf8(bytes)) return false;
        utf8 = bytes;
        return true;
    }
    return Cp936ToUtf8(bytes, utf8);
}

NameError SplitStoredName(const std::string& utf8, std::vector<std::string>& components) {
    components.clear();
    if (utf8.empty()) return NameError::Empty;
    if (utf8[0] == '\\' || utf8[0] == '/') return NameError::Absolute;
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find_first_of("\\/", start);
        if (end == std::string::npos) end = utf8.size();
        std::string part = utf8.substr(start, end - start);
        const bool last = end == utf8.size();
        if (part.find(':') != std::string::npos) return NameError::DriveLetter;
        if (part == "..") return NameError::ParentReference;
        if (!part.empty() && part != ".") components.push_back(std::move(part));
        else if (last) return NameError::Empty;  // no file name at the end
        start = end + 1;
    }
    return components.empty() ? NameError::Empty : NameError::None;
}

NameError ParseStoredName(const char* stored, uint16_t attribs,
                          std::vector<std::string>& components) {
    std::string utf8;
    if (!ConvertStoredName(stored, attribs, utf8)) return NameError::Unconvertible;
    return SplitStoredName(utf8, components);
}

std::string JoinComponents(const std::vector<std::string>& components) {
    std::string joined;
    for (const auto& part : components) {
        if (!joined.empty()) joined += '/';
        joined += part;
    }
    return joined;
}

}  // namespace cabclient

namespace cabclient {

bool PrepareNextCabinetName(char* psz1, size_t bufferSize) {
    if (psz1 == nullptr || bufferSize == 0) return false;
    std::string utf8;
    if (!Cp936ToUtf8(std::string(psz1, strnlen(psz1, bufferSize)), utf8)) return false;
    if (utf8.empty() || utf8 == "." || utf8 == ".." || utf8.size() >= bufferSize) return false;
    if (utf8.find_first_of("\\/:") != std::string::npos) return false;
    std::memcpy(psz1, utf8.c_str(), utf8.size() + 1);
    return true;
}

}  // namespace cabclient
