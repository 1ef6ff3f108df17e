// Turning manifest values into paths: the manifest's text encoding (GBK as
// written by the Windows tools, or UTF-8), conversion to UTF-8, and the check
// that an entry's relative part stays inside the folder it is joined to.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace manifest {

enum class TextEncoding { Utf8, Gbk };

// A text that is entirely valid UTF-8 is UTF-8 (plain ASCII included);
// anything else is taken as GBK (code page 936).
TextEncoding DetectEncoding(std::string_view text);

// Converts one value to UTF-8. False when it is not valid in its encoding.
bool ToUtf8(std::string_view raw, TextEncoding encoding, std::string& out);

// Number of characters (code points) of a UTF-8 text.
size_t CountChars(std::string_view utf8);

// FilePath and FileName (UTF-8, either separator) are joined to a folder by
// plain concatenation. True when the result names a file below that folder:
// the joined part begins with exactly one separator (so it can't extend the
// folder's own last name or start a network path), FileName doesn't begin
// with one and isn't empty, no component is "." or "..", and there is no drive
// letter or other ':'.
bool IsContainedRelativePath(std::string_view filePath, std::string_view fileName);

}  // namespace manifest
