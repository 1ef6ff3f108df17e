// Stand-ins for the C runtime's low-level file I/O of Windows (_open, _read,
// _write, _close, _lseek, _access, _mkdir, _chdir, _unlink).
//
// They take the Windows flag and permission values and translate them, so
// code written for that runtime keeps its constants. The signatures match the
// FDI file callbacks (PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK in
// fdi/fdi.h), so these functions can be handed to FDICreate directly.
//
// Behaviour that Windows code relies on and Linux lacks:
//  - descriptors are opened close-on-exec;
//  - descriptors 0 to 2 are made to exist (on /dev/null) before the first
//    open, so a file is never handed out as descriptor 0, which the cabinet
//    engine reads as "skip this file";
//  - existing files and folders are found without regard to ASCII case when
//    there is no exact match and exactly one candidate (see paths.h);
//  - a read-only file (owner write bit clear) can't be opened for writing or
//    unlinked, even by root, as on Windows.
// Each call is one file-system operation for fault injection (fault.h).
#pragma once

#include <cstdint>

namespace platform {

// Open flags, Windows values.
inline constexpr int kO_RDONLY = 0x0000;
inline constexpr int kO_WRONLY = 0x0001;
inline constexpr int kO_RDWR = 0x0002;
inline constexpr int kO_APPEND = 0x0008;
inline constexpr int kO_RANDOM = 0x0010;      // hint, ignored
inline constexpr int kO_SEQUENTIAL = 0x0020;  // hint, ignored
inline constexpr int kO_TEMPORARY = 0x0040;   // not supported: ignored
inline constexpr int kO_NOINHERIT = 0x0080;   // always the case here
inline constexpr int kO_CREAT = 0x0100;
inline constexpr int kO_TRUNC = 0x0200;
inline constexpr int kO_EXCL = 0x0400;
inline constexpr int kO_TEXT = 0x4000;  // no translation is done
inline constexpr int kO_BINARY = 0x8000;

// Permission values for a new file (Windows values); without kS_IWRITE the
// new file is read-only.
inline constexpr int kS_IREAD = 0x0100;
inline constexpr int kS_IWRITE = 0x0080;

// Seek origins (same numbers on both systems).
inline constexpr int kSEEK_SET = 0;
inline constexpr int kSEEK_CUR = 1;
inline constexpr int kSEEK_END = 2;

// _access modes.
inline constexpr int kAccessExists = 0;
inline constexpr int kAccessWrite = 2;
inline constexpr int kAccessRead = 4;
inline constexpr int kAccessReadWrite = 6;

// Returns the descriptor (never 0, 1 or 2), or -1.
int _open(const char* path, int oflag, int pmode);
// Returns the bytes read / written, or 0xFFFFFFFF on failure.
uint32_t _read(int fd, void* buffer, uint32_t count);
uint32_t _write(int fd, const void* buffer, uint32_t count);
// 0 on success, -1 on failure. An injected failure still closes fd.
int _close(int fd);
// New position, or -1.
int32_t _lseek(int fd, int32_t offset, int origin);
// 0 when the path exists (and allows the mode asked), else -1.
int _access(const char* path, int mode);
int _mkdir(const char* path);
int _chdir(const char* path);
int _unlink(const char* path);

// Makes descriptors 0 to 2 exist (opened on /dev/null where closed). Called
// by the first _open and by the program's start-up; safe to call again.
void EnsureStandardDescriptors();

}  // namespace platform
