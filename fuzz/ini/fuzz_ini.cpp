// Arbitrary file bytes, then lookups of arbitrary sections and keys.
//
// Input layout: two bytes give the length of the file part (taken modulo the
// input size); the rest is a list of lookups, each "section\nkey\n". Every
// lookup goes through all getters with a few buffer sizes, so the double-byte
// guard and the default copy are exercised at every boundary.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ini/ini_file.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = "/tmp/fuzz_ini_" + std::to_string(getpid()) + ".ini";
    return path;
}

void Lookup(const CIniFile& ini, const std::string& section, const std::string& key) {
    static const uint32_t kSizes[] = {1, 2, 3, 7, 100, 260};
    for (uint32_t size : kSizes) {
        std::vector<char> buf(size);
        const uint32_t got = ini.ReadValue(section.c_str(), key.c_str(), buf.data(), size);
        if (got >= size || buf[got] != '\0') __builtin_trap();
        const uint32_t len = ini.GetString(section.c_str(), key.c_str(), buf.data(), size, "default");
        if (len >= size || buf[len] != '\0') __builtin_trap();
    }
    int32_t value = 0;
    ini.GetInt(section.c_str(), key.c_str(), &value, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t fileLength = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % (size - 1);
    const auto* text = reinterpret_cast<const char*>(data + 2);
    const size_t rest = size - 2;
    const size_t fileBytes = fileLength < rest ? fileLength : rest;

    FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(text, 1, fileBytes, file);
    std::fclose(file);

    CIniFile ini;
    const int loaded = ini.Load(ScratchPath().c_str(), false);
    std::remove(ScratchPath().c_str());  // the text is in memory now
    if (loaded != 0) return 0;

    std::vector<std::string> names;
    std::string current;
    for (size_t i = fileBytes; i < rest; ++i) {
        if (text[i] == '\n') {
            names.push_back(current);
            current.clear();
        } else if (text[i] != '\0') {
            current += text[i];
        }
    }
    names.push_back(current);
    for (size_t i = 0; i + 1 < names.size() && i < 16; i += 2) Lookup(ini, names[i], names[i + 1]);
    Lookup(ini, "VerInfo", "UpdateFileNum");
    return 0;
}
