// Stored names from a cabinet: whatever the bytes, an accepted name must
// only ever name something below the destination folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabclient/stored_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: the entry's attributes (0x80 = UTF-8 name); the rest is
    // the name as stored, up to its NUL.
    const auto attribs = static_cast<uint16_t>(data[0]);
    const std::string stored(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> components;
    if (cabclient::ParseStoredName(stored.c_str(), attribs, components) != cabclient::NameError::None)
        return 0;
    if (components.empty()) __builtin_trap();
    for (const auto& part : components) {
        if (part.empty() || part == "." || part == "..") __builtin_trap();
        if (part.find_first_of("/\\:") != std::string::npos) __builtin_trap();
        if (part.find('\0') != std::string::npos) __builtin_trap();
    }
    return 0;
}
