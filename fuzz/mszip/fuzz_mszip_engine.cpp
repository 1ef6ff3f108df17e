// The extraction engine with an MSZIP folder.
#include "fuzz/common/folder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::FuzzOneFolder(data, size, {1, 0, 0});
}
