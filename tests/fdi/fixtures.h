// Small builders shared by the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "tests/support/memory_fdi.h"

namespace fditest {

using Files = std::map<std::string, std::vector<uint8_t>>;
using cabbuild::CabinetRecord;

// Deterministic bytes that differ from file to file.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}

// Builds the writer's records, lets `change` alter them, and serialises.
// With refinalize the counts and offsets are recomputed after the change.
inline Files BuildSet(cabbuild::CabinetWriter& writer,
                      const std::function<void(std::vector<CabinetRecord>&)>& change = {},
                      bool refinalize = true, const std::string& cabPath = "") {
    std::vector<CabinetRecord> cabinets;
    std::string error;
    EXPECT_TRUE(writer.BuildRecords(&cabinets, &error)) << error;
    if (change) {
        change(cabinets);
        if (refinalize)
            for (auto& cab : cabinets) cabbuild::FinalizeCabinet(cab);
    }
    Files files;
    for (const auto& cab : cabinets) files[cabPath + cab.fileName] = cabbuild::SerializeCabinet(cab);
    return files;
}

// The notification types in order, as names, for comparing sequences.
inline std::vector<std::string> Sequence(const testsupport::ExtractResult& r) {
    std::vector<std::string> out;
    for (const auto& n : r.notifications) out.push_back(testsupport::NotificationName(n.type));
    return out;
}

inline std::vector<const testsupport::Notification*> OfType(const testsupport::ExtractResult& r,
                                                            FDINOTIFICATIONTYPE type) {
    std::vector<const testsupport::Notification*> out;
    for (const auto& n : r.notifications)
        if (n.type == type) out.push_back(&n);
    return out;
}

inline void PutLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes.at(at) = uint8_t(v);
    bytes.at(at + 1) = uint8_t(v >> 8);
}

}  // namespace fditest
