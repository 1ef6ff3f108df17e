// Inside the Quantum decoder: the handle with all of its working state, and
// the entry points of the file-backed spill window. Each handle carries its
// own state, so any number of decoders (contexts, threads) can coexist.
#pragma once

#include <cstdint>

#include "decoders/decoder.h"
#include "decoders/quantum_model.h"

namespace quantum {

inline constexpr uint32_t kSignature = 0x43494451;  // "QDIC"
inline constexpr uint32_t kMaxBlock = 32768;
inline constexpr uint32_t kInputSlack = 10240;
inline constexpr uint32_t kSpillPageSize = 4096;
inline constexpr uint32_t kMinSpillBuffers = 3;

// One cached page of the spill window, linked most recently used first.
struct SpillBuffer {
    SpillBuffer* prev;
    SpillBuffer* next;
    int32_t page;  // -1: holds no page
    bool dirty;
    uint8_t data[kSpillPageSize];
};

struct SpillPageEntry {
    SpillBuffer* buffer;  // null: not cached
    bool written;         // written to the file since the last reset
};

struct SpillState {
    int file;
    uint32_t bufferCount;  // buffers obtained (at least 3)
    uint32_t tableSize;    // page-table entries: window pages, at least 3
    uint32_t windowPages;  // pages the window spans
    uint32_t pageBytes;    // bytes of a page in use: 4096, or the whole window when smaller
    SpillPageEntry* table;
    SpillBuffer* head;
    SpillBuffer* tail;
    SpillBuffer* writeBuffer;
    uint32_t writeOffset;  // write position inside the current write page
};

struct QuantumDecoder {
    uint32_t signature;
    PFNALLOC alloc;
    PFNFREE free;
    decoders::DecoderFileCallbacks files;
    uint32_t maxBlock;
    int32_t cpuType;

    int windowBits;
    uint32_t windowSize;
    uint32_t windowMask;
    uint8_t* window;  // null in spill mode
    uint32_t writePos;
    uint32_t total;  // bytes decoded since the last reset
    bool spillMode;
    bool spillError;
    ModelSet models;
    SpillState spill;
};

// What one decoding call writes into.
struct CallOutput {
    uint8_t* out;
    uint32_t remaining;
    bool overflow;
};

// The spill window (quantum_spill.cpp).
bool SpillSetUp(QuantumDecoder& d);
void SpillResetCache(QuantumDecoder& d);
void SpillRelease(QuantumDecoder& d);
void SpillPutLiteral(QuantumDecoder& d, CallOutput& o, uint8_t b);
void SpillCopyMatch(QuantumDecoder& d, CallOutput& o, uint32_t length, uint32_t offset);

// Decodes one block into o (quantum_decode.cpp); false on any failure.
bool DecodeBlock(QuantumDecoder& d, const uint8_t* input, uint32_t count, CallOutput& o);

}  // namespace quantum
