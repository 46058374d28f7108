// CINIFile: the agent's own cache-free reader of the INI format.
// (Interface fixed here; the implementation comes with the INI work.)
#pragma once
#include <string>

class CINIFile {
public:
    explicit CINIFile(const char* path);
    virtual ~CINIFile();

    std::string GetString(const char* section, const char* key, const char* defaultValue);
    int GetInt(const char* section, const char* key, int defaultValue);

private:
    std::string m_Path;
};
