// A read-only, in-memory model of an INI-syntax file.
//
// Lookups are searches over the raw bytes for whitespace-delimited tokens,
// not a line parser: existing manifests rely on exactly what this accepts.
// Section and key names match without regard to ASCII letter case; values
// come back byte for byte as stored, so double-byte text passes through.
#pragma once

#include <cstdint>

class CIniFile {
public:
    CIniFile();
    ~CIniFile();
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // 0 on success, -1 on failure. The first load stores the path; later
    // loads read the stored path and only require a non-null argument.
    int Load(const char* path, bool createIfMissing);
    void Clear();
    bool IsLoaded() const { return m_bLoaded; }

    // Bytes stored in buf without the terminator; 0 means absent.
    uint32_t ReadValue(const char* section, const char* key, char* buf, uint32_t size) const;
    // True when found (result written, atol-like, saturating at the 32-bit
    // range); false when absent (result untouched).
    bool ReadInt(const char* section, const char* key, int32_t* result) const;
    // As ReadInt, but stores def when the key is absent.
    bool GetInt(const char* section, const char* key, int32_t* result, int32_t def) const;
    // The value, or def when absent; returns the length left in buf.
    uint32_t GetString(const char* section, const char* key, char* buf, uint32_t size,
                       const char* def) const;

    const char* Path() const { return m_szPath; }
    const char* Text() const { return m_pText; }
    int32_t Length() const { return m_nLength; }

private:
    // Offsets into the lowered text; -1 means "not found".
    int32_t FindToken(const char* token, int32_t start, int32_t limit) const;
    bool FindSection(const char* name, int32_t* bodyStart, int32_t* bodyEnd) const;
    bool FindKey(const char* key, int32_t bodyStart, int32_t bodyEnd, int32_t* valueStart,
                 int32_t* valueEnd) const;

    char* m_pText = nullptr;
    char* m_pLower = nullptr;
    int32_t m_nLength = 0;
    bool m_bLoaded = false;
    char m_szPath[260] = {};
};
