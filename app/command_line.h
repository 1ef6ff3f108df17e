// The caret-delimited fields that the client writes after the program path:
// `^f0^f1^f2^f3^` (result window number or -1, program to close, cabinet
// name under DownTemp, installation subfolder).
#pragma once

#include <array>
#include <string>

struct CaretFields {
    std::array<std::string, 4> field;  // missing fields are empty
    int count = 0;                     // fields actually given
};

// A slot holds 259 characters; longer fields are cut there.
inline constexpr size_t kFieldCapacity = 259;

// Each caret closes one field and opens the next. The closing caret is looked
// for from a field's second character on, so a field is never empty and an
// empty field swallows the next caret: `^a^^b^c^d^` gives a, ^b, b, c. Text
// before the first caret never becomes a field; a fifth field is ignored.
CaretFields ParseCaretFields(const std::string& commandLine);

// atoi as the Windows runtime does it: leading blanks, optional sign,
// digits; anything else ends the number; no number gives 0; values beyond
// the int range are clamped instead of overflowing.
int ParseWindowNumber(const std::string& text);

// True when a field names a place inside the folder it is relative to: not
// absolute and without a ".." component (separators '\' or '/').
bool StaysInside(const std::string& relativePath);
