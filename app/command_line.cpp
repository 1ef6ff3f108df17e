#include "app/command_line.h"

#include <climits>

CaretFields ParseCaretFields(const std::string& commandLine) {
    CaretFields result;
    size_t pos = 0;
    while (result.count < 4) {
        const size_t open = commandLine.find('^', pos);
        if (open == std::string::npos) break;
        const size_t start = open + 1;
        if (start >= commandLine.size()) break;
        const size_t close = commandLine.find('^', start + 1);
        if (close == std::string::npos) break;
        result.field[static_cast<size_t>(result.count++)] =
            commandLine.substr(start, std::min(close - start, kFieldCapacity));
        pos = start;  // the closing caret opens the next field
    }
    return result;
}

int ParseWindowNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

bool StaysInside(const std::string& relativePath) {
    if (!relativePath.empty() && (relativePath[0] == '/' || relativePath[0] == '\\')) return false;
    if (relativePath.size() >= 2 && relativePath[1] == ':') return false;  // a drive letter
    size_t start = 0;
    while (start <= relativePath.size()) {
        size_t end = relativePath.find_first_of("/\\", start);
        if (end == std::string::npos) end = relativePath.size();
        if (relativePath.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}
