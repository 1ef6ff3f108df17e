// Placeholder: replaced by the INI reader implementation.
#include "ini/ini_file.h"

CIniFile::CIniFile() = default;
CIniFile::~CIniFile() { Clear(); }
int CIniFile::Load(const char*, bool) { return -1; }
void CIniFile::Clear() {}
uint32_t CIniFile::ReadValue(const char*, const char*, char*, uint32_t) const { return 0; }
bool CIniFile::ReadInt(const char*, const char*, int32_t*) const { return false; }
bool CIniFile::GetInt(const char*, const char*, int32_t* r, int32_t d) const { *r = d; return false; }
uint32_t CIniFile::GetString(const char*, const char*, char* b, uint32_t s, const char*) const {
    if (s) b[0] = 0;
    return 0;
}
