// Cabinets for the client's tests, built with the cabinet writer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "temp_dir.h"

namespace cabtest {

// 2026-12-11 04:31:30.
inline constexpr uint16_t kDate = static_cast<uint16_t>(((2026 - 1980) << 9) | (12 << 5) | 11);
inline constexpr uint16_t kTime = static_cast<uint16_t>((4 << 11) | (31 << 5) | 15);
inline constexpr long kUnixUtc = 1796963490;  // the same moment, read as UTC

struct FileSpec {
    std::string name;  // stored bytes
    std::string data;
    uint16_t attribs = 0x20;
    uint16_t date = kDate;
    uint16_t time = kTime;
};

// One stored folder with every file; with maxCabinetSize a set named
// base.cab, base2.cab, ...
inline std::vector<cabbuild::CabinetImage> BuildCabinets(const std::vector<FileSpec>& files,
                                                         uint32_t maxCabinetSize = 0,
                                                         const std::string& base = "test") {
    cabbuild::SetOptions options;
    options.maxCabinetSize = maxCabinetSize;
    options.setID = 0x1234;
    options.cabinetName = cabbuild::SetNamer(base);
    cabbuild::CabinetWriter writer(options);
    std::string error;
    EXPECT_TRUE(writer.StartFolder("none", &error)) << error;
    for (const auto& f : files) writer.AddFile(f.name, Bytes(f.data), f.date, f.time, f.attribs);
    std::vector<cabbuild::CabinetImage> images;
    EXPECT_TRUE(writer.Build(&images, &error)) << error;
    return images;
}

inline void WriteCabinets(const std::vector<cabbuild::CabinetImage>& images, const std::string& dir) {
    std::string error;
    ASSERT_TRUE(cabbuild::WriteCabinetFiles(images, dir, &error)) << error;
}

// Writes the cabinet(s) into dir; returns the path of the first one.
inline std::string MakeCabinet(const std::string& dir, const std::vector<FileSpec>& files,
                               uint32_t maxCabinetSize = 0, const std::string& base = "test") {
    const auto images = BuildCabinets(files, maxCabinetSize, base);
    WriteCabinets(images, dir);
    return images.empty() ? std::string() : dir + "/" + images.front().name;
}

}  // namespace cabtest
