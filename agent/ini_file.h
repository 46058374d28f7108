// CINIFile: the agent's own cache-free reader of the INI format: every call
// opens and reads the file again.
#pragma once
#include <string>

class CINIFile {
public:
    explicit CINIFile(const char* path);
    virtual ~CINIFile();

    // The rest of the key's line (one line feed dropped, a carriage return kept);
    // `defaultValue` when the file, section or key is missing.
    std::string GetString(const char* section, const char* key, const char* defaultValue);
    // An unsigned decimal; `defaultValue` when missing or not a number.
    int GetInt(const char* section, const char* key, int defaultValue);

private:
    std::string m_Path;
};
