// Text encodings that names from Windows-made files arrive in: strict UTF-8
// validation and conversion from code page 936 (GBK, the code page of the
// manifests and of cabinet names without the UTF-8 flag) to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Converts code page 936 bytes to UTF-8. False when the bytes are not valid
// in that code page, or when the result would hold a NUL (it would cut a
// name short later on). Pure ASCII is copied as it is.
bool Cp936ToUtf8(std::string_view cp936, std::string& utf8);

}  // namespace platform
