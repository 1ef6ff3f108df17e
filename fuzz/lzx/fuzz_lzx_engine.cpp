// The extraction engine with an LZX folder; window bits mostly valid,
// sometimes out of range (14 to 22).
#include "fuzz/common/folder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::FuzzOneFolder(data, size, {3, 14, 9});
}
