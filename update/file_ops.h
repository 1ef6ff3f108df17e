// File operations of the replacement and clean-up steps, on top of the
// platform's Windows-like file calls. Paths are UTF-8 with native separators.
#pragma once

#include <string>

// Makes sure the folder part of path exists, creating missing folders one
// level at a time. False when path has no folder part or a level can't be
// created.
bool EnsureFolderExists(const std::string& path);

// Copies source over target (overwriting it) and keeps the attribute words
// of both: a read-only source or target is made writable for the copy and
// gets its word back afterwards. False when the source isn't there or the
// copy fails.
bool CopyFileKeepAttributes(std::string source, std::string target);

// True when the file or folder exists (found by a directory search).
bool FileExists(std::string path);

// Deletes a file or a whole folder tree silently, never following symbolic
// links. Always true: what can't be deleted is left without notice.
bool ShellDeleteTree(std::string path);
