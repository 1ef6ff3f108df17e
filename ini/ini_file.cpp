#include "ini/ini_file.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kPathCapacity = 260;  // 259 bytes and the terminator
constexpr uint32_t kIntBufferSize = 100;

// Folds 'A'..'Z' only; every other byte, including the second byte of a
// double-byte character, stays as it is.
void LowerAscii(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x41 && c <= 0x5A) text[i] = static_cast<char>(c + 0x20);
    }
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsTokenBefore(char c) { return IsBlank(c) || IsLineEnd(c); }
bool IsTokenAfter(char c) { return IsBlank(c) || IsLineEnd(c) || c == '='; }

// atol, except that a value beyond the 32-bit range saturates instead of
// wrapping: a huge count must never turn into a small or negative one.
int32_t ParseLong(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

}  // namespace

CIniFile::CIniFile() = default;

CIniFile::~CIniFile() { Clear(); }

void CIniFile::Clear() {
    std::free(m_pText);
    std::free(m_pLower);
    m_pText = nullptr;
    m_pLower = nullptr;
    m_nLength = 0;
    m_bLoaded = false;
}

int CIniFile::Load(const char* path, bool createIfMissing) {
    Clear();
    if (path == nullptr) return -1;
    if (m_szPath[0] == '\0') {
        // A longer path would be cut and name another file; refuse it.
        if (std::strlen(path) >= kPathCapacity) return -1;
        std::strcpy(m_szPath, path);
    }

    FILE* file = std::fopen(m_szPath, "rb");
    if (file == nullptr) {
        if (!createIfMissing) return -1;
        file = std::fopen(m_szPath, "wb");
        if (file == nullptr) return -1;
    }
    // A folder opens on this system but not on the one the manifests come
    // from; it is no INI file.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode) ||
        std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return -1;
    }
    const long size = std::ftell(file);
    if (size < 0 || size >= INT32_MAX) {
        std::fclose(file);
        return -1;
    }
    const auto n = static_cast<size_t>(size);
    m_pText = static_cast<char*>(std::malloc(n + 1));
    m_pLower = static_cast<char*>(std::malloc(n + 1));
    if (m_pText == nullptr || m_pLower == nullptr || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        Clear();
        return -1;
    }
    size_t got = std::fread(m_pText, 1, n, file);
    // A UTF-8 byte-order mark is no text: left in place it would hide a
    // section header at the very start from the token search.
    if (got >= 3 && std::memcmp(m_pText, "\xEF\xBB\xBF", 3) == 0) {
        std::memmove(m_pText, m_pText + 3, got - 3);
        got -= 3;
    }
    m_nLength = static_cast<int32_t>(got);
    m_pText[got] = '\0';
    std::memcpy(m_pLower, m_pText, got + 1);
    LowerAscii(m_pLower, got + 1);
    std::fclose(file);
    m_bLoaded = true;
    return 0;
}

// Finds token (already lowered) in the lowered text at or after start. The
// occurrence must be delimited by white space on its left (unless it begins
// exactly at the scan position) and by white space or '=' on its right; it
// is the match only if it ends at or before limit.
int32_t CIniFile::FindToken(const char* token, int32_t start, int32_t limit) const {
    if (token == nullptr || m_pLower == nullptr || start < 0 || start >= limit) return -1;
    const auto length = static_cast<int32_t>(std::strlen(token));
    if (length == 0) return -1;  // an empty token would never advance the scan
    int32_t scan = start;
    for (;;) {
        const char* hit = std::strstr(m_pLower + scan, token);
        if (hit == nullptr) return -1;
        const auto at = static_cast<int32_t>(hit - m_pLower);
        const bool leftOk = at == scan || IsTokenBefore(m_pLower[at - 1]);
        const bool rightOk = IsTokenAfter(m_pLower[at + length]);
        if (leftOk && rightOk) return at + length <= limit ? at : -1;
        scan = at + length;
    }
}

bool CIniFile::FindSection(const char* name, int32_t* bodyStart, int32_t* bodyEnd) const {
    if (name == nullptr || m_pText == nullptr || m_pLower == nullptr) return false;
    std::string header = "[";
    header += name;
    header += ']';
    LowerAscii(header.data(), header.size());
    const int32_t at = FindToken(header.c_str(), 0, m_nLength);
    if (at < 0) return false;

    // The rest of the header line is ignored, and so are blank lines after it.
    int32_t pos = at + static_cast<int32_t>(header.size());
    while (pos < m_nLength && m_pLower[pos] != '\0' && !IsLineEnd(m_pLower[pos])) ++pos;
    while (pos < m_nLength && IsLineEnd(m_pLower[pos])) ++pos;
    *bodyStart = pos;

    // The body ends at the first '[' that is the first non-blank of a line.
    bool atLineStart = true;
    for (; m_pLower[pos] != '\0'; ++pos) {
        const char c = m_pLower[pos];
        if (c == '[' && atLineStart) break;
        if (IsLineEnd(c)) {
            atLineStart = true;
        } else if (!IsBlank(c)) {
            atLineStart = false;
        }
    }
    *bodyEnd = pos;
    return true;
}

bool CIniFile::FindKey(const char* key, int32_t bodyStart, int32_t bodyEnd, int32_t* valueStart,
                       int32_t* valueEnd) const {
    if (key == nullptr || bodyStart >= bodyEnd || m_pText == nullptr || m_pLower == nullptr) return false;
    std::string lowered = key;
    LowerAscii(lowered.data(), lowered.size());
    const auto length = static_cast<int32_t>(lowered.size());

    int32_t search = bodyStart;
    for (;;) {
        const int32_t at = FindToken(lowered.c_str(), search, bodyEnd);
        if (at < 0) return false;
        int32_t pos = at + length;
        while (pos < bodyEnd && IsBlank(m_pLower[pos])) ++pos;
        if (pos < bodyEnd && m_pLower[pos] == '=') {
            ++pos;
            while (pos < bodyEnd && IsBlank(m_pLower[pos])) ++pos;
            const int32_t start = pos;
            while (pos < bodyEnd && m_pLower[pos] != '\t' && !IsLineEnd(m_pLower[pos])) ++pos;
            // An empty value reads as absent; later occurrences are not tried.
            if (pos == start) return false;
            *valueStart = start;
            *valueEnd = pos;
            return true;
        }
        // Not followed by '=': a word in some value, not this key.
        if (pos >= bodyEnd) return false;
        search = pos;
    }
}

uint32_t CIniFile::ReadValue(const char* section, const char* key, char* buf, uint32_t size) const {
    if (!m_bLoaded || section == nullptr || key == nullptr || buf == nullptr || size == 0) return 0;
    int32_t bodyStart = 0, bodyEnd = 0, valueStart = 0, valueEnd = 0;
    if (!FindSection(section, &bodyStart, &bodyEnd) ||
        !FindKey(key, bodyStart, bodyEnd, &valueStart, &valueEnd)) {
        return 0;
    }
    uint32_t copied = 0;
    while (copied < size - 1 && valueStart + static_cast<int32_t>(copied) < valueEnd) {
        buf[copied] = m_pText[valueStart + static_cast<int32_t>(copied)];
        ++copied;
    }
    buf[copied] = '\0';
    // A full buffer must not end in half a double-byte character; as lead and
    // trail bytes can't be told apart here, any high last byte is dropped.
    if (copied > 0 && copied == size - 1 && static_cast<unsigned char>(buf[copied - 1]) >= 0x80) {
        buf[--copied] = '\0';
    }
    return copied;
}

bool CIniFile::ReadInt(const char* section, const char* key, int32_t* result) const {
    char text[kIntBufferSize];
    if (result == nullptr || ReadValue(section, key, text, sizeof text) == 0) return false;
    *result = ParseLong(text);
    return true;
}

bool CIniFile::GetInt(const char* section, const char* key, int32_t* result, int32_t def) const {
    if (ReadInt(section, key, result)) return true;
    if (result != nullptr) *result = def;
    return false;
}

uint32_t CIniFile::GetString(const char* section, const char* key, char* buf, uint32_t size,
                             const char* def) const {
    if (size == 0 || buf == nullptr) return 0;
    const uint32_t got = ReadValue(section, key, buf, size);
    if (got != 0) return got;
    if (def == nullptr) def = "";
    std::strncpy(buf, def, size - 1);
    buf[size - 1] = '\0';
    return static_cast<uint32_t>(std::strlen(buf));
}
