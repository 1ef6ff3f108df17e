#include <charconv>

#include "cabbuild/folder_compressor.h"

namespace cabbuild {

namespace {

class StoredCompressor final : public FolderCompressor {
public:
    uint16_t TypeWord() const override { return 0; }
    std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) override {
        return {frame.begin(), frame.end()};
    }
};

bool ParseParameter(const std::string& text, int lo, int hi, int* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end && *value >= lo && *value <= hi;
}

}  // namespace

std::unique_ptr<FolderCompressor> MakeStoredCompressor() {
    return std::make_unique<StoredCompressor>();
}

std::unique_ptr<FolderCompressor> MakeCompressor(const std::string& method, std::string* error) {
    auto colon = method.find(':');
    std::string name = method.substr(0, colon);
    std::string param = colon == std::string::npos ? "" : method.substr(colon + 1);
    struct Method {
        const char* name;
        int lo, hi, def;
        std::unique_ptr<FolderCompressor> (*make)(int);
    };
    static const Method methods[] = {
        {"mszip", 0, 9, 6, MakeMszipCompressor},
        {"lzx", 15, 21, 21, MakeLzxCompressor},
        {"quantum", 10, 21, 21, MakeQuantumCompressor},
    };
    if (name == "none" && colon == std::string::npos) return MakeStoredCompressor();
    for (const auto& m : methods) {
        if (name != m.name) continue;
        int value = m.def;
        if (colon != std::string::npos && !ParseParameter(param, m.lo, m.hi, &value)) {
            *error = "bad parameter for " + name + ": '" + param + "' (allowed " +
                     std::to_string(m.lo) + ".." + std::to_string(m.hi) + ")";
            return nullptr;
        }
        auto compressor = m.make(value);
        if (!compressor) *error = "compression method " + name + " is not available";
        return compressor;
    }
    *error = "unknown compression method '" + method + "' (none, mszip[:0..9], lzx[:15..21], quantum[:10..21])";
    return nullptr;
}

}  // namespace cabbuild
