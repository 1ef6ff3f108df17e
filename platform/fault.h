// Fault injection for the file system: stands in for nothing on Windows; it
// exists so tests can make any single file-system operation fail.
//
// Every file-system operation of the platform layer (the C-runtime stand-ins
// of crt.h and the file operations of files.h) counts as one operation, in
// call order, starting at 1. A test can ask for the n-th operation to fail:
// that operation then does nothing and reports failure the way the real call
// would (errno = EIO, -1 / false / INVALID_FILE_ATTRIBUTES).
//
// Across exec: the environment variable MG_FAIL_FS_OP=<n> arms the same
// injection at start-up, so a test can run the real binary and make its n-th
// operation fail. The program writes the number of operations it performed
// into its record file (see ui.h, record kind "fsops") before it ends.
#pragma once

#include <cstdint>

namespace platform {

// Called by the platform layer at the start of each file-system operation.
// Returns false when this operation is the one that must fail (errno is then
// set to EIO).
bool CountFsOp();

// Makes the n-th operation from now on fail (1 = the next one); 0 disarms.
// Resets the operation count.
void FailFsOpAt(uint64_t n);

// Number of operations counted since start-up or the last FailFsOpAt /
// ResetFsOpCount.
uint64_t FsOpCount();
void ResetFsOpCount();

// Reads MG_FAIL_FS_OP; called once at start-up (safe to call again).
void ArmFsFaultFromEnvironment();

}  // namespace platform
