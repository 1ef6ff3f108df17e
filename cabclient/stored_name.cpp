#include "cabclient/stored_name.h"

#include <cerrno>
#include <cstring>

#include "fdi/fdi.h"
#include "platform/text.h"

namespace cabclient {

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

bool ConvertStoredName(const char* stored, uint16_t attribs, std::string& utf8) {
    const std::string bytes(stored);
    if (attribs & _A_NAME_IS_UTF) {
        if (!platform::IsValidUtf8(bytes)) return false;
        utf8 = bytes;
        return true;
    }
    return platform::Cp936ToUtf8(bytes, utf8);
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
    if (!platform::Cp936ToUtf8(std::string(psz1, strnlen(psz1, bufferSize)), utf8)) return false;
    if (utf8.empty() || utf8 == "." || utf8 == ".." || utf8.size() >= bufferSize) return false;
    if (utf8.find_first_of("\\/:") != std::string::npos) return false;
    std::memcpy(psz1, utf8.c_str(), utf8.size() + 1);
    return true;
}

}  // namespace cabclient
