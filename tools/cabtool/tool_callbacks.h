// The FDI callbacks of cabtool: the C-runtime stand-ins, plus an anonymous
// temporary file for the Quantum decoder's spill request and a handle that
// swallows writes for "cabtool test".
#pragma once

#include <cstdint>

namespace cabtool {

// Written to as a target file, it accepts and drops every byte.
inline constexpr int kDiscardHandle = 0x7FFFFF00;

void* ToolAlloc(uint32_t cb);
void ToolFree(void* pv);
// "*" (the spill request) opens a new anonymous temporary file for reading
// and writing, gone once closed; every other name goes to the runtime.
int ToolOpen(const char* pszFile, int oflag, int pmode);
uint32_t ToolRead(int hf, void* pv, uint32_t cb);
uint32_t ToolWrite(int hf, const void* pv, uint32_t cb);
int ToolClose(int hf);
int32_t ToolSeek(int hf, int32_t dist, int seektype);

// Bytes accepted by ToolWrite since the last reset (for the progress line).
uint64_t BytesWritten();
void ResetBytesWritten();

// Called after every accepted write (nullptr: nobody).
using WriteObserver = void (*)(void* context);
void SetWriteObserver(WriteObserver observer, void* context);

}  // namespace cabtool
