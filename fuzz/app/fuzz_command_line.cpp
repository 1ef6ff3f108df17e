// Hostile command lines: the caret parser, the window number and the
// containment check must hold their promises for any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string commandLine(reinterpret_cast<const char*>(data), size);
    const CaretFields fields = ParseCaretFields(commandLine);
    if (fields.count < 0 || fields.count > 4) std::abort();
    for (int i = 0; i < 4; ++i) {
        const std::string& field = fields.field[static_cast<size_t>(i)];
        if (field.size() > kFieldCapacity) std::abort();
        // A field that was given is never empty and always comes from the input.
        if (i < fields.count && (field.empty() || commandLine.find(field) == std::string::npos)) {
            std::abort();
        }
        if (i >= fields.count && !field.empty()) std::abort();
        (void)ParseWindowNumber(field);
        if (StaysInside(field) && field.find("..") == 0 &&
            (field.size() == 2 || field[2] == '\\' || field[2] == '/')) {
            std::abort();
        }
    }
    return 0;
}
