// The extraction engine with a Quantum folder; window bits mostly valid,
// sometimes out of range (9 to 22).
#include "fuzz/common/folder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::FuzzOneFolder(data, size, {2, 9, 14});
}
