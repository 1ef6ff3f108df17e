// Path helpers standing in for Windows' case-insensitive name lookup and for
// the per-user folders the Windows objects (mutexes, windows) live in.
#pragma once

#include <string>

namespace platform {

// Returns path with each existing component spelled as on disk: a component
// with no exact match but exactly one match ignoring ASCII case is replaced
// by that match, as Windows would find it. Components that don't exist (or
// are ambiguous) keep their case, so new names keep theirs.
std::string ResolveCase(const std::string& path);

// Replaces every backslash by '/'. For names that come from Windows-written
// data once they are in UTF-8.
std::string ToNativeSeparators(std::string path);

// The per-user folder for named mutexes and result windows:
// $XDG_RUNTIME_DIR when set, else <temp folder>/morrowgate-<uid>, created with
// mode 0700 and refused (empty string returned) when it is not a real folder
// owned by this user. The temp folder is $TMPDIR, else /tmp. Tests isolate
// themselves by pointing XDG_RUNTIME_DIR at a folder of their own.
std::string RuntimeDir();

}  // namespace platform
